#include "HidapiHost.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

namespace bridge {
namespace {

std::string narrow(const wchar_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += (*text < 0x80) ? static_cast<char>(*text) : '?';
    return out;
}

std::u16string toUtf16(const wchar_t* text)
{
    std::u16string out;
    for (; *text; ++text) {
        const auto c = static_cast<char32_t>(*text);
        if (c > 0xFFFF) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// Opens `path` with hidapi, the platform's read/write claim held meanwhile;
// null and the reason in `failure` when it cannot.
hid_device* openPath(const std::string& path, OpenResult& failure)
{
    const ReadWriteClaim claim = claimReadWrite(path);
    if (!claim.error.empty()) {
        failure.error = claim.error;
        failure.permissionDenied = claim.permissionDenied;
        failure.inUse = claim.inUse;
        return nullptr;
    }
    errno = 0;
    hid_device* device = hid_open_path(path.c_str());
    const int savedErrno = errno;
    if (device)
        return device;
    const wchar_t* message = hid_error(nullptr);
    failure.error = narrow(message);
    if (failure.error.empty())
        failure.error = std::strerror(savedErrno);
    failure.permissionDenied = meansDenied({savedErrno, message});
    return nullptr;
}

// What a failed read says: hidapi 0.15 keeps it apart from the other calls'
// (hid_error() then tells of the last write), Debian 12's 0.13 does not.
const wchar_t* readError(hid_device* device)
{
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 15, 0)
    return hid_read_error(device);
#else
    return hid_error(device);
#endif
}

bool listed(const std::string& path)
{
    hid_device_info* list = hid_enumerate(0, 0);
    bool found = false;
    for (const hid_device_info* i = list; i && !found; i = i->next)
        found = i->path && path == i->path;
    hid_free_enumeration(list);
    return found;
}

class HidapiDevice final : public HidDevice {
public:
    HidapiDevice(hid_device* device, std::string path)
        : handle_(ownHandle(device, path)), path_(std::move(path))
    {
    }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    int write(std::span<const std::uint8_t> report) override
    {
        if (!handle_ && (gone_ || !reopen()))
            return -1;
        // A write still pending after the bound: the device is there but
        // takes no reports; the command goes unanswered.
        const std::optional<WriteEnd> end = handle_->write(report);
        if (!end)
            return -1;
        if (end->result >= 0)
            return end->result;
        gone_ = gone_ || foundGone({end->savedErrno, end->message.c_str()});
        // The handle itself may be what fails: a bridge unplugged and
        // plugged back between two notices is listed at the same path (on
        // Windows, by its serial number), and the old handle fails every
        // call. The device is opened anew for the next transaction.
        if (!gone_) {
            handle_.reset();
            reopen();
        }
        return end->result;
    }

    int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
    {
        if (report.empty())
            return 0;
        if (!handle_)
            return -1;
        hid_device* device = handle_->idle();
        if (!device)
            return 0;  // a stalled write still holds the handle: nothing can have come for it
        // hidapi drops a zero report id from what it reads: put it back in front.
        // A signal interrupting the wait does not end it: it goes on for the
        // time that is left.
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int n = -1;
        for (;;) {
            errno = 0;
            n = hid_read_timeout(device, report.data() + 1, report.size() - 1,
                                 static_cast<int>(timeout.count()));
            if (n >= 0 || errno != EINTR)
                break;
            timeout = std::max(
                std::chrono::milliseconds{0},
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        }
        if (n < 0) {
            gone_ = gone_ || foundGone({errno, readError(device)});
            return n;
        }
        if (n == 0)
            return 0;
        report[0] = 0;
        return n + 1;
    }

    std::optional<std::u16string> productString() override { return readString(hid_get_product_string); }
    std::optional<std::u16string> serialString() override { return readString(hid_get_serial_number_string); }
    bool gone() const override { return gone_; }

private:
    // Gone by the failure's code where it is certain, else by whether the
    // host still lists the device.
    bool foundGone(const HidFailure& failure) const
    {
        switch (meaningOf(failure)) {
        case FailureMeaning::Gone:
            return true;
        case FailureMeaning::Stays:
            return false;
        case FailureMeaning::AskTheListing:
            break;
        }
        return !listed(path_);
    }

    // Opens the device again for a handle let go of. One that cannot be
    // opened is lost only once the host no longer lists it; while listed, it
    // is tried again at the next write.
    bool reopen()
    {
        OpenResult ignored;
        if (hid_device* device = openPath(path_, ignored))
            handle_ = ownHandle(device, path_);
        else
            gone_ = !listed(path_);
        return handle_ != nullptr;
    }

    using StringGetter = int (*)(hid_device*, wchar_t*, size_t);
    std::optional<std::u16string> readString(StringGetter get)
    {
        wchar_t buffer[257] = {};
        hid_device* device = handle_ ? handle_->idle() : nullptr;
        if (!device || get(device, buffer, 256) != 0)
            return std::nullopt;
        buffer[256] = 0;
        return toUtf16(buffer);
    }

    std::unique_ptr<DeviceHandle> handle_;  // null while let go of after a failed write
    const std::string path_;
    bool gone_ = false;
};

}  // namespace

HidapiHost::HidapiHost()
{
    if (hid_init() != 0) {
        initFailure_ = narrow(hid_error(nullptr));
        if (initFailure_.empty())
            initFailure_ = "hidapi did not start";
    }
}
HidapiHost::~HidapiHost() { hid_exit(); }

std::vector<HidInterface> HidapiHost::interfaces()
{
    std::vector<HidInterface> found;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* i = list; i; i = i->next) {
        HidInterface& one = found.emplace_back();
        one.path = i->path ? i->path : "";
        one.vendorId = i->vendor_id;
        one.productId = i->product_id;
        if (i->product_string)
            one.product = toUtf16(i->product_string);
        if (i->serial_number)
            one.serial = toUtf16(i->serial_number);
    }
    hid_free_enumeration(list);
    return found;
}

OpenResult HidapiHost::open(const std::string& path)
{
    OpenResult result;
    if (hid_device* device = openPath(path, result))
        result.device = std::make_unique<HidapiDevice>(device, path);
    return result;
}

WatchResult HidapiHost::watch(std::function<void()> onChange)
{
    return watchDeviceNotices(std::move(onChange));
}

}  // namespace bridge
