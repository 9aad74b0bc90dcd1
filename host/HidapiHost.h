#pragma once
// The real host: HID through hidapi, device notices from the platform.

#include "HIDapi.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

struct hid_device_;  // hidapi's open device

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

// The longest a write keeps its caller waiting, on Linux and Windows alike.
inline constexpr std::chrono::milliseconds kWriteBound{1000};

// What one hid_write ended in: its result, errno right after it (zeroed
// before it), and hid_error()'s text for the device then.
struct WriteEnd {
    int result = -1;
    int savedErrno = 0;
    std::wstring message;
};

// An open device's hidapi handle, owned, and the writes on it
// (DeviceHandle_linux.cpp, DeviceHandle_win.cpp); `path` is the device's.
// Destroying it closes the handle without waiting for the device to take a
// write still pending on it.
class DeviceHandle {
public:
    virtual ~DeviceHandle() = default;
    // Writes one output report, waiting at most kWriteBound; nullopt when the
    // write is still pending then (a stalled write: the report may yet go
    // out, or fail later), and while it is, every later write fails so at once.
    virtual std::optional<WriteEnd> write(std::span<const std::uint8_t> report) = 0;
    // The handle for reads and strings; null while a write is still pending on it.
    virtual hid_device_* idle() = 0;
};
std::unique_ptr<DeviceHandle> ownHandle(hid_device_* device, const std::string& path);

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
// What a failed write or read says of the device: gone (unplugged), still
// there, or nothing certain, where one code also means something else (a
// stalled transfer, a handle without rights): then only the device's place in
// the host's listing tells.
enum class FailureMeaning { Gone, Stays, AskTheListing };
FailureMeaning meaningOf(const HidFailure& failure);
// True when a failed open means the interface exists but this user may not open it.
bool meansDenied(const HidFailure& failure);

// The platform's own open of `path` for reading and writing, shared with
// other readers and writers, held while hidapi opens the path
// (OpenClaim_linux.cpp, OpenClaim_win.cpp). hidapi's Windows backend, when it
// cannot open a device for reading and writing (another program holds it and
// shares it with none), opens it with no access at all: every read and write
// on that handle fails. While the claim holds, no program can take the device
// for itself, so hidapi's open gets both rights; when the claim is refused,
// the device is not opened and the claim says why.
struct ReadWriteClaim {
    std::shared_ptr<void> held;     // the platform's handle, while anything is held
    std::string error;              // the platform's reason when refused; empty when it holds
    bool permissionDenied = false;  // refused: this user may not open it
    bool inUse = false;             // refused: another program holds it
    unsigned long code = 0;         // refused: the platform's error code
};
ReadWriteClaim claimReadWrite(const std::string& path);

#ifdef _WIN32
// "<call>: (0x%08X) <the system's text>", as hidapi's Windows backend words
// a failed Win32 call (OpenClaim_win.cpp).
std::wstring winapiFailure(const wchar_t* call, unsigned long code);
#endif

}  // namespace bridge
