#pragma once
// What a simulated bridge answers to the output reports it receives, and the
// commands that change it: one piece of code for both simulated bridges, the
// FUSE device node (BridgeNode.cpp) and the device side of a USB gadget
// (tests/kernel/Gadget.cpp), so that both play the fault table (Exchanges.h)
// alike.
//   chip <hex>|none     the address the chip acknowledges (70 at first)
//   delay <ms>          how long the bridge takes to answer (0 at first)
//   silent 0|1          the bridge answers nothing
//   answer <hex>|chip   the bridge answers every report with these bytes, or
//                       again with the chip's answer

#include "Bridge.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace hidraw_sim {

using Report = std::vector<std::uint8_t>;

inline Report fromHex(const std::string& text)
{
    Report bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::string toHex(const Report& bytes)
{
    std::string text;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

struct BridgeBehaviour {
    int chip = 0x70;  // -1: no chip answers
    std::chrono::milliseconds delay{0};
    bool silent = false;
    std::optional<Report> answer;  // what the bridge answers instead of the chip

    // The input report the bridge sends back for `output` (the three bytes it
    // received), after `delay`; none when it stays silent.
    std::optional<Report> replyTo(const Report& output) const
    {
        if (silent || output.size() < 3)
            return std::nullopt;
        if (answer)
            return answer;
        const bool acknowledged = chip >= 0 && output[0] == chip;
        return Report{acknowledged ? kStatusAck : kStatusNack, output[1], output[2]};
    }

    // Carries out one of the commands above, the verb already read from `in`;
    // false for a verb it does not know.
    bool command(const std::string& verb, std::istream& in)
    {
        if (verb == "chip") {
            std::string address;
            in >> address;
            chip = address == "none" ? -1 : std::stoi(address, nullptr, 16);
        } else if (verb == "delay") {
            int ms = 0;
            in >> ms;
            delay = std::chrono::milliseconds(ms);
        } else if (verb == "silent") {
            in >> silent;
        } else if (verb == "answer") {
            std::string hex;
            in >> hex;
            answer = hex == "chip" ? std::nullopt : std::optional<Report>(fromHex(hex));
        } else {
            return false;
        }
        return true;
    }
};

}  // namespace hidraw_sim
