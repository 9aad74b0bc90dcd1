// hidapi's Windows backend bounds a write itself: it waits 1000 ms for the
// overlapped write and gives up then (kWriteBound is that wait). The write is
// made on the caller's thread.

#include "HidapiHost.h"

#include <hidapi/hidapi.h>

#include <cerrno>

namespace bridge {
namespace {

class CallersHandle final : public DeviceHandle {
public:
    explicit CallersHandle(hid_device* device) : device_(device) {}
    ~CallersHandle() override { hid_close(device_); }
    CallersHandle(const CallersHandle&) = delete;
    CallersHandle& operator=(const CallersHandle&) = delete;

    std::optional<WriteEnd> write(std::span<const std::uint8_t> report) override
    {
        WriteEnd end;
        errno = 0;
        end.result = hid_write(device_, report.data(), report.size());
        end.savedErrno = errno;
        if (const wchar_t* message = end.result < 0 ? hid_error(device_) : nullptr)
            end.message = message;
        return end;
    }

    hid_device* idle() override { return device_; }

private:
    hid_device* device_;
};

}  // namespace

std::unique_ptr<DeviceHandle> ownHandle(hid_device* device)
{
    return std::make_unique<CallersHandle>(device);
}

}  // namespace bridge
