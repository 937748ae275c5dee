#include "console/export_changes.h"
#include "console/fleet_model.h"
#include "console/history_recorder.h"
#include "console/scan_merge.h"
#include "console/host_diff.h"
#include "console/node_path.h"
#include "console/tui/tui_app.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>

#include "console/tui/tui_curses.h"
#include "console/tui/tui_list.h"
#include "console/tui/tui_text.h"
#include "console/tui/tui_tree.h"
#include "console/tui/tui_ui.h"
#include "console/file_guard.h"
#include "console/recovery_file.h"
#include "console/snapin_nodes.h"
#include "platform/paths.h"
#include "platform/screen_guard.h"
#include "platform/terminal_text.h"
#include "platform/stop_request.h"
#include "platform/text.h"

namespace fdx::tui {

namespace {

constexpr int kRenameLimit = 256;
constexpr int kRenameControl = 1;
constexpr int kSideStep = 8;
// How long a save waits for another ferrodex that holds the file's lock (a
// command runs for a moment; the user is told while the face waits).
constexpr int kSaveLockWaitMs = 5000;
// The console's own menu command on a host, apart from the snap-in's ids
// (which are never negative).
constexpr long kChangesCommand = -400;

enum class Pane { Tree, Result };

enum class ESaveOutcome {
    Saved,
    NotSaved,  // failed or cancelled; the changes stay unsaved
    Reload,    // the user gave up this console's changes for the file as saved
};

// Lets go of the guard's lock when the scope ends.
class CLockScope {
public:
    explicit CLockScope(CConsoleFileGuard& guard) : m_guard(guard) {}
    ~CLockScope() { m_guard.Release(); }
    CLockScope(const CLockScope&) = delete;
    CLockScope& operator=(const CLockScope&) = delete;

private:
    CConsoleFileGuard& m_guard;
};

// The host core as a tree source.
class CHostTreeSource : public ITreeSource {
public:
    explicit CHostTreeSource(const CConsoleHost& host) : m_host(host) {}
    std::vector<HSCOPEITEM> TopItems() const override { return m_host.StaticItems(); }
    std::vector<HSCOPEITEM> ChildItems(HSCOPEITEM item) const override { return m_host.Children(item); }
    ScopeItemView ItemView(HSCOPEITEM item) const override { return m_host.Item(item); }

private:
    const CConsoleHost& m_host;
};

// Installs the terminal's user interface for the life of the face.
class CInstalledUserInterface {
public:
    explicit CInstalledUserInterface(IUserInterface& ui) : m_pPrevious(SetUserInterface(&ui)) {}
    ~CInstalledUserInterface() { SetUserInterface(m_pPrevious); }
    CInstalledUserInterface(const CInstalledUserInterface&) = delete;
    CInstalledUserInterface& operator=(const CInstalledUserInterface&) = delete;

private:
    IUserInterface* m_pPrevious;
};

class CTuiApp : public IConsoleHostObserver {
public:
    CTuiApp(CConsoleHost& host, CConsoleFileGuard& guard, CTuiUserInterface& ui, CScreen& screen)
        : m_host(host), m_guard(guard), m_ui(ui), m_screen(screen), m_source(host)
    {
        m_host.SetObserver(this);
        m_ui.SetBackground([this] { Paint(); });
    }
    ~CTuiApp() override
    {
        m_ui.SetBackground(nullptr);
        m_host.SetObserver(nullptr);
    }
    CTuiApp(const CTuiApp&) = delete;
    CTuiApp& operator=(const CTuiApp&) = delete;

    // Runs until the user quits (None) or a signal ends the face (what it
    // asked for; the unsaved changes are then in the recovery file).
    EStopRequest Run();
    // The console was opened from its recovery file: the file goes once the
    // console is saved or the user has quit.
    void SetRecovered() { m_bRecovered = true; }
    // The face ended because the user chose to reload the console file.
    bool ReloadWanted() const { return m_bReload; }
    // Where the scans of this console are kept, for "Changes Since Last Scan".
    void SetHistoryFile(std::string file) { m_historyFile = std::move(file); }

    void OnScopeItemInserted(HSCOPEITEM) override { m_bTreeChanged = true; }
    void OnScopeItemDeleted(HSCOPEITEM) override { m_bTreeChanged = true; }
    void OnScopeItemChanged(HSCOPEITEM) override { m_bTreeChanged = true; }
    void OnSelectionChanged(HSCOPEITEM) override
    {
        m_changes.reset();
        m_bTreeChanged = true;
        m_nResultTop = 0;
        m_nResultScroll = 0;
    }
    void OnResultViewChanged() override {}

private:
    void Rebuild();
    void Paint();
    void PaintTree(const ScreenLayout& layout);
    void PaintResult(const ScreenLayout& layout);
    bool Do(Action action);  // false: quit
    void MoveSelection(int index);
    void Expand();
    void CollapseOrParent();
    void OpenMenu();
    void ShowChanges(HSCOPEITEM host);
    // The result pane's content: the changes list while it is shown, else
    // what the snap-in shows.
    const ResultView& ShownResult() const { return m_changes ? *m_changes : m_host.Result(); }
    void StartRename();
    void RenameKey(const Key& key);
    void Help();
    // Saves under the file's lock; asks first when another ferrodex saved
    // the file since this console read it.
    ESaveOutcome SaveToFile();
    // Adds this console's scans to a file another ferrodex saved meanwhile,
    // then has the file shown again.
    ESaveOutcome MergeScans();
    bool ConfirmQuit();
    // Acts on a pending stop request; true when the face must end.
    bool ActOnStopRequest(EStopRequest& ended);
    void KeepForRecovery();
    void Mouse();
    HSCOPEITEM Selected() const
    {
        return m_nSelected >= 0 && m_nSelected < static_cast<int>(m_lines.size())
                   ? m_lines[static_cast<std::size_t>(m_nSelected)].handle
                   : 0;
    }
    void Status(std::wstring text) { m_status = std::move(text); }
    // Unsaved changes: the snap-in's, or ones it forgot while a scan was
    // read for "Changes Since Last Scan".
    bool Dirty() { return m_bDirtyKept || m_host.IsDirty(); }
    void ShowError(const std::string& text)
    {
        m_ui.ShowMessage(nullptr, AnsiToWide(text), u"Error", MB_OK | MB_ICONERROR);
    }
    std::vector<std::wstring> ResultLines(int columns, std::wstring& header) const;
    // The list as drawn: rows with their image glyphs, titles to match.
    ListLayout PrepareList(const ResultView& view, int columns, std::vector<ResultRowView>& rows,
                           std::vector<ResultColumnView>& columnViews) const;
    // A group's list: a host whose picture came from the console file shows
    // the time of its last scan that the history holds.
    void FillLastScans(std::vector<ResultRowView>& rows) const;

    bool m_bRecovered = false;
    bool m_bReload = false;
    // Something beside scans was changed here (a menu command other than a
    // refresh, a rename): a file saved meanwhile by another ferrodex is
    // asked about rather than merged.
    bool m_bEdited = false;
    std::string m_historyFile;
    // The last scan times read from the history, by host path ("" for none).
    mutable std::map<std::u16string, std::u16string> m_historyTimes;
    // "Changes Since Last Scan" of the selected host, until the selection moves.
    std::optional<ResultView> m_changes;
    bool m_bDirtyKept = false;
    CConsoleHost& m_host;
    CConsoleFileGuard& m_guard;
    CTuiUserInterface& m_ui;
    CScreen& m_screen;
    CHostTreeSource m_source;
    std::vector<TreeLine> m_lines;
    int m_nSelected = -1;
    int m_nTreeTop = 0;
    int m_nResultTop = 0;
    int m_nResultScroll = 0;
    Pane m_focus = Pane::Tree;
    bool m_bTreeChanged = true;
    std::wstring m_status;
    std::unique_ptr<CForm> m_rename;
    int m_nCursorRow = -1;
    int m_nCursorColumn = -1;
};

void CTuiApp::Rebuild()
{
    for (int guard = 0; m_bTreeChanged && guard < 8; ++guard) {
        m_bTreeChanged = false;
        m_lines = LayoutTree(m_source);
        const HSCOPEITEM current = m_host.Selected();
        std::vector<HSCOPEITEM> ancestors;
        if (current != 0 && m_host.Exists(current))
            for (HSCOPEITEM p = m_host.Parent(current); p != 0 && ancestors.size() < 64; p = m_host.Parent(p))
                ancestors.push_back(p);
        m_nSelected = FollowSelection(m_lines, current, ancestors, m_nSelected);
        // The console's selection follows the line the face shows selected.
        if (m_nSelected >= 0 && Selected() != current) m_host.Select(Selected());
    }
}

void CTuiApp::FillLastScans(std::vector<ResultRowView>& rows) const
{
    // The columns of a group's list: name, last scan, ...
    constexpr std::size_t kLastScan = 1;
    const HSCOPEITEM group = m_host.Selected();
    if (group == 0 || m_historyFile.empty() || m_host.NodeType(group) != kGroupNodeType) return;
    std::unique_ptr<CHistoryTimes> times;
    for (ResultRowView& row : rows) {
        if (row.cells.size() <= kLastScan || !row.cells[kLastScan].empty()) continue;
        HSCOPEITEM item = 0;
        for (HSCOPEITEM child : m_host.Children(group))
            if (m_host.DisplayName(child) == row.cells[0]) item = child;
        if (item == 0 || !m_host.HostHoldsPicture(item)) continue;
        FleetHost known;
        known.group = m_host.DisplayName(group);
        known.name = row.cells[0];
        known.scanned = true;
        known.historyKey = HistoryKeyOf(m_host, item, WideToAnsi(FleetHostPath(known)));
        const std::u16string path = FleetHostPath(known);
        auto found = m_historyTimes.find(path);
        if (found == m_historyTimes.end()) {
            // Each host is looked up once: a scan of this session shows its
            // own time, and a failed one adds nothing to the history.
            if (!times) times = std::make_unique<CHistoryTimes>(m_historyFile);
            times->Fill(known);
            found = m_historyTimes.emplace(path, known.scanTime.value_or(std::u16string())).first;
        }
        row.cells[kLastScan] = found->second;
    }
}

ListLayout CTuiApp::PrepareList(const ResultView& view, int columns, std::vector<ResultRowView>& rows,
                                std::vector<ResultColumnView>& columnViews) const
{
    rows = view.rows;
    columnViews = view.columns;
    if (!m_changes) FillLastScans(rows);
    // Each line starts with its image, as a list view shows it.
    bool images = false;
    for (ResultRowView& row : rows) {
        if (row.cells.empty()) row.cells.emplace_back();
        if (row.image < 0) continue;
        row.cells[0] = FromTerminal(ImageGlyph(row.image, m_screen.Ascii())) + u" " + row.cells[0];
        images = true;
    }
    if (images && !columnViews.empty()) columnViews[0].title = u"  " + columnViews[0].title;
    return LayoutColumns(columnViews, rows, columns);
}

std::vector<std::wstring> CTuiApp::ResultLines(int columns, std::wstring& header) const
{
    const ResultView& view = ShownResult();
    std::vector<std::wstring> lines;
    header.clear();
    if (view.kind == ResultKind::List) {
        std::vector<ResultRowView> rows;
        std::vector<ResultColumnView> columnViews;
        const ListLayout layout = PrepareList(view, columns, rows, columnViews);
        if (!columnViews.empty())
            header = FormatListHeader(columnViews, layout, m_nResultScroll, columns, m_screen.Ascii());
        for (const ResultRowView& row : rows)
            lines.push_back(FormatListLine(row.cells, layout, m_nResultScroll, columns, m_screen.Ascii()));
        if (rows.empty()) lines.push_back(L"(nothing to show)");
    } else if (view.kind == ResultKind::Page) {
        header = Utf8ToTerminal(view.pageName);
        const std::wstring text = Utf8ToTerminal(view.pageText, ELineFeeds::Kept);
        lines = WrapIndented(text.empty() ? L"(this page has no text)" : text, std::max(columns - 1, 8));
    }
    return lines;
}

void CTuiApp::Paint()
{
    const int rows = m_screen.Rows();
    const int columns = m_screen.Columns();
    const ScreenLayout layout = LayoutScreen(rows, columns);
    werase(stdscr);
    // Title row.
    std::wstring title = L" Ferrodex  " + Utf8ToTerminal(m_host.FilePath());
    if (Dirty()) title += L"  [modified]";
    PutText(stdscr, 0, 0, PadColumns(title, columns, true, m_screen.Ascii()), A_REVERSE);
    m_nCursorRow = -1;
    PaintTree(layout);
    // The separator between the panes.
    for (int r = 0; r < layout.bodyRows; ++r)
        PutText(stdscr, layout.bodyTop + r, layout.treeColumns, m_screen.Ascii() ? L"|" : L"\u2502");
    PaintResult(layout);
    // Status row.
    std::wstring status = m_status;
    if (status.empty()) status = L"F1 help  m menu  r rename  Tab pane  s save  q quit";
    PutText(stdscr, layout.statusRow, 0, PadColumns(L" " + status, columns, true, m_screen.Ascii()), A_REVERSE);
    // The rename editor's cursor.
    if (m_rename && m_nCursorRow >= 0) {
        wmove(stdscr, m_nCursorRow, m_nCursorColumn);
        curs_set(1);
    } else {
        curs_set(0);
    }
}

void CTuiApp::PaintTree(const ScreenLayout& layout)
{
    m_nTreeTop = ScrollToShow(m_nSelected, m_nTreeTop, layout.bodyRows, static_cast<int>(m_lines.size()));
    for (int r = 0; r < layout.bodyRows; ++r) {
        const int index = m_nTreeTop + r;
        if (index >= static_cast<int>(m_lines.size())) break;
        const TreeLine& line = m_lines[static_cast<std::size_t>(index)];
        const bool selected = index == m_nSelected;
        if (selected && m_rename) {
            // The name becomes an editor; the rest of the line stays.
            TreeLine prefix = line;
            prefix.name.clear();
            const std::wstring head = FormatTreeLine(prefix, m_screen.Ascii());
            const int headColumns = TextColumns(head);
            PutText(stdscr, layout.bodyTop + r, 0, head, A_NORMAL, layout.treeColumns);
            const FormField& field = m_rename->Fields().front();
            const int room = std::max(layout.treeColumns - headColumns - 1, 1);
            const std::size_t cursor = std::min(field.cursor, field.text.size());
            // Scroll the text sideways so that the cursor shows.
            std::size_t start = std::min(static_cast<std::size_t>(std::max(field.scroll, 0)), cursor);
            while (start < cursor && TextColumns(std::wstring_view(field.text).substr(start, cursor - start)) >= room)
                ++start;
            field.scroll = static_cast<int>(start);
            const std::wstring shown = FitColumns(std::wstring_view(field.text).substr(start), room, false);
            PutText(stdscr, layout.bodyTop + r, headColumns, PadColumns(shown, room, false), A_UNDERLINE, room);
            m_nCursorRow = layout.bodyTop + r;
            m_nCursorColumn = headColumns + TextColumns(std::wstring_view(field.text).substr(start, cursor - start));
            continue;
        }
        attr_t attributes = A_NORMAL;
        if (selected) attributes = m_focus == Pane::Tree ? A_REVERSE : A_BOLD | A_UNDERLINE;
        std::wstring text = FormatTreeLine(line, m_screen.Ascii());
        if (selected) text = PadColumns(text, layout.treeColumns, true, m_screen.Ascii());
        PutText(stdscr, layout.bodyTop + r, 0, FitColumns(text, layout.treeColumns, true, m_screen.Ascii()), attributes,
                layout.treeColumns);
    }
}

void CTuiApp::PaintResult(const ScreenLayout& layout)
{
    const int columns = std::max(layout.resultColumns - 1, 1);
    std::wstring header;
    const std::vector<std::wstring> lines = ResultLines(columns, header);
    int row = layout.bodyTop;
    int rowsLeft = layout.bodyRows;
    if (!header.empty() && rowsLeft > 0) {
        PutText(stdscr, row++, layout.resultLeft + 1, header, A_BOLD | A_UNDERLINE, columns);
        --rowsLeft;
    }
    const int maxTop = std::max(0, static_cast<int>(lines.size()) - rowsLeft);
    m_nResultTop = std::clamp(m_nResultTop, 0, maxTop);
    for (int r = 0; r < rowsLeft && m_nResultTop + r < static_cast<int>(lines.size()); ++r) {
        const std::wstring& text = lines[static_cast<std::size_t>(m_nResultTop + r)];
        PutText(stdscr, row + r, layout.resultLeft + 1, text, A_NORMAL, columns);
    }
    if (m_focus == Pane::Result && layout.resultColumns > 0)
        PutText(stdscr, layout.statusRow - 1 >= layout.bodyTop ? layout.bodyTop : 0, layout.treeColumns,
                m_screen.Ascii() ? L">" : L"\u25B6");
}

void CTuiApp::MoveSelection(int index)
{
    if (m_lines.empty()) return;
    index = std::clamp(index, 0, static_cast<int>(m_lines.size()) - 1);
    if (index == m_nSelected && m_host.Selected() == Selected()) return;
    m_nSelected = index;
    m_host.Select(Selected());
    Status({});
}

void CTuiApp::Expand()
{
    if (m_nSelected < 0) return;
    const TreeLine line = m_lines[static_cast<std::size_t>(m_nSelected)];
    if (line.mark == ExpandMark::Expanded) {
        MoveSelection(m_nSelected + 1);  // to the first child
        return;
    }
    if (line.mark != ExpandMark::Collapsed) return;
    Status(L"Expanding " + ToTerminal(line.name) + L"...");
    m_ui.Repaint();
    const HRESULT hr = m_host.Expand(line.handle);
    Status(hr == S_OK ? std::wstring() : L"Could not expand " + ToTerminal(line.name));
    // What the node shows may depend on its expansion (a host whose scan
    // failed shows a page): ask again, as selecting it would.
    if (m_host.Exists(line.handle) && m_host.Selected() == line.handle) m_host.Select(line.handle);
    m_bTreeChanged = true;
}

void CTuiApp::CollapseOrParent()
{
    if (m_nSelected < 0) return;
    const TreeLine& line = m_lines[static_cast<std::size_t>(m_nSelected)];
    if (line.mark == ExpandMark::Expanded) {
        m_host.Collapse(line.handle);
        m_bTreeChanged = true;
        return;
    }
    if (const int parent = ParentLine(m_lines, m_nSelected); parent >= 0) MoveSelection(parent);
}

void CTuiApp::OpenMenu()
{
    const HSCOPEITEM item = Selected();
    if (item == 0) return;
    const auto noCommands = [](const std::vector<MenuItemView>& menu) {
        return std::none_of(menu.begin(), menu.end(), [](const MenuItemView& i) { return !i.separator; });
    };
    std::vector<MenuItemView> items = m_host.MenuItems(item);
    if (noCommands(items) && !m_host.WasExpanded(item) && m_host.NodeType(item) != kHostNodeType) {
        // The snap-in offers a node's menu once the node has been expanded.
        // Expanding the root or a group contacts no host: do it quietly and
        // leave the tree as the user sees it.
        const bool shown = m_host.Item(item).expanded;
        m_host.Expand(item);
        if (!m_host.Exists(item)) return;
        if (!shown) m_host.Collapse(item);
        items = m_host.MenuItems(item);
    }
    // The console's own item on a host: the history belongs to the console
    // file, which only the console knows.
    std::u16string address;
    int port = 0;
    if (m_host.HostAddress(item, address, port)) {
        if (!items.empty()) items.push_back(MenuItemView{0, {}, {}, true});
        items.push_back(MenuItemView{kChangesCommand, u"Changes Since Last Scan",
                                     u"Lists what changed in the hardware between the host's last two scans"});
    }
    if (noCommands(items)) {
        Status(L"No menu for this node (expand it first)");
        return;
    }
    const ScreenLayout layout = LayoutScreen(m_screen.Rows(), m_screen.Columns());
    const TreeLine& line = m_lines[static_cast<std::size_t>(m_nSelected)];
    const int row = layout.bodyTop + m_nSelected - m_nTreeTop + 1;
    const int column = std::min(MarkColumn(line) + 4, std::max(layout.treeColumns - 8, 0));
    const std::wstring saved = m_status;
    const int chosen = m_ui.RunMenu(items, row, column, [this](const MenuItemView* highlighted) {
        // Paint has already drawn the status row: draw the status text over it.
        if (highlighted == nullptr) return;
        const int columns = m_screen.Columns();
        const ScreenLayout l = LayoutScreen(m_screen.Rows(), columns);
        PutText(stdscr, l.statusRow, 0, PadColumns(L" " + ToTerminal(highlighted->statusText), columns), A_REVERSE);
        wnoutrefresh(stdscr);
    });
    Status(saved);
    if (chosen < 0) return;
    const MenuItemView& command = items[static_cast<std::size_t>(chosen)];
    if (command.commandId == kChangesCommand) {
        ShowChanges(item);
        return;
    }
    Status(ToTerminal(command.name) + L"...");
    m_ui.Repaint();
    // Every command but a refresh may change the inventory itself.
    const bool host = m_host.NodeType(item) == kHostNodeType;
    if (command.commandId != (host ? IDM_REFRESH_HOST : IDM_REFRESH_ALL)) m_bEdited = true;
    m_host.InvokeCommand(item, command.commandId);
    Status({});
    if (m_host.Exists(item) && m_host.Selected() == item) m_host.Select(item);
    m_bTreeChanged = true;
}

void CTuiApp::ShowChanges(HSCOPEITEM item)
{
    const std::string host =
        WideToAnsi(FormatNodePath({m_host.DisplayName(m_host.Parent(item)), m_host.DisplayName(item)}));
    Status(L"Comparing the last two scans...");
    m_ui.Repaint();
    HostDiff diff;
    std::string error;
    // Reading a scan opens it in a console of its own, through the same
    // module, whose "unsaved changes" state is one for the process: the
    // console's own state is put back afterwards.
    const bool wasDirty = Dirty();
    const bool compared = DiffHostScans(m_historyFile, host, {}, {}, diff, error, HistoryKeyOf(m_host, item, host));
    if (wasDirty) {
        m_bDirtyKept = true;
    } else if (m_host.IsDirty()) {
        std::vector<std::uint8_t> image;  // saving clears the state; the bytes go unused
        m_host.SaveImage(image);
        std::fill(image.begin(), image.end(), std::uint8_t{0});
    }
    if (!compared) {
        Status({});
        m_ui.ShowMessage(nullptr, AnsiToWide(error), u"Changes Since Last Scan", MB_OK | MB_ICONINFORMATION);
        return;
    }
    m_host.Select(item);
    m_changes = ChangesView(diff);
    Status(Utf8ToTerminal("Changes of " + host + ": scan " + std::to_string(diff.from.id) + " (" +
                          IsoUtcTime(diff.from.firstSeen) + ") to scan " + std::to_string(diff.to.id) + " (" +
                          IsoUtcTime(diff.to.firstSeen) + "), " + std::to_string(diff.changes.size()) +
                          " change(s)"));
    m_bTreeChanged = true;
}

void CTuiApp::StartRename()
{
    const HSCOPEITEM item = Selected();
    if (item == 0) return;
    if (!m_host.CanRename(item)) {
        Status(L"This node cannot be renamed");
        return;
    }
    DialogState editor;
    DialogControlTemplate control;
    control.id = kRenameControl;
    control.kind = "edit";
    control.limit = kRenameLimit;
    control.focus = true;
    editor.tmpl.controls.push_back(control);
    editor.texts[kRenameControl] = m_host.DisplayName(item);
    m_rename = std::make_unique<CForm>(editor);
    Status(L"Rename: type the new name, Enter to keep it, Esc to cancel");
}

void CTuiApp::RenameKey(const Key& key)
{
    if (key.function && key.code == KEY_RESIZE) return;
    const int result = m_rename->Apply(MapFormKey(key));
    if (result == 0) return;
    std::unique_ptr<CForm> editor = std::move(m_rename);
    Status({});
    if (result != IDOK) return;
    DialogState out;
    editor->Store(out);
    const HSCOPEITEM item = Selected();
    m_bEdited = true;
    const HRESULT hr = m_host.Rename(item, out.texts[kRenameControl]);
    if (hr != S_OK) Status(L"The new name was not accepted");
    m_bTreeChanged = true;
}

void CTuiApp::Help()
{
    std::vector<std::wstring> lines;
    int width = 0;
    for (const HelpLine& h : KeyHelp()) width = std::max(width, TextColumns(h.keys));
    for (const HelpLine& h : KeyHelp()) lines.push_back(PadColumns(h.keys, width) + L"  " + h.action);
    lines.emplace_back();
    const bool ascii = m_screen.Ascii();
    lines.push_back(ImageGlyph(0, ascii) + L" group  " + ImageGlyph(1, ascii) + L" open group  " + ImageGlyph(2, ascii) +
                    L" server  " + ImageGlyph(3, ascii) + L" open server  " + ImageGlyph(4, ascii) + L" hardware");
    lines.push_back(L"+ has hidden children   - children shown");
    m_ui.ShowText(L"Keys", lines);
}

ESaveOutcome CTuiApp::SaveToFile()
{
    const std::string& file = m_host.FilePath();
    Status(L"Saving...");
    m_ui.Repaint();
    // The lock is held from the check to the end of the save, and while the
    // question is asked: no other ferrodex saves in between (one that waits
    // too long is refused and tells its user so).
    std::string message;
    if (!m_guard.Lock(0, message)) {
        Status(L"Waiting for another ferrodex to finish with " + Utf8ToTerminal(file) + L"...");
        m_ui.Repaint();
        if (!m_guard.Lock(kSaveLockWaitMs, message)) {
            Status({});
            ShowError(message + "; nothing was saved: try again once it is done");
            return ESaveOutcome::NotSaved;
        }
    }
    CLockScope locked(m_guard);
    if (m_guard.ChangedSinceRead() && !m_bEdited && !m_bRecovered) return MergeScans();
    if (m_guard.ChangedSinceRead()) {
        const std::u16string question =
            u"The console file " + AnsiToWide(file) +
            u" was changed by another ferrodex (a command or a second console) after this console read it.\n\n"
            u"Yes: reload the file; the changes made here are lost.\n"
            u"No: overwrite the file; the other changes are lost.\n"
            u"Cancel: save nothing now; the changes made here stay unsaved.";
        // Cancel is the default: neither side's changes are lost.
        const UINT type = MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3;
        const int answer = m_ui.ShowMessage(nullptr, question, u"Console file changed", type);
        if (answer == IDYES) {
            m_bReload = true;
            return ESaveOutcome::Reload;
        }
        if (answer != IDNO) {
            Status(L"Not saved");
            return ESaveOutcome::NotSaved;
        }
    }
    const HostStatus status = m_host.Save();
    if (!status) {
        Status({});
        ShowError(status.message);
        return ESaveOutcome::NotSaved;
    }
    m_guard.NoteSaved();
    m_bDirtyKept = false;
    m_bEdited = false;
    Status(L"Saved to " + Utf8ToTerminal(file));
    if (m_bRecovered) RemoveRecoveryFile(file);
    m_bRecovered = false;
    return ESaveOutcome::Saved;
}

ESaveOutcome CTuiApp::MergeScans()
{
    // Only scans were made here: they go into the file as the other
    // ferrodex left it, which is then shown.
    const std::string& file = m_host.FilePath();
    SScanMergeOutcome outcome;
    const HostStatus status = MergeSessionScans(m_guard, m_historyFile, CollectSessionScans(m_host), outcome);
    if (!status) {
        Status({});
        ShowError(status.message + "; nothing was saved");
        return ESaveOutcome::NotSaved;
    }
    std::u16string text = u"The console file " + AnsiToWide(file) +
                          u" was saved by another ferrodex after this console read it. Its changes are kept, and "
                          u"the scans made here were added to it; the file is shown again now.";
    for (const std::u16string& host : outcome.older) text += u"\n" + host + u": its newer scan, made elsewhere, is kept.";
    for (const std::u16string& host : outcome.gone) text += u"\n" + host + u" is no longer in the file; its scan is not saved.";
    m_ui.ShowMessage(nullptr, text, u"Console file changed", MB_OK | MB_ICONINFORMATION);
    m_bDirtyKept = false;
    m_bReload = true;
    return ESaveOutcome::Reload;
}

void CTuiApp::KeepForRecovery()
{
    if (!Dirty()) return;
    std::string error;
    // Standard error is the log file here.
    if (WriteRecoveryFile(m_host, m_guard.BaseStamp(), error))
        std::fprintf(stderr, "ferrodex: unsaved changes kept in %s\n", RecoveryFileOf(m_host.FilePath()).c_str());
    else
        std::fprintf(stderr, "ferrodex: unsaved changes are lost: %s\n", error.c_str());
}

bool CTuiApp::ActOnStopRequest(EStopRequest& ended)
{
    switch (PendingStopRequest()) {
    case EStopRequest::None:
        return false;
    case EStopRequest::Interrupt:
        TakeStopRequest();
        return ConfirmQuit();
    case EStopRequest::Terminate:
    case EStopRequest::HangUp:
        // The request stays pending: a question the snap-in might ask while
        // it saves is answered with Escape at once.
        ended = PendingStopRequest();
        // A second signal now waits for the changes to be kept.
        AcknowledgeStopRequest();
        KeepForRecovery();
        return true;
    }
    return false;
}

bool CTuiApp::ConfirmQuit()
{
    if (!Dirty()) return true;
    const std::u16string question =
        u"The console has unsaved changes.\nSave them to " + AnsiToWide(m_host.FilePath()) + u" before quitting?";
    const int answer = m_ui.ShowMessage(nullptr, question, u"Ferrodex", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDNO) return true;
    if (answer != IDYES) return false;
    // Giving up this console's changes for the file as saved ends it as
    // No would: there is nothing to reload when quitting.
    const ESaveOutcome outcome = SaveToFile();
    m_bReload = false;
    return outcome != ESaveOutcome::NotSaved;
}

void CTuiApp::Mouse()
{
    MEVENT event{};
    if (!CScreen::ReadMouse(event)) return;
    const ScreenLayout layout = LayoutScreen(m_screen.Rows(), m_screen.Columns());
    const bool inBody = event.y >= layout.bodyTop && event.y < layout.bodyTop + layout.bodyRows;
    const bool inTree = inBody && event.x < layout.treeColumns;
    if (event.bstate & (BUTTON4_PRESSED | BUTTON5_PRESSED)) {
        const int step = (event.bstate & BUTTON4_PRESSED) ? -3 : 3;
        if (inTree) MoveSelection(m_nSelected + step);
        else m_nResultTop = std::max(0, m_nResultTop + step);
        return;
    }
    if (!inBody) return;
    if (!inTree) {
        m_focus = Pane::Result;
        return;
    }
    m_focus = Pane::Tree;
    const int index = m_nTreeTop + event.y - layout.bodyTop;
    if (index < 0 || index >= static_cast<int>(m_lines.size())) return;
    MoveSelection(index);
    const TreeLine& line = m_lines[static_cast<std::size_t>(index)];
    const bool onMark = event.x == MarkColumn(line);
    if (event.bstate & (BUTTON3_CLICKED | BUTTON3_PRESSED)) {
        OpenMenu();
    } else if ((event.bstate & BUTTON1_DOUBLE_CLICKED) || (onMark && (event.bstate & BUTTON1_CLICKED))) {
        if (line.mark == ExpandMark::Expanded) CollapseOrParent();
        else Expand();
    }
}

bool CTuiApp::Do(Action action)
{
    const ScreenLayout layout = LayoutScreen(m_screen.Rows(), m_screen.Columns());
    const int page = std::max(layout.bodyRows - 1, 1);
    if (m_focus == Pane::Result) {
        switch (action) {
        case Action::Up: m_nResultTop = std::max(0, m_nResultTop - 1); return true;
        case Action::Down: ++m_nResultTop; return true;  // clamped when painted
        case Action::PageUp: m_nResultTop = std::max(0, m_nResultTop - page); return true;
        case Action::PageDown: m_nResultTop += page; return true;
        case Action::Home: m_nResultTop = 0; m_nResultScroll = 0; return true;
        case Action::End: m_nResultTop = 1 << 20; return true;
        case Action::Left: m_nResultScroll = std::max(0, m_nResultScroll - kSideStep); return true;
        case Action::Right: {
            const ResultView& view = ShownResult();
            const int columns = std::max(layout.resultColumns - 1, 1);
            int limit = 0;
            if (view.kind == ResultKind::List) {
                std::vector<ResultRowView> rows;
                std::vector<ResultColumnView> titles;
                limit = MaxListScroll(PrepareList(view, columns, rows, titles), columns);
            }
            m_nResultScroll = std::min(m_nResultScroll + kSideStep, limit);
            return true;
        }
        case Action::Enter:
        case Action::SwitchPane: m_focus = Pane::Tree; return true;
        default: break;
        }
    }
    switch (action) {
    case Action::Up: MoveSelection(m_nSelected - 1); break;
    case Action::Down: MoveSelection(m_nSelected + 1); break;
    case Action::PageUp: MoveSelection(m_nSelected - page); break;
    case Action::PageDown: MoveSelection(m_nSelected + page); break;
    case Action::Home: MoveSelection(0); break;
    case Action::End: MoveSelection(static_cast<int>(m_lines.size()) - 1); break;
    case Action::Right: Expand(); break;
    case Action::Left: CollapseOrParent(); break;
    case Action::Enter:
        if (m_nSelected >= 0 && m_lines[static_cast<std::size_t>(m_nSelected)].mark == ExpandMark::Expanded)
            CollapseOrParent();
        else
            Expand();
        break;
    case Action::SwitchPane: m_focus = m_focus == Pane::Tree ? Pane::Result : Pane::Tree; break;
    case Action::Menu: OpenMenu(); break;
    case Action::Rename: StartRename(); break;
    case Action::Help: Help(); break;
    case Action::Save:
        if (SaveToFile() == ESaveOutcome::Reload) return false;  // a new face shows the file
        break;
    case Action::Refresh:
        if (Selected() != 0) m_host.Select(Selected());
        break;
    case Action::Quit: return !ConfirmQuit();
    case Action::Redraw: clearok(curscr, TRUE); break;
    case Action::Mouse: Mouse(); break;
    case Action::Resize:
    case Action::None: break;
    }
    return true;
}

EStopRequest CTuiApp::Run()
{
    EStopRequest ended = EStopRequest::None;
    Rebuild();
    if (m_host.Selected() == 0 && !m_lines.empty()) {
        m_nSelected = 0;
        m_host.Select(Selected());
        m_bTreeChanged = true;
    }
    for (;;) {
        if (ActOnStopRequest(ended)) break;
        Rebuild();
        m_ui.Repaint();
        const Key key = m_screen.ReadKey();
        if (PendingStopRequest() != EStopRequest::None) continue;  // no key of the user's
        if (m_rename) {
            RenameKey(key);
            continue;
        }
        if (!Do(MapMainKey(key))) break;
    }
    // Quitting answered the save question: the recovered changes are saved
    // or given up.
    if (ended == EStopRequest::None && m_bRecovered) RemoveRecoveryFile(m_host.FilePath());
    return ended;
}

std::string LogFilePath()
{
    const std::string folder = UserStateFolder();
    return folder.empty() ? std::string() : folder + "/ferrodex.log";
}

// Opens the console file, or its recovery file when one is there and the
// user takes it. Recovered changes keep the version of the file they were
// made on: a save asks, as any save does, when the file changed since.
HostStatus OpenConsole(CConsoleHost& host, CConsoleFileGuard& guard, CTuiUserInterface& ui, const std::string& file,
                       bool& recovered)
{
    recovered = false;
    std::vector<std::uint8_t> bytes;
    std::optional<FileStamp> base;
    std::string error;
    if (ReadRecoveryFile(file, bytes, base, error)) {
        // A recovery file that names no version is taken as older than the
        // file: its save asks.
        const FileStamp madeOn = base.value_or(FileStamp{});
        const bool changedSince = madeOn != StampOfFile(file);
        std::u16string question =
            u"Ferrodex was ended with unsaved changes, which were kept in\n" + AnsiToWide(RecoveryFileOf(file)) + u".";
        if (changedSince)
            question += u"\n\nThe console file " + AnsiToWide(file) +
                        u" was saved by another ferrodex after these changes were made; saving them will ask "
                        u"which changes to keep.";
        question += u"\n\nYes: open them (save to keep them in " + AnsiToWide(file) +
                    u").\nNo: discard them.\nCancel: open the console file and decide next time.";
        const int answer =
            ui.ShowMessage(nullptr, question, u"Unsaved changes", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDYES) {
            HostStatus status = host.OpenRecovered(file, bytes);
            if (!status) return HostStatus::Fail("the recovery file " + RecoveryFileOf(file) + ": " + status.message);
            guard.NoteBase(madeOn);
            recovered = true;
            return status;
        }
        if (answer == IDNO) RemoveRecoveryFile(file);
    } else if (!error.empty()) {
        ui.ShowMessage(nullptr, AnsiToWide(error), u"Error", MB_OK | MB_ICONERROR);
    }
    return host.Open(file);
}

int RunFace(const TerminalFaceOptions& options, std::string& failure, EStopRequest& ended)
{
    std::optional<CStderrToFile> log;
    if (const std::string path = LogFilePath(); !path.empty()) log.emplace(path);
    CScreen screen(options.ascii, options.mouse);
    CTerminalRestoreHook restore(&CScreen::RestoreTerminal);
    // After the restore hook: these three signals become requests.
    CStopRequestCatcher stopRequests;
    CTuiUserInterface ui(screen);
    CInstalledUserInterface installed(ui);
    ui.Repaint();
    const std::string file = options.consoleFile.empty() ? DefaultConsoleFile() : options.consoleFile;
    ui.SetConsoleFile(file);
    if (file.empty()) {
        failure = "no console file: the user's data folder cannot be made";
        return 1;
    }
    // A reload opens the file afresh in a new host and face.
    for (bool reload = false;;) {
        CConsoleFileGuard guard;
        // Declared after the user interface, so it goes first.
        CConsoleHost host;
        guard.NoteRead(file);  // before the file is read
        bool recovered = false;
        const HostStatus opened = reload ? host.Open(file) : OpenConsole(host, guard, ui, file, recovered);
        if (!opened) {
            ended = TakeStopRequest();
            if (ended == EStopRequest::Interrupt) ended = EStopRequest::None;
            if (ended != EStopRequest::None) return 1;
            ui.ShowMessage(nullptr, AnsiToWide(opened.message), u"Error", MB_OK | MB_ICONERROR);
            failure = opened.message;
            return 1;
        }
        if (!reload && !guard.FolderWarning().empty())
            ui.ShowMessage(nullptr, AnsiToWide(guard.FolderWarning()), u"Warning", MB_OK | MB_ICONWARNING);
        // Scans go to the history beside the console file (and to a shared
        // one when chosen); declared before the face, so that it goes after it.
        const std::string historyFile = HistoryFileFor(options.consoleFile);
        CHistoryRecorder recorder(host, historyFile, options.historyKeep, {}, ChosenHistory(options.history));
        CTuiApp app(host, guard, ui, screen);
        app.SetHistoryFile(historyFile);
        if (recovered) app.SetRecovered();
        ended = app.Run();
        reload = ended == EStopRequest::None && app.ReloadWanted();
        if (!reload) return 0;
    }
}

}  // namespace

int RunTerminalFace(const TerminalFaceOptions& options)
{
    if (!StdioIsTerminal()) {
        std::fprintf(stderr,
                     "ferrodex: the terminal console needs a terminal; scripts use the commands (ferrodex --help)\n");
        return 2;
    }
    std::string failure;
    int code = 1;
    EStopRequest ended = EStopRequest::None;
    try {
        code = RunFace(options, failure, ended);
    } catch (const std::exception& e) {
        failure = e.what();
        code = 1;
    } catch (...) {
        failure = "unexpected failure";
        code = 1;
    }
    // The screen and the log are back to normal here.
    if (!failure.empty()) std::fprintf(stderr, "ferrodex: %s\n", TerminalText(failure, ELineFeeds::Kept).c_str());
    // A signal that ended the face ends the process as it would have.
    EndAsRequested(ended);
    return code;
}

}  // namespace fdx::tui
