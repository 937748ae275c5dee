// The host node's side of a scan: its record made into the scan's request,
// and the result taken back.
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "scan/dialog_questions.h"
#include "scan/engine_deployment.h"
#include "scan/jump_hosts.h"
#include "inventory/host_login.h"
#include "inventory/scan_host.h"
#include "scan/scan_job.h"
#include "scan/scan_run.h"

namespace {

// kSudoThisRunSetting turns sudo on for every host scanned by this process
// (`host refresh --sudo` sets it for its run).
bool SudoWanted(const CHostNode& host)
{
    DWORD value = 0;
    return host.m_bSudo || (ReadSettingDword(kProductKey, kSudoThisRunSetting, value) && value != 0);
}

}  // namespace

SScanRequest MakeScanRequest(const CHostNode& host)
{
    SScanRequest request;
    request.address = WideToAnsi(host.m_bstrHost);
    request.port = host.m_nPort;
    request.displayName =
        (host.m_pGroup != nullptr ? std::u16string(host.m_pGroup->Name()) : std::u16string()) + u"/" +
        std::u16string(host.Name());
    request.login = WideToAnsi(host.m_bstrLogin);
    request.password = WideToAnsi(host.m_bstrPassword);
    request.keyFile = ExpandKeyFilePath(host.m_bstrKeyFile);
    request.passphrase = WideToAnsi(host.m_bstrPassphrase);
    request.useAgent = host.m_bUseAgent;
    request.sudo = SudoWanted(host);
    request.limits = ReadScanLimits();
    // A first contact is stored and told, or asked about when strict;
    // anything else that is not a match is asked about.
    request.newHostKeyPolicy = StrictHostKeys() ? HKP_ASK : HKP_STORE_AND_TELL;
    request.changedHostKeyPolicy = HKP_ASK;
    request.jumps = ResolveJumpHosts(host);
    return request;
}

void KeepScanOutcome(CHostNode& host, const SScanResult& result)
{
    host.m_bScannedAsRoot = result.status == SCAN_OK && result.root;
    host.m_bstrRootReason = result.rootReason;
    host.m_scanNotes = result.notes;
    host.m_bLshwMissing = result.lshwMissing;
    host.m_bEnginePackageMissing = result.enginePackageMissing;
    host.m_bstrScanFailure = result.status == SCAN_OK ? std::u16string() : result.failure;
}

int RunScanJob(CHostNode& host)
{
    CDialogScanQuestions questions;
    SScanResult result;
    try {
        const SScanRequest request = MakeScanRequest(host);
        result = RunConfiguredScan(request, questions);
    } catch (const CScanError& error) {
        // The route did not read: told as the scan tells its errors.
        result.failure = ScanErrorText(error);
        result.step = STEP_ROUTE;
        questions.Error(result.failure);
    }
    KeepScanOutcome(host, result);
    if (result.status == SCAN_OK) {
        std::string packed;
        if (PackPictureUtf8(result.xml, packed) == PICTURE_OK) host.m_picture.SetPacked(std::move(packed));
    }
    return result.status;
}
