// The upload library's C-style interface to the primitives both SSH engines
// share (sshcore/): ciphers, MACs, digests, Diffie-Hellman numbers,
// host-key verification, private keys and payload compression. It only
// adapts and holds no primitive of its own: scp_crypto.cpp for packets,
// scp_crypto_kex.cpp for the key exchange, scp_crypto_keys.cpp for keys.
#pragma once

#include <cstddef>
#include <cstdint>

#include <new>

#include "scp/scp.h"
#include "scp/scp_mem.h"

// Runs a step on the shared primitives and answers with the engine's code:
// the step's own answer, SCP_E_OUT_OF_MEMORY when memory ran out, or
// `failure` for any other exception (none leaves the C-style interface).
template <typename F>
int scp_guard(F&& step, int failure = SCP_E_INTERNAL) noexcept
{
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return SCP_E_OUT_OF_MEMORY;
    } catch (...) {
        return failure;
    }
}

typedef struct bignum_st BIGNUM;
class CSshHostKey;
namespace sshcore {
class CPrivateKey;
class CZlibStream;
}  // namespace sshcore

// True when Blowfish and single DES are available (OpenSSL's legacy provider).
bool scp_crypto_legacy_available();

// Cipher families of the preference list.
enum ScpCipherFamily { SCP_CIPHER_AES, SCP_CIPHER_BLOWFISH, SCP_CIPHER_3DES, SCP_CIPHER_WARN, SCP_CIPHER_DES };

// How a cipher frames packets: CBC and CTR encrypt whole packets and take a
// MAC; GCM and chacha20-poly1305 authenticate the packet themselves.
enum ScpCipherMode { SCP_MODE_CBC, SCP_MODE_CTR, SCP_MODE_GCM, SCP_MODE_CHACHA };

namespace sshcore {
struct SCipherAlgorithm;
}
// A cipher of the foundation's registry, as the engine's fields.
struct ScpCipherInfo {
    const char* name;  // wire name
    const sshcore::SCipherAlgorithm* algorithm;
    int family;
    int keyBytes;
    int blockSize;  // the multiple the padding makes up
    int keyBits;    // strength used to size the key exchange
    int mode;
    int ivBytes;  // derived IV bytes the cipher takes
};
// The registry's ciphers, in offer order within each family.
const ScpCipherInfo* scp_cipher_table(std::size_t* count);
const ScpCipherInfo* scp_cipher_by_name(const char* name, std::size_t len);

namespace sshcore {
class CBlockCipher;
class CAesGcm;
class CChaChaPoly;
}  // namespace sshcore
// One direction's cipher: the shared primitive of its mode, owned from
// scp_cipher_start to scp_cipher_end.
struct ScpCipher {
    const ScpCipherInfo* info;
    sshcore::CBlockCipher* block;  // CBC and CTR
    sshcore::CAesGcm* gcm;
    sshcore::CChaChaPoly* chacha;
    bool encrypt;
};
bool scp_cipher_active(const ScpCipher* cipher);
// key holds info->keyBytes bytes, iv info->ivBytes.
int scp_cipher_start(ScpCipher* cipher, const ScpCipherInfo* info, const std::uint8_t* key,
                     const std::uint8_t* iv, bool encrypt);
// CBC and CTR: in place; len is a multiple of the block size.
int scp_cipher_run(ScpCipher* cipher, std::uint8_t* data, std::size_t len);
// Tag length of an authenticated cipher (GCM, chacha20-poly1305), else 0.
std::size_t scp_cipher_tag_len(const ScpCipher* cipher);
// Authenticated ciphers: the packet length from the first four bytes as
// received (chacha20 decrypts a copy of them).
int scp_cipher_peek_length(ScpCipher* cipher, std::uint32_t seq, const std::uint8_t in[4], std::uint32_t* length);
// Authenticated ciphers over a whole packet (4 length bytes and the rest):
// seal encrypts in place and writes the tag; open decrypts in place and
// returns SCP_E_RECEIVE when the tag does not match (chacha20-poly1305
// checks the tag before it decrypts anything; GCM checks it as it finishes
// and then wipes what it decrypted). After open the first four bytes hold the length in
// clear.
int scp_cipher_seal(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total, std::uint8_t* tag);
int scp_cipher_open(ScpCipher* cipher, std::uint32_t seq, std::uint8_t* packet, std::size_t total,
                    const std::uint8_t* tag);
void scp_cipher_end(ScpCipher* cipher);

enum ScpMacKind {
    SCP_MAC_NONE,
    SCP_MAC_SHA1,
    SCP_MAC_MD5,
    SCP_MAC_SHA256,
    SCP_MAC_SHA512,
    SCP_MAC_SHA256_ETM,
    SCP_MAC_SHA512_ETM
};
// The key length a MAC kind takes (its output length).
std::size_t scp_mac_key_len(int kind);
bool scp_mac_is_etm(int kind);
namespace sshcore {
class CHmac;
}
struct ScpMac {
    int kind;
    std::size_t len;
    sshcore::CHmac* hmac;  // the shared primitive, owned from start to end
    bool etm;  // encrypt-then-MAC: over the clear length and the ciphertext
};
int scp_mac_start(ScpMac* mac, int kind, const std::uint8_t* key, std::size_t keyLen);
// MAC over the sequence number and the packet.
int scp_mac_compute(ScpMac* mac, std::uint32_t seq, const std::uint8_t* data, std::size_t len, std::uint8_t* out);
void scp_mac_end(ScpMac* mac);

// Digests of a list of (pointer, length) pieces; out holds 20 or 16 bytes.
struct ScpPiece {
    const void* data;
    std::size_t len;
};
int scp_sha1(const ScpPiece* pieces, std::size_t count, std::uint8_t out[20]);
// The exchange hash of a key-exchange method.
enum ScpHashAlg { SCP_HASH_SHA1, SCP_HASH_SHA256, SCP_HASH_SHA512 };
constexpr std::size_t kScpMaxHash = 64;
std::size_t scp_hash_len(int alg);
int scp_hash(int alg, const ScpPiece* pieces, std::size_t count, std::uint8_t* out);
int scp_md5(const void* data, std::size_t len, std::uint8_t out[16]);

// SSH "mpint" encoding of a number; numbers longer than this are refused.
constexpr std::size_t kScpMaxMpintBytes = 2048;
int scp_buf_put_mpint(ScpBuf* buf, const BIGNUM* n);
bool scp_get_mpint(ScpReader* r, BIGNUM** out);
void scp_bn_free(BIGNUM* n);

// Diffie-Hellman over a prime group, on bare number handles (each given
// back to scp_bn_free, which wipes it). The numbers are worked by the
// shared primitive.
struct ScpRandomPool;
// The MODP group 1, 14, 16 or 18, generator 2.
int scp_dh_fixed_group(int group, BIGNUM** p, BIGNUM** g);
// Whether a group a server sent is usable: p odd, of minBits to maxBits
// bits, and 1 < g < p - 1.
bool scp_dh_group_usable(const BIGNUM* p, const BIGNUM* g, int minBits, int maxBits);
// Our private x of `bits` random bits from the pool (below (p - 1) / 2
// when that is shorter, never 0 or 1) and e = g^x mod p.
int scp_dh_generate(const BIGNUM* p, const BIGNUM* g, int bits, ScpRandomPool* pool, BIGNUM** x, BIGNUM** e);
// K = f^x mod p; SCP_E_AUTHENTICATE unless 1 < f < p - 1.
int scp_dh_shared(const BIGNUM* p, const BIGNUM* x, const BIGNUM* f, BIGNUM** k);
// Whether two byte runs are equal, in time that does not depend on where
// they differ.
bool scp_equal_secret(const void* a, const void* b, std::size_t len);

// Elliptic-curve Diffie-Hellman: curve25519 and NIST P-256.
enum ScpEcdhKind { SCP_ECDH_X25519, SCP_ECDH_P256 };
namespace sshcore {
class CEcdh;
}
struct ScpEcdh {
    int kind;
    sshcore::CEcdh* pair;  // the shared key pair, owned from start to end
};
// Makes a key pair and appends its public value (32 bytes, or the 65-byte
// uncompressed point) to pub. priv (X25519 only, 32 bytes) fixes the private
// key, for known-answer tests; otherwise a fresh one is made.
int scp_ecdh_start(ScpEcdh* ecdh, int kind, const std::uint8_t* priv, ScpBuf* pub);
// Checks the server's public value and appends the shared secret K as an
// mpint (with its length) to k. SCP_E_AUTHENTICATE for a value refused.
int scp_ecdh_finish(ScpEcdh* ecdh, const std::uint8_t* peer, std::size_t peerLen, ScpBuf* k);
void scp_ecdh_end(ScpEcdh* ecdh);

// What the exchange hash H covers, in order: the identification lines,
// both KEXINIT payloads, the host key blob, for group exchange the request
// (n alone for the old request, else min, n, max) and the group, then e and
// f as mpints (Diffie-Hellman) or Q_C and Q_S as strings (ECDH, when e is
// null), and K as an mpint with its length.
enum ScpGexRequest { SCP_GEX_NONE, SCP_GEX_OLD, SCP_GEX_RANGE };
struct ScpExchangeParts {
    const char* clientVersion;
    const char* serverVersion;
    const std::uint8_t* kexinitClient;
    std::size_t kexinitClientLen;
    const std::uint8_t* kexinitServer;
    std::size_t kexinitServerLen;
    const std::uint8_t* hostKey;
    std::size_t hostKeyLen;
    int gex;  // ScpGexRequest
    std::uint32_t gexMin, gexBits, gexMax;
    const BIGNUM* p;
    const BIGNUM* g;
    const BIGNUM* e;
    const BIGNUM* f;
    const std::uint8_t* qc;
    std::size_t qcLen;
    const std::uint8_t* qs;
    std::size_t qsLen;
    const std::uint8_t* kMpint;
    std::size_t kLen;
};
// H with the method's hash into out (scp_hash_len(hashAlg) bytes).
int scp_exchange_hash(int hashAlg, const ScpExchangeParts* parts, std::uint8_t* out);

// Key derivation: outLen bytes of HASH(K || H || letter || session_id),
// extended by HASH(K || H || K1 .. Kn). kMpint is K as an mpint with its
// length; without it (an old server's quirk) K is left out.
int scp_kex_derive(int hashAlg, const std::uint8_t* kMpint, std::size_t kLen, const std::uint8_t* h,
                   std::size_t hLen, char letter, const std::uint8_t* sessionId, std::size_t sessionIdLen,
                   std::uint8_t* out, std::size_t outLen);

// Host-key types.
enum ScpKeyType { SCP_KEY_UNKNOWN = -1, SCP_KEY_RSA, SCP_KEY_DSS, SCP_KEY_ED25519, SCP_KEY_ECDSA_P256 };
// The key type a host-key algorithm name stands for, or SCP_KEY_UNKNOWN.
int scp_hostkey_alg_type(const char* alg);

// A server host key: its type, text form for the store, fingerprint and the
// check of a signature over the exchange hash.
struct ScpHostKey {
    int isDss;
    int type;               // ScpKeyType
    const char* cacheType;  // store type: "rsa2", "dss", "ssh-ed25519", "ecdsa-sha2-nistp256"
    CSshHostKey* impl;  // the shared host key, owned from parse to free
    int bits;
    char* text;         // "0x..,0x.." form
    char* fingerprint;  // "ssh-rsa 2048 aa:bb:..."
};
// SCP_OK, SCP_E_AUTHENTICATE (unsupported or malformed key),
// SCP_E_HOSTKEY_TOO_SMALL (an RSA key below 1024 bits) or SCP_E_OUT_OF_MEMORY.
int scp_hostkey_parse(const std::uint8_t* blob, std::size_t len, ScpHostKey* key);
// SCP_OK or SCP_E_AUTHENTICATE; the signature of the key's plain type
// ("ssh-rsa", "ssh-dss", ...).
int scp_hostkey_verify(const ScpHostKey* key, const std::uint8_t* sig, std::size_t sigLen,
                       const std::uint8_t* data, std::size_t dataLen);
// SCP_OK or SCP_E_AUTHENTICATE; the signature made with host-key algorithm
// alg (rsa-sha2-256 etc.).
int scp_hostkey_verify_alg(const ScpHostKey* key, const char* alg, const std::uint8_t* sig, std::size_t sigLen,
                           const std::uint8_t* data, std::size_t dataLen);
void scp_hostkey_free(ScpHostKey* key);

// A private key for public-key authentication.
struct ScpPrivKey {
    int isDss;
    sshcore::CPrivateKey* key;  // the shared key, owned from load to free
};
// Whether the file is a private key we can read: RSA or DSA, in PEM form
// (protected or not) or in OpenSSH's form without a passphrase.
bool scp_privkey_recognised(const char* path);
// Loads the key; the passphrase is used when the file is protected.
// SCP_OK, SCP_E_AUTHENTICATE (no usable key) or SCP_E_OUT_OF_MEMORY.
int scp_privkey_load(const char* path, const char* passphrase, ScpPrivKey* key);
const char* scp_privkey_algorithm(const ScpPrivKey* key);
int scp_privkey_public_blob(const ScpPrivKey* key, ScpBuf* out);
// The SSH signature blob (string type, string signature) over data.
int scp_privkey_sign(const ScpPrivKey* key, const std::uint8_t* data, std::size_t len, ScpBuf* out);
void scp_privkey_free(ScpPrivKey* key);

// zlib payload compression, one stream per direction.
struct ScpZlib {
    sshcore::CZlibStream* stream;  // the shared stream, owned from start to end
    bool compress;
    std::size_t totalIn;  // bytes compressed so far
    bool stored;          // compression switched off (stored blocks only)
};
int scp_zlib_start(ScpZlib* z, bool compress);
// Compresses (flushing at the end) or decompresses one payload into out.
// Decompressed output is capped at max bytes (SCP_E_RECEIVE when exceeded).
int scp_zlib_run(ScpZlib* z, const std::uint8_t* data, std::size_t len, ScpBuf* out, std::size_t max);
// Stops compressing: later output carries the data in stored blocks.
// Returns the bytes emitted by the switch in out.
int scp_zlib_stop_compressing(ScpZlib* z, ScpBuf* out);
void scp_zlib_end(ScpZlib* z);
