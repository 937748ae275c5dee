// The transport over an in-memory stream: identification lines, packet
// framing in both directions, and the messages the transport answers itself.
#include <gtest/gtest.h>

#include <tuple>
#include <zlib.h>

#include "ssh2/errors.h"
#include "ssh2/random.h"
#include "ssh2/transport.h"
#include "sshcore/errors.h"
#include "tests/ssh2/memory_stream.h"
#include "tests/ssh2/test_util.h"

namespace {

int Raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (ESSHErrors e) {
        return e;
    }
    return 0;
}

// A clear packet with the given payload and padding.
std::vector<std::uint8_t> ClearPacket(const std::vector<std::uint8_t>& payload, std::uint8_t padding)
{
    std::vector<std::uint8_t> p(4);
    StoreUint32(p.data(), static_cast<std::uint32_t>(payload.size() + padding + 1));
    p.push_back(padding);
    p.insert(p.end(), payload.begin(), payload.end());
    p.insert(p.end(), padding, 0);
    return p;
}

class TransportPair {
public:
    TransportPair() : sender(out, CRandomPool::Instance(), nullptr), receiver(in, CRandomPool::Instance(), nullptr) {}
    TransportPair(const std::string& cipher, const std::string& mac, const std::string& compression = "none")
        : TransportPair()
    {
        Install(cipher, mac, compression);
    }
    void Install(const std::string& cipher, const std::string& mac, const std::string& compression)
    {
        auto make = [&](bool outgoing) {
            auto c = CSshCipher::Create(cipher);
            c->SetKey(Pattern(64, 1));
            c->SetIV(Pattern(16, 2));
            auto m = CSshMac::Create(mac);
            m->SetKey(Pattern(64, 3));
            auto z = CSshCompressor::Create(compression);
            if (outgoing)
                sender.SetOutgoing(std::move(c), std::move(m), std::move(z));
            else
                receiver.SetIncoming(std::move(c), std::move(m), std::move(z));
        };
        make(true);
        make(false);
    }
    void Carry()
    {
        in.Feed(out.output);
        out.output.clear();
    }
    CMemoryStream out, in;
    CSshTransport sender, receiver;
};

using Algorithms = std::tuple<std::string, std::string, std::string>;
class RoundTripTest : public ::testing::TestWithParam<Algorithms> {};

std::vector<std::string> CipherNames()
{
    std::vector<std::string> names;
    for (const auto& c : CSshCipher::Table()) names.push_back(c->Name());
    return names;
}

TEST_P(RoundTripTest, PacketsSurviveTheWireInOrder)
{
    const auto& [cipher, mac, compression] = GetParam();
    TransportPair t(cipher, mac, compression);
    for (int i = 0; i < 20; ++i) {
        t.sender.Start(SSH_MSG_CHANNEL_DATA).PutString(std::string(static_cast<std::size_t>(i * 301), 'a' + i % 26));
        if (i % 3 == 2) {
            t.sender.FlushDeferred();
            t.sender.Send();
        } else {
            t.sender.Defer();
        }
    }
    t.sender.FlushDeferred();
    t.Carry();
    t.in.chunk = 777;  // packets split over reads and several per read
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(t.receiver.Reader().GetText(), std::string(static_cast<std::size_t>(i * 301), 'a' + i % 26));
    }
    EXPECT_EQ(t.receiver.InSequence(), 20u);
    EXPECT_EQ(t.sender.OutSequence(), 20u);
    EXPECT_EQ(t.receiver.UnparsedBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(CipherNames()),
                                            ::testing::Values("hmac-sha1", "hmac-md5", "none"),
                                            ::testing::Values("none", "zlib")), AlgorithmsName());

// The current MACs (plain and encrypt-then-MAC) with every cipher; with
// GCM and ChaCha20-Poly1305 the MAC is not used at all.
INSTANTIATE_TEST_SUITE_P(CurrentMacs, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(CipherNames()),
                                            ::testing::Values("hmac-sha2-256-etm@openssh.com",
                                                              "hmac-sha2-512-etm@openssh.com", "hmac-sha2-256",
                                                              "hmac-sha2-512"),
                                            ::testing::Values("none", "zlib")), AlgorithmsName());

// The packet a mode puts on the wire for a 40-byte string: clear length
// or not, padding block, and what follows the packet.
struct SWireCase {
    const char* cipher;
    const char* mac;
    bool clearLength;
    std::size_t block, trailer;
};
class WireFormTest : public ::testing::TestWithParam<SWireCase> {};

TEST_P(WireFormTest, LengthPaddingAndTrailer)
{
    const SWireCase& c = GetParam();
    for (std::size_t extra = 0; extra < 40; ++extra) {
        TransportPair t(c.cipher, c.mac);
        t.sender.Start(SSH_MSG_CHANNEL_DATA).PutRaw(std::vector<std::uint8_t>(extra, 0x5a));
        t.sender.Send();
        const std::vector<std::uint8_t>& wire = t.out.output;
        ASSERT_GT(wire.size(), c.trailer + 4);
        const std::size_t packet = wire.size() - c.trailer;
        // Padding counts the length field only when it is encrypted with
        // the rest.
        EXPECT_EQ((c.clearLength ? packet - 4 : packet) % c.block, 0u) << extra;
        const std::size_t padding = packet - 4 - 1 - 1 - extra;
        EXPECT_GE(padding, 4u);
        EXPECT_LE(padding, c.block + 3);
        if (c.clearLength && std::string(c.cipher) != "chacha20-poly1305@openssh.com") {
            EXPECT_EQ(LoadUint32(wire.data()), packet - 4);
        }
        EXPECT_EQ(t.sender.WireSize(1 + extra), wire.size());
        t.Carry();
        ASSERT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(t.receiver.Payload().size(), 1 + extra);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Modes, WireFormTest,
    ::testing::Values(SWireCase{"aes256-gcm@openssh.com", "hmac-sha1", true, 16, 16},
                      SWireCase{"aes128-gcm@openssh.com", "none", true, 16, 16},
                      SWireCase{"chacha20-poly1305@openssh.com", "hmac-sha2-512", true, 8, 16},
                      SWireCase{"aes128-ctr", "hmac-sha2-256-etm@openssh.com", true, 16, 32},
                      SWireCase{"aes256-ctr", "hmac-sha2-512-etm@openssh.com", true, 16, 64},
                      SWireCase{"aes192-ctr", "hmac-sha2-512", false, 16, 64},
                      SWireCase{"3des-cbc", "hmac-sha2-256-etm@openssh.com", true, 8, 32}));

// A flipped bit anywhere in a packet of an authenticated mode -- length
// field, padding, payload, tag or MAC -- is refused with 8 and nothing of it
// reaches the caller. Bytes after the packet let a damaged length be read in
// full instead of waiting for more.
// The wire form of one CHANNEL_DATA packet of 40 bytes of text.
std::vector<std::uint8_t> SealedPacket(const char* cipher, const char* mac)
{
    TransportPair reference(cipher, mac);
    reference.sender.Start(SSH_MSG_CHANNEL_DATA).PutString(std::string(40, 'q'));
    reference.sender.Send();
    return reference.out.output;
}

class FlippedByteTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(FlippedByteTest, IsRefusedAsReceiveError)
{
    const auto& [cipher, mac] = GetParam();
    const std::vector<std::uint8_t> wire = SealedPacket(cipher, mac);
    for (std::size_t i = 0; i < wire.size(); ++i) {
        for (std::uint8_t bit : {0x01, 0x80}) {
            TransportPair t(cipher, mac);
            std::vector<std::uint8_t> bad = wire;
            bad[i] ^= bit;
            bad.resize(bad.size() + CSshTransport::kReceiveBufferSize, 0x33);
            t.in.Feed(bad);
            EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR) << i << "/" << int(bit);
            EXPECT_EQ(t.receiver.Type(), 0);
            EXPECT_TRUE(t.receiver.Payload().empty());
            EXPECT_EQ(t.receiver.InSequence(), 0u);
        }
    }
    // The undamaged packet passes.
    TransportPair t(cipher, mac);
    t.in.Feed(wire);
    EXPECT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
}
INSTANTIATE_TEST_SUITE_P(Modes, FlippedByteTest,
                         ::testing::Values(std::make_pair("aes256-gcm@openssh.com", "none"),
                                           std::make_pair("aes128-gcm@openssh.com", "hmac-sha1"),
                                           std::make_pair("chacha20-poly1305@openssh.com", "none"),
                                           std::make_pair("aes128-ctr", "hmac-sha2-256-etm@openssh.com"),
                                           std::make_pair("aes256-cbc", "hmac-sha2-512-etm@openssh.com")));

TEST(TransportTest, AeadPacketsAreBoundToTheirSequenceNumber)
{
    // A packet replayed in place of the next one fails its tag (GCM: the
    // invocation counter; ChaCha20-Poly1305: the nonce).
    for (const char* cipher : {"aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com"}) {
        SCOPED_TRACE(cipher);
        TransportPair t(cipher, "none");
        t.sender.Start(SSH_MSG_CHANNEL_EOF).PutUint32(1);
        t.sender.Send();
        std::vector<std::uint8_t> twice = t.out.output;
        twice.insert(twice.end(), t.out.output.begin(), t.out.output.end());
        twice.resize(twice.size() + CSshTransport::kReceiveBufferSize, 0);
        t.in.Feed(twice);
        EXPECT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_EOF);
        EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR);
    }
}

TEST(TransportTest, DeclaredLengthsBeyondTheCapAreRefusedBeforeReading)
{
    // Only the 4 length bytes are there: a length over the cap (or not a
    // whole number of blocks) is refused without waiting for the rest.
    for (const char* cipher : {"aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com"}) {
        TransportPair t(cipher, "none");
        t.sender.Start(SSH_MSG_IGNORE).PutRaw(std::vector<std::uint8_t>(35100, 1));
        t.sender.Send();
        t.out.output.resize(4);
        t.Carry();
        EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR) << cipher;
    }
    for (std::uint32_t length : {35008u, 0xFFFFFFF0u, 33u, 8u}) {
        TransportPair t("aes128-ctr", "hmac-sha2-256-etm@openssh.com");
        std::vector<std::uint8_t> frame(4);
        StoreUint32(frame.data(), length);
        t.in.Feed(frame);
        EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR) << length;
    }
}

TEST(TransportTest, EveryFlippedByteOfAProtectedPacketIsRefused)
{
    const std::vector<std::uint8_t> wire = SealedPacket("aes128-cbc", "hmac-sha1");
    for (std::size_t i = 0; i < wire.size(); ++i) {
        TransportPair t("aes128-cbc", "hmac-sha1");
        std::vector<std::uint8_t> bad = wire;
        bad[i] ^= 0x01;
        t.in.Feed(bad);
        const int rc = Raised([&] { t.receiver.ReadPacket(); });
        // A damaged length may also leave the reader waiting for more bytes
        // than the peer sends (16, the closed stream).
        EXPECT_TRUE(rc == SSH_RECEIVE_ERROR || rc == SSH_SOCKET_ERROR) << i << " gave " << rc;
    }
}

TEST(TransportTest, MalformedFramesGiveReceiveError)
{
    struct Case {
        std::uint32_t length;
        std::uint8_t padding;
    };
    for (const Case c : {Case{35001, 4}, Case{0x80000000u, 4}, Case{0xFFFFFFFFu, 4}, Case{12, 12}, Case{12, 200},
                         Case{5, 4}, Case{0, 0}}) {
        TransportPair t;
        std::vector<std::uint8_t> frame(64, 0);
        StoreUint32(frame.data(), c.length);
        frame[4] = c.padding;
        frame[5] = SSH_MSG_IGNORE;
        t.in.Feed(frame);
        EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR) << c.length << "/" << int(c.padding);
    }
    // With a cipher, a length that is not a whole number of blocks.
    TransportPair t("aes128-cbc", "none");
    auto enc = CSshCipher::Create("aes128-cbc");
    enc->SetKey(Pattern(32, 1));
    enc->SetIV(Pattern(16, 2));
    std::vector<std::uint8_t> frame = ClearPacket({SSH_MSG_IGNORE, 0, 0, 0, 0}, 6);  // 16 bytes
    StoreUint32(frame.data(), 20);  // claims 24 bytes in all
    frame.resize(32, 0);
    enc->Encrypt(frame.data(), frame.size());
    t.in.Feed(frame);
    EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_RECEIVE_ERROR);
}

TEST(TransportTest, PacketsArrivingByteByByteAreJoined)
{
    TransportPair t("3des-cbc", "hmac-md5", "zlib");
    for (int i = 0; i < 3; ++i) {
        t.sender.Start(SSH_MSG_CHANNEL_EOF).PutUint32(static_cast<std::uint32_t>(i));
        t.sender.Send();
    }
    t.Carry();
    t.in.chunk = 1;
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_EOF);
        EXPECT_EQ(t.receiver.Reader().GetUint32(), i);
    }
}

TEST(TransportTest, IgnoreAndGlobalRequestsNeverReachTheCaller)
{
    TransportPair t;
    t.sender.Start(SSH_MSG_IGNORE).PutString(std::string_view("x"));
    t.sender.Send();
    for (const auto& [name, wantReply] :
         {std::pair{"hostkeys-00@openssh.com", false}, {"keepalive@openssh.com", true}}) {
        CSshPacketBuilder& g = t.sender.Start(SSH_MSG_GLOBAL_REQUEST);
        g.PutString(std::string_view(name));
        g.PutBool(wantReply);
        t.sender.Send();
    }
    t.sender.Start(SSH_MSG_DEBUG).PutBool(false);
    t.sender.Send();
    t.Carry();
    // DEBUG is answered with UNIMPLEMENTED and still handed over.
    EXPECT_EQ(t.receiver.ReadPacket(), SSH_MSG_DEBUG);
    EXPECT_EQ(t.in.reads, 1);
    // The reply to the one request that wanted one, then UNIMPLEMENTED (3).
    CMemoryStream replies;
    replies.Feed(t.in.output);
    CSshTransport reader(replies, CRandomPool::Instance(), nullptr);
    EXPECT_EQ(reader.ReadPacket(), SSH_MSG_REQUEST_FAILURE);
    EXPECT_EQ(reader.ReadPacket(), SSH_MSG_UNIMPLEMENTED);
    EXPECT_EQ(reader.Reader().GetUint32(), 3u);  // the DEBUG packet's number
}

TEST(TransportTest, DisconnectRaisesServerDisconnectWithItsDescription)
{
    TransportPair t;
    CSshPacketBuilder& d = t.sender.Start(SSH_MSG_DISCONNECT);
    d.PutUint32(2);
    d.PutString(std::string_view("bye"));
    d.PutString(std::string_view("en"));
    t.sender.Send();
    t.Carry();
    EXPECT_EQ(Raised([&] { t.receiver.ReadPacket(); }), SSH_SERVER_DISCONNECT);
    EXPECT_EQ(t.receiver.DisconnectText(),
              "Received disconnect message:\nType: SSH_DISCONNECT_PROTOCOL_ERROR\nMessage text: bye\n");
    EXPECT_EQ(DescribeDisconnect(99, "x"), "Received disconnect message:\nType: unknown (99)\nMessage text: x\n");
}

struct IdentCase {
    std::string wire;
    std::size_t chunk;
    int result;  // 0 or the error raised
    std::string version;
};
class IdentificationTest : public ::testing::TestWithParam<IdentCase> {};

TEST_P(IdentificationTest, ReadsTheServersLine)
{
    CMemoryStream s;
    s.Feed(GetParam().wire);
    s.chunk = GetParam().chunk;
    CSshTransport t(s, CRandomPool::Instance(), nullptr);
    std::string version;
    EXPECT_EQ(Raised([&] { version = t.ReadIdentification(); }), GetParam().result);
    EXPECT_EQ(version, GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IdentificationTest,
    ::testing::Values(IdentCase{"SSH-2.0-OpenSSH_9.2\r\n", SIZE_MAX, 0, "SSH-2.0-OpenSSH_9.2"},
                      IdentCase{"SSH-1.99-Old\n", SIZE_MAX, 0, "SSH-1.99-Old"},
                      IdentCase{"SSH-2.0-Split-Over-Reads\r\n", 3, 0, "SSH-2.0-Split-Over-Reads"},
                      IdentCase{"hello\r\nworld\nSSH-2.0-After\r\n", 5, 0, "SSH-2.0-After"},
                      IdentCase{"SSH-1.5-Ancient\n", SIZE_MAX, SSH_INTERNAL_ERROR, ""},
                      IdentCase{"SSH-2.0-NoEnd", SIZE_MAX, SSH_SOCKET_ERROR, ""},
                      IdentCase{std::string(20000, 'x'), SIZE_MAX, SSH_INTERNAL_ERROR, ""}));

TEST(IdentificationTest, BytesAfterTheLineStartThePacketStream)
{
    CMemoryStream s;
    std::string wire = "SSH-2.0-Eager\r\n";
    const auto kexinit = ClearPacket({SSH_MSG_KEXINIT, 1, 2, 3}, 8);
    wire.append(kexinit.begin(), kexinit.end());
    s.Feed(wire);
    CSshTransport t(s, CRandomPool::Instance(), nullptr);
    EXPECT_EQ(t.ReadIdentification(), "SSH-2.0-Eager");
    EXPECT_EQ(t.ReadPacket(), SSH_MSG_KEXINIT);
    EXPECT_EQ(s.reads, 1);
}

// ----------------------------------------------------------- compression

std::string Inflate(const std::vector<std::uint8_t>& stream)
{
    z_stream z{};
    inflateInit(&z);
    std::string out(1 << 20, '\0');
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_SYNC_FLUSH);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}

TEST(CompressorTest, OneStreamAcrossPacketsAndStoredPackets)
{
    CSshCompressor c(true);
    std::vector<std::uint8_t> stream, out;
    std::string expected;
    for (int i = 0; i < 10; ++i) {
        const std::string text = std::string(100 + i, 'a') + std::to_string(i) + std::string(50, 'z');
        std::size_t growth = 0;
        if (i == 0 || i == 5) growth = c.DisableCompression();
        ASSERT_TRUE(c.Compress(AsBytes(text), out));
        if (i == 0) {
            EXPECT_EQ(growth, 7u);
        }
        if (i == 5) {
            // Stored, not compressed: the packet grows by at most `growth`.
            EXPECT_GE(out.size(), text.size());
            EXPECT_LE(out.size(), text.size() + growth);
        } else if (i > 0) {
            EXPECT_LT(out.size(), text.size() / 2);
        }
        stream.insert(stream.end(), out.begin(), out.end());
        expected += text;
        // Each packet's output completes everything sent so far.
        EXPECT_EQ(Inflate(stream), expected);
    }
    // Our own inflater reads the same stream packet by packet.
    CSshCompressor d(true);
    std::vector<std::uint8_t> plain;
    ASSERT_TRUE(d.Decompress(stream, plain));
    EXPECT_EQ(std::string(plain.begin(), plain.end()), expected);
    CSshCompressor none(false);
    EXPECT_FALSE(none.Compress(AsBytes("x"), out));
    EXPECT_EQ(none.DisableCompression(), 0u);
}

TEST(CompressorTest, DelayedZlibWaitsForActivation)
{
    auto c = CSshCompressor::Create("zlib@openssh.com");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Name(), "zlib@openssh.com");
    EXPECT_EQ(c->Clone()->Name(), "zlib@openssh.com");
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(c->Compress(AsBytes("before"), out));
    EXPECT_FALSE(c->Decompress(AsBytes("before"), out));
    EXPECT_EQ(c->DisableCompression(), 0u);  // nothing to store while idle
    c->Activate();
    ASSERT_TRUE(c->Compress(AsBytes("after the login"), out));
    EXPECT_EQ(Inflate(out), "after the login");  // a fresh stream, header first

    // Through the transport: clear until both ends switch on.
    TransportPair t("aes128-ctr", "hmac-sha2-256", "zlib@openssh.com");
    t.sender.Start(SSH_MSG_USERAUTH_SUCCESS);
    t.sender.Send();
    t.sender.ActivateCompression();
    t.sender.Start(SSH_MSG_CHANNEL_DATA).PutString(std::string(5000, 'z'));
    t.sender.Send();
    EXPECT_LT(t.out.output.size(), 200u);
    t.Carry();
    ASSERT_EQ(t.receiver.ReadPacket(), SSH_MSG_USERAUTH_SUCCESS);
    t.receiver.ActivateCompression();
    ASSERT_EQ(t.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
    EXPECT_EQ(t.receiver.Reader().GetText(), std::string(5000, 'z'));
}

TEST(CompressorTest, CorruptOrExplosiveInputIsCorruptData)
{
    const auto kind = [](auto step) {
        try {
            step();
        } catch (const sshcore::CCoreError& error) {
            return error.Kind() == sshcore::ECoreError::Corrupt ? 1 : 2;
        }
        return 0;
    };
    CSshCompressor d(true);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(kind([&] { d.Decompress(std::vector<std::uint8_t>{0x12, 0x34, 0x56}, out); }), 1);

    CSshCompressor c(true), d2(true);
    std::vector<std::uint8_t> bomb;
    ASSERT_TRUE(c.Compress(std::vector<std::uint8_t>(CSshCompressor::kMaxInflated + 1, 0), bomb));
    EXPECT_LT(bomb.size(), 2000u);
    EXPECT_EQ(kind([&] { d2.Decompress(bomb, out); }), 1);
}

// ---------------------------------------------------------- random pool

TEST(RandomPoolTest, StirRewritesThePoolAndRestartsAt20)
{
    CRandomPool& pool = CRandomPool::Instance();
    pool.Reset();
    std::vector<std::uint8_t> before(pool.PoolBytes(), pool.PoolBytes() + CRandomPool::kPoolSize);
    pool.Stir();
    EXPECT_EQ(pool.ReadPosition(), 20u);
    std::size_t same = 0;
    for (std::size_t i = 0; i < CRandomPool::kPoolSize; ++i) same += pool.PoolBytes()[i] == before[i];
    EXPECT_LT(same, 30u);
    // Reading past the end stirs again.
    for (std::size_t i = 20; i < CRandomPool::kPoolSize; ++i) pool.RandomByte();
    const std::uint8_t* p = pool.PoolBytes();
    const std::vector<std::uint8_t> full(p, p + CRandomPool::kPoolSize);
    pool.RandomByte();
    EXPECT_EQ(pool.ReadPosition(), 21u);
    EXPECT_NE(std::vector<std::uint8_t>(p, p + CRandomPool::kPoolSize), full);
}
}  // namespace
