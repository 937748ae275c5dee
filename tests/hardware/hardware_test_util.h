// Helpers of the hardware tests: hosts built from XML text or files, and
// the rows and ids of their nodes in a form that compares well.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hardware/hardware_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "inventory/host_node.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"

namespace hwtest {

using Row = std::pair<std::u16string, std::u16string>;
using Rows = std::vector<Row>;

inline std::unique_ptr<CHostNode> HostWithXml(std::u16string xmlText)
{
    auto host = std::make_unique<CHostNode>(nullptr);
    host->SetName(u"server");
    host->m_picture.SetText(std::move(xmlText));
    return host;
}

inline std::u16string LshwFile(const std::string& name)
{
    return AnsiToWide(ReadWholeFile(SourceDir() + "/tests/data/lshw/" + name));
}

inline Rows Zip(const RowList& names, const RowList& values)
{
    Rows rows;
    for (std::size_t i = 0; i < names.size(); ++i) rows.emplace_back(names[i], i < values.size() ? values[i] : u"<missing>");
    return rows;
}

inline Rows GeneralRows(const CHostNode& host) { return Zip(host.m_generalNames, host.m_generalValues); }
inline Rows NodeRows(const CHardwareNode& node) { return Zip(node.Names(), node.Values()); }

inline CHardwareNode& AsHardware(const std::unique_ptr<CConsoleNode>& node)
{
    return dynamic_cast<CHardwareNode&>(*node);
}

inline std::vector<std::u16string> ChildIds(const CConsoleNode& node)
{
    std::vector<std::u16string> ids;
    for (const auto& child : node.GetChildren()) ids.emplace_back(child->Name());
    return ids;
}

// The node reached by following ids from `node`; null when there is none.
inline CHardwareNode* Find(const CConsoleNode& node, std::initializer_list<std::u16string_view> path)
{
    const CConsoleNode* current = &node;
    for (std::u16string_view id : path) {
        const CConsoleNode* next = nullptr;
        for (const auto& child : current->GetChildren())
            if (child->Name() == id) next = child.get();
        if (next == nullptr) return nullptr;
        current = next;
    }
    return const_cast<CHardwareNode*>(dynamic_cast<const CHardwareNode*>(current));
}

// The value of the first row called `name`, or "<none>".
inline std::u16string Value(const CHardwareNode& node, std::u16string_view name)
{
    for (std::size_t i = 0; i < node.Names().size(); ++i)
        if (node.Names()[i] == name) return node.Values()[i];
    return u"<none>";
}

}  // namespace hwtest
