// Thin wrappers over OpenSSL's EVP interface and zlib for the upload
// library's SSH-2 engine: ciphers, MACs, digests, Diffie-Hellman numbers,
// host-key verification, private keys and payload compression.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scp/scp_mem.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct bignum_st BIGNUM;
struct z_stream_s;

// True when Blowfish and single DES are available (OpenSSL's legacy provider).
bool scp_crypto_legacy_available();

// Cipher families of the preference list.
enum ScpCipherFamily { SCP_CIPHER_AES, SCP_CIPHER_BLOWFISH, SCP_CIPHER_3DES, SCP_CIPHER_WARN, SCP_CIPHER_DES };

struct ScpCipherInfo {
    const char* name;     // wire name
    const char* evpName;  // OpenSSL name
    int family;
    int keyBytes;
    int blockSize;
    int keyBits;  // strength used to size the key exchange
};
// The table of cipher names in offer order within each family.
const ScpCipherInfo* scp_cipher_table(std::size_t* count);
const ScpCipherInfo* scp_cipher_by_name(const char* name, std::size_t len);

struct ScpCipher {
    const ScpCipherInfo* info;
    EVP_CIPHER_CTX* ctx;
};
int scp_cipher_start(ScpCipher* cipher, const ScpCipherInfo* info, const std::uint8_t* key,
                     const std::uint8_t* iv, bool encrypt);
// In place; len is a multiple of the block size.
int scp_cipher_run(ScpCipher* cipher, std::uint8_t* data, std::size_t len);
void scp_cipher_end(ScpCipher* cipher);

enum ScpMacKind { SCP_MAC_NONE, SCP_MAC_SHA1, SCP_MAC_MD5 };
struct ScpMac {
    int kind;
    std::size_t len;
    EVP_MAC_CTX* ctx;
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
int scp_md5(const void* data, std::size_t len, std::uint8_t out[16]);

// SSH "mpint" encoding of a number.
int scp_buf_put_mpint(ScpBuf* buf, const BIGNUM* n);
bool scp_get_mpint(ScpReader* r, BIGNUM** out);
void scp_bn_free(BIGNUM* n);

// A server host key: its type, text form for the store, fingerprint and the
// check of a signature over the exchange hash.
struct ScpHostKey {
    int isDss;
    EVP_PKEY* pkey;
    int bits;
    char* text;         // "0x..,0x.." form
    char* fingerprint;  // "ssh-rsa 2048 aa:bb:..."
};
// 0, 24 (unsupported or malformed key) or 18.
int scp_hostkey_parse(const std::uint8_t* blob, std::size_t len, ScpHostKey* key);
// 0 or 24.
int scp_hostkey_verify(const ScpHostKey* key, const std::uint8_t* sig, std::size_t sigLen,
                       const std::uint8_t* data, std::size_t dataLen);
void scp_hostkey_free(ScpHostKey* key);

// A private key for public-key authentication.
struct ScpPrivKey {
    int isDss;
    EVP_PKEY* pkey;
};
// Whether the file looks like a private key we can read (PEM or OpenSSH).
bool scp_privkey_recognised(const char* path);
// Loads the key; the passphrase is used when the file is protected.
// 0 on success, otherwise nonzero.
int scp_privkey_load(const char* path, const char* passphrase, ScpPrivKey* key);
const char* scp_privkey_algorithm(const ScpPrivKey* key);
int scp_privkey_public_blob(const ScpPrivKey* key, ScpBuf* out);
// The SSH signature blob (string type, string signature) over data.
int scp_privkey_sign(const ScpPrivKey* key, const std::uint8_t* data, std::size_t len, ScpBuf* out);
void scp_privkey_free(ScpPrivKey* key);

// zlib payload compression, one stream per direction.
struct ScpZlib {
    z_stream_s* stream;
    bool compress;
    std::size_t totalIn;  // bytes compressed so far
    bool stored;          // compression switched off (stored blocks only)
};
int scp_zlib_start(ScpZlib* z, bool compress);
// Compresses (flushing at the end) or decompresses one payload into out.
// Decompressed output is capped at max bytes (16 when exceeded).
int scp_zlib_run(ScpZlib* z, const std::uint8_t* data, std::size_t len, ScpBuf* out, std::size_t max);
// Stops compressing: later output carries the data in stored blocks.
// Returns the bytes emitted by the switch in out.
int scp_zlib_stop_compressing(ScpZlib* z, ScpBuf* out);
void scp_zlib_end(ScpZlib* z);
