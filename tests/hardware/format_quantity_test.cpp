// Units are given only to exact multiples; everything else keeps its text.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "hardware/format_quantity.h"
#include "platform/text.h"

namespace {

struct Case {
    std::u16string text;
    bool isFrequency;
    std::u16string expected;
};

std::u16string Decimal(long long value) { return IntToDecimal(value); }

TEST(FormatQuantityTest, GivesUnitsOnlyToExactMultiples)
{
    const long long Ki = 1024, Mi = Ki * Ki, Gi = Mi * Ki;
    const Case cases[] = {
        // Exact multiples take the largest step that divides them.
        {Decimal(Gi), false, u"1 Gb"},
        {Decimal(512 * Mi), false, u"512 Mb"},
        {u"2048", false, u"2 Kb"},
        {Decimal(3 * Gi + 512 * Mi), false, u"3584 Mb"},
        {Decimal(2400LL * 1000 * 1000), true, u"2400 MHz"},
        {Decimal(3LL * 1000 * 1000 * 1000), true, u"3 GHz"},
        {u"1000", true, u"1 kHz"},
        // A frequency's base is 1000 and a byte count's 1024.
        {u"1000", false, u"1000"},
        {u"1024", true, u"1024"},
        {Decimal(100LL * 1000 * 1000), false, Decimal(100LL * 1000 * 1000)},
        // Non-multiples and values below the smallest step keep their text.
        {u"1536", false, u"1536"},
        {u"1023", false, u"1023"},
        {u"1", false, u"1"},
        {u"0", false, u"0"},
        {u"", false, u""},
        {u"unknown", false, u"unknown"},
        // Negative values keep their sign in front of the quotient.
        {u"-2048", false, u"-2 Kb"},
        {u"-1536", false, u"-1536"},
        // Leading white space and a sign are read; the result of a fitting
        // value is rebuilt, so they do not survive; an unfitting text is
        // returned exactly as given.
        {u"  \t2048", false, u"2 Kb"},
        {u"+2048", false, u"2 Kb"},
        {u"\n-1000", true, u"-1 kHz"},
        {u"  1536", false, u"  1536"},
        // Reading stops at the first character that is not a digit.
        {u"2048 bytes", false, u"2 Kb"},
        {u"2048.5", false, u"2 Kb"},
        {u"0x800", false, u"0x800"},
        {u"- 2048", false, u"- 2048"},
        {u"+-2048", false, u"+-2048"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatQuantity(c.text, c.isFrequency), c.expected)
            << WideToAnsi(c.text) << (c.isFrequency ? " (frequency)" : " (bytes)");
}

TEST(FormatQuantityTest, HugeAndOverflowingNumbersStaySafe)
{
    const long long max = std::numeric_limits<long long>::max();
    const long long min = std::numeric_limits<long long>::min();
    EXPECT_EQ(FormatQuantity(Decimal(max), false), Decimal(max));
    EXPECT_EQ(FormatQuantity(Decimal(min), false), u"-8589934592 Gb");
    // Digits past the 64-bit range wrap instead of being refused.
    const std::u16string long_digits(400, u'9');
    EXPECT_EQ(FormatQuantity(long_digits, false), long_digits);
    EXPECT_EQ(FormatQuantity(u"18446744073709551616", false), u"18446744073709551616");  // 2^64 wraps to 0
}

TEST(FormatQuantityTest, MeasuresFollowTheUnitLshwGave)
{
    struct MeasureCase {
        std::u16string text;
        std::u16string units;
        std::u16string expected;
    };
    const MeasureCase cases[] = {
        // Hz: the rule of a clock.
        {u"4000000000", u"Hz", u"4 GHz"},
        {u"2600000000", u"Hz", u"2600 MHz"},
        {u"2600000001", u"Hz", u"2600000001"},
        {u"1024", u"Hz", u"1024"},
        // bytes, or no unit at all: a byte count.
        {u"25769803776", u"bytes", u"24 Gb"},
        {u"25769803776", u"", u"24 Gb"},
        {u"1000", u"bytes", u"1000"},
        // Any other unit: the number as written, one space, the unit.
        {u"10000000", u"bit/s", u"10000000 bit/s"},
        {u"44400", u"mWh", u"44400 mWh"},
        {u"2048", u"kB", u"2048 kB"},
        // Units are matched exactly: a differently spelt one is only shown.
        {u"4000000000", u"hz", u"4000000000 hz"},
        {u"2048", u"Bytes", u"2048 Bytes"},
        // Nothing to measure: nothing shown.
        {u"", u"bit/s", u""},
    };
    for (const MeasureCase& c : cases)
        EXPECT_EQ(FormatMeasure(c.text, c.units), c.expected) << WideToAnsi(c.text) << " " << WideToAnsi(c.units);
}

}  // namespace
