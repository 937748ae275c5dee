#include "scan/scan_job.h"

#include <vector>

#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/engine_deployment.h"
#include "scan/progress_window.h"
#include "scan/remote_command.h"
#include "scan/scan_host.h"
#include "scp/scp.h"
#include "ssh2/errors.h"
#include "ssh2/ssh2.h"

namespace {

constexpr int kConnectTimeoutSeconds = 300;
constexpr int kStillMissing = 242;

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

int RunScan()
{
    const std::string command = ScanCommand();
    return CSSH2::Exec(command.c_str());
}

}  // namespace

std::string ScanCommand()
{
    // An lshw that is not an executable file (say, hidden by an empty one) is
    // a missing lshw.
    return BuildRemoteCommand({"p=$(command -v lshw 2>/dev/null) && [ -f \"$p\" ] && [ -x \"$p\" ] || exit 127;"
                               " f=$(mktemp) || exit 1; trap 'rm -f \"$f\"' EXIT; trap 'exit 129' HUP INT TERM PIPE;"
                               " \"$p\" -xml 2>&1 >\"$f\"; s=$?; [ \"$s\" -ne 0 ] || cat \"$f\" || s=1; exit \"$s\""});
}

void CheckSshResult(int code)
{
    if (code == 0) return;
    if (code == SSH_SERVER_DISCONNECT) {
        CommandError error{AnsiToWide(CSSH2::GetOutput())};
        CSSH2::Disconnect();
        throw error;
    }
    CSSH2::Disconnect();
    throw static_cast<ESSHErrors>(code);
}

void CheckCommandStatus()
{
    if (CSSH2::GetExitStatus() == 0) return;
    CommandError error{AnsiToWide(CSSH2::GetOutput())};
    CSSH2::Disconnect();
    throw error;
}

void ReportSshError(int code)
{
    const auto texts = List(125);
    const std::size_t index = code >= 0 && code <= 20 ? static_cast<std::size_t>(code) : texts.size() - 1;
    ShowError(Entry(texts, index));
}

void ReportScpError(int code)
{
    char text[256];
    scp_format_error(code, text, sizeof text);
    ShowError(AnsiToWide(text));
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
            const std::string address = WideToAnsi(host.m_bstrHost);
            const int code = CSSH2::Connect(address.c_str(), static_cast<unsigned>(host.m_nPort), kConnectTimeoutSeconds,
                                            HostKeyQuestion, nullptr);
            if (code != 0) throw static_cast<ESSHErrors>(code);
        }
        {
            Wiped<std::string> login(WideToAnsi(host.m_bstrLogin));
            Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
            CheckSshResult(CSSH2::Login(login.get().c_str(), password.get().c_str(), 1, HKP_STORE, HKP_ASK));
        }
        progress.SetText(Entry(steps, 1));
        CheckSshResult(RunScan());
        if (CSSH2::GetExitStatus() == kLshwMissingStatus) {
            if (ConfirmEngineDeployment() == 1) {
                CSSH2::Disconnect();
                return 1;
            }
            const std::vector<std::uint8_t> package = ReadVerifiedEnginePackage();
            {
                const CHostFolder folder;
                progress.SetText(Entry(steps, 2));
                UploadEnginePackage(host, package, folder.Path());
                progress.SetText(Entry(steps, 3));
                BuildEngineOnHost(folder.Path());
            }
            progress.SetText(Entry(steps, 1));
            CheckSshResult(RunScan());
            if (CSSH2::GetExitStatus() == kLshwMissingStatus) throw CommandError{LoadString(g_hInstance, kStillMissing)};
        }
        CheckCommandStatus();
        progress.SetText(Entry(steps, 4));
        host.m_bstrXml = AnsiToWide(CSSH2::GetOutput());
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
