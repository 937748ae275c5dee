// Text helpers of the terminal face: conversion, column counting, cutting
// and wrapping.
#include <gtest/gtest.h>

#include <string>

#include "console/tui/tui_text.h"

using namespace fdx::tui;

TEST(TuiText, TextRoundTripsAndUnpairedSurrogatesAndControlsAreMadeSafe)
{
    const std::u16string text = u"Gr\u00FC\u00DFe \U0001F5A5 \u4E2D\u6587";
    const std::wstring wide = DecodeUtf16(text);
    EXPECT_EQ(wide.size(), text.size() - 1);  // one surrogate pair became one character
    EXPECT_EQ(FromTerminal(wide), text);
    EXPECT_EQ(Utf8ToTerminal("caf\xC3\xA9"), L"caf\u00E9");
    const std::u16string broken{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(DecodeUtf16(broken), (std::wstring{L'a', L'\uFFFD', L'b', L'\uFFFD'}));
    // Escape sequences from a name must never reach the terminal.
    EXPECT_EQ(ToTerminal(u"x\x1B[2Jy\tz\u0085\u202E"), L"x\\x1b[2Jy z\\u0085\\u202e");
    EXPECT_EQ(ToTerminal(u"a\nb"), L"a\\x0ab");
    EXPECT_EQ(ToTerminal(u"a\nb", ELineFeeds::Kept), L"a\nb");
    // Drawn text is filtered once more, and filtering filtered text changes nothing.
    EXPECT_EQ(OneTerminalLine(L"a\nb\x9B"), L"a\\x0ab\\u009b");
    EXPECT_EQ(OneTerminalLine(ToTerminal(u"\x1B]0;t\x07")), ToTerminal(u"\x1B]0;t\x07"));
}

TEST(TuiText, ColumnsOfNarrowWideAndCombiningCharactersAndSkippingThem)
{
    EXPECT_EQ(CharColumns(L'a'), 1);
    EXPECT_EQ(CharColumns(L'\u4E2D'), 2);
    EXPECT_EQ(CharColumns(L'\u0301'), 0);
    EXPECT_EQ(TextColumns(L"e\u0301\u4E2Dx"), 4);
    // Skipping halves a wide character into a space.
    EXPECT_EQ(SkipColumns(L"abcdef", 2), L"cdef");
    EXPECT_EQ(SkipColumns(L"\u4E2Dxy", 1), L" xy");
    EXPECT_EQ(SkipColumns(L"ab", 5), L"");
    EXPECT_EQ(SkipColumns(L"e\u0301f", 1), L"f");  // the accent goes with its letter
}

TEST(TuiText, FitNeverExceedsTheColumnsAndMarksTheCut)
{
    const std::wstring samples[] = {L"", L"abc", L"Hello, world", L"\u4E2D\u6587\u4E2D\u6587x", L"a\u4E2Db\u6587c"};
    for (const auto& s : samples)
        for (int w = 0; w <= 14; ++w) {
            const std::wstring fit = FitColumns(s, w);
            EXPECT_LE(TextColumns(fit), w) << "width " << w;
            if (TextColumns(s) <= w) {
                EXPECT_EQ(fit, s);
            } else if (w > 0) {
                EXPECT_EQ(fit.back(), L'\u2026');
            }
            EXPECT_EQ(TextColumns(PadColumns(s, w)), w);
        }
    EXPECT_EQ(FitColumns(L"abcdef", 4, true, true), L"abc~");
    EXPECT_EQ(FitColumns(L"abcdef", 4, false), L"abcd");
    // A wide character that does not fit before the ellipsis leaves a space.
    EXPECT_EQ(FitColumns(L"a\u4E2Dbc", 3), L"a \u2026");
}

TEST(TuiText, WrapKeepsEveryWordAndStaysInsideTheWidth)
{
    const std::wstring text =
        L"To gather as much system information as possible please provide root login details.\n"
        L"Passwords are never stored in clear form!";
    for (int w = 1; w <= 40; ++w) {
        const auto lines = WrapText(text, w);
        std::wstring letters;
        for (const auto& l : lines) {
            EXPECT_LE(TextColumns(l), w) << "width " << w;
            for (wchar_t c : l)
                if (c != L' ') letters.push_back(c);
        }
        std::wstring expected;
        for (wchar_t c : text)
            if (c != L' ' && c != L'\n') expected.push_back(c);
        EXPECT_EQ(letters, expected) << "width " << w;
    }
}

TEST(TuiText, WrapBreaksAtNewlinesSplitsLongWordsAndHangsListItems)
{
    EXPECT_EQ(WrapText(L"one two three", 7), (std::vector<std::wstring>{L"one two", L"three"}));
    EXPECT_EQ(WrapText(L"a\n\nb", 10), (std::vector<std::wstring>{L"a", L"", L"b"}));
    EXPECT_EQ(WrapText(L"abcdefgh", 3), (std::vector<std::wstring>{L"abc", L"def", L"gh"}));
    EXPECT_EQ(WrapText(L"", 5), (std::vector<std::wstring>{L""}));
    EXPECT_EQ(WrapText(L"  indented", 20), (std::vector<std::wstring>{L"  indented"}));
    // List items hang behind their marker.
    const auto lines = WrapIndented(L"  - There is no SSH server on the host\n1. Right-click it", 16);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 4), L"  - ");
    for (std::size_t i = 1; i + 2 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, 4), L"    ") << i;
        EXPECT_LE(TextColumns(lines[i]), 16);
    }
    EXPECT_EQ(lines.back(), L"   it");
    EXPECT_EQ(lines[lines.size() - 2], L"1. Right-click");
}
