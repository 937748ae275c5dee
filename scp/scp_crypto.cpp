// The upload engine's adapter, packet side: the cipher table, each
// direction's cipher and MAC, and payload compression, all on the shared
// primitives of sshcore/.
#include "scp/scp_crypto.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "scp/scp.h"
#include "scp/scp_store.h"
#include "sshcore/aead.h"
#include "sshcore/algorithms.h"
#include "sshcore/cipher.h"
#include "sshcore/digest.h"
#include "sshcore/zlib_stream.h"

namespace {
int scp_family_of(sshcore::ECipherFamily family)
{
    switch (family) {
    case sshcore::ECipherFamily::Blowfish: return SCP_CIPHER_BLOWFISH;
    case sshcore::ECipherFamily::TripleDes: return SCP_CIPHER_3DES;
    case sshcore::ECipherFamily::Des: return SCP_CIPHER_DES;
    default: return SCP_CIPHER_AES;
    }
}

int scp_mode_of(sshcore::ECipherMode mode)
{
    switch (mode) {
    case sshcore::ECipherMode::Gcm: return SCP_MODE_GCM;
    case sshcore::ECipherMode::ChaCha: return SCP_MODE_CHACHA;
    case sshcore::ECipherMode::Ctr: return SCP_MODE_CTR;
    default: return SCP_MODE_CBC;
    }
}

const std::vector<ScpCipherInfo>& scp_ciphers()
{
    static const std::vector<ScpCipherInfo> table = [] {
        std::vector<ScpCipherInfo> list;
        for (const sshcore::SCipherAlgorithm& c : sshcore::CipherAlgorithms())
            list.push_back({c.name, &c, scp_family_of(c.family), static_cast<int>(c.keyBytes),
                            static_cast<int>(c.blockSize), static_cast<int>(c.keyBits), scp_mode_of(c.mode),
                            static_cast<int>(c.ivBytes)});
        return list;
    }();
    return table;
}
}  // namespace

bool scp_crypto_legacy_available()
{
    return sshcore::CipherAvailable(sshcore::ECipher::BlowfishCbc);
}

const ScpCipherInfo* scp_cipher_table(std::size_t* count)
{
    *count = scp_ciphers().size();
    return scp_ciphers().data();
}

const ScpCipherInfo* scp_cipher_by_name(const char* name, std::size_t len)
{
    for (const auto& info : scp_ciphers())
        if (std::strlen(info.name) == len && std::memcmp(info.name, name, len) == 0) return &info;
    return nullptr;
}

int scp_cipher_start(ScpCipher* cipher, const ScpCipherInfo* info, const std::uint8_t* key, const std::uint8_t* iv,
                     bool encrypt)
{
    scp_cipher_end(cipher);
    const std::span<const std::uint8_t> keyBytes(key, static_cast<std::size_t>(info->keyBytes));
    // The C-style struct holds the shared primitive; scp_cipher_end takes it back.
    const int rc = scp_guard([&]() -> int {
        switch (info->mode) {
        case SCP_MODE_GCM:
            cipher->gcm = std::make_unique<sshcore::CAesGcm>(keyBytes, std::span<const std::uint8_t>(iv, 12)).release();
            break;
        case SCP_MODE_CHACHA: cipher->chacha = std::make_unique<sshcore::CChaChaPoly>(keyBytes).release(); break;
        default: {
            const sshcore::ECipher kind = info->algorithm->kind;
            if (!sshcore::CipherAlgorithmAvailable(*info->algorithm)) return SCP_E_INTERNAL;
            const std::span<const std::uint8_t> ivBytes(iv, static_cast<std::size_t>(info->ivBytes));
            cipher->block = std::make_unique<sshcore::CBlockCipher>(kind, encrypt, keyBytes, ivBytes).release();
            break;
        }
        }
        return SCP_OK;
    });
    if (rc) return rc;
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
    return scp_guard([&]() -> int {
        cipher->block->Process(data, len);
        return SCP_OK;
    });
}

std::size_t scp_cipher_tag_len(const ScpCipher* cipher)
{
    if (!cipher->info) return 0;
    return cipher->info->mode == SCP_MODE_GCM || cipher->info->mode == SCP_MODE_CHACHA ? 16 : 0;
}

int scp_cipher_peek_length(ScpCipher* cipher, std::uint32_t seq, const std::uint8_t in[4], std::uint32_t* length)
{
    return scp_guard([&]() -> int {
        *length = cipher->chacha ? cipher->chacha->DecryptLength(seq, in) : scp_load_u32(in);
        return SCP_OK;
    });
}

int scp_cipher_seal(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total, std::uint8_t* tag)
{
    if (total < 4 || (!cipher->gcm && !cipher->chacha)) return SCP_E_INTERNAL;
    return scp_guard([&]() -> int {
        if (cipher->gcm) cipher->gcm->Seal(std::span<const std::uint8_t>(packet, 4), packet + 4, total - 4, tag);
        else cipher->chacha->Seal(seq, packet, total, tag);
        return SCP_OK;
    });
}

int scp_cipher_open(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total,
                    const std::uint8_t* tag)
{
    if (total < 4 || (!cipher->gcm && !cipher->chacha)) return SCP_E_INTERNAL;
    bool ok = false;
    if (const int rc = scp_guard([&]() -> int {
            ok = cipher->gcm ? cipher->gcm->Open(std::span<const std::uint8_t>(packet, 4), packet + 4, total - 4, tag)
                             : cipher->chacha->Open(seq, packet, total, tag);
            return SCP_OK;
        }))
        return rc;
    // Nothing of a packet whose tag is wrong is kept.
    if (!ok) sshcore::Cleanse(packet + 4, total - 4);
    return ok ? SCP_OK : SCP_E_RECEIVE;
}

void scp_cipher_end(ScpCipher* cipher)
{
    std::unique_ptr<sshcore::CBlockCipher> block(cipher->block);
    std::unique_ptr<sshcore::CAesGcm> gcm(cipher->gcm);
    std::unique_ptr<sshcore::CChaChaPoly> chacha(cipher->chacha);
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
    default: return 0;
    }
}

bool scp_mac_is_etm(int kind) { return kind == SCP_MAC_SHA256_ETM || kind == SCP_MAC_SHA512_ETM; }

namespace {
sshcore::EDigest scp_mac_digest(int kind)
{
    switch (kind) {
    case SCP_MAC_SHA1: return sshcore::EDigest::Sha1;
    case SCP_MAC_SHA256:
    case SCP_MAC_SHA256_ETM: return sshcore::EDigest::Sha256;
    case SCP_MAC_SHA512:
    case SCP_MAC_SHA512_ETM: return sshcore::EDigest::Sha512;
    default: return sshcore::EDigest::Md5;
    }
}

}  // namespace

int scp_mac_start(ScpMac* mac, int kind, const std::uint8_t* key, std::size_t keyLen)
{
    scp_mac_end(mac);
    if (kind == SCP_MAC_NONE) return SCP_OK;
    // The C-style struct holds the shared HMAC; scp_mac_end takes it back.
    if (const int rc = scp_guard([&]() -> int {
            mac->hmac =
                std::make_unique<sshcore::CHmac>(scp_mac_digest(kind), sshcore::ByteView(key, keyLen)).release();
            return SCP_OK;
        }))
        return rc;
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
    return scp_guard([&]() -> int {
        mac->hmac->Compute({sshcore::ByteView(seqBytes, 4), sshcore::ByteView(data, len)}, out);
        return SCP_OK;
    });
}

void scp_mac_end(ScpMac* mac)
{
    std::unique_ptr<sshcore::CHmac> owned(mac->hmac);
    mac->hmac = nullptr;
    mac->len = 0;
    mac->kind = SCP_MAC_NONE;
    mac->etm = false;
}
int scp_zlib_start(ScpZlib* z, bool compress)
{
    scp_zlib_end(z);
    // The C-style struct holds the shared stream; scp_zlib_end takes it back.
    if (const int rc = scp_guard([&]() -> int {
            z->stream = std::make_unique<sshcore::CZlibStream>(compress).release();
            return SCP_OK;
        }))
        return rc;
    z->compress = compress;
    return SCP_OK;
}

namespace {
// Appends what a zlib call produced, then wipes the copy.
int scp_zlib_take(std::vector<std::uint8_t>& produced, ScpBuf* out)
{
    const int rc = scp_buf_put(out, produced.data(), produced.size());
    sshcore::Cleanse(produced.data(), produced.size());
    return rc;
}
}  // namespace

int scp_zlib_run(ScpZlib* z, const std::uint8_t* data, std::size_t len, ScpBuf* out, std::size_t max)
{
    if (!z->stream) return SCP_E_INTERNAL;
    std::vector<std::uint8_t> produced;
    sshcore::EZlibStatus status = sshcore::EZlibStatus::Failed;
    if (const int rc = scp_guard([&]() -> int {
            const std::size_t limit = z->compress ? SIZE_MAX : (max > out->len ? max - out->len : 0);
            status = z->stream->Run(std::span<const std::uint8_t>(data, len), produced, limit);
            return SCP_OK;
        }))
        return rc;
    if (status != sshcore::EZlibStatus::Ok) {
        sshcore::Cleanse(produced.data(), produced.size());
        return z->compress ? SCP_E_INTERNAL : SCP_E_RECEIVE;
    }
    z->totalIn += len;
    return scp_zlib_take(produced, out);
}

int scp_zlib_stop_compressing(ScpZlib* z, ScpBuf* out)
{
    if (!z->stream || !z->compress || z->stored) return SCP_OK;
    std::vector<std::uint8_t> produced;
    sshcore::EZlibStatus status = sshcore::EZlibStatus::Failed;
    if (const int rc = scp_guard([&]() -> int {
            status = z->stream->SetLevel(sshcore::CZlibStream::kStored, produced);
            return SCP_OK;
        }))
        return rc;
    z->stored = true;
    if (status != sshcore::EZlibStatus::Ok) return SCP_E_INTERNAL;
    return scp_zlib_take(produced, out);
}

void scp_zlib_end(ScpZlib* z)
{
    std::unique_ptr<sshcore::CZlibStream> owned(z->stream);
    *z = ScpZlib{};
}
