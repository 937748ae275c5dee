#include <gtest/gtest.h>

#include "platform/com.h"
#include "platform/text.h"

TEST(Text, RoundTripsEveryPlane)
{
    const std::u16string wide = u"h\u00e9\u20ac \U0001F600 end";
    EXPECT_EQ(AnsiToWide(WideToAnsi(wide)), wide);
    EXPECT_EQ(WideToAnsi(u"\u00e9"), "\xC3\xA9");
}

TEST(Text, MalformedBytesBecomeReplacementCharacters)
{
    // Truncated sequence, overlong encoding, lone continuation byte, surrogate.
    for (const char* bad : {"\xE2\x82", "\xC0\xAF", "\x80", "\xED\xA0\x80"}) {
        const std::u16string wide = AnsiToWide(bad);
        ASSERT_FALSE(wide.empty()) << bad;
        for (char16_t c : wide) EXPECT_EQ(c, u'\uFFFD');
    }
    EXPECT_EQ(WideToAnsi(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, DecimalParsingTakesLeadingDigitsOnly)
{
    EXPECT_EQ(DecimalToInt(u"0022"), 22);
    EXPECT_EQ(DecimalToInt(u"  -17x"), -17);
    EXPECT_EQ(DecimalToInt(u"+5"), 5);
    EXPECT_EQ(DecimalToInt(u"abc"), 0);
    EXPECT_EQ(DecimalToInt(u""), 0);
    EXPECT_EQ(IntToDecimal(-2222), u"-2222");
}

TEST(Text, WipeClearsTheWholeBuffer)
{
    std::string secret(40, 's');
    const char* data = secret.data();
    secret.resize(3);
    WipeString(secret);
    EXPECT_TRUE(secret.empty());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(data[i], '\0');
}

TEST(Guid, TextFormRoundTrips)
{
    constexpr GUID g = MakeGuid("D89C902C-BBEF-4E6D-BD92-E71764806F79");
    EXPECT_EQ(GuidToString(g), u"{D89C902C-BBEF-4E6D-BD92-E71764806F79}");
    GUID back{};
    ASSERT_TRUE(GuidFromString(u"{d89c902c-bbef-4e6d-bd92-e71764806f79}", back));
    EXPECT_EQ(back, g);
    for (const char16_t* bad : {u"", u"{D89C902C-BBEF-4E6D-BD92-E71764806F7}", u"{D89C902C_BBEF-4E6D-BD92-E71764806F79}",
                                u"D89C902C-BBEF-4E6D-BD92-E71764806F79", u"{G89C902C-BBEF-4E6D-BD92-E71764806F79}"})
        EXPECT_FALSE(GuidFromString(bad, back)) << static_cast<int>(std::u16string_view(bad).size());
}
