#include "inventory/import/ansible_yaml_import.h"

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/text_lines.h"
#include "inventory/import/yaml_reader.h"

namespace hostimport {

namespace {

constexpr int kMaxGroupNesting = 32;

class CYamlInventory {
public:
    CYamlInventory(const std::string& file, SImportResult& result) : m_file(file), m_result(result) {}

    void Group(const std::string& name, const SYamlNode& node, int line, int depth)
    {
        m_inventory.Group(name, line);
        if (node.kind == SYamlNode::EKind::Null) return;
        if (node.kind != SYamlNode::EKind::Map || depth > kMaxGroupNesting) {
            m_result.Refuse(m_file, line, "group " + name + " is no mapping of hosts, vars and children");
            return;
        }
        for (const SYamlEntry& entry : node.entries) {
            if (entry.key == "hosts") {
                Hosts(name, entry.value, entry.line);
            } else if (entry.key == "vars") {
                Variables(entry.value, entry.line, m_inventory.Group(name, line).vars);
            } else if (entry.key == "children") {
                if (entry.value.kind == SYamlNode::EKind::Null) continue;
                if (entry.value.kind != SYamlNode::EKind::Map) {
                    m_result.Refuse(m_file, entry.line, "children of " + name + " are a mapping of groups");
                    continue;
                }
                for (const SYamlEntry& child : entry.value.entries) {
                    m_inventory.Group(name, line).children.push_back(child.key);
                    Group(child.key, child.value, child.line, depth + 1);
                }
            } else {
                m_result.Warn(m_file, entry.line, "\"" + Excerpt(entry.key) + "\" in group " + name + " is not read");
            }
        }
    }

    CInventory& Inventory() { return m_inventory; }

private:
    void Hosts(const std::string& group, const SYamlNode& node, int line)
    {
        if (node.kind == SYamlNode::EKind::Null) return;
        if (node.kind != SYamlNode::EKind::Map) {
            m_result.Refuse(m_file, line, "hosts of " + group + " are a mapping of host names");
            return;
        }
        for (const SYamlEntry& entry : node.entries) {
            VariableMap vars;
            if (entry.value.kind != SYamlNode::EKind::Null && !Variables(entry.value, entry.line, vars)) continue;
            std::vector<std::string> names;
            std::string error;
            if (!ExpandHostRange(entry.key, names, error)) {
                m_result.Refuse(m_file, entry.line, error);
                continue;
            }
            m_nHosts += names.size();
            if (m_nHosts > kMaxHosts) {
                m_result.Refuse(m_file, entry.line, "more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
            SInventoryGroup& members = m_inventory.Group(group, line);
            for (std::string& name : names) members.hosts.push_back({std::move(name), vars, entry.line});
        }
    }

    bool Variables(const SYamlNode& node, int line, VariableMap& vars)
    {
        if (node.kind != SYamlNode::EKind::Map) {
            m_result.Refuse(m_file, line, "variables are a mapping of names to values");
            return false;
        }
        ReadYamlVariables(node, m_file, vars, m_result);
        return true;
    }

    const std::string& m_file;
    SImportResult& m_result;
    CInventory m_inventory;
    std::size_t m_nHosts = 0;
};

}  // namespace

void ReadAnsibleYaml(std::string_view text, const std::string& file, SImportResult& result, const VarsFileLoader& loadVars)
{
    SYamlNode document;
    int errorLine = 0;
    std::string error;
    if (!ParseYaml(text, document, errorLine, error)) {
        result.error = file + ":" + std::to_string(errorLine) + ": " + error;
        return;
    }
    if (document.kind == SYamlNode::EKind::Null) return;
    if (document.kind != SYamlNode::EKind::Map) {
        result.error = file + ": the inventory is no mapping of groups";
        return;
    }
    CYamlInventory reader(file, result);
    for (const SYamlEntry& entry : document.entries) reader.Group(entry.key, entry.value, entry.line, 0);
    ResolveInventory(reader.Inventory(), file, result, loadVars);
}

}  // namespace hostimport
