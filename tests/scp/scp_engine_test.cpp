// The SSH-2 engine of the upload library without a network: the packet layer
// round-trips every cipher, MAC and compression, and the session's parsers
// are fed their input split at every byte offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/algorithms.h"
#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "sshcore/negotiate.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"
#include "tests/scp/scp_bytes.h"

namespace {

// The session fixture; AgreeWith gives the agreement with a server that
// offers only the given lists: 0 and the state the key exchange went on
// to, or the error.
class DetachedSession : public ::testing::Test, protected CDetachedSession {
protected:
    int AgreeWith(const KexLists& server)
    {
        const int rc = OpenAndFeed(Stream("SSH-2.0-x\n", {KexinitPayload(server)}));
        if (rc) return rc;
        const int state = scp_session_state(m_session);
        EXPECT_TRUE(state == SCP_SS_KEX_REPLY || state == SCP_SS_KEX_GROUP) << state;
        return 0;
    }
};

TEST_F(DetachedSession, VersionAndKeyExchangeStartAtEverySplit)
{
    const Bytes stream = Stream("a greeting line\r\nSSH-2.0-OpenSSH_2.5.2 extra\r\n",
                                {Bytes{2, 0, 0, 0, 1, 'x'}, Bytes{4, 1, 0, 0, 0, 1, 'd', 0, 0, 0, 0}, KexinitPayload(KexLists{})});
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        SCOPED_TRACE(split);
        ASSERT_EQ(Open(), 0);
        ASSERT_EQ(Feed(Bytes(stream.begin(), stream.begin() + static_cast<long>(split))), 0);
        ASSERT_EQ(Feed(Bytes(stream.begin() + static_cast<long>(split), stream.end())), 0);
        ASSERT_EQ(scp_session_state(m_session), SCP_SS_KEX_REPLY);
        EXPECT_STREQ(scp_session_server_version(m_session), "SSH-2.0-OpenSSH_2.5.2 extra");
        EXPECT_EQ(scp_session_quirks(m_session), 1u << SCP_QUIRK_RSA_SIG_PAD);
        EXPECT_STREQ(scp_session_chosen(m_session, 0), "diffie-hellman-group1-sha1");
        EXPECT_STREQ(scp_session_chosen(m_session, 2), "aes128-cbc");
        EXPECT_STREQ(scp_session_chosen(m_session, 4), "hmac-md5");
        std::string line;
        const auto sent = SentPackets(Capture(), &line);
        EXPECT_EQ(line, "SSH-2.0-Pavlet\n");
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0][0], 20);
        EXPECT_EQ(sent[1][0], 30);  // KEXDH_INIT with e
    }
}

TEST_F(DetachedSession, ProtocolVersionBelow199IsRefusedBeforeOurLine)
{
    const struct {
        const char* line;
        int code;
    } cases[] = {{"SSH-1.5-old\n", SCP_E_PROTOCOL_VERSION},
                 {"SSH-1.99-both\n", SCP_OK},
                 {"SSH-2.0-x\r\n", SCP_OK},
                 {"SSH-0.9-\n", SCP_E_PROTOCOL_VERSION},
                 {"SSH-10.0-future\n", SCP_OK}};
    for (const auto& c : cases) {
        EXPECT_EQ(OpenAndFeed(Stream(c.line)), c.code) << c.line;
        if (c.code) {
            EXPECT_EQ(m_capture.len, 0u);
        } else {
            EXPECT_EQ(scp_session_state(m_session), SCP_SS_KEXINIT);
        }
    }
}

namespace {
std::size_t Position(const std::vector<std::string>& names, const std::string& name)
{
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}
}  // namespace

TEST_F(DetachedSession, EveryKeyExchangeAndHostKeyWeOfferIsOneWeCarryOut)
{
    const auto lists = OfferedLists();
    ASSERT_EQ(lists.size(), 10u);
    const auto kex = sshcore::SplitNameList(lists[0]);
    // The registry's methods (its order is tested with it); the two markers
    // come after every method.
    ASSERT_EQ(kex.size(), sshcore::KexAlgorithms().size() + 2);
    EXPECT_EQ(kex[kex.size() - 2], "ext-info-c");
    EXPECT_EQ(kex.back(), "kex-strict-c-v00@openssh.com");
    for (std::size_t i = 0; i + 2 < kex.size(); ++i) {
        EXPECT_EQ(AgreeWith({.kex = kex[i]}), 0) << kex[i];
        EXPECT_STREQ(scp_session_chosen(m_session, CH_KEX), kex[i].c_str());
    }
    EXPECT_NE(AgreeWith({.kex = "ext-info-c"}), 0) << "a marker is no method";

    const auto hostKeys = sshcore::SplitNameList(lists[1]);
    for (const std::string& name : hostKeys) {
        EXPECT_NE(scp_hostkey_alg_type(name.c_str()), SCP_KEY_UNKNOWN) << name;
        EXPECT_EQ(AgreeWith({.hostKeys = name}), 0) << name;
        EXPECT_STREQ(scp_session_chosen(m_session, CH_HOSTKEY), name.c_str());
    }
}

TEST_F(DetachedSession, EveryCipherAndMacWeOfferRunsAndNoBlockCipherGoesWithoutAMac)
{
    const auto lists = OfferedLists();
    ASSERT_EQ(lists.size(), 10u);
    EXPECT_EQ(lists[2], lists[3]);
    EXPECT_EQ(lists[4], lists[5]);
    const auto ciphers = sshcore::SplitNameList(lists[2]);
    EXPECT_EQ(Position(ciphers, "des-cbc"), ciphers.size()) << "single DES is off by default";
    for (const std::string& name : ciphers) {
        const ScpCipherInfo* info = scp_cipher_by_name(name.data(), name.size());
        ASSERT_NE(info, nullptr) << name;
        const std::vector<std::uint8_t> key(static_cast<std::size_t>(info->keyBytes)), iv(16);
        ScpCipher cipher{};
        EXPECT_EQ(scp_cipher_start(&cipher, info, key.data(), iv.data(), true), 0) << name;
        scp_cipher_end(&cipher);
    }

    const auto macs = sshcore::SplitNameList(lists[4]);
    ASSERT_FALSE(macs.empty());
    EXPECT_EQ(macs.back(), "none");
    for (std::size_t i = 0; i + 1 < macs.size(); ++i) {
        EXPECT_EQ(AgreeWith({.ciphers = "aes128-ctr", .macs = macs[i]}), 0) << macs[i];
        EXPECT_STREQ(scp_session_chosen(m_session, CH_MAC_OUT), macs[i].c_str());
    }
    EXPECT_NE(AgreeWith({.ciphers = "aes128-ctr", .macs = "none"}), 0);
    EXPECT_NE(AgreeWith({.ciphers = "aes128-cbc", .macs = "none"}), 0);
    EXPECT_EQ(AgreeWith({.ciphers = "aes256-gcm@openssh.com", .macs = "none"}), 0);
}

TEST_F(DetachedSession, OfferFollowsTheCompressionSettingAndTheGroupExchangeQuirk)
{
    for (int compression : {0, 1}) {
        m_cfg.compression = compression;
        const auto lists = OfferedLists();
        ASSERT_EQ(lists.size(), 10u);
        const auto comp = sshcore::SplitNameList(lists[6]);
        ASSERT_FALSE(comp.empty());
        EXPECT_EQ(comp[0], compression ? "zlib" : "none");
        EXPECT_LT(Position(comp, "none"), comp.size()) << "no compression is always possible";
        EXPECT_EQ(lists[8], "") << "no languages";
    }
    const auto usual = sshcore::SplitNameList(OfferedLists()[0]);
    m_cfg.quirks[SCP_QUIRK_NO_GEX] = SCP_QUIRK_ON;
    // The offer without the group exchanges, the rest in the same order.
    std::vector<std::string> withoutGex;
    std::copy_if(usual.begin(), usual.end(), std::back_inserter(withoutGex),
                 [](const std::string& name) { return name.find("group-exchange") == std::string::npos; });
    EXPECT_LT(withoutGex.size(), usual.size());
    EXPECT_EQ(sshcore::SplitNameList(OfferedLists()[0]), withoutGex);
    EXPECT_NE(AgreeWith({.kex = "diffie-hellman-group-exchange-sha256"}), 0);
}

TEST_F(DetachedSession, GroupRequestSizeFollowsTheStrongerCipher)
{
    const struct {
        const char* ciphers;
        std::uint32_t bits;
    } cases[] = {{"aes256-cbc", 2048}, {"aes128-cbc", 1024}, {"3des-cbc", 2048}, {"aes192-cbc,aes128-cbc", 2048}};
    for (const auto& c : cases) {
        const KexLists lists{.kex = "diffie-hellman-group-exchange-sha1", .ciphers = c.ciphers};
        ASSERT_EQ(OpenAndFeed(Stream("SSH-2.0-x\n", {KexinitPayload(lists)})), 0);
        EXPECT_EQ(scp_session_state(m_session), SCP_SS_KEX_GROUP);
        const auto sent = SentPackets(Capture());
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[1], (Bytes{30, 0, 0, static_cast<std::uint8_t>(c.bits >> 8), 0})) << c.ciphers;
    }
}

TEST_F(DetachedSession, MalformedOrHostileInputEndsTheSession)
{
    auto run = [&](const Bytes& tail) {
        Bytes stream = Stream("SSH-2.0-x\n");
        Append(stream, tail);
        return OpenAndFeed(stream);
    };
    // A length above the cap is refused before anything is allocated.
    EXPECT_EQ(run(Bytes{0, 0, 0x88, 0xb9, 4, 0, 0, 0}), SCP_E_RECEIVE);  // 35001
    EXPECT_EQ(run(Bytes{0xff, 0xff, 0xff, 0xff, 4, 0, 0, 0}), SCP_E_RECEIVE);
    // Padding that leaves no payload.
    EXPECT_EQ(run(Bytes{0, 0, 0, 12, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), SCP_E_RECEIVE);
    // A server's disconnect.
    Bytes disconnect{1};
    PutU32(disconnect, 2);
    PutString(disconnect, "bye");
    PutString(disconnect, "");
    EXPECT_EQ(run(Plain({disconnect})), SCP_E_DISCONNECTED);
    // Something other than KEXINIT where it is expected.
    EXPECT_EQ(run(Plain({Bytes{6, 0, 0, 0, 0}})), SCP_E_AUTHENTICATE);
    // No common cipher.
    EXPECT_EQ(run(Plain({KexinitPayload({.ciphers = "serpent256-cbc"})})), SCP_E_AUTHENTICATE);
    // A truncated KEXINIT.
    Bytes cut = KexinitPayload(KexLists{});
    cut.resize(40);
    EXPECT_EQ(run(Plain({cut})), SCP_E_RECEIVE);
}

TEST_F(DetachedSession, UnknownMessagesAreAnsweredAndGlobalRequestsRefused)
{
    Bytes global{80};
    PutString(global, "keepalive@openssh.com");
    global.push_back(1);
    ASSERT_EQ(OpenAndFeed(Stream("SSH-2.0-x\n", {Bytes{2, 0, 0, 0, 0}, Bytes{200, 1, 2}, global})), 0);
    const auto sent = SentPackets(Capture());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], (Bytes{3, 0, 0, 0, 1}));  // UNIMPLEMENTED for sequence number 1
    // The REQUEST_FAILURE is no transport message: it waits for the end of
    // the key exchange under way.
    EXPECT_EQ(scp_session_state(m_session), SCP_SS_KEXINIT);
}

TEST(ScpCipherNegotiation, PreferenceOrderAndWarnMarker)
{
    const int defaults[5] = {SCP_PREF_AES, SCP_PREF_BLOWFISH, SCP_PREF_3DES, SCP_PREF_WARN, SCP_PREF_DES};
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    // The cipher the engine's offer agrees on with a server's list.
    auto choose = [&](const int* prefs, bool allowDes, const std::string& server) {
        sshcore::SKexOffer ours, theirs;
        for (auto* offer : {&ours, &theirs})
            for (auto& list : offer->lists) list = {"x"};
        ours.lists[sshcore::OFFER_CIPHER_OUT] = scp_cipher_offer_names(prefs, allowDes, &ours.acceptedCiphers);
        ours.lists[sshcore::OFFER_CIPHER_IN] = ours.lists[sshcore::OFFER_CIPHER_OUT];
        theirs.lists[sshcore::OFFER_CIPHER_OUT] = theirs.lists[sshcore::OFFER_CIPHER_IN] = sshcore::SplitNameList(server);
        const sshcore::SKexAgreement agreed = sshcore::Negotiate(ours, theirs);
        return agreed.ok ? agreed.names[sshcore::OFFER_CIPHER_OUT] : std::string("refused");
    };
    EXPECT_EQ(choose(defaults, false, "aes128-cbc,aes256-cbc"), "aes256-cbc");  // our order decides
    EXPECT_EQ(choose(defaults, false, "3des-cbc,aes128-cbc"), "aes128-cbc");
    EXPECT_EQ(choose(defaults, false, "3des-cbc,twofish-cbc"), "3des-cbc");
    // The AES entry holds the current modes ahead of CBC.
    EXPECT_EQ(choose(defaults, false, "aes128-cbc,aes128-ctr"), "aes128-ctr");
    EXPECT_EQ(choose(defaults, false, "aes128-ctr,chacha20-poly1305@openssh.com"), "chacha20-poly1305@openssh.com");
    EXPECT_EQ(choose(defaults, false, "twofish-cbc"), "refused");
    // DES is offered (when allowed) but refused after the warn marker...
    EXPECT_EQ(choose(defaults, true, "des-cbc"), "refused");
    // ...unless the marker stands last, where it does not count.
    const int warnLast[5] = {SCP_PREF_AES, SCP_PREF_BLOWFISH, SCP_PREF_3DES, SCP_PREF_DES, SCP_PREF_WARN};
    if (scp_crypto_legacy_available()) {
        EXPECT_EQ(choose(warnLast, true, "des-cbc"), "des-cbc");
    }
    const int warnFirst[5] = {SCP_PREF_WARN, SCP_PREF_AES, SCP_PREF_BLOWFISH, SCP_PREF_3DES, SCP_PREF_DES};
    EXPECT_EQ(choose(warnFirst, false, "aes128-cbc"), "refused");

    // The offer: every cipher of each usable family, the families in the
    // order of the preferences; the legacy ones only where they can run.
    const int familyOf[5] = {SCP_CIPHER_AES, SCP_CIPHER_BLOWFISH, SCP_CIPHER_3DES, -1, SCP_CIPHER_DES};
    for (bool allowDes : {false, true}) {
        std::size_t accepted = 0;
        const auto names = scp_cipher_offer_names(defaults, allowDes, &accepted);
        std::size_t expected = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const int family = table[i].family;
            const bool legacy = family == SCP_CIPHER_BLOWFISH || family == SCP_CIPHER_DES;
            if ((!legacy || scp_crypto_legacy_available()) && (family != SCP_CIPHER_DES || allowDes)) ++expected;
        }
        EXPECT_EQ(names.size(), expected);
        std::size_t rank = 0;
        for (const std::string& name : names) {
            const ScpCipherInfo* info = scp_cipher_by_name(name.data(), name.size());
            ASSERT_NE(info, nullptr) << name;
            const std::size_t at = static_cast<std::size_t>(std::find(familyOf, familyOf + 5, info->family) - familyOf);
            EXPECT_GE(at, rank) << name << " comes before a cipher of a family preferred to it";
            rank = at;
        }
    }
}

// Every cipher, MAC and compression setting through the packet layer.
struct PacketCase {
    int cipher;  // index in the table, -1 none
    int mac;
    bool zlib;
};

class PacketLayer : public ::testing::TestWithParam<PacketCase> {
protected:
    void SetUp() override
    {
        scp_random_init(&m_pool);
        std::size_t count = 0;
        const ScpCipherInfo* table = scp_cipher_table(&count);
        if (GetParam().cipher >= 0) {
            m_info = &table[GetParam().cipher];
            if ((m_info->family == SCP_CIPHER_BLOWFISH || m_info->family == SCP_CIPHER_DES) &&
                !scp_crypto_legacy_available())
                GTEST_SKIP() << "legacy provider missing";
        }
        Start(&m_out.cipher, &m_out.mac, &m_out.zlib, true);
    }
    void TearDown() override { scp_packet_out_free(&m_out); }

    void Start(ScpCipher* cipher, ScpMac* mac, ScpZlib* zlib, bool encrypt)
    {
        std::uint8_t key[64], iv[64], mackey[64];
        for (int i = 0; i < 64; ++i) {
            key[i] = static_cast<std::uint8_t>(i);
            iv[i] = static_cast<std::uint8_t>(100 + i);
            mackey[i] = static_cast<std::uint8_t>(200 + i);
        }
        if (m_info) {
            ASSERT_EQ(scp_cipher_start(cipher, m_info, key, iv, encrypt), 0);
        }
        // An authenticated cipher takes no MAC.
        const int kind = Aead() ? SCP_MAC_NONE : GetParam().mac;
        ASSERT_EQ(scp_mac_start(mac, kind, mackey, scp_mac_key_len(kind)), 0);
        if (GetParam().zlib) {
            ASSERT_EQ(scp_zlib_start(zlib, encrypt), 0);
        }
    }

    // Feeds the wire in two pieces and returns the payloads taken (or the code).
    int Receive(const Bytes& wire, std::size_t split, std::vector<Bytes>* payloads)
    {
        ScpPacketIn in{};
        Start(&in.cipher, &in.mac, &in.zlib, false);
        ScpBuf buf{};
        int rc = 0;
        for (int piece = 0; piece < 2 && !rc; ++piece) {
            const std::size_t from = piece ? split : 0, to = piece ? wire.size() : split;
            rc = scp_buf_put(&buf, wire.data() + from, to - from);
            for (bool got = true; !rc && got;) {
                rc = scp_packet_take(&in, &buf, &got);
                if (!rc && got) payloads->push_back(ToBytes(in.payload));
            }
        }
        scp_buf_free(&buf);
        scp_packet_in_free(&in);
        return rc;
    }

    bool Aead() const { return m_info && (m_info->mode == SCP_MODE_GCM || m_info->mode == SCP_MODE_CHACHA); }
    // The forms whose every byte is covered by a tag or an encrypt-then-MAC.
    bool Sealed() const { return Aead() || scp_mac_is_etm(GetParam().mac); }

    const ScpCipherInfo* m_info = nullptr;
    ScpPacketOut m_out{};
    ScpRandomPool m_pool;
};

TEST_P(PacketLayer, RoundTripAtEverySplitAndFlippedBytesFail)
{
    const std::vector<Bytes> payloads = {Bytes{94, 1, 2, 3}, Bytes(300, 0x41), Bytes{2}};
    ScpBuf wire{};
    for (const Bytes& p : payloads) ASSERT_EQ(scp_packet_build(&m_out, &m_pool, p.data(), p.size(), &wire), 0);
    const Bytes bytes = ToBytes(wire);
    scp_buf_free(&wire);
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        std::vector<Bytes> got;
        ASSERT_EQ(Receive(bytes, split, &got), 0) << split;
        ASSERT_EQ(got, payloads) << split;
    }
    if (GetParam().mac == SCP_MAC_NONE && !Aead()) return;
    // With a MAC, no flipped byte of the first packet gets through; a tag or
    // an encrypt-then-MAC refuses every one of them (length, payload,
    // padding, tag) with 16.
    std::vector<Bytes> firstOnly;
    ScpPacketOut one{};
    Start(&one.cipher, &one.mac, &one.zlib, true);
    ScpBuf oneWire{};
    ASSERT_EQ(scp_packet_build(&one, &m_pool, payloads[0].data(), payloads[0].size(), &oneWire), 0);
    const std::size_t first = oneWire.len;
    scp_buf_free(&oneWire);
    scp_packet_out_free(&one);
    for (std::size_t i = 0; i < first; ++i) {
        for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}}) {
            Bytes bad = bytes;
            bad[i] ^= flip;
            // Enough bytes after it that a length made larger is filled.
            if (Sealed()) bad.resize(bad.size() + kScpMaxPacket + 64, 0);
            std::vector<Bytes> got;
            const int rc = Receive(bad, bad.size(), &got);
            if (Sealed()) {
                EXPECT_EQ(rc, SCP_E_RECEIVE) << i;
                EXPECT_TRUE(got.empty()) << i;
            } else {
                EXPECT_TRUE(rc != 0 || got.empty() || got[0] != payloads[0]) << i;
            }
        }
    }
}

std::vector<PacketCase> AllPacketCases()
{
    std::vector<PacketCase> cases;
    std::size_t count = 0;
    scp_cipher_table(&count);
    for (int c = -1; c < static_cast<int>(count); ++c)
        for (int mac : {SCP_MAC_NONE, SCP_MAC_SHA1, SCP_MAC_MD5, SCP_MAC_SHA256, SCP_MAC_SHA512, SCP_MAC_SHA256_ETM,
                        SCP_MAC_SHA512_ETM})
            cases.push_back({c, mac, c % 3 == 0});
    cases.push_back({1, SCP_MAC_SHA1, true});
    cases.push_back({-1, SCP_MAC_NONE, true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(All, PacketLayer, ::testing::ValuesIn(AllPacketCases()),
                         [](const ::testing::TestParamInfo<PacketCase>& p) {
                             std::size_t count = 0;
                             const ScpCipherInfo* table = scp_cipher_table(&count);
                             std::string name = p.param.cipher < 0 ? std::string("plain") : table[p.param.cipher].name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             name += "_mac" + std::to_string(p.param.mac);
                             return name + (p.param.zlib ? "_zlib" : "");
                         });

}  // namespace
