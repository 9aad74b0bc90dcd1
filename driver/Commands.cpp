#include "Commands.h"

#include <algorithm>
#include <array>

namespace driver {

std::int64_t HexTextToInt(QStringView text)
{
    static constexpr QStringView kDigits = u"0123456789ABCDEF";
    std::uint64_t result = 0;  // wraps as 64-bit two's complement arithmetic does
    for (const QChar c : text.left(16)) {
        const auto digit = static_cast<std::int64_t>(kDigits.indexOf(c.toUpper()));
        result = result * 16 + static_cast<std::uint64_t>(digit);
    }
    return static_cast<std::int64_t>(result);
}

QString hex(unsigned value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString generalNumber(double value, QChar decimalSeparator)
{
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('.'), decimalSeparator);
    return text;
}

namespace {

struct SetupRow {
    std::uint8_t base;
    const char16_t* name;  // as the message line names the register
    double scale;          // display value per position
    const char16_t* unit;
};

// Per control: its register, the message text, and the value label's scale
// and unit (3.125 = 100 / 32: percent of the full 5-bit range).
constexpr std::array<SetupRow, 7> kSetupRows{{
    {kPeakCurrent, u"ILED PEAK", 3.125, u"%"},
    {kPwmLed1, u"PWM LED1", 3.125, u"%"},
    {kPwmLed2, u"PWM LED2", 3.125, u"%"},
    {kPwmLed3, u"PWM LED3", 3.125, u"%"},
    {kIledUp, u"I-START", 1.0, u"mA"},
    {kIledDown, u"I-STOP", 1.0, u"mA"},
    {kGdStart, u"GRADUAL DIMMING", 8.0, u"ms"},
}};

const SetupRow& rowOf(SetupControl control) { return kSetupRows[static_cast<std::size_t>(control)]; }

// The value label's text for `value` in `row`'s register: "28.125%", "96ms".
QString valueText(const SetupRow& row, int value, QChar decimalSeparator)
{
    return generalNumber(value * row.scale, decimalSeparator) + QString::fromUtf16(row.unit);
}

}  // namespace

SetupCommand setupCommand(SetupControl control, int requested, QChar decimalSeparator)
{
    const int position = std::clamp(requested, 0, kMaxPosition);
    const SetupRow& row = rowOf(control);
    const int formed
        = (control == SetupControl::IledPeak && position == 0) ? kPeakCurrentOff : row.base + position;
    const QString hex = hexByte(static_cast<std::uint8_t>(formed));

    SetupCommand command;
    command.value = valueText(row, position, decimalSeparator);
    command.description = describe(control, static_cast<std::uint8_t>(formed));
    // The byte that travels is read back from the hex text the panel forms, as
    // it always was, so that it is the very byte the text describes.
    command.byte = static_cast<std::uint8_t>(HexTextToInt(hex) & 0xFF);
    return command;
}

QString describe(SetupControl control, std::uint8_t byte)
{
    return registerName(control) + QStringLiteral(" = $") + hexByte(byte);
}

QString registerName(SetupControl control) { return QString::fromUtf16(rowOf(control).name); }

std::optional<SetupControl> controlOf(std::uint8_t byte)
{
    if (byte == kPeakCurrentOff)
        return SetupControl::IledPeak;
    const auto row = std::find_if(kSetupRows.begin(), kSetupRows.end(),
                                  [byte](const SetupRow& r) { return (byte & ~kValueMax & 0xFF) == r.base; });
    if (row == kSetupRows.end())
        return std::nullopt;
    return static_cast<SetupControl>(row - kSetupRows.begin());
}

QString meaning(std::uint8_t byte, QChar decimalSeparator)
{
    const auto control = controlOf(byte);
    if (!control)
        return QLatin1Char('$') + hexByte(byte);
    return QStringLiteral("%1 (%2)").arg(describe(*control, byte),
                                         valueText(rowOf(*control), byte & kValueMax, decimalSeparator));
}

}  // namespace driver
