#pragma once
// KRL7741 driver command bytes: the register code in bits 7..5, the value in
// bits 4..0. The panel forms every byte it sends here.

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

namespace driver {

inline constexpr std::uint8_t kPeakCurrentOff = 0x00;  // sent instead of 0x20 + 0
inline constexpr std::uint8_t kPeakCurrent = 0x20;     // "ILED peak"
inline constexpr std::uint8_t kPwmLed1 = 0x40;         // "PWM LED1"
inline constexpr std::uint8_t kPwmLed2 = 0x60;         // "PWM LED2"
inline constexpr std::uint8_t kPwmLed3 = 0x80;         // "PWM LED3"
inline constexpr std::uint8_t kIledUp = 0xA0;          // "ILED-UP", shown as "I-START"
inline constexpr std::uint8_t kIledDown = 0xC0;        // "ILED-DOWN", shown as "I-STOP"
inline constexpr std::uint8_t kGdStart = 0xE0;         // "GD START", shown as "GRADUAL DIMMING"

// The I2C addresses the driver answers at on the bridge.
inline constexpr std::uint8_t kAddressBT = 0x70;  // KRL7741B / KRL7741T
inline constexpr std::uint8_t kAddressC = 0x72;   // KRL7741C

inline constexpr int kValueMax = 31;     // the largest value bits 4..0 hold
inline constexpr int kMaxPosition = 30;  // the set-up controls' range is 0..30

// The text read as a hexadecimal number: case-insensitive, at most the first
// 16 characters, a character that is no hex digit counting as the digit -1.
std::int64_t HexTextToInt(QStringView text);

// `value` as `digits` upper-case hexadecimal digits, zero-padded.
QString hex(unsigned value, int digits);
// A byte as two upper-case hexadecimal digits, a 16-bit word as four.
inline QString hexByte(std::uint8_t value) { return hex(value, 2); }
inline QString hexWord(std::uint16_t value) { return hex(value, 4); }

// A number in general format: at most 15 significant digits, no trailing
// zeros, `decimalSeparator` between the whole and the fractional part.
QString generalNumber(double value, QChar decimalSeparator);

// The seven set-up and dimming controls.
enum class SetupControl { IledPeak, PwmLed1, PwmLed2, PwmLed3, IledUp, IledDown, GdStart };
inline constexpr std::array<SetupControl, 7> kSetupControls{
    SetupControl::IledPeak, SetupControl::PwmLed1,  SetupControl::PwmLed2, SetupControl::PwmLed3,
    SetupControl::IledUp,   SetupControl::IledDown, SetupControl::GdStart};

// What one set-up control at position `position` (0..30) sends and shows. A
// position outside that range is taken as the nearest end of it.
struct SetupCommand {
    std::uint8_t byte = 0;  // the command byte that travels
    QString value;          // the value label's text, e.g. "37.5%"
    QString description;    // the message line's text, e.g. "PWM LED2 = $6C"
};

SetupCommand setupCommand(SetupControl control, int position, QChar decimalSeparator);

// How the message line names `byte` sent to `control`'s register, e.g.
// "PWM LED1 = $5F" (also for the ramps' level 31, which no track bar reaches).
QString describe(SetupControl control, std::uint8_t byte);

// The register as the message line names it: "ILED PEAK", "PWM LED1", ...,
// "GRADUAL DIMMING".
QString registerName(SetupControl control);

// The control whose register `byte` sets: 0x00 is the peak current's (the
// byte its track bar sends at 0); nullopt for 0x01..0x1F, which none sends.
std::optional<SetupControl> controlOf(std::uint8_t byte);

// What `byte` means in the panel's own words and units: the message line's
// text and the value label's, "PWM LED1 = $49 (28.125%)", "GRADUAL DIMMING =
// $EC (96ms)" (ramp steps alike: "PWM LED1 = $5F (96.875%)"); "$05" for a
// byte no control sends.
QString meaning(std::uint8_t byte, QChar decimalSeparator);

}  // namespace driver
