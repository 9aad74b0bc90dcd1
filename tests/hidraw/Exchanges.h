#pragma once
// The exchanges every real host is put through on a simulated bridge, and
// how a reply is written down, shared by the Linux scenarios and the Windows
// ones (bridge_agent.exe under wine), so that both hosts must end each the
// same way.

#include "BridgeLink.h"

#include <cstdio>
#include <string>
#include <vector>

namespace hidraw_sim {

// "<status> <first> <second> <verdict>", the bytes in hex.
inline std::string describe(const bridge::Reply& reply)
{
    const char* verdict = "no-answer";
    switch (reply.verdict()) {
    case bridge::Verdict::Acknowledged:
        verdict = "acknowledged";
        break;
    case bridge::Verdict::NotAcknowledged:
        verdict = "not-acknowledged";
        break;
    case bridge::Verdict::NoAnswer:
        break;
    case bridge::Verdict::BridgeLost:
        verdict = "lost";
        break;
    case bridge::Verdict::Stray:
        verdict = "stray";
        break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%02X %02X %02X %s", reply.status, reply.first, reply.second, verdict);
    return text;
}

struct Exchange {
    const char* name;
    std::vector<std::string> setUp;  // told to the bridge first (BridgeNode.cpp's commands)
    const char* sent;                // address, first, second
    const char* reply;               // as describe() writes it
    std::vector<std::string> tearDown;
    // Where Windows' HID stack differs: what the link gives there, or nullptr
    // when it is the same; "" for a reply that cannot reach a Windows program.
    const char* windowsReply = nullptr;
    bool reachesBridge = true;  // false: the write fails, the bridge never gets the report
};

// A USB gadget bridge on the guest kernel (tests/kernel/) plays every row
// too, from the same behaviour (BridgeBehaviour.h), except a row whose set-up
// asks the FUSE node for what the gadget cannot do to the host: "writefail"
// (a write that ends in an error: the kernel's HID gadget function gives its
// device side no way to stall or fail the output endpoint) and "gone" (a node
// that vanishes between two calls while the device stays). The gadget refuses
// those commands and its scenario passes such a row by.
//
// A reply is four bytes; the bridge's own may be shorter, longer or make no
// sense: the link shows what came, cut at four. A report shorter than the
// device's descriptor gives is dropped before any program sees it, by Linux's
// HID core ("Event data for report 0 was too short (3 vs 1)", Debian 12's
// kernel 6.1) as by Windows' HID class driver: the link hears nothing and
// says so. A long one reaches a Linux program whole; on Windows it never gets
// that far (wine 8.0's own device host crashes on one, so it is not sent
// there).
inline const std::vector<Exchange> kExchanges = {
    {"acknowledged", {}, "70 45 45", "01 45 45 acknowledged", {}},
    {"no chip at the other address", {}, "72 45 45", "F0 45 45 not-acknowledged", {}},
    {"a silent bridge", {"silent 1"}, "70 46 46", "00 00 00 no-answer", {"silent 0"}},
    {"a short reply", {"answer 01"}, "70 47 47", "00 00 00 no-answer", {"answer chip"}},
    {"a long reply", {"answer 0148484848"}, "70 48 48", "01 48 48 acknowledged", {"answer chip"}, ""},
    // A reply that does not echo the command is no answer to it: read past
    // until the bound runs out.
    {"a reply that echoes nothing", {"answer 7F1234"}, "70 49 49", "00 00 00 no-answer", {"answer chip"}},
    // A stalled output report (EPIPE on Linux; wine's and Windows' HID class
    // driver give ERROR_GEN_FAILURE, as for a bridge pulled during a write):
    // the bridge is still there, so the command went unanswered, and the next
    // one is answered as usual.
    {"a stalled write", {"writefail 32"}, "70 4B 4B", "00 00 00 no-answer", {"writefail 0"}, nullptr, false},
    {"acknowledged again", {}, "70 4A 4A", "01 4A 4A acknowledged", {}},
};

// "70 45 45" as the bridge logs it: "704545".
inline std::string withoutBlanks(std::string text)
{
    std::erase(text, ' ');
    return text;
}

}  // namespace hidraw_sim
