#include "hardware/general_node.h"

#include "inventory/node_types.h"

CGeneralNode::CGeneralNode(const RowList& names, const RowList& values, CConsoleNode* parent)
    : m_pParent(parent), m_names(names), m_values(values)
{
    SetName(u"general");
    // Rows always come in pairs.
    m_values.resize(m_names.size());
}

CGeneralNode::~CGeneralNode() = default;

std::u16string CGeneralNode::GetDisplayText(int) { return m_szName; }

const GUID& CGeneralNode::GetNodeType() { return kGeneralNodeType; }

int CGeneralNode::GetImageIndex() { return kImageHardware; }

HRESULT CGeneralNode::OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM)
{
    if (viewFlag || show == FALSE) return S_OK;
    return ComBoundary([&] { return ShowRowList(console, *this, m_names, m_values, m_children); });
}
