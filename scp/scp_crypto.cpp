#include "scp/scp_crypto.h"

#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>

#include "scp/scp.h"
#include "scp/scp_store.h"
#include "ssh2/crypto/aead.h"
#include "ssh2/crypto/bignum.h"
#include "ssh2/crypto/cipher.h"
#include "ssh2/crypto/digest.h"
#include "ssh2/crypto/ecdh.h"
#include "ssh2/crypto/hostkey.h"
#include "ssh2/crypto/hostkey_trust.h"
#include "ssh2/crypto/key_sign.h"
#include "ssh2/crypto/private_key.h"
#include "ssh2/crypto/zlib_stream.h"

namespace {
const ScpCipherInfo kCiphers[] = {
    {"aes256-gcm@openssh.com", "AES-256-GCM", SCP_CIPHER_AES, 32, 16, 256, SCP_MODE_GCM, 12},
    {"aes128-gcm@openssh.com", "AES-128-GCM", SCP_CIPHER_AES, 16, 16, 128, SCP_MODE_GCM, 12},
    {"chacha20-poly1305@openssh.com", "ChaCha20", SCP_CIPHER_AES, 64, 8, 256, SCP_MODE_CHACHA, 0},
    {"aes256-ctr", "AES-256-CTR", SCP_CIPHER_AES, 32, 16, 256, SCP_MODE_CTR, 16},
    {"aes192-ctr", "AES-192-CTR", SCP_CIPHER_AES, 24, 16, 192, SCP_MODE_CTR, 16},
    {"aes128-ctr", "AES-128-CTR", SCP_CIPHER_AES, 16, 16, 128, SCP_MODE_CTR, 16},
    {"aes256-cbc", "AES-256-CBC", SCP_CIPHER_AES, 32, 16, 256, SCP_MODE_CBC, 16},
    {"rijndael256-cbc", "AES-256-CBC", SCP_CIPHER_AES, 32, 16, 256, SCP_MODE_CBC, 16},
    {"rijndael-cbc@lysator.liu.se", "AES-256-CBC", SCP_CIPHER_AES, 32, 16, 256, SCP_MODE_CBC, 16},
    {"aes192-cbc", "AES-192-CBC", SCP_CIPHER_AES, 24, 16, 192, SCP_MODE_CBC, 16},
    {"rijndael192-cbc", "AES-192-CBC", SCP_CIPHER_AES, 24, 16, 192, SCP_MODE_CBC, 16},
    {"aes128-cbc", "AES-128-CBC", SCP_CIPHER_AES, 16, 16, 128, SCP_MODE_CBC, 16},
    {"rijndael128-cbc", "AES-128-CBC", SCP_CIPHER_AES, 16, 16, 128, SCP_MODE_CBC, 16},
    {"blowfish-cbc", "BF-CBC", SCP_CIPHER_BLOWFISH, 16, 8, 128, SCP_MODE_CBC, 8},
    {"3des-cbc", "DES-EDE3-CBC", SCP_CIPHER_3DES, 24, 8, 168, SCP_MODE_CBC, 8},
    {"des-cbc", "DES-CBC", SCP_CIPHER_DES, 8, 8, 56, SCP_MODE_CBC, 8},
};
}  // namespace

bool scp_crypto_legacy_available()
{
    return sshcrypto::CipherAvailable(sshcrypto::ECipher::BlowfishCbc);
}

const ScpCipherInfo* scp_cipher_table(std::size_t* count)
{
    *count = sizeof kCiphers / sizeof kCiphers[0];
    return kCiphers;
}

const ScpCipherInfo* scp_cipher_by_name(const char* name, std::size_t len)
{
    for (const auto& info : kCiphers)
        if (std::strlen(info.name) == len && std::memcmp(info.name, name, len) == 0) return &info;
    return nullptr;
}

namespace {
// The shared block cipher of a CBC or CTR entry of the table.
bool scp_block_kind(const ScpCipherInfo* info, sshcrypto::ECipher* kind)
{
    static const struct {
        const char* evpName;
        sshcrypto::ECipher kind;
    } kKinds[] = {
        {"AES-128-CBC", sshcrypto::ECipher::Aes128Cbc},  {"AES-192-CBC", sshcrypto::ECipher::Aes192Cbc},
        {"AES-256-CBC", sshcrypto::ECipher::Aes256Cbc},  {"BF-CBC", sshcrypto::ECipher::BlowfishCbc},
        {"DES-EDE3-CBC", sshcrypto::ECipher::TripleDesCbc}, {"DES-CBC", sshcrypto::ECipher::DesCbc},
        {"AES-128-CTR", sshcrypto::ECipher::Aes128Ctr},  {"AES-192-CTR", sshcrypto::ECipher::Aes192Ctr},
        {"AES-256-CTR", sshcrypto::ECipher::Aes256Ctr},
    };
    for (const auto& k : kKinds)
        if (std::strcmp(k.evpName, info->evpName) == 0) {
            *kind = k.kind;
            return true;
        }
    return false;
}
}  // namespace

int scp_cipher_start(ScpCipher* cipher, const ScpCipherInfo* info, const std::uint8_t* key, const std::uint8_t* iv,
                     bool encrypt)
{
    scp_cipher_end(cipher);
    const std::span<const std::uint8_t> keyBytes(key, static_cast<std::size_t>(info->keyBytes));
    // The C-style struct holds the shared primitive; scp_cipher_end takes it back.
    try {
        switch (info->mode) {
        case SCP_MODE_GCM:
            cipher->gcm = std::make_unique<sshcrypto::CAesGcm>(keyBytes, std::span<const std::uint8_t>(iv, 12)).release();
            break;
        case SCP_MODE_CHACHA: cipher->chacha = std::make_unique<sshcrypto::CChaChaPoly>(keyBytes).release(); break;
        default: {
            sshcrypto::ECipher kind{};
            if (!scp_block_kind(info, &kind) || !sshcrypto::CipherAvailable(kind)) return SCP_E_INTERNAL;
            const std::span<const std::uint8_t> ivBytes(iv, static_cast<std::size_t>(info->ivBytes));
            cipher->block = std::make_unique<sshcrypto::CBlockCipher>(kind, encrypt, keyBytes, ivBytes).release();
            break;
        }
        }
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    cipher->encrypt = encrypt;
    cipher->info = info;
    return SCP_OK;
}

bool scp_cipher_active(const ScpCipher* cipher) { return cipher->block || cipher->gcm || cipher->chacha; }

int scp_cipher_run(ScpCipher* cipher, std::uint8_t* data, std::size_t len)
{
    if (!scp_cipher_active(cipher) || len == 0) return SCP_OK;
    if (!cipher->block) return SCP_E_INTERNAL;
    if (len % static_cast<std::size_t>(cipher->info->blockSize) != 0) return SCP_E_RECEIVE;
    try {
        cipher->block->Process(data, len);
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    return SCP_OK;
}

std::size_t scp_cipher_tag_len(const ScpCipher* cipher)
{
    if (!cipher->info) return SCP_OK;
    return cipher->info->mode == SCP_MODE_GCM || cipher->info->mode == SCP_MODE_CHACHA ? 16 : 0;
}

int scp_cipher_peek_length(ScpCipher* cipher, std::uint32_t seq, const std::uint8_t in[4], std::uint32_t* length)
{
    try {
        *length = cipher->chacha ? cipher->chacha->DecryptLength(seq, in) : scp_load_u32(in);
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    return SCP_OK;
}

int scp_cipher_seal(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total, std::uint8_t* tag)
{
    if (total < 4 || (!cipher->gcm && !cipher->chacha)) return SCP_E_INTERNAL;
    try {
        if (cipher->gcm) cipher->gcm->Seal(std::span<const std::uint8_t>(packet, 4), packet + 4, total - 4, tag);
        else cipher->chacha->Seal(seq, packet, total, tag);
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    return SCP_OK;
}

int scp_cipher_open(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total,
                    const std::uint8_t* tag)
{
    if (total < 4 || (!cipher->gcm && !cipher->chacha)) return SCP_E_INTERNAL;
    bool ok = false;
    try {
        ok = cipher->gcm ? cipher->gcm->Open(std::span<const std::uint8_t>(packet, 4), packet + 4, total - 4, tag)
                         : cipher->chacha->Open(seq, packet, total, tag);
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    // Nothing of a packet whose tag is wrong is kept.
    if (!ok) sshcrypto::Cleanse(packet + 4, total - 4);
    return ok ? SCP_OK : SCP_E_RECEIVE;
}

void scp_cipher_end(ScpCipher* cipher)
{
    std::unique_ptr<sshcrypto::CBlockCipher> block(cipher->block);
    std::unique_ptr<sshcrypto::CAesGcm> gcm(cipher->gcm);
    std::unique_ptr<sshcrypto::CChaChaPoly> chacha(cipher->chacha);
    *cipher = ScpCipher{};
}

std::size_t scp_mac_key_len(int kind)
{
    switch (kind) {
    case SCP_MAC_SHA1: return 20;
    case SCP_MAC_MD5: return 16;
    case SCP_MAC_SHA256:
    case SCP_MAC_SHA256_ETM: return 32;
    case SCP_MAC_SHA512:
    case SCP_MAC_SHA512_ETM: return 64;
    default: return SCP_OK;
    }
}

bool scp_mac_is_etm(int kind) { return kind == SCP_MAC_SHA256_ETM || kind == SCP_MAC_SHA512_ETM; }

namespace {
sshcrypto::EDigest scp_mac_digest(int kind)
{
    switch (kind) {
    case SCP_MAC_SHA1: return sshcrypto::EDigest::Sha1;
    case SCP_MAC_SHA256:
    case SCP_MAC_SHA256_ETM: return sshcrypto::EDigest::Sha256;
    case SCP_MAC_SHA512:
    case SCP_MAC_SHA512_ETM: return sshcrypto::EDigest::Sha512;
    default: return sshcrypto::EDigest::Md5;
    }
}

sshcrypto::EDigest scp_hash_digest(int alg)
{
    return alg == SCP_HASH_SHA512 ? sshcrypto::EDigest::Sha512
           : alg == SCP_HASH_SHA256 ? sshcrypto::EDigest::Sha256
                                    : sshcrypto::EDigest::Sha1;
}

// A digest of the pieces; false when the primitive fails.
bool scp_digest_pieces(sshcrypto::EDigest kind, const ScpPiece* pieces, std::size_t count, std::uint8_t* out)
{
    try {
        sshcrypto::CDigest digest(kind);
        for (std::size_t i = 0; i < count; ++i) digest.Update(pieces[i].data, pieces[i].len);
        digest.Final(out);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
}  // namespace

int scp_mac_start(ScpMac* mac, int kind, const std::uint8_t* key, std::size_t keyLen)
{
    scp_mac_end(mac);
    if (kind == SCP_MAC_NONE) return SCP_OK;
    try {
        // The C-style struct holds the shared HMAC; scp_mac_end takes it back.
        mac->hmac = std::make_unique<sshcrypto::CHmac>(scp_mac_digest(kind), sshcrypto::ByteView(key, keyLen)).release();
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    mac->len = scp_mac_key_len(kind);
    mac->kind = kind;
    mac->etm = scp_mac_is_etm(kind);
    return SCP_OK;
}

int scp_mac_compute(ScpMac* mac, std::uint32_t seq, const std::uint8_t* data, std::size_t len, std::uint8_t* out)
{
    if (!mac->hmac) return SCP_OK;
    std::uint8_t seqBytes[4];
    scp_store_u32(seqBytes, seq);
    try {
        mac->hmac->Compute({sshcrypto::ByteView(seqBytes, 4), sshcrypto::ByteView(data, len)}, out);
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    return SCP_OK;
}

void scp_mac_end(ScpMac* mac)
{
    std::unique_ptr<sshcrypto::CHmac> owned(mac->hmac);
    mac->hmac = nullptr;
    mac->len = 0;
    mac->kind = SCP_MAC_NONE;
    mac->etm = false;
}

int scp_sha1(const ScpPiece* pieces, std::size_t count, std::uint8_t out[20])
{
    return scp_digest_pieces(sshcrypto::EDigest::Sha1, pieces, count, out) ? SCP_OK : SCP_E_INTERNAL;
}

std::size_t scp_hash_len(int alg) { return alg == SCP_HASH_SHA512 ? 64 : alg == SCP_HASH_SHA256 ? 32 : 20; }

int scp_hash(int alg, const ScpPiece* pieces, std::size_t count, std::uint8_t* out)
{
    return scp_digest_pieces(scp_hash_digest(alg), pieces, count, out) ? SCP_OK : SCP_E_INTERNAL;
}

int scp_exchange_hash(int hashAlg, const ScpExchangeParts* x, std::uint8_t* out)
{
    ScpBuf hashed{};
    int rc = scp_buf_put_cstring(&hashed, x->clientVersion);
    if (!rc) rc = scp_buf_put_cstring(&hashed, x->serverVersion);
    if (!rc) rc = scp_buf_put_string(&hashed, x->kexinitClient, x->kexinitClientLen);
    if (!rc) rc = scp_buf_put_string(&hashed, x->kexinitServer, x->kexinitServerLen);
    if (!rc) rc = scp_buf_put_string(&hashed, x->hostKey, x->hostKeyLen);
    if (!rc && x->gex != SCP_GEX_NONE) {
        if (x->gex == SCP_GEX_RANGE) rc = scp_buf_put_u32(&hashed, x->gexMin);
        if (!rc) rc = scp_buf_put_u32(&hashed, x->gexBits);
        if (!rc && x->gex == SCP_GEX_RANGE) rc = scp_buf_put_u32(&hashed, x->gexMax);
        if (!rc) rc = scp_buf_put_mpint(&hashed, x->p);
        if (!rc) rc = scp_buf_put_mpint(&hashed, x->g);
    }
    if (x->e) {
        if (!rc) rc = scp_buf_put_mpint(&hashed, x->e);
        if (!rc) rc = scp_buf_put_mpint(&hashed, x->f);
    } else {
        if (!rc) rc = scp_buf_put_string(&hashed, x->qc, x->qcLen);
        if (!rc) rc = scp_buf_put_string(&hashed, x->qs, x->qsLen);
    }
    if (!rc) rc = scp_buf_put(&hashed, x->kMpint, x->kLen);
    const ScpPiece piece = {hashed.data, hashed.len};
    if (!rc) rc = scp_hash(hashAlg, &piece, 1, out);
    scp_buf_wipe(&hashed);
    return rc;
}

int scp_kex_derive(int hashAlg, const std::uint8_t* kMpint, std::size_t kLen, const std::uint8_t* h, std::size_t hLen,
                   char letter, const std::uint8_t* sessionId, std::size_t sessionIdLen, std::uint8_t* out,
                   std::size_t outLen)
{
    const std::size_t step = scp_hash_len(hashAlg);
    std::uint8_t acc[4 * kScpMaxHash];
    if (outLen > sizeof acc - step) return SCP_E_INTERNAL;
    const ScpPiece first[] = {{kMpint, kLen}, {h, hLen}, {&letter, 1}, {sessionId, sessionIdLen}};
    int rc = scp_hash(hashAlg, first, 4, acc);
    std::size_t have = step;
    while (!rc && have < outLen) {
        const ScpPiece more[] = {{kMpint, kLen}, {h, hLen}, {acc, have}};
        rc = scp_hash(hashAlg, more, 3, acc + have);
        have += step;
    }
    if (!rc) std::memcpy(out, acc, outLen);
    sshcrypto::Cleanse(acc, sizeof acc);
    return rc;
}

int scp_md5(const void* data, std::size_t len, std::uint8_t out[16])
{
    const ScpPiece piece = {data, len};
    return scp_digest_pieces(sshcrypto::EDigest::Md5, &piece, 1, out) ? SCP_OK : SCP_E_INTERNAL;
}

int scp_buf_put_mpint(ScpBuf* buf, const BIGNUM* n)
{
    try {
        const std::vector<std::uint8_t> content = sshcrypto::MpintOf(n);
        return scp_buf_put_string(buf, content.data(), content.size());
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

bool scp_get_mpint(ScpReader* r, BIGNUM** out)
{
    const std::uint8_t* p = nullptr;
    std::size_t len = 0;
    const ScpReader saved = *r;
    if (!scp_get_string(r, &p, &len, kScpMaxMpintBytes)) return false;
    // Negative numbers are never valid here.
    *out = sshcrypto::NewBigNumFromMpint(std::span<const std::uint8_t>(p, len));
    if (!*out) *r = saved;
    return *out != nullptr;
}

void scp_bn_free(BIGNUM* n) { sshcrypto::FreeBigNum(n); }

int scp_ecdh_start(ScpEcdh* ecdh, int kind, const std::uint8_t* priv, ScpBuf* pub)
{
    scp_ecdh_end(ecdh);
    if ((kind != SCP_ECDH_X25519 && kind != SCP_ECDH_P256) || (priv && kind != SCP_ECDH_X25519)) return SCP_E_INTERNAL;
    ecdh->kind = kind;
    try {
        // The C-style struct holds the shared key pair; scp_ecdh_end takes it back.
        ecdh->pair = (priv ? std::make_unique<sshcrypto::CEcdh>(
                                 sshcrypto::CEcdh::FromX25519Private(std::span<const std::uint8_t>(priv, 32)))
                           : std::make_unique<sshcrypto::CEcdh>(kind == SCP_ECDH_X25519 ? sshcrypto::ECurve::X25519
                                                                                        : sshcrypto::ECurve::P256))
                         .release();
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    const std::vector<std::uint8_t>& value = ecdh->pair->Public();
    return scp_buf_put(pub, value.data(), value.size());
}

int scp_ecdh_finish(ScpEcdh* ecdh, const std::uint8_t* peer, std::size_t peerLen, ScpBuf* k)
{
    if (!ecdh->pair) return SCP_E_INTERNAL;
    std::vector<std::uint8_t> secret;
    std::vector<std::uint8_t> content;
    int rc = SCP_OK;
    try {
        if (!ecdh->pair->Derive(std::span<const std::uint8_t>(peer, peerLen), secret)) rc = SCP_E_AUTHENTICATE;
        else content = sshcrypto::CBigNum::FromBytes(secret).ToMpint();
    } catch (const std::bad_alloc&) {
        rc = SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        rc = SCP_E_AUTHENTICATE;
    }
    if (!rc) rc = scp_buf_put_string(k, content.data(), content.size());
    sshcrypto::Cleanse(secret.data(), secret.size());
    sshcrypto::Cleanse(content.data(), content.size());
    return rc;
}

void scp_ecdh_end(ScpEcdh* ecdh)
{
    std::unique_ptr<sshcrypto::CEcdh> owned(ecdh->pair);
    ecdh->pair = nullptr;
}

namespace {
// The key types with the names they go by: in the blob, in the host-key
// store and as the plain signature algorithm.
struct ScpKeyName {
    int type;
    const char* blobName;
};
constexpr ScpKeyName kKeyNames[] = {
    {SCP_KEY_RSA, "ssh-rsa"},
    {SCP_KEY_DSS, "ssh-dss"},
    {SCP_KEY_ED25519, "ssh-ed25519"},
    {SCP_KEY_ECDSA_P256, "ecdsa-sha2-nistp256"},
};

const ScpKeyName* scp_key_name(int type)
{
    for (const auto& k : kKeyNames)
        if (k.type == type) return &k;
    return nullptr;
}

char* scp_strdup_string(const std::string& text)
{
    auto* copy = static_cast<char*>(scp_alloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
}  // namespace

int scp_hostkey_alg_type(const char* alg)
{
    if (std::strcmp(alg, "rsa-sha2-256") == 0 || std::strcmp(alg, "rsa-sha2-512") == 0) return SCP_KEY_RSA;
    for (const auto& k : kKeyNames)
        if (std::strcmp(alg, k.blobName) == 0) return k.type;
    return SCP_KEY_UNKNOWN;
}

int scp_hostkey_parse(const std::uint8_t* blob, std::size_t len, ScpHostKey* key)
{
    *key = ScpHostKey{};
    ScpReader r = scp_reader(blob, len);
    const std::uint8_t* type = nullptr;
    std::size_t typeLen = 0;
    if (!scp_get_string(&r, &type, &typeLen, 64)) return SCP_E_AUTHENTICATE;
    const std::string typeName(reinterpret_cast<const char*>(type), typeLen);
    const int keyType = scp_hostkey_alg_type(typeName.c_str());
    if (keyType == SCP_KEY_UNKNOWN || typeName.size() != std::strlen(typeName.c_str()) ||
        std::strcmp(scp_key_name(keyType)->blobName, typeName.c_str()) != 0)
        return SCP_E_AUTHENTICATE;
    int rc = SCP_OK;
    try {
        std::unique_ptr<CSshHostKey> parsed = CSshHostKey::Create(typeName);
        if (!parsed || !parsed->SetKey(ByteView(blob, len))) return SCP_E_AUTHENTICATE;
        if (keyType == SCP_KEY_RSA && parsed->Bits() < sshcrypto::kMinRsaHostKeyBits) return SCP_E_HOSTKEY_TOO_SMALL;
        key->type = keyType;
        key->isDss = keyType == SCP_KEY_DSS;
        key->cacheType = parsed->CacheType();
        key->bits = parsed->Bits();
        key->text = scp_strdup_string(parsed->KeyString());
        key->fingerprint = scp_strdup_string(parsed->Fingerprint());
        key->impl = parsed.release();  // scp_hostkey_free takes it back
        if (!key->text || !key->fingerprint) rc = SCP_E_OUT_OF_MEMORY;
    } catch (const std::bad_alloc&) {
        rc = SCP_E_OUT_OF_MEMORY;
    }
    if (rc) scp_hostkey_free(key);
    return rc;
}

int scp_hostkey_verify(const ScpHostKey* key, const std::uint8_t* sig, std::size_t sigLen, const std::uint8_t* data,
                       std::size_t dataLen)
{
    const ScpKeyName* name = scp_key_name(key->type);
    if (!name) return SCP_E_AUTHENTICATE;
    return scp_hostkey_verify_alg(key, name->blobName, sig, sigLen, data, dataLen);
}

int scp_hostkey_verify_alg(const ScpHostKey* key, const char* alg, const std::uint8_t* sig, std::size_t sigLen,
                           const std::uint8_t* data, std::size_t dataLen)
{
    if (!key->impl || scp_hostkey_alg_type(alg) != key->type) return SCP_E_AUTHENTICATE;
    try {
        // The signature's algorithm decides the hash (rsa-sha2-256 and the rest).
        std::unique_ptr<CSshHostKey> checker = CSshHostKey::Create(alg);
        if (!checker || !checker->SetKey(key->impl->Blob())) return SCP_E_AUTHENTICATE;
        return checker->Verify(ByteView(sig, sigLen), ByteView(data, dataLen)) ? SCP_OK : SCP_E_AUTHENTICATE;
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SCP_E_AUTHENTICATE;
    }
}

void scp_hostkey_free(ScpHostKey* key)
{
    std::unique_ptr<CSshHostKey> owned(key->impl);
    scp_free(key->text);
    scp_free(key->fingerprint);
    *key = ScpHostKey{};
}

namespace {
// The keys the upload library signs with: RSA and DSA, and OpenSSH's own
// format only when no passphrase protects it.
const sshcrypto::SKeyFileOptions& scp_key_options()
{
    static const sshcrypto::SKeyFileOptions options{{"ssh-rsa", "ssh-dss"}, false};
    return options;
}
}  // namespace

bool scp_privkey_recognised(const char* path)
{
    if (!path || !*path) return false;
    try {
        sshcrypto::CPrivateKey key;
        const sshcrypto::EKeyFileError code = sshcrypto::LoadPrivateKeyFile(path, "", key, scp_key_options()).code;
        return code == sshcrypto::KF_OK || code == sshcrypto::KF_NEEDS_PASSPHRASE ||
               code == sshcrypto::KF_WRONG_PASSPHRASE;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int scp_privkey_load(const char* path, const char* passphrase, ScpPrivKey* key)
{
    *key = ScpPrivKey{};
    if (!path || !*path) return SCP_E_AUTHENTICATE;
    try {
        auto loaded = std::make_unique<sshcrypto::CPrivateKey>();
        const sshcrypto::SKeyFileResult result =
            sshcrypto::LoadPrivateKeyFile(path, passphrase ? passphrase : "", *loaded, scp_key_options());
        if (result.code != sshcrypto::KF_OK) return SCP_E_AUTHENTICATE;
        key->isDss = loaded->TypeName() == "ssh-dss";
        key->key = loaded.release();  // scp_privkey_free takes it back
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
    return SCP_OK;
}

const char* scp_privkey_algorithm(const ScpPrivKey* key) { return key->key ? key->key->TypeName().c_str() : ""; }

int scp_privkey_public_blob(const ScpPrivKey* key, ScpBuf* out)
{
    if (!key->key) return SCP_E_INTERNAL;
    try {
        const std::vector<std::uint8_t> blob = key->key->PublicBlob();
        return scp_buf_put(out, blob.data(), blob.size());
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

int scp_privkey_sign(const ScpPrivKey* key, const std::uint8_t* data, std::size_t len, ScpBuf* out)
{
    if (!key->key) return SCP_E_INTERNAL;
    try {
        // The key's own type names the signature ("ssh-rsa": SHA-1).
        const std::vector<std::uint8_t> sig =
            sshcrypto::SignSsh(*key->key, key->key->TypeName(), std::span<const std::uint8_t>(data, len));
        if (sig.empty()) return SCP_E_AUTHENTICATE;
        return scp_buf_put(out, sig.data(), sig.size());
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

void scp_privkey_free(ScpPrivKey* key)
{
    std::unique_ptr<sshcrypto::CPrivateKey> owned(key->key);
    *key = ScpPrivKey{};
}

int scp_zlib_start(ScpZlib* z, bool compress)
{
    scp_zlib_end(z);
    try {
        // The C-style struct holds the shared stream; scp_zlib_end takes it back.
        z->stream = std::make_unique<sshcrypto::CZlibStream>(compress).release();
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SCP_E_INTERNAL;
    }
    z->compress = compress;
    return SCP_OK;
}

namespace {
// Appends what a zlib call produced, then wipes the copy.
int scp_zlib_take(std::vector<std::uint8_t>& produced, ScpBuf* out)
{
    const int rc = scp_buf_put(out, produced.data(), produced.size());
    sshcrypto::Cleanse(produced.data(), produced.size());
    return rc;
}
}  // namespace

int scp_zlib_run(ScpZlib* z, const std::uint8_t* data, std::size_t len, ScpBuf* out, std::size_t max)
{
    if (!z->stream) return SCP_E_INTERNAL;
    std::vector<std::uint8_t> produced;
    sshcrypto::EZlibStatus status = sshcrypto::EZlibStatus::Failed;
    try {
        const std::size_t limit = z->compress ? SIZE_MAX : (max > out->len ? max - out->len : 0);
        status = z->stream->Run(std::span<const std::uint8_t>(data, len), produced, limit);
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
    if (status != sshcrypto::EZlibStatus::Ok) {
        sshcrypto::Cleanse(produced.data(), produced.size());
        return z->compress ? SCP_E_INTERNAL : SCP_E_RECEIVE;
    }
    z->totalIn += len;
    return scp_zlib_take(produced, out);
}

int scp_zlib_stop_compressing(ScpZlib* z, ScpBuf* out)
{
    if (!z->stream || !z->compress || z->stored) return SCP_OK;
    std::vector<std::uint8_t> produced;
    sshcrypto::EZlibStatus status = sshcrypto::EZlibStatus::Failed;
    try {
        status = z->stream->SetLevel(sshcrypto::CZlibStream::kStored, produced);
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    }
    z->stored = true;
    if (status != sshcrypto::EZlibStatus::Ok) return SCP_E_INTERNAL;
    return scp_zlib_take(produced, out);
}

void scp_zlib_end(ScpZlib* z)
{
    std::unique_ptr<sshcrypto::CZlibStream> owned(z->stream);
    *z = ScpZlib{};
}

bool scp_equal_secret(const void* a, const void* b, std::size_t len) { return sshcrypto::ConstantTimeEqual(a, b, len); }
