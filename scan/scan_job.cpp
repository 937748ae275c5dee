#include "scan/scan_job.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/engine_deployment.h"
#include "scan/login_settings.h"
#include "scan/jump_hosts.h"
#include "scan/progress_window.h"
#include "scan/remote_command.h"
#include "scan/scan_host.h"
#include "scan/scan_limits.h"
#include "scan/sudo_scan.h"
#include "scp/scp.h"
#include "ssh2/errors.h"
#include "ssh2/ssh2.h"

namespace {

constexpr int kConnectTimeoutSeconds = 300;
constexpr int kStillMissing = 242;
constexpr int kWrongPassword = 500;
constexpr UINT kJumpHostLabel = 701;
// Entries of the host-key texts (list 200).
enum {
    HK_CHANGED, HK_NEW_TYPE, HK_DAMAGED_BEFORE, HK_DAMAGED_AFTER, HK_STRICT, HK_QUESTION, HK_HOST, HK_PRESENTED,
    HK_STORED, HK_CAPTION
};
constexpr const char16_t* kLshw = u"lshw";
constexpr UINT kLimitTexts[] = {300, 301, 302, 303, 304};
enum { kNotFinished, kOutputTooLarge, kEndedBySignal, kNoExitStatus, kTheCommand };

std::vector<std::u16string> List(UINT id)
{
    std::vector<std::u16string> list;
    LoadStringList(id, list);
    return list;
}

std::u16string Entry(const std::vector<std::u16string>& list, std::size_t index)
{
    return index < list.size() ? list[index] : std::u16string();
}

void ShowError(std::u16string_view text) { MessageBox(nullptr, text, u"Error", MB_OK | MB_ICONERROR); }

// One of the texts about limits and endings, with %1 and %2 filled in.
std::u16string LimitText(int which, std::u16string_view first, std::u16string_view second = {})
{
    std::u16string text = Entry(List(kLimitTexts[which]), 0);
    const std::pair<std::u16string_view, std::u16string_view> marks[] = {{u"%1", first}, {u"%2", second}};
    for (const auto& [mark, value] : marks) {
        if (const std::size_t at = text.find(mark); at != std::u16string::npos) text.replace(at, mark.size(), value);
    }
    return text;
}

std::u16string NameOrGeneric(const char16_t* name)
{
    return name != nullptr ? std::u16string(name) : LimitText(kTheCommand, {});
}

// The name of a signal by its number on Linux hosts, for a shell's exit
// status of 128 + number; empty for an unusual one.
std::u16string SignalByNumber(std::uint32_t number)
{
    switch (number) {
    case 1: return u"HUP";
    case 2: return u"INT";
    case 3: return u"QUIT";
    case 4: return u"ILL";
    case 6: return u"ABRT";
    case 7: return u"BUS";
    case 8: return u"FPE";
    case 9: return u"KILL";
    case 11: return u"SEGV";
    case 13: return u"PIPE";
    case 14: return u"ALRM";
    case 15: return u"TERM";
    default: return {};
    }
}

// Closes the session and raises the text as the scan's error.
[[noreturn]] void FailWith(std::u16string text)
{
    CScanError error = CScanError::Text(std::move(text));
    CSSH2::Disconnect();
    throw error;
}

int RunScan()
{
    const std::string command = ScanCommand();
    return CSSH2::Exec(command.c_str());
}

// The setting that turns sudo on for every host scanned by this process
// (`host refresh --sudo` sets it for its run).
constexpr const char16_t* kSudoThisRunSetting = u"ScanWithSudoThisRun";

bool SudoWanted(const CHostNode& host)
{
    DWORD value = 0;
    return host.m_bSudo || (ReadSettingDword(kProductKey, kSudoThisRunSetting, value) && value != 0);
}

// Told as a note: the scan goes on without root rights, and the command
// that ran it does not fail for it.
void TellAndScanWithoutSudo(const std::u16string& note)
{
    MessageBox(nullptr, note, u"sudo", MB_OK | MB_ICONINFORMATION);
    CheckSshResult(RunScan(), kLshw);
}

// Runs the scan, through sudo when the host asks for it. A sudo that does
// not run lshw is told by its cause, and the scan runs without it; a
// missing lshw is left to the caller (kLshwMissingStatus).
void RunScanStep(const CHostNode& host)
{
    if (!SudoWanted(host)) {
        CheckSshResult(RunScan(), kLshw);
        return;
    }
    const int answerSeconds = std::min(kSudoAnswerSeconds, ReadScanLimits().commandSeconds);
    CheckSshResult(CSSH2::Exec(SudoScanCommand(false, answerSeconds).c_str()), kLshw);
    std::uint32_t status = CSSH2::GetExitStatus();
    if (status == kSudoSilentStatus) return TellAndScanWithoutSudo(SudoSilentText(answerSeconds));
    // Only root's own lshw runs as root: sudo was not asked.
    if (status == kLshwNotRootsStatus)
        return TellAndScanWithoutSudo(SudoRefusalText(SUDO_LSHW_NOT_ROOTS, CSSH2::GetOutput()));
    if (status != kSudoRefusedStatus && status != kSudoMissingStatus) return;
    ESudoRefusal refusal = SUDO_MISSING;
    if (status == kSudoRefusedStatus) {
        refusal = ClassifySudoRefusal(CSSH2::GetOutput());
        if (refusal == SUDO_PASSWORD_REQUIRED && host.m_bstrPassword.empty()) refusal = SUDO_NO_PASSWORD;
        if (refusal == SUDO_PASSWORD_REQUIRED) {
            // The password goes to sudo's standard input, never into the
            // command.
            Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
            Wiped<std::string> input;
            input.get().reserve(password.get().size() + 1);
            input.get() = password.get();
            input.get() += '\n';
            CheckSshResult(CSSH2::ExecWithInput(SudoScanCommand(true, answerSeconds).c_str(), input.get()), kLshw);
            status = CSSH2::GetExitStatus();
            if (status == kSudoSilentStatus) return TellAndScanWithoutSudo(SudoSilentText(answerSeconds));
            if (status != kSudoRefusedStatus) return;
            refusal = ClassifySudoRefusal(CSSH2::GetOutput());
            // Asked again after the password was given: it was not taken.
            if (refusal == SUDO_PASSWORD_REQUIRED) refusal = SUDO_WRONG_PASSWORD;
        }
    }
    TellAndScanWithoutSudo(SudoRefusalText(refusal, CSSH2::GetOutput()));
}

}  // namespace

void CheckSshResult(int code) { CheckSshResult(code, nullptr); }

void CheckSshResult(int code, const char16_t* command)
{
    if (code == 0) return;
    if (code == SSH_SERVER_DISCONNECT) FailWith(AnsiToWide(CSSH2::GetOutput()));
    const SSshFailure failure = CSSH2::LastFailure();
    if (command != nullptr && failure.limit == SL_COMMAND)
        FailWith(LimitText(kNotFinished, command, IntToDecimal(static_cast<long long>(failure.amount))));
    if (command != nullptr && failure.limit == SL_OUTPUT)
        FailWith(LimitText(kOutputTooLarge, command, IntToDecimal(static_cast<long long>(failure.amount >> 20))));
    CSSH2::Disconnect();
    throw CScanError::Ssh(static_cast<ESSHErrors>(code));
}

void CheckCommandEnded(const char16_t* command, bool shellSignals)
{
    const std::string signal = CSSH2::GetExitSignal();
    if (!signal.empty()) FailWith(LimitText(kEndedBySignal, NameOrGeneric(command), AnsiToWide(signal)));
    const std::uint32_t status = CSSH2::GetExitStatus();
    if (status == CSSH2::kNoExitStatus) FailWith(LimitText(kNoExitStatus, NameOrGeneric(command)));
    // A shell reports a program that a signal ended as 128 + its number.
    if (!shellSignals || status <= 128) return;
    if (const std::u16string name = SignalByNumber(status - 128); !name.empty())
        FailWith(LimitText(kEndedBySignal, NameOrGeneric(command), name));
}

void CheckCommandStatus() { CheckCommandStatus(nullptr); }

void CheckCommandStatus(const char16_t* command)
{
    CheckCommandEnded(command, true);
    if (CSSH2::GetExitStatus() != 0) FailWith(AnsiToWide(CSSH2::GetOutput()));
}

void ReportSshError(int code)
{
    // A refusal by a jump host says which one refused.
    const std::string jump = CSSH2::LastFailure().jump;
    const std::u16string onJump =
        jump.empty() ? std::u16string() : u" (" + LoadString(g_hInstance, kJumpHostLabel) + u": " + AnsiToWide(jump) + u")";
    if (code == SSH_WRONG_PASSWORD) {
        ShowError(LoadString(g_hInstance, kWrongPassword) + onJump);
        return;
    }
    if (code >= SSH_HOSTKEY_SIGNATURE && code <= SSH_HOSTKEY_TOO_SMALL) {
        ShowError(Entry(List(202), static_cast<std::size_t>(code - SSH_HOSTKEY_SIGNATURE)) + onJump);
        return;
    }
    const auto texts = List(125);
    const std::size_t index = code >= 0 && code <= 20 ? static_cast<std::size_t>(code) : texts.size() - 1;
    std::u16string text = Entry(texts, index);
    // What the client found out about the failure, when it says more.
    if (const std::string detail = CSSH2::LastFailure().text; !detail.empty()) text += u": " + AnsiToWide(detail);
    ShowError(text);
}

void ReportScpError(int code)
{
    char text[256];
    scp_format_error(code, text, sizeof text);
    std::u16string shown = AnsiToWide(text);
    char detail[512];
    scp_last_error_detail(detail, sizeof detail);
    if (detail[0] != '\0') shown += u": " + AnsiToWide(detail);
    ShowError(shown);
}

bool StrictHostKeys()
{
    DWORD value = 0;
    return ReadSettingDword(kProductKey, kStrictHostKeysSetting, value) && value != 0;
}

int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void*)
{
    if (reserved != 0) return 0;
    const std::u16string hostText = AnsiToWide(host ? host : "");
    const std::u16string presented = AnsiToWide(fingerprint ? fingerprint : "");
    if (absent == HKE_STORED) {
        // Told, not asked: on standard error (the terminal console's log).
        const auto notice = List(201);
        std::string line = WideToAnsi(Entry(notice, 0) + u" " + hostText + u" " + Entry(notice, 1) + u" " + presented);
        for (char& c : line)
            if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        return 0;
    }
    const auto texts = List(200);
    const CSSH2* session = CSSH2::Current();
    std::u16string message;
    switch (absent) {
    case HKE_CHANGED: message = Entry(texts, HK_CHANGED); break;
    case HKE_NEW_TYPE: message = Entry(texts, HK_NEW_TYPE); break;
    case HKE_UNVERIFIABLE:
        message = Entry(texts, HK_DAMAGED_BEFORE) + u" " +
                  AnsiToWide(session ? session->HostKeyReport().damagedCopy : std::string()) + u", " +
                  Entry(texts, HK_DAMAGED_AFTER);
        break;
    default: message = Entry(texts, HK_STRICT); break;
    }
    message += u"\n" + Entry(texts, HK_HOST) + u": " + hostText;
    message += u"\n" + Entry(texts, HK_PRESENTED) + u": " + presented;
    if (session)
        for (const std::string& known : session->HostKeyReport().knownFingerprints)
            message += u"\n" + Entry(texts, HK_STORED) + u": " + AnsiToWide(known);
    message += u"\n" + Entry(texts, HK_QUESTION);
    const UINT type = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    return MessageBox(nullptr, message, Entry(texts, HK_CAPTION), type) == IDYES ? 1 : 0;
}

std::u16string CutBeforeXml(std::u16string text)
{
    const std::size_t first = text.find(u'<');
    if (first == std::u16string::npos) return {};
    text.erase(0, first);
    return text;
}

int RunScanJob(CHostNode& host)
{
    CProgressWindow progress;
    const auto errors = List(126);
    const auto steps = List(123);
    progress.SetText(Entry(steps, 0));
    int failed = SCAN_FAILED;
    try {
        {
            const SScanLimits limits = ReadScanLimits();
            SSshLimits sshLimits;
            sshLimits.connectSeconds = limits.connectSeconds;
            sshLimits.loginSeconds = limits.loginSeconds;
            sshLimits.commandSeconds = limits.commandSeconds;
            sshLimits.maxOutput = limits.maxOutputMiB << 20;
            CSSH2::SetLimits(sshLimits);
            // lshw prints nothing until it is done: no wait for data may end
            // before the command's own limit.
            const int receiveTimeout = std::max(kConnectTimeoutSeconds, limits.commandSeconds);
            const std::string address = WideToAnsi(host.m_bstrHost);
            CSSH2::SetJumpHosts(ClientJumpHosts(ResolveJumpHosts(host)));
            const int code = CSSH2::Connect(address.c_str(), static_cast<unsigned>(host.m_nPort), receiveTimeout,
                                            HostKeyQuestion, nullptr);
            if (code != SSH_NO_ERRORS) throw CScanError::Ssh(static_cast<ESSHErrors>(code));
        }
        {
            SHostLogin login;
            MakeHostLogin(host, login);
            UseHostLoginKeys(login);
            // A first contact is stored and told, or asked about when strict;
            // anything else that is not a match is asked about.
            const std::uint32_t absentPolicy = StrictHostKeys() ? HKP_ASK : HKP_STORE_AND_TELL;
            const int code = CSSH2::Login(login.login.c_str(), login.password.c_str(), 1, absentPolicy, HKP_ASK);
            // The passphrase stays no longer than the login needs it.
            CSSH2::SetLoginKeys({});
            CheckJumpLogin(ResolveJumpHosts(host), code);
            CheckSshResult(code);
        }
        progress.SetText(Entry(steps, 1));
        RunScanStep(host);
        if (CSSH2::GetExitStatus() == kLshwMissingStatus) {
            if (ConfirmEngineDeployment() == DEPLOY_STOP) {
                CSSH2::Disconnect();
                return SCAN_FAILED;
            }
            const std::vector<std::uint8_t> package = ReadVerifiedEnginePackage();
            {
                const CHostFolder folder;
                progress.SetText(Entry(steps, 2));
                UploadEnginePackage(host, package, folder.Path());
                progress.SetText(Entry(steps, 3));
                const auto tell = [&progress](const std::u16string& text) { progress.SetText(text); };
                if (SudoWanted(host)) {
                    const Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
                    InstallEngineOnHost(folder.Path(), EEngineDestination::LoginHome, tell, &password.get());
                } else {
                    InstallEngineOnHost(folder.Path(), EEngineDestination::LoginHome, tell);
                }
            }
            progress.SetText(Entry(steps, 1));
            RunScanStep(host);
            if (CSSH2::GetExitStatus() == kLshwMissingStatus) throw CScanError::Text(LoadString(g_hInstance, kStillMissing));
        }
        CheckCommandStatus(kLshw);
        progress.SetText(Entry(steps, 4));
        host.m_bstrXml = AnsiToWide(CSSH2::Current()->Output());
        CSSH2::Disconnect();
        host.m_bstrXml = CutBeforeXml(std::move(host.m_bstrXml));
        return SCAN_OK;
    } catch (const ComError&) {
        progress.Close();
        ShowError(Entry(errors, 2));
    } catch (const CScanError& error) {
        progress.Close();
        switch (error.Source()) {
        case SES_SSH:
            ReportSshError(error.SshCode());
            if (error.SshCode() == SSH_WRONG_PASSWORD) failed = SCAN_WRONG_PASSWORD;
            break;
        case SES_UPLOAD:
            ReportScpError(error.UploadCode());
            if (error.UploadCode() == SCP_E_WRONG_PASSWORD) failed = SCAN_WRONG_PASSWORD;
            break;
        case SES_TEXT: ShowError(error.Message()); break;
        default: ShowError(Entry(errors, 2)); break;
        }
    } catch (...) {
        progress.Close();
        ShowError(Entry(errors, 2));
    }
    // Every way out leaves no session behind.
    if (CSSH2::Current() != nullptr) CSSH2::Disconnect();
    return failed;
}
