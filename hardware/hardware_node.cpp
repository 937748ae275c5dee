#include "hardware/hardware_node.h"

#include "hardware/format_quantity.h"
#include "hardware/hardware_tree.h"
#include "inventory/node_types.h"

namespace {

// Every entry of a pair list has its name (a setting its id, a resource
// its type); an entry without it is an error in the rows.
bool PairsAreWhole(xml::CNodeView container, std::string_view nameAttribute)
{
    std::u16string ignored;
    for (auto entry = container.FirstChild(); entry; entry = entry.NextSibling())
        if (!entry.Attribute(nameAttribute, ignored)) return false;
    return true;
}

std::u16string AttributeOrEmpty(xml::CNodeView node, std::string_view name)
{
    std::u16string value;
    node.Attribute(name, value);
    return value;
}

}  // namespace

CHardwareNode::CHardwareNode(com_ptr<IXMLDOMNode> element, CConsoleNode* parent, int depth)
    : m_spElement(std::move(element)), m_pParent(parent)
{
    try {
        SetName(xml::Attribute(m_spElement, u"id"));
        m_bNamed = true;
        ReadChildren(depth);
    } catch (const ComError&) {
        // Keeps the children read so far.
    } catch (const std::bad_alloc&) {
    }
}

CHardwareNode::~CHardwareNode() = default;

// The child `node` elements, in order, up to the first pair entry without
// its name (where reading the rows stops too).
void CHardwareNode::ReadChildren(int depth)
{
    for (auto child = xml::View(m_spElement).FirstChild(); child; child = child.NextSibling()) {
        const std::string_view name = child.ElementName();
        if (name == "node") {
            if (depth < kMaxDepth)
                AppendChild(std::make_unique<CHardwareNode>(xml::Hand(m_spElement, child), this, depth + 1));
        } else if (name == "configuration") {
            if (!PairsAreWhole(child, "id")) return;
        } else if (name == "resources") {
            if (!PairsAreWhole(child, "type")) return;
        }
    }
}

const RowList& CHardwareNode::Names() const
{
    ReadRows();
    return m_names;
}

std::u16string CHardwareNode::Class() const
{
    try {
        return AttributeOrEmpty(xml::View(m_spElement), "class");
    } catch (const ComError&) {
        return {};
    }
}

const RowList& CHardwareNode::Values() const
{
    ReadRows();
    return m_values;
}

void CHardwareNode::AddRow(std::u16string name, std::u16string value) const
{
    AppendRow(m_names, m_values, std::move(name), std::move(value));
}

void CHardwareNode::ReadRows() const
{
    if (m_bRowsRead) return;
    m_bRowsRead = true;
    if (!m_bNamed) return;
    try {
        for (auto child = xml::View(m_spElement).FirstChild(); child; child = child.NextSibling()) {
            const std::string_view name = child.ElementName();
            if (name == "node") {
                continue;
            } else if (name == "capabilities") {
                ReadCapabilities(child);
            } else if (name == "configuration") {
                ReadPairs(child, "id");
            } else if (name == "resources") {
                ReadPairs(child, "type");
            } else if (name == "clock") {
                AddRow(u"clock", FormatQuantity(child.Text(), true));
            } else if (name == "size" || name == "capacity") {
                AddRow(child.Name(), FormatMeasure(child.Text(), AttributeOrEmpty(child, "units")));
            } else {
                AddRow(child.Name(), child.Text());
            }
        }
    } catch (const ComError&) {
        // Keeps the rows read so far.
    } catch (const std::bad_alloc&) {
    }
}

// Described capabilities one row each (text / id), then the undescribed
// ones joined into one "capabilities" row.
void CHardwareNode::ReadCapabilities(xml::CNodeView container) const
{
    std::u16string identifiers;
    for (auto capability = container.FirstChild(); capability; capability = capability.NextSibling()) {
        std::u16string text = capability.Text();
        if (!text.empty()) {
            AddRow(std::move(text), AttributeOrEmpty(capability, "id"));
        } else if (std::u16string id = AttributeOrEmpty(capability, "id"); !id.empty()) {
            if (!identifiers.empty()) identifiers += u", ";
            identifiers += id;
        }
    }
    if (!identifiers.empty()) AddRow(u"capabilities", std::move(identifiers));
}

// One row per setting (id / value) or resource (type / value); an entry
// without its name ends the rows.
void CHardwareNode::ReadPairs(xml::CNodeView container, std::string_view nameAttribute) const
{
    for (auto entry = container.FirstChild(); entry; entry = entry.NextSibling()) {
        std::u16string name;
        if (!entry.Attribute(nameAttribute, name)) throw ComError(E_POINTER);
        AddRow(std::move(name), AttributeOrEmpty(entry, "value"));
    }
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
        m_pGeneral = std::make_unique<CGeneralNode>(Names(), Values(), this);
        return SUCCEEDED(InsertHardwareItems(nameSpace, *this, *m_pGeneral)) ? S_OK : S_FALSE;
    });
}

HRESULT CHardwareNode::OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM)
{
    if (viewFlag || show == FALSE || m_pGeneral) return S_FALSE;
    return ComBoundary([&] { return ShowRowList(console, *this, Names(), Values(), m_items); });
}
