#include "console/history_recorder.h"

#include "console/node_path.h"
#include "history/history_store.h"
#include "history/pg_history_store.h"
#include "platform/paths.h"
#include "platform/product_settings.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/ui.h"

std::string HistoryFileFor(const std::string& consoleFile)
{
    if (consoleFile.empty()) {
        const std::string fallback = DefaultConsoleFile();
        if (fallback.empty()) return {};
        return fallback.substr(0, fallback.rfind('/') + 1) + "history.db";
    }
    const std::size_t slash = consoleFile.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = consoleFile.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = consoleFile.size();
    return consoleFile.substr(0, dot) + ".history.db";
}

std::string ChosenHistory(const std::string& option)
{
    if (!option.empty()) return option;
    std::u16string value;
    if (!ReadSettingText(kProductSettingsKey, AnsiToWide(kHistoryDatabaseSetting), value)) return {};
    return WideToAnsi(value);
}

std::string CheckHistoryChoice(const std::string& chosen)
{
    return IsSharedHistoryLocation(chosen) ? CheckSharedHistoryLocation(chosen) : std::string();
}

std::string HistoryLocationFor(const std::string& consoleFile, const std::string& chosen)
{
    return chosen.empty() ? HistoryFileFor(consoleFile) : chosen;
}

int HistoryConnectTimeout() { return static_cast<int>(ProductSettingValue("ConnectTimeoutSeconds")); }

std::unique_ptr<CHistoryStore> OpenHistoryLocation(const std::string& location, bool create, std::string& error)
{
    return OpenHistoryStore(location, create, HistoryConnectTimeout(), error);
}

std::string HistoryShownAs(const std::string& location)
{
    return IsSharedHistoryLocation(location) ? DescribeSharedHistory(location) : location;
}

std::string HistoryKey(const std::string& consoleId, const std::string& hostId, const std::string& path)
{
    if (consoleId.empty() || hostId.empty()) return path;
    return consoleId + "." + hostId;
}

std::string HistoryKeyOf(const CConsoleHost& console, HSCOPEITEM host, const std::string& path)
{
    return HistoryKey(console.ConsoleId(), console.HostId(host), path);
}

void AdoptOlderHistory(CConsoleHost& console, const std::string& historyFile)
{
    if (historyFile.empty() || console.ConsoleId().empty()) return;
    SFileIdentity ignored;
    std::string why;
    if (CheckOwnFile(historyFile, ignored, why) != EOwnFileCheck::Ok) return;
    std::string error;
    std::unique_ptr<CHistoryStore> store = CHistoryStore::Open(historyFile, false, error);
    if (!store || !store->HoldsPathKeys(error)) return;
    const HSCOPEITEM root = console.RootItem();
    if (root == 0) return;
    for (HSCOPEITEM group : console.Children(root)) {
        if (!console.WasExpanded(group)) console.Expand(group);
        for (HSCOPEITEM host : console.Children(group)) {
            const std::string path = WideToAnsi(FormatNodePath({console.DisplayName(group), console.DisplayName(host)}));
            const std::string key = HistoryKeyOf(console, host, path);
            // A host never saved has no identity yet: it adopts them later.
            if (key != path && !store->Adopt(path, key, error)) return;
        }
    }
}

CHistoryRecorder::CHistoryRecorder(CConsoleHost& host, std::string historyFile, int keep, Warn warn,
                                   std::string shared)
    : m_host(host), m_historyFile(std::move(historyFile)), m_nKeep(keep), m_warn(std::move(warn)),
      m_shared(shared == m_historyFile ? std::string() : std::move(shared))
{
    m_host.SetScanSink(this);
}

CHistoryRecorder::~CHistoryRecorder() { m_host.SetScanSink(nullptr); }

void CHistoryRecorder::OnHostsMayHaveScanned(HSCOPEITEM item)
{
    RecordIfNew(item);
    // A command of the root may have scanned the hosts of every group.
    for (HSCOPEITEM child : m_host.Children(item)) {
        RecordIfNew(child);
        if (m_host.Parent(item) == 0)
            for (HSCOPEITEM grandchild : m_host.Children(child)) RecordIfNew(grandchild);
    }
}

void CHistoryRecorder::RecordIfNew(HSCOPEITEM item)
{
    HostScanView scan;
    if (!m_host.HostScan(item, scan)) return;
    auto found = m_recorded.find(item);
    if (found != m_recorded.end() && found->second == scan.when) return;
    m_recorded[item] = scan.when;

    ScanRecord record;
    const HSCOPEITEM group = m_host.Parent(item);
    record.host = WideToAnsi(FormatNodePath({m_host.DisplayName(group), m_host.DisplayName(item)}));
    record.key = HistoryKeyOf(m_host, item, record.host);
    std::u16string address;
    m_host.HostAddress(item, address, record.port);
    record.address = WideToAnsi(address);
    record.login = WideToAnsi(scan.login);
    record.xml = WideToAnsi(scan.xml);
    record.when = scan.when;

    std::string error;
    if (m_historyFile.empty()) {
        error = "no folder for it can be made";
    } else if (auto store = CHistoryStore::Open(m_historyFile, true, error)) {
        store->Record(record, m_nKeep, error);
    }
    if (!error.empty())
        Warning("The scan of " + record.host + " is shown but was not written to the history " + m_historyFile + ": " +
                error);
    RecordShared(record, error.empty());
}

void CHistoryRecorder::Warning(const std::string& text)
{
    if (m_warn)
        m_warn(text);
    else
        MessageBox(nullptr, AnsiToWide(text), u"Ferrodex", MB_OK | MB_ICONWARNING);
}

bool CHistoryRecorder::ConnectShared()
{
    if (m_shared.empty() || m_sharedStore) return true;
    if (m_bSharedDown) return false;
    std::string error;
    m_sharedStore = OpenHistoryLocation(m_shared, true, error);
    if (m_sharedStore) return true;
    m_bSharedDown = true;
    Warning("The history " + HistoryShownAs(m_shared) + " cannot be used (" + error +
            "); this command's scans are kept in the console file and in " + m_historyFile +
            "; `ferrodex history push` sends them later");
    return false;
}

void CHistoryRecorder::RecordShared(const ScanRecord& record, bool keptLocally)
{
    if (m_shared.empty()) return;
    std::string error;
    if (!m_bSharedDown && ConnectShared() && m_sharedStore->Record(record, m_nKeep, error)) return;
    const std::string text = "The scan of " + record.host + " did not reach the history " + HistoryShownAs(m_shared);
    const std::string kept = keptLocally ? "; it is kept in the console file and in " + m_historyFile +
                                               ": `ferrodex history push` sends it later"
                                         : "; it is kept in the console file only";
    if (m_bSharedDown && error.empty()) {
        Warning(text + kept);
        return;
    }
    // A connection lost or a write refused: the rest of this command's scans
    // stay local too, and are pushed together later.
    m_bSharedDown = true;
    m_sharedStore.reset();
    Warning(text + ": " + error + kept);
}
