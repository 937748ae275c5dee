#include "console/sealed_files.h"

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr char16_t kSealedKey[] = u"Software\\Quillon\\Corvel\\SealedConsoleFiles";

// Two values per file: "path:<canonical path>" holding its identity, and
// "file:<device>:<inode>" holding its path.
std::u16string PathName(const std::string& canonical) { return u"path:" + AnsiToWide(canonical); }

std::u16string FileName(const SFileIdentity& identity)
{
    return u"file:" + AnsiToWide(std::to_string(identity.device) + ":" + std::to_string(identity.inode));
}

bool Has(std::u16string_view name)
{
    std::u16string value;
    return RegReadString(HKEY_CURRENT_USER, kSealedKey, name, value);
}

void Delete(std::u16string_view name)
{
    HKEY raw = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kSealedKey, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
    RegKeyPtr key(raw);
    RegDeleteValue(key.get(), name);
}

// Removes what was noted for the path, and the identity noted with it.
void ForgetPath(const std::string& canonical)
{
    std::u16string identity;
    if (RegReadString(HKEY_CURRENT_USER, kSealedKey, PathName(canonical), identity)) Delete(identity);
    Delete(PathName(canonical));
}

}  // namespace

bool WasSealedConsoleFile(const std::string& path)
{
    const std::string canonical = CanonicalPath(path);
    if (!canonical.empty() && Has(PathName(canonical))) return true;
    SFileIdentity identity;
    return IdentityOfPath(path, identity) && Has(FileName(identity));
}

void NoteSealedConsoleFile(const std::string& path)
{
    const std::string canonical = CanonicalPath(path);
    SFileIdentity identity;
    if (canonical.empty() || !IdentityOfPath(path, identity)) return;
    ForgetPath(canonical);
    RegWriteString(HKEY_CURRENT_USER, kSealedKey, PathName(canonical), FileName(identity));
    RegWriteString(HKEY_CURRENT_USER, kSealedKey, FileName(identity), AnsiToWide(canonical));
}

void ForgetSealedConsoleFile(const std::string& path)
{
    const std::string canonical = CanonicalPath(path);
    if (!canonical.empty()) ForgetPath(canonical);
    SFileIdentity identity;
    if (!IdentityOfPath(path, identity)) return;
    // The file may have been noted under another path (moved since).
    std::u16string other;
    if (RegReadString(HKEY_CURRENT_USER, kSealedKey, FileName(identity), other)) ForgetPath(WideToAnsi(other));
    Delete(FileName(identity));
}
