#include "snapin/host_tree.h"

#include <cstdint>

#include "hardware/hardware_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "inventory/host_node.h"

namespace {

constexpr char16_t kGeneralName[] = u"general";

class CTreeWriter {
public:
    explicit CTreeWriter(std::string& bytes) : m_bytes(bytes) {}

    void Number(std::size_t value)
    {
        const auto word = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<char>(word >> (8 * i)));
    }

    void Text(std::u16string_view text)
    {
        Number(text.size());
        for (char16_t unit : text) {
            m_bytes.push_back(static_cast<char>(unit & 0xFF));
            m_bytes.push_back(static_cast<char>(unit >> 8));
        }
    }

    void Rows(const RowList& names, const RowList& values)
    {
        Number(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            Text(names[i]);
            Text(i < values.size() ? values[i] : std::u16string());
        }
    }

    // A node lists its rows, and one with children lists them again in its
    // "general" child, where its expansion moves them.
    void Hardware(CHardwareNode& node)
    {
        Text(node.GetDisplayText(0));
        Text(node.Class());
        Rows(node.Names(), node.Values());
        const auto& children = node.GetChildren();
        if (children.empty()) {
            Number(0);
            return;
        }
        Number(children.size() + 1);
        General(node.Names(), node.Values());
        for (const auto& child : children) Child(*child);
    }

    void General(const RowList& names, const RowList& values)
    {
        Text(kGeneralName);
        Text({});
        Rows(names, values);
        Number(0);
    }

    void Child(CConsoleNode& child)
    {
        if (auto* hardware = dynamic_cast<CHardwareNode*>(&child)) {
            Hardware(*hardware);
        } else {
            // Only hardware nodes are built below a host.
            Text(child.GetDisplayText(0));
            Text({});
            Number(0);
            Number(0);
        }
    }

private:
    std::string& m_bytes;
};

}  // namespace

bool WriteHostTree(CHostNode& host, std::string& bytes)
{
    bytes.clear();
    if (host.m_picture.Empty() && host.GetChildren().empty()) return false;
    const bool built = host.GetChildren().empty();
    if (built && BuildHardwareTree(host) != 0) {
        host.ClearHardware();
        host.m_spXmlDoc = nullptr;
        return false;
    }
    CTreeWriter writer(bytes);
    const auto& children = host.GetChildren();
    if (!children.empty()) {
        RowList names;
        RowList values;
        host.StatusRows(names, values);
        writer.Number(children.size() + 1);
        writer.General(names, values);
        for (const auto& child : children) writer.Child(*child);
    } else {
        writer.Number(0);
    }
    if (built) {
        host.ClearHardware();
        host.m_spXmlDoc = nullptr;
    }
    return true;
}
