// Whether a server's host key is trusted: the one rule both SSH engines
// follow, over the host-key cache they share in the registry
// (HKEY_CURRENT_USER\Software\Quillon\Corvel\SshHostKeys, one string value
// "type@port:host" per key type and host). Each engine keeps its own
// messages and error codes; the decision and the cache live here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sshcore {

// What the cache says about the key a server presented.
enum class EHostKeyTrust {
    Match,         // the cache holds this very key for the host
    FirstContact,  // the cache holds no key of any type for the host
    Changed,       // the cache holds another key of this type
    NewType,       // no key of this type, but a key of another type is known
    Unverifiable,  // nothing known, but the cache was damaged: it may have been
    Revoked,       // the user's known_hosts lists the key "@revoked": refused, never asked
};

// A key remembered for a host: its cache type ("rsa2", "dss",
// "ssh-ed25519", "ecdsa-sha2-nistp256") and its text form.
struct SKnownHostKey {
    std::string cacheType;
    std::string keyString;
};

// The pure decision. known: every key the cache holds for the host and port.
EHostKeyTrust DecideHostKeyTrust(std::string_view cacheType, std::string_view keyString,
                                 const std::vector<SKnownHostKey>& known, bool cacheDamaged);

// Only a match and a first contact with an intact cache may go on without an
// explicit yes from the user (and a revoked key not even with one).
bool NeedsExplicitYes(EHostKeyTrust trust);

struct SKnownHostsVerdict;
// The cache's decision together with what the user's known_hosts says
// (see known_hosts.h): a revoked key is refused; a key listed for the host
// is a match; a listed key of the same type that differs makes it a changed
// key whatever the cache holds, unless the cache holds the presented key
// because the user accepted this very key here (acceptedHere: see
// AcceptHostKey); otherwise a key stored in the cache matches, and listed
// keys of other types only make a first contact a new type.
EHostKeyTrust WithKnownHosts(EHostKeyTrust cacheTrust, const SKnownHostsVerdict& file, bool acceptedHere = false);

// The cache types in the order both engines offer their algorithms.
const std::vector<std::string>& HostKeyCacheTypes();
// The cache type of a host-key algorithm ("rsa-sha2-512" -> "rsa2"), or ""
// for a name neither engine knows.
std::string HostKeyCacheType(std::string_view algorithm);

// The value name of a host's key: type, "@", port, ":", then the host with
// space, '\', '*', '?', '%', control bytes, byte 127 and a leading '.'
// written as "%XX".
std::string HostKeyValueName(std::string_view cacheType, std::uint32_t port, std::string_view host);

// One look at the cache for a presented key.
struct SHostKeyCheck {
    EHostKeyTrust trust = EHostKeyTrust::FirstContact;
    std::vector<SKnownHostKey> known;  // what the cache holds for the host
    std::string damagedCopy;           // where a damaged cache file was kept, or ""
};

// Reads the cache (a missing key or value counts as unknown) and the
// user's known_hosts, and decides.
SHostKeyCheck CheckHostKeyTrust(std::string_view cacheType, std::string_view keyString, std::uint32_t port,
                                std::string_view host);
// Every key the cache holds for host and port, in HostKeyCacheTypes() order.
std::vector<SKnownHostKey> ReadKnownHostKeys(std::uint32_t port, std::string_view host);
// Stores (or replaces) the key of its type for host and port; false when the
// registry could not be written. This is the silent store of a first
// contact: such a key does not stand against the user's known_hosts.
bool StoreHostKey(std::string_view cacheType, std::uint32_t port, std::string_view host, std::string_view keyString);

// Stores the key as above after the user (or the caller on the user's
// behalf, as --accept-changed-host-key) said yes to it, and records that
// yes beside the cache, under
// HKEY_CURRENT_USER\Software\Quillon\Corvel\AcceptedHostKeys, value
// name as HostKeyValueName, text "<UTC time> <SHA256 fingerprint> <why>":
// "2026-12-07T21:30:05Z SHA256:abc.. changed" (why: HostKeyTrustName).
// A recorded key counts against a differing known_hosts line (see
// WithKnownHosts) as long as the cache holds that very key.
bool AcceptHostKey(std::string_view cacheType, std::uint32_t port, std::string_view host, std::string_view keyString,
                   EHostKeyTrust why);

// The recorded yes for a key type of a host ("" when none), as written
// by AcceptHostKey.
std::string ReadHostKeyAcceptance(std::string_view cacheType, std::uint32_t port, std::string_view host);

// "match", "first-contact", "changed", "new-type", "unverifiable", "revoked".
const char* HostKeyTrustName(EHostKeyTrust trust);

// Whether a key that needed the user's yes was taken on a connection: its
// password (and keyboard-interactive answers) are then withheld, as a
// changed key may be a machine in the middle collecting them; keys and the
// agent still log in. The next connection, with the key now stored, sends
// the password.
inline bool WithholdsPassword(EHostKeyTrust acceptedTrust)
{
    return acceptedTrust == EHostKeyTrust::Changed || acceptedTrust == EHostKeyTrust::NewType ||
           acceptedTrust == EHostKeyTrust::Unverifiable;
}

// The text a login that had only the password left ends with after such a key.
inline constexpr const char* kPasswordWithheldText =
    "The password was not sent because the server's host key changed and was accepted on this connection; "
    "the new key is stored now, and the next connection sends the password";

// What a host-key offer is ordered by: the keys the cache holds for host and
// port, then (with an empty text) the other types the user's known_hosts
// lists for it, so that a server listed there presents a listed key.
std::vector<SKnownHostKey> HostKeyOfferHints(std::uint32_t port, std::string_view host);

// A host-key algorithm offer with the algorithms of the key types already
// known for the host first (in their offered order), then the others, so
// that a server that still has its old key presents it.
std::vector<std::string> OrderHostKeyOffer(const std::vector<std::string>& offer,
                                           const std::vector<SKnownHostKey>& known);

// Fingerprints of a public key blob: "SHA256:" and the unpadded base64 of
// its SHA-256 digest, as ssh-keygen -l prints it.
std::string Sha256Fingerprint(std::span<const std::uint8_t> blob);

// The public key blob of a key in its cache text form; empty when the text
// is not a well-formed key of that type.
std::vector<std::uint8_t> HostKeyBlobFromCache(std::string_view cacheType, std::string_view keyString);

// A key the cache holds, as a listing shows it.
struct SStoredHostKey {
    std::string host;  // unescaped
    std::uint32_t port = 0;
    std::string cacheType;
    std::string keyString;
};
// Every key the cache holds, sorted by host, port and type; values whose
// names are not of the cache's form are left out.
std::vector<SStoredHostKey> ListStoredHostKeys();
// Removes every key (of every type) stored for host and port, with the
// records of their acceptance; the number of keys removed.
std::size_t ForgetStoredHostKeys(std::string_view host, std::uint32_t port);
// The size of a cached key in bits as ssh-keygen -l states it (an RSA
// modulus, a DSA prime, 256 for Ed25519 and nistp256); 0 when unreadable.
int HostKeyBits(std::string_view cacheType, std::string_view keyString);
// The key type as ssh-keygen -l names it: "ED25519", "ECDSA", "RSA", "DSA".
std::string HostKeyTypeLabel(std::string_view cacheType);

// RSA host keys shorter than this are refused, as the stock client does.
inline constexpr int kMinRsaHostKeyBits = 1024;

}  // namespace sshcore
