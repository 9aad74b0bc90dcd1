#include "DeviceNoticeWindow_win.h"

#include <cstdio>

#include <dbt.h>

// mingw-w64's hidsdi.h declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace bridge {
namespace {

constexpr wchar_t kWindowClass[] = L"KRL7741DeviceNoticeWindow";

// A system message with its number, as the operator's own system words it.
std::string describe(const char* what, DWORD code)
{
    std::string text = what;
    char buffer[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, buffer, sizeof buffer, nullptr);
    std::string reason(buffer, length);
    while (
        !reason.empty()
        && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    char number[16];
    std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    text += " (";
    text += number;
    if (!reason.empty())
        text += ": " + reason;
    text += ")";
    return text;
}

}  // namespace

DeviceNoticeWindow::DeviceNoticeWindow(std::function<void()> onChange) : onChange_(std::move(onChange))
{
    HidD_GetHidGuid(&hidClass_);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &DeviceNoticeWindow::procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        fail("the device notice window class cannot be registered");
        return;
    }

    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!window_) {
        fail("the device notice window cannot be made");
        return;
    }

    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = hidClass_;
    registration_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!registration_) {
        fail("the system does not register for HID device notices");
        return;
    }
}

DeviceNoticeWindow::~DeviceNoticeWindow()
{
    if (registration_)
        UnregisterDeviceNotification(registration_);
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void DeviceNoticeWindow::fail(const char* what)
{
    error_ = describe(what, GetLastError());
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

bool DeviceNoticeWindow::isHidInterfaceChange(WPARAM event, LPARAM data) const
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE
        || header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) - sizeof(wchar_t))
        return false;
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    return IsEqualGUID(device->dbcc_classguid, hidClass_);
}

LRESULT CALLBACK DeviceNoticeWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_DEVICECHANGE) {
        auto* self = reinterpret_cast<DeviceNoticeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && self->registration_ && self->isHidInterfaceChange(wParam, lParam))
            self->onChange_();
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace bridge
