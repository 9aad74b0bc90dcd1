#pragma once
// Device notices on Windows, without Qt: a hidden message-only window
// registered (RegisterDeviceNotification) for the HID interface class. It
// calls back once for each arrival and each removal of a HID interface and
// for nothing else (other device classes, DBT_DEVNODES_CHANGED, query-remove),
// on the thread that created it, which must pump its messages (a GUI thread
// does). Create and destroy it on that thread.

#include <functional>
#include <string>

#include <windows.h>

namespace bridge {

class DeviceNoticeWindow {
public:
    explicit DeviceNoticeWindow(std::function<void()> onChange);
    ~DeviceNoticeWindow();
    DeviceNoticeWindow(const DeviceNoticeWindow&) = delete;
    DeviceNoticeWindow& operator=(const DeviceNoticeWindow&) = delete;

    // False when the window or the registration could not be made; error()
    // then says why, and no callback ever comes.
    bool ok() const { return registration_ != nullptr; }
    const std::string& error() const { return error_; }

    // The window the notices are sent to.
    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool isHidInterfaceChange(WPARAM event, LPARAM data) const;
    void fail(const char* what);

    std::function<void()> onChange_;
    GUID hidClass_{};
    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr;
    std::string error_;
};

}  // namespace bridge
