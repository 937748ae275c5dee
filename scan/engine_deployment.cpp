#include "scan/engine_deployment.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/engine_signature.h"
#include "scan/scan_job.h"
#include "scp/scp.h"
#include "ssh2/ssh2.h"

std::u16string g_bstrEnginePath;
std::u16string g_bstrEngineName;
std::string g_strEngineVersion;
std::u16string g_bstrEngineVersion;
std::u16string g_bstrEngineSignature;

namespace {

constexpr int kEngineAbsentDialog = 140;
constexpr int kReadyToInstallDialog = 134;
constexpr int kDoNotShowAgain = 1205;
constexpr int kCorruptedPackage = 138;
constexpr DWORD kAsk = 0xFFFFFFFFu;  // -1: no stored answer

// The two deployment questions. Their "do not show again" box starts from
// the stored answer and is never read back.
int AskWithDialog(int templateId, DWORD flag)
{
    DialogState dialog;
    dialog.checks[kDoNotShowAgain] = flag <= 2 ? static_cast<int>(flag) : 0;
    return DialogBoxParam(g_hInstance, templateId, GetActiveWindow(), dialog) == IDOK ? IDOK : IDCANCEL;
}

DWORD ReadAnswer(const char16_t* name, DWORD missing)
{
    DWORD value = missing;
    if (!RegReadDword(HKEY_CURRENT_USER, kProductKey, name, value)) value = missing;
    return value;
}

// Reads one text value of the package description, bounded by its buffer.
bool ReadPackageValue(HKEY key, const char16_t* name, std::size_t bufferBytes, std::u16string& out)
{
    std::vector<std::uint8_t> bytes(bufferBytes);
    DWORD size = static_cast<DWORD>(bytes.size());
    DWORD type = REG_NONE;
    if (RegQueryValueEx(key, name, &type, bytes.data(), &size) != ERROR_SUCCESS || type != REG_SZ) return false;
    out.clear();
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        out += c;
    }
    return true;
}

void RunBuildCommand(const std::u16string& command)
{
    const std::string text = WideToAnsi(command);
    CheckSshResult(CSSH2::Exec(text.c_str()));
    CheckCommandStatus();
}

}  // namespace

int ConfirmEngineDeployment()
{
    const DWORD stored = ReadAnswer(u"LSHWAbsentChb", kAsk);
    const DWORD answer = stored == kAsk ? static_cast<DWORD>(AskWithDialog(kEngineAbsentDialog, stored)) : stored;
    if (answer == IDCANCEL) return 1;
    if (g_strEngineVersion.empty()) LocateEnginePackage(g_strEngineVersion);
    if (g_strEngineVersion.empty()) return 1;
    g_bstrEngineVersion = AnsiToWide(g_strEngineVersion);
    if (g_bstrEngineVersion.empty()) return 1;
    // A stored "do not show again" means the user agreed once for all.
    const DWORD infoOk = ReadAnswer(u"InfoOkChb", 0);
    if (infoOk != 0) return 0;
    return AskWithDialog(kReadyToInstallDialog, infoOk) == IDOK ? 0 : 1;
}

bool LocateEnginePackage(std::string& version)
{
    version.clear();
    HKEY raw = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ, &raw) == ERROR_SUCCESS) {
        RegKeyPtr key(raw);
        std::u16string text;
        if (ReadPackageValue(key.get(), u"LSHWPath", 260, g_bstrEnginePath) &&
            ReadPackageValue(key.get(), u"LSHWName", 1024, g_bstrEngineName) &&
            ReadPackageValue(key.get(), u"LSHWVersion", 1024, text)) {
            version = WideToAnsi(text);
            ReadPackageValue(key.get(), u"LSHWCRC", 1024, g_bstrEngineSignature);
        }
    }
    if (g_bstrEngineSignature.empty()) {
        version.clear();
        return true;
    }
    if (!VerifyEnginePackage(g_bstrEnginePath + g_bstrEngineName, g_bstrEngineSignature)) {
        MessageBox(nullptr, LoadString(g_hInstance, kCorruptedPackage), u"Error", MB_OK | MB_ICONERROR);
        g_bstrEngineName.clear();
        version.clear();
        return true;
    }
    return version.empty();
}

bool VerifyEnginePackage(const std::u16string& packagePath, const std::u16string& signature)
{
    const std::string digest = FileDigestHex(WideToAnsi(packagePath), 0);
    return VerifyEngineSignature(digest, WideToAnsi(signature));
}

void UploadEnginePackage(CHostNode& host)
{
    const std::string address = WideToAnsi(host.m_bstrHost);
    Wiped<std::string> login(WideToAnsi(host.m_bstrLogin));
    Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
    const std::string local = WideToAnsi(g_bstrEnginePath + g_bstrEngineName);
    const std::string remote = WideToAnsi(u"/tmp/" + g_bstrEngineName);
    ScpJobOptions options;
    options.user_data = 0;
    options.new_host_key_policy = HOSTKEY_ACCEPT_AND_STORE;
    options.changed_host_key_policy = HOSTKEY_REJECT;
    options.key_file = "";
    options.compression = 1;
    options.timeout_seconds = 300;
    options.cancel_requested = 0;
    const int result = ScpUploadFile(address.c_str(), host.m_nPort, login.get().c_str(), password.get().c_str(),
                                     local.c_str(), remote.c_str(), nullptr, &options);
    if (result != 0) {
        CSSH2::Disconnect();
        throw static_cast<ESCPErrors>(result);
    }
}

void BuildEngineOnHost(CHostNode&)
{
    const std::u16string folder = u"lshw-" + g_bstrEngineVersion;
    RunBuildCommand(u"cd /tmp ;ls " + folder + u" >/dev/null 2>&1 && rm -r " + folder + u"; tar xvzf " + g_bstrEngineName);
    RunBuildCommand(u"cd /tmp/" + folder + u" && ./install > make.log && cd .. && rm -r " + folder);
}

std::string FileDigestHex(const std::string& path, int algorithm)
{
    const EVP_MD* md = algorithm == 0 ? EVP_sha1() : algorithm == 1 ? EVP_md5() : algorithm == 2 ? EVP_ripemd160() : nullptr;
    if (md == nullptr) throw std::invalid_argument("unknown digest algorithm");
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) throw errno != 0 ? errno : ENOENT;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) throw std::runtime_error("digest unavailable");
    std::vector<char> block(16384);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (in.gcount() > 0) EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw EIO;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

void ResetEnginePackage()
{
    g_bstrEnginePath.clear();
    g_bstrEngineName.clear();
    g_strEngineVersion.clear();
    g_bstrEngineVersion.clear();
    g_bstrEngineSignature.clear();
}
