#include "Commands.h"

#include <gtest/gtest.h>

#include <climits>

using driver::HexTextToInt;
using driver::setupCommand;
using driver::SetupControl;

TEST(HexTextToInt, ReadsHexadecimalTextOfEitherCase)
{
    EXPECT_EQ(HexTextToInt(u""), 0);
    EXPECT_EQ(HexTextToInt(u"00"), 0);
    EXPECT_EQ(HexTextToInt(u"FE"), 254);
    EXPECT_EQ(HexTextToInt(u"ff"), 255);
    EXPECT_EQ(HexTextToInt(u"6c"), 0x6C);
    EXPECT_EQ(HexTextToInt(u"7FFFFFFFFFFFFFFF"), INT64_MAX);
}

TEST(HexTextToInt, ReadsOnlyTheFirstSixteenCharacters)
{
    EXPECT_EQ(HexTextToInt(u"123456789ABCDEF01"), HexTextToInt(u"123456789ABCDEF0"));
    EXPECT_EQ(HexTextToInt(u"0000000000000001FFFF"), 1);
}

TEST(HexTextToInt, CountsANonDigitAsMinusOneAndWrapsIn64Bits)
{
    EXPECT_EQ(HexTextToInt(u"G"), -1);
    EXPECT_EQ(HexTextToInt(u"1G"), 15);  // 1 * 16 - 1
    EXPECT_EQ(HexTextToInt(u"$6C"), -16 * 16 + 0x6C);
    EXPECT_EQ(HexTextToInt(u"FFFFFFFFFFFFFFFF"), -1);
}

struct SetupCase {
    SetupControl control;
    int position;
    int byte;
    const char16_t* value;
    const char16_t* description;
};

class SetupCommandTable : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SetupCommandTable, FormsByteValueAndDescription)
{
    const SetupCase& c = GetParam();
    const auto command = setupCommand(c.control, c.position, QLatin1Char('.'));
    EXPECT_EQ(command.byte, c.byte);
    EXPECT_EQ(command.value, QString::fromUtf16(c.value));
    EXPECT_EQ(command.description, QString::fromUtf16(c.description));
}

INSTANTIATE_TEST_SUITE_P(
    EveryControl, SetupCommandTable,
    ::testing::Values(SetupCase{SetupControl::IledPeak, 0, 0x00, u"0%", u"ILED PEAK = $00"},
                      SetupCase{SetupControl::IledPeak, 1, 0x21, u"3.125%", u"ILED PEAK = $21"},
                      SetupCase{SetupControl::IledPeak, 30, 0x3E, u"93.75%", u"ILED PEAK = $3E"},
                      SetupCase{SetupControl::PwmLed1, 0, 0x40, u"0%", u"PWM LED1 = $40"},
                      SetupCase{SetupControl::PwmLed1, 5, 0x45, u"15.625%", u"PWM LED1 = $45"},
                      SetupCase{SetupControl::PwmLed2, 12, 0x6C, u"37.5%", u"PWM LED2 = $6C"},
                      SetupCase{SetupControl::PwmLed3, 30, 0x9E, u"93.75%", u"PWM LED3 = $9E"},
                      SetupCase{SetupControl::IledUp, 7, 0xA7, u"7mA", u"I-START = $A7"},
                      SetupCase{SetupControl::IledDown, 12, 0xCC, u"12mA", u"I-STOP = $CC"},
                      SetupCase{SetupControl::GdStart, 1, 0xE1, u"8ms", u"GRADUAL DIMMING = $E1"},
                      SetupCase{SetupControl::GdStart, 30, 0xFE, u"240ms", u"GRADUAL DIMMING = $FE"}));

TEST(SetupCommand, WritesTheUsersDecimalSeparator)
{
    EXPECT_EQ(setupCommand(SetupControl::IledPeak, 1, QLatin1Char(',')).value, QStringLiteral("3,125%"));
    EXPECT_EQ(setupCommand(SetupControl::PwmLed2, 12, QLatin1Char(',')).value, QStringLiteral("37,5%"));
    EXPECT_EQ(setupCommand(SetupControl::PwmLed2, 16, QLatin1Char(',')).value, QStringLiteral("50%"));
}

TEST(SetupCommand, EveryPositionSendsBasePlusValue)
{
    const std::pair<SetupControl, int> bases[]
        = {{SetupControl::PwmLed1, 0x40}, {SetupControl::PwmLed2, 0x60},  {SetupControl::PwmLed3, 0x80},
           {SetupControl::IledUp, 0xA0},  {SetupControl::IledDown, 0xC0}, {SetupControl::GdStart, 0xE0}};
    for (const auto& [control, base] : bases) {
        for (int p = 0; p <= 30; ++p)
            EXPECT_EQ(setupCommand(control, p, QLatin1Char('.')).byte, base + p);
    }
    for (int p = 1; p <= 30; ++p)
        EXPECT_EQ(setupCommand(SetupControl::IledPeak, p, QLatin1Char('.')).byte, 0x20 + p);
}

TEST(SetupCommand, APositionOutsideTheRangeIsTakenAsTheNearestEnd)
{
    const SetupControl controls[]
        = {SetupControl::IledPeak, SetupControl::PwmLed1,  SetupControl::PwmLed2, SetupControl::PwmLed3,
           SetupControl::IledUp,   SetupControl::IledDown, SetupControl::GdStart};
    for (const SetupControl control : controls) {
        const auto low = setupCommand(control, 0, QLatin1Char('.'));
        const auto high = setupCommand(control, 30, QLatin1Char('.'));
        for (const int p : {-1, -31, INT_MIN}) {
            const auto c = setupCommand(control, p, QLatin1Char('.'));
            EXPECT_EQ(c.byte, low.byte) << p;
            EXPECT_EQ(c.value, low.value) << p;
            EXPECT_EQ(c.description, low.description) << p;
        }
        for (const int p : {31, 32, 0x7FFF, INT_MAX}) {
            const auto c = setupCommand(control, p, QLatin1Char('.'));
            EXPECT_EQ(c.byte, high.byte) << p;
            EXPECT_EQ(c.value, high.value) << p;
            EXPECT_EQ(c.description, high.description) << p;
        }
    }
    // The register field never spills into the next register's code.
    EXPECT_EQ(setupCommand(SetupControl::PwmLed1, 31, QLatin1Char('.')).byte, 0x5E);
}

// A byte read back from the bus means what the control that sent it showed:
// the message line's text and the value label's.
TEST(Meaning, OfEveryByteAControlSendsIsWhatThatControlShowed)
{
    const SetupControl controls[]
        = {SetupControl::IledPeak, SetupControl::PwmLed1,  SetupControl::PwmLed2, SetupControl::PwmLed3,
           SetupControl::IledUp,   SetupControl::IledDown, SetupControl::GdStart};
    for (const QChar point : {QLatin1Char('.'), QLatin1Char(',')}) {
        for (const SetupControl control : controls) {
            for (int p = 0; p <= 30; ++p) {
                const auto c = setupCommand(control, p, point);
                EXPECT_EQ(driver::meaning(c.byte, point), c.description + " (" + c.value + ")");
                EXPECT_EQ(driver::controlOf(c.byte), control);
            }
        }
    }
    const std::pair<std::uint8_t, const char*> others[]
        = {{0x49, "PWM LED1 = $49 (28.125%)"},     {0x5F, "PWM LED1 = $5F (96.875%)"},  // a ramp's last step
           {0x9F, "PWM LED3 = $9F (96.875%)"},     {0xEC, "GRADUAL DIMMING = $EC (96ms)"},
           {0x38, "ILED PEAK = $38 (75%)"},        {0x05, "$05"},  // no control sends 0x01..0x1F
           {0xFF, "GRADUAL DIMMING = $FF (248ms)"}};
    for (const auto& [byte, text] : others)
        EXPECT_EQ(driver::meaning(byte, QLatin1Char('.')), text);
    EXPECT_EQ(driver::controlOf(0x1F), std::nullopt);
    EXPECT_EQ(driver::registerName(SetupControl::IledDown), "I-STOP");
}
