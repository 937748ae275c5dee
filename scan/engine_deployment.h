// Putting the scanning engine (lshw, packaged as Vorbex) on a host that
// lacks it: find and check the local package, ask the user, upload it and
// build it there.
#pragma once

#include <string>

class CHostNode;

// The package record, filled once per process by LocateEnginePackage.
extern std::u16string g_bstrEnginePath;
extern std::u16string g_bstrEngineName;
extern std::string g_strEngineVersion;
extern std::u16string g_bstrEngineVersion;
extern std::u16string g_bstrEngineSignature;

// Where the product keeps the package description and the dialog answers.
inline constexpr const char16_t* kProductKey = u"Software\\Quillon\\Ferrodex";

// 0 to go on with the deployment, 1 to stop.
int ConfirmEngineDeployment();
// Fills the package record; true when no usable package was found.
bool LocateEnginePackage(std::string& version);
// True when the signature fits the package.
bool VerifyEnginePackage(const std::u16string& packagePath, const std::u16string& signature);
// Copies the package to /tmp/ on the host; raises ESCPErrors on failure.
void UploadEnginePackage(CHostNode& host);
// Unpacks and builds the package over the open SSH session; raises the
// scan's command errors on failure.
void BuildEngineOnHost(CHostNode& host);

// The digest of a file as lower-case hex: algorithm 0 SHA-1, 1 MD5,
// 2 RIPEMD-160. A file that cannot be opened raises its errno as an int; an
// unknown algorithm raises std::invalid_argument; an empty path gives "".
std::string FileDigestHex(const std::string& path, int algorithm);

// Test hook: forgets the package record, as a new process would.
void ResetEnginePackage();
