// The algorithms both SSH engines know: one table per kind (key exchange,
// host key, cipher, MAC, compression) with the facts each engine needs, in
// the order of preference. An engine picks its offer from these tables
// (which names, in which order) and keeps no table of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/cipher.h"
#include "sshcore/digest.h"

namespace sshcore {

// ------------------------------------------------------------ key exchange

enum class EKexKind {
    Ecdh,              // curve25519 or NIST P-256
    FixedGroup,        // a named MODP group
    GroupExchange,     // the server's group, asked for with min, n and max
    GroupExchangeOld,  // the server's group, asked for with n alone
};
enum class ECurveKind { X25519, P256 };

struct SKexAlgorithm {
    const char* name;
    EKexKind kind;
    EDigest hash;     // the exchange hash and the key derivation
    int group;        // FixedGroup: the MODP group number (1, 14, 16)
    ECurveKind curve; // Ecdh only
};
// Every method, in preference order.
std::span<const SKexAlgorithm> KexAlgorithms();
const SKexAlgorithm* FindKexAlgorithm(std::string_view name);
bool IsGroupExchange(const SKexAlgorithm& method);
// The markers that follow the methods in a client's first offer: strict key
// exchange (ours and the server's) and the wish for the server's extensions.
inline constexpr char kStrictKexClient[] = "kex-strict-c-v00@openssh.com";
inline constexpr char kStrictKexServer[] = "kex-strict-s-v00@openssh.com";
inline constexpr char kExtInfoClient[] = "ext-info-c";
// The group sizes a current group-exchange request asks for.
inline constexpr unsigned kGroupExchangeMinBits = 2048;
inline constexpr unsigned kGroupExchangeMaxBits = 8192;
// Bits of the group asked for in the old group exchange, from the cipher's
// key bits (capped at 160): 512 << ((nbits - 1) / 64).
std::uint32_t GroupExchangeBits(std::size_t cipherKeyBits);
// The preferred group size n of a current group exchange (our choice): a
// group as strong as the cipher key and no stronger, 3072 bits for keys of
// up to 128 bits, 7680 up to 192, else 8192.
std::uint32_t GroupExchangeRequestBits(std::size_t cipherKeyBits);

// ---------------------------------------------------------------- host keys

// Host-key algorithms in preference order (before the known keys of a host
// move to the front: see OrderHostKeyOffer).
std::span<const char* const> HostKeyAlgorithms();

// ------------------------------------------------------------------ ciphers

enum class ECipherMode { Cbc, Ctr, Gcm, ChaCha };
// The families a user orders in the upload settings.
enum class ECipherFamily { Aes, Blowfish, TripleDes, Des };

struct SCipherAlgorithm {
    const char* name;
    const char* display;  // in messages: "AES-256", "triple-DES"
    ECipherFamily family;
    ECipherMode mode;
    ECipher kind;           // the block cipher (Cbc and Ctr only)
    std::size_t keyBytes;   // derived key bytes it takes
    std::size_t ivBytes;    // derived IV bytes it takes
    std::size_t blockSize;  // the multiple the padding makes up
    std::size_t keyBits;    // strength, which sizes the key exchange
};
// Every cipher, in preference order, whether or not this OpenSSL runs it;
// single DES comes last and is offered only where a user allows it.
std::span<const SCipherAlgorithm> CipherAlgorithms();
const SCipherAlgorithm* FindCipherAlgorithm(std::string_view name);
// Whether the cipher authenticates its packets itself (and takes no MAC).
bool IsAead(const SCipherAlgorithm& cipher);
// Whether this OpenSSL runs it (Blowfish and DES need the legacy provider).
bool CipherAlgorithmAvailable(const SCipherAlgorithm& cipher);

// --------------------------------------------------------------------- MACs

struct SMacAlgorithm {
    const char* name;
    bool keyed;      // false: "none"
    EDigest digest;  // when keyed
    bool etm;        // over the clear length and the encrypted packet
};
// Every MAC, in preference order, "none" last.
std::span<const SMacAlgorithm> MacAlgorithms();
const SMacAlgorithm* FindMacAlgorithm(std::string_view name);
// Its key and output length (0 for "none").
std::size_t MacLength(const SMacAlgorithm& mac);

// -------------------------------------------------------------- compression

// The compression methods: "zlib", "zlib@openssh.com" (started once the
// user is authenticated) and "none".
std::span<const char* const> CompressionAlgorithms();
// One direction's compression offer: zlib first when preferred, then the
// delayed method, and "none" as the last resort either way.
std::vector<std::string> CompressionOffer(bool preferZlib);

// --------------------------------------------------------------- name lists

// "a,b,c" as names; empty names are left out.
std::vector<std::string> SplitNameList(std::string_view list);
bool NameListContains(std::string_view list, std::string_view name);
// Names joined with commas.
std::string JoinNameList(const std::vector<std::string>& names);

}  // namespace sshcore
