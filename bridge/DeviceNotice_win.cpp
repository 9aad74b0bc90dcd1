// Device notices on Windows: WM_DEVICECHANGE sent to the main window, with a
// registration for the HID interface class so that HID arrivals and removals
// are among them.

#include "HidapiHost.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>

#include <windows.h>
#include <dbt.h>
#include <hidsdi.h>

namespace bridge {
namespace {

class DeviceChangeFilter final : public QAbstractNativeEventFilter {
public:
    DeviceChangeFilter(HWND window, std::function<void()> onChange)
        : window_(window), onChange_(std::move(onChange))
    {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        registration_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~DeviceChangeFilter() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (registration_)
            UnregisterDeviceNotification(registration_);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        const auto* msg = static_cast<const MSG*>(message);
        if (type == "windows_generic_MSG" && msg->hwnd == window_ && msg->message == WM_DEVICECHANGE)
            onChange_();
        return false;
    }

private:
    HWND window_;
    std::function<void()> onChange_;
    HDEVNOTIFY registration_ = nullptr;
};

}  // namespace

std::shared_ptr<void> watchDeviceNotices(QWidget& window, std::function<void()> onChange,
                                         std::string* /*whyNot*/)
{
    return std::make_shared<DeviceChangeFilter>(reinterpret_cast<HWND>(window.winId()),
                                                std::move(onChange));
}

}  // namespace bridge
