// Building and reading packet fields, and choosing algorithms by name.
#include <gtest/gtest.h>

#include "ssh2/messages.h"
#include "sshcore/negotiate.h"
#include "ssh2/packet.h"

using sshcore::CBigNum;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

TEST(PacketBuilderTest, WritesFieldsInWireForm)
{
    CSshPacketBuilder b;
    b.Start(42);
    b.PutUint32(0x01020304);
    b.PutBool(true);
    b.PutString(std::string_view("ab"));
    b.StartNameList();
    for (const char* n : {"x", "yy", "z"}) b.AppendToNameList(n);
    b.EndNameList();
    b.StartNameList();
    b.EndNameList();
    const auto payload = std::vector<std::uint8_t>(b.Payload().begin(), b.Payload().end());
    EXPECT_EQ(payload, Bytes({42, 1, 2, 3, 4, 1, 0, 0, 0, 2, 'a', 'b', 0, 0, 0, 6, 'x', ',', 'y', 'y', ',', 'z', 0, 0, 0, 0}));
    EXPECT_EQ(b.Data().size(), 5u + payload.size());
}

struct MpintCase {
    const char* hex;
    std::vector<std::uint8_t> wire;
};
class MpintTest : public ::testing::TestWithParam<MpintCase> {};

TEST_P(MpintTest, EncodesAndDecodes)
{
    const CBigNum n = CBigNum::FromHex(GetParam().hex);
    CSshPacketBuilder b;
    b.Start(1);
    b.PutMpint(n);
    const std::vector<std::uint8_t> payload(b.Payload().begin() + 1, b.Payload().end());
    EXPECT_EQ(payload, GetParam().wire);
    CSshReader r(payload);
    EXPECT_EQ(r.GetMpint(), n);
    EXPECT_TRUE(r.Ok() && r.AtEnd());
}

INSTANTIATE_TEST_SUITE_P(Values, MpintTest,
                         ::testing::Values(MpintCase{"0", Bytes({0, 0, 0, 0})},
                                           MpintCase{"7f", Bytes({0, 0, 0, 1, 0x7f})},
                                           MpintCase{"80", Bytes({0, 0, 0, 2, 0, 0x80})},
                                           MpintCase{"9a378f9b2e332a7", Bytes({0, 0, 0, 8, 0x09, 0xa3, 0x78, 0xf9, 0xb2, 0xe3, 0x32, 0xa7})},
                                           MpintCase{"ffff", Bytes({0, 0, 0, 3, 0, 0xff, 0xff})}));

TEST(MpintTest, NegativeValuesDecodeAsNegative)
{
    const auto wire = Bytes({0, 0, 0, 2, 0xed, 0xcc});
    CSshReader r(wire);
    const CBigNum n = r.GetMpint();
    EXPECT_TRUE(n.IsNegative());
    EXPECT_EQ(n.ToHex(), "1234");
}

// Every accessor at every truncation: a failed read returns an empty value,
// marks the reader failed and leaves its position alone.
TEST(SshReaderTest, EveryTruncationFailsWithoutMoving)
{
    const auto full = Bytes({0, 0, 0, 7, 1, 0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 1, 0x05, 9});
    for (std::size_t size = 0; size <= full.size(); ++size) {
        SCOPED_TRACE(size);
        CSshReader r(std::span(full.data(), size));
        const std::uint32_t a = r.GetUint32();
        const bool ok1 = r.Ok();
        const bool flag = r.GetBool();
        const auto text = r.GetText();
        const auto mp = r.GetMpint();
        const std::uint8_t last = r.GetByte();
        if (size == full.size()) {
            EXPECT_TRUE(r.Ok());
            EXPECT_TRUE(r.AtEnd());
            EXPECT_EQ(a, 7u);
            EXPECT_TRUE(flag);
            EXPECT_EQ(text, "abc");
            EXPECT_EQ(mp.ToHex(), "5");
            EXPECT_EQ(last, 9);
        } else {
            EXPECT_TRUE(r.Failed());
            EXPECT_EQ(ok1, size >= 4);
            EXPECT_LE(r.Position(), size);
        }
    }
}

TEST(SshReaderTest, FailedStringLeavesThePositionBeforeItsLength)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::size_t limit;
    };
    const Case cases[] = {
        {Bytes({0x80, 0, 0, 0, 'a'}), SIZE_MAX},        // top bit set
        {Bytes({0x7f, 0xff, 0xff, 0xff, 'a'}), SIZE_MAX},  // giant
        {Bytes({0, 0, 0, 2, 'a'}), SIZE_MAX},           // one short
        {Bytes({0, 0, 0, 2, 'a', 'b'}), 1},             // over the limit
        {Bytes({0xff, 0xff, 0xff, 0xff}), SIZE_MAX},    // wraps when added
    };
    for (const auto& c : cases) {
        CSshReader r(c.bytes);
        EXPECT_TRUE(r.GetString(c.limit).empty());
        EXPECT_TRUE(r.Failed());
        EXPECT_EQ(r.Position(), 0u);
    }
    const auto exact = Bytes({0, 0, 0, 2, 'a', 'b'});
    CSshReader r(exact);
    EXPECT_EQ(r.GetText(2), "ab");
    EXPECT_TRUE(r.Ok() && r.AtEnd());
}

TEST(MessageParsersTest, KexInitNeedsAllTenListsAndTheTrailer)
{
    CSshPacketBuilder b;
    b.Start(20);
    b.PutRaw(std::vector<std::uint8_t>(16, 7));
    for (int i = 0; i < 10; ++i) b.PutString(std::string(1, static_cast<char>('a' + i)));
    b.PutBool(true);
    b.PutUint32(0);
    sshcore::SKexOffer k;
    bool guessFollows = false;
    ASSERT_TRUE(sshcore::ParseKexInit(b.Payload(), k, guessFollows));
    EXPECT_EQ(k.lists[sshcore::OFFER_CIPHER_IN], std::vector<std::string>{"d"});
    EXPECT_TRUE(guessFollows);
    for (std::size_t cut = 1; cut < b.Payload().size(); ++cut)
        EXPECT_FALSE(sshcore::ParseKexInit(b.Payload().first(cut), k, guessFollows)) << cut;
    SUserauthFailure f;
    EXPECT_FALSE(ParseUserauthFailure(b.Payload(), f));  // wrong type
}

TEST(MessageParsersTest, ChannelMessages)
{
    CSshPacketBuilder b;
    b.Start(95);
    b.PutUint32(256);
    b.PutUint32(1);
    b.PutString(std::string_view("err"));
    SChannelData d;
    ASSERT_TRUE(ParseChannelData(b.Payload(), d));
    EXPECT_EQ(d.recipient, 256u);
    EXPECT_EQ(d.dataType, 1u);
    EXPECT_EQ(AsText(d.data), "err");

    b.Start(98);
    b.PutUint32(256);
    b.PutString(std::string_view("exit-status"));
    b.PutBool(false);
    b.PutUint32(3);
    SChannelRequest req;
    ASSERT_TRUE(ParseChannelRequest(b.Payload(), req));
    EXPECT_TRUE(req.hasExitStatus);
    EXPECT_EQ(req.exitStatus, 3u);
    EXPECT_FALSE(ParseChannelRequest(b.Payload().first(b.Payload().size() - 1), req));

    // "exit-signal": the name is what counts; a later request leaves nothing
    // of an earlier one behind.
    auto signal = [&](std::string_view name) {
        b.Start(98);
        b.PutUint32(256);
        b.PutString(std::string_view("exit-signal"));
        b.PutBool(false);
        b.PutString(name);
        return b.Payload();
    };
    ASSERT_TRUE(ParseChannelRequest(signal("KILL"), req));
    EXPECT_TRUE(req.hasExitSignal);
    EXPECT_FALSE(req.hasExitStatus);
    EXPECT_EQ(req.exitSignal, "KILL");
    const ByteView truncated = signal("KILL");
    EXPECT_FALSE(ParseChannelRequest(truncated.first(truncated.size() - 1), req));
    EXPECT_FALSE(ParseChannelRequest(signal(std::string(kMaxSignalName + 1, 'S')), req));
    ASSERT_TRUE(ParseChannelRequest(signal(std::string(kMaxSignalName, 'S')), req));
    b.Start(98);
    b.PutUint32(256);
    b.PutString(std::string_view("keepalive@openssh.com"));
    b.PutBool(true);
    ASSERT_TRUE(ParseChannelRequest(b.Payload(), req));
    EXPECT_FALSE(req.hasExitSignal);
    EXPECT_EQ(req.exitSignal, "");
}

}  // namespace
