#include "inventory/group_node.h"

#include "inventory/context_menu.h"
#include "inventory/dialogs.h"
#include "inventory/host_node.h"
#include "inventory/import_dialog.h"
#include "inventory/module_state.h"
#include "inventory/node_types.h"
#include "inventory/root_node.h"
#include "inventory/value_checks.h"
#include "platform/ui.h"
#include "res/resource_ids.h"
#include "inventory/fleet_refresh.h"

namespace {

const std::vector<std::u16string>& GroupMenuTexts()
{
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> list;
        LoadStringList(IDS_GROUP_MENU, list);
        return list;
    }();
    return texts;
}

// The width of each column of the group's list.
constexpr int kColumnWidth = 160;

}  // namespace

std::vector<CHostNode*> HostsOf(CGroupNode& group)
{
    std::vector<CHostNode*> hosts;
    for (const auto& child : group.GetChildren()) hosts.push_back(static_cast<CHostNode*>(child.get()));
    return hosts;
}

void UpdateHostLines(IConsole* console, const std::vector<CHostNode*>& hosts)
{
    if (console == nullptr) return;
    com_ptr<IResultData> resultData;
    if (FAILED(console->QueryInterface(IID_IResultData, resultData.put_void())) || !resultData) return;
    for (CHostNode* host : hosts) {
        HRESULTITEM item = 0;
        if (resultData->FindItemByLParam(host->GetCookie(), &item) == S_OK) resultData->UpdateItem(item);
    }
}

CHostNode* HostNamed(CGroupNode& group, std::u16string_view name, const CHostNode* except)
{
    for (const auto& child : group.GetChildren()) {
        auto* host = static_cast<CHostNode*>(child.get());
        if (host != except && host->Name() == name) return host;
    }
    return nullptr;
}

std::u16string CheckHostName(CGroupNode& group, std::u16string_view name, const CHostNode* except)
{
    if (std::u16string refusal = CheckNodeName(name); !refusal.empty()) return refusal;
    if (HostNamed(group, name, except) == nullptr) return {};
    return u"The group \"" + std::u16string(group.Name()) + u"\" holds a host named \"" + std::u16string(name) +
           u"\" already; host names are unique within a group.";
}

std::u16string CheckGroupName(const CRootNode& root, std::u16string_view name, const CGroupNode* except)
{
    if (std::u16string refusal = CheckNodeName(name); !refusal.empty()) return refusal;
    for (const auto& child : root.GetChildren())
        if (child.get() != except && static_cast<const CGroupNode*>(child.get())->Name() == name)
            return u"There is a group named \"" + std::u16string(name) + u"\" already; group names are unique.";
    return {};
}

std::u16string CGroupNode::GetDisplayText(int) { return m_szName; }

const GUID& CGroupNode::GetNodeType() { return kGroupNodeType; }

int CGroupNode::GetImageIndex() { return kImageGroup; }

HRESULT CGroupNode::OnSelect(IConsole* console, BOOL, BOOL) { return OfferRename(console); }

HRESULT CGroupNode::OnRename(LPOLESTR newName)
{
    // Without a text the console only asks whether renaming is allowed.
    if (newName == nullptr) return S_OK;
    if (OleView(newName) == Name()) return S_OK;
    const std::u16string refusal =
        m_pRoot != nullptr ? CheckGroupName(*m_pRoot, OleView(newName), this) : CheckNodeName(OleView(newName));
    if (!refusal.empty()) {
        MessageBox(GetActiveWindow(), refusal, LoadString(g_hInstance, IDS_CAPTION), MB_OK | MB_ICONWARNING);
        return S_FALSE;
    }
    SetName(OleView(newName));
    g_bDirty = true;
    return S_OK;
}

HRESULT CGroupNode::GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool)
{
    if (viewType == nullptr || viewOptions == nullptr) return E_POINTER;
    // The default list view, filled in OnShow.
    *viewOptions = MMC_VIEW_OPTIONS_NONE;
    *viewType = nullptr;
    return S_OK;
}

HRESULT CGroupNode::OnShow(bool, IConsole* console, BOOL show, HSCOPEITEM)
{
    if (!show) return S_OK;
    if (console == nullptr) return S_FALSE;
    com_ptr<IHeaderCtrl> header;
    com_ptr<IResultData> resultData;
    if (FAILED(console->QueryInterface(IID_IHeaderCtrl, header.put_void())) || !header) return S_FALSE;
    if (FAILED(console->QueryInterface(IID_IResultData, resultData.put_void())) || !resultData) return S_FALSE;
    std::vector<std::u16string> titles;
    LoadStringList(IDS_GROUP_COLUMNS, titles);
    titles.resize(HOST_COL_COUNT);
    for (int column = 0; column < HOST_COL_COUNT; ++column)
        if (FAILED(header->InsertColumn(column, OleText(titles[static_cast<std::size_t>(column)]), LVCFMT_LEFT,
                                        kColumnWidth)))
            return S_FALSE;
    if (FAILED(resultData->DeleteAllRsltItems())) return S_FALSE;
    for (const auto& child : GetChildren()) {
        RESULTDATAITEM line{};
        line.mask = RDI_STR | RDI_IMAGE | RDI_PARAM;
        line.str = MMC_CALLBACK;
        line.nImage = child->GetImageIndex();
        line.lParam = child->GetCookie();
        if (FAILED(resultData->InsertItem(&line))) return S_FALSE;
    }
    return S_OK;
}

HRESULT CGroupNode::InsertChildren(IConsoleNameSpace2* nameSpace) { return InsertChildNodes(*this, nameSpace, m_bInsertAll); }

HRESULT CGroupNode::OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item)
{
    CConsoleNode::OnExpand(nameSpace, console, item);
    return InsertChildren(nameSpace);
}

HRESULT CGroupNode::AddMenuItems(IContextMenuCallback* callback, long insertionAllowed)
{
    if (!MenuAllowed(m_bExpanded, insertionAllowed)) return S_OK;
    RETURN_IF_FAILED(AddMenuItemList(callback, GroupMenuTexts(), {{0, IDM_ADD_HOST, 0}, {1, IDM_DELETE_GROUP, 0}}));
    static const std::vector<std::u16string> importTexts = [] {
        std::vector<std::u16string> list;
        LoadStringList(IDS_IMPORT_MENU, list);
        return list;
    }();
    RETURN_IF_FAILED(AddMenuItemList(callback, importTexts, {{0, IDM_IMPORT_HOSTS, 0}}));
    std::vector<std::u16string> refresh;
    LoadStringList(IDS_REFRESH_ALL_MENU, refresh);
    return AddMenuItemList(callback, refresh, {{-1, 1, MF_SEPARATOR}, {0, IDM_REFRESH_ALL, 0}});
}

HRESULT CGroupNode::Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject*)
{
    switch (commandId) {
    case IDM_ADD_HOST: {
        CHostDialog dialog(HOSTDLG_ADD, u"", 22, u"root", false);
        dialog.m_checkName = [this](std::u16string_view name) { return CheckHostName(*this, name); };
        if (dialog.DoModal() != IDOK) return S_FALSE;
        m_bInsertAll = false;
        auto host = std::make_unique<CHostNode>(this);
        host->SetName(dialog.m_bstrName);
        host->SetFromDialog(dialog.m_bstrHost, dialog.m_bstrPort, dialog.m_bstrLogin, dialog.m_bstrPassword);
        host->m_bSudo = dialog.m_bSudo;
        host->m_bstrKeyFile = dialog.m_bstrKeyFile;
        host->m_bstrPassphrase = dialog.m_bstrPassphrase;
        host->m_bUseAgent = dialog.m_bUseAgent;
        host->m_bstrJump = dialog.m_bstrJump;
        AppendChild(std::move(host));
        InsertChildren(nameSpace);
        g_bDirty = true;
        return S_OK;
    }
    case IDM_IMPORT_HOSTS:
        return RunHostImport(*this, nameSpace);
    case IDM_REFRESH_ALL: {
        const std::vector<CHostNode*> hosts = ChosenHosts(HostsOf(*this));
        const SFleetCount count = RefreshHosts(hosts, nameSpace);
        UpdateHostLines(console, hosts);
        return count.failed == 0 ? S_OK : S_FALSE;
    }
    case IDM_DELETE_GROUP: {
        if (nameSpace != nullptr && m_hScopeItem != 0) nameSpace->DeleteItem(m_hScopeItem, TRUE);
        CRootNode* root = m_pRoot;
        root->DeleteChild(this);  // deletes this group: touch no member after it
        g_bDirty = true;
        return S_OK;
    }
    default:
        return S_FALSE;
    }
}
