#include "inventory/import/ssh_config_import.h"

#include <map>
#include <set>

#include "inventory/import/text_lines.h"
#include "platform/text.h"

namespace hostimport {

namespace {

// Option lines kept; each host looks through all of them.
constexpr std::size_t kMaxEntries = 20000;

enum class EEntry { Host, Match, Option };

struct SEntry {
    EEntry kind = EEntry::Option;
    std::vector<std::string> words;  // Host patterns, or the option's arguments
    std::string key;                 // the option's keyword, lower case
    std::string file;
    int line = 0;
};

// Every option of the client's configuration is named by letters alone.
constexpr std::size_t kMaxOptionName = 40;

// The keyword ends at a blank or "="; one "=" may stand between it and the
// arguments.
std::string_view KeywordOf(std::string_view line)
{
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '=') ++end;
    return line.substr(0, end);
}

bool IsOptionName(std::string_view word)
{
    if (word.empty() || word.size() > kMaxOptionName) return false;
    for (char c : word)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

class CConfigReader {
public:
    CConfigReader(const SSshConfigContext& context, SImportResult& result) : m_context(context), m_result(result) {}

    void Read(std::string_view text, const std::string& file, int depth)
    {
        bool started = false;
        for (const STextLine& line : SplitLines(text)) {
            if (line.tooLong) {
                m_result.Refuse(file, line.number, "the line is too long or holds a NUL byte");
                continue;
            }
            const std::string_view content = Trim(line.text);
            if (content.empty() || content.front() == '#') continue;
            // A file whose first line names no option is something else (a
            // key, a password database): none of it is read or shown.
            if (!started && !IsOptionName(KeywordOf(content))) {
                m_result.Refuse(file, line.number, "this is no ssh config: its first line names no option; nothing "
                                                   "of the file is read");
                return;
            }
            started = true;
            ReadLine(content, file, line.number, depth);
        }
    }

    std::vector<SEntry>& Entries() { return m_entries; }

private:
    void ReadLine(std::string_view text, const std::string& file, int number, int depth)
    {
        const std::string_view keyword = KeywordOf(text);
        if (!IsOptionName(keyword)) {
            m_result.Refuse(file, number, "the line does not start with an option name");
            return;
        }
        const std::string key = LowerAscii(keyword);
        std::string_view rest = Trim(text.substr(keyword.size()));
        if (!rest.empty() && rest.front() == '=') rest = Trim(rest.substr(1));
        SEntry entry;
        entry.key = key;
        entry.file = file;
        entry.line = number;
        if (!SplitWords(rest, entry.words)) {
            m_result.Refuse(file, number, "a quote is not closed");
            return;
        }
        if (m_entries.size() >= kMaxEntries) {
            m_result.Refuse(file, number, "more than " + std::to_string(kMaxEntries) + " lines with options");
            return;
        }
        if (key == "match") {
            m_result.Warn(file, number, "Match blocks are not imported; the lines up to the next Host are skipped");
            entry.kind = EEntry::Match;
            m_entries.push_back(std::move(entry));
            return;
        }
        if (entry.words.empty()) {
            m_result.Refuse(file, number, "\"" + key + "\" has no value");
            return;
        }
        if (key == "host") {
            entry.kind = EEntry::Host;
            m_entries.push_back(std::move(entry));
            return;
        }
        if (key == "include") {
            Include(entry, depth);
            return;
        }
        if (key == "port") {
            int port = 0;
            if (!ParsePort(entry.words[0], port)) {
                m_result.Refuse(file, number, "\"" + Excerpt(entry.words[0]) + "\" is no port from 1 to 65535");
                return;
            }
        }
        if ((key == "user" || key == "hostname") && !PlainValue(entry.words[0])) {
            m_result.Refuse(file, number, "the " + key + " holds a blank, a quote or a control character");
            return;
        }
        m_entries.push_back(std::move(entry));
    }

    void Include(const SEntry& entry, int depth)
    {
        if (depth >= kMaxIncludeDepth) {
            m_result.Refuse(entry.file, entry.line,
                            "Include nested deeper than " + std::to_string(kMaxIncludeDepth) + " files");
            return;
        }
        if (!m_context.loadInclude) {
            m_result.Refuse(entry.file, entry.line, "Include is not followed here");
            return;
        }
        for (const std::string& word : entry.words) {
            std::string pattern = word;
            if (pattern.rfind("~/", 0) == 0)
                pattern = m_context.homeFolder + pattern.substr(1);
            else if (pattern.empty() || pattern.front() != '/')
                pattern = m_context.homeFolder + "/.ssh/" + pattern;
            std::vector<SIncludedFile> files;
            std::string error;
            if (!m_context.loadInclude(pattern, files, error)) {
                m_result.Refuse(entry.file, entry.line, "Include " + Excerpt(word) + ": " + error);
                continue;
            }
            for (const SIncludedFile& included : files) {
                if (++m_nIncluded > kMaxIncludedFiles) {
                    m_result.Refuse(entry.file, entry.line, "more than " + std::to_string(kMaxIncludedFiles) +
                                                                " included files");
                    return;
                }
                Read(included.text, included.path, depth + 1);
            }
        }
    }

    const SSshConfigContext& m_context;
    SImportResult& m_result;
    std::vector<SEntry> m_entries;
    std::size_t m_nIncluded = 0;
};

bool IsConcreteName(std::string_view pattern)
{
    return !pattern.empty() && pattern.front() != '!' && pattern.find_first_of("*?") == std::string_view::npos;
}

// %-tokens of IdentityFile; false on an unknown one.
bool ExpandTokens(std::string_view text, const std::map<char, std::string>& values, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) return false;
        const char token = text[++i];
        if (token == '%') {
            out += '%';
            continue;
        }
        const auto found = values.find(token);
        if (found == values.end()) return false;
        out += found->second;
    }
    return true;
}

}  // namespace

void ReadSshConfig(std::string_view text, const std::string& file, const SSshConfigContext& context,
                   SImportResult& result)
{
    CConfigReader reader(context, result);
    reader.Read(text, file, 0);
    const std::vector<SEntry>& entries = reader.Entries();

    std::set<std::string> seen;
    for (const SEntry& hostLine : entries) {
        if (hostLine.kind != EEntry::Host) continue;
        for (const std::string& alias : hostLine.words) {
            if (!IsConcreteName(alias) || !seen.insert(alias).second) continue;
            if (!PlainValue(alias)) {
                result.Refuse(hostLine.file, hostLine.line, "the host name holds a quote or a control character");
                continue;
            }
            // The options this host gets, as the client would look them up.
            std::map<std::string, const SEntry*> options;
            bool active = true;
            for (const SEntry& entry : entries) {
                if (entry.kind == EEntry::Host)
                    active = HostPatternsMatch(entry.words, alias);
                else if (entry.kind == EEntry::Match)
                    active = false;
                else if (active)
                    options.emplace(entry.key, &entry);
            }
            auto value = [&options](const char* key) -> const SEntry* {
                const auto found = options.find(key);
                return found == options.end() ? nullptr : found->second;
            };
            SImportedHost host;
            host.name = alias;
            host.sourceFile = hostLine.file;
            host.line = hostLine.line;
            host.address = alias;
            if (const SEntry* name = value("hostname")) {
                std::string expanded;
                if (ExpandTokens(name->words[0], {{'h', alias}, {'n', alias}}, expanded) && PlainValue(expanded))
                    host.address = expanded;
                else
                    result.Refuse(name->file, name->line, "HostName " + Excerpt(name->words[0]) + " cannot be expanded");
            }
            if (const SEntry* port = value("port")) ParsePort(port->words[0], host.port);
            if (const SEntry* user = value("user")) host.login = user->words[0];
            if (const SEntry* identity = value("identityfile")) {
                std::string path = identity->words[0];
                if (path.rfind("~/", 0) == 0 || path == "~") path = context.homeFolder + path.substr(1);
                const std::map<char, std::string> tokens = {
                    {'h', host.address}, {'n', alias}, {'p', std::to_string(host.port)},
                    {'r', host.login.empty() ? context.localUser : host.login}, {'u', context.localUser},
                    {'d', context.homeFolder}};
                std::string expanded;
                if (SameWord(path, "none"))
                    ;
                else if (ExpandTokens(path, tokens, expanded))
                    host.identityFile = expanded;
                else
                    result.Refuse(identity->file, identity->line,
                                  "IdentityFile " + Excerpt(path) + " holds an unknown %-token");
            }
            if (const SEntry* jump = value("proxyjump"); jump != nullptr && !SameWord(jump->words[0], "none"))
                host.jump = jump->words[0];
            if (!result.Add(std::move(host))) {
                result.Refuse(hostLine.file, hostLine.line, "more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
        }
    }
}

}  // namespace hostimport
