#include "console/fleet_collect.h"

#include "console/history_recorder.h"

#include "console/node_path.h"
#include "platform/text.h"

namespace {

// The row the host's general node adds after a scan in this session.
constexpr char16_t kLastScanRow[] = u"last scan";
constexpr char16_t kGeneralNode[] = u"general";

std::u16string Lower(std::u16string_view text)
{
    std::u16string lower(text);
    for (char16_t& unit : lower)
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    return lower;
}

class CFleetReader {
public:
    CFleetReader(CConsoleHost& console, HSCOPEITEM root) : m_console(console), m_root(root) {}

    bool Select(const std::vector<std::string>& paths, std::string& error)
    {
        if (paths.empty()) {
            for (HSCOPEITEM group : m_console.Children(m_root)) AddGroup(group);
            return true;
        }
        for (const std::string& path : paths) {
            const std::vector<std::u16string> names = ParseNodePath(AnsiToWide(path));
            if (names.empty() || names.size() > 2) {
                error = "\"" + path + "\" names no group or host: write GROUP or GROUP/HOST";
                return false;
            }
            const HSCOPEITEM group = Child(m_root, names[0]);
            if (group == 0) {
                error = "there is no group \"" + WideToAnsi(names[0]) + "\"";
                return false;
            }
            if (names.size() == 1) {
                AddGroup(group);
                continue;
            }
            Expand(group);
            const HSCOPEITEM host = Child(group, names[1]);
            if (host == 0) {
                error = "\"" + WideToAnsi(names[0]) + "\" has no host \"" + WideToAnsi(names[1]) + "\"";
                return false;
            }
            AddHost(host);
        }
        return true;
    }

    void Read(const FleetVisit& visit, const FleetProgress& progress)
    {
        for (std::size_t i = 0; i < m_selected.size(); ++i) {
            const HSCOPEITEM item = m_selected[i];
            FleetHost host;
            host.group = m_console.DisplayName(m_console.Parent(item));
            host.name = m_console.DisplayName(item);
            host.historyKey = HistoryKeyOf(m_console, item, WideToAnsi(FleetHostPath(host)));
            if (progress) progress(i, m_selected.size(), FleetHostPath(host));
            m_console.HostAddress(item, host.address, host.port);
            host.loginMethod = m_console.HostLoginMethod(item);
            // The whole view in one read: no scope item is inserted, and a
            // host that was not expanded keeps only its packed picture.
            if (m_console.HostHoldsPicture(item) && m_console.HostTree(item, host.nodes)) {
                host.scanned = !host.nodes.empty();
                host.scanTime = ScanTime(host.nodes);
            }
            if (const std::optional<HostResult> result = m_console.HostLastResult(item)) {
                if (host.scanned && !host.scanTime && result->lastScan)
                    host.scanTime = AnsiToWide(IsoUtcTime(*result->lastScan));
                if (result->failedAt) {
                    host.lastErrorTime = AnsiToWide(IsoUtcTime(*result->failedAt));
                    host.lastError = result->failure;
                }
            }
            visit(std::move(host));
        }
    }

private:
    HSCOPEITEM Child(HSCOPEITEM parent, const std::u16string& name) const
    {
        for (HSCOPEITEM child : m_console.Children(parent))
            if (m_console.DisplayName(child) == name) return child;
        return 0;
    }

    void Expand(HSCOPEITEM item)
    {
        if (!m_console.WasExpanded(item) && m_console.Item(item).expandable) m_console.Expand(item);
    }

    void AddGroup(HSCOPEITEM group)
    {
        Expand(group);
        for (HSCOPEITEM host : m_console.Children(group)) AddHost(host);
    }

    void AddHost(HSCOPEITEM host)
    {
        for (HSCOPEITEM known : m_selected)
            if (known == host) return;
        m_selected.push_back(host);
    }

    static std::optional<std::u16string> ScanTime(const std::vector<FleetNode>& nodes)
    {
        for (const FleetNode& node : nodes) {
            if (node.name != kGeneralNode) continue;
            for (const auto& [name, value] : node.rows)
                if (Lower(name) == kLastScanRow && !value.empty()) return value;
        }
        return std::nullopt;
    }

    CConsoleHost& m_console;
    HSCOPEITEM m_root;
    std::vector<HSCOPEITEM> m_selected;
};

}  // namespace

bool CollectFleet(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths,
                  std::vector<FleetHost>& hosts, std::string& error, const FleetProgress& progress)
{
    hosts.clear();
    return VisitFleet(
        console, root, paths, [&](FleetHost&& host) { hosts.push_back(std::move(host)); }, error, progress);
}

bool VisitFleet(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths,
                const FleetVisit& visit, std::string& error, const FleetProgress& progress)
{
    CFleetReader reader(console, root);
    if (!reader.Select(paths, error)) return false;
    reader.Read(visit, progress);
    return true;
}
