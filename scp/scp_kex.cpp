// The key exchange of the upload library's SSH-2 engine: our KEXINIT and the
// cipher offer behind it, the agreement, Diffie-Hellman (fixed groups and
// group exchange) or ECDH, the exchange hash and the server's host key, the
// derived keys of each direction.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scp/scp_crypto.h"
#include "scp/scp_job.h"
#include "sshcore/negotiate.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"
#include "scp/scp_store.h"
#include "sshcore/algorithms.h"
#include "sshcore/hostkey_trust.h"

namespace {

// The registry's key-exchange methods, in its order, as the engine's fields.
const std::vector<ScpKexMethod>& scp_kex_methods()
{
    static const std::vector<ScpKexMethod> methods = [] {
        std::vector<ScpKexMethod> list;
        for (const sshcore::SKexAlgorithm& m : sshcore::KexAlgorithms()) {
            const int kind = m.kind == sshcore::EKexKind::Ecdh               ? KEX_ECDH
                             : m.kind == sshcore::EKexKind::GroupExchange    ? KEX_GEX
                             : m.kind == sshcore::EKexKind::GroupExchangeOld ? KEX_GEX_OLD
                                                                             : KEX_DH_FIXED;
            const int hash = m.hash == sshcore::EDigest::Sha512   ? SCP_HASH_SHA512
                             : m.hash == sshcore::EDigest::Sha256 ? SCP_HASH_SHA256
                                                                  : SCP_HASH_SHA1;
            const int group = kind != KEX_ECDH ? m.group
                              : m.curve == sshcore::ECurveKind::P256 ? SCP_ECDH_P256
                                                                      : SCP_ECDH_X25519;
            list.push_back({m.name, kind, hash, group});
        }
        return list;
    }();
    return methods;
}
constexpr std::uint32_t kGexMin = sshcore::kGroupExchangeMinBits;
constexpr std::uint32_t kGexMax = sshcore::kGroupExchangeMaxBits;

// The names of this thread's latest key exchange (all point to static text).
thread_local const char* t_lastChosen[CH_COUNT];
thread_local bool t_lastStrict;

bool scp_kex_usable(const ScpKexMethod& m, bool noGex) { return !noGex || (m.kind != KEX_GEX && m.kind != KEX_GEX_OLD); }

std::vector<std::string> scp_hostkey_offer(const ScpSession* s)
{
    const std::span<const char* const> known = sshcore::HostKeyAlgorithms();
    return sshcore::OrderHostKeyOffer(
        {known.begin(), known.end()},
        sshcore::HostKeyOfferHints(static_cast<std::uint32_t>(scp_session_port(s)), s->cfg.host));
}

// What we offer, list by list, exactly as our KEXINIT carries it.
sshcore::SKexOffer scp_client_offer(const ScpSession* s)
{
    sshcore::SKexOffer offer;
    const bool noGex = (s->quirks >> SCP_QUIRK_NO_GEX) & 1;
    for (const ScpKexMethod& method : scp_kex_methods())
        if (scp_kex_usable(method, noGex)) offer.lists[sshcore::OFFER_KEX].emplace_back(method.name);
    // We take EXT_INFO: the server names the signature algorithms it takes.
    offer.lists[sshcore::OFFER_KEX].emplace_back(sshcore::kExtInfoClient);
    offer.lists[sshcore::OFFER_KEX].emplace_back(sshcore::kStrictKexClient);
    // The algorithms of the keys already stored for the host come first, so
    // that a server that still has its old key presents it.
    offer.lists[sshcore::OFFER_HOSTKEY] = scp_hostkey_offer(s);
    const std::vector<std::string> ciphers =
        scp_cipher_offer_names(s->cfg.cipherPrefs, s->cfg.allowSingleDes != 0, &offer.acceptedCiphers);
    std::vector<std::string> macs;
    for (const sshcore::SMacAlgorithm& mac : sshcore::MacAlgorithms()) macs.emplace_back(mac.name);
    const std::vector<std::string> compression = sshcore::CompressionOffer(s->cfg.compression != 0);
    for (int dir = 0; dir < 2; ++dir) {
        offer.lists[sshcore::OFFER_CIPHER_OUT + dir] = ciphers;
        offer.lists[sshcore::OFFER_MAC_OUT + dir] = macs;
        offer.lists[sshcore::OFFER_COMP_OUT + dir] = compression;
    }
    return offer;
}

}  // namespace

int scp_build_kexinit(ScpSession* s)
{
    ScpBuf* m = &s->msg;
    int rc = scp_msg_start(s, MSG_KEXINIT);
    std::uint8_t cookie[16];
    scp_random_bytes(s->pool, cookie, sizeof cookie);
    const std::vector<std::uint8_t> body = sshcore::KexInitBody(cookie, scp_client_offer(s));
    if (!rc) rc = scp_buf_put(m, body.data(), body.size());
    if (!rc) {
        s->kexinitClient.len = 0;
        rc = scp_buf_put(&s->kexinitClient, m->data, m->len);
    }
    if (!rc) rc = scp_send_msg(s);
    if (!rc) s->kexPending = true;
    return rc;
}

namespace {

// The static text of an agreed name (the session keeps pointers only).
const char* scp_static_name(std::span<const char* const> names, const std::string& name)
{
    for (const char* known : names)
        if (name == known) return known;
    return nullptr;
}

const char* scp_mac_static_name(const std::string& name)
{
    const sshcore::SMacAlgorithm* mac = sshcore::FindMacAlgorithm(name);
    return mac ? mac->name : nullptr;
}

int scp_start_dh(ScpSession* s)
{
    // x of 2n random bits, e = g^x mod p.
    if (const int rc = scp_dh_generate(s->p, s->g, 2 * s->keyBits, s->pool, &s->x, &s->e)) return rc;
    int rc = scp_msg_start(s, s->kex->kind == KEX_DH_FIXED ? MSG_KEXDH_INIT : MSG_KEX_DH_GEX_INIT);
    if (!rc) rc = scp_buf_put_mpint(&s->msg, s->e);
    if (!rc) rc = scp_send_msg(s);
    if (!rc) s->state = SCP_SS_KEX_REPLY;
    return rc;
}

bool scp_is_aead(const ScpCipherInfo& info) { return info.mode == SCP_MODE_GCM || info.mode == SCP_MODE_CHACHA; }

}  // namespace

int scp_handle_kexinit(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq)
{
    s->kexinitServer.len = 0;
    int rc = scp_buf_put(&s->kexinitServer, payload, len);
    if (rc) return rc;
    sshcore::SKexOffer theirs;
    bool follows = false;
    if (!sshcore::ParseKexInit(ByteView(payload, len), theirs, follows)) return SCP_E_RECEIVE;
    const std::vector<std::string>& theirKex = theirs.lists[sshcore::OFFER_KEX];

    // Strict key exchange: the server's KEXINIT must have been its first packet.
    if (!s->haveSessionId && std::find(theirKex.begin(), theirKex.end(), sshcore::kStrictKexServer) != theirKex.end()) {
        if (seq != 0) return SCP_E_AUTHENTICATE;
        s->strict = true;
    }
    const sshcore::SKexOffer ours = scp_client_offer(s);
    const sshcore::SKexAgreement agreed = sshcore::Negotiate(ours, theirs);
    if (!agreed.ok) {
        scp_job_error_detail(s->job, agreed.failure.c_str());
        if (!scp_send_disconnect(s, SCP_DISCONNECT_KEY_EXCHANGE_FAILED, "No common algorithm\n")) scp_socket_flush(s);
        return SCP_E_AUTHENTICATE;
    }
    s->kex = nullptr;
    for (const ScpKexMethod& method : scp_kex_methods())
        if (!s->kex && agreed.names[sshcore::OFFER_KEX] == method.name) s->kex = &method;
    s->chosen[CH_KEX] = s->kex ? s->kex->name : nullptr;
    s->chosen[CH_HOSTKEY] = scp_static_name(sshcore::HostKeyAlgorithms(), agreed.names[sshcore::OFFER_HOSTKEY]);
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    const auto cipherIndex = [&](const std::string& name) {
        const ScpCipherInfo* info = scp_cipher_by_name(name.data(), name.size());
        return info ? static_cast<int>(info - table) : -1;
    };
    s->cipherOut = cipherIndex(agreed.names[sshcore::OFFER_CIPHER_OUT]);
    s->cipherIn = cipherIndex(agreed.names[sshcore::OFFER_CIPHER_IN]);
    if (!s->chosen[CH_KEX] || !s->chosen[CH_HOSTKEY] || s->cipherOut < 0 || s->cipherIn < 0) return SCP_E_INTERNAL;
    s->chosen[CH_CIPHER_OUT] = table[s->cipherOut].name;
    s->chosen[CH_CIPHER_IN] = table[s->cipherIn].name;
    s->chosen[CH_MAC_OUT] = scp_mac_static_name(agreed.names[sshcore::OFFER_MAC_OUT]);
    s->chosen[CH_MAC_IN] = scp_mac_static_name(agreed.names[sshcore::OFFER_MAC_IN]);
    s->chosen[CH_COMP_OUT] = scp_static_name(sshcore::CompressionAlgorithms(), agreed.names[sshcore::OFFER_COMP_OUT]);
    s->chosen[CH_COMP_IN] = scp_static_name(sshcore::CompressionAlgorithms(), agreed.names[sshcore::OFFER_COMP_IN]);
    if (!s->chosen[CH_MAC_OUT] || !s->chosen[CH_MAC_IN] || !s->chosen[CH_COMP_OUT] || !s->chosen[CH_COMP_IN])
        return SCP_E_INTERNAL;
    if (follows) s->skipGuess = !sshcore::GuessWasRight(ours, theirs);
    // n: the longer key of the two ciphers.
    int bits = table[s->cipherOut].keyBits;
    if (table[s->cipherIn].keyBits > bits) bits = table[s->cipherIn].keyBits;
    const int kind = s->kex->kind;
    // The older methods keep their 160-bit cap (the exponent's size too).
    if (kind == KEX_GEX_OLD || (kind == KEX_DH_FIXED && s->kex->group == 1)) bits = bits > 160 ? 160 : bits;
    s->keyBits = bits;
    s->gex = kind == KEX_GEX_OLD || kind == KEX_GEX;
    if (kind == KEX_ECDH) {
        s->qc.len = 0;
        rc = scp_ecdh_start(&s->ecdh, s->kex->group, nullptr, &s->qc);
        if (!rc) rc = scp_msg_start(s, MSG_KEX_ECDH_INIT);
        if (!rc) rc = scp_buf_put_string(&s->msg, s->qc.data, s->qc.len);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_REPLY;
        return rc;
    }
    if (kind == KEX_GEX_OLD) {
        s->gexBits = sshcore::GroupExchangeBits(static_cast<std::size_t>(bits));
        rc = scp_msg_start(s, MSG_KEX_DH_GEX_REQUEST_OLD);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->gexBits);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_GROUP;
        return rc;
    }
    if (kind == KEX_GEX) {
        // Our choice: a group as strong as the cipher key, no stronger
        // (a longer group costs time and buys nothing).
        s->gexBits = sshcore::GroupExchangeRequestBits(static_cast<std::size_t>(bits));
        rc = scp_msg_start(s, MSG_KEX_DH_GEX_REQUEST);
        if (!rc) rc = scp_buf_put_u32(&s->msg, kGexMin);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->gexBits);
        if (!rc) rc = scp_buf_put_u32(&s->msg, kGexMax);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_GROUP;
        return rc;
    }
    rc = scp_dh_fixed_group(s->kex->group, &s->p, &s->g);
    if (rc) return rc;
    return scp_start_dh(s);
}

int scp_handle_group(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload, len);
    std::uint8_t type = 0;
    scp_get_byte(&r, &type);
    scp_bn_free(s->p);
    scp_bn_free(s->g);
    s->p = s->g = nullptr;
    if (!scp_get_mpint(&r, &s->p) || !scp_get_mpint(&r, &s->g)) return SCP_E_INTERNAL;
    // The group asked for: 2048 to 8192 bits (512 up in the old request, which names no range), 1 < g < p - 1.
    const int minBits = s->kex->kind == KEX_GEX ? static_cast<int>(kGexMin) : 512;
    if (!scp_dh_group_usable(s->p, s->g, minBits, static_cast<int>(kGexMax))) return SCP_E_INTERNAL;
    return scp_start_dh(s);
}

namespace {

int scp_hash_key(ScpSession* s, char letter, std::uint8_t* out, std::size_t outLen)
{
    const bool noSecret = (s->quirks >> SCP_QUIRK_KDF_NO_SECRET) & 1;
    return scp_kex_derive(s->kex->hash, noSecret ? nullptr : s->kMpint.data, noSecret ? 0 : s->kMpint.len, s->h, s->hLen,
                          letter, s->sessionId, s->sessionIdLen, out, outLen);
}

int scp_mac_kind(const char* name)
{
    if (std::strcmp(name, "hmac-sha1") == 0) return SCP_MAC_SHA1;
    if (std::strcmp(name, "hmac-md5") == 0) return SCP_MAC_MD5;
    if (std::strcmp(name, "hmac-sha2-256") == 0) return SCP_MAC_SHA256;
    if (std::strcmp(name, "hmac-sha2-512") == 0) return SCP_MAC_SHA512;
    if (std::strcmp(name, "hmac-sha2-256-etm@openssh.com") == 0) return SCP_MAC_SHA256_ETM;
    if (std::strcmp(name, "hmac-sha2-512-etm@openssh.com") == 0) return SCP_MAC_SHA512_ETM;
    return SCP_MAC_NONE;
}

}  // namespace

// Starts a direction's compression: "zlib" with the new keys,
// "zlib@openssh.com" once the user is authenticated.
int scp_start_compression(ScpSession* s, bool outgoing)
{
    ScpZlib* zlib = outgoing ? &s->pout.zlib : &s->pin.zlib;
    const char* name = s->chosen[outgoing ? CH_COMP_OUT : CH_COMP_IN];
    if (zlib->stream || !name) return SCP_OK;
    const bool now = std::strcmp(name, "zlib") == 0 || (s->authenticated && std::strcmp(name, "zlib@openssh.com") == 0);
    return now ? scp_zlib_start(zlib, outgoing) : SCP_OK;
}

int scp_install_keys(ScpSession* s, bool outgoing)
{
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    const ScpCipherInfo* info = &table[outgoing ? s->cipherOut : s->cipherIn];
    // An authenticated cipher uses no MAC: no MAC key is derived.
    const int kind = scp_is_aead(*info) ? SCP_MAC_NONE : scp_mac_kind(s->chosen[outgoing ? CH_MAC_OUT : CH_MAC_IN]);
    std::size_t macKeyLen = scp_mac_key_len(kind);
    if (kind == SCP_MAC_SHA1 && ((s->quirks >> SCP_QUIRK_SHORT_HMAC) & 1)) macKeyLen = 16;
    std::uint8_t iv[64], key[64], mackey[64];
    int rc = SCP_OK;
    if (info->ivBytes) rc = scp_hash_key(s, outgoing ? 'A' : 'B', iv, static_cast<std::size_t>(info->ivBytes));
    if (!rc) rc = scp_hash_key(s, outgoing ? 'C' : 'D', key, static_cast<std::size_t>(info->keyBytes));
    if (!rc && macKeyLen) rc = scp_hash_key(s, outgoing ? 'E' : 'F', mackey, macKeyLen);
    ScpCipher* cipher = outgoing ? &s->pout.cipher : &s->pin.cipher;
    ScpMac* mac = outgoing ? &s->pout.mac : &s->pin.mac;
    if (!rc) rc = scp_cipher_start(cipher, info, key, iv, outgoing);
    if (!rc) rc = scp_mac_start(mac, kind, mackey, macKeyLen);
    // Each set of keys starts its compression afresh.
    if (!rc && s->rekeying) scp_zlib_end(outgoing ? &s->pout.zlib : &s->pin.zlib);
    if (!rc) rc = scp_start_compression(s, outgoing);
    scp_wipe(iv, sizeof iv);
    scp_wipe(key, sizeof key);
    scp_wipe(mackey, sizeof mackey);
    return rc;
}

namespace {

int scp_check_host_key(ScpSession* s, const ScpHostKey* key, const std::uint8_t* blob, std::size_t blobLen)
{
    const std::uint32_t port = static_cast<std::uint32_t>(scp_session_port(s));
    const sshcore::SHostKeyCheck check = sshcore::CheckHostKeyTrust(key->cacheType, key->text, port, s->cfg.host);
    auto remember = [&] { return sshcore::StoreHostKey(key->cacheType, port, s->cfg.host, key->text); };
    // A yes (the user's, or the caller's on the user's behalf) is recorded
    // with its time; after a key that needed one the password stays home.
    auto accept = [&] {
        sshcore::AcceptHostKey(key->cacheType, port, s->cfg.host, key->text, check.trust);
        s->passwordWithheld = sshcore::WithholdsPassword(check.trust);
    };
    auto ask = [&](int what) {
        if (!scp_job_has_callback(s->job)) return false;
        const std::string detail =
            std::string(key->fingerprint) + " " + sshcore::Sha256Fingerprint(std::span(blob, blobLen));
        return scp_job_event(s->job, SCP_EVENT_HOSTKEY, s->cfg.host, detail.c_str(), what) != 0;
    };
    switch (check.trust) {
    case sshcore::EHostKeyTrust::Match:
        return SCP_OK;
    case sshcore::EHostKeyTrust::FirstContact:
        switch (s->cfg.newHostKeyPolicy) {
        case HOSTKEY_ACCEPT_ONCE: return SCP_OK;
        case HOSTKEY_ACCEPT_AND_STORE: remember(); return SCP_OK;
        case HOSTKEY_ASK:
            if (!ask(SCP_HOSTKEY_ABSENT)) return SCP_E_HOSTKEY_REFUSED;
            accept();
            return SCP_OK;
        default: return SCP_E_HOSTKEY_REFUSED;
        }
    case sshcore::EHostKeyTrust::Revoked:
        // Listed as revoked by the user: no answer lets it through.
        return SCP_E_HOSTKEY_REFUSED;
    case sshcore::EHostKeyTrust::Changed:
    case sshcore::EHostKeyTrust::NewType:
    case sshcore::EHostKeyTrust::Unverifiable: {
        const int what = check.trust == sshcore::EHostKeyTrust::Changed   ? SCP_HOSTKEY_CHANGED
                         : check.trust == sshcore::EHostKeyTrust::NewType ? SCP_HOSTKEY_NEW_TYPE
                                                                            : SCP_HOSTKEY_UNVERIFIABLE;
        // Nothing but the caller's own yes or the user's goes on.
        if (s->cfg.changedHostKeyPolicy == HOSTKEY_ACCEPT_AND_STORE ||
            (s->cfg.changedHostKeyPolicy == HOSTKEY_ASK && ask(what))) {
            accept();
            return SCP_OK;
        }
        return SCP_E_HOSTKEY_REFUSED;
    }
    }
    return SCP_E_HOSTKEY_REFUSED;
}

}  // namespace

// The server's reply, both forms: string K_S, then mpint f (Diffie-Hellman)
// or string Q_S (ECDH), then the signature over the exchange hash H.
int scp_handle_kex_reply(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload, len);
    std::uint8_t type = 0;
    const std::uint8_t *blob = nullptr, *sig = nullptr, *qs = nullptr;
    std::size_t blobLen = 0, sigLen = 0, qsLen = 0;
    BIGNUM* f = nullptr;
    const bool ecdh = s->kex->kind == KEX_ECDH;
    scp_get_byte(&r, &type);
    if (!scp_get_string(&r, &blob, &blobLen, 8192)) return SCP_E_RECEIVE;
    if (ecdh ? !scp_get_string(&r, &qs, &qsLen, 256) : !scp_get_mpint(&r, &f)) return SCP_E_RECEIVE;
    if (!scp_get_string(&r, &sig, &sigLen, 8192)) {
        scp_bn_free(f);
        return SCP_E_RECEIVE;
    }
    int rc = SCP_OK;
    s->kMpint.len = 0;
    if (ecdh) {
        rc = scp_ecdh_finish(&s->ecdh, qs, qsLen, &s->kMpint);
        scp_ecdh_end(&s->ecdh);
    } else {
        // 1 < f < p - 1
        rc = scp_dh_shared(s->p, s->x, f, &s->k);
        if (!rc) rc = scp_buf_put_mpint(&s->kMpint, s->k);
    }
    ScpHostKey key{};
    if (!rc) rc = scp_hostkey_parse(blob, blobLen, &key);
    if (!rc && key.type != scp_hostkey_alg_type(s->chosen[CH_HOSTKEY])) rc = SCP_E_AUTHENTICATE;
    ScpExchangeParts parts{};
    parts.clientVersion = kClientVersion;
    parts.serverVersion = s->serverLine;
    parts.kexinitClient = s->kexinitClient.data;
    parts.kexinitClientLen = s->kexinitClient.len;
    parts.kexinitServer = s->kexinitServer.data;
    parts.kexinitServerLen = s->kexinitServer.len;
    parts.hostKey = blob;
    parts.hostKeyLen = blobLen;
    parts.gex = s->kex->kind == KEX_GEX ? SCP_GEX_RANGE : s->kex->kind == KEX_GEX_OLD ? SCP_GEX_OLD : SCP_GEX_NONE;
    parts.gexMin = kGexMin;
    parts.gexBits = s->gexBits;
    parts.gexMax = kGexMax;
    parts.p = s->p;
    parts.g = s->g;
    parts.e = ecdh ? nullptr : s->e;
    parts.f = f;
    parts.qc = s->qc.data;
    parts.qcLen = s->qc.len;
    parts.qs = qs;
    parts.qsLen = qsLen;
    parts.kMpint = s->kMpint.data;
    parts.kLen = s->kMpint.len;
    s->hLen = scp_hash_len(s->kex->hash);
    if (!rc) rc = scp_exchange_hash(s->kex->hash, &parts, s->h);
    scp_bn_free(f);
    if (!rc && scp_hostkey_verify_alg(&key, s->chosen[CH_HOSTKEY], sig, sigLen, s->h, s->hLen) != 0)
        rc = SCP_E_HOSTKEY_SIGNATURE;
    if (!rc && s->haveSessionId) {
        // A later exchange: the key must be the one the session began with.
        if (blobLen != s->hostKeyBlob.len || !scp_equal_secret(blob, s->hostKeyBlob.data, blobLen)) {
            scp_job_error_detail(s->job, "the server's host key changed in a later key exchange");
            rc = SCP_E_HOSTKEY_REFUSED;
        }
    } else if (!rc) {
        rc = scp_check_host_key(s, &key, blob, blobLen);
        s->hostKeyBlob.len = 0;
        if (!rc) rc = scp_buf_put(&s->hostKeyBlob, blob, blobLen);
    }
    scp_hostkey_free(&key);
    if (rc) return rc;
    for (int i = 0; i < CH_COUNT; ++i) t_lastChosen[i] = s->chosen[i];
    t_lastStrict = s->strict;
    if (!s->haveSessionId) {
        std::memcpy(s->sessionId, s->h, s->hLen);
        s->sessionIdLen = s->hLen;
        s->haveSessionId = true;
    }
    rc = scp_msg_start(s, MSG_NEWKEYS);
    if (!rc) rc = scp_send_msg(s);
    // Strict key exchange: our sequence numbers start again after NEWKEYS.
    if (!rc && s->strict) s->pout.seq = 0;
    if (!rc) rc = scp_install_keys(s, true);
    if (!rc) s->state = SCP_SS_NEWKEYS;
    if (!rc) rc = scp_send_deferred(s);
    return rc;
}

const char* scp_kex_last_chosen(int which) { return t_lastChosen[which]; }
bool scp_kex_last_strict() { return t_lastStrict; }
