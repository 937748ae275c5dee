#include "inventory/host_node.h"

#include "hardware/general_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "inventory/context_menu.h"
#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/login_question.h"
#include "inventory/module_state.h"
#include "inventory/node_types.h"
#include "res/resource_ids.h"
#include "scan/login_settings.h"
#include "inventory/scan_host.h"

namespace {

// The words of the group's list: the login methods, yes and no. A good
// scan's word is the contract's (kScanResultOk): hosts read it.
enum { LT_PASSWORD, LT_YES, LT_NO, LT_KEY_FILE, LT_AGENT, LT_COUNT };

const std::vector<std::u16string>& HostMenuTexts()
{
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> list;
        LoadStringList(IDS_HOST_MENU, list);
        return list;
    }();
    return texts;
}

}  // namespace

CHostNode::CHostNode(CGroupNode* group) : m_pGroup(group) {}

CHostNode::~CHostNode()
{
    // Children hold elements of the document: drop them before it goes.
    ClearHardware();
    WipeString(m_bstrLogin);
    WipeString(m_bstrPassword);
    WipeString(m_bstrPassphrase);
}

std::u16string CHostNode::GetDisplayText(int column)
{
    std::vector<std::u16string> texts;
    LoadStringList(IDS_HOST_LIST_TEXTS, texts);
    texts.resize(LT_COUNT);
    switch (column) {
    case HOST_COL_LAST_SCAN: {
        const auto when = m_scanStatus.LastScanAt();
        return when ? FormatUtcTime(*when) : std::u16string();
    }
    case HOST_COL_RESULT:
        if (!m_bstrLastResult.empty()) return m_bstrLastResult;
        return m_scanStatus.LastScanAt() ? kScanResultOk : std::u16string();
    case HOST_COL_LOGIN: return LoginMethod();
    case HOST_COL_SUDO: return m_bSudo ? texts[LT_YES] : texts[LT_NO];
    default: return m_szName;
    }
}

std::u16string CHostNode::LoginMethod() const
{
    std::vector<std::u16string> texts;
    LoadStringList(IDS_HOST_LIST_TEXTS, texts);
    texts.resize(LT_COUNT);
    switch (HostLoginMethod(*this)) {
    case LOGIN_AGENT: return texts[LT_AGENT];
    case LOGIN_KEY_FILE: return texts[LT_KEY_FILE];
    case LOGIN_PASSWORD: break;
    }
    return texts[LT_PASSWORD];
}

ELoginMethod HostLoginMethod(const CHostNode& host)
{
    if (host.m_bUseAgent) return LOGIN_AGENT;
    if (!host.m_bstrKeyFile.empty()) return LOGIN_KEY_FILE;
    return LOGIN_PASSWORD;
}

const GUID& CHostNode::GetNodeType() { return kHostNodeType; }

int CHostNode::GetImageIndex() { return kImageServer; }

HRESULT CHostNode::GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool viewFlag)
{
    if (m_bExpanded && m_children.empty()) {
        if (viewType == nullptr || viewOptions == nullptr) return E_POINTER;
        *viewOptions = MMC_VIEW_OPTIONS_NONE;
        *viewType = BuildResourceUrl(u"ci.html");
        return *viewType != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    return CConsoleNode::GetResultViewType(viewType, viewOptions, viewFlag);
}

HRESULT CHostNode::OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item)
{
    CConsoleNode::OnExpand(nameSpace, console, item);
    return ScanHost(*this, nameSpace) == 1 ? S_FALSE : S_OK;
}

HRESULT CHostNode::OnSelect(IConsole* console, BOOL, BOOL) { return OfferRename(console); }

HRESULT CHostNode::OnRename(LPOLESTR newName)
{
    // Without a text the console only asks whether renaming is allowed.
    if (newName == nullptr) return S_OK;
    const std::u16string_view name = OleView(newName);
    if (name == Name()) return S_OK;
    if (const std::u16string refusal = CheckHostName(*m_pGroup, name, this); !refusal.empty()) {
        MessageBox(GetActiveWindow(), refusal, LoadString(g_hInstance, IDS_CAPTION), MB_OK | MB_ICONWARNING);
        return S_FALSE;
    }
    SetName(name);
    g_bDirty = true;
    return S_OK;
}

HRESULT CHostNode::AddMenuItems(IContextMenuCallback* callback, long insertionAllowed)
{
    if (MenuAllowed(m_bExpanded, insertionAllowed))
        AddMenuItemList(callback, HostMenuTexts(),
                        {{0, IDM_EDIT_HOST, 0}, {1, IDM_REFRESH_HOST, 0}, {2, IDM_REMOVE_HOST, 0}});
    return S_FALSE;
}

HRESULT CHostNode::Command(IConsole*, IConsoleNameSpace2* nameSpace, long commandId, IDataObject*)
{
    switch (commandId) {
    case IDM_REMOVE_HOST: {
        if (nameSpace != nullptr && m_hScopeItem != 0) nameSpace->DeleteItem(m_hScopeItem, TRUE);
        CGroupNode* group = m_pGroup;
        group->DeleteChild(this);  // deletes this host: touch no member after it
        g_bDirty = true;
        return S_OK;
    }
    case IDM_EDIT_HOST: {
        CHostDialog dialog(HOSTDLG_EDIT, m_bstrHost, m_nPort, m_bstrLogin, m_bSudo);
        // A host named by its address shows no name: it follows the address.
        if (Name() != m_bstrHost) dialog.m_bstrName = Name();
        dialog.m_checkName = [this](std::u16string_view name) { return CheckHostName(*m_pGroup, name, this); };
        dialog.SetLoginWays(m_bstrKeyFile, m_bUseAgent);
        dialog.m_bstrJump = m_bstrJump;
        if (dialog.DoModal() != IDOK) return S_FALSE;
        TakeDialog(dialog, nameSpace);
        g_bDirty = true;
        return S_OK;
    }
    case IDM_REFRESH_HOST: {
        // The hardware shown stays until a scan brings a new picture.
        if (LoginQuestionNeeded(*this)) {
            bool dropped = false;
            if (!AskHostLogin(*this, nameSpace, dropped)) return S_FALSE;
            if (dropped) g_bDirty = true;
        }
        return RefreshHost(*this, nameSpace) == 1 ? S_FALSE : S_OK;
    }
    default:
        return S_FALSE;
    }
}

HRESULT CHostNode::OnShow(bool, IConsole*, BOOL, HSCOPEITEM) { return S_OK; }

void CHostNode::ClearHardware()
{
    m_children.clear();
    m_pGeneral.reset();
    m_generalNames.clear();
    m_generalValues.clear();
}

void CHostNode::DropHardware(IConsoleNameSpace2* nameSpace)
{
    if (nameSpace != nullptr && m_hScopeItem != 0) nameSpace->DeleteItem(m_hScopeItem, FALSE);
    ClearHardware();
    m_spXmlDoc = nullptr;
    m_picture.Clear();
    m_scanStatus.Forget();
}

void CHostNode::TakePicture(std::u16string xml, IConsoleNameSpace2* nameSpace)
{
    DropHardware(nameSpace);
    m_bstrLastResult.clear();
    m_picture.SetText(xml);
    g_bDirty = true;
    if (!m_bExpanded || m_picture.Empty()) return;
    BuildHardwareTree(*this);
    if (!m_children.empty()) InsertHostHardware(*this, nameSpace);
}

void CHostNode::SetFromDialog(std::u16string_view host, std::u16string_view port, std::u16string_view login,
                              std::u16string_view password)
{
    m_bstrHost.assign(host);
    m_nPort = DecimalToInt(port);
    m_bstrLogin.assign(login);
    if (password.empty()) return;
    WipeString(m_bstrPassword);
    m_bstrPassword.assign(password);
}

bool CHostNode::TakeDialog(const CHostDialog& dialog, IConsoleNameSpace2* nameSpace)
{
    // The picture belongs to the address and port it was taken from.
    const bool moved = dialog.m_bstrHost != m_bstrHost || dialog.m_nPort != m_nPort;
    // The edit dialog names the host; the login question leaves the name
    // alone, except that a host named by its address follows the address.
    if (dialog.m_mode == HOSTDLG_EDIT || dialog.m_mode == HOSTDLG_ADD)
        SetName(dialog.m_bstrName.empty() ? dialog.m_bstrHost : dialog.m_bstrName);
    else if (Name() == m_bstrHost)
        SetName(dialog.m_bstrHost);
    SetFromDialog(dialog.m_bstrHost, dialog.m_bstrPort, dialog.m_bstrLogin, dialog.m_bstrPassword);
    m_nPort = dialog.m_nPort;
    m_bSudo = dialog.m_bSudo;
    m_bstrJump = dialog.m_bstrJump;
    if (dialog.m_bstrKeyFile != m_bstrKeyFile) WipeString(m_bstrPassphrase);
    m_bstrKeyFile = dialog.m_bstrKeyFile;
    if (!dialog.m_bstrPassphrase.empty()) {
        WipeString(m_bstrPassphrase);
        m_bstrPassphrase = dialog.m_bstrPassphrase;
    }
    m_bUseAgent = dialog.m_bUseAgent;
    if (dialog.m_bClearPassword) {
        WipeString(m_bstrPassword);
        WipeString(m_bstrPassphrase);
    }
    if (moved && (!m_children.empty() || !m_picture.Empty())) {
        DropHardware(nameSpace);
        return true;
    }
    return false;
}

bool CHostNode::TakeNewPicture(std::u16string_view xml, std::u16string& refusal)
{
    refusal.clear();
    const EPictureError taking = m_picture.SetText(xml, kMaxNewPictureBytes);
    if (taking == PICTURE_OK) return true;
    refusal = NewPictureRefusal(taking);
    return false;
}

std::u16string CHostNode::NewPictureRefusal(EPictureError error)
{
    if (error == PICTURE_TOO_LARGE)
        return u"the picture is too large for the console file (at most " +
               IntToDecimal(static_cast<long long>(kMaxNewPictureBytes >> 20)) +
               u" MiB packed); the previous one is kept";
    if (error == PICTURE_FAILED) return u"the picture could not be packed for the console file; the previous one is kept";
    return u"the picture came back damaged; the previous one is kept";
}

void CHostNode::ShowScanStatus()
{
    if (!m_pGeneral) return;
    RowList names;
    RowList values;
    StatusRows(names, values);
    m_pGeneral->m_names = std::move(names);
    m_pGeneral->m_values = std::move(values);
}

void CHostNode::StatusRows(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const
{
    names = m_generalNames;
    values = m_generalValues;
    m_scanStatus.AppendRows(names, values);
    std::vector<std::u16string> rows;
    LoadStringList(IDS_ROOT_RIGHTS_ROWS, rows);
    if (rows.size() == 3 && m_bSudo) {
        names.push_back(rows[0]);
        values.push_back(rows[1]);
    }
    if (rows.size() == 3 && m_picture.WithoutRoot()) {
        names.push_back(rows[0]);
        values.push_back(rows[2]);
    }
}
