#include "ssh2/kex.h"

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/errors.h"
#include "ssh2/messages.h"
#include "ssh2/random.h"
#include "ssh2/ssh2.h"

using sshcrypto::CBigNum;
using sshcrypto::CDigest;
using sshcrypto::CDiffieHellman;

namespace {

constexpr char16_t kHostKeysKey[] = u"Software\\Quillon\\Corvel\\SshHostKeys";
constexpr int kMinGroupBits = 1024;
constexpr int kMaxGroupBits = 8192;

}  // namespace

void HashUint32(CDigest& hash, std::uint32_t value)
{
    std::uint8_t bytes[4];
    StoreUint32(bytes, value);
    hash.Update(bytes, 4);
}

void HashString(CDigest& hash, ByteView bytes)
{
    HashUint32(hash, static_cast<std::uint32_t>(bytes.size()));
    hash.Update(bytes);
}

void HashMpint(CDigest& hash, const CBigNum& value)
{
    const std::vector<std::uint8_t> bytes = value.ToMpint();
    HashString(hash, bytes);
}

std::vector<std::uint8_t> ExchangeHash(const SExchangeHashInput& in)
{
    CDigest hash(sshcrypto::EDigest::Sha1);
    HashString(hash, AsBytes(in.clientVersion));
    HashString(hash, AsBytes(in.serverVersion));
    HashString(hash, in.clientKexInit);
    HashString(hash, in.serverKexInit);
    HashString(hash, in.hostKey);
    if (in.groupExchange) {
        HashUint32(hash, in.pbits);
        HashMpint(hash, in.p);
        HashMpint(hash, in.g);
    }
    HashMpint(hash, in.e);
    HashMpint(hash, in.f);
    HashMpint(hash, in.k);
    return hash.Final();
}

std::vector<std::uint8_t> DeriveKey(const CBigNum& k, ByteView h, char letter, ByteView sessionId)
{
    CDigest hash(sshcrypto::EDigest::Sha1);
    HashMpint(hash, k);
    hash.Update(h);
    const std::uint8_t letterByte = static_cast<std::uint8_t>(letter);
    hash.Update(&letterByte, 1);
    hash.Update(sessionId);
    std::vector<std::uint8_t> key = hash.Final();
    HashMpint(hash, k);
    hash.Update(h);
    hash.Update(key);
    const std::vector<std::uint8_t> second = hash.Final();
    key.insert(key.end(), second.begin(), second.end());
    return key;
}

std::uint32_t GroupExchangeBits(std::size_t cipherKeyBits)
{
    const std::size_t nbits = cipherKeyBits > 160 ? 160 : (cipherKeyBits == 0 ? 1 : cipherKeyBits);
    return 512u << ((nbits - 1) / 64);
}

// ---------------------------------------------------------------- offers

std::vector<std::string> CSSH2::KexOffer()
{
    return {"diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1"};
}

std::vector<std::string> CSSH2::CipherOffer()
{
    std::vector<std::string> names;
    for (const auto& c : CSshCipher::Table()) names.push_back(c->Name());
    return names;
}

std::vector<std::string> CSSH2::MacOffer()
{
    std::vector<std::string> names;
    for (const auto& m : CSshMac::Table()) names.push_back(m->Name());
    return names;
}

std::vector<std::string> CSSH2::CompressionOffer(bool preferZlib)
{
    return {preferZlib ? "zlib" : "none", "zlib", "none"};
}

std::string CSSH2::HostKeyValueName(const char* cacheType, std::uint32_t port, const std::string& host)
{
    return std::string(cacheType) + "@" + std::to_string(port) + ":" + host;
}

// ---------------------------------------------------------- key exchange

void CSSH2::KeyExchange()
{
    CRandomPool& pool = CRandomPool::Instance();
    pool.Initialise();

    // The server's offer, read by the login step.
    if (m_transport.Type() != SSH_MSG_KEXINIT) throw SSH_UNEXPECTED_PACKET;
    const std::vector<std::uint8_t> serverKexInit(m_transport.Payload().begin(), m_transport.Payload().end());
    SKexInit server;
    if (!ParseKexInit(serverKexInit, server)) throw SSH_UNEXPECTED_PACKET;

    const std::vector<std::string> kexOffer = KexOffer();
    const std::vector<std::string> hostKeyOffer = CSshHostKey::Names();
    const std::vector<std::string> cipherOffer = CipherOffer();
    const std::vector<std::string> macOffer = MacOffer();
    const std::vector<std::string> compressOut = CompressionOffer(m_bCompressOut);
    const std::vector<std::string> compressIn = CompressionOffer(m_bCompressIn);

    CSshPacketBuilder& out = m_transport.Start(SSH_MSG_KEXINIT);
    std::uint8_t cookie[16];
    pool.RandomBytes(cookie, sizeof cookie);
    out.PutRaw(cookie);
    for (const auto* list : {&kexOffer, &hostKeyOffer, &cipherOffer, &cipherOffer, &macOffer, &macOffer, &compressOut,
                             &compressIn}) {
        out.StartNameList();
        for (const auto& name : *list) out.AppendToNameList(name);
        out.EndNameList();
    }
    out.PutString(std::string_view());
    out.PutString(std::string_view());
    out.PutBool(false);
    out.PutUint32(0);
    const std::vector<std::uint8_t> clientKexInit(out.Payload().begin(), out.Payload().end());
    HashString(m_exchangeHash, clientKexInit);
    m_transport.Send();
    HashString(m_exchangeHash, serverKexInit);

    // Negotiation: the first of our names that the server lists.
    m_nKexIndex = ChooseFirstCommon(kexOffer, server.lists[KEX_ALGORITHMS]);
    const int hostKeyIndex = ChooseFirstCommon(hostKeyOffer, server.lists[KEX_HOST_KEYS]);
    const int csCipher = ChooseFirstCommon(cipherOffer, server.lists[KEX_CIPHERS_CS]);
    const int scCipher = ChooseFirstCommon(cipherOffer, server.lists[KEX_CIPHERS_SC]);
    const int csMac = ChooseFirstCommon(macOffer, server.lists[KEX_MACS_CS]);
    const int scMac = ChooseFirstCommon(macOffer, server.lists[KEX_MACS_SC]);
    const int csComp = ChooseFirstCommon(compressOut, server.lists[KEX_COMPRESSION_CS]);
    const int scComp = ChooseFirstCommon(compressIn, server.lists[KEX_COMPRESSION_SC]);
    if (csCipher < 0 || scCipher < 0 || hostKeyIndex < 0) throw SSH_CIPHER_ERROR;

    m_pHostKey = CSshHostKey::Create(hostKeyOffer[static_cast<std::size_t>(hostKeyIndex)]);
    auto csCipherObj = CSshCipher::Create(cipherOffer[static_cast<std::size_t>(csCipher)]);
    auto scCipherObj = CSshCipher::Create(cipherOffer[static_cast<std::size_t>(scCipher)]);
    auto csMacObj = csMac >= 0 ? CSshMac::Create(macOffer[static_cast<std::size_t>(csMac)]) : nullptr;
    auto scMacObj = scMac >= 0 ? CSshMac::Create(macOffer[static_cast<std::size_t>(scMac)]) : nullptr;
    auto csCompObj = csComp >= 0 ? CSshCompressor::Create(compressOut[static_cast<std::size_t>(csComp)]) : nullptr;
    auto scCompObj = scComp >= 0 ? CSshCompressor::Create(compressIn[static_cast<std::size_t>(scComp)]) : nullptr;
    const bool groupExchange = m_nKexIndex == 0;
    m_agreed = {groupExchange ? kexOffer[0] : kexOffer[1], m_pHostKey->Name(), csCipherObj->Name(),
                scCipherObj->Name(), csMacObj ? csMacObj->Name() : "none", scMacObj ? scMacObj->Name() : "none",
                csCompObj ? csCompObj->Name() : "none", scCompObj ? scCompObj->Name() : "none"};

    // Diffie-Hellman.
    const std::size_t nbits = csCipherObj->KeyBits() > 160 ? 160 : csCipherObj->KeyBits();
    std::uint32_t pbits = 0;
    CDiffieHellman dh = CDiffieHellman::Group1();
    std::uint8_t initType = SSH_MSG_KEXDH_INIT, replyType = SSH_MSG_KEXDH_REPLY;
    if (groupExchange) {
        pbits = GroupExchangeBits(nbits);
        m_transport.Start(SSH_MSG_KEX_DH_GEX_REQUEST_OLD).PutUint32(pbits);
        m_transport.Send();
        if (m_transport.ReadPacket() != SSH_MSG_KEX_DH_GEX_GROUP) throw SSH_UNEXPECTED_PACKET;
        SDhGroup group;
        if (!ParseDhGroup(m_transport.Payload(), group)) throw SSH_UNEXPECTED_PACKET;
        const CBigNum one(1);
        if (group.p.IsNegative() || group.p.Bits() < kMinGroupBits || group.p.Bits() > kMaxGroupBits ||
            group.g.Compare(one) <= 0 || group.g.Compare(group.p.Minus(1)) >= 0)
            throw SSH_HOSTKEY_MISMATCH;
        dh = CDiffieHellman(std::move(group.p), std::move(group.g));
        initType = SSH_MSG_KEX_DH_GEX_INIT;
        replyType = SSH_MSG_KEX_DH_GEX_REPLY;
    }
    dh.GeneratePrivate(static_cast<int>(2 * nbits), [&pool] { return pool.RandomByte(); });
    m_transport.Start(initType).PutMpint(dh.Public());
    m_transport.Send();
    if (m_transport.ReadPacket() != replyType) throw SSH_UNEXPECTED_PACKET;
    SKexDhReply reply;
    if (!ParseKexDhReply(m_transport.Payload(), reply)) throw SSH_UNEXPECTED_PACKET;
    if (!dh.InRange(reply.f)) throw SSH_HOSTKEY_MISMATCH;
    const CBigNum k = dh.Shared(reply.f);

    // H continues the running hash of versions and offers.
    CDigest hash(m_exchangeHash);
    HashString(hash, reply.hostKey);
    if (groupExchange) {
        HashUint32(hash, pbits);
        HashMpint(hash, dh.P());
        HashMpint(hash, dh.G());
    }
    HashMpint(hash, dh.Public());
    HashMpint(hash, reply.f);
    HashMpint(hash, k);
    const std::vector<std::uint8_t> h = hash.Final();
    m_sessionId = h;

    if (!m_pHostKey->SetKey(reply.hostKey) || !m_pHostKey->Verify(reply.signature, h)) throw SSH_HOSTKEY_MISMATCH;
    CheckHostKey(m_pHostKey->KeyString(), m_pHostKey->Fingerprint());

    m_transport.Start(SSH_MSG_NEWKEYS);
    m_transport.Send();
    if (m_transport.ReadPacket() != SSH_MSG_NEWKEYS) throw SSH_UNEXPECTED_PACKET;

    auto key = [&](char letter) { return DeriveKey(k, h, letter, m_sessionId); };
    std::vector<std::uint8_t> material = key('C');
    csCipherObj->SetKey(material);
    sshcrypto::Cleanse(material.data(), material.size());
    material = key('D');
    scCipherObj->SetKey(material);
    sshcrypto::Cleanse(material.data(), material.size());
    csCipherObj->SetIV(key('A'));
    scCipherObj->SetIV(key('B'));
    if (csMacObj) {
        material = key('E');
        csMacObj->SetKey(material);
        sshcrypto::Cleanse(material.data(), material.size());
    }
    if (scMacObj) {
        material = key('F');
        scMacObj->SetKey(material);
        sshcrypto::Cleanse(material.data(), material.size());
    }
    m_transport.SetOutgoing(std::move(csCipherObj), std::move(csMacObj), std::move(csCompObj));
    m_transport.SetIncoming(std::move(scCipherObj), std::move(scMacObj), std::move(scCompObj));
}

// ------------------------------------------------------- host-key cache

void CSSH2::CheckHostKey(const std::string& keyString, const std::string& fingerprint)
{
    const std::u16string name = AnsiToWide(HostKeyValueName(m_pHostKey->CacheType(), m_nPort, m_strHost));
    std::u16string stored;
    const bool present = RegReadString(HKEY_CURRENT_USER, kHostKeysKey, name, stored);
    if (present && WideToAnsi(stored) == keyString) return;
    const int absent = present ? 0 : 1;
    switch (present ? m_nChangedKeyPolicy : m_nAbsentKeyPolicy) {
    case HKP_KEEP_UNSTORED:
        return;
    case HKP_STORE:
        StoreHostKey(keyString);
        return;
    case HKP_ASK:
        if (m_pCallback) {
            if (m_pCallback(0, m_strHost.c_str(), fingerprint.c_str(), absent, m_pCallbackData) != 0)
                StoreHostKey(keyString);
            return;
        }
        throw SSH_ABANDONED;
    default:
        throw SSH_ABANDONED;
    }
}

void CSSH2::StoreHostKey(const std::string& keyString)
{
    const std::u16string name = AnsiToWide(HostKeyValueName(m_pHostKey->CacheType(), m_nPort, m_strHost));
    RegWriteString(HKEY_CURRENT_USER, kHostKeysKey, name, AnsiToWide(keyString));
}
