#include "snapin/component.h"

#include "inventory/module_state.h"
#include "snapin/component_data.h"
#include "snapin/data_object.h"
#include "snapin/picture_paste.h"

namespace {
WORD LowWord(LPARAM value) { return static_cast<WORD>(value & 0xFFFF); }
WORD HighWord(LPARAM value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
}  // namespace

com_ptr<IComponent> CFerrodexComponent::Create(CFerrodexData* owner)
{
    return com_ptr<IComponent>::attach(new CFerrodexComponent(owner));
}

HRESULT CFerrodexComponent::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IComponent) return HandOut(static_cast<IComponent*>(this), ppv);
    if (riid == IID_IExtendContextMenu) return HandOut(static_cast<IExtendContextMenu*>(this), ppv);
    if (riid == IID_IExtendTaskPad) return HandOut(static_cast<IExtendTaskPad*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CFerrodexComponent::Initialize(IConsole* console)
{
    m_spConsole = com_ptr<IConsole>(console);
    return S_OK;
}

HRESULT CFerrodexComponent::Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param)
{
    return ComBoundary([&]() -> HRESULT {
        if (data == nullptr) return S_FALSE;
        CConsoleNode* node = GetDataClass(data);
        if (node == nullptr) return S_FALSE;
        switch (event) {
        case MMCN_ADD_IMAGES:
            return node->OnAddImages(reinterpret_cast<IImageList*>(arg));
        case MMCN_SELECT:
            return node->OnSelect(m_spConsole.get(), LowWord(arg), HighWord(arg));
        case MMCN_SHOW:
            return node->OnShow(m_bViewFlag, m_spConsole.get(), static_cast<BOOL>(arg), static_cast<HSCOPEITEM>(param));
        case MMCN_QUERY_PASTE:
            return CanPastePicture(*node, reinterpret_cast<IDataObject*>(arg)) ? S_OK : S_FALSE;
        case MMCN_PASTE:
            // A picture is copied, never moved: nothing of the source is to be deleted.
            if (param != 0) *reinterpret_cast<IDataObject**>(param) = nullptr;
            return PastePicture(*node, reinterpret_cast<IDataObject*>(arg), m_pOwner->NameSpace());
        default:
            return S_FALSE;
        }
    });
}

HRESULT CFerrodexComponent::Destroy(MMC_COOKIE)
{
    m_spConsole = nullptr;
    return S_OK;
}

HRESULT CFerrodexComponent::QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data)
{
    return QueryNodeDataObject(m_pOwner->Root(), cookie, type, data);
}

HRESULT CFerrodexComponent::GetResultViewType(MMC_COOKIE cookie, LPOLESTR* viewType, long* viewOptions)
{
    return ComBoundary([&]() -> HRESULT {
        if (viewType == nullptr || viewOptions == nullptr) return E_POINTER;
        if (cookie != 0) return NodeFromCookie(cookie)->GetResultViewType(viewType, viewOptions, m_bViewFlag);
        *viewOptions = MMC_VIEW_OPTIONS_NONE;
        *viewType = BuildResourceUrl(u"mycomputers.html");
        return *viewType != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT CFerrodexComponent::GetDisplayInfo(RESULTDATAITEM* item)
{
    return ComBoundary([&]() -> HRESULT {
        if (item == nullptr) return E_POINTER;
        CConsoleNode* node = NodeFromCookie(item->lParam);
        if (node == nullptr) return S_OK;
        if (item->mask & RDI_STR) {
            item->str = CoTaskMemDup(node->GetDisplayText(item->nCol));
            if (item->str == nullptr) return E_OUTOFMEMORY;
        }
        if (item->mask & RDI_IMAGE) item->nImage = node->GetImageIndex();
        return S_OK;
    });
}

HRESULT CFerrodexComponent::CompareObjects(IDataObject* a, IDataObject* b) { return CompareNodeObjects(a, b); }

HRESULT CFerrodexComponent::AddMenuItems(IDataObject*, IContextMenuCallback*, long*) { return S_OK; }

HRESULT CFerrodexComponent::Command(long, IDataObject*) { return S_OK; }

HRESULT CFerrodexComponent::TaskNotify(IDataObject* data, VARIANT* arg, VARIANT* param)
{
    CConsoleNode* node = GetDataClass(data);
    return node != nullptr ? node->TaskNotify(data, arg, param) : S_FALSE;
}

HRESULT CFerrodexComponent::EnumTasks(IDataObject* data, LPOLESTR group, IEnumTASK** tasks)
{
    if (tasks) *tasks = nullptr;
    CConsoleNode* node = GetDataClass(data);
    return node != nullptr ? node->EnumTasks(data, group, tasks) : S_FALSE;
}

// The task-pad calls that carry no data object concern the selected node;
// every node of this snap-in answers them the same way, as the root does.
HRESULT CFerrodexComponent::GetTitle(LPOLESTR group, LPOLESTR* title)
{
    return m_pOwner->Root().GetTitle(group, title);
}

HRESULT CFerrodexComponent::GetDescriptiveText(LPOLESTR group, LPOLESTR* text)
{
    return m_pOwner->Root().GetDescriptiveText(group, text);
}

HRESULT CFerrodexComponent::GetBackground(LPOLESTR group, MMC_TASK_DISPLAY_OBJECT* background)
{
    return m_pOwner->Root().GetBackground(group, background);
}

HRESULT CFerrodexComponent::GetListPadInfo(LPOLESTR group, MMC_LISTPAD_INFO* info)
{
    return m_pOwner->Root().GetListPadInfo(group, info);
}
