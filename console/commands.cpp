#include "console/commands.h"

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <functional>

#include "console/fleet_commands.h"
#include "console/history_fleet.h"
#include "console/history_recorder.h"
#include "console/host_core.h"
#include "console/export_changes.h"
#include "console/inventory_image.h"
#include "console/file_guard.h"
#include "console/json_writer.h"
#include "console/node_path.h"
#include "console/scan_merge.h"
#include "console/script_ui.h"
#include "console/snapin_nodes.h"
#include "console/tui/tui_text.h"
#include "history/history_store.h"
#include "platform/atomic_file.h"
#include "platform/terminal.h"
#include "platform/terminal_text.h"
#include "platform/settings.h"
#include "platform/stop_request.h"
#include "platform/text.h"

namespace {

// Command identifiers that the host's menu carries. A host offers its menu
// only once it has been expanded, which scans it; the commands that must
// never contact the server send these directly.
constexpr long kRemoveHostCommand = IDM_REMOVE_HOST;
constexpr long kRefreshHostCommand = IDM_REFRESH_HOST;
constexpr long kEditHostCommand = IDM_EDIT_HOST;

constexpr std::size_t kMaxXmlFile = 16u << 20;
// How long a command waits for another one working on the same console file.
constexpr int kLockTimeoutMs = 30000;

std::u16string Wide(const std::string& text) { return AnsiToWide(text); }
std::string Narrow(std::u16string_view text) { return WideToAnsi(text); }

// The snap-in's settings (platform/snapin_contract.h) live under this key.
constexpr const char16_t* kProductKey = kProductSettingsKey;

// A key file named on the command line, as the console file keeps it: a
// relative path is taken from the working folder; "~/..." and "" stay.
std::string KeyFileArgument(const std::string& path)
{
    if (path.empty() || path.starts_with("~/")) return path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

ScriptAnswers AnswersFrom(const HostOptions& options)
{
    // For this process only; the stored setting stays as it is.
    if (options.strictHostKeys) OverrideSettingDword(kProductKey, kStrictHostKeysSetting, 1);
    ScriptAnswers answers;
    if (options.host) answers.host = Wide(*options.host);
    if (options.port) answers.port = IntToDecimal(*options.port);
    if (options.login) answers.login = Wide(*options.login);
    answers.hostPasswordFromInput = options.passwordFromInput;
    answers.clearPassword = options.clearPassword;
    answers.sudo = options.sudo;
    if (!options.identities.empty()) {
        // The key files as the host dialog takes several: "; " between them.
        std::string files;
        for (const std::string& path : options.identities) {
            if (path.empty()) continue;
            files += (files.empty() ? "" : "; ") + KeyFileArgument(path);
        }
        answers.keyFile = Wide(files);
    }
    answers.agent = options.agent;
    answers.passphraseFromInput = options.passphraseFromInput;
    if (options.jump) answers.jump = Wide(*options.jump);
    answers.yes = options.yes;
    answers.acceptQuestions = options.acceptChangedHostKey;
    return answers;
}

// Whether a command changes the inventory, or only reads it (a read may
// still scan a host, and then saves what the scan found).
enum class EAccess { Change, Read };

// One command's console: the user interface installed for its duration, the
// host with its console file open.
class CCommandSession {
public:
    explicit CCommandSession(ScriptAnswers answers) : m_ui(std::move(answers)) { m_previous = SetUserInterface(&m_ui); }
    ~CCommandSession()
    {
        m_recorder.reset();
        m_host.reset();  // the snap-in goes while the interface is still there
        SetUserInterface(m_previous);
    }
    CCommandSession(const CCommandSession&) = delete;
    CCommandSession& operator=(const CCommandSession&) = delete;

    CScriptUserInterface& Ui() { return m_ui; }
    CConsoleHost& Host() { return *m_host; }

    // Opens the console file. A session that changes the inventory holds
    // the file's lock from here to its end, so that commands on one file run
    // one after the other; one that only reads (and may scan) takes no lock
    // while it works and takes it only to save (see Finish). Reading needs
    // an existing file when the user named one.
    bool Open(const CommandContext& context, EAccess access = EAccess::Change)
    {
        std::string path = context.consoleFile;
        if (path.empty()) path = DefaultConsoleFile();
        if (path.empty()) return Fail("no folder for the console file can be made; name one with --console");
        m_ui.SetConsoleFile(path);
        m_access = access;
        // Noted before the file is read: a save by another command after
        // this moment shows as a change.
        m_guard.NoteRead(path);
        if (!m_guard.FolderWarning().empty()) {
            std::fprintf(stderr, "Warning: %s\n", TerminalText(m_guard.FolderWarning()).c_str());
            std::fflush(stderr);
        }
        if (access == EAccess::Change) {
            if (!Lock()) return false;
        } else if (!m_guard.Existed() && !context.consoleFile.empty()) {
            return Fail("console file " + path + " does not exist");
        }
        const auto plain = context.acceptPlain ? CConsoleHost::EPlainFile::Accept : CConsoleHost::EPlainFile::Refuse;
        if (HostStatus status = m_host->Open(path, plain); !status) return Fail(status.message);
        if (!m_host->PlainWarning().empty()) {
            std::fprintf(stderr, "Warning: %s\n", TerminalText(m_host->PlainWarning()).c_str());
            std::fflush(stderr);
        }
        // Scans are kept in the history; one that cannot be written there
        // is still shown and saved, with a warning.
        m_historyFile = HistoryFileFor(context.consoleFile);
        m_recorder = std::make_unique<CHistoryRecorder>(
            *m_host, m_historyFile, context.historyKeep,
            [](const std::string& text) {
                std::fprintf(stderr, "Warning: %s\n", TerminalText(text).c_str());
                std::fflush(stderr);
            },
            ChosenHistory(context.history));
        if (!OpenedRoot()) return false;
        AdoptOlderHistory(*m_host, m_historyFile);
        return true;
    }

    bool OpenImage(const std::vector<std::uint8_t>& image)
    {
        if (HostStatus status = m_host->OpenImage(image); !status) return Fail(status.message);
        return OpenedRoot();
    }

    bool Fail(const std::string& message)
    {
        m_ui.Error(message);
        return false;
    }

    HSCOPEITEM Root() const { return m_root; }
    CHistoryRecorder& Recorder() { return *m_recorder; }

    // Saves when the snap-in reports changes; the exit status of the command.
    // A reading session takes the lock only now, and saves only when nobody
    // saved the file since it was read: it never writes over another
    // command's changes.
    int Finish(bool saveChanges = true)
    {
        if (saveChanges && !m_host->FilePath().empty() && m_host->IsDirty()) {
            const std::string& path = m_host->FilePath();
            if (m_access == EAccess::Read && (!Lock() || m_guard.ChangedSinceRead())) {
                if (m_guard.Held() && m_bScansOnly)
                    MergeScans();
                else if (m_guard.Held())
                    Fail("console file " + path + " was changed by another ferrodex while this command ran; "
                         "its changes are kept and this command's are not saved: run it again");
            } else if (HostStatus status = m_host->Save(); !status) {
                m_ui.Error(status.message);
            } else {
                m_bSaved = true;
            }
        }
        return m_ui.Failed() ? 1 : 0;
    }

    // Finish wrote the console file.
    bool Saved() const { return m_bSaved; }
    // The scan of GROUP/HOST did not reach the console file although Finish
    // saved it: another ferrodex had saved a newer one, or removed the host.
    bool ScanDropped(const std::u16string& path) const { return m_merge.Dropped(path); }
    // This reading session changed more than scans (login details given to
    // a refresh): when another ferrodex saved meanwhile it saves nothing.
    void NoteEdits() { m_bScansOnly = false; }

    // The child of `parent` named `name`; 0 (with an error shown) when there
    // is none or more than one.
    HSCOPEITEM Child(HSCOPEITEM parent, const std::u16string& name)
    {
        HSCOPEITEM found = 0;
        int count = 0;
        for (HSCOPEITEM child : m_host->Children(parent)) {
            if (m_host->DisplayName(child) == name) {
                found = child;
                ++count;
            }
        }
        const std::string where = Narrow(m_host->DisplayName(parent));
        if (count == 0) {
            Fail("\"" + where + "\" has no node named \"" + Narrow(name) + "\"");
            return 0;
        }
        if (count > 1) {
            Fail("\"" + Narrow(name) + "\" names " + std::to_string(count) + " nodes under \"" + where + "\"");
            return 0;
        }
        return found;
    }

    bool HasChild(HSCOPEITEM parent, const std::u16string& name)
    {
        for (HSCOPEITEM child : m_host->Children(parent))
            if (m_host->DisplayName(child) == name) return true;
        return false;
    }

    // Expands a node as the user would before using it.
    void ExpandOnce(HSCOPEITEM item)
    {
        if (!m_host->WasExpanded(item) && m_host->Item(item).expandable) m_host->Expand(item);
    }

    // Walks a path from the root, expanding every node on the way, and the
    // node named by the path too when `expandTarget`.
    HSCOPEITEM Resolve(const std::vector<std::u16string>& names, bool expandTarget)
    {
        HSCOPEITEM item = m_root;
        for (std::size_t i = 0; i < names.size(); ++i) {
            item = Child(item, names[i]);
            if (item == 0) return 0;
            if (i + 1 < names.size() || expandTarget) ExpandOnce(item);
        }
        return item;
    }

    // The host at GROUP/HOST, without expanding the host.
    HSCOPEITEM ResolveHost(const std::string& path)
    {
        const std::vector<std::u16string> names = ParseNodePath(Wide(path));
        if (names.size() != 2) {
            Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
            return 0;
        }
        const HSCOPEITEM group = Child(m_root, names[0]);
        if (group == 0) return 0;
        ExpandOnce(group);
        return Child(group, names[1]);
    }

    // Whether the item's menu offers the command (an id of
    // platform/snapin_contract.h), and its check mark; false with an error
    // when it does not.
    bool MenuOffers(HSCOPEITEM item, long commandId, bool* checked = nullptr)
    {
        for (const MenuItemView& entry : m_host->MenuItems(item)) {
            if (!entry.separator && entry.commandId == commandId) {
                if (checked != nullptr) *checked = entry.checked;
                return true;
            }
        }
        Fail("the menu of \"" + Narrow(m_host->DisplayName(item)) + "\" offers no command " + std::to_string(commandId));
        return false;
    }

    // Runs a command the item's menu offers, as choosing it does.
    HRESULT Invoke(HSCOPEITEM item, long commandId)
    {
        if (!MenuOffers(item, commandId)) return E_FAIL;
        return m_host->InvokeCommand(item, commandId);
    }

    // Expands a subtree for listing: everything but hosts below it.
    void ExpandForListing(HSCOPEITEM item)
    {
        for (HSCOPEITEM child : m_host->Children(item)) {
            if (m_host->NodeType(child) == kHostNodeType) continue;
            ExpandOnce(child);
            if (m_host->Exists(child)) ExpandForListing(child);
        }
    }

    // The Name/Value rows the result pane shows for the item; false for a
    // page, or a list without columns.
    bool Rows(HSCOPEITEM item, std::vector<std::pair<std::u16string, std::u16string>>& rows, std::string& page)
    {
        rows.clear();
        page.clear();
        m_host->Select(item);
        const ResultView& view = m_host->Result();
        if (view.kind == ResultKind::Page) {
            page = view.pageName;
            return false;
        }
        if (view.kind != ResultKind::List || view.columns.empty()) return false;
        for (const ResultRowView& row : view.rows)
            rows.emplace_back(row.cells.empty() ? u"" : row.cells[0], row.cells.size() > 1 ? row.cells[1] : u"");
        return true;
    }

    void WriteNodeJson(CJsonWriter& json, HSCOPEITEM item)
    {
        json.BeginObject();
        json.Key("name");
        json.String(m_host->DisplayName(item));
        std::u16string address;
        int port = 0;
        if (m_host->HostAddress(item, address, port)) {
            json.Key("address");
            json.String(address);
            json.Key("port");
            json.Number(port);
            if (const std::optional<bool> sudo = m_host->HostSudo(item)) {
                json.Key("sudo");
                json.Bool(*sudo);
            }
            if (const std::optional<std::string> method = m_host->HostLoginMethod(item)) {
                json.Key("loginMethod");
                json.String(*method);
            }
            if (const std::u16string jump = m_host->HostJump(item); !jump.empty()) {
                json.Key("jump");
                json.String(jump);
            }
        }
        const std::vector<HSCOPEITEM> children = m_host->Children(item);
        if (!children.empty()) {
            json.Key("children");
            json.BeginArray();
            for (HSCOPEITEM child : children) WriteNodeJson(json, child);
            json.EndArray();
        }
        std::vector<std::pair<std::u16string, std::u16string>> rows;
        std::string page;
        if (Rows(item, rows, page)) {
            json.Key("rows");
            WriteRowsJson(json, rows);
        }
        json.EndObject();
    }

    static void WriteRowsJson(CJsonWriter& json, const std::vector<std::pair<std::u16string, std::u16string>>& rows)
    {
        json.BeginArray();
        for (const auto& [name, value] : rows) {
            json.BeginArray();
            json.String(name);
            json.String(value);
            json.EndArray();
        }
        json.EndArray();
    }

    void PrintTree(HSCOPEITEM item, int depth, bool withRows)
    {
        const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
        std::printf("%s%s\n", indent.c_str(), TerminalText(m_host->DisplayName(item)).c_str());
        if (withRows) {
            std::vector<std::pair<std::u16string, std::u16string>> rows;
            std::string page;
            if (Rows(item, rows, page)) {
                for (const auto& [name, value] : rows)
                    std::printf("%s  - %s: %s\n", indent.c_str(), TerminalText(name).c_str(),
                                TerminalText(value).c_str());
            }
        }
        for (HSCOPEITEM child : m_host->Children(item)) PrintTree(child, depth + 1, withRows);
    }

private:
    bool Lock()
    {
        std::string message;
        return m_guard.Lock(kLockTimeoutMs, message) || Fail(message);
    }

    // Another ferrodex saved the file while this session scanned: its file
    // is kept as it is, with this session's scans added host by host.
    void MergeScans()
    {
        const std::string& path = m_host->FilePath();
        const HostStatus status = MergeSessionScans(m_guard, m_historyFile, CollectSessionScans(*m_host), m_merge);
        if (!status) {
            Fail(status.message + "; this command's scans are not saved to " + path + ": run it again");
            return;
        }
        m_bSaved = true;
        std::fprintf(stderr, "Note: console file %s was saved by another ferrodex while this command ran; its changes "
                             "are kept and this command's scans were added to it\n",
                     TerminalText(path).c_str());
        for (const std::u16string& host : m_merge.older)
            std::fprintf(stderr, "Note: %s: another ferrodex saved a newer scan of it; that one is kept\n",
                         TerminalText(Narrow(host)).c_str());
        for (const std::u16string& host : m_merge.gone)
            std::fprintf(stderr, "Warning: %s is no longer in %s; its scan is not saved there\n",
                         TerminalText(Narrow(host)).c_str(), TerminalText(path).c_str());
        std::fflush(stderr);
    }

    bool OpenedRoot()
    {
        m_root = m_host->RootItem();
        if (m_root == 0) return Fail("the console holds no Ferrodex inventory");
        m_host->Expand(m_root);
        return true;
    }

    CConsoleFileGuard m_guard;  // its lock is released last, after the host has saved and gone
    EAccess m_access = EAccess::Change;
    CScriptUserInterface m_ui;
    IUserInterface* m_previous = nullptr;
    std::unique_ptr<CConsoleHost> m_host = std::make_unique<CConsoleHost>();
    std::unique_ptr<CHistoryRecorder> m_recorder;
    HSCOPEITEM m_root = 0;
    bool m_bSaved = false;
    bool m_bScansOnly = true;
    std::string m_historyFile;
    SScanMergeOutcome m_merge;
};

void PrintJson(const CJsonWriter& json) { std::printf("%s\n", json.Text().c_str()); }

}  // namespace

std::string HistoryKeyOfPath(const CommandContext& context, const std::string& path)
{
    return HistoryHostOfPath(context, path).key;
}

HistoryHost HistoryHostOfPath(const CommandContext& context, const std::string& path)
{
    HistoryHost asked = HistoryHost::OfKey(path);
    asked.path = path;
    const std::vector<std::u16string> names = ParseNodePath(Wide(path));
    const std::string file = context.consoleFile.empty() ? DefaultConsoleFile() : context.consoleFile;
    if (names.size() != 2 || file.empty() || !StampOfFile(file).exists) return asked;
    CCommandSession session{ScriptAnswers{}};
    if (!session.Open(context, EAccess::Read)) {
        session.Finish(false);
        return asked;
    }
    CConsoleHost& console = session.Host();
    for (HSCOPEITEM group : console.Children(session.Root())) {
        if (console.DisplayName(group) != names[0]) continue;
        session.ExpandOnce(group);
        for (HSCOPEITEM host : console.Children(group)) {
            if (console.DisplayName(host) != names[1]) continue;
            asked.key = HistoryKeyOf(console, host, path);
            std::u16string address;
            if (console.HostAddress(host, address, asked.port)) asked.address = Narrow(address);
        }
    }
    session.Finish(false);
    return asked;
}

std::string HistoryLocationOf(const CommandContext& context)
{
    return HistoryLocationFor(context.consoleFile, ChosenHistory(context.history));
}

int CommandGroupAdd(const CommandContext& context, const std::string& name)
{
    ScriptAnswers answers;
    answers.groupName = Wide(name);
    CCommandSession session(std::move(answers));
    if (!session.Open(context)) return session.Finish(false);
    if (session.HasChild(session.Root(), Wide(name))) {
        session.Fail("a group named \"" + name + "\" exists already");
        return session.Finish(false);
    }
    session.Invoke(session.Root(), IDM_ADD_GROUP);
    return session.Finish();
}

int CommandGroupRename(const CommandContext& context, const std::string& name, const std::string& newName)
{
    CCommandSession session({});
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM group = session.Child(session.Root(), Wide(name));
    if (group == 0) return session.Finish(false);
    if (name != newName && session.HasChild(session.Root(), Wide(newName))) {
        session.Fail("a group named \"" + newName + "\" exists already");
        return session.Finish(false);
    }
    if (session.Host().Rename(group, Wide(newName)) != S_OK && !session.Ui().Failed()) session.Fail("\"" + name + "\" cannot be renamed");
    return session.Finish();
}

int CommandGroupDelete(const CommandContext& context, const std::string& name)
{
    CCommandSession session({});
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM group = session.Child(session.Root(), Wide(name));
    if (group == 0) return session.Finish(false);
    session.ExpandOnce(group);
    session.Invoke(group, IDM_DELETE_GROUP);
    return session.Finish();
}

int CommandHostAdd(const CommandContext& context, const std::string& groupName, const std::string& hostName,
                   const HostOptions& options)
{
    ScriptAnswers answers = AnswersFrom(options);
    answers.answerHostDialog = true;
    answers.host = Wide(options.address.value_or(hostName));
    if (options.address) answers.hostName = Wide(hostName);
    // An empty name field stands for "named by the address" in the dialog;
    // a name given empty on the command line is still refused as a name.
    if (hostName.empty()) answers.host = answers.hostName = u"";
    CCommandSession session(std::move(answers));
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM group = session.Child(session.Root(), Wide(groupName));
    if (group == 0) return session.Finish(false);
    session.ExpandOnce(group);
    if (session.HasChild(group, Wide(hostName))) {
        session.Fail("\"" + groupName + "\" holds a host named \"" + hostName + "\" already");
        return session.Finish(false);
    }
    if (session.Invoke(group, IDM_ADD_HOST) == S_FALSE && !session.Ui().Failed())
        session.Fail("adding the host was cancelled");
    return session.Finish();
}

int CommandImport(const CommandContext& context, const std::string& groupName, const std::string& file,
                  const std::string& format, bool dryRun, bool json)
{
    ScriptAnswers answers;
    answers.importJson = json;
    answers.groupName = Wide(groupName);
    answers.importFile = Wide(file);
    answers.importFormat = Wide(format.empty() ? "auto" : format);
    CCommandSession session(std::move(answers));
    if (!session.Open(context)) return session.Finish(false);
    if (!session.HasChild(session.Root(), Wide(groupName))) {
        session.Invoke(session.Root(), IDM_ADD_GROUP);
        if (session.Ui().Failed()) return session.Finish(false);
    }
    const HSCOPEITEM group = session.Child(session.Root(), Wide(groupName));
    if (group == 0) return session.Finish(false);
    session.ExpandOnce(group);
    if (session.Invoke(group, IDM_IMPORT_HOSTS) != S_OK && !session.Ui().Failed())
        session.Fail("nothing was imported");
    // Nothing is saved when the file could not be read: not even the group.
    // A dry run saves nothing at all.
    if (dryRun && !session.Ui().Failed()) {
        std::fprintf(stderr, "Note: a dry run: the console file was not changed\n");
        std::fflush(stderr);
    }
    return session.Finish(!dryRun && !session.Ui().Failed());
}

int CommandHostEdit(const CommandContext& context, const std::string& path, const HostOptions& options)
{
    ScriptAnswers answers = AnswersFrom(options);
    answers.answerHostDialog = true;
    CCommandSession session(std::move(answers));
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM host = session.ResolveHost(path);
    if (host == 0) return session.Finish(false);
    if (session.Host().InvokeCommand(host, kEditHostCommand) != S_OK && !session.Ui().Failed())
        session.Fail("editing the host was cancelled");
    return session.Finish();
}

int CommandHostRename(const CommandContext& context, const std::string& path, const std::string& newName)
{
    CCommandSession session({});
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM host = session.ResolveHost(path);
    if (host == 0) return session.Finish(false);
    // The host itself refuses a name another host of its group has, and says so.
    if (session.Host().Rename(host, Wide(newName)) != S_OK && !session.Ui().Failed())
        session.Fail("\"" + path + "\" cannot be renamed");
    return session.Finish();
}

int CommandHostRemove(const CommandContext& context, const std::string& path)
{
    CCommandSession session({});
    if (!session.Open(context)) return session.Finish(false);
    const HSCOPEITEM host = session.ResolveHost(path);
    if (host == 0) return session.Finish(false);
    session.Host().InvokeCommand(host, kRemoveHostCommand);
    return session.Finish();
}

int CommandHostRefresh(const CommandContext& context, const std::string& path, const HostOptions& options)
{
    // The snap-in reads the setting under this name; the value holds for
    // this process only.
    if (options.commandTimeout) OverrideSettingDword(kProductKey, kCommandTimeoutSetting, static_cast<DWORD>(*options.commandTimeout));
    if (options.sudo.value_or(false)) OverrideSettingDword(kProductKey, kSudoThisRunSetting, 1);
    CCommandSession session(AnswersFrom(options));
    if (!session.Open(context, EAccess::Read)) return session.Finish(false);
    const HSCOPEITEM host = session.ResolveHost(path);
    if (host == 0) return session.Finish(false);
    // Login details given to the refresh become the host's first, as the
    // login question would take them: a host that logs in with a key may
    // still need the password (or the key its passphrase) and not ask.
    const bool loginGiven = options.login || options.passwordFromInput || !options.identities.empty() || options.agent ||
                            options.passphraseFromInput;
    if (loginGiven) session.NoteEdits();
    if (loginGiven && session.Host().InvokeCommand(host, kEditHostCommand) != S_OK) {
        if (!session.Ui().Failed()) session.Fail("the login details of \"" + path + "\" were not taken");
        return session.Finish(false);
    }
    session.Recorder().ConnectShared();
    if (session.Host().InvokeCommand(host, kRefreshHostCommand) != S_OK && !session.Ui().Failed())
        session.Fail("the hardware of \"" + path + "\" could not be retrieved");
    return session.Finish();
}

int CommandTree(const CommandContext& context, const std::string& path, bool json, const HostOptions& options)
{
    CCommandSession session(AnswersFrom(options));
    if (!session.Open(context, EAccess::Read)) return session.Finish(false);
    const HSCOPEITEM item = session.Resolve(ParseNodePath(Wide(path)), true);
    if (item == 0) return session.Finish(false);
    session.ExpandForListing(item);
    if (json) {
        CJsonWriter writer;
        session.WriteNodeJson(writer, item);
        PrintJson(writer);
    } else {
        session.PrintTree(item, 0, false);
    }
    std::fflush(stdout);
    return session.Finish();
}

namespace {

// The lines of a table whose columns are two spaces apart, measured in
// terminal columns. When the lines would be wider than `width` (0: any
// width), the cells of column `cut` are shortened with "…" as far as needed
// (never below its heading); the other columns stay whole.
std::vector<std::string> FitTable(const std::vector<std::vector<std::string>>& table, std::size_t cut, int width)
{
    using namespace fdx::tui;
    std::vector<std::vector<std::wstring>> cells;
    std::vector<int> widths;
    for (const auto& line : table) {
        cells.emplace_back();
        for (std::size_t i = 0; i < line.size(); ++i) {
            cells.back().push_back(DecodeUtf16(Wide(line[i])));
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], TextColumns(cells.back().back()));
        }
    }
    int total = 0;
    for (int columns : widths) total += columns + 2;
    total -= 2;
    if (width > 0 && total > width && cut < widths.size() && !cells.empty() && cut < cells.front().size())
        widths[cut] = std::max(TextColumns(cells.front()[cut]), widths[cut] - (total - width));
    std::vector<std::string> lines;
    for (const auto& line : cells) {
        std::wstring text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const bool last = i + 1 == line.size();
            text += last ? FitColumns(line[i], widths[i]) : PadColumns(line[i], widths[i]) + L"  ";
        }
        while (!text.empty() && text.back() == L' ') text.pop_back();
        lines.push_back(Narrow(FromTerminal(text)));
    }
    return lines;
}

struct SHostOutcome {
    std::u16string group;
    std::u16string name;
    std::vector<std::u16string> cells;
    HSCOPEITEM item = 0;
};

// The hosts of a group as its list shows them. A host whose picture came
// from the console file (not scanned in this session, or whose refresh
// failed since) takes its last scan time from the history.
std::vector<SHostOutcome> ListedHosts(CConsoleHost& host, HSCOPEITEM group, CHistoryTimes& times)
{
    std::vector<SHostOutcome> listed;
    const std::u16string groupName = host.DisplayName(group);
    host.Select(group);
    const ResultView& view = host.Result();
    if (view.kind != ResultKind::List || view.columns.size() < HOST_COL_COUNT) return listed;
    for (const ResultRowView& row : view.rows) {
        if (row.cells.size() < HOST_COL_COUNT) continue;
        HSCOPEITEM item = 0;
        for (HSCOPEITEM child : host.Children(group))
            if (host.DisplayName(child) == row.cells[HOST_COL_NAME]) item = child;
        SHostOutcome outcome{groupName, row.cells[HOST_COL_NAME], row.cells, item};
        if (outcome.cells[HOST_COL_LAST_SCAN].empty() && item != 0 && host.HostHoldsPicture(item)) {
            FleetHost known;
            known.group = groupName;
            known.name = outcome.name;
            known.scanned = true;
            known.historyKey = HistoryKeyOf(host, item, WideToAnsi(FleetHostPath(known)));
            times.Fill(known);
            if (known.scanTime) outcome.cells[HOST_COL_LAST_SCAN] = *known.scanTime;
        }
        listed.push_back(std::move(outcome));
    }
    return listed;
}

}  // namespace

int CommandShow(const CommandContext& context, const std::string& path, bool json, const HostOptions& options)
{
    CCommandSession session(AnswersFrom(options));
    if (!session.Open(context, EAccess::Read)) return session.Finish(false);
    const HSCOPEITEM item = session.Resolve(ParseNodePath(Wide(path)), true);
    if (item == 0) return session.Finish(false);
    if (session.Host().NodeType(item) == kGroupNodeType) {
        // A group: its hosts with the columns of its list.
        session.Host().Select(item);
        std::vector<std::u16string> titles;
        for (const ResultColumnView& column : session.Host().Result().columns) titles.push_back(column.title);
        CHistoryTimes times(HistoryLocationOf(context));
        const std::vector<SHostOutcome> hosts = ListedHosts(session.Host(), item, times);
        if (json) {
            CJsonWriter writer;
            writer.BeginObject();
            writer.Key("columns");
            writer.BeginArray();
            for (const std::u16string& title : titles) writer.String(title);
            writer.EndArray();
            writer.Key("rows");
            writer.BeginArray();
            for (const SHostOutcome& host : hosts) {
                writer.BeginArray();
                for (const std::u16string& cell : host.cells) writer.String(cell);
                writer.EndArray();
            }
            writer.EndArray();
            writer.EndObject();
            PrintJson(writer);
        } else {
            std::vector<std::vector<std::string>> table(1);
            for (const std::u16string& title : titles) table[0].push_back(TerminalText(title));
            for (const SHostOutcome& host : hosts) {
                table.emplace_back();
                for (const std::u16string& cell : host.cells) table.back().push_back(TerminalText(cell));
            }
            if (!hosts.empty())
                for (const std::string& line : FitTable(table, HOST_COL_RESULT, TerminalColumns())) std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
        return session.Finish();
    }
    std::vector<std::pair<std::u16string, std::u16string>> rows;
    std::string page;
    session.Rows(item, rows, page);
    if (json) {
        CJsonWriter writer;
        writer.BeginObject();
        if (!page.empty()) {
            writer.Key("page");
            writer.String(page);
        } else {
            writer.Key("rows");
            CCommandSession::WriteRowsJson(writer, rows);
        }
        writer.EndObject();
        PrintJson(writer);
    } else if (!page.empty()) {
        std::printf("%s\n", TerminalText(page).c_str());
    } else {
        std::vector<std::pair<std::string, std::string>> shown;
        std::size_t width = 0;
        for (const auto& [name, value] : rows) {
            shown.emplace_back(TerminalText(name), TerminalText(value));
            width = std::max(width, shown.back().first.size());
        }
        width = std::min<std::size_t>(width, 40);
        for (const auto& [name, value] : shown)
            std::printf("%-*s  %s\n", static_cast<int>(width), name.c_str(), value.c_str());
    }
    std::fflush(stdout);
    return session.Finish();
}

int CommandFind(const CommandContext& context, const std::string& query, bool json, bool fromHistory)
{
    CCommandSession session(FleetReadAnswers());
    if (fromHistory) {
        // The latest scan of every host the history holds, read as the
        // console file's hosts are read.
        const std::string location = HistoryLocationOf(context);
        std::string error;
        std::unique_ptr<CHistoryStore> store = OpenHistoryStore(location, false, HistoryConnectTimeout(), error);
        std::vector<InventoryImageHost> hosts;
        std::vector<SHistoryFleetEntry> entries;
        if (!store || !ReadHistoryFleet(*store, hosts, entries, error)) {
            session.Fail("the history " + HistoryShownAs(location) + " cannot be read: " + error);
            session.Finish(false);
            return 2;
        }
        // One picture at a time, read as its host is added.
        std::vector<std::uint8_t> image;
        const auto xmlOf = [&](std::size_t index, std::u16string& xml, std::string& reason) {
            if (ReadHistoryFleetXml(*store, entries[index], xml, reason)) return true;
            reason = "the history " + HistoryShownAs(location) + " cannot be read: " + reason;
            return false;
        };
        if (HostStatus built = BuildInventoryImage(hosts, xmlOf, image); !built) {
            session.Fail(built.message);
            session.Finish(false);
            return 2;
        }
        store.reset();
        hosts = {};
        const bool opened = session.OpenImage(image);
        image = {};
        if (!opened) {
            session.Finish(false);
            return 2;
        }
    } else if (!session.Open(context, EAccess::Read)) {
        return session.Finish(false);
    }
    // As grep: 0 when something matched, 1 when nothing did, 2 on an error.
    const std::size_t matches = RunFind(session.Host(), session.Root(), query, json, session.Ui());
    if (session.Finish(false) != 0) return 2;
    return matches > 0 ? 0 : 1;
}

int CommandExport(const CommandContext& context, const std::vector<std::string>& paths, const std::string& format,
                  const std::string& file)
{
    CCommandSession session(FleetReadAnswers());
    if (!session.Open(context, EAccess::Read)) return session.Finish(false);
    RunExport(session.Host(), session.Root(), paths, format, file, HistoryLocationOf(context), session.Ui());
    return session.Finish(false);
}

int CommandPasswords(const CommandContext& context, bool on)
{
    CCommandSession session({});
    if (!session.Open(context)) return session.Finish(false);
    bool checked = false;
    if (!session.MenuOffers(session.Root(), IDM_SAVE_PASSWORDS, &checked)) return session.Finish(false);
    if (checked != on) {
        session.Host().InvokeCommand(session.Root(), IDM_SAVE_PASSWORDS);
        session.MenuOffers(session.Root(), IDM_SAVE_PASSWORDS, &checked);
        if (checked != on) session.Fail("Save Passwords stays off: no main password was given");
    }
    return session.Finish();
}

int CommandViewXml(const std::string& file, bool json)
{
    ScriptAnswers answers;
    // The host holds its XML: its login question is answered with any login,
    // and no connection is made.
    answers.login = u"root";
    CCommandSession session(std::move(answers));
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (ReadFileLimited(file, kMaxXmlFile, bytes, reason) != FileReadResult::Ok) {
        session.Fail("cannot read " + file + ": " + reason);
        return session.Finish(false);
    }
    if (bytes.empty()) {
        session.Fail(file + " is empty");
        return session.Finish(false);
    }
    std::vector<std::uint8_t> image;
    {
        // Each copy of the text goes as soon as the next one is made.
        std::vector<InventoryImageHost> hosts(1);
        hosts[0] = {u"view-xml", u"xml",
                    AnsiToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))};
        bytes = {};
        if (HostStatus status = BuildInventoryImage(hosts, image); !status) {
            session.Fail(status.message);
            return session.Finish(false);
        }
    }
    const bool opened = session.OpenImage(image);
    image = {};
    if (!opened) return session.Finish(false);
    const HSCOPEITEM host = session.Resolve({u"view-xml", u"xml"}, true);
    if (host == 0) return session.Finish(false);
    const std::vector<HSCOPEITEM> nodes = session.Host().Children(host);
    if (nodes.empty()) {
        session.Fail(file + " holds no lshw hardware tree");
        return session.Finish(false);
    }
    session.ExpandForListing(host);
    if (json) {
        CJsonWriter writer;
        writer.BeginArray();
        for (HSCOPEITEM node : session.Host().Children(host)) session.WriteNodeJson(writer, node);
        writer.EndArray();
        PrintJson(writer);
    } else {
        for (HSCOPEITEM node : session.Host().Children(host)) session.PrintTree(node, 0, true);
    }
    std::fflush(stdout);
    return session.Finish(false);
}

int CommandCompletePaths(const CommandContext& context)
{
    // Standard input gives no answer: a console that asks (an encrypted one)
    // completes nothing rather than waiting.
    ScriptAnswers answers;
    CCommandSession session(std::move(answers));
    if (!session.Open(context, EAccess::Read)) return 1;
    for (HSCOPEITEM group : session.Host().Children(session.Root())) {
        const std::u16string groupName = session.Host().DisplayName(group);
        std::printf("%s\n", Narrow(FormatNodePath({groupName})).c_str());
        session.ExpandOnce(group);  // a group's hosts; hosts are never expanded
        for (HSCOPEITEM host : session.Host().Children(group))
            std::printf("%s\n", Narrow(FormatNodePath({groupName, session.Host().DisplayName(host)})).c_str());
    }
    std::fflush(stdout);
    return session.Finish(false);
}

int CommandRegister()
{
    if (HostStatus status = RegisterSnapin(); !status) {
        std::fprintf(stderr, "Error: %s\n", TerminalText(status.message, ELineFeeds::Kept).c_str());
        return 1;
    }
    return 0;
}

int CommandUnregister()
{
    if (HostStatus status = UnregisterSnapin(); !status) {
        std::fprintf(stderr, "Error: %s\n", TerminalText(status.message, ELineFeeds::Kept).c_str());
        return 1;
    }
    return 0;
}

int CommandRefresh(const CommandContext& context, const std::vector<std::string>& paths, int jobs, bool json,
                   const HostOptions& options)
{
    if (options.commandTimeout) OverrideSettingDword(kProductKey, kCommandTimeoutSetting, static_cast<DWORD>(*options.commandTimeout));
    OverrideSettingDword(kProductKey, kRefreshJobsSetting, static_cast<DWORD>(jobs));
    // SIGINT, SIGTERM and SIGHUP stop the scans still running; what has
    // finished is saved before the process ends with the signal's status.
    CStopRequestCatcher stopRequests;
    ScriptAnswers answers = AnswersFrom(options);
    answers.progressBar = true;
    // A changed host key is trusted only for the hosts named one by one
    // (below), never by this process's own questions.
    answers.acceptQuestions = false;
    CCommandSession session(std::move(answers));
    if (!session.Open(context, EAccess::Read)) return session.Finish(false);
    CConsoleHost& host = session.Host();
    // Every group is expanded (which contacts no host), so that each host
    // has its place in the tree and its scan goes to the history.
    session.ExpandOnce(session.Root());
    for (HSCOPEITEM group : host.Children(session.Root())) session.ExpandOnce(group);
    // The choice, checked against the tree first.
    std::u16string choice;
    std::vector<std::pair<std::u16string, std::u16string>> chosen;  // group, host ("" for all)
    for (const std::string& path : paths) {
        const std::vector<std::u16string> names = ParseNodePath(Wide(path));
        if (names.empty() || names.size() > 2) {
            session.Fail("\"" + path + "\" names no group or host: write GROUP or GROUP/HOST");
            return session.Finish(false);
        }
        const HSCOPEITEM group = session.Child(session.Root(), names[0]);
        if (group == 0 || (names.size() == 2 && session.Child(group, names[1]) == 0)) return session.Finish(false);
        chosen.emplace_back(names[0], names.size() == 2 ? names[1] : std::u16string());
        choice += names[0] + (names.size() == 2 ? u"/" + names[1] : std::u16string()) + u"\n";
    }
    std::u16string trusted;
    for (const auto& [groupName, hostName] : chosen)
        if (!hostName.empty()) trusted += groupName + u"/" + hostName + u"\n";
    if (options.acceptChangedHostKey && trusted.empty()) {
        session.Fail("--accept-changed-host-key trusts the hosts named as GROUP/HOST only: name them");
        return session.Finish(false);
    }
    if (!paths.empty()) OverrideSettingText(kProductKey, kRefreshChoiceSetting, choice);
    if (options.acceptChangedHostKey) OverrideSettingText(kProductKey, kRefreshTrustSetting, trusted);
    if (options.yes) OverrideSettingDword(kProductKey, kRefreshDeploySetting, 1);
    session.Recorder().ConnectShared();
    const HRESULT result = session.Invoke(session.Root(), IDM_REFRESH_ALL);
    ForgetSettingTextOverride(kProductKey, kRefreshChoiceSetting);
    ForgetSettingTextOverride(kProductKey, kRefreshTrustSetting);
    if (FAILED(result)) return session.Finish(false);
    session.Ui().EndProgress();

    // The outcome, from each group's list.
    std::vector<SHostOutcome> outcomes;
    CHistoryTimes times(HistoryLocationOf(context));
    for (HSCOPEITEM group : host.Children(session.Root())) {
        for (SHostOutcome& outcome : ListedHosts(host, group, times)) {
            const bool wanted = chosen.empty() || std::any_of(chosen.begin(), chosen.end(), [&](const auto& entry) {
                                    return entry.first == outcome.group && (entry.second.empty() || entry.second == outcome.name);
                                });
            if (wanted) outcomes.push_back(std::move(outcome));
        }
    }
    // Saved first: each record then says whether its scan was kept.
    const int status = session.Finish();
    const bool saved = session.Saved();
    std::size_t failed = 0;
    std::size_t kept = 0;
    std::vector<std::vector<std::string>> table;
    table.push_back({"HOST", "RESULT", "LAST SCAN", "LOGIN", "SUDO", "ROOT"});
    const std::u16string ok = kScanResultOk;
    for (const SHostOutcome& outcome : outcomes) {
        const bool good = outcome.cells[HOST_COL_RESULT] == ok;
        if (!good) ++failed;
        const std::u16string path = FormatNodePath({outcome.group, outcome.name});
        const bool keptHere = good && saved && !session.ScanDropped(path);
        if (keptHere) ++kept;
        // A scan that went on without root rights says why, as a host
        // refresh does.
        std::u16string rootReason;
        // -1: no scan of this session tells; 0: without root; 1: as root.
        int root = -1;
        if (good)
            if (const std::optional<bool> asRoot = host.HostScannedAsRoot(outcome.item, rootReason)) root = *asRoot ? 1 : 0;
        if (root == 0 && !rootReason.empty())
            std::fprintf(stderr, "Note: %s: %s\n", TerminalText(Narrow(path)).c_str(),
                         TerminalText(Narrow(rootReason)).c_str());
        if (json) {
            CJsonWriter writer;
            writer.BeginObject();
            writer.Key("host");
            writer.String(path);
            writer.Key("group");
            writer.String(outcome.group);
            writer.Key("name");
            writer.String(outcome.name);
            writer.Key("ok");
            writer.Bool(good);
            writer.Key("saved");
            writer.Bool(keptHere);
            writer.Key("result");
            writer.String(outcome.cells[HOST_COL_RESULT]);
            writer.Key("scanned");
            if (outcome.cells[HOST_COL_LAST_SCAN].empty())
                writer.Null();
            else
                writer.String(outcome.cells[HOST_COL_LAST_SCAN]);
            if (const std::optional<std::string> method = host.HostLoginMethod(outcome.item)) {
                writer.Key("loginMethod");
                writer.String(*method);
            }
            if (const std::optional<bool> sudo = host.HostSudo(outcome.item)) {
                writer.Key("sudo");
                writer.Bool(*sudo);
            }
            if (root >= 0) {
                writer.Key("root");
                writer.Bool(root == 1);
                if (!rootReason.empty()) {
                    writer.Key("rootReason");
                    writer.String(rootReason);
                }
            }
            writer.EndObject();
            PrintJson(writer);
            continue;
        }
        table.push_back({TerminalText(Narrow(path)), TerminalText(Narrow(outcome.cells[HOST_COL_RESULT])),
                         Narrow(outcome.cells[HOST_COL_LAST_SCAN]), TerminalText(Narrow(outcome.cells[HOST_COL_LOGIN])),
                         Narrow(outcome.cells[HOST_COL_SUDO]), root < 0 ? std::string() : root == 1 ? "yes" : "no"});
    }
    if (!json) {
        for (const std::string& line : FitTable(table, 1, TerminalColumns())) std::printf("%s\n", line.c_str());
        std::printf("%zu hosts, %zu failed\n", outcomes.size(), failed);
    }
    std::fflush(stdout);
    // A signal at any moment of the command ends it with the signal's
    // status, after the save.
    if (const EStopRequest stopped = PendingStopRequest(); stopped != EStopRequest::None) {
        std::fprintf(stderr, "ferrodex: refresh stopped by %s: %zu finished scan(s) saved, %zu host(s) without a new scan\n",
                     StopSignalName(stopped), kept, failed);
        return 128 + StopSignalNumber(stopped);
    }
    return failed != 0 ? 1 : status;
}
