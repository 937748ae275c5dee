// The user's own known_hosts file, as the stock OpenSSH client keeps it:
// a key listed there for a host counts as known to both SSH engines, a
// mismatch with it counts as a changed key, and a key listed "@revoked" is
// refused whatever else says. Lines are "[marker] hosts keytype base64
// [comment]"; hosts is a comma list of names or patterns ("*", "?", "!"),
// "[host]:port" for another port than 22, or one hashed "|1|salt|hash"
// (HMAC-SHA1 of the name under the salt). "@cert-authority" lines are
// ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sshcore {

enum class EKnownHostsMarker { None, Revoked, CertAuthority };

struct SKnownHostsEntry {
    EKnownHostsMarker marker = EKnownHostsMarker::None;
    std::vector<std::string> patterns;  // plain names and patterns
    std::vector<std::uint8_t> salt;     // a hashed entry: its salt and hash
    std::vector<std::uint8_t> hash;
    std::string keyType;                // as written ("ssh-rsa", "ssh-ed25519" ...)
    std::vector<std::uint8_t> blob;     // the public key blob
    int line = 0;
};

// The readable entries; a line that is none is skipped.
std::vector<SKnownHostsEntry> ParseKnownHosts(std::string_view text);

// The name a host is listed under: "host", or "[host]:port" when the port
// is not 22.
std::string KnownHostsName(std::string_view host, std::uint32_t port);

// Whether an entry names the host ("host" or "[host]:port" as above).
bool KnownHostsEntryNames(const SKnownHostsEntry& entry, std::string_view listedName);

// What the file says about one presented key.
struct SKnownHostsVerdict {
    bool revoked = false;       // the key is listed "@revoked" (for any host)
    bool matched = false;       // the key is listed for this host
    bool mismatched = false;    // another key of the same type is listed for it
    bool otherTypes = false;    // only keys of other types are listed for it
};

// cacheType: the presented key's cache type (see hostkey_trust.h); blob:
// its public key blob.
SKnownHostsVerdict CheckKnownHosts(const std::vector<SKnownHostsEntry>& entries, std::string_view host,
                                   std::uint32_t port, std::string_view cacheType,
                                   const std::vector<std::uint8_t>& blob);

// The file of the user running the process: $FERRODEX_KNOWN_HOSTS when set
// (empty: none), else ~/.ssh/known_hosts.
std::string KnownHostsPath();

// The cache types (see hostkey_trust.h) of the keys the entries list for a
// host, revoked and certificate-authority lines left out.
std::vector<std::string> KnownHostsKeyTypes(const std::vector<SKnownHostsEntry>& entries, std::string_view host,
                                            std::uint32_t port);

// The entries of the user's file (at most a few MiB; a missing or
// unreadable file has none).
std::vector<SKnownHostsEntry> ReadUserKnownHosts();

// Reads that file and checks a key against it.
SKnownHostsVerdict CheckUserKnownHosts(std::string_view host, std::uint32_t port, std::string_view cacheType,
                                       const std::vector<std::uint8_t>& blob);

}  // namespace sshcore
