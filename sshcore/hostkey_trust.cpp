#include "sshcore/hostkey_trust.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <tuple>

#include "platform/registry.h"
#include "platform/text.h"
#include "sshcore/digest.h"
#include "sshcore/known_hosts.h"
#include "sshcore/reader.h"

namespace sshcore {

namespace {

constexpr char16_t kHostKeysKey[] = u"Software\\Quillon\\Corvel\\SshHostKeys";
constexpr char16_t kAcceptedKey[] = u"Software\\Quillon\\Corvel\\AcceptedHostKeys";
// A stored key text longer than this is no key of ours (16,384-bit RSA is
// about 4,100 characters).
constexpr std::size_t kMaxKeyText = 8192;

// Hexadecimal digits after "0x" as big-endian bytes (an odd count gets a
// leading zero digit); false on anything else.
bool ParseHexNumber(std::string_view text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text.size() < 3 || text.substr(0, 2) != "0x") return false;
    text.remove_prefix(2);
    if (text.size() > kMaxKeyText) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::size_t i = 0;
    if (text.size() % 2 == 1) {
        const int d = digit(text[0]);
        if (d < 0) return false;
        out.push_back(static_cast<std::uint8_t>(d));
        i = 1;
    }
    for (; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

std::vector<std::string_view> SplitCommas(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return parts;
        start = comma + 1;
    }
}

// A fixed-width big-endian field of a point, left-padded with zeros.
bool PadTo(std::vector<std::uint8_t>& number, std::size_t width)
{
    while (number.size() > width && number.front() == 0) number.erase(number.begin());
    if (number.size() > width) return false;
    number.insert(number.begin(), width - number.size(), 0);
    return true;
}

bool ReadCacheValue(const std::string& name, std::string& text)
{
    std::u16string stored;
    if (!RegReadString(HKEY_CURRENT_USER, kHostKeysKey, AnsiToWide(name), stored)) return false;
    text = WideToAnsi(stored);
    return true;
}

}  // namespace

EHostKeyTrust DecideHostKeyTrust(std::string_view cacheType, std::string_view keyString,
                                 const std::vector<SKnownHostKey>& known, bool cacheDamaged)
{
    for (const SKnownHostKey& key : known)
        if (key.cacheType == cacheType) return key.keyString == keyString ? EHostKeyTrust::Match : EHostKeyTrust::Changed;
    if (!known.empty()) return EHostKeyTrust::NewType;
    return cacheDamaged ? EHostKeyTrust::Unverifiable : EHostKeyTrust::FirstContact;
}

bool NeedsExplicitYes(EHostKeyTrust trust)
{
    return trust != EHostKeyTrust::Match && trust != EHostKeyTrust::FirstContact;
}

EHostKeyTrust WithKnownHosts(EHostKeyTrust cacheTrust, const SKnownHostsVerdict& file, bool acceptedHere)
{
    if (file.revoked) return EHostKeyTrust::Revoked;
    if (file.matched) return EHostKeyTrust::Match;
    if (file.mismatched)
        return cacheTrust == EHostKeyTrust::Match && acceptedHere ? EHostKeyTrust::Match : EHostKeyTrust::Changed;
    if (cacheTrust == EHostKeyTrust::Match) return EHostKeyTrust::Match;
    if (file.otherTypes && (cacheTrust == EHostKeyTrust::FirstContact || cacheTrust == EHostKeyTrust::Unverifiable))
        return EHostKeyTrust::NewType;
    return cacheTrust;
}

const std::vector<std::string>& HostKeyCacheTypes()
{
    static const std::vector<std::string> types = {"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa2", "dss"};
    return types;
}

std::string HostKeyCacheType(std::string_view algorithm)
{
    if (algorithm == "ssh-ed25519" || algorithm == "ecdsa-sha2-nistp256") return std::string(algorithm);
    if (algorithm == "ssh-rsa" || algorithm == "rsa-sha2-256" || algorithm == "rsa-sha2-512") return "rsa2";
    if (algorithm == "ssh-dss") return "dss";
    return {};
}

std::string HostKeyValueName(std::string_view cacheType, std::uint32_t port, std::string_view host)
{
    std::string name = std::string(cacheType) + "@" + std::to_string(port) + ":";
    for (std::size_t i = 0; i < host.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(host[i]);
        const bool escape =
            c == ' ' || c == '\\' || c == '*' || c == '?' || c == '%' || c < 32 || c == 127 || (c == '.' && i == 0);
        if (escape) {
            name += '%';
            name += HexUpper(&c, 1);
        } else {
            name += static_cast<char>(c);
        }
    }
    return name;
}

std::vector<SKnownHostKey> ReadKnownHostKeys(std::uint32_t port, std::string_view host)
{
    std::vector<SKnownHostKey> known;
    for (const std::string& type : HostKeyCacheTypes()) {
        std::string text;
        const std::string name = HostKeyValueName(type, port, host);
        // Keys stored before the host part was escaped sit under the plain
        // name; they count as well.
        const std::string plain = type + "@" + std::to_string(port) + ":" + std::string(host);
        if (ReadCacheValue(name, text) || (plain != name && ReadCacheValue(plain, text)))
            known.push_back({type, std::move(text)});
    }
    return known;
}

SHostKeyCheck CheckHostKeyTrust(std::string_view cacheType, std::string_view keyString, std::uint32_t port,
                                std::string_view host)
{
    SHostKeyCheck check;
    check.known = ReadKnownHostKeys(port, host);
    check.damagedCopy = RegDamagedHiveCopy(HKEY_CURRENT_USER);
    check.trust = DecideHostKeyTrust(cacheType, keyString, check.known, !check.damagedCopy.empty());
    const std::vector<std::uint8_t> blob = HostKeyBlobFromCache(cacheType, keyString);
    // Only a yes to this very key counts against the user's file.
    bool acceptedHere = false;
    if (check.trust == EHostKeyTrust::Match && !blob.empty()) {
        const std::string record = ReadHostKeyAcceptance(cacheType, port, host);
        const std::size_t space = record.find(' ');
        const std::string fingerprint = Sha256Fingerprint(blob);
        acceptedHere = space != std::string::npos && record.compare(space + 1, fingerprint.size(), fingerprint) == 0 &&
                       (record.size() == space + 1 + fingerprint.size() || record[space + 1 + fingerprint.size()] == ' ');
    }
    check.trust = WithKnownHosts(check.trust, CheckUserKnownHosts(host, port, cacheType, blob), acceptedHere);
    return check;
}

std::vector<SKnownHostKey> HostKeyOfferHints(std::uint32_t port, std::string_view host)
{
    std::vector<SKnownHostKey> hints = ReadKnownHostKeys(port, host);
    for (const std::string& type : KnownHostsKeyTypes(ReadUserKnownHosts(), host, port)) {
        const bool held = std::any_of(hints.begin(), hints.end(), [&type](const SKnownHostKey& k) { return k.cacheType == type; });
        if (!held) hints.push_back({type, ""});
    }
    return hints;
}

bool StoreHostKey(std::string_view cacheType, std::uint32_t port, std::string_view host, std::string_view keyString)
{
    const std::string name = HostKeyValueName(cacheType, port, host);
    return RegWriteString(HKEY_CURRENT_USER, kHostKeysKey, AnsiToWide(name), AnsiToWide(keyString)) == ERROR_SUCCESS;
}

bool AcceptHostKey(std::string_view cacheType, std::uint32_t port, std::string_view host, std::string_view keyString,
                   EHostKeyTrust why)
{
    if (!StoreHostKey(cacheType, port, host, keyString)) return false;
    const std::vector<std::uint8_t> blob = HostKeyBlobFromCache(cacheType, keyString);
    if (blob.empty()) return false;
    // The time in UTC, written the same way on every platform.
    const std::string when = IsoUtcTime(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    const std::string record = when + " " + Sha256Fingerprint(blob) + " " + HostKeyTrustName(why);
    const std::string name = HostKeyValueName(cacheType, port, host);
    return RegWriteString(HKEY_CURRENT_USER, kAcceptedKey, AnsiToWide(name), AnsiToWide(record)) == ERROR_SUCCESS;
}

std::string ReadHostKeyAcceptance(std::string_view cacheType, std::uint32_t port, std::string_view host)
{
    std::u16string stored;
    const std::string name = HostKeyValueName(cacheType, port, host);
    if (!RegReadString(HKEY_CURRENT_USER, kAcceptedKey, AnsiToWide(name), stored)) return {};
    std::string text = WideToAnsi(stored);
    // A record is a time, a fingerprint and a word; anything long is none.
    return text.size() > 256 ? std::string() : text;
}

const char* HostKeyTrustName(EHostKeyTrust trust)
{
    switch (trust) {
    case EHostKeyTrust::Match: return "match";
    case EHostKeyTrust::FirstContact: return "first-contact";
    case EHostKeyTrust::Changed: return "changed";
    case EHostKeyTrust::NewType: return "new-type";
    case EHostKeyTrust::Unverifiable: return "unverifiable";
    case EHostKeyTrust::Revoked: return "revoked";
    }
    return "unknown";
}

std::vector<std::string> OrderHostKeyOffer(const std::vector<std::string>& offer,
                                           const std::vector<SKnownHostKey>& known)
{
    std::vector<std::string> ordered = offer;
    std::stable_partition(ordered.begin(), ordered.end(), [&known](const std::string& algorithm) {
        const std::string type = HostKeyCacheType(algorithm);
        return std::any_of(known.begin(), known.end(), [&type](const SKnownHostKey& k) { return k.cacheType == type; });
    });
    return ordered;
}

std::string Sha256Fingerprint(std::span<const std::uint8_t> blob)
{
    const Bytes digest = Sha256(blob);
    unsigned char encoded[64] = {};
    const int length = EVP_EncodeBlock(encoded, digest.data(), static_cast<int>(digest.size()));
    std::string text(reinterpret_cast<const char*>(encoded), length > 0 ? static_cast<std::size_t>(length) : 0);
    while (!text.empty() && text.back() == '=') text.pop_back();
    return "SHA256:" + text;
}

std::vector<std::uint8_t> HostKeyBlobFromCache(std::string_view cacheType, std::string_view keyString)
{
    if (keyString.size() > kMaxKeyText) return {};
    std::vector<std::uint8_t> blob;
    std::vector<std::uint8_t> number;
    const std::vector<std::string_view> parts = SplitCommas(keyString);
    if (cacheType == "rsa2" || cacheType == "dss") {
        const bool rsa = cacheType == "rsa2";
        if (parts.size() != (rsa ? 2u : 4u)) return {};
        AppendString(blob, std::string_view(rsa ? "ssh-rsa" : "ssh-dss"));
        for (std::string_view part : parts) {
            if (!ParseHexNumber(part, number)) return {};
            AppendMpint(blob, number);
        }
        return blob;
    }
    if (cacheType == "ssh-ed25519") {
        if (parts.size() != 1 || parts[0].size() != 66 || !ParseHexNumber(parts[0], number)) return {};
        AppendString(blob, "ssh-ed25519");
        AppendString(blob, number);
        return blob;
    }
    if (cacheType == "ecdsa-sha2-nistp256") {
        if (parts.size() != 3 || parts[0] != "nistp256") return {};
        std::vector<std::uint8_t> point = {0x04};
        for (std::size_t i = 1; i < 3; ++i) {
            if (!ParseHexNumber(parts[i], number) || !PadTo(number, 32)) return {};
            point.insert(point.end(), number.begin(), number.end());
        }
        AppendString(blob, "ecdsa-sha2-nistp256");
        AppendString(blob, "nistp256");
        AppendString(blob, point);
        return blob;
    }
    return {};
}

namespace {

// The host and port of a cache value name ("TYPE@PORT:HOST", the host with
// "%XX" escapes); false for any other name.
bool ParseHostKeyValueName(std::string_view name, SStoredHostKey& key)
{
    const std::size_t at = name.find('@');
    if (at == std::string_view::npos || at == 0) return false;
    const std::size_t colon = name.find(':', at + 1);
    if (colon == std::string_view::npos || colon == at + 1 || colon - at - 1 > 5) return false;
    std::uint32_t port = 0;
    for (char c : name.substr(at + 1, colon - at - 1)) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (port == 0 || port > 65535) return false;
    const std::string_view escaped = name.substr(colon + 1);
    std::string host;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            host += escaped[i];
            continue;
        }
        // "%XX" is an escape; any other "%" is the host's own (a name kept
        // plain by an older version, such as "fe80::1%eth0").
        unsigned value = 0;
        bool escape = escaped.size() - i >= 3;
        for (std::size_t j = i + 1; escape && j < i + 3; ++j) {
            const char c = escaped[j];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            escape = digit >= 0;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (!escape) {
            host += '%';
            continue;
        }
        host += static_cast<char>(value);
        i += 2;
    }
    if (host.empty()) return false;
    key.cacheType = std::string(name.substr(0, at));
    key.port = port;
    key.host = std::move(host);
    return true;
}

std::vector<std::u16string> ValueNames(const char16_t* subKey)
{
    std::vector<std::u16string> names;
    HKEY opened = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, subKey, KEY_READ, &opened) != ERROR_SUCCESS) return names;
    const RegKeyPtr key(opened);
    std::u16string name;
    for (DWORD i = 0; RegEnumValueName(key.get(), i, &name) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
}

}  // namespace

std::vector<SStoredHostKey> ListStoredHostKeys()
{
    std::vector<SStoredHostKey> keys;
    for (const std::u16string& name : ValueNames(kHostKeysKey)) {
        SStoredHostKey key;
        const std::vector<std::string>& types = HostKeyCacheTypes();
        if (!ParseHostKeyValueName(WideToAnsi(name), key) ||
            std::find(types.begin(), types.end(), key.cacheType) == types.end())
            continue;
        if (!ReadCacheValue(WideToAnsi(name), key.keyString)) continue;
        keys.push_back(std::move(key));
    }
    std::sort(keys.begin(), keys.end(), [](const SStoredHostKey& a, const SStoredHostKey& b) {
        return std::tie(a.host, a.port, a.cacheType) < std::tie(b.host, b.port, b.cacheType);
    });
    return keys;
}

std::size_t ForgetStoredHostKeys(std::string_view host, std::uint32_t port)
{
    std::size_t removed = 0;
    for (const char16_t* subKey : {kHostKeysKey, kAcceptedKey}) {
        HKEY opened = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, subKey, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) continue;
        const RegKeyPtr key(opened);
        for (const std::u16string& name : ValueNames(subKey)) {
            SStoredHostKey stored;
            if (!ParseHostKeyValueName(WideToAnsi(name), stored) || stored.host != host || stored.port != port) continue;
            if (RegDeleteValue(key.get(), name) == ERROR_SUCCESS && subKey == kHostKeysKey) ++removed;
        }
    }
    return removed;
}

int HostKeyBits(std::string_view cacheType, std::string_view keyString)
{
    if (cacheType == "ssh-ed25519" || cacheType == "ecdsa-sha2-nistp256")
        return HostKeyBlobFromCache(cacheType, keyString).empty() ? 0 : 256;
    const std::vector<std::string_view> parts = SplitCommas(keyString);
    std::vector<std::uint8_t> number;
    // The modulus of an RSA key ("e,n"), the prime of a DSA key ("p,q,g,y").
    const std::size_t which = cacheType == "rsa2" ? 1 : 0;
    if ((cacheType != "rsa2" && cacheType != "dss") || HostKeyBlobFromCache(cacheType, keyString).empty() ||
        !ParseHexNumber(parts[which], number))
        return 0;
    std::size_t first = 0;
    while (first < number.size() && number[first] == 0) ++first;
    if (first == number.size()) return 0;
    int bits = static_cast<int>(number.size() - first - 1) * 8;
    for (unsigned top = number[first]; top != 0; top >>= 1) ++bits;
    return bits;
}

std::string HostKeyTypeLabel(std::string_view cacheType)
{
    if (cacheType == "ssh-ed25519") return "ED25519";
    if (cacheType == "ecdsa-sha2-nistp256") return "ECDSA";
    if (cacheType == "rsa2") return "RSA";
    if (cacheType == "dss") return "DSA";
    return std::string(cacheType);
}

}  // namespace sshcore
