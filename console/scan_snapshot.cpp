#include "console/scan_snapshot.h"

#include "console/host_core.h"
#include "console/inventory_image.h"
#include "console/script_ui.h"
#include "platform/snapin_contract.h"
#include "platform/text.h"

namespace {

// Deeper trees are not built by the snap-in either.
constexpr int kMaxDepth = 70;

// Installs a user interface for the duration of one walk, and puts the
// previous one back.
class CInterfaceSwap {
public:
    explicit CInterfaceSwap(IUserInterface* ui) : m_previous(SetUserInterface(ui)) {}
    ~CInterfaceSwap() { SetUserInterface(m_previous); }
    CInterfaceSwap(const CInterfaceSwap&) = delete;
    CInterfaceSwap& operator=(const CInterfaceSwap&) = delete;

private:
    IUserInterface* m_previous;
};

void ExpandOnce(CConsoleHost& host, HSCOPEITEM item)
{
    if (!host.WasExpanded(item) && host.Item(item).expandable) host.Expand(item);
}

std::vector<std::pair<std::string, std::string>> RowsOf(CConsoleHost& host, HSCOPEITEM item)
{
    std::vector<std::pair<std::string, std::string>> rows;
    host.Select(item);
    const ResultView& view = host.Result();
    if (view.kind != ResultKind::List) return rows;
    for (const ResultRowView& row : view.rows)
        rows.emplace_back(row.cells.empty() ? std::string() : WideToAnsi(row.cells[0]),
                          row.cells.size() > 1 ? WideToAnsi(row.cells[1]) : std::string());
    return rows;
}

SnapshotNode Walk(CConsoleHost& host, HSCOPEITEM item, int depth)
{
    SnapshotNode node;
    node.id = WideToAnsi(host.DisplayName(item));
    if (depth > kMaxDepth) return node;
    ExpandOnce(host, item);
    const std::vector<HSCOPEITEM> children = host.Children(item);
    if (children.empty()) node.rows = RowsOf(host, item);
    for (HSCOPEITEM child : children) {
        if (host.NodeType(child) == kGeneralNodeType)
            node.rows = RowsOf(host, child);
        else
            node.children.push_back(Walk(host, child, depth + 1));
    }
    return node;
}

HSCOPEITEM OnlyChild(CConsoleHost& host, HSCOPEITEM item)
{
    ExpandOnce(host, item);
    const std::vector<HSCOPEITEM> children = host.Children(item);
    return children.size() == 1 ? children[0] : 0;
}

}  // namespace

bool SnapshotOfXml(std::u16string_view xml, std::vector<SnapshotNode>& nodes, std::string& error)
{
    nodes.clear();
    ScriptAnswers answers;
    // The host holds its XML: its login question is answered with any
    // login, and no connection is made.
    answers.login = u"root";
    CScriptUserInterface ui(std::move(answers));
    CInterfaceSwap swap(&ui);
    CConsoleHost host;
    std::vector<std::uint8_t> image;
    HostStatus status = BuildInventoryImage({{u"history", u"scan", std::u16string(xml)}}, image);
    if (status) status = host.OpenImage(image);
    if (!status) {
        error = status.message;
        return false;
    }
    const HSCOPEITEM group = OnlyChild(host, host.RootItem());
    const HSCOPEITEM scanned = group != 0 ? OnlyChild(host, group) : 0;
    if (scanned == 0) {
        error = "the scan could not be opened";
        return false;
    }
    ExpandOnce(host, scanned);
    for (HSCOPEITEM child : host.Children(scanned)) {
        if (host.NodeType(child) == kGeneralNodeType) {
            // The machine's own rows, shown under the host as "general".
            SnapshotNode general;
            general.id = WideToAnsi(host.DisplayName(child));
            general.rows = RowsOf(host, child);
            nodes.push_back(std::move(general));
        } else {
            nodes.push_back(Walk(host, child, 1));
        }
    }
    if (nodes.empty()) {
        error = "the scan holds no lshw hardware tree";
        return false;
    }
    return true;
}
