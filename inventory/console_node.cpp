#include "inventory/console_node.h"

#include <algorithm>

#include "inventory/node_images.h"
#include "inventory/node_types.h"

CConsoleNode::~CConsoleNode() = default;

const GUID& CConsoleNode::GetNodeType() { return GUID_NULL; }

MMC_COOKIE CConsoleNode::GetCookie() { return reinterpret_cast<MMC_COOKIE>(this); }

HRESULT CConsoleNode::OnSelect(IConsole*, BOOL, BOOL) { return S_FALSE; }

HRESULT CConsoleNode::OfferRename(IConsole* console)
{
    if (console == nullptr) return E_POINTER;
    com_ptr<IConsoleVerb> verb;
    RETURN_IF_FAILED(console->QueryConsoleVerb(verb.put()));
    if (!verb) return E_POINTER;
    verb->SetVerbState(MMC_VERB_RENAME, ENABLED, TRUE);
    verb->SetVerbState(MMC_VERB_RENAME, HIDDEN, FALSE);
    return S_OK;
}

HRESULT CConsoleNode::OnRename(LPOLESTR) { return S_FALSE; }

HRESULT CConsoleNode::GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool)
{
    if (viewType) *viewType = nullptr;
    if (viewOptions) *viewOptions = MMC_VIEW_OPTIONS_NONE;
    return S_OK;
}

void CConsoleNode::SetScopeItem(HSCOPEITEM item) { m_hScopeItem = item; }

HSCOPEITEM CConsoleNode::GetScopeItem() { return m_hScopeItem; }

HRESULT CConsoleNode::InsertChildren(IConsoleNameSpace2*) { return S_FALSE; }

HRESULT CConsoleNode::Save(IStream*, bool) { return S_FALSE; }

int CConsoleNode::Load(IStream*, bool*) { return 1; }

HRESULT CConsoleNode::OnExpand(IConsoleNameSpace2* nameSpace, IConsole*, HSCOPEITEM item)
{
    m_hScopeItem = item;
    m_bExpanded = true;
    if (nameSpace) nameSpace->Expand(item);
    return S_OK;
}

HRESULT CConsoleNode::AddMenuItems(IContextMenuCallback*, long) { return S_FALSE; }

HRESULT CConsoleNode::Command(IConsole*, IConsoleNameSpace2*, long, IDataObject*) { return S_FALSE; }

HRESULT CConsoleNode::OnAddImages(IImageList* imageList)
{
    if (imageList == nullptr) return E_POINTER;
    const NodeImageStrips& strips = GetNodeImageStrips();
    return imageList->ImageListSetStrip(reinterpret_cast<LONG_PTR*>(strips.small),
                                        reinterpret_cast<LONG_PTR*>(strips.large), 0, kImageMask);
}

HRESULT CConsoleNode::OnShow(bool, IConsole*, BOOL, HSCOPEITEM) { return S_FALSE; }

HRESULT CConsoleNode::TaskNotify(IDataObject*, VARIANT*, VARIANT*) { return S_FALSE; }

HRESULT CConsoleNode::EnumTasks(IDataObject*, LPOLESTR, IEnumTASK** tasks)
{
    if (tasks) *tasks = nullptr;
    return S_FALSE;
}

HRESULT CConsoleNode::GetTitle(LPOLESTR, LPOLESTR* title)
{
    if (title) *title = nullptr;
    return S_FALSE;
}

HRESULT CConsoleNode::GetDescriptiveText(LPOLESTR, LPOLESTR* text)
{
    if (text) *text = nullptr;
    return S_FALSE;
}

HRESULT CConsoleNode::GetBackground(LPOLESTR, MMC_TASK_DISPLAY_OBJECT*) { return S_FALSE; }

HRESULT CConsoleNode::GetListPadInfo(LPOLESTR, MMC_LISTPAD_INFO*) { return S_FALSE; }

void CConsoleNode::SetName(std::u16string_view text)
{
    const std::size_t n = std::min(text.size(), kMaxName);
    std::copy_n(text.data(), n, m_szName);
    m_szName[n] = u'\0';
}

CConsoleNode& CConsoleNode::AppendChild(std::unique_ptr<CConsoleNode> child)
{
    m_children.push_back(std::move(child));
    return *m_children.back();
}

void CConsoleNode::DeleteChild(const CConsoleNode* child)
{
    std::erase_if(m_children, [child](const std::unique_ptr<CConsoleNode>& c) { return c.get() == child; });
}

HRESULT CConsoleNode::InsertScopeChild(IConsoleNameSpace2* nameSpace, CConsoleNode& child, int image, int openImage,
                                       int childCount)
{
    if (nameSpace == nullptr) return E_POINTER;
    SCOPEDATAITEM item{};
    item.mask = SDI_STR | SDI_IMAGE | SDI_OPENIMAGE | SDI_PARAM | SDI_CHILDREN | SDI_PARENT;
    item.displayname = MMC_CALLBACK;
    item.nImage = image;
    item.nOpenImage = openImage;
    item.cChildren = childCount;
    item.lParam = reinterpret_cast<LPARAM>(&child);
    item.relativeID = m_hScopeItem;
    const HRESULT hr = nameSpace->InsertItem(&item);
    if (SUCCEEDED(hr)) child.SetScopeItem(item.ID);
    return hr;
}
