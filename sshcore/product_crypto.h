// The cryptography the rest of the product needs, so that no code outside
// the SSH foundation calls OpenSSL: system random bytes, digests of data
// and files, the vault's scrypt and AES-256-GCM with associated data, the
// old credential cipher of stored settings, and the Ed25519 signatures of
// the engine package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sshcore {

// The CRC-32 of zlib (as in gzip and PNG), for files that guard their
// bytes against damage, not against tampering.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// Bytes from the operating system's generator; false when it has none.
bool SystemRandomBytes(void* out, std::size_t size);

// A running digest chosen by name: "SHA1", "MD5", "RIPEMD160", "SHA256".
class CNamedDigest {
public:
    explicit CNamedDigest(const char* name);
    ~CNamedDigest();
    CNamedDigest(const CNamedDigest&) = delete;
    CNamedDigest& operator=(const CNamedDigest&) = delete;

    // False when this OpenSSL lacks the digest, or a step failed.
    bool Ok() const { return m_bOk; }
    void Update(const void* data, std::size_t size);
    // The digest; empty when a step failed.
    std::vector<std::uint8_t> Final();

private:
    struct SState;
    std::unique_ptr<SState> m_pState;
    bool m_bOk = false;
};

// One digest of bytes by name; empty when it cannot be computed.
std::vector<std::uint8_t> DigestOf(const char* name, std::span<const std::uint8_t> data);
std::vector<std::uint8_t> DigestOf(const char* name, std::string_view data);

// scrypt of the password and salt into out; false when the library refuses
// (parameters beyond maxMemory bytes, or no memory).
bool Scrypt(std::string_view password, std::span<const std::uint8_t> salt, std::uint64_t n, std::uint32_t r,
            std::uint32_t p, std::uint64_t maxMemory, std::span<std::uint8_t> out);

// AES-256-GCM with a 12-byte nonce and a 16-byte tag. Seal writes
// plain.size() bytes of ciphertext and then the tag to out.
inline constexpr std::size_t kGcmNonceBytes = 12;
inline constexpr std::size_t kGcmTagBytes = 16;
bool Aes256GcmSeal(std::span<const std::uint8_t> key, const std::uint8_t* nonce, std::string_view associated,
                   std::string_view plain, std::uint8_t* out);
enum class EGcmOpen { Ok, Failed, WrongTag };
// Opens ciphertext of `length` bytes followed by its tag into out (length
// bytes); WrongTag when anything was changed.
EGcmOpen Aes256GcmOpen(std::span<const std::uint8_t> key, const std::uint8_t* nonce, std::string_view associated,
                       const std::uint8_t* cipher, std::size_t length, std::uint8_t* out);

// The settings' credential cipher: AES-128 in CFB mode, key and IV made
// from the password by MD5 once (OpenSSL's classic key derivation, no
// salt). out takes input.size() bytes.
bool PasswordCfbCrypt(std::string_view password, std::string_view input, bool encrypt, std::uint8_t* out);

// Ed25519: checks a 64-byte signature with a 32-byte raw public key.
bool VerifyEd25519(std::string_view publicKey, std::span<const std::uint8_t> signature, std::string_view message);
// Signs with the private key of a PEM file (PKCS#8, unencrypted).
bool SignWithPemKeyFile(const std::string& path, std::string_view message, std::vector<std::uint8_t>& signature);

}  // namespace sshcore
