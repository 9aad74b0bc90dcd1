// hidraw's write to a USB device returns once the device has taken the
// report: usbhid waits up to 5 s for one that takes none, and O_NONBLOCK does
// not shorten that wait. The caller (the window's thread) must not freeze for
// it, so each write runs on a thread of the handle's own and the caller waits
// at most kWriteBound: a write not done by then is a stalled one. Until it
// ends in the kernel, later writes fail at once rather than queue behind it
// for another 5 s, and the caller does not touch the handle (hid_write still
// uses it after write(2) returns). For the same reason the handle is closed
// by that thread once the write has ended; its owner does not wait for that.

#include "HidapiHost.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace bridge {
namespace {

struct Writes {
    explicit Writes(hid_device* handle) : device(handle) {}
    std::mutex mutex;
    std::condition_variable changed;
    hid_device* const device;
    std::vector<std::uint8_t> report;
    bool queued = false;   // a report waits for the thread
    bool pending = false;  // until its write has ended
    bool closing = false;  // the owner has let go: close once no write is pending
    WriteEnd end;
};

// The writer thread: writes each report queued, and closes the handle when told.
void serve(const std::shared_ptr<Writes>& w)
{
    // Signals for the process are for its other threads.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    std::unique_lock lock(w->mutex);
    for (;;) {
        w->changed.wait(lock, [&] { return w->queued || w->closing; });
        if (!w->queued)
            break;
        w->queued = false;
        const std::vector<std::uint8_t> report = std::move(w->report);
        lock.unlock();
        WriteEnd end;
        errno = 0;
        end.result = hid_write(w->device, report.data(), report.size());
        end.savedErrno = errno;
        if (const wchar_t* message = end.result < 0 ? hid_error(w->device) : nullptr)
            end.message = message;
        lock.lock();
        w->end = std::move(end);
        w->pending = false;
        w->changed.notify_all();
    }
    hid_close(w->device);
}

class ThreadedHandle final : public DeviceHandle {
public:
    explicit ThreadedHandle(hid_device* device)
        : writes_(std::make_shared<Writes>(device)), thread_([w = writes_] { serve(w); })
    {
    }
    ~ThreadedHandle() override
    {
        bool pending = false;
        {
            const std::lock_guard lock(writes_->mutex);
            writes_->closing = true;
            pending = writes_->pending;
        }
        writes_->changed.notify_all();
        // An idle thread closes the handle at once; one still in write(2)
        // does so when the kernel lets it go, on its own.
        if (pending)
            thread_.detach();
        else
            thread_.join();
    }
    ThreadedHandle(const ThreadedHandle&) = delete;
    ThreadedHandle& operator=(const ThreadedHandle&) = delete;

    std::optional<WriteEnd> write(std::span<const std::uint8_t> report) override
    {
        std::unique_lock lock(writes_->mutex);
        if (writes_->pending)
            return std::nullopt;
        writes_->report.assign(report.begin(), report.end());
        writes_->queued = true;
        writes_->pending = true;
        writes_->changed.notify_all();
        if (!writes_->changed.wait_for(lock, kWriteBound, [this] { return !writes_->pending; }))
            return std::nullopt;
        return std::move(writes_->end);
    }

    hid_device* idle() override
    {
        const std::lock_guard lock(writes_->mutex);
        return writes_->pending ? nullptr : writes_->device;
    }

private:
    std::shared_ptr<Writes> writes_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceHandle> ownHandle(hid_device* device, const std::string&)
{
    return std::make_unique<ThreadedHandle>(device);
}

}  // namespace bridge
