#include "inventory/import/ansible_ini_import.h"

#include <algorithm>

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/text_lines.h"

namespace hostimport {

namespace {

enum class ESection { Hosts, Vars, Children };

bool ValidGroupName(std::string_view name)
{
    if (name.empty() || name.size() > 255) return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// "key=value" into vars; false when the word is no assignment.
bool TakeAssignment(const std::string& word, VariableMap& vars)
{
    const std::size_t equals = word.find('=');
    if (equals == 0 || equals == std::string::npos) return false;
    vars[word.substr(0, equals)] = word.substr(equals + 1);
    return true;
}

// "name:port" when the part after the last colon is a port and the name is
// no IPv6 address.
void SplitHostPort(std::string& name, VariableMap& vars)
{
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos || name.find(':') != colon) return;
    int port = 0;
    if (!ParsePort(std::string_view(name).substr(colon + 1), port)) return;
    // A port given as a variable on the same line wins over this one.
    vars.emplace("ansible_port", std::to_string(port));
    name.resize(colon);
}

}  // namespace

void ReadAnsibleIni(std::string_view text, const std::string& file, SImportResult& result, const VarsFileLoader& loadVars)
{
    CInventory inventory;
    std::string group = "ungrouped";
    ESection section = ESection::Hosts;
    std::size_t hostCount = 0;
    for (const STextLine& line : SplitLines(text)) {
        if (line.tooLong) {
            result.Refuse(file, line.number, "the line is too long or holds a NUL byte");
            continue;
        }
        const std::string_view content = Trim(line.text);
        if (content.empty() || content.front() == '#' || content.front() == ';') continue;
        if (content.front() == '[') {
            if (content.back() != ']') {
                result.Refuse(file, line.number, "a section header ends with \"]\"");
                group.clear();
                continue;
            }
            std::string name(Trim(content.substr(1, content.size() - 2)));
            section = ESection::Hosts;
            if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
                const std::string kind = name.substr(colon + 1);
                name.resize(colon);
                if (kind == "vars")
                    section = ESection::Vars;
                else if (kind == "children")
                    section = ESection::Children;
                else
                    name.clear();
            }
            if (!ValidGroupName(name)) {
                result.Refuse(file, line.number, "\"" + Excerpt(content) + "\" is no group section; its lines are skipped");
                group.clear();
                continue;
            }
            group = name;
            inventory.Group(group, line.number);
            continue;
        }
        if (group.empty()) continue;  // the lines of a refused section
        std::vector<std::string> words;
        if (!SplitWords(content, words)) {
            result.Refuse(file, line.number, "a quote is not closed");
            continue;
        }
        // A comment may follow the values.
        const auto comment = std::find_if(words.begin(), words.end(), [](const std::string& w) { return w.front() == '#'; });
        words.erase(comment, words.end());
        if (words.empty()) continue;
        switch (section) {
        case ESection::Vars: {
            // "key=value" or "key = value".
            const std::size_t equals = content.find('=');
            if (equals == std::string_view::npos || equals == 0) {
                result.Refuse(file, line.number, "a variable line is written key=value");
                break;
            }
            std::vector<std::string> value;
            if (!SplitWords(content.substr(equals + 1), value)) {
                result.Refuse(file, line.number, "a quote is not closed");
                break;
            }
            std::string joined;
            for (const std::string& part : value) joined += (joined.empty() ? "" : " ") + part;
            inventory.Group(group, line.number).vars[std::string(Trim(content.substr(0, equals)))] = joined;
            break;
        }
        case ESection::Children:
            if (words.size() != 1 || !ValidGroupName(words[0])) {
                result.Refuse(file, line.number, "a children line names one group");
                break;
            }
            inventory.Group(words[0], line.number);
            inventory.Group(group, line.number).children.push_back(words[0]);
            break;
        case ESection::Hosts: {
            VariableMap vars;
            bool assignments = true;
            for (std::size_t i = 1; i < words.size(); ++i) assignments = assignments && TakeAssignment(words[i], vars);
            if (!assignments) {
                result.Refuse(file, line.number, "what follows a host name is written key=value");
                break;
            }
            std::vector<std::string> names;
            std::string error;
            if (!ExpandHostRange(words[0], names, error)) {
                result.Refuse(file, line.number, error);
                break;
            }
            hostCount += names.size();
            if (hostCount > kMaxHosts) {
                result.Refuse(file, line.number, "more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
            SInventoryGroup& members = inventory.Group(group, line.number);
            for (std::string& name : names) {
                VariableMap own = vars;
                SplitHostPort(name, own);
                members.hosts.push_back({std::move(name), std::move(own), line.number});
            }
            break;
        }
        }
    }
    ResolveInventory(inventory, file, result, loadVars);
}

}  // namespace hostimport
