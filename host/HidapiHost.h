#pragma once
// The real host: HID through hidapi, device notices from the platform.

#include "HIDapi.h"

namespace bridge {

class HidapiHost final : public HIDapi {
public:
    HidapiHost();
    ~HidapiHost() override;
    HidapiHost(const HidapiHost&) = delete;
    HidapiHost& operator=(const HidapiHost&) = delete;

    std::vector<HidInterface> interfaces() override;
    OpenResult open(const std::string& path) override;
    WatchResult watch(std::function<void()> onChange) override;
    std::string unavailable() const override { return initFailure_; }

private:
    std::string initFailure_;
};

// Platform device notices (DeviceNotice_linux.cpp, DeviceNotice_win.cpp):
// calls `onChange` on the GUI thread whenever HID interfaces come or go, while
// the returned watch lives. No watch, and the reason, when the platform
// cannot tell.
WatchResult watchDeviceNotices(std::function<void()> onChange);

// What a failed hidapi call says, by the platform's error code, never by the
// words of its message (HidError_linux.cpp, HidError_win.cpp). `savedErrno`
// is errno right after the call, zeroed before it; `message` is hid_error()'s
// text for the device (or for the library when a device could not be opened).
struct HidFailure {
    int savedErrno = 0;
    const wchar_t* message = nullptr;
};
// True when a failed write or read means the device has gone (unplugged).
bool meansGone(const HidFailure& failure);
// True when a failed open means the interface exists but this user may not open it.
bool meansDenied(const HidFailure& failure);

}  // namespace bridge
