// What the console reads back from a host node's scan format, and the
// times and ids a user names a scan by.
#include <gtest/gtest.h>

#include "console/host_diff.h"
#include "platform/text.h"
#include "console/node_data.h"

namespace {

std::vector<std::uint8_t> Format(std::uint64_t when, std::u16string_view login, std::u16string_view xml)
{
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(when >> (8 * i)));
    for (std::u16string_view text : {login, xml}) {
        for (char16_t unit : text) {
            bytes.push_back(static_cast<std::uint8_t>(unit));
            bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

TEST(HostScanFormatTest, OnlyTheWholeFormatIsAScan)
{
    const std::vector<std::uint8_t> bytes = Format(0x0000000169A0B1C2ull, u"r\u00f6ot", u"<node id=\"vm\"/>");
    const std::optional<HostScan> scan = ParseHostScan(bytes);
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->when, 0x0000000169A0B1C2ll);
    EXPECT_EQ(scan->login, u"r\u00f6ot");
    EXPECT_EQ(scan->xml, u"<node id=\"vm\"/>");
    // Cut anywhere before the XML's zero unit: no scan, no read past the end.
    for (std::size_t size = 0; size + 1 < bytes.size(); ++size)
        EXPECT_FALSE(ParseHostScan(std::span(bytes.data(), size))) << size;
    EXPECT_FALSE(ParseHostScan(Format(1, u"root", u""))) << "a scan without XML";
    // A login longer than any display name is refused rather than kept.
    EXPECT_FALSE(ParseHostScan(Format(1, std::u16string(5000, u'a'), u"<x/>")));
}

TEST(HostPictureFormatTest, TheOlderShortRecordStillReadsAndSaysNothingOfSudo)
{
    const std::uint8_t older[4] = {1, 0, 0, 0};
    const std::optional<HostPicture> old = ParseHostPicture(older);
    ASSERT_TRUE(old);
    EXPECT_TRUE(old->held);
    EXPECT_FALSE(old->sudo.has_value());

    const std::uint8_t newer[8] = {0, 0, 0, 0, 1, 0, 0, 0};
    const std::optional<HostPicture> now = ParseHostPicture(newer);
    ASSERT_TRUE(now);
    EXPECT_FALSE(now->held);
    EXPECT_EQ(now->sudo, std::optional<bool>(true));
    // Only bit 0 of the flags is sudo; other bits are left for later flags.
    const std::uint8_t other[8] = {0, 0, 0, 1, 2, 0, 0, 0};
    EXPECT_TRUE(ParseHostPicture(other)->held);
    EXPECT_EQ(ParseHostPicture(other)->sudo, std::optional<bool>(false));
    EXPECT_FALSE(ParseHostPicture(std::span(older, 3)));
    // The flags' second byte: the login method plus one; 0 (an older
    // snap-in) and unknown values say nothing.
    EXPECT_FALSE(old->loginMethod.has_value());
    EXPECT_FALSE(now->loginMethod.has_value());
    const std::uint8_t keyFile[8] = {1, 0, 0, 0, 1, 2, 0, 0};
    EXPECT_EQ(ParseHostPicture(keyFile)->loginMethod, std::optional<std::string>("key-file"));
    const std::uint8_t unknown[8] = {1, 0, 0, 0, 0, 4, 0, 0};
    EXPECT_FALSE(ParseHostPicture(unknown)->loginMethod.has_value());
}

TEST(ScanWhenTest, TimesAndIdsNameTheScanShownThen)
{
    EXPECT_EQ(ParseIsoTime("1970-01-01"), 0);
    EXPECT_EQ(ParseIsoTime("2026-12-07T01:30Z"), 1796607000);
    EXPECT_EQ(ParseIsoTime("2026-12-07 01:30:15"), 1796607015);
    for (const char* bad : {"", "2026-12-07T", "2026-02-30", "2026-12-07T24:00", "2026-12-07T01:30Zx", "7 Dec 2026",
                            "2026-1-07", "2026-12-07T01:3"})
        EXPECT_FALSE(ParseIsoTime(bad)) << bad;
    // What is printed reads back as the same time, leap days and the last
    // second of a year included.
    for (const std::int64_t when : {std::int64_t{0}, std::int64_t{951868799}, std::int64_t{1709251199},
                                    std::int64_t{1798761599}, std::int64_t{4102444800}}) {
        const std::string printed = IsoUtcTime(when);
        EXPECT_EQ(printed.size(), 20u) << printed;
        EXPECT_EQ(ParseIsoTime(printed), when) << printed;
    }
    EXPECT_EQ(IsoUtcTime(1709251199), "2024-02-29T23:59:59Z");

    std::vector<ScanEntry> entries(3);
    entries[0].id = 4, entries[0].firstSeen = 100, entries[0].lastSeen = 150;
    entries[1].id = 7, entries[1].firstSeen = 200, entries[1].lastSeen = 200;
    entries[2].id = 9, entries[2].firstSeen = 300, entries[2].lastSeen = 400;
    EXPECT_EQ(FindScan(entries, "7"), 1u);
    EXPECT_FALSE(FindScan(entries, "5")) << "an id no scan has";
    EXPECT_FALSE(FindScan(entries, "99999999999999999999999")) << "digits beyond any id";
    EXPECT_FALSE(FindScan(entries, "1970-01-01T00:01:39Z")) << "before the first scan";
    EXPECT_EQ(FindScan(entries, "1970-01-01T00:02:30Z"), 0u) << "folded: still the first picture";
    EXPECT_EQ(FindScan(entries, "1970-01-01T00:05:00Z"), 2u);
}

}  // namespace
