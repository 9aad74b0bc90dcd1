#pragma once
// The host's HID services, as the bridge link needs them. Everything the panel
// asks of the operating system about HID devices goes through this header, so
// a virtual bridge can stand in for the real host in tests and in the demo.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bridge {

// One present HID interface, as the host lists it.
struct HidInterface {
    std::string path;  // opaque; only ever handed back to HIDapi::open
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // The product and serial number strings as the host lists them; nullopt
    // when the listing does not have them.
    std::optional<std::u16string> product;
    std::optional<std::u16string> serial;
};

// An open HID interface. Closing it is destroying it.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    // Writes one output report, report id first. Returns the number of bytes
    // written, or -1 on error; a device that does not take the report within
    // about a second fails the write (the report may still go out later).
    virtual int write(std::span<const std::uint8_t> report) = 0;

    // Reads one input report into `report`, report id first (0 for a device
    // without numbered reports), waiting at most `timeout`. Returns the number
    // of bytes placed, 0 when nothing came in time, or -1 on error. Bytes past
    // the returned count are left as they were.
    virtual int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) = 0;

    // The interface's product / serial number string; nullopt when it cannot be read.
    virtual std::optional<std::u16string> productString() = 0;
    virtual std::optional<std::u16string> serialString() = 0;

    // True once a write or read has found the device gone (unplugged).
    virtual bool gone() const = 0;
};

// Device notices keep coming while this lives (see HIDapi::watch).
class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
};

// Result of HIDapi::watch: the watch, or why the host cannot watch.
struct WatchResult {
    std::unique_ptr<DeviceWatch> watch;  // null when the host cannot watch
    std::string error;                   // then: the reason
};

// Result of HIDapi::open: the device, or why it could not be opened.
struct OpenResult {
    std::unique_ptr<HidDevice> device;  // null on failure
    std::string error;                  // the host's reason when device is null
    bool permissionDenied = false;      // the interface exists but this user may not open it
    bool inUse = false;                 // the interface exists but another program holds it
};

class HIDapi {
public:
    virtual ~HIDapi() = default;

    // The present HID interfaces, in the host's listing order. Empty when the
    // host cannot list them.
    virtual std::vector<HidInterface> interfaces() = 0;

    // Opens `path` for report I/O. Never throws.
    virtual OpenResult open(const std::string& path) = 0;

    // Starts calling `onChange` whenever HID interfaces may have come or gone,
    // on the GUI thread, for as long as the returned watch lives. Never
    // throws; when the host cannot watch, the result says why.
    virtual WatchResult watch(std::function<void()> onChange) = 0;

    // Why the host cannot reach HID devices at all (its HID library did not
    // start); empty when it can.
    virtual std::string unavailable() const { return {}; }
};

}  // namespace bridge
