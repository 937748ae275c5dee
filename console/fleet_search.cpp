#include "console/fleet_search.h"

#include "console/export_summary.h"
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
    CFleetSearch(const std::vector<FleetHost>& fleet, const std::vector<QueryTerm>& terms,
                 std::vector<std::string>* notes)
        : m_fleet(fleet), m_terms(terms), m_notes(notes)
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
                subject = &node.hwClass;
            } else if (term.key == "id") {
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
                if (!EqualFolded(row->first, term.key)) continue;
                const std::string value = WideToAnsi(row->second);
                if (TermMatches(term, value)) {
                    met = true;
                    shown.push_back(*row);
                    break;
                }
                NoteUnitless(term, value);
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

    // A plain number ordered against values that carry a unit never holds:
    // said once a term, so that `size<16` is not silently empty.
    void NoteUnitless(const QueryTerm& term, std::string_view value)
    {
        if (m_notes == nullptr || !term.quantity || term.quantity->kind != EQuantityKind::Number ||
            term.op == EQueryOp::Equal || term.op == EQueryOp::NotEqual || term.op == EQueryOp::Contains)
            return;
        const std::optional<Quantity> found = ParseQuantity(value);
        if (!found || found->kind == EQuantityKind::Number) return;
        std::string note = "\"" + term.key + "\" is measured with a unit (as in \"" + std::string(value) +
                           "\"), so \"" + term.value + "\" without one matches nothing: write the unit, as in \"" +
                           term.value + UnitExample(found->kind) + "\"";
        for (const std::string& known : *m_notes)
            if (known == note) return;
        m_notes->push_back(std::move(note));
    }

    static const char* UnitExample(EQuantityKind kind)
    {
        switch (kind) {
        case EQuantityKind::Bytes: return "GiB";
        case EQuantityKind::Hertz: return "GHz";
        case EQuantityKind::BitsPerSecond: return "Gbit/s";
        case EQuantityKind::WattHours: return "Wh";
        case EQuantityKind::Volts: return "V";
        case EQuantityKind::Number: break;
        }
        return "";
    }

    const std::vector<FleetHost>& m_fleet;
    const std::vector<QueryTerm>& m_terms;
    std::vector<std::string>* m_notes;
    std::size_t m_host = 0;
    std::vector<FleetMatch> m_matches;
};

}  // namespace

std::vector<FleetMatch> SearchFleet(const std::vector<FleetHost>& fleet, const std::vector<QueryTerm>& terms,
                                    std::vector<std::string>* notes)
{
    return CFleetSearch(fleet, terms, notes).Run();
}

std::string FleetMatchesText(const std::vector<FleetHost>& fleet, const std::vector<FleetMatch>& matches)
{
    std::string out;
    for (const FleetMatch& match : matches) {
        out += TerminalText(FleetHostPath(fleet[match.host])) + "  " + TerminalText(match.path);
        for (std::size_t i = 0; i < match.rows.size(); ++i) {
            out += i == 0 ? "  " : "; ";
            // Sizes as people read them, the view's exact form beside them.
            const std::string readable = ReadableSize(match.rows[i].first, match.rows[i].second);
            out += TerminalText(match.rows[i].first) + ": " +
                   (readable.empty() ? TerminalText(match.rows[i].second)
                                     : readable + " (" + TerminalText(match.rows[i].second) + ")");
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
