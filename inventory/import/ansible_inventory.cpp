#include "inventory/import/ansible_inventory.h"

#include <set>

#include "inventory/import/text_lines.h"

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

}  // namespace

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

void ResolveInventory(const CInventory& inventory, const std::string& file, SImportResult& result)
{
    const auto& groups = inventory.Groups();
    // Each group's parent: the first group that names it as a child.
    std::map<std::string, std::string> parent;
    for (const std::string& name : inventory.Order()) {
        for (const std::string& child : groups.at(name).children) {
            if (IsTopName(child) || child == name) continue;
            if (!IsTopName(name)) parent.try_emplace(child, name);
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
    // Hosts listed in a group of their own are not imported again from
    // "ungrouped" or "all".
    std::set<std::string> grouped;
    for (const std::string& name : inventory.Order())
        if (!IsTopName(name))
            for (const SInventoryHost& host : groups.at(name).hosts) grouped.insert(host.name);
    // A host's own variables, from every place that lists it (later wins).
    std::map<std::string, VariableMap> hostVars;
    for (const std::string& name : inventory.Order())
        for (const SInventoryHost& host : groups.at(name).hosts)
            for (const auto& [key, value] : host.vars) hostVars[host.name][key] = value;

    const auto all = groups.find("all");
    for (const std::string& name : inventory.Order()) {
        const SInventoryGroup& group = groups.at(name);
        std::vector<std::string> path;
        if (!chain(name, path)) {
            result.Refuse(file, group.line, "group " + name + " is its own ancestor, or nested too deep");
            continue;
        }
        std::string groupPath;
        for (const std::string& part : path) groupPath += (groupPath.empty() ? "" : "/") + part;
        VariableMap vars;
        if (all != groups.end()) vars = all->second.vars;
        for (const std::string& part : path)
            for (const auto& [key, value] : groups.at(part).vars) vars[key] = value;
        for (const SInventoryHost& listed : group.hosts) {
            if (IsTopName(name) && grouped.count(listed.name) != 0) continue;
            VariableMap merged = vars;
            for (const auto& [key, value] : hostVars[listed.name]) merged[key] = value;
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
            if (!result.Add(std::move(host))) {
                refuse("more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
        }
    }
}

}  // namespace hostimport
