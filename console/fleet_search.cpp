#include "console/fleet_search.h"

#include "console/json_writer.h"
#include "console/node_path.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

bool EqualFolded(std::u16string_view a, std::string_view b)
{
    const std::string narrow = WideToAnsi(a);
    if (narrow.size() != b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(narrow[i]) != fold(b[i])) return false;
    }
    return true;
}

class CFleetSearch {
public:
    CFleetSearch(const std::vector<FleetHost>& fleet, const std::vector<QueryTerm>& terms)
        : m_fleet(fleet), m_terms(terms)
    {
    }

    std::vector<FleetMatch> Run()
    {
        for (m_host = 0; m_host < m_fleet.size(); ++m_host) {
            for (const FleetNode& node : m_fleet[m_host].nodes) {
                std::vector<std::u16string> path;
                Walk(node, path);
            }
        }
        return std::move(m_matches);
    }

private:
    void Walk(const FleetNode& node, std::vector<std::u16string>& path)
    {
        path.push_back(node.name);
        Try(node, FleetNodeRows(node), path);
        for (const FleetNode& child : node.children)
            if (!IsFleetGeneralNode(child)) Walk(child, path);
        path.pop_back();
    }

    void Try(const FleetNode& node, const std::vector<const FleetRow*>& rows, const std::vector<std::u16string>& path)
    {
        const FleetHost& host = m_fleet[m_host];
        std::vector<FleetRow> shown;
        for (const QueryTerm& term : m_terms) {
            const std::u16string* subject = nullptr;
            std::u16string nodeClass;
            if (term.key == "class") {
                nodeClass = FleetNodeClass(node.name);
                subject = &nodeClass;
            } else if (term.key == "node") {
                subject = &node.name;
            } else if (term.key == "host") {
                subject = &host.name;
            } else if (term.key == "group") {
                subject = &host.group;
            }
            if (subject != nullptr) {
                if (!TermMatches(term, WideToAnsi(*subject))) return;
                continue;
            }
            bool met = false;
            for (const FleetRow* row : rows) {
                if (EqualFolded(row->first, term.key) && TermMatches(term, WideToAnsi(row->second))) {
                    met = true;
                    shown.push_back(*row);
                    break;
                }
            }
            if (!met) return;
        }
        if (shown.empty())
            for (const FleetRow* row : rows)
                if (row->first == u"description") {
                    shown.push_back(*row);
                    break;
                }
        m_matches.push_back(FleetMatch{m_host, FormatNodePath(path), std::move(shown)});
    }

    const std::vector<FleetHost>& m_fleet;
    const std::vector<QueryTerm>& m_terms;
    std::size_t m_host = 0;
    std::vector<FleetMatch> m_matches;
};

}  // namespace

std::vector<FleetMatch> SearchFleet(const std::vector<FleetHost>& fleet, const std::vector<QueryTerm>& terms)
{
    return CFleetSearch(fleet, terms).Run();
}

std::string FleetMatchesText(const std::vector<FleetHost>& fleet, const std::vector<FleetMatch>& matches)
{
    std::string out;
    for (const FleetMatch& match : matches) {
        out += TerminalText(FleetHostPath(fleet[match.host])) + "  " + TerminalText(match.path);
        for (std::size_t i = 0; i < match.rows.size(); ++i) {
            out += i == 0 ? "  " : "; ";
            out += TerminalText(match.rows[i].first) + ": " + TerminalText(match.rows[i].second);
        }
        out += '\n';
    }
    return out;
}

std::string FleetMatchesJson(const std::vector<FleetHost>& fleet, const std::vector<FleetMatch>& matches)
{
    CJsonWriter json;
    json.BeginArray();
    for (const FleetMatch& match : matches) {
        const FleetHost& host = fleet[match.host];
        json.BeginObject();
        json.Key("host");
        json.String(FleetHostPath(host));
        json.Key("group");
        json.String(host.group);
        json.Key("name");
        json.String(host.name);
        json.Key("path");
        json.String(match.path);
        json.Key("rows");
        json.BeginArray();
        for (const auto& [name, value] : match.rows) {
            json.BeginArray();
            json.String(name);
            json.String(value);
            json.EndArray();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    return json.Text() + "\n";
}
