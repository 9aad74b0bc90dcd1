#pragma once
// Facts about the simulated bridge shared by the device node server, the
// fstat shim and the scenarios.

#include <cstddef>
#include <cstdint>

namespace hidraw_sim {

// The bridge's report descriptor: vendor page, three bytes in, three bytes
// out, no report ids.
inline constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x03,        //   Report Count (3)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x95, 0x03,        //   Report Count (3)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
};

// The input report's length the descriptor gives: the kernel's HID core drops
// a shorter one ("Event data for report 0 was too short").
inline constexpr std::size_t kInputReportSize = 3;

inline constexpr std::uint16_t kVendorId = 0x6017;
inline constexpr std::uint16_t kProductId = 0x0200;

// The chip's answers, as the bridge reports them.
inline constexpr std::uint8_t kStatusAck = 0x01;
inline constexpr std::uint8_t kStatusNack = 0xF0;

// The environment variable that hands the hidraw major number to the fstat shim.
inline constexpr const char* kMajorVariable = "KRL_SIM_HIDRAW_MAJOR";

}  // namespace hidraw_sim
