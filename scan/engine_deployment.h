// Putting the scanning engine (lshw, packaged as Vorbex) on a host that
// lacks it: find and check the local package, ask the user, upload it into
// a private folder on the host and build it there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/snapin_contract.h"
#include "scan/scan_request.h"

// The package record, filled once per process by LocateEnginePackage.
extern std::u16string g_bstrEnginePath;
extern std::u16string g_bstrEngineName;
extern std::string g_strEngineVersion;
extern std::u16string g_bstrEngineVersion;
extern std::u16string g_bstrEngineSignature;
// The architectures (`uname -m` names) the package carries a prebuilt lshw
// for, space-separated; empty for a package that carries only the source.
extern std::string g_strEngineArchitectures;

// Where the product keeps the package description and the dialog answers.
inline constexpr const char16_t* kProductKey = kProductSettingsKey;

// The largest package file read.
inline constexpr std::size_t kMaxEnginePackageBytes = 64u * 1024 * 1024;

enum EDeployAnswer { DEPLOY_GO = 0, DEPLOY_STOP = 1, DEPLOY_NO_PACKAGE = 2 };
// Whether to go on with the deployment: the stored answers, else the
// questions (none when `ask` is false), and whether a usable package is
// described (a damaged one is told as an error). DEPLOY_NO_PACKAGE when
// the deployment was agreed but there is no package to deploy.
int ConfirmEngineDeployment(IScanQuestions& questions, bool ask = true);
// The same with the module's dialogs; no package is DEPLOY_STOP.
int ConfirmEngineDeployment();
// One of the two deployment dialogs, its "do not show again" box starting
// from `remembered`; true for OK.
bool AskDeploymentInDialog(EDeployQuestion question, int remembered);
// Fills the package record; true when no usable package was found. A
// damaged package description is told as an error (without `questions` in
// an error box).
bool LocateEnginePackage(std::string& version, IScanQuestions& questions);
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
// forgets the package record and raises a CScanError with the
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

// Copies `package` into `folder` on the scanned host under the package's
// name, with the scan's login and through its jump hosts (with the
// passwords typed for them during the scan); raises ESCPErrors on failure
// (the session stays open).
void UploadEnginePackage(const SScanRequest& request, std::span<const std::uint8_t> package,
                         const std::string& folder, const CTypedHopPasswords& typed = CTypedHopPasswords());
// Where the install puts lshw: the login's ~/.local (with a PATH line in
// ~/.bashrc), or /usr/local/sbin with its data in /usr/local/share/lshw
// (the install must then run as root).
enum class EEngineDestination { LoginHome, SystemWide };

// How lshw came onto the host.
struct SEngineInstall {
    std::string architecture;  // the host's `uname -m`, as the package names it
    bool prebuilt = false;     // false: built from the source on the host
};

// Asks the host its architecture, unpacks the package in `folder` and
// installs lshw into `destination`: the package's prebuilt binary for that
// architecture when it has one that runs there, otherwise built from the
// source. `questions` gets the progress texts (what is about to happen, then
// what happened) and the notes; the outcome is also written to the
// package's registry record.
// A failing step raises its output as a CScanError with the session still
// open (so that the folder can be removed); a lost session raises as
// CheckSshResult does. With `sudoPassword` (the host's password, empty for
// none) the install runs through sudo, system-wide (/usr/local/sbin, its
// data in /usr/local/share/lshw); a sudo that refuses is told as a note and
// the install goes to `destination` without it.
SEngineInstall InstallEngineOnHost(const std::string& folder, EEngineDestination destination,
                                   IScanQuestions& questions, const std::string* sudoPassword = nullptr);

// The machine name `uname -m` printed: the last line of `output` (a login
// banner may come first), 1 to 32 characters of [A-Za-z0-9_-]. False when
// there is none.
bool ParseMachineName(std::string_view output, std::string& machine);
// The package's name for a machine: "amd64" is "x86_64", "arm64" is
// "aarch64"; any other name stays as it is.
std::string EngineArchitecture(std::string_view machine);
// Whether a space-separated list of architectures is what the package tools
// write: up to 8 names, each as ParseMachineName takes them.
bool IsValidEngineArchitectureList(std::string_view list);
// Whether the package record lists a prebuilt lshw for `architecture`.
bool PackageHasPrebuilt(std::string_view architecture);

// The SHA-1 digest of bytes as lower-case hex, the text the package's
// signature covers.
std::string BytesDigestHex(std::span<const std::uint8_t> bytes);
// The digest of a file as lower-case hex: algorithm 0 SHA-1, 1 MD5,
// 2 RIPEMD-160. A file that cannot be opened raises its errno as an int; an
// unknown algorithm raises a CScanError (SES_ARGUMENT), a file that cannot
// be read one of SES_FILE; an empty path gives "".
std::string FileDigestHex(const std::string& path, int algorithm);

// Test hook: forgets the package record, as a new process would.
void ResetEnginePackage();
