#include "scan/engine_deployment.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "res/module_strings.h"
#include "platform/atomic_file.h"
#include "platform/private_temp_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/dialog_questions.h"
#include "scan/engine_signature.h"
#include "scan/jump_hosts.h"
#include "scan/login_settings.h"
#include "scan/remote_command.h"
#include "scan/scan_command.h"
#include "scan/scan_job.h"
#include "scan/sudo_scan.h"
#include "scp/scp.h"
#include "ssh2/ssh2.h"
#include "sshcore/product_crypto.h"

std::u16string g_bstrEnginePath;
std::u16string g_bstrEngineName;
std::string g_strEngineVersion;
std::u16string g_bstrEngineVersion;
std::u16string g_bstrEngineSignature;
std::string g_strEngineArchitectures;

namespace {

constexpr int kEngineAbsentDialog = 140;
constexpr int kReadyToInstallDialog = 134;
constexpr int kDoNotShowAgain = 1205;
constexpr int kCorruptedPackage = 138;
constexpr int kPackageNotCopied = 240;
constexpr int kNoHostFolder = 241;
constexpr int kInstallTexts = 460;
constexpr int kNoArchitecture = 461;
constexpr std::size_t kMaxMachineLength = 32;
constexpr std::size_t kMaxArchitectures = 8;
// Entries of the install texts.
enum { IT_PREBUILT, IT_SOURCE, IT_DONE_PREBUILT, IT_DONE_SOURCE };
constexpr DWORD kAsk = 0xFFFFFFFFu;  // -1: no stored answer
constexpr std::size_t kMaxVersionLength = 64;
constexpr std::size_t kMaxNameLength = 128;
constexpr std::size_t kMaxFolderLength = 1024;

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

bool IsAlphanumeric(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsVersionCharacter(char16_t c)
{
    return IsAlphanumeric(c) || c == u'.' || c == u'+' || c == u'~' || c == u'_' || c == u'-';
}

bool IsMachineName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxMachineLength) return false;
    for (const char c : name)
        if (!IsAlphanumeric(static_cast<char16_t>(static_cast<unsigned char>(c))) && c != '_' && c != '-') return false;
    return true;
}

[[noreturn]] void RaiseText(int stringId, std::string_view detail = {})
{
    throw CScanError::Text(LoadString(g_hInstance, stringId) + AnsiToWide(detail));
}

// Runs one step; a non-zero exit status raises the step's output and leaves
// the session open.
void RunStep(const std::string& command)
{
    CheckSshResult(CSSH2::Exec(command.c_str()));
    if (CSSH2::GetExitStatus() != 0) throw CScanError::Text(AnsiToWide(CSSH2::GetOutput()));
}

// After the install: its log's last line (how lshw was installed), or on
// failure its last lines on standard error.
constexpr CShellWord kInstallTail(
    ">make.log && tail -n 1 make.log || { s=$?; tail -n 20 make.log >&2; exit \"$s\"; }");

// The install step guarded as the scan is (scan/scan_command.h): when the
// connection goes, the install and the build it started end and the
// deployment's folder goes with them. `install` runs in the sources'
// folder with the architecture as $2 and sudo's prompt (if any) as $3.
std::string GuardedInstall(const std::string& folder, const std::string& sources, const std::string& architecture,
                           CShellWord install, const std::string& prompt = {})
{
    return GuardPrologue(CurrentHostBounds()) + " " + GuardSetup(folder) + " " +
           BuildRemoteCommand({"set --", CShellWord::Value(sources), CShellWord::Value(architecture),
                               CShellWord::Value(prompt), ";"}) +
           " " +
           GuardWait({"cd \"$1\" &&", install, kInstallTail}) + " " + BuildRemoteCommand({"exit \"$s\""});
}

// Runs the install script as root through sudo (the script then installs
// system-wide): without a password first, then with the host's on sudo's
// standard input, sent only once sudo showed this run's own prompt on
// standard error. True when it ran; a failing install raises its output; a
// refusing sudo, or a host that showed another prompt, is told as a note
// and gives false.
bool InstallThroughSudo(const std::string& folder, const std::string& sources, const std::string& architecture,
                        const std::string& password, IScanQuestions& questions)
{
    const auto run = [&](bool withPassword) {
        // sudo's messages and the install's last lines are the output.
        const std::string prompt = withPassword ? NewSudoPrompt() : std::string();
        const std::string command =
            withPassword
                ? GuardedInstall(folder, sources, architecture,
                                 "LC_ALL=C sudo -S -p \"$3\" -- ./install --arch \"$2\" --system", prompt)
                : GuardedInstall(folder, sources, architecture,
                                 "LC_ALL=C sudo -n -- ./install --arch \"$2\" --system </dev/null");
        if (!withPassword) return CSSH2::Exec(command.c_str());
        Wiped<std::string> input;
        input.get().reserve(password.size() + 1);
        input.get() = password;
        input.get() += '\n';
        return CSSH2::ExecWithInputAfterPrompt(command.c_str(), input.get(), prompt);
    };
    CheckSshResult(run(false));
    if (CSSH2::GetExitStatus() == 0) return true;
    ESudoRefusal refusal = ClassifySudoRefusal(CSSH2::GetOutput());
    if (refusal == SUDO_PASSWORD_REQUIRED && !password.empty()) {
        CheckSshResult(run(true));
        if (!CSSH2::InputWasSent()) {
            questions.Note(SudoRefusalText(SUDO_FORGED_PROMPT, CSSH2::GetOutput(), kHomeInstallText), u"sudo");
            return false;
        }
        if (CSSH2::GetExitStatus() == 0) return true;
        refusal = ClassifySudoRefusal(CSSH2::GetOutput());
        if (refusal == SUDO_PASSWORD_REQUIRED) refusal = SUDO_WRONG_PASSWORD;
    } else if (refusal == SUDO_PASSWORD_REQUIRED) {
        refusal = SUDO_NO_PASSWORD;
    }
    // Not sudo's refusal: the install itself failed.
    if (refusal == SUDO_OTHER) throw CScanError::Text(AnsiToWide(CSSH2::GetOutput()));
    questions.Note(SudoRefusalText(refusal, CSSH2::GetOutput(), kHomeInstallText), u"sudo");
    return false;
}

std::string HexText(const unsigned char* bytes, std::size_t length) { return HexLower(bytes, length); }

}  // namespace

bool AskDeploymentInDialog(EDeployQuestion question, int remembered)
{
    // The "do not show again" box starts from the stored answer and is never
    // read back.
    DialogState dialog;
    dialog.checks[kDoNotShowAgain] = remembered >= 0 && remembered <= 2 ? remembered : 0;
    const int templateId = question == DQ_ENGINE_ABSENT ? kEngineAbsentDialog : kReadyToInstallDialog;
    return DialogBoxParam(g_hInstance, templateId, GetActiveWindow(), dialog) == IDOK;
}

int ConfirmEngineDeployment(IScanQuestions& questions, bool ask)
{
    if (ask) {
        const DWORD stored = ReadAnswer(u"LSHWAbsentChb", kAsk);
        const DWORD answer =
            stored == kAsk ? (questions.ConfirmDeployment(DQ_ENGINE_ABSENT, 0) ? IDOK : IDCANCEL) : stored;
        if (answer == IDCANCEL) return DEPLOY_STOP;
    }
    if (g_strEngineVersion.empty()) LocateEnginePackage(g_strEngineVersion, questions);
    if (g_strEngineVersion.empty()) return DEPLOY_NO_PACKAGE;
    g_bstrEngineVersion = AnsiToWide(g_strEngineVersion);
    if (g_bstrEngineVersion.empty()) return DEPLOY_NO_PACKAGE;
    if (!ask) return DEPLOY_GO;
    // A stored "do not show again" means the user agreed once for all.
    const DWORD infoOk = ReadAnswer(u"InfoOkChb", 0);
    if (infoOk != 0) return DEPLOY_GO;
    return questions.ConfirmDeployment(DQ_READY_TO_INSTALL, static_cast<int>(infoOk)) ? DEPLOY_GO : DEPLOY_STOP;
}

int ConfirmEngineDeployment()
{
    CDialogScanQuestions questions(false);
    const int answer = ConfirmEngineDeployment(questions);
    return answer == DEPLOY_GO ? DEPLOY_GO : DEPLOY_STOP;
}

bool LocateEnginePackage(std::string& version)
{
    CDialogScanQuestions questions(false);
    return LocateEnginePackage(version, questions);
}

bool LocateEnginePackage(std::string& version, IScanQuestions& questions)
{
    version.clear();
    std::u16string text;
    HKEY raw = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ, &raw) == ERROR_SUCCESS) {
        RegKeyPtr key(raw);
        if (ReadPackageValue(key.get(), u"LSHWPath", 260, g_bstrEnginePath) &&
            ReadPackageValue(key.get(), u"LSHWName", 1024, g_bstrEngineName) &&
            ReadPackageValue(key.get(), u"LSHWVersion", 1024, text)) {
            version = WideToAnsi(text);
            ReadPackageValue(key.get(), u"LSHWCRC", 1024, g_bstrEngineSignature);
            // Older records have no list: their package carries only the source.
            std::u16string architectures;
            if (ReadPackageValue(key.get(), u"LSHWArch", 1024, architectures) &&
                IsValidEngineArchitectureList(WideToAnsi(architectures)))
                g_strEngineArchitectures = WideToAnsi(architectures);
        }
    }
    if (g_bstrEngineSignature.empty()) {
        version.clear();
        return true;
    }
    // The name and version reach the host's shell and file system: only what
    // the package tools write is taken.
    if (!IsValidEnginePackageName(g_bstrEngineName) || !IsValidEnginePackageVersion(text) ||
        !VerifyEnginePackage(g_bstrEnginePath + g_bstrEngineName, g_bstrEngineSignature)) {
        questions.Error(LoadString(g_hInstance, kCorruptedPackage));
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

bool IsValidEnginePackageVersion(std::u16string_view version)
{
    if (version.empty() || version.size() > kMaxVersionLength || !IsAlphanumeric(version.front())) return false;
    for (const char16_t c : version)
        if (!IsVersionCharacter(c)) return false;
    return true;
}

bool IsValidEnginePackageName(std::u16string_view name)
{
    constexpr std::u16string_view kPrefix = u"lshw-";
    constexpr std::u16string_view kSuffix = u".tar.gz";
    if (name.size() > kMaxNameLength || name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) ||
        !name.ends_with(kSuffix))
        return false;
    const std::u16string_view middle = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    for (const char16_t c : middle)
        if (!IsVersionCharacter(c)) return false;
    return true;
}

std::vector<std::uint8_t> ReadVerifiedEnginePackage()
{
    std::vector<std::uint8_t> bytes;
    std::string error;
    const bool read = IsValidEnginePackageName(g_bstrEngineName) && IsValidEnginePackageVersion(g_bstrEngineVersion) &&
                      ReadFileLimited(WideToAnsi(g_bstrEnginePath + g_bstrEngineName), kMaxEnginePackageBytes, bytes,
                                      error) == FileReadResult::Ok;
    if (!read || !VerifyEngineSignature(BytesDigestHex(bytes), WideToAnsi(g_bstrEngineSignature))) {
        ResetEnginePackage();
        RaiseText(kCorruptedPackage);
    }
    return bytes;
}

bool ParseHostFolder(std::string_view output, std::string& folder)
{
    folder.clear();
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
    const std::size_t lineStart = output.find_last_of("\r\n");
    const std::string_view line = lineStart == std::string_view::npos ? output : output.substr(lineStart + 1);
    if (line.size() < 2 || line.size() > kMaxFolderLength || line.front() != '/' || line.back() == '/') return false;
    for (const char c : line)
        if (c < 0x20 || c > 0x7E) return false;
    for (std::size_t at = 1; at <= line.size();) {
        const std::size_t next = std::min(line.find('/', at), line.size());
        const std::string_view part = line.substr(at, next - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = next + 1;
    }
    folder.assign(line);
    return true;
}

CHostFolder::CHostFolder()
{
    // The folder carries our name, so that one left behind by a deployment
    // that was killed is known as ours: the next deployment removes those
    // of this login that are older than any deployment runs (two hours),
    // then makes its own.
    const std::string command = BuildRemoteCommand(
        {"find \"${TMPDIR:-/tmp}\" -maxdepth 1 -type d -name 'ferrodex-deploy.*' -user \"$(id -u)\" -mmin +120"
         " -exec rm -rf {} + 2>/dev/null;",
         "mktemp -d \"${TMPDIR:-/tmp}/ferrodex-deploy.XXXXXXXXXX\""});
    RunStep(command);
    if (!ParseHostFolder(CSSH2::GetOutput(), m_strPath)) RaiseText(kNoHostFolder, CSSH2::GetOutput());
}

CHostFolder::~CHostFolder()
{
    CSSH2* session = CSSH2::Current();
    if (session == nullptr || session->State() != SS_LOGGED_IN) return;
    try {
        const std::string command = BuildRemoteCommand({"rm -rf", CShellWord::Value(m_strPath)});
        CSSH2::Exec(command.c_str());
    } catch (...) {
        // A folder that could not be removed stays private to the login.
    }
}

void UploadEnginePackage(const SScanRequest& request, std::span<const std::uint8_t> package,
                         const std::string& folder, const CTypedHopPasswords& typed)
{
    const std::string name = WideToAnsi(g_bstrEngineName);
    // Behind jump hosts the upload goes through the same ones as the scan,
    // each with the login the scan's route gives it.
    const std::vector<SJumpLogin>& route = request.jumps;
    // The upload library reads a file: it gets a private copy of the
    // verified bytes, never the package file itself.
    CPrivateTempFile copy;
    std::string error;
    if (!copy.Create(name, package, error)) RaiseText(kPackageNotCopied, error);
    const std::string& address = request.address;
    // The same login as the scan's (scan/login_settings.h).
    SHostLogin login;
    MakeHostLogin(request, login);
    const std::string remote = folder + "/" + name;
    ScpJobOptions options;
    options.user_data = 0;
    options.new_host_key_policy = HOSTKEY_ACCEPT_AND_STORE;
    options.changed_host_key_policy = HOSTKEY_REJECT;
    options.key_file = login.keys.identityFile.c_str();
    options.key_passphrase = login.keys.passphrase.c_str();
    options.use_agent = login.keys.useAgent ? 1 : 0;
    options.compression = 1;
    // The scan's limits hold for the upload too: a stalled upload stops
    // when a command would (--timeout), its connection and login at theirs.
    const auto seconds = [](int value) {
        return static_cast<std::int16_t>(std::clamp(value, 1, static_cast<int>(std::numeric_limits<std::int16_t>::max())));
    };
    options.timeout_seconds = seconds(request.limits.commandSeconds);
    options.connect_timeout_seconds = seconds(request.limits.connectSeconds);
    options.login_timeout_seconds = seconds(request.limits.loginSeconds);
    options.cancel_requested = 0;
    if (route.size() > kScpMaxJumpHosts) throw CScanError::Upload(SCP_E_UNSUPPORTED);
    for (std::size_t i = 0; i < route.size(); ++i) {
        const SJumpLogin& jump = route[i];
        ScpJumpHost& hop = options.jumps[options.jump_count++];
        hop.host = jump.hop.host.c_str();
        hop.port = jump.hop.port;
        hop.user = jump.login.c_str();
        hop.password = typed.For(i, jump.password).c_str();
        hop.key_file = jump.keys.identityFile.c_str();
        hop.key_passphrase = jump.keys.passphrase.c_str();
        hop.use_agent = jump.keys.useAgent ? 1 : 0;
    }
    const int result = ScpUploadFile(address.c_str(), request.port, login.login.c_str(), login.password.c_str(),
                                     copy.Path().c_str(), remote.c_str(), nullptr, &options);
    CheckJumpUpload(route, result);
    if (result != SCP_OK) throw CScanError::Upload(static_cast<ESCPErrors>(result));
}

bool ParseMachineName(std::string_view output, std::string& machine)
{
    machine.clear();
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
    const std::size_t lineStart = output.find_last_of("\r\n");
    const std::string_view line = lineStart == std::string_view::npos ? output : output.substr(lineStart + 1);
    if (!IsMachineName(line)) return false;
    machine.assign(line);
    return true;
}

std::string EngineArchitecture(std::string_view machine)
{
    if (machine == "amd64") return "x86_64";
    if (machine == "arm64") return "aarch64";
    return std::string(machine);
}

bool IsValidEngineArchitectureList(std::string_view list)
{
    if (list.empty()) return true;
    std::size_t count = 0;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(' ', at), list.size());
        if (++count > kMaxArchitectures || !IsMachineName(list.substr(at, end - at))) return false;
        at = end + 1;
    }
    return true;
}

bool PackageHasPrebuilt(std::string_view architecture)
{
    std::string_view list = g_strEngineArchitectures;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(' '), list.size());
        if (list.substr(0, end) == architecture) return true;
        list.remove_prefix(end == list.size() ? end : end + 1);
    }
    return false;
}

SEngineInstall InstallEngineOnHost(const std::string& folder, EEngineDestination destination,
                                   IScanQuestions& questions, const std::string* sudoPassword)
{
    const auto tell = [&questions](const std::u16string& line) { questions.Progress(line); };
    SEngineInstall install;
    RunStep(BuildRemoteCommand({"uname -m"}));
    std::string machine;
    if (!ParseMachineName(CSSH2::GetOutput(), machine)) RaiseText(kNoArchitecture, CSSH2::GetOutput());
    install.architecture = EngineArchitecture(machine);
    std::vector<std::u16string> texts;
    LoadStringList(kInstallTexts, texts);
    texts.resize(IT_DONE_SOURCE + 1);
    const auto text = [&](int entry) {
        std::u16string line = texts[static_cast<std::size_t>(entry)];
        const std::size_t at = line.find(u"%1");
        if (at != std::u16string::npos) line.replace(at, 2, AnsiToWide(install.architecture));
        return line;
    };
    tell(text(PackageHasPrebuilt(install.architecture) ? IT_PREBUILT : IT_SOURCE));

    const std::string name = WideToAnsi(g_bstrEngineName);
    const std::string sources = folder + "/lshw-" + g_strEngineVersion;
    RunStep(BuildRemoteCommand({"cd", CShellWord::Value(folder), "&& tar -xzf", CShellWord::Value(name)}));
    // The install's own output stays in make.log, whose last line says how
    // lshw was installed; when it fails, the log's last lines follow the
    // install script's message, as the folder goes.
    const bool throughSudo =
        sudoPassword != nullptr && InstallThroughSudo(folder, sources, install.architecture, *sudoPassword, questions);
    if (!throughSudo) {
        RunStep(destination == EEngineDestination::SystemWide
                    ? GuardedInstall(folder, sources, install.architecture, "./install --arch \"$2\" --system")
                    : GuardedInstall(folder, sources, install.architecture, "./install --arch \"$2\""));
    }
    const std::string output = CSSH2::GetOutput();
    std::string_view last = output;
    while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.remove_suffix(1);
    install.prebuilt = last.ends_with("(prebuilt)");
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWInstalledArch", AnsiToWide(install.architecture));
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWInstalledFrom", install.prebuilt ? u"prebuilt" : u"source");
    tell(text(install.prebuilt ? IT_DONE_PREBUILT : IT_DONE_SOURCE));
    return install;
}

std::string BytesDigestHex(std::span<const std::uint8_t> bytes)
{
    const std::vector<std::uint8_t> digest = sshcore::DigestOf("SHA1", bytes);
    if (digest.empty()) throw CScanError::Internal(u"digest unavailable");
    return HexText(digest.data(), digest.size());
}

std::string FileDigestHex(const std::string& path, int algorithm)
{
    const char* name = algorithm == 0 ? "SHA1" : algorithm == 1 ? "MD5" : algorithm == 2 ? "RIPEMD160" : nullptr;
    if (name == nullptr) throw CScanError::Argument(u"unknown digest algorithm");
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CScanError::File(errno != 0 ? errno : ENOENT);
    sshcore::CNamedDigest digest(name);
    if (!digest.Ok()) throw CScanError::Internal(u"digest unavailable");
    std::vector<char> block(16384);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (in.gcount() > 0) digest.Update(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw CScanError::File(EIO);
    const std::vector<std::uint8_t> value = digest.Final();
    if (value.empty()) throw CScanError::Internal(u"digest unavailable");
    return HexText(value.data(), value.size());
}

void ResetEnginePackage()
{
    g_bstrEnginePath.clear();
    g_bstrEngineName.clear();
    g_strEngineVersion.clear();
    g_bstrEngineVersion.clear();
    g_bstrEngineSignature.clear();
    g_strEngineArchitectures.clear();
}
