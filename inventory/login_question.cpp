#include "inventory/login_question.h"

#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/host_login.h"

bool LoginQuestionNeeded(const CHostNode& host)
{
    const bool noWayIn = host.m_bstrPassword.empty() && host.m_bstrKeyFile.empty() && !host.m_bUseAgent;
    return host.m_bstrHost.empty() || host.m_bstrLogin.empty() || noWayIn || HostKeyNeedsPassphrase(host);
}

bool AskHostLogin(CHostNode& host, IConsoleNameSpace2* nameSpace, bool& changed)
{
    changed = false;
    CHostDialog dialog(HOSTDLG_LOGIN, host.m_bstrHost, host.m_nPort,
                       host.m_bstrLogin.empty() ? std::u16string_view(u"root") : std::u16string_view(host.m_bstrLogin),
                       host.m_bSudo);
    dialog.SetLoginWays(host.m_bstrKeyFile, host.m_bUseAgent);
    dialog.m_bstrJump = host.m_bstrJump;
    if (host.m_pGroup != nullptr) dialog.m_bstrWhere = std::u16string(host.m_pGroup->Name()) + u"/" + std::u16string(host.Name());
    if (dialog.DoModal() != IDOK) return false;
    changed = host.TakeDialog(dialog, nameSpace);
    return true;
}
