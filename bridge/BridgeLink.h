#pragma once
// The link to the USB HID bridge: finds it among the present HID interfaces,
// keeps it open while it stays, and performs the one exchange it knows (a
// four-byte output report answered by a four-byte input report).

#include "HIDapi.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace bridge {

inline constexpr std::uint16_t kBridgeVendorId = 0x6017;
inline constexpr std::uint16_t kBridgeProductId = 0x0200;

inline constexpr std::size_t kReportSize = 4;  // report id + three bytes, both ways
inline constexpr std::uint8_t kReportId = 0x00;
inline constexpr std::uint8_t kStatusNack = 0xF0;  // the driver did not acknowledge
inline constexpr std::uint8_t kStatusNone = 0x00;  // the bridge did not answer (or nothing was read)

// How long a transaction waits for the bridge's reply before taking silence
// for an answer; long enough for any bridge that works, short enough that the
// window never seems frozen.
inline constexpr std::chrono::milliseconds kReplyTimeout{250};

// Input reports that are not the command's answer (queued before its write, or
// read while it waits): at most this many are read past in one transaction.
inline constexpr int kMaxStrayReports = 64;

struct ScanResult {
    enum class State { Opened, StillOpen, Disconnected };
    State state = State::Disconnected;
    // Only when the bridge was opened by this scan; nullopt when unreadable.
    std::optional<std::u16string> product;
    std::optional<std::u16string> serial;
    // When no bridge is connected but one with the right ids was seen and
    // could not be opened: the host's reason.
    std::string openFailure;
    bool permissionDenied = false;
    bool inUse = false;  // another program holds it
};

// What an exchange came to. The reply's status byte says which of the first
// three (verdictOf); a lost bridge is the host's finding, never a reply's. A
// stray is an input report that answered no command: the record notes it, a
// transaction never ends in it.
enum class Verdict { Acknowledged, NotAcknowledged, NoAnswer, BridgeLost, Stray };
using Outcome = Verdict;

// What a status byte says: a NACK, no status (the bridge did not answer, or
// nothing was read), or any other status as an acknowledgement. The one
// judgement of a reply, for the link, the record and the tests alike.
constexpr Verdict verdictOf(std::uint8_t status)
{
    if (status == kStatusNack)
        return Verdict::NotAcknowledged;
    if (status == kStatusNone)
        return Verdict::NoAnswer;
    return Verdict::Acknowledged;
}

using Report = std::array<std::uint8_t, kReportSize>;

// The output report of one command: 00 <address> <first> <second>.
constexpr Report outputReport(std::uint8_t address, std::uint8_t first, std::uint8_t second)
{
    return {kReportId, address, first, second};
}

// Whether `input` (report id first) answers `output`: the bridge echoes the
// command's two bytes in bytes 2 and 3 of its reply, so any other report
// (a late reply to an earlier command, another program's, one of the
// bridge's own, one too short to carry the echo) answers some other command
// or none. The one rule, for the link and the record alike.
constexpr bool answers(std::span<const std::uint8_t> input, std::span<const std::uint8_t> output)
{
    return input.size() >= kReportSize && output.size() >= kReportSize && input[2] == output[2]
        && input[3] == output[3];
}

struct Reply {
    std::uint8_t status = kStatusNone;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    bool deviceLost = false;  // the write or read found the bridge gone; it is closed now
    int strays = 0;           // input reports read past: not this command's answer
    // When deviceLost: the scan made right after letting the bridge go, so a
    // bridge that is back (at the same place or another) is open again.
    ScanResult rescan;

    // What the status says (never BridgeLost).
    Outcome outcome() const { return verdictOf(status); }
    // What the exchange came to, a lost bridge included.
    Verdict verdict() const { return deviceLost ? Verdict::BridgeLost : verdictOf(status); }
};

class BridgeLink {
public:
    explicit BridgeLink(HIDapi& host) : host_(host) {}

    // The host the link was made with (krl7741 lists its interfaces).
    HIDapi& host() { return host_; }

    // Looks for the bridge: the first interface with the bridge's ids that
    // can be opened wins. A bridge already open is left alone; a bridge that
    // has gone is closed.
    ScanResult scan();

    // From now on only a bridge whose listed serial number is `serial` counts
    // as the bridge; until then (the default) any does.
    void setSerialFilter(std::u16string serial) { serialFilter_.emplace(std::move(serial)); }

    // One transaction: writes 00 <address> <first> <second>, then reads until
    // its own reply comes (answers()), reading past any other report, for
    // kReplyTimeout at most from the write. A failed write is not followed by
    // a read: the command goes unanswered. A bridge found gone is released
    // and the bridges are scanned for again at once.
    Reply transact(std::uint8_t address, std::uint8_t first, std::uint8_t second);

    bool connected() const { return connected_; }
    // The open bridge's path as the host listed it; empty when none is open.
    const std::string& path() const { return bridgePath_; }

private:
    void release();
    bool isBridge(const HidInterface& i) const;

    HIDapi& host_;
    bool connected_ = false;
    std::unique_ptr<HidDevice> device_;
    std::string bridgePath_;
    std::optional<std::u16string> serialFilter_;
    // The panel's report buffer has always been 12 bytes, of which a report
    // uses the first kReportSize; the first 9 are cleared after each write so
    // that a reply that never comes reads as status 00: no answer.
    std::array<std::uint8_t, 12> reportBuffer_{};
};

}  // namespace bridge
