#include "inventory/root_node.h"

#include "inventory/context_menu.h"
#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/module_state.h"
#include "inventory/host_node.h"
#include "inventory/node_types.h"
#include "res/resource_ids.h"
#include "inventory/fleet_refresh.h"

namespace {

const std::vector<std::u16string>& RootMenuTexts()
{
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> list;
        LoadStringList(IDS_ROOT_MENU, list);
        return list;
    }();
    return texts;
}

}  // namespace

CRootNode::CRootNode()
{
    // A new inventory starts without a main password.
    WipeString(g_bstrMainPassword);
}

std::u16string CRootNode::GetDisplayText(int) { return LoadString(g_hInstance, IDS_ROOT_NAME); }

const GUID& CRootNode::GetNodeType() { return kRootNodeType; }

int CRootNode::GetImageIndex() { return kImageServer; }

HRESULT CRootNode::GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool)
{
    if (viewType == nullptr || viewOptions == nullptr) return E_POINTER;
    *viewOptions = MMC_VIEW_OPTIONS_NONE;
    *viewType = BuildResourceUrl(u"mycomputers.html");
    return *viewType != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT InsertChildNodes(CConsoleNode& node, IConsoleNameSpace2* nameSpace, bool insertAll)
{
    auto& children = node.GetChildren();
    if (children.empty()) return S_OK;
    const std::size_t first = insertAll ? 0 : children.size() - 1;
    for (std::size_t i = first; i < children.size(); ++i) {
        CConsoleNode& child = *children[i];
        const int image = child.GetImageIndex();
        RETURN_IF_FAILED(node.InsertScopeChild(nameSpace, child, image, image + 1, 1));
    }
    return S_OK;
}

HRESULT CRootNode::InsertChildren(IConsoleNameSpace2* nameSpace) { return InsertChildNodes(*this, nameSpace, m_bInsertAll); }

HRESULT CRootNode::OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item)
{
    CConsoleNode::OnExpand(nameSpace, console, item);
    return InsertChildren(nameSpace);
}

HRESULT CRootNode::AddMenuItems(IContextMenuCallback* callback, long insertionAllowed)
{
    if (!MenuAllowed(m_bExpanded, insertionAllowed)) return S_OK;
    std::vector<std::u16string> texts = RootMenuTexts();
    texts.resize(6);
    std::vector<std::u16string> refresh;
    LoadStringList(IDS_REFRESH_ALL_MENU, refresh);
    texts.insert(texts.end(), refresh.begin(), refresh.end());
    return AddMenuItemList(callback, texts,
                           {{0, IDM_ADD_GROUP, 0},
                            {-1, 1, MF_SEPARATOR},
                            {1, IDM_SAVE_PASSWORDS, m_bSavePasswords ? MF_CHECKED : 0},
                            {-1, 1, MF_SEPARATOR},
                            {2, IDM_ABOUT, 0},
                            {-1, 1, MF_SEPARATOR},
                            {3, IDM_REFRESH_ALL, 0}});
}

HRESULT CRootNode::Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject*)
{
    m_bInsertAll = false;
    switch (commandId) {
    case IDM_ADD_GROUP: {
        CGroupDialog dialog;
        if (dialog.DoModal() != IDOK) break;
        if (const std::u16string refusal = CheckGroupName(*this, dialog.m_bstrName, nullptr); !refusal.empty()) {
            MessageBox(GetActiveWindow(), refusal, LoadString(g_hInstance, IDS_CAPTION), MB_OK | MB_ICONWARNING);
            break;
        }
        auto group = std::make_unique<CGroupNode>(this);
        group->SetName(dialog.m_bstrName);
        AppendChild(std::move(group));
        InsertChildren(nameSpace);
        g_bDirty = true;
        break;
    }
    case IDM_SAVE_PASSWORDS:
        ToggleSavePasswords();
        break;
    case IDM_ABOUT: {
        CAboutDialog dialog;
        dialog.DoModal();
        break;
    }
    case IDM_REFRESH_ALL: {
        std::vector<CHostNode*> hosts;
        for (const auto& group : m_children) {
            const std::vector<CHostNode*> more = HostsOf(static_cast<CGroupNode&>(*group));
            hosts.insert(hosts.end(), more.begin(), more.end());
        }
        hosts = ChosenHosts(hosts);
        const SFleetCount count = RefreshHosts(hosts, nameSpace);
        UpdateHostLines(console, hosts);
        return count.failed == 0 ? S_OK : S_FALSE;
    }
    default:
        break;
    }
    return S_OK;
}

void CRootNode::ToggleSavePasswords()
{
    m_bSavePasswords = !m_bSavePasswords;
    if (!m_bSavePasswords) {
        WipeString(g_bstrMainPassword);
        g_bDirty = true;
        return;
    }
    CPasswordDialog dialog(PASSWORDDLG_SET);
    if (dialog.DoModal() != IDOK) {
        m_bSavePasswords = false;
        return;
    }
    WipeString(g_bstrMainPassword);
    g_bstrMainPassword = dialog.m_bstrPassword;
    g_bDirty = true;
}
