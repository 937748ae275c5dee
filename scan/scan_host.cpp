#include "scan/scan_host.h"

#include "hardware/hardware_tree.h"
#include "inventory/dialogs.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"

namespace {

ScanJobFunction& ScanJobOverride()
{
    static ScanJobFunction job;
    return job;
}

}  // namespace

ScanJobFunction SetScanJob(ScanJobFunction job) { return std::exchange(ScanJobOverride(), std::move(job)); }

int ScanHost(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    while (host.m_bstrLogin.empty() || host.m_bstrHost.empty()) {
        CHostDialog dialog(HOSTDLG_LOGIN, host.m_bstrHost, host.m_nPort, host.m_bstrLogin);
        if (dialog.DoModal() != IDOK) return 1;
        host.SetFromDialog(dialog.m_bstrHost, dialog.m_bstrPort, dialog.m_bstrLogin, dialog.m_bstrPassword);
    }
    if (host.m_bstrXml.empty()) {
        const ScanJobFunction& job = ScanJobOverride();
        if ((job ? job(host) : RunScanJob(host)) == 1) return 1;
    }
    BuildHardwareTree(host);
    if (host.GetChildren().empty()) return 1;
    InsertHostHardware(host, nameSpace);
    g_bDirty = true;
    return 0;
}
