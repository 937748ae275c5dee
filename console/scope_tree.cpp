#include "console/scope_tree.h"

#include <algorithm>

std::u16string SnapinText(LPCOLESTR text)
{
    if (text == nullptr || text == MMC_CALLBACK) return {};
    std::u16string copy;
    for (std::size_t i = 0; i < kMaxSnapinText && text[i] != 0; ++i) copy.push_back(static_cast<char16_t>(text[i]));
    return copy;
}

HSCOPEITEM CScopeTree::AddStatic(std::size_t instance)
{
    const HSCOPEITEM handle = NewHandle();
    CScopeItem& item = m_items[handle];
    item.handle = handle;
    item.instance = instance;
    item.isStatic = true;
    item.cChildren = 1;
    m_statics.push_back(handle);
    return handle;
}

HRESULT CScopeTree::Insert(SCOPEDATAITEM& data)
{
    HSCOPEITEM parentHandle = 0;
    HSCOPEITEM sibling = 0;
    if (data.mask & (SDI_PREVIOUS | SDI_NEXT)) {
        const CScopeItem* relative = Find(data.relativeID);
        if (relative == nullptr || relative->parent == 0) return E_INVALIDARG;
        parentHandle = relative->parent;
        sibling = data.relativeID;
    } else {
        parentHandle = data.relativeID;
    }
    CScopeItem* parent = Find(parentHandle);
    if (parent == nullptr) return E_INVALIDARG;

    CScopeItem item;
    item.handle = NewHandle();
    item.parent = parentHandle;
    item.instance = parent->instance;
    if (data.mask & SDI_STR) {
        item.textByCallback = data.displayname == MMC_CALLBACK;
        item.text = SnapinText(data.displayname);
    }
    if (data.mask & SDI_IMAGE) item.nImage = data.nImage;
    item.nOpenImage = (data.mask & SDI_OPENIMAGE) ? data.nOpenImage : item.nImage;
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

std::vector<HSCOPEITEM> CScopeTree::Delete(HSCOPEITEM handle, bool itself)
{
    std::vector<HSCOPEITEM> removed;
    CScopeItem* item = Find(handle);
    if (item == nullptr) return removed;
    // Depth first, children before their parent.
    std::vector<HSCOPEITEM> children = std::move(item->children);
    item->children.clear();
    for (HSCOPEITEM child : children) {
        std::vector<HSCOPEITEM> below = Delete(child, true);
        removed.insert(removed.end(), below.begin(), below.end());
    }
    if (itself) {
        if (CScopeItem* parent = Find(item->parent)) std::erase(parent->children, handle);
        std::erase(m_statics, handle);
        m_items.erase(handle);
        removed.push_back(handle);
    }
    return removed;
}

HRESULT CScopeTree::SetItem(const SCOPEDATAITEM& data)
{
    CScopeItem* item = Find(data.ID);
    if (item == nullptr) return E_INVALIDARG;
    if (data.mask & SDI_STR) {
        item->textByCallback = data.displayname == MMC_CALLBACK;
        item->text = SnapinText(data.displayname);
    }
    if (data.mask & SDI_IMAGE) item->nImage = data.nImage;
    if (data.mask & SDI_OPENIMAGE) item->nOpenImage = data.nOpenImage;
    if (data.mask & SDI_CHILDREN) item->cChildren = data.cChildren;
    if (data.mask & SDI_PARAM) item->lParam = data.lParam;
    return S_OK;
}

HRESULT CScopeTree::GetItem(SCOPEDATAITEM& data) const
{
    const CScopeItem* item = Find(data.ID);
    if (item == nullptr) return E_INVALIDARG;
    // Text is the snap-in's to give; only the callback marker is reported.
    if (data.mask & SDI_STR) data.displayname = MMC_CALLBACK;
    if (data.mask & SDI_IMAGE) data.nImage = item->nImage;
    if (data.mask & SDI_OPENIMAGE) data.nOpenImage = item->nOpenImage;
    if (data.mask & SDI_CHILDREN) data.cChildren = item->cChildren;
    if (data.mask & SDI_PARAM) data.lParam = item->lParam;
    if (data.mask & SDI_STATE) data.nState = item->expanded ? 1u : 0u;
    data.relativeID = item->parent;
    return S_OK;
}

CScopeItem* CScopeTree::Find(HSCOPEITEM handle)
{
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : &it->second;
}

const CScopeItem* CScopeTree::Find(HSCOPEITEM handle) const
{
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : &it->second;
}

HSCOPEITEM CScopeTree::NextSibling(HSCOPEITEM handle) const
{
    const CScopeItem* item = Find(handle);
    if (item == nullptr) return 0;
    const std::vector<HSCOPEITEM>& siblings = item->parent != 0 ? Find(item->parent)->children : m_statics;
    const auto at = std::find(siblings.begin(), siblings.end(), handle);
    return at == siblings.end() || at + 1 == siblings.end() ? 0 : *(at + 1);
}
