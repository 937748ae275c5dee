#include "script_runner.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "text.h"

namespace {

// Longest saved stream read back from a file.
constexpr std::size_t kMaxStreamFile = 64u << 20;

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::ifstream file(std::filesystem::path(Widen(path)), std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    bytes.clear();
    char chunk[4096];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + file.gcount());
        if (bytes.size() > kMaxStreamFile) {
            error = path + " is too large for a saved state";
            return false;
        }
    }
    return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::ofstream file(std::filesystem::path(Widen(path)), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool Arguments(const std::vector<std::string>& words, std::size_t least, std::size_t most, std::string& error)
{
    const std::size_t given = words.size() - 1;
    if (given >= least && given <= most) return true;
    error = "\"" + words[0] + "\" takes " +
            (least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most)) +
            " argument" + (most == 1 ? "" : "s");
    return false;
}

}  // namespace

ScriptRunner::ScriptRunner(ConsoleSession& session, DialogAnswerer& answerer, Print print)
    : m_session(session), m_answerer(answerer), m_print(std::move(print))
{
}

bool ScriptRunner::Run(const std::string& line, int number)
{
    std::vector<std::string> words;
    std::string error;
    if (SplitWords(line, words, error) && (words.empty() || Execute(words, error))) return true;
    m_print("error: line " + std::to_string(number) + ": " + error);
    return false;
}

bool ScriptRunner::Finish()
{
    const std::size_t left = m_answerer.DropPending();
    if (left == 0) return true;
    m_print("error: " + std::to_string(left) + " answer" + (left == 1 ? "" : "s") + " no dialog took");
    return false;
}

HSCOPEITEM ScriptRunner::Node(const std::string& path, std::string& error)
{
    if (!m_session.Started()) {
        error = "no snap-in is loaded";
        return 0;
    }
    return m_session.Resolve(ParseNodePath(Widen(path)), error);
}

bool ScriptRunner::Execute(const std::vector<std::string>& words, std::string& error)
{
    const std::string& verb = words[0];
    if (verb == "echo") {
        std::string text;
        for (std::size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
        m_print(text);
        return true;
    }
    if (verb == "answer") {
        DialogAnswer answer;
        if (!ParseAnswer(std::vector<std::string>(words.begin() + 1, words.end()), answer, error)) return false;
        m_answerer.Queue(std::move(answer));
        return true;
    }
    if (verb == "load") {
        if (!Arguments(words, 1, 1, error)) return false;
        std::vector<std::uint8_t> bytes;
        return ReadFileBytes(words[1], bytes, error) && m_session.Start(&bytes, error);
    }
    if (verb == "new") {
        if (!Arguments(words, 0, 0, error)) return false;
        return m_session.Start(nullptr, error);
    }
    if (verb == "save") {
        if (!Arguments(words, 1, 1, error)) return false;
        std::vector<std::uint8_t> bytes;
        if (const HRESULT hr = m_session.Save(bytes); FAILED(hr)) {
            error = "the snap-in could not save its state (" + Hex(hr) + ")";
            return false;
        }
        return WriteFileBytes(words[1], bytes, error);
    }
    if (verb == "dirty") {
        if (!Arguments(words, 0, 0, error)) return false;
        const HRESULT hr = m_session.IsDirty();
        if (FAILED(hr)) {
            error = "the snap-in does not say whether it changed (" + Hex(hr) + ")";
            return false;
        }
        m_print(hr == S_OK ? "dirty yes" : "dirty no");
        return true;
    }

    // The rest name a node first.
    static const char* const kNodeCommands[] = {"expand", "tree", "show", "list", "verbs",
                                                "refresh", "menu", "command", "rename"};
    if (std::find_if(std::begin(kNodeCommands), std::end(kNodeCommands),
                     [&](const char* name) { return verb == name; }) == std::end(kNodeCommands)) {
        error = "unknown command \"" + verb + "\"";
        return false;
    }
    const HSCOPEITEM item = Node(words.size() > 1 ? words[1] : std::string(), error);
    if (item == 0) return false;
    if (verb == "expand") {
        if (!Arguments(words, 1, 2, error)) return false;
        if (words.size() == 3 && words[2] != "all") {
            error = "\"expand\" takes \"all\" after the path, or nothing";
            return false;
        }
        if (const HRESULT hr = words.size() == 3 ? ExpandAll(item) : m_session.Expand(item); FAILED(hr)) {
            error = "the snap-in did not expand it (" + Hex(hr) + ")";
            return false;
        }
        return true;
    }
    if (verb == "tree") {
        if (!Arguments(words, 0, 1, error)) return false;
        PrintTree(item, 0);
        return true;
    }
    if (verb == "show" || verb == "list") {
        if (!Arguments(words, 1, 1, error)) return false;
        return Show(item, verb == "list");
    }
    if (verb == "verbs") {
        if (!Arguments(words, 1, 1, error)) return false;
        m_session.Select(item);
        const std::string verbs = m_session.Verbs();
        m_print(verbs.empty() ? "verbs" : "verbs " + verbs);
        return true;
    }
    if (verb == "refresh") {
        if (!Arguments(words, 1, 1, error)) return false;
        m_session.Refresh(item);
        return true;
    }
    if (verb == "menu") {
        if (!Arguments(words, 1, 2, error)) return false;
        return Menu(item, words, error);
    }
    if (verb == "command") {
        if (!Arguments(words, 2, 2, error)) return false;
        long id = 0;
        const std::string& text = words[2];
        const auto [at, failed] = std::from_chars(text.data(), text.data() + text.size(), id);
        if (failed != std::errc() || at != text.data() + text.size()) {
            error = "\"" + text + "\" is no command id";
            return false;
        }
        const HRESULT hr = m_session.Command(item, id);
        if (hr != S_OK) m_print("command " + text + " -> " + Hex(hr));
        return true;
    }
    // rename
    if (!Arguments(words, 2, 2, error)) return false;
    const HRESULT hr = m_session.Rename(item, Widen(words[2]));
    if (hr != S_OK) m_print("rename refused (" + Hex(hr) + ")");
    return true;
}

HRESULT ScriptRunner::ExpandAll(HSCOPEITEM item)
{
    if (const HRESULT hr = m_session.Expand(item); FAILED(hr)) return hr;
    const CScopeItem* found = m_session.Item(item);
    if (found == nullptr) return S_OK;
    // The snap-in may change the list while a child expands.
    const std::vector<HSCOPEITEM> children = found->children;
    for (HSCOPEITEM child : children)
        if (const HRESULT hr = ExpandAll(child); FAILED(hr)) return hr;
    return S_OK;
}

void ScriptRunner::PrintTree(HSCOPEITEM item, int depth)
{
    m_print(std::string(static_cast<std::size_t>(depth) * 2, ' ') + OneLine(m_session.DisplayName(item)));
    const CScopeItem* found = m_session.Item(item);
    if (found == nullptr) return;
    const std::vector<HSCOPEITEM> children = found->children;
    for (HSCOPEITEM child : children) PrintTree(child, depth + 1);
}

bool ScriptRunner::Show(HSCOPEITEM item, bool allColumns)
{
    m_session.Select(item);
    const ResultShown shown = m_session.Shown();
    if (!shown.page.empty()) {
        const std::size_t slash = shown.page.find_last_of(L"/\\");
        m_print("page " + Narrow(slash == std::wstring::npos ? shown.page : shown.page.substr(slash + 1)));
        return true;
    }
    if (allColumns) {
        auto joined = [](const std::vector<std::wstring>& cells) {
            std::string line;
            for (std::size_t i = 0; i < cells.size(); ++i) line += (i > 0 ? " | " : "") + OneLine(cells[i]);
            return line;
        };
        m_print("columns " + joined(shown.columns));
        for (const auto& row : shown.rows) m_print(joined(row));
        return true;
    }
    // As the console's "show" prints them: the name padded to the longest
    // (at most 40), two blanks, the value.
    if (shown.columns.empty()) return true;
    std::vector<std::pair<std::string, std::string>> rows;
    std::size_t width = 0;
    for (const auto& row : shown.rows) {
        rows.emplace_back(row.empty() ? std::string() : OneLine(row[0]), row.size() > 1 ? OneLine(row[1]) : "");
        width = std::max(width, rows.back().first.size());
    }
    width = std::min<std::size_t>(width, 40);
    for (const auto& [name, value] : rows) {
        std::string line = name;
        if (line.size() < width) line.append(width - line.size(), ' ');
        m_print(line + "  " + value);
    }
    return true;
}

bool ScriptRunner::Menu(HSCOPEITEM item, const std::vector<std::string>& words, std::string& error)
{
    const std::vector<MenuItemView> entries = m_session.Menu(item);
    if (words.size() == 2) {
        for (const MenuItemView& entry : entries) {
            if (entry.separator) {
                m_print("-");
                continue;
            }
            std::string line = std::to_string(entry.commandId) + "  " + OneLine(Widen(entry.name));
            if (entry.checked) line += " [checked]";
            if (entry.grayed) line += " [grayed]";
            m_print(line);
        }
        return true;
    }
    const std::wstring wanted = Widen(words[2]);
    for (const MenuItemView& entry : entries) {
        if (entry.separator || Widen(entry.name) != wanted) continue;
        if (entry.grayed) {
            error = "\"" + words[2] + "\" is grayed";
            return false;
        }
        const HRESULT hr = m_session.Command(item, entry.commandId);
        if (hr != S_OK) m_print("command \"" + words[2] + "\" -> " + Hex(hr));
        return true;
    }
    error = "the menu of \"" + OneLine(m_session.DisplayName(item)) + "\" offers no \"" + words[2] + "\"";
    return false;
}
