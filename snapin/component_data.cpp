#include "snapin/component_data.h"

#include "inventory/node_images.h"
#include "inventory/node_types.h"
#include "inventory/host_node.h"
#include "inventory/persistence.h"
#include "platform/random_id.h"
#include "inventory/module_state.h"
#include "snapin/component.h"
#include "snapin/data_object.h"

CFerrodexData::CFerrodexData() : m_pRoot(std::make_unique<CRootNode>())
{
    g_bDirty = false;  // a new inventory: nothing of it is unsaved yet
}

HRESULT CFerrodexData::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IComponentData) return HandOut(static_cast<IComponentData*>(this), ppv);
    if (riid == IID_IPersistStream || riid == IID_IPersist) return HandOut(static_cast<IPersistStream*>(this), ppv);
    if (riid == IID_IExtendContextMenu) return HandOut(static_cast<IExtendContextMenu*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CFerrodexData::Initialize(IUnknown* console)
{
    return ComBoundary([&]() -> HRESULT {
        if (console == nullptr) return E_POINTER;
        com_ptr<IUnknown> unknown(console);
        RETURN_IF_FAILED(unknown.query_to(m_spNameSpace));
        RETURN_IF_FAILED(unknown.query_to(m_spConsole));
        com_ptr<IImageList> images;
        if (SUCCEEDED(m_spConsole->QueryScopeImageList(images.put())) && images) {
            const NodeImageStrips& strips = GetNodeImageStrips();
            images->ImageListSetStrip(reinterpret_cast<LONG_PTR*>(strips.small),
                                      reinterpret_cast<LONG_PTR*>(strips.large), 0, kImageMask);
        }
        return S_OK;
    });
}

HRESULT CFerrodexData::CreateComponent(IComponent** component)
{
    return ComBoundary([&]() -> HRESULT {
        if (component == nullptr) return E_POINTER;
        *component = nullptr;
        com_ptr<IComponent> created = CFerrodexComponent::Create(this);
        *component = created.detach();
        return S_OK;
    });
}

HRESULT CFerrodexData::Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param)
{
    return ComBoundary([&]() -> HRESULT {
        CConsoleNode* node = GetDataClass(data);
        if (node == nullptr) return S_FALSE;
        switch (event) {
        case MMCN_EXPAND:
            return node->OnExpand(m_spNameSpace.get(), m_spConsole.get(), static_cast<HSCOPEITEM>(param));
        case MMCN_RENAME:
            return node->OnRename(reinterpret_cast<LPOLESTR>(param));
        default:
            return S_FALSE;
        }
    });
}

HRESULT CFerrodexData::Destroy()
{
    m_spNameSpace = nullptr;
    m_spConsole = nullptr;
    return S_OK;
}

HRESULT QueryNodeDataObject(CRootNode& root, MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data)
{
    return ComBoundary([&]() -> HRESULT {
        if (data == nullptr) return E_POINTER;
        *data = nullptr;
        CConsoleNode* node = cookie == 0 ? &root : NodeFromCookie(cookie);
        *data = CNodeDataObject::Create(node, type).detach();
        return S_OK;
    });
}

HRESULT CFerrodexData::QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data)
{
    return QueryNodeDataObject(*m_pRoot, cookie, type, data);
}

HRESULT CFerrodexData::GetDisplayInfo(SCOPEDATAITEM* item)
{
    return ComBoundary([&]() -> HRESULT {
        if (item == nullptr) return E_POINTER;
        CConsoleNode* node = NodeFromCookie(item->lParam);
        if (node == nullptr) return S_OK;
        if (item->mask & SDI_STR) {
            item->displayname = CoTaskMemDup(node->GetDisplayText(0));
            if (item->displayname == nullptr) return E_OUTOFMEMORY;
        }
        if (item->mask & SDI_IMAGE) item->nImage = node->GetImageIndex();
        return S_OK;
    });
}

HRESULT CompareNodeObjects(IDataObject* a, IDataObject* b)
{
    CConsoleNode* first = GetDataClass(a);
    CConsoleNode* second = GetDataClass(b);
    if (first == nullptr || second == nullptr) return S_FALSE;
    return first->GetCookie() == second->GetCookie() ? S_OK : S_FALSE;
}

HRESULT CFerrodexData::CompareObjects(IDataObject* a, IDataObject* b) { return CompareNodeObjects(a, b); }

HRESULT CFerrodexData::GetClassID(CLSID* classId)
{
    if (classId == nullptr) return E_POINTER;
    *classId = kRootNodeType;
    return S_OK;
}

HRESULT CFerrodexData::IsDirty() { return g_bDirty ? S_OK : S_FALSE; }

HRESULT CFerrodexData::Load(IStream* stream)
{
    return ComBoundary([&] { return LoadInventory(*m_pRoot, stream); });
}

HRESULT CFerrodexData::Save(IStream* stream, BOOL)
{
    // A host saved for the first time (added, imported, or read from an
    // older file) gets its identity now, and keeps it from here on.
    for (const auto& group : m_pRoot->GetChildren())
        for (const auto& node : group->GetChildren())
            if (auto* host = dynamic_cast<CHostNode*>(node.get()); host != nullptr && host->m_strId.empty())
                host->m_strId = NewRandomId();
    const HRESULT hr = ComBoundary([&] { return SaveInventory(*m_pRoot, stream); });
    if (FAILED(hr)) g_bDirty = true;  // the changes are still unsaved
    return hr;
}

HRESULT CFerrodexData::GetSizeMax(ULARGE_INTEGER*) { return S_OK; }

HRESULT CFerrodexData::AddMenuItems(IDataObject* data, IContextMenuCallback* callback, long* insertionAllowed)
{
    return ComBoundary([&]() -> HRESULT {
        CConsoleNode* node = GetDataClass(data);
        if (node == nullptr || insertionAllowed == nullptr) return S_FALSE;
        return node->AddMenuItems(callback, *insertionAllowed);
    });
}

HRESULT CFerrodexData::Command(long commandId, IDataObject* data)
{
    return ComBoundary([&]() -> HRESULT {
        CConsoleNode* node = GetDataClass(data);
        if (node == nullptr) return S_FALSE;
        return node->Command(m_spConsole.get(), m_spNameSpace.get(), commandId, data);
    });
}
