#include "scan/scan_job.h"

#include <algorithm>
#include <vector>

#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/engine_deployment.h"
#include "scan/progress_window.h"
#include "scan/scan_host.h"
#include "scan/scan_limits.h"
#include "scp/scp.h"
#include "ssh2/errors.h"
#include "ssh2/ssh2.h"

namespace {

constexpr int kConnectTimeoutSeconds = 300;
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
    CommandError error{std::move(text)};
    CSSH2::Disconnect();
    throw error;
}

int RunCommand(const char16_t* command)
{
    const std::string text = WideToAnsi(command);
    return CSSH2::Exec(text.c_str());
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
    throw static_cast<ESSHErrors>(code);
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

int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void*)
{
    if (reserved != 0) return 0;
    static const std::vector<std::u16string> texts = List(105);
    const std::u16string message = Entry(texts, absent != 0 ? 0 : 1) + u"\n" + Entry(texts, 2) + u": " +
                                   AnsiToWide(host ? host : "") + u"\n" + Entry(texts, 3) + u": " +
                                   AnsiToWide(fingerprint ? fingerprint : "");
    return MessageBox(nullptr, message, Entry(texts, 4), MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
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
            const int code = CSSH2::Connect(address.c_str(), static_cast<unsigned>(host.m_nPort), receiveTimeout,
                                            HostKeyQuestion, nullptr);
            if (code != 0) throw static_cast<ESSHErrors>(code);
        }
        {
            Wiped<std::string> login(WideToAnsi(host.m_bstrLogin));
            Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
            CheckSshResult(CSSH2::Login(login.get().c_str(), password.get().c_str(), 1, HKP_STORE, HKP_ASK));
        }
        progress.SetText(Entry(steps, 1));
        CheckSshResult(RunCommand(kScanCommand), kLshw);
        const bool absent = CSSH2::Current()->Output().starts_with("no");
        if (!absent) CheckCommandEnded(kLshw, true);
        const bool missing = absent || CSSH2::GetExitStatus() != 0;
        if (missing) {
            if (ConfirmEngineDeployment() == 1) {
                CSSH2::Disconnect();
                return 1;
            }
            progress.SetText(Entry(steps, 2));
            UploadEnginePackage(host);
            progress.SetText(Entry(steps, 3));
            BuildEngineOnHost(host);
            progress.SetText(Entry(steps, 1));
            CheckSshResult(RunCommand(kScanCommand), kLshw);
            CheckCommandStatus(kLshw);
        }
        progress.SetText(Entry(steps, 4));
        CheckSshResult(RunCommand(kFetchCommand), kLshw);
        CheckCommandStatus(kLshw);
        host.m_bstrXml = AnsiToWide(CSSH2::Current()->Output());
        CSSH2::Disconnect();
        host.m_bstrXml = CutBeforeXml(std::move(host.m_bstrXml));
        return 0;
    } catch (const ComError&) {
        progress.Close();
        ShowError(Entry(errors, 2));
    } catch (ESSHErrors code) {
        progress.Close();
        ReportSshError(code);
    } catch (ESCPErrors code) {
        progress.Close();
        ReportScpError(code);
    } catch (const CommandError& error) {
        progress.Close();
        ShowError(error.text);
    } catch (...) {
        progress.Close();
        ShowError(Entry(errors, 2));
    }
    // Every way out leaves no session behind.
    if (CSSH2::Current() != nullptr) CSSH2::Disconnect();
    return 1;
}
