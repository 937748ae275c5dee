#include "console/fleet_model.h"

#include "console/node_path.h"

namespace {
constexpr char16_t kGeneralNode[] = u"general";
}

std::u16string FleetHostPath(const FleetHost& host) { return FormatNodePath({host.group, host.name}); }

std::u16string FleetNodeClass(const std::u16string& name)
{
    const std::size_t colon = name.rfind(u':');
    if (colon == std::u16string::npos || colon == 0 || colon + 1 == name.size()) return name;
    for (std::size_t i = colon + 1; i < name.size(); ++i)
        if (name[i] < u'0' || name[i] > u'9') return name;
    return name.substr(0, colon);
}

bool IsFleetGeneralNode(const FleetNode& node) { return node.name == kGeneralNode; }

std::vector<const FleetRow*> FleetNodeRows(const FleetNode& node)
{
    std::vector<const FleetRow*> rows;
    for (const FleetRow& row : node.rows) rows.push_back(&row);
    for (const FleetNode& child : node.children)
        if (IsFleetGeneralNode(child))
            for (const FleetRow& row : child.rows) rows.push_back(&row);
    return rows;
}

std::u16string FleetRowValue(const std::vector<const FleetRow*>& rows, std::u16string_view name)
{
    for (const FleetRow* row : rows)
        if (row->first == name) return row->second;
    return {};
}
