// One `node` element of a host's lshw XML, with its rows and, nested as the
// elements are, the hardware nodes of its child `node` elements.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hardware/general_node.h"
#include "hardware/row_list.h"
#include "inventory/console_node.h"
#include "platform/snapin_contract.h"
#include "platform/xml.h"

class CHardwareNode : public CConsoleNode {
public:
    // Deepest nesting of `node` elements that is built; deeper ones are
    // left out so that no input can exhaust the stack.
    static constexpr int kMaxDepth = 64;

    // Builds the node and its whole subtree from `element`. Never fails as
    // a whole: an error inside leaves the node with what was read so far.
    CHardwareNode(com_ptr<IXMLDOMNode> element, CConsoleNode* parent, int depth = 1);
    ~CHardwareNode() override;

    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;
    // Inserts "general" and the hardware children under the node, once.
    HRESULT OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item) override;
    // Shows the node's rows unless it was expanded into "general" and its
    // children.
    HRESULT OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM item) override;

    // The node's Name/Value rows, read from its element the first time
    // they are asked for (the document stays with the node): building a
    // tree makes only the nodes. An error inside the element ends the rows
    // where it stands, as it ended the children while building.
    const RowList& Names() const;
    // lshw's class of the element (disk, processor ...); empty when it has none.
    std::u16string Class() const;
    const RowList& Values() const;

    com_ptr<IXMLDOMNode> m_spElement;
    CConsoleNode* m_pParent;  // not owned
    std::unique_ptr<CGeneralNode> m_pGeneral;
    // The CPropertyItems of the last show, kept apart from the hardware
    // children in m_children.
    Children m_items;

private:
    void ReadChildren(int depth);
    void ReadRows() const;
    void AddRow(std::u16string name, std::u16string value) const;
    void ReadCapabilities(xml::CNodeView container) const;
    void ReadPairs(xml::CNodeView container, std::string_view nameAttribute) const;

    bool m_bNamed = false;  // the element had its id: rows may be read
    mutable bool m_bRowsRead = false;
    mutable RowList m_values;
    mutable RowList m_names;
};
