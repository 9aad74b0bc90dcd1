// Device notices on Windows: a DeviceNoticeWindow on the GUI thread. Its
// callback comes inside the window procedure, while the system (or whoever
// sent the notice) waits; the scan it asks for runs later, from Qt's event
// loop, and not at all once the watch is gone.

#include "DeviceNoticeWindow_win.h"
#include "HidapiHost.h"

#include <QMetaObject>
#include <QObject>

namespace bridge {
namespace {

class NoticeWatch final : public DeviceWatch {
public:
    explicit NoticeWatch(std::function<void()> onChange)
        : onChange_(std::move(onChange)), window_([this] {
              const auto notify = [this] { onChange_(); };
              QMetaObject::invokeMethod(&context_, notify, Qt::QueuedConnection);
          })
    {
    }
    NoticeWatch(const NoticeWatch&) = delete;
    NoticeWatch& operator=(const NoticeWatch&) = delete;

    const DeviceNoticeWindow& window() const { return window_; }

private:
    std::function<void()> onChange_;
    QObject context_;  // queued calls die with it
    DeviceNoticeWindow window_;
};

}  // namespace

WatchResult watchDeviceNotices(std::function<void()> onChange)
{
    auto watch = std::make_unique<NoticeWatch>(std::move(onChange));
    if (!watch->window().ok())
        return {nullptr, watch->window().error()};
    return {std::move(watch), {}};
}

}  // namespace bridge
