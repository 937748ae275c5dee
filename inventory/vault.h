// The vault of an encrypted console file: one key per file derived from the
// main password with scrypt and a random salt, and every secret sealed with
// AES-256-GCM under that key, a fresh nonce per seal and the record's place
// as associated data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/stream_io.h"

// scrypt's cost: N = 2^log2N, block size r, parallelism p.
struct SVaultKdfParams {
    std::uint32_t log2N = 0;
    std::uint32_t r = 0;
    std::uint32_t p = 0;
};

// The parameters a new vault is written with (64 MiB, about a third of a
// second on the reference machine; the ceiling allows four times its work).
constexpr SVaultKdfParams kVaultDefaultKdf{16, 8, 1};

enum EVaultError {
    VAULT_OK = 0,
    VAULT_DAMAGED,         // a field is malformed or a sealed record does not open
    VAULT_WEAK_PARAMS,     // the header asks for less work than the floor or more than the ceiling
    VAULT_EMPTY_PASSWORD,  // an empty main password is never used as a key
    VAULT_FAILED,          // the crypto library refused
};

constexpr std::size_t kVaultSaltBytes = 16;
constexpr std::size_t kVaultKeyBytes = 32;
constexpr std::size_t kVaultNonceBytes = 12;
constexpr std::size_t kVaultTagBytes = 16;
// Most plain bytes one sealed record may hold.
constexpr std::size_t kVaultMaxPlainBytes = 4096;
// Most plain bytes any sealed record may hold (a host's XML).
constexpr std::size_t kVaultMaxLargePlainBytes = std::size_t{1} << 30;

// The header's cost is accepted when it is neither below the floor nor
// above the ceiling; a file cannot weaken the derivation or exhaust memory.
bool VaultParamsAcceptable(const SVaultKdfParams& params);

// Tests only: derive with `params` instead of the default and accept them
// as the floor. nullptr returns to the default and the normal floor.
void SetVaultTestParameters(const SVaultKdfParams* params);

// The derived key of one console file, wiped when it goes away.
class CVaultKey {
public:
    CVaultKey() = default;
    ~CVaultKey();
    CVaultKey(const CVaultKey&) = delete;
    CVaultKey& operator=(const CVaultKey&) = delete;

    // Derives the key for a new file: fresh salt, the current parameters.
    EVaultError Create(std::string_view password);
    // Derives the key of a file whose header was read.
    EVaultError Derive(std::string_view password, const SVaultKdfParams& params,
                       const std::array<unsigned char, kVaultSaltBytes>& salt);

    // Seals `plain` with a fresh nonce; `sealed` gets nonce, cipher text and
    // tag. Plain text above `maxPlain` bytes (at most 1 GiB) is refused.
    EVaultError Seal(std::string_view plain, std::string_view associated, std::string& sealed,
                     std::size_t maxPlain = kVaultMaxPlainBytes) const;
    // Opens a sealed record; `plain` is emptied when it does not open.
    EVaultError Open(std::string_view sealed, std::string_view associated, std::string& plain,
                     std::size_t maxPlain = kVaultMaxPlainBytes) const;

    const SVaultKdfParams& Params() const { return m_params; }
    const std::array<unsigned char, kVaultSaltBytes>& Salt() const { return m_salt; }

private:
    std::array<unsigned char, kVaultKeyBytes> m_key{};
    std::array<unsigned char, kVaultSaltBytes> m_salt{};
    SVaultKdfParams m_params{};
    bool m_bReady = false;
};

// The header as it is stored: KDF name, its parameters, the salt and the
// cipher name. Reading checks names and bounds but not the cost.
struct SVaultHeader {
    SVaultKdfParams params;
    std::array<unsigned char, kVaultSaltBytes> salt{};
};
void WriteVaultHeader(CStreamWriter& writer, const CVaultKey& key);
bool ReadVaultHeader(CStreamReader& reader, SVaultHeader& header);
// The header's bytes exactly as WriteVaultHeader writes them (reading
// accepts no other spelling, so these are also the bytes that were read).
std::string VaultHeaderBytes(const SVaultHeader& header);

// What is wrong with a header before any derivation, or nullptr: a salt of
// zeros (never drawn by us), a cost outside the accepted set. Such a header
// is damage or tampering, never a wrong password.
const char* VaultHeaderFault(const SVaultHeader& header);

// The digest that follows the header in newer files: SHA-256 over a label,
// the stream version and the header's bytes. Unkeyed, it tells a header
// damaged on disk (or one given another version marker) from a wrong
// password; a forger can recompute it, but the header's bytes are also in
// the associated data of every sealed record, so a forged header opens
// nothing.
constexpr std::size_t kVaultHeaderDigestBytes = 32;
std::string VaultHeaderDigest(std::uint32_t version, std::string_view headerBytes);

// One sealed record with its byte count.
void WriteSealed(CStreamWriter& writer, std::string_view sealed);
bool ReadSealed(CStreamReader& reader, std::string& sealed);

// A bounded reader over the plain bytes of an opened record.
class CPlainReader {
public:
    explicit CPlainReader(std::string_view bytes) : m_bytes(bytes) {}
    bool ReadU32(std::uint32_t& value);
    bool ReadText(std::size_t maxBytes, std::string& out);
    bool AtEnd() const { return m_offset == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_offset = 0;
};
void AppendU32(std::string& out, std::uint32_t value);
void AppendText(std::string& out, std::string_view text);
