#include "hardware/hardware_node.h"

#include "hardware/format_quantity.h"
#include "hardware/hardware_tree.h"
#include "inventory/node_types.h"

CHardwareNode::CHardwareNode(com_ptr<IXMLDOMNode> element, CConsoleNode* parent, int depth)
    : m_spElement(std::move(element)), m_pParent(parent)
{
    try {
        m_spXmlCursor = xml::FirstChild(m_spElement);
        SetName(xml::Attribute(m_spElement, u"id"));
        ReadChildren(depth);
    } catch (const ComError&) {
        // Keeps the rows and children read so far.
    } catch (const std::bad_alloc&) {
    }
    m_spXmlCursor = nullptr;
}

CHardwareNode::~CHardwareNode() = default;

void CHardwareNode::AddRow(std::u16string name, std::u16string value)
{
    AppendRow(m_names, m_values, std::move(name), std::move(value));
}

void CHardwareNode::ReadChildren(int depth)
{
    for (; m_spXmlCursor; m_spXmlCursor = xml::NextSibling(m_spXmlCursor)) {
        std::u16string name = xml::NodeName(m_spXmlCursor);
        if (name == u"node") {
            if (depth < kMaxDepth) AppendChild(std::make_unique<CHardwareNode>(m_spXmlCursor, this, depth + 1));
        } else if (name == u"capabilities") {
            ReadCapabilities(m_spXmlCursor);
        } else if (name == u"configuration") {
            ReadPairs(m_spXmlCursor, u"id");
        } else if (name == u"resources") {
            ReadPairs(m_spXmlCursor, u"type");
        } else if (name == u"clock") {
            AddRow(std::move(name), FormatQuantity(xml::Text(m_spXmlCursor), true));
        } else if (name == u"size" || name == u"capacity") {
            AddRow(std::move(name),
                   FormatMeasure(xml::Text(m_spXmlCursor), AttributeOrEmpty(m_spXmlCursor, u"units")));
        } else {
            AddRow(std::move(name), xml::Text(m_spXmlCursor));
        }
    }
}

// Described capabilities one row each (text / id), then the undescribed
// ones joined into one "capabilities" row.
void CHardwareNode::ReadCapabilities(const com_ptr<IXMLDOMNode>& container)
{
    std::u16string identifiers;
    for (auto capability = xml::FirstChild(container); capability; capability = xml::NextSibling(capability)) {
        std::u16string text = xml::Text(capability);
        if (!text.empty()) {
            AddRow(std::move(text), AttributeOrEmpty(capability, u"id"));
        } else if (std::u16string id = AttributeOrEmpty(capability, u"id"); !id.empty()) {
            if (!identifiers.empty()) identifiers += u", ";
            identifiers += id;
        }
    }
    if (!identifiers.empty()) AddRow(u"capabilities", std::move(identifiers));
}

// One row per setting (id / value) or resource (type / value).
void CHardwareNode::ReadPairs(const com_ptr<IXMLDOMNode>& container, std::u16string_view nameAttribute)
{
    for (auto entry = xml::FirstChild(container); entry; entry = xml::NextSibling(entry))
        AddRow(xml::Attribute(entry, nameAttribute), AttributeOrEmpty(entry, u"value"));
}

std::u16string CHardwareNode::GetDisplayText(int) { return m_szName; }

const GUID& CHardwareNode::GetNodeType() { return kHardwareNodeType; }

int CHardwareNode::GetImageIndex() { return kImageHardware; }

HRESULT CHardwareNode::OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item)
{
    CConsoleNode::OnExpand(nameSpace, console, item);
    if (m_children.empty()) return S_FALSE;
    if (m_pGeneral) return S_OK;  // expanded before: its items are in the tree
    return ComBoundary([&] {
        m_pGeneral = std::make_unique<CGeneralNode>(m_names, m_values, this);
        return SUCCEEDED(InsertHardwareItems(nameSpace, *this, *m_pGeneral)) ? S_OK : S_FALSE;
    });
}

HRESULT CHardwareNode::OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM)
{
    if (viewFlag || show == FALSE || m_pGeneral) return S_FALSE;
    return ComBoundary([&] { return ShowRowList(console, *this, m_names, m_values, m_items); });
}
