#include "hardware/property_item.h"

#include <algorithm>

#include "inventory/node_types.h"

namespace {

std::unique_ptr<char16_t[]> CopyText(std::u16string_view text)
{
    auto copy = std::make_unique<char16_t[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), copy.get());
    copy[text.size()] = u'\0';
    return copy;
}

std::u16string_view View(const std::unique_ptr<char16_t[]>& text)
{
    return text ? std::u16string_view(text.get()) : std::u16string_view();
}

}  // namespace

CPropertyItem::CPropertyItem(std::u16string_view name, std::u16string_view value, CConsoleNode* parent)
    : m_pszName(CopyText(name)), m_pszValue(CopyText(value)), m_pParent(parent)
{
}

CPropertyItem::~CPropertyItem() = default;

std::u16string CPropertyItem::GetDisplayText(int column)
{
    switch (column) {
    case 0: return std::u16string(GetName());
    case 1: return std::u16string(GetValue());
    default: return std::u16string();
    }
}

const GUID& CPropertyItem::GetNodeType() { return kPropertyItemType; }

int CPropertyItem::GetImageIndex() { return kImageListLine; }

std::u16string_view CPropertyItem::GetName() const { return View(m_pszName); }

std::u16string_view CPropertyItem::GetValue() const { return View(m_pszValue); }
