#pragma once
// A USB HID bridge on the guest kernel's own USB stack: a configfs HID gadget
// bound to one of dummy_hcd's device controllers, which the kernel enumerates
// through usbcore, usbhid and hid-generic as /dev/hidrawN. Its device side
// (/dev/hidgN) is played by a thread that answers each output report as the
// simulated bridges do (BridgeBehaviour.h).

#include "BridgeBehaviour.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kernel_guest {

// How long anything the emulated guest does may take before a test gives up.
inline constexpr std::chrono::seconds kGuard{60};

// Waits for `done`, looking every few milliseconds, at most `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = kGuard);

struct GadgetSpec {
    std::string manufacturer = "Halvern";
    std::string product = "KRL7741 USB-I2C Bridge";
    std::string serial = "KRL-0001";
    std::uint16_t vendorId = hidraw_sim::kVendorId;
    std::uint16_t productId = hidraw_sim::kProductId;
};

class Gadget {
public:
    // Made on device controller `controller` (dummy_udc.<controller>), not yet plugged.
    explicit Gadget(int controller, const GadgetSpec& spec = {});
    ~Gadget();
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    // Binds the gadget (the cable goes in) and waits until the host has its
    // hidraw node; returns the node's path.
    std::string plug();
    // Unbinds it: the cable is pulled.
    void unplug();
    // Changes the serial number the next plug shows (only while unplugged).
    void setSerial(const std::string& serial);

    // A command to the bridge (BridgeBehaviour.h), "send <ms> <hex>": an input
    // report the bridge sends of its own, in <ms>, or "stall 1|0": the device
    // side stops taking output reports (the host's writes back up), or takes
    // them again.
    void tell(const std::string& command);
    // The reports the device side received, in hex ("704141").
    std::vector<std::string> written();

    // The host's hidraw node for this gadget, or "" while there is none.
    std::string hidraw() const;

private:
    void serve(int device);
    void write(const std::string& file, const std::string& text) const;

    int controller_;
    std::string dir_;
    std::string serial_;
    bool plugged_ = false;
    std::mutex mutex_;
    hidraw_sim::BridgeBehaviour behaviour_;
    std::vector<std::string> written_;
    std::vector<std::pair<std::chrono::steady_clock::time_point, hidraw_sim::Report>> scheduled_;
    std::atomic<bool> stalled_{false};
    std::thread device_;
    int stop_ = -1;  // an eventfd that ends the device side
};

}  // namespace kernel_guest
