#include "ssh2/kex.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/text.h"
#include "sshcore/algorithms.h"
#include "sshcore/ecdh.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/negotiate.h"
#include "ssh2/errors.h"
#include "ssh2/messages.h"
#include "ssh2/random.h"
#include "ssh2/ssh2.h"

using sshcore::CBigNum;
using sshcore::CDigest;
using sshcore::CDiffieHellman;

namespace {

constexpr int kMinGroupBits = 1024;
constexpr int kMaxGroupBits = 8192;

}  // namespace

// ---------------------------------------------------------------- offers

using sshcore::EKexKind;
using sshcore::KexAlgorithms;
using sshcore::SKexAlgorithm;

std::vector<std::string> CSSH2::KexOffer()
{
    std::vector<std::string> names;
    for (const SKexAlgorithm& method : KexAlgorithms()) names.emplace_back(method.name);
    names.emplace_back(sshcore::kStrictKexClient);
    // Asks the server for its extensions (the signature algorithms it takes).
    names.emplace_back(sshcore::kExtInfoClient);
    return names;
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
    return sshcore::CompressionOffer(preferZlib);
}

std::string CSSH2::HostKeyValueName(const char* cacheType, std::uint32_t port, const std::string& host)
{
    return sshcore::HostKeyValueName(cacheType, port, host);
}

// ---------------------------------------------------------- key exchange

void CSSH2::KeyExchange()
{
    CRandomPool::Instance().Initialise();
    // The server's offer, read by the login step.
    if (m_transport.Type() != SSH_MSG_KEXINIT) throw SSH_UNEXPECTED_PACKET;
    const std::vector<std::uint8_t> serverKexInit(m_transport.Payload().begin(), m_transport.Payload().end());
    SendKexInit(true);
    ExchangeKeys(serverKexInit, true);
    // From now on the server may ask for new keys at any time, and our own
    // limits ask for them too.
    m_transport.SetKeyExchanger(this);
}

void CSSH2::StartKeyExchange() { SendKexInit(false); }

void CSSH2::ServerStartedKeyExchange()
{
    const std::vector<std::uint8_t> serverKexInit(m_transport.Payload().begin(), m_transport.Payload().end());
    if (!m_transport.KeyExchangeSent()) SendKexInit(false);
    ExchangeKeys(serverKexInit, false);
    ++m_nKeyExchanges;
}

void CSSH2::SendKexInit(bool first)
{
    // The strict marker and the request for extensions belong to the first
    // exchange only.
    m_offer.lists[sshcore::OFFER_KEX] = KexOffer();
    if (!first) m_offer.lists[sshcore::OFFER_KEX].resize(KexAlgorithms().size());
    // The algorithms of the keys already known for the host come first, so
    // that a server that still has its old key presents it. A later exchange
    // asks for the key the first one checked, and no other.
    m_offer.lists[sshcore::OFFER_HOSTKEY] =
        first ? sshcore::OrderHostKeyOffer(CSshHostKey::Names(), sshcore::HostKeyOfferHints(m_nPort, m_strHost))
              : std::vector<std::string>{m_agreed[sshcore::OFFER_HOSTKEY]};
    for (int dir = 0; dir < 2; ++dir) {
        m_offer.lists[sshcore::OFFER_CIPHER_OUT + dir] = CipherOffer();
        m_offer.lists[sshcore::OFFER_MAC_OUT + dir] = MacOffer();
    }
    m_offer.lists[sshcore::OFFER_COMP_OUT] = CompressionOffer(m_bCompressOut);
    m_offer.lists[sshcore::OFFER_COMP_IN] = CompressionOffer(m_bCompressIn);

    CSshPacketBuilder& out = m_transport.Start(SSH_MSG_KEXINIT);
    std::uint8_t cookie[16];
    CRandomPool::Instance().RandomBytes(cookie, sizeof cookie);
    out.PutRaw(sshcore::KexInitBody(cookie, m_offer));
    m_clientKexInit.assign(out.Payload().begin(), out.Payload().end());
    m_transport.Send();
}

void CSSH2::ExchangeKeys(const std::vector<std::uint8_t>& serverKexInit, bool first)
{
    SExchangeHashInput hashInput;
    hashInput.clientVersion = kClientVersion;
    hashInput.serverVersion = m_strServerVersion;
    hashInput.serverKexInit = serverKexInit;
    hashInput.clientKexInit = m_clientKexInit;
    sshcore::SKexOffer server;
    bool guessFollows = false;
    if (!sshcore::ParseKexInit(hashInput.serverKexInit, server, guessFollows)) throw SSH_UNEXPECTED_PACKET;
    const std::vector<std::string>& serverKex = server.lists[sshcore::OFFER_KEX];

    // Strict key exchange: the server's KEXINIT must have been its very
    // first packet, and until its NEWKEYS nothing else may come in between.
    // Once agreed, every NEWKEYS of the connection starts the sequence
    // numbers again.
    if (first) {
        m_bStrictKex = std::find(serverKex.begin(), serverKex.end(), sshcore::kStrictKexServer) != serverKex.end();
        if (m_bStrictKex) {
            if (m_transport.InSequence() != 1) throw SSH_UNEXPECTED_PACKET;
            m_transport.SetStrictKex(true);
        }
    }

    // Negotiation: the first of our names that the server lists. A server
    // that shares no method with us is not talked to at all.
    const sshcore::SKexAgreement agreed = sshcore::Negotiate(m_offer, server);
    if (!agreed.ok) Fail(SSH_CIPHER_ERROR, SL_NONE, 0, agreed.failure);
    // A wrong guess is dropped unread; strict key exchange allows none.
    if (guessFollows && !sshcore::GuessWasRight(m_offer, server)) {
        if (first && m_bStrictKex) throw SSH_UNEXPECTED_PACKET;
        m_transport.ReadPacket();
    }
    const auto& methods = KexAlgorithms();
    const auto chosen = std::find_if(methods.begin(), methods.end(), [&](const SKexAlgorithm& m) {
        return agreed.names[sshcore::OFFER_KEX] == m.name;
    });
    std::unique_ptr<CSshHostKey> hostKey = CSshHostKey::Create(agreed.names[sshcore::OFFER_HOSTKEY]);
    auto csCipherObj = CSshCipher::Create(agreed.names[sshcore::OFFER_CIPHER_OUT]);
    auto scCipherObj = CSshCipher::Create(agreed.names[sshcore::OFFER_CIPHER_IN]);
    auto csMacObj = CSshMac::Create(agreed.names[sshcore::OFFER_MAC_OUT]);
    auto scMacObj = CSshMac::Create(agreed.names[sshcore::OFFER_MAC_IN]);
    auto csCompObj = CSshCompressor::Create(agreed.names[sshcore::OFFER_COMP_OUT]);
    auto scCompObj = CSshCompressor::Create(agreed.names[sshcore::OFFER_COMP_IN]);
    if (chosen == methods.end() || !hostKey || !csCipherObj || !scCipherObj || !csCompObj || !scCompObj ||
        (!csCipherObj->IsAead() && !csMacObj) || (!scCipherObj->IsAead() && !scMacObj))
        throw SSH_CIPHER_ERROR;
    m_nKexIndex = static_cast<int>(chosen - methods.begin());
    const SKexAlgorithm& method = *chosen;
    m_agreed.assign(agreed.names.begin(), agreed.names.end());
    // An authenticated cipher protects its packets itself: no MAC in that
    // direction, whatever name was agreed.
    if (csCipherObj->IsAead()) csMacObj.reset();
    if (scCipherObj->IsAead()) scMacObj.reset();
    // New keys start new compression streams; after the login a delayed
    // method runs from its first packet.
    if (!first && m_nState == SS_LOGGED_IN) {
        if (csCompObj) csCompObj->Activate();
        if (scCompObj) scCompObj->Activate();
    }

    hashInput.hash = method.hash;
    if (method.kind == EKexKind::Ecdh)
        EllipticExchange(method.curve == sshcore::ECurveKind::P256, hashInput);
    else
        DiffieHellmanExchange(m_nKexIndex, std::max(csCipherObj->KeyBits(), scCipherObj->KeyBits()),
                              csCipherObj->KeyBits(), hashInput);

    const std::vector<std::uint8_t> h = ExchangeHash(hashInput);
    if (first) m_sessionId = h;
    if (!hostKey->SetKey(hashInput.hostKey)) throw SSH_HOSTKEY_MISMATCH;
    if (std::string_view(hostKey->KeyType()) == "ssh-rsa" && hostKey->Bits() < sshcore::kMinRsaHostKeyBits)
        throw SSH_HOSTKEY_TOO_SMALL;
    if (!hostKey->Verify(m_signature, h)) throw SSH_HOSTKEY_SIGNATURE;
    if (first) {
        m_pHostKey = std::move(hostKey);
        m_hostKeyBlob = hashInput.hostKey;
        CheckHostKey();
    } else if (hashInput.hostKey != m_hostKeyBlob) {
        // The key checked at the start is the only one this connection trusts.
        Fail(SSH_HOSTKEY_MISMATCH, SL_NONE, 0,
             "the server presented another host key in a later key exchange: the connection was stopped");
    }

    const CBigNum& k = hashInput.k;
    auto key = [&](char letter, std::size_t length) {
        return DeriveKey(hashInput.hash, k, h, letter, m_sessionId, length);
    };
    std::vector<std::uint8_t> material = key('C', csCipherObj->KeyBytes());
    csCipherObj->SetKey(material);
    sshcore::Cleanse(material.data(), material.size());
    material = key('D', scCipherObj->KeyBytes());
    scCipherObj->SetKey(material);
    sshcore::Cleanse(material.data(), material.size());
    if (csCipherObj->IvBytes()) {
        material = key('A', csCipherObj->IvBytes());
        csCipherObj->SetIV(material);
        sshcore::Cleanse(material.data(), material.size());
    }
    if (scCipherObj->IvBytes()) {
        material = key('B', scCipherObj->IvBytes());
        scCipherObj->SetIV(material);
        sshcore::Cleanse(material.data(), material.size());
    }
    if (csMacObj) {
        material = key('E', csMacObj->KeyLength());
        csMacObj->SetKey(material);
        sshcore::Cleanse(material.data(), material.size());
    }
    if (scMacObj) {
        material = key('F', scMacObj->KeyLength());
        scMacObj->SetKey(material);
        sshcore::Cleanse(material.data(), material.size());
    }
    hashInput.k = CBigNum();

    // Each direction changes keys at its own NEWKEYS: ours right after we
    // send it (what was held back meanwhile goes out under the new keys),
    // the server's once its NEWKEYS is read.
    m_transport.Start(SSH_MSG_NEWKEYS);
    m_transport.Send();
    if (m_bStrictKex) m_transport.ResetOutSequence();
    m_transport.SetOutgoing(std::move(csCipherObj), std::move(csMacObj), std::move(csCompObj));
    m_transport.SendHeldBack();
    if (m_transport.ReadPacket() != SSH_MSG_NEWKEYS) throw SSH_UNEXPECTED_PACKET;
    if (m_bStrictKex) {
        m_transport.ResetInSequence();
        m_transport.SetStrictKex(false);
    }
    m_transport.SetIncoming(std::move(scCipherObj), std::move(scMacObj), std::move(scCompObj));
}

void CSSH2::EllipticExchange(bool p256, SExchangeHashInput& hashInput)
{
    sshcore::CEcdh ecdh(p256 ? sshcore::ECurve::P256 : sshcore::ECurve::X25519);
    m_transport.Start(SSH_MSG_KEX_ECDH_INIT).PutString(ByteView(ecdh.Public()));
    m_transport.Send();
    if (m_transport.ReadPacket() != SSH_MSG_KEX_ECDH_REPLY) throw SSH_UNEXPECTED_PACKET;
    SKexEcdhReply reply;
    if (!ParseKexEcdhReply(m_transport.Payload(), reply)) throw SSH_UNEXPECTED_PACKET;
    std::vector<std::uint8_t> secret;
    if (!ecdh.Derive(reply.serverPublic, secret)) throw SSH_HOSTKEY_MISMATCH;
    hashInput.ecdh = true;
    hashInput.clientPublic = ecdh.Public();
    hashInput.serverPublic.assign(reply.serverPublic.begin(), reply.serverPublic.end());
    hashInput.hostKey.assign(reply.hostKey.begin(), reply.hostKey.end());
    m_signature.assign(reply.signature.begin(), reply.signature.end());
    hashInput.k = CBigNum::FromBytes(secret);
    sshcore::Cleanse(secret.data(), secret.size());
}

void CSSH2::DiffieHellmanExchange(int method, std::size_t cipherKeyBits, std::size_t oldCipherKeyBits,
                                  SExchangeHashInput& hashInput)
{
    CRandomPool& pool = CRandomPool::Instance();
    const SKexAlgorithm& kex = KexAlgorithms()[static_cast<std::size_t>(method)];
    std::size_t nbits = cipherKeyBits;
    CDiffieHellman dh = kex.group == 14   ? CDiffieHellman::Group14()
                        : kex.group == 16 ? CDiffieHellman::Group16()
                                          : CDiffieHellman::Group1();
    std::uint8_t initType = SSH_MSG_KEXDH_INIT, replyType = SSH_MSG_KEXDH_REPLY;
    // The SHA-1 methods size their numbers by the cipher of the client's
    // direction, at most 160 bits.
    if (kex.hash == sshcore::EDigest::Sha1) nbits = oldCipherKeyBits > 160 ? 160 : oldCipherKeyBits;
    if (sshcore::IsGroupExchange(kex)) {
        const bool current = kex.kind == EKexKind::GroupExchange;
        hashInput.groupExchange = true;
        hashInput.groupRange = current;
        if (current) {
            hashInput.minBits = sshcore::kGroupExchangeMinBits;
            hashInput.pbits = GroupExchangeRequestBits(cipherKeyBits);
            hashInput.maxBits = sshcore::kGroupExchangeMaxBits;
            CSshPacketBuilder& request = m_transport.Start(SSH_MSG_KEX_DH_GEX_REQUEST);
            request.PutUint32(hashInput.minBits);
            request.PutUint32(hashInput.pbits);
            request.PutUint32(hashInput.maxBits);
        } else {
            hashInput.pbits = GroupExchangeBits(nbits);
            m_transport.Start(SSH_MSG_KEX_DH_GEX_REQUEST_OLD).PutUint32(hashInput.pbits);
        }
        m_transport.Send();
        if (m_transport.ReadPacket() != SSH_MSG_KEX_DH_GEX_GROUP) throw SSH_UNEXPECTED_PACKET;
        SDhGroup group;
        if (!ParseDhGroup(m_transport.Payload(), group)) throw SSH_UNEXPECTED_PACKET;
        const CBigNum one(1);
        const int minBits = current ? static_cast<int>(sshcore::kGroupExchangeMinBits) : kMinGroupBits;
        if (group.p.IsNegative() || group.p.Bits() < minBits || group.p.Bits() > kMaxGroupBits ||
            group.g.Compare(one) <= 0 || group.g.Compare(group.p.Minus(1)) >= 0)
            throw SSH_HOSTKEY_MISMATCH;
        dh = CDiffieHellman(std::move(group.p), std::move(group.g));
        hashInput.p = dh.P();
        hashInput.g = dh.G();
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
    hashInput.hostKey.assign(reply.hostKey.begin(), reply.hostKey.end());
    m_signature.assign(reply.signature.begin(), reply.signature.end());
    hashInput.e = dh.Public();
    hashInput.f = reply.f;
    hashInput.k = dh.Shared(reply.f);
}

// ------------------------------------------------------- host-key cache

void CSSH2::CheckHostKey()
{
    const std::string cacheType = m_pHostKey->CacheType();
    const std::string keyString = m_pHostKey->KeyString();
    const sshcore::SHostKeyCheck check = sshcore::CheckHostKeyTrust(cacheType, keyString, m_nPort, m_strHost);

    m_hostKeyReport = SHostKeyReport();
    m_hostKeyReport.keyType = m_pHostKey->KeyType();
    m_hostKeyReport.fingerprint = m_pHostKey->Fingerprint();
    m_hostKeyReport.sha256 = m_pHostKey->Sha256Fingerprint();
    m_hostKeyReport.damagedCopy = check.damagedCopy;
    for (const sshcore::SKnownHostKey& known : check.known) {
        const std::vector<std::uint8_t> blob = sshcore::HostKeyBlobFromCache(known.cacheType, known.keyString);
        m_hostKeyReport.knownFingerprints.push_back(
            known.cacheType + " " + (blob.empty() ? std::string("(unreadable)") : sshcore::Sha256Fingerprint(blob)));
    }

    auto store = [&] { sshcore::StoreHostKey(cacheType, m_nPort, m_strHost, keyString); };
    // A yes is recorded with its time (and, for a key that needed one,
    // keeps the password home: see Authenticate).
    auto accept = [&] { sshcore::AcceptHostKey(cacheType, m_nPort, m_strHost, keyString, check.trust); };
    switch (check.trust) {
    case sshcore::EHostKeyTrust::Match:
        m_hostKeyReport.matched = true;
        return;
    case sshcore::EHostKeyTrust::FirstContact:
        m_hostKeyReport.event = HKE_ABSENT;
        switch (m_nAbsentKeyPolicy) {
        case HKP_KEEP_UNSTORED:
            return;
        case HKP_STORE:
            store();
            return;
        case HKP_STORE_AND_TELL:
            store();
            m_hostKeyReport.event = HKE_STORED;
            AskAboutHostKey(HKE_STORED);
            return;
        case HKP_ASK:
            if (!AskAboutHostKey(HKE_ABSENT)) throw SSH_HOSTKEY_REFUSED;
            accept();
            return;
        default:
            throw SSH_ABANDONED;
        }
    case sshcore::EHostKeyTrust::Revoked:
        // Listed as revoked by the user: no answer lets it through.
        m_hostKeyReport.event = HKE_CHANGED;
        throw SSH_HOSTKEY_REFUSED;
    case sshcore::EHostKeyTrust::Changed:
    case sshcore::EHostKeyTrust::NewType:
    case sshcore::EHostKeyTrust::Unverifiable:
        m_hostKeyReport.event = check.trust == sshcore::EHostKeyTrust::Changed   ? HKE_CHANGED
                                : check.trust == sshcore::EHostKeyTrust::NewType ? HKE_NEW_TYPE
                                                                                   : HKE_UNVERIFIABLE;
        // Nothing but the caller's own yes or the user's goes on.
        if (m_nChangedKeyPolicy == HKP_STORE ||
            (m_nChangedKeyPolicy == HKP_ASK && AskAboutHostKey(m_hostKeyReport.event))) {
            accept();
            return;
        }
        throw SSH_HOSTKEY_REFUSED;
    }
    throw SSH_HOSTKEY_REFUSED;
}

bool CSSH2::AskAboutHostKey(int event)
{
    if (!m_pCallback) return false;
    const std::string fingerprint = m_hostKeyReport.fingerprint + " " + m_hostKeyReport.sha256;
    return m_pCallback(0, m_strHost.c_str(), fingerprint.c_str(), event, m_pCallbackData) != 0;
}
