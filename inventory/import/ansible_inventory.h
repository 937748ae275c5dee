// The part both Ansible inventory forms (INI and YAML) share: groups with
// their hosts, variables and child groups, and how they become host
// records. A group becomes a group named by its path from the top
// ("parent/child", the first parent that names it); a host becomes one
// record in every group that lists it, with the variables of "all", of the
// group's ancestors from the top down, of the group, then its own.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/import/host_record.h"

namespace hostimport {

using VariableMap = std::map<std::string, std::string>;

struct SInventoryHost {
    std::string name;
    VariableMap vars;
    int line = 0;
};

struct SInventoryGroup {
    std::vector<SInventoryHost> hosts;
    VariableMap vars;
    std::vector<std::string> children;
    int line = 0;
};

class CInventory {
public:
    // The group of that name, made empty at its first mention.
    SInventoryGroup& Group(const std::string& name, int line);
    const std::map<std::string, SInventoryGroup>& Groups() const { return m_groups; }
    const std::vector<std::string>& Order() const { return m_order; }

private:
    std::map<std::string, SInventoryGroup> m_groups;
    std::vector<std::string> m_order;  // first mention first
};

// Turns the inventory into records; problems go to result's notes with the
// file and the line of the host or group they concern.
void ResolveInventory(const CInventory& inventory, const std::string& file, SImportResult& result);

// Expands the ranges of a host pattern: "web[01:20].example.com" (numbers
// keep the start's width), "db-[a:c]", "[1:9:2]" with a step; several
// ranges multiply. False, with the reason, on a malformed range or when the
// pattern makes more than kMaxRangeHosts names.
bool ExpandHostRange(std::string_view pattern, std::vector<std::string>& names, std::string& error);

// An Ansible truth value ("yes", "True", "1", "on" ...); false when the
// text is none.
bool ParseTruth(std::string_view text, bool& value);

}  // namespace hostimport
