// Putting the scanning engine (lshw, packaged as Vorbex) on a host that
// lacks it: find and check the local package, ask the user, upload it into
// a private folder on the host and build it there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CHostNode;

// The package record, filled once per process by LocateEnginePackage.
extern std::u16string g_bstrEnginePath;
extern std::u16string g_bstrEngineName;
extern std::string g_strEngineVersion;
extern std::u16string g_bstrEngineVersion;
extern std::u16string g_bstrEngineSignature;

// Where the product keeps the package description and the dialog answers.
inline constexpr const char16_t* kProductKey = u"Software\\Quillon\\Ferrodex";

// The largest package file read.
inline constexpr std::size_t kMaxEnginePackageBytes = 64u * 1024 * 1024;

// 0 to go on with the deployment, 1 to stop.
int ConfirmEngineDeployment();
// Fills the package record; true when no usable package was found.
bool LocateEnginePackage(std::string& version);
// True when the signature fits the package.
bool VerifyEnginePackage(const std::u16string& packagePath, const std::u16string& signature);

// What the package tools write: a version of 1 to 64 characters from
// [0-9A-Za-z.+~_-] starting with a letter or digit, and a name
// "lshw-<same characters>.tar.gz" of at most 128 characters. Anything else
// in the registry is treated as a damaged package description.
bool IsValidEnginePackageVersion(std::u16string_view version);
bool IsValidEnginePackageName(std::u16string_view name);

// Reads the described package once (at most kMaxEnginePackageBytes) and
// checks its signature over exactly the bytes returned; only these bytes are
// uploaded. A package that cannot be read or does not fit its signature
// forgets the package record and raises a CommandError with the
// "corrupted" text.
std::vector<std::uint8_t> ReadVerifiedEnginePackage();

// A folder on the host of the current session made by `mktemp -d` (mode
// 700, owned by the login); removed with everything in it when the object
// goes, after a failure as well, while the session is still open. Making it
// raises the scan's command errors.
class CHostFolder {
public:
    CHostFolder();
    ~CHostFolder();
    CHostFolder(const CHostFolder&) = delete;
    CHostFolder& operator=(const CHostFolder&) = delete;
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// The folder `mktemp -d` printed: the last line of `output` (a login banner
// may come first), an absolute path of printable ASCII without "." or ".."
// components, at most 1024 characters. False when there is none.
bool ParseHostFolder(std::string_view output, std::string& folder);

// Copies `package` into `folder` on the host under the package's name;
// raises ESCPErrors on failure (the session stays open).
void UploadEnginePackage(CHostNode& host, std::span<const std::uint8_t> package, const std::string& folder);
// Unpacks and builds the package in `folder` over the open SSH session.
// A failing step raises its output as a CommandError with the session still
// open (so that the folder can be removed); a lost session raises as
// CheckSshResult does. With `sudoPassword` (the host's password, empty for
// none) the install runs through sudo, system-wide (/usr/local/sbin, its
// data in /usr/local/share/lshw); a sudo that refuses is told as a note and
// the install goes into the login's home.
void BuildEngineOnHost(const std::string& folder, const std::string* sudoPassword = nullptr);

// The SHA-1 digest of bytes as lower-case hex, the text the package's
// signature covers.
std::string BytesDigestHex(std::span<const std::uint8_t> bytes);
// The digest of a file as lower-case hex: algorithm 0 SHA-1, 1 MD5,
// 2 RIPEMD-160. A file that cannot be opened raises its errno as an int; an
// unknown algorithm raises std::invalid_argument; an empty path gives "".
std::string FileDigestHex(const std::string& path, int algorithm);

// Test hook: forgets the package record, as a new process would.
void ResetEnginePackage();
