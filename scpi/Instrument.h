#pragma once
// What a SCPI client drives: the chip behind the bridge with the panel's
// controls, whether the panel's own window holds them or a program without
// one. Every set sends its command, changed or not, as a press on a track
// bar does; the verdict says how the exchange ended.

#include "BridgeLink.h"
#include "Commands.h"
#include "Ramps.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace scpi {

enum class Device { B, T, C };

// The last exchange as the panel's third status panel shows it: its reply's
// three bytes, zeros when nothing came.
struct LastExchange {
    bridge::Verdict verdict = bridge::Verdict::NoAnswer;
    std::uint8_t status = 0;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
};

class Instrument {
public:
    virtual ~Instrument() = default;

    // Moves `control` to `position` (0..30) and sends its command.
    virtual bridge::Verdict set(driver::SetupControl control, int position) = 0;
    virtual int position(driver::SetupControl control) const = 0;
    // Sends `byte` as both command bytes of one report.
    virtual bridge::Verdict send(std::uint8_t byte) = 0;

    virtual void setDevice(Device device) = 0;
    virtual Device device() const = 0;
    virtual void select(sequences::Sequence sequence) = 0;
    virtual sequences::Sequence selected() const = 0;
    // Ramp 0 (LED1), 1 or 2: its interval, 10..200 ms.
    virtual void setInterval(int ramp, std::chrono::milliseconds interval) = 0;
    virtual std::chrono::milliseconds interval(int ramp) const = 0;
    // "Run Sequence" ticked or not.
    virtual void setRunning(bool running) = 0;
    virtual bool running() const = 0;

    virtual LastExchange last() const = 0;
    // Whether a bridge is open; looks for one first when none is.
    virtual bool bridgeOpen() = 0;
    // The open bridge's serial number; empty when none is open or it is unreadable.
    virtual std::string serial() const = 0;
};

}  // namespace scpi
