#include "sshcore/known_hosts.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sshcore/digest.h"
#include "sshcore/hostkey_trust.h"

namespace sshcore {

namespace {

constexpr std::size_t kMaxFile = 8u << 20;
constexpr std::size_t kMaxLine = 16384;
constexpr std::size_t kMaxPatterns = 256;

std::string_view NextWord(std::string_view& text)
{
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    std::size_t end = start;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    const std::string_view word = text.substr(start, end - start);
    text.remove_prefix(end);
    return word;
}

// Strict base64 (padding as written); false on anything else.
bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text.empty() || text.size() % 4 != 0 || text.size() > kMaxLine) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '/' || (c == '=' && i + 2 >= text.size());
        if (!ok) return false;
    }
    out.resize(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return false;
    std::size_t size = static_cast<std::size_t>(length);
    if (text.back() == '=') --size;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
    out.resize(size);
    return true;
}

bool ParseLine(std::string_view text, int number, SKnownHostsEntry& entry)
{
    entry = SKnownHostsEntry();
    entry.line = number;
    std::string_view word = NextWord(text);
    if (word.empty() || word.front() == '#') return false;
    if (word.front() == '@') {
        if (word == "@revoked")
            entry.marker = EKnownHostsMarker::Revoked;
        else if (word == "@cert-authority")
            entry.marker = EKnownHostsMarker::CertAuthority;
        else
            return false;
        word = NextWord(text);
    }
    const std::string_view hosts = word;
    entry.keyType = std::string(NextWord(text));
    if (!DecodeBase64(NextWord(text), entry.blob) || hosts.empty() || entry.keyType.empty()) return false;
    if (hosts.rfind("|1|", 0) == 0) {
        const std::string_view rest = hosts.substr(3);
        const std::size_t bar = rest.find('|');
        if (bar == std::string_view::npos || !DecodeBase64(rest.substr(0, bar), entry.salt) ||
            !DecodeBase64(rest.substr(bar + 1), entry.hash) || entry.hash.size() != 20 || entry.salt.empty())
            return false;
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = hosts.find(',', start);
        const std::string_view pattern =
            hosts.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (!pattern.empty()) entry.patterns.emplace_back(pattern);
        if (entry.patterns.size() > kMaxPatterns) return false;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return !entry.patterns.empty();
}

}  // namespace

std::vector<SKnownHostsEntry> ParseKnownHosts(std::string_view text)
{
    std::vector<SKnownHostsEntry> entries;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kMaxLine) continue;
        SKnownHostsEntry entry;
        if (ParseLine(line, number, entry)) entries.push_back(std::move(entry));
    }
    return entries;
}

std::string KnownHostsName(std::string_view host, std::uint32_t port)
{
    if (port == 22) return std::string(host);
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

bool KnownHostsEntryNames(const SKnownHostsEntry& entry, std::string_view listedName)
{
    if (!entry.hash.empty()) {
        std::uint8_t mac[20];
        CHmac hmac(EDigest::Sha1, ByteView(entry.salt.data(), entry.salt.size()));
        if (hmac.Size() != sizeof mac) return false;
        hmac.Compute({ByteView(reinterpret_cast<const std::uint8_t*>(listedName.data()), listedName.size())}, mac);
        return ConstantTimeEqual(mac, entry.hash.data(), sizeof mac);
    }
    return HostPatternsMatch(entry.patterns, listedName);
}

SKnownHostsVerdict CheckKnownHosts(const std::vector<SKnownHostsEntry>& entries, std::string_view host,
                                   std::uint32_t port, std::string_view cacheType,
                                   const std::vector<std::uint8_t>& blob)
{
    SKnownHostsVerdict verdict;
    const std::string name = KnownHostsName(host, port);
    bool sameType = false;
    bool anyKey = false;
    for (const SKnownHostsEntry& entry : entries) {
        if (entry.marker == EKnownHostsMarker::CertAuthority) continue;
        if (entry.marker == EKnownHostsMarker::Revoked) {
            // A revoked key stays revoked whatever host it is named for.
            if (!blob.empty() && entry.blob == blob) verdict.revoked = true;
            continue;
        }
        if (!KnownHostsEntryNames(entry, name)) continue;
        const std::string type = HostKeyCacheType(entry.keyType);
        anyKey = true;
        if (type != cacheType) continue;
        sameType = true;
        if (!blob.empty() && entry.blob == blob) verdict.matched = true;
    }
    verdict.mismatched = sameType && !verdict.matched;
    verdict.otherTypes = anyKey && !sameType;
    return verdict;
}

std::string KnownHostsPath()
{
    if (const char* path = std::getenv("FERRODEX_KNOWN_HOSTS"); path != nullptr) return path;
    const std::string home = UserHomeFolder();
    return home.empty() ? std::string() : home + "/.ssh/known_hosts";
}

std::vector<std::string> KnownHostsKeyTypes(const std::vector<SKnownHostsEntry>& entries, std::string_view host,
                                            std::uint32_t port)
{
    std::vector<std::string> types;
    const std::string name = KnownHostsName(host, port);
    for (const SKnownHostsEntry& entry : entries) {
        if (entry.marker != EKnownHostsMarker::None || !KnownHostsEntryNames(entry, name)) continue;
        const std::string type = HostKeyCacheType(entry.keyType);
        if (!type.empty() && std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    return types;
}

std::vector<SKnownHostsEntry> ReadUserKnownHosts()
{
    const std::string path = KnownHostsPath();
    if (path.empty()) return {};
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (ReadFileLimited(path, kMaxFile, bytes, error) != FileReadResult::Ok) return {};
    return ParseKnownHosts(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

SKnownHostsVerdict CheckUserKnownHosts(std::string_view host, std::uint32_t port, std::string_view cacheType,
                                       const std::vector<std::uint8_t>& blob)
{
    return CheckKnownHosts(ReadUserKnownHosts(), host, port, cacheType, blob);
}

}  // namespace sshcore
