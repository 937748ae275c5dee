#include "scope_items.h"

#include <algorithm>

HSCOPEITEM ScopeItems::AddStatic()
{
    const HSCOPEITEM handle = m_next++;
    ScopeItem& item = m_items[handle];
    item.handle = handle;
    item.cChildren = 1;
    m_root = handle;
    return handle;
}

HRESULT ScopeItems::Insert(SCOPEDATAITEM& data)
{
    HSCOPEITEM parentHandle = data.relativeID;
    HSCOPEITEM sibling = 0;
    if (data.mask & (SDI_PREVIOUS | SDI_NEXT)) {
        const ScopeItem* relative = Find(data.relativeID);
        if (relative == nullptr || relative->parent == 0) return E_INVALIDARG;
        parentHandle = relative->parent;
        sibling = data.relativeID;
    }
    ScopeItem* parent = Find(parentHandle);
    if (parent == nullptr) return E_INVALIDARG;

    ScopeItem item;
    item.handle = m_next++;
    item.parent = parentHandle;
    if (data.mask & SDI_STR) {
        item.textByCallback = data.displayname == kTextCallback;
        if (!item.textByCallback && data.displayname != nullptr) item.text = data.displayname;
    }
    if (data.mask & SDI_IMAGE) item.image = data.nImage;
    item.openImage = (data.mask & SDI_OPENIMAGE) ? data.nOpenImage : item.image;
    if (data.mask & SDI_CHILDREN) item.cChildren = data.cChildren;
    if (data.mask & SDI_PARAM) item.lParam = data.lParam;

    auto& siblings = parent->children;
    auto at = siblings.end();
    if (data.mask & SDI_FIRST) {
        at = siblings.begin();
    } else if (sibling != 0) {
        at = std::find(siblings.begin(), siblings.end(), sibling);
        if (at != siblings.end() && (data.mask & SDI_PREVIOUS)) ++at;
    }
    siblings.insert(at, item.handle);
    data.ID = item.handle;
    m_items.emplace(item.handle, std::move(item));
    return S_OK;
}

HRESULT ScopeItems::Delete(HSCOPEITEM handle, bool itself)
{
    ScopeItem* item = Find(handle);
    if (item == nullptr) return E_INVALIDARG;
    const std::vector<HSCOPEITEM> children = std::move(item->children);
    item->children.clear();
    for (HSCOPEITEM child : children) Delete(child, true);
    if (itself) {
        if (ScopeItem* parent = Find(item->parent)) std::erase(parent->children, handle);
        if (handle == m_root) m_root = 0;
        m_items.erase(handle);
    }
    return S_OK;
}

HRESULT ScopeItems::Set(const SCOPEDATAITEM& data)
{
    ScopeItem* item = Find(data.ID);
    if (item == nullptr) return E_INVALIDARG;
    if (data.mask & SDI_STR) {
        item->textByCallback = data.displayname == kTextCallback;
        item->text = !item->textByCallback && data.displayname != nullptr ? data.displayname : L"";
    }
    if (data.mask & SDI_IMAGE) item->image = data.nImage;
    if (data.mask & SDI_OPENIMAGE) item->openImage = data.nOpenImage;
    if (data.mask & SDI_CHILDREN) item->cChildren = data.cChildren;
    if (data.mask & SDI_PARAM) item->lParam = data.lParam;
    return S_OK;
}

HRESULT ScopeItems::Get(SCOPEDATAITEM& data) const
{
    const ScopeItem* item = Find(data.ID);
    if (item == nullptr) return E_INVALIDARG;
    if (data.mask & SDI_STR) data.displayname = kTextCallback;
    if (data.mask & SDI_IMAGE) data.nImage = item->image;
    if (data.mask & SDI_OPENIMAGE) data.nOpenImage = item->openImage;
    if (data.mask & SDI_CHILDREN) data.cChildren = item->cChildren;
    if (data.mask & SDI_PARAM) data.lParam = item->lParam;
    if (data.mask & SDI_STATE) data.nState = item->expanded ? 1u : 0u;
    data.relativeID = item->parent;
    return S_OK;
}

ScopeItem* ScopeItems::Find(HSCOPEITEM handle)
{
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : &it->second;
}

const ScopeItem* ScopeItems::Find(HSCOPEITEM handle) const
{
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : &it->second;
}

HSCOPEITEM ScopeItems::NextSibling(HSCOPEITEM handle) const
{
    const ScopeItem* item = Find(handle);
    const ScopeItem* parent = item != nullptr ? Find(item->parent) : nullptr;
    if (parent == nullptr) return 0;
    const auto at = std::find(parent->children.begin(), parent->children.end(), handle);
    return at == parent->children.end() || at + 1 == parent->children.end() ? 0 : *(at + 1);
}

void ScopeItems::Clear()
{
    m_items.clear();
    m_root = 0;
}

ResultItem* ResultList::Find(HRESULTITEM id)
{
    for (ResultItem& item : items)
        if (item.id == id) return &item;
    return nullptr;
}
