#include "inventory/import/ansible_inventory.h"

#include <algorithm>
#include <set>

#include "inventory/import/text_lines.h"
#include "inventory/import/yaml_reader.h"

namespace hostimport {

namespace {

constexpr int kMaxGroupDepth = 32;

bool IsTopName(const std::string& name) { return name == "all" || name == "ungrouped"; }

const std::string* Variable(const VariableMap& vars, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const auto found = vars.find(name);
        if (found != vars.end()) return &found->second;
    }
    return nullptr;
}

// One bracketed range's values.
bool RangeValues(std::string_view range, std::vector<std::string>& values, std::string& error)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = range.find(':', start);
        parts.push_back(range.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3) {
        error = "a range is written [start:end] or [start:end:step]";
        return false;
    }
    long step = 1;
    if (parts.size() == 3) {
        int parsed = 0;
        if (!ParsePort(parts[2], parsed)) {
            error = "the step of a range is a number from 1";
            return false;
        }
        step = parsed;
    }
    auto allDigits = [](std::string_view text) {
        if (text.empty() || text.size() > 9) return false;
        for (char c : text)
            if (c < '0' || c > '9') return false;
        return true;
    };
    auto letter = [](std::string_view text) {
        return text.size() == 1 && ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
    };
    values.clear();
    if (allDigits(parts[0]) && allDigits(parts[1])) {
        const long first = std::stol(std::string(parts[0]));
        const long last = std::stol(std::string(parts[1]));
        if (last < first) {
            error = "a range ends before it starts";
            return false;
        }
        if ((last - first) / step + 1 > static_cast<long>(kMaxRangeHosts)) {
            error = "a range makes more than " + std::to_string(kMaxRangeHosts) + " names";
            return false;
        }
        const std::size_t width = parts[0].size() > 1 && parts[0][0] == '0' ? parts[0].size() : 0;
        for (long n = first; n <= last; n += step) {
            std::string text = std::to_string(n);
            if (text.size() < width) text.insert(0, width - text.size(), '0');
            values.push_back(std::move(text));
        }
        return true;
    }
    if (letter(parts[0]) && letter(parts[1])) {
        if (parts[1][0] < parts[0][0]) {
            error = "a range ends before it starts";
            return false;
        }
        for (long c = parts[0][0]; c <= parts[1][0]; c += step) values.push_back(std::string(1, static_cast<char>(c)));
        return true;
    }
    error = "a range runs from a number to a number or from a letter to a letter";
    return false;
}

// The variables a host's connection is read from.
bool IsConnectionVariable(const std::string& name)
{
    static const char* const names[] = {"ansible_host", "ansible_ssh_host", "ansible_port", "ansible_ssh_port",
                                        "ansible_user", "ansible_ssh_user", "ansible_ssh_private_key_file",
                                        "ansible_private_key_file", "ansible_become", "ansible_ssh_common_args",
                                        "ansible_ssh_extra_args"};
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// A name that may name a variable file: no path, no pattern.
bool FileName(const std::string& name)
{
    return !name.empty() && name.front() != '.' && name.find_first_of("/\\*?[") == std::string::npos;
}

// The variables of one variable file.
void ReadVarsFile(const SIncludedFile& file, VariableMap& vars, SImportResult& result)
{
    if (file.text.rfind("$ANSIBLE_VAULT;", 0) == 0) {
        result.Refuse(file.path, 1, "the file is vault-encrypted; its variables are skipped (it is never opened)");
        return;
    }
    SYamlNode document;
    int line = 0;
    std::string error;
    if (!ParseYaml(file.text, document, line, error)) {
        result.Refuse(file.path, line, error + "; the file's variables are skipped");
        return;
    }
    if (document.kind == SYamlNode::EKind::Null) return;
    ReadYamlVariables(document, file.path, vars, result);
}

// A jump route in ssh's own arguments: "-J route", "-o ProxyJump=route",
// "-o ProxyCommand=ssh -W %h:%p hop". Other options are named as not kept.
void ReadSshArguments(const std::string& name, const std::string& text, std::string& jump, std::vector<std::string>& dropped)
{
    std::vector<std::string> words;
    if (!SplitWords(text, words)) {
        dropped.push_back(name + " has a quote that is not closed");
        return;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        std::string option;
        if (word == "-J" && i + 1 < words.size()) {
            jump = words[++i];
            continue;
        }
        if (word.rfind("-J", 0) == 0 && word.size() > 2) {
            jump = word.substr(2);
            continue;
        }
        if (word == "-o" && i + 1 < words.size())
            option = words[++i];
        else if (word.rfind("-o", 0) == 0 && word.size() > 2)
            option = word.substr(2);
        else {
            dropped.push_back(name + ": " + Excerpt(word) + " is not kept");
            continue;
        }
        std::size_t split = option.find_first_of("= ");
        const std::string key = LowerAscii(option.substr(0, split));
        std::string value = split == std::string::npos ? std::string() : std::string(Trim(option.substr(split + 1)));
        if (!value.empty() && value.front() == '=') value = std::string(Trim(value.substr(1)));
        if (key == "proxyjump" && !value.empty()) {
            if (!SameWord(value, "none")) jump = value;
            continue;
        }
        if (key == "proxycommand") {
            std::vector<std::string> command;
            SplitWords(value, command);
            // "ssh -W %h:%p [-q] HOP" only; anything else is never run.
            std::string hop;
            bool forward = false;
            bool plain = !command.empty() && command[0] == "ssh";
            for (std::size_t c = 1; plain && c < command.size(); ++c) {
                if (command[c] == "-W" && c + 1 < command.size() && (command[c + 1] == "%h:%p" || command[c + 1] == "[%h]:%p")) {
                    forward = true;
                    ++c;
                } else if (command[c] == "-q") {
                    continue;
                } else if (command[c].front() != '-' && hop.empty()) {
                    hop = command[c];
                } else {
                    plain = false;
                }
            }
            if (plain && forward && !hop.empty()) {
                jump = hop;
                continue;
            }
            dropped.push_back(name + ": ProxyCommand " + Excerpt(value) + " is never run");
            continue;
        }
        dropped.push_back(name + ": -o " + Excerpt(option) + " is not kept");
    }
}

}  // namespace

void ReadYamlVariables(const SYamlNode& node, const std::string& file, VariableMap& vars, SImportResult& result)
{
    if (node.kind != SYamlNode::EKind::Map) {
        result.Refuse(file, node.line, "variables are a mapping of names to values");
        return;
    }
    for (const SYamlEntry& entry : node.entries) {
        if (entry.value.vault) {
            result.Refuse(file, entry.line, "the vault-encrypted value of " + Excerpt(entry.key) +
                                                " is skipped (it is never opened or asked for)");
            continue;
        }
        if (entry.value.kind == SYamlNode::EKind::Map || entry.value.kind == SYamlNode::EKind::List) {
            if (IsConnectionVariable(entry.key))
                result.Refuse(file, entry.line, "the value of " + entry.key + " is not a single value; it is not read");
            continue;
        }
        vars[entry.key] = entry.value.scalar;
    }
}

SInventoryGroup& CInventory::Group(const std::string& name, int line)
{
    auto [it, added] = m_groups.try_emplace(name);
    if (added) {
        it->second.line = line;
        m_order.push_back(name);
    }
    return it->second;
}

bool ParseTruth(std::string_view text, bool& value)
{
    const std::string lower = LowerAscii(text);
    if (lower == "yes" || lower == "true" || lower == "1" || lower == "on" || lower == "y") {
        value = true;
        return true;
    }
    if (lower == "no" || lower == "false" || lower == "0" || lower == "off" || lower == "n") {
        value = false;
        return true;
    }
    return false;
}

bool ExpandHostRange(std::string_view pattern, std::vector<std::string>& names, std::string& error)
{
    names.assign(1, std::string());
    std::size_t i = 0;
    while (i < pattern.size()) {
        const std::size_t open = pattern.find('[', i);
        const std::string_view literal = pattern.substr(i, open == std::string_view::npos ? std::string_view::npos : open - i);
        if (literal.find(']') != std::string_view::npos) {
            error = "a \"]\" without its \"[\"";
            return false;
        }
        for (std::string& name : names) name += literal;
        if (open == std::string_view::npos) break;
        const std::size_t close = pattern.find(']', open);
        if (close == std::string_view::npos) {
            error = "a \"[\" without its \"]\"";
            return false;
        }
        std::vector<std::string> values;
        if (!RangeValues(pattern.substr(open + 1, close - open - 1), values, error)) return false;
        if (names.size() * values.size() > kMaxRangeHosts) {
            error = "the ranges make more than " + std::to_string(kMaxRangeHosts) + " names";
            return false;
        }
        std::vector<std::string> product;
        product.reserve(names.size() * values.size());
        for (const std::string& name : names)
            for (const std::string& value : values) product.push_back(name + value);
        names = std::move(product);
        i = close + 1;
    }
    return true;
}

void ResolveInventory(const CInventory& inventory, const std::string& file, SImportResult& result,
                      const VarsFileLoader& loadVars)
{
    const auto& groups = inventory.Groups();
    // Each group's parent: the first group that names it as a child.
    std::map<std::string, std::string> parent;
    // Every group that names it as a child, for the variables.
    std::map<std::string, std::set<std::string>> parents;
    for (const std::string& name : inventory.Order()) {
        for (const std::string& child : groups.at(name).children) {
            if (IsTopName(child) || child == name) continue;
            if (!IsTopName(name)) {
                parent.try_emplace(child, name);
                parents[child].insert(name);
            }
        }
    }
    // A group's path and the chain of groups whose variables it gets.
    auto chain = [&](const std::string& name, std::vector<std::string>& path) {
        path.clear();
        std::string current = name;
        std::set<std::string> visited;
        while (!IsTopName(current)) {
            if (!visited.insert(current).second || static_cast<int>(path.size()) >= kMaxGroupDepth) return false;
            path.insert(path.begin(), current);
            const auto found = parent.find(current);
            if (found == parent.end()) break;
            current = found->second;
        }
        return true;
    };
    // Depth as Ansible counts it: "all" 0, a group one more than its deepest parent.
    std::map<std::string, int> depth;
    std::function<int(const std::string&, int)> depthOf = [&](const std::string& name, int guard) -> int {
        if (name == "all") return 0;
        if (const auto known = depth.find(name); known != depth.end()) return known->second;
        int deepest = 0;
        if (guard < kMaxGroupDepth)
            if (const auto found = parents.find(name); found != parents.end())
                for (const std::string& above : found->second) deepest = std::max(deepest, depthOf(above, guard + 1));
        return depth[name] = deepest + 1;
    };
    // Hosts listed in a group of their own are not imported again from
    // "ungrouped" or "all".
    std::set<std::string> grouped;
    for (const std::string& name : inventory.Order())
        if (!IsTopName(name))
            for (const SInventoryHost& host : groups.at(name).hosts) grouped.insert(host.name);
    // A host's own variables, from every place that lists it (later wins),
    // and the groups it is in with their ancestors.
    std::map<std::string, VariableMap> hostVars;
    std::map<std::string, std::set<std::string>> hostGroups;
    for (const std::string& name : inventory.Order())
        for (const SInventoryHost& host : groups.at(name).hosts) {
            for (const auto& [key, value] : host.vars) hostVars[host.name][key] = value;
            std::vector<std::string> pending{name};
            std::set<std::string>& into = hostGroups[host.name];
            while (!pending.empty() && into.size() < 4 * static_cast<std::size_t>(kMaxGroupDepth) * 8) {
                const std::string group = pending.back();
                pending.pop_back();
                if (!into.insert(group).second) continue;
                if (const auto found = parents.find(group); found != parents.end())
                    pending.insert(pending.end(), found->second.begin(), found->second.end());
            }
            into.insert("all");
        }
    // The variable files beside the inventory, read once each.
    std::map<std::string, VariableMap> groupFiles;
    std::map<std::string, VariableMap> hostFiles;
    auto readFiles = [&](const char* folder, const std::string& name, VariableMap& vars) {
        if (!loadVars || !FileName(name)) return;
        std::vector<SIncludedFile> files;
        std::string error;
        if (!loadVars(folder, name, files, error)) {
            result.Refuse(file, 0, std::string(folder) + "/" + name + ": " + error);
            return;
        }
        for (const SIncludedFile& one : files) ReadVarsFile(one, vars, result);
    };
    if (loadVars) {
        std::set<std::string> names{"all", "ungrouped"};
        for (const std::string& name : inventory.Order()) names.insert(name);
        for (const std::string& name : names) readFiles("group_vars", name, groupFiles[name]);
        for (const auto& [name, unused] : hostGroups) readFiles("host_vars", name, hostFiles[name]);
    }
    auto mergedVars = [&](const std::string& host) {
        std::vector<std::string> order(hostGroups[host].begin(), hostGroups[host].end());
        std::stable_sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
            const int da = depthOf(a, 0), db = depthOf(b, 0);
            return da != db ? da < db : a < b;
        });
        VariableMap vars;
        for (const std::string& group : order)
            if (const auto found = groups.find(group); found != groups.end())
                for (const auto& [key, value] : found->second.vars) vars[key] = value;
        for (const std::string& group : order)
            for (const auto& [key, value] : groupFiles[group]) vars[key] = value;
        for (const auto& [key, value] : hostVars[host]) vars[key] = value;
        for (const auto& [key, value] : hostFiles[host]) vars[key] = value;
        return vars;
    };
    std::set<std::string> argumentsNoted;

    for (const std::string& name : inventory.Order()) {
        const SInventoryGroup& group = groups.at(name);
        std::vector<std::string> path;
        if (!chain(name, path)) {
            result.Refuse(file, group.line, "group " + name + " is its own ancestor, or nested too deep");
            continue;
        }
        std::string groupPath;
        for (const std::string& part : path) groupPath += (groupPath.empty() ? "" : "/") + part;
        for (const SInventoryHost& listed : group.hosts) {
            if (IsTopName(name) && grouped.count(listed.name) != 0) continue;
            const VariableMap merged = mergedVars(listed.name);
            SImportedHost host;
            host.group = groupPath;
            host.name = listed.name;
            host.address = listed.name;
            host.sourceFile = file;
            host.line = listed.line;
            auto refuse = [&](const std::string& why) { result.Refuse(file, listed.line, "host " + listed.name + ": " + why); };
            if (const std::string* address = Variable(merged, {"ansible_host", "ansible_ssh_host"})) host.address = *address;
            if (!PlainValue(host.name) || !PlainValue(host.address)) {
                refuse("the name or address holds a blank, a quote or a control character");
                continue;
            }
            if (const std::string* port = Variable(merged, {"ansible_port", "ansible_ssh_port"});
                port != nullptr && !ParsePort(*port, host.port)) {
                refuse("\"" + *port + "\" is no port from 1 to 65535");
                continue;
            }
            if (const std::string* login = Variable(merged, {"ansible_user", "ansible_ssh_user"})) {
                if (!PlainValue(*login)) {
                    refuse("the login holds a blank, a quote or a control character");
                    continue;
                }
                host.login = *login;
            }
            if (const std::string* key = Variable(merged, {"ansible_ssh_private_key_file", "ansible_private_key_file"}))
                host.identityFile = *key;
            if (const std::string* become = Variable(merged, {"ansible_become"})) {
                bool on = false;
                if (!ParseTruth(*become, on)) {
                    refuse("ansible_become is \"" + *become + "\", neither true nor false");
                    continue;
                }
                host.sudo = on;
            }
            // ssh's own arguments: a jump route is kept, the rest named once
            // per host.
            std::vector<std::string> dropped;
            for (const char* arguments : {"ansible_ssh_common_args", "ansible_ssh_extra_args"})
                if (const std::string* text = Variable(merged, {arguments})) ReadSshArguments(arguments, *text, host.jump, dropped);
            if (argumentsNoted.insert(listed.name).second)
                for (const std::string& what : dropped) refuse(what);
            if (!result.Add(std::move(host))) {
                refuse("more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
        }
    }
}

}  // namespace hostimport
