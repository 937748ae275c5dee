#include "inventory/scan_host.h"

#include <utility>

#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "inventory/dialogs.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/host_login.h"

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
bool HoldsHardware(const CHostNode& host, const CStoredPicture& picture)
{
    CHostNode scratch(host.m_pGroup);
    scratch.m_picture = picture;
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
    const bool fetched = host.m_picture.Empty();
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
    CStoredPicture kept = std::exchange(host.m_picture, {});
    const int code = RunJob(host, nameSpace);
    CStoredPicture fetched = std::exchange(host.m_picture, std::move(kept));
    return TakeRefreshedPicture(host, nameSpace, code, std::move(fetched), {});
}

int TakeRefreshedXml(CHostNode& host, IConsoleNameSpace2* nameSpace, int code, std::u16string_view xml,
                     std::u16string_view failure)
{
    CStoredPicture picture;
    std::u16string refusal;
    if (code == SCAN_OK) {
        const EPictureError packing = picture.SetText(xml);
        if (packing != PICTURE_OK) {
            code = SCAN_FAILED;
            refusal = CHostNode::NewPictureRefusal(packing);
            failure = refusal;
        }
    }
    return TakeRefreshedPicture(host, nameSpace, code, std::move(picture), failure);
}

int TakeRefreshedPicture(CHostNode& host, IConsoleNameSpace2* nameSpace, int code, CStoredPicture picture,
                         std::u16string_view failure)
{
    // A picture the console file cannot keep is refused like a failed scan.
    std::u16string refusal;
    if (code == SCAN_OK && picture.Packed().size() > kMaxNewPictureBytes) {
        code = SCAN_FAILED;
        refusal = CHostNode::NewPictureRefusal(PICTURE_TOO_LARGE);
        failure = refusal;
    }
    if (code != SCAN_OK || !HoldsHardware(host, picture)) {
        if (failure.empty()) failure = host.m_bstrScanFailure;
        host.m_bstrLastResult = failure.empty() ? LoadString(g_hInstance, kRefreshFailedText) : std::u16string(failure);
        // The failure is kept with the host (the console file keeps it), also
        // for a host whose stored picture is not shown yet.
        host.m_scanStatus.RefreshFailed(CScanStatus::Clock::now());
        if (!host.GetChildren().empty()) host.ShowScanStatus();
        g_bDirty = true;
        return SCAN_FAILED;
    }
    if (nameSpace != nullptr && host.GetScopeItem() != 0) nameSpace->DeleteItem(host.GetScopeItem(), FALSE);
    host.ClearHardware();
    host.m_spXmlDoc = nullptr;
    host.m_picture = std::move(picture);
    if (host.IsExpanded()) {
        BuildHardwareTree(host);
        ShowNewPicture(host, nameSpace);
    } else {
        // Its tree is built when it is first expanded: a fleet refresh holds
        // every host's picture packed, not its hardware nodes.
        host.m_scanStatus.Scanned(CScanStatus::Clock::now());
        host.m_bstrLastResult.clear();
    }
    g_bDirty = true;
    return SCAN_OK;
}
