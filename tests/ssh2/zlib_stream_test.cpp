// The zlib stream both engines compress with: every packet decodes as soon
// as it is sent, a stored packet carries its bytes as they are, and an
// inflate stream refuses damage and output beyond its limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sshcore/zlib_stream.h"

namespace {

using sshcore::CZlibStream;
using sshcore::EZlibStatus;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

bool Contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(ZlibStream, EveryPacketDecodesOnItsOwnAndStoredPacketsShowTheirBytes)
{
    CZlibStream deflater(true), inflater(false);
    const Bytes repeated = Text(std::string(4000, 'a') + "memory bank 0");
    const Bytes secret = Text("password: s3cr3t-and-more");
    std::uint64_t total = 0;
    for (int packet = 0; packet < 6; ++packet) {
        SCOPED_TRACE(packet);
        const bool stored = packet == 3;
        const Bytes& data = stored ? secret : repeated;
        Bytes wire;
        if (stored) {
            ASSERT_EQ(deflater.SetLevel(CZlibStream::kStored, wire), EZlibStatus::Ok);
        }
        ASSERT_EQ(deflater.Run(data, wire), EZlibStatus::Ok);
        if (stored) {
            // Not compressed: the length of the secret does not show through.
            EXPECT_TRUE(Contains(wire, secret));
            ASSERT_EQ(deflater.SetLevel(CZlibStream::kDefaultLevel, wire), EZlibStatus::Ok);
        } else {
            EXPECT_LT(wire.size(), data.size() / 10);
        }
        total += data.size();
        EXPECT_EQ(deflater.TotalIn(), total);
        // The flush leaves nothing behind: the packet inflates by itself.
        Bytes clear;
        ASSERT_EQ(inflater.Run(wire, clear), EZlibStatus::Ok);
        EXPECT_EQ(clear, data);
    }
    EXPECT_EQ(deflater.PendingBits() % 8, deflater.PendingBits());
}

TEST(ZlibStream, InflateRefusesDamageAndOutputBeyondItsLimit)
{
    const Bytes zeros(100000, 0);
    Bytes bomb;
    {
        CZlibStream deflater(true);
        ASSERT_EQ(deflater.Run(zeros, bomb), EZlibStatus::Ok);
    }
    ASSERT_LT(bomb.size(), 1000u);
    Bytes flipped = bomb;
    flipped[1] ^= 0x01;  // the header check no longer adds up
    const struct {
        Bytes in;
        std::size_t limit;
        EZlibStatus status;
    } cases[] = {
        {bomb, zeros.size(), EZlibStatus::Ok},
        {bomb, zeros.size() - 1, EZlibStatus::TooLarge},
        {Text("not a zlib stream at all"), zeros.size(), EZlibStatus::Corrupt},
        {flipped, zeros.size(), EZlibStatus::Corrupt},
    };
    for (const auto& c : cases) {
        CZlibStream inflater(false);
        Bytes out;
        EXPECT_EQ(inflater.Run(c.in, out, c.limit), c.status) << c.in.size() << "/" << c.limit;
        if (c.status == EZlibStatus::Ok) {
            EXPECT_EQ(out, zeros);
        } else {
            EXPECT_LT(out.size(), zeros.size());
        }
    }
    // Only a deflate stream changes its level.
    CZlibStream inflater(false);
    Bytes out;
    EXPECT_EQ(inflater.SetLevel(CZlibStream::kStored, out), EZlibStatus::Failed);
    EXPECT_EQ(inflater.PendingBits(), 0u);
}

TEST(ZlibWhole, OneStreamRoundTripsAndOnlyACompleteOneWithinItsLimitInflates)
{
    Bytes text;
    for (int i = 0; i < 5000; ++i) {
        const std::string line = "<node id=\"bank:" + std::to_string(i) + "\"><serial>" + std::to_string(i * 7919) + "</serial>";
        text.insert(text.end(), line.begin(), line.end());
    }
    Bytes packed;
    ASSERT_EQ(sshcore::DeflateWhole(text, packed), EZlibStatus::Ok);
    EXPECT_LT(packed.size(), text.size() / 4);
    Bytes out{1, 2};
    ASSERT_EQ(sshcore::InflateWhole(packed, out, text.size()), EZlibStatus::Ok);
    EXPECT_EQ(Bytes(out.begin() + 2, out.end()), text) << "appended";
    Bytes empty;
    ASSERT_EQ(sshcore::DeflateWhole({}, empty), EZlibStatus::Ok);
    out.clear();
    EXPECT_EQ(sshcore::InflateWhole(empty, out, 0), EZlibStatus::Ok);
    EXPECT_TRUE(out.empty());

    // One byte short of the limit, cut, with bytes after its end, altered:
    // each refused, and nothing is left in the output.
    Bytes flipped = packed;
    flipped[packed.size() / 2] ^= 0x10;
    Bytes trailing = packed;
    trailing.push_back(0);
    const struct {
        Bytes in;
        std::size_t limit;
        EZlibStatus status;
    } cases[] = {
        {packed, text.size() - 1, EZlibStatus::TooLarge},
        {Bytes(packed.begin(), packed.end() - 1), text.size(), EZlibStatus::Corrupt},
        {Bytes(packed.begin(), packed.begin() + 2), text.size(), EZlibStatus::Corrupt},
        {trailing, text.size(), EZlibStatus::Corrupt},
        {flipped, text.size(), EZlibStatus::Corrupt},
        {{}, text.size(), EZlibStatus::Corrupt},
    };
    for (const auto& c : cases) {
        out.assign(3, 9);
        EXPECT_EQ(sshcore::InflateWhole(c.in, out, c.limit), c.status) << c.in.size();
        EXPECT_EQ(out, Bytes(3, 9));
    }
}

}  // namespace
