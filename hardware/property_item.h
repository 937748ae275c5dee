// One line of a hardware node's Name/Value list in the result pane.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "inventory/console_node.h"
#include "platform/snapin_contract.h"

class CPropertyItem : public CConsoleNode {
public:
    CPropertyItem(std::u16string_view name, std::u16string_view value, CConsoleNode* parent);
    ~CPropertyItem() override;

    // Column 0 the name, column 1 the value, any other column empty.
    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;

    std::u16string_view GetName() const;
    std::u16string_view GetValue() const;
    CConsoleNode* GetParent() const { return m_pParent; }

private:
    std::unique_ptr<char16_t[]> m_pszName;   // zero-terminated copy
    std::unique_ptr<char16_t[]> m_pszValue;  // zero-terminated copy
    CConsoleNode* m_pParent;                 // the node whose list holds it
};
