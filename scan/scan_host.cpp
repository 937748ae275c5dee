#include "scan/scan_host.h"

#include "hardware/hardware_tree.h"
#include "inventory/dialogs.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "scan/login_settings.h"

namespace {

// "The scan failed": a host's result when the failure was told elsewhere.
constexpr UINT kRefreshFailedText = 686;

ScanJobFunction& ScanJobOverride()
{
    static ScanJobFunction job;
    return job;
}

}  // namespace

ScanJobFunction SetScanJob(ScanJobFunction job) { return std::exchange(ScanJobOverride(), std::move(job)); }

int RunConfiguredScanJob(CHostNode& host)
{
    const ScanJobFunction& job = ScanJobOverride();
    return job ? job(host) : RunScanJob(host);
}

namespace {

// Asks for what a connection needs until the host has a name and a login,
// and, when it is to connect, a protected key file its passphrase.
bool AskLoginDetails(CHostNode& host, IConsoleNameSpace2* nameSpace, bool connecting = true)
{
    while (host.m_bstrLogin.empty() || host.m_bstrHost.empty() || (connecting && HostKeyNeedsPassphrase(host))) {
        CHostDialog dialog(HOSTDLG_LOGIN, host.m_bstrHost, host.m_nPort, host.m_bstrLogin, host.m_bSudo);
        dialog.SetLoginWays(host.m_bstrKeyFile, host.m_bUseAgent);
        if (dialog.DoModal() != IDOK) return false;
        host.TakeDialog(dialog, nameSpace);
    }
    return true;
}

int RunJobOnce(CHostNode& host) { return RunConfiguredScanJob(host); }

// Runs the job; a refused password brings the login dialog back, until a
// login works, the job fails otherwise, or the dialog is cancelled. Each
// try sends the password once. SCAN_OK or SCAN_FAILED.
int RunJob(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    int result = RunJobOnce(host);
    while (result == SCAN_WRONG_PASSWORD) {
        CHostDialog dialog(HOSTDLG_LOGIN, host.m_bstrHost, host.m_nPort, host.m_bstrLogin, host.m_bSudo);
        dialog.SetLoginWays(host.m_bstrKeyFile, host.m_bUseAgent);
        if (dialog.DoModal() != IDOK) return SCAN_FAILED;
        host.TakeDialog(dialog, nameSpace);
        result = RunJobOnce(host);
    }
    return result == SCAN_OK ? SCAN_OK : SCAN_FAILED;
}

// Whether an XML text gives hardware nodes, tried on a scratch host so that
// the host keeps its picture when it does not.
bool HoldsHardware(const CHostNode& host, const std::u16string& xml)
{
    CHostNode scratch(host.m_pGroup);
    scratch.m_bstrXml = xml;
    BuildHardwareTree(scratch);
    return !scratch.GetChildren().empty();
}

void ShowNewPicture(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    InsertHostHardware(host, nameSpace);
    host.m_scanStatus.Scanned(CScanStatus::Clock::now());
    host.m_bstrLastResult.clear();
    host.ShowScanStatus();
}

}  // namespace

int ScanHost(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    const bool fetched = host.m_bstrXml.empty();
    if (!AskLoginDetails(host, nameSpace, fetched)) return SCAN_FAILED;
    if (fetched && RunJob(host, nameSpace) != SCAN_OK) return SCAN_FAILED;
    BuildHardwareTree(host);
    if (host.GetChildren().empty()) return SCAN_FAILED;
    if (fetched) {
        ShowNewPicture(host, nameSpace);
    } else {
        InsertHostHardware(host, nameSpace);
    }
    g_bDirty = true;
    return 0;
}

int RefreshHost(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    if (!AskLoginDetails(host, nameSpace)) return SCAN_FAILED;
    std::u16string kept = std::move(host.m_bstrXml);
    host.m_bstrXml.clear();
    const int code = RunJob(host, nameSpace);
    std::u16string fetched = std::move(host.m_bstrXml);
    host.m_bstrXml = std::move(kept);
    return TakeRefreshedXml(host, nameSpace, code, std::move(fetched), {});
}

int TakeRefreshedXml(CHostNode& host, IConsoleNameSpace2* nameSpace, int code, std::u16string xml,
                     std::u16string_view failure)
{
    // A picture the console file cannot keep is refused like a failed scan.
    std::u16string refusal;
    if (code == SCAN_OK && !host.PackNewPicture(xml, refusal)) {
        code = SCAN_FAILED;
        failure = refusal;
    }
    if (code != SCAN_OK || !HoldsHardware(host, xml)) {
        host.m_bstrLastResult = failure.empty() ? LoadString(g_hInstance, kRefreshFailedText) : std::u16string(failure);
        if (!host.GetChildren().empty()) {
            host.m_scanStatus.RefreshFailed(CScanStatus::Clock::now());
            host.ShowScanStatus();
        }
        return SCAN_FAILED;
    }
    if (nameSpace != nullptr && host.GetScopeItem() != 0) nameSpace->DeleteItem(host.GetScopeItem(), FALSE);
    host.ClearHardware();
    host.m_bstrXml = std::move(xml);
    BuildHardwareTree(host);
    ShowNewPicture(host, nameSpace);
    g_bDirty = true;
    return SCAN_OK;
}
