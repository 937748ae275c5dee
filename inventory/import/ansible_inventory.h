// The part both Ansible inventory forms (INI and YAML) share: groups with
// their hosts, variables and child groups, and how they become host
// records. A group becomes a group named by its path from the top
// ("parent/child", the first parent that names it); a host becomes one
// record in every group that lists it, with the variables of "all", of the
// group's ancestors from the top down, of the group, then its own.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/import/host_record.h"

namespace hostimport {

using VariableMap = std::map<std::string, std::string>;

// Reads the variable files of a group or host beside the inventory
// ("group_vars" or "host_vars", and the name): the file of that name (bare,
// .yml, .yaml or .json) and the files of the folder of that name, in name
// order. None is no error; false (with a reason) when one cannot be read.
using VarsFileLoader = std::function<bool(const std::string& folder, const std::string& name,
                                          std::vector<SIncludedFile>& files, std::string& error)>;

struct SYamlNode;
// The scalar variables of a YAML mapping into vars. A connection variable
// that holds a list or mapping is named in the notes; a "!vault" value is
// skipped with a note (it is never opened).
void ReadYamlVariables(const SYamlNode& node, const std::string& file, VariableMap& vars, SImportResult& result);

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
// file and the line of the host or group they concern. A host's variables
// are merged as Ansible merges them: the inventory's variables of every
// group it is in (with their ancestors and "all"; by depth, then name),
// then those groups' group_vars files in the same order, then the host's
// own inventory variables, then its host_vars files.
void ResolveInventory(const CInventory& inventory, const std::string& file, SImportResult& result,
                      const VarsFileLoader& loadVars = {});

// Expands the ranges of a host pattern: "web[01:20].example.com" (numbers
// keep the start's width), "db-[a:c]", "[1:9:2]" with a step; several
// ranges multiply. False, with the reason, on a malformed range or when the
// pattern makes more than kMaxRangeHosts names.
bool ExpandHostRange(std::string_view pattern, std::vector<std::string>& names, std::string& error);

// An Ansible truth value ("yes", "True", "1", "on" ...); false when the
// text is none.
bool ParseTruth(std::string_view text, bool& value);

}  // namespace hostimport
