// The write is made here, through a handle of our own to the device, not by
// hid_write: hidapi's Windows backend gives up on a write after its wait,
// leaves it pending on an OVERLAPPED it reuses for the next one, and cannot
// tell when it has ended. Here a write waits at most kWriteBound on the
// caller's thread; one still pending then is a stalled one, kept, and every
// later write fails at once until it has ended (the device took the report
// late, or failed it). Destroying the handle cancels a pending write and
// waits for it to end: the system writes into its OVERLAPPED until then.
// Reads and strings go through hidapi's handle.

#include "HidapiHost.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <vector>

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

namespace bridge {
namespace {

// The output report's length the device's descriptor gives (report id
// included): Windows takes only writes of that length. 0 when the handle is
// not a HID device's.
std::size_t outputReportLength(HANDLE file)
{
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(file, &data))
        return 0;
    HIDP_CAPS caps{};
    const bool known = HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(data);
    return known ? caps.OutputReportByteLength : 0;
}

class OverlappedHandle final : public DeviceHandle {
public:
    OverlappedHandle(hid_device* device, const std::string& path)
        : device_(device), file_(claimReadWrite(path)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (file_.held)
            reportLength_ = outputReportLength(file_.held.get());
    }
    ~OverlappedHandle() override
    {
        if (pending_) {
            CancelIoEx(file_.held.get(), &overlapped_);
            DWORD ignored = 0;
            GetOverlappedResult(file_.held.get(), &overlapped_, &ignored, TRUE);
        }
        if (event_)
            CloseHandle(event_);
        hid_close(device_);
    }
    OverlappedHandle(const OverlappedHandle&) = delete;
    OverlappedHandle& operator=(const OverlappedHandle&) = delete;

    std::optional<WriteEnd> write(std::span<const std::uint8_t> report) override
    {
        if (stalled())
            return std::nullopt;
        WriteEnd end;
        if (!file_.held || !event_) {
            end.message = file_.held ? winapiFailure(L"CreateEvent", GetLastError())
                                     : winapiFailure(L"CreateFile", file_.code);
            return end;
        }
        buffer_.assign(report.begin(), report.end());
        buffer_.resize(std::max(buffer_.size(), reportLength_), 0);
        overlapped_ = {};
        overlapped_.hEvent = event_;
        ResetEvent(event_);
        const HANDLE file = file_.held.get();
        DWORD written = 0;
        const wchar_t* call = L"WriteFile";
        // Windows may complete the write at once.
        bool done
            = WriteFile(file, buffer_.data(), static_cast<DWORD>(buffer_.size()), &written, &overlapped_);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(event_, static_cast<DWORD>(kWriteBound.count())) != WAIT_OBJECT_0) {
                pending_ = true;
                return std::nullopt;
            }
            call = L"GetOverlappedResult";
            done = GetOverlappedResult(file, &overlapped_, &written, FALSE);
        }
        if (done)
            end.result = static_cast<int>(std::min<std::size_t>(written, report.size()));
        else
            end.message = winapiFailure(call, GetLastError());
        return end;
    }

    hid_device* idle() override { return stalled() ? nullptr : device_; }

private:
    // True while a write that outlived its bound is still pending.
    bool stalled()
    {
        pending_ = pending_ && !HasOverlappedIoCompleted(&overlapped_);
        return pending_;
    }

    hid_device* const device_;
    const ReadWriteClaim file_;  // our own handle to the device, for the writes
    const HANDLE event_;
    std::size_t reportLength_ = 0;
    std::vector<std::uint8_t> buffer_;  // the report being written, padded to the device's length
    OVERLAPPED overlapped_{};
    bool pending_ = false;
};

}  // namespace

std::unique_ptr<DeviceHandle> ownHandle(hid_device* device, const std::string& path)
{
    return std::make_unique<OverlappedHandle>(device, path);
}

}  // namespace bridge
