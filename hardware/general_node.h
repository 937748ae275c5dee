// The "general" node: the first child of a host or hardware node that has
// hardware children, showing that node's own rows.
#pragma once

#include <string>
#include <vector>

#include "hardware/row_list.h"
#include "inventory/console_node.h"
#include "platform/snapin_contract.h"

class CGeneralNode : public CConsoleNode {
public:
    // Copies the rows of `parent` (a host's top-element rows or a hardware
    // node's rows).
    CGeneralNode(const RowList& names, const RowList& values, CConsoleNode* parent);
    ~CGeneralNode() override;

    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;
    // Rebuilds the Name/Value list at every selection; its CPropertyItems
    // are its m_children.
    HRESULT OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM item) override;

    CConsoleNode* m_pParent;  // not owned
    RowList m_names;
    RowList m_values;
};
