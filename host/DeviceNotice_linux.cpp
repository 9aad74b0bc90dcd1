// Device notices on Linux: a libudev monitor on the hidraw subsystem. Where no
// udev daemon runs, the kernel's own uevents are watched instead.

#include "HidapiHost.h"

#include <QSocketNotifier>

#include <libudev.h>
#include <unistd.h>

namespace bridge {
namespace {

class UdevWatch final : public DeviceWatch {
public:
    UdevWatch(udev* context, udev_monitor* monitor, std::function<void()> onChange)
        : context_(context), monitor_(monitor), onChange_(std::move(onChange)),
          notifier_(udev_monitor_get_fd(monitor), QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { drain(); });
    }
    ~UdevWatch() override
    {
        udev_monitor_unref(monitor_);
        udev_unref(context_);
    }
    UdevWatch(const UdevWatch&) = delete;
    UdevWatch& operator=(const UdevWatch&) = delete;

private:
    void drain()
    {
        bool any = false;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            any = true;
        }
        if (any)
            onChange_();
    }

    udev* context_;
    udev_monitor* monitor_;
    std::function<void()> onChange_;
    QSocketNotifier notifier_;
};

}  // namespace

WatchResult watchDeviceNotices(std::function<void()> onChange)
{
    auto fail = [](const char* reason) { return WatchResult{nullptr, reason}; };
    udev* context = udev_new();
    if (!context)
        return fail("libudev is not available");
    const bool daemonRuns = ::access("/run/udev/control", F_OK) == 0;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, daemonRuns ? "udev" : "kernel");
    if (!monitor) {
        udev_unref(context);
        return fail("cannot listen to device events");
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        return fail("cannot listen to device events");
    }
    return {std::make_unique<UdevWatch>(context, monitor, std::move(onChange)), {}};
}

}  // namespace bridge
