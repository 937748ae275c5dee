#include "inventory/import/ssh_config_import.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "inventory/import/text_lines.h"
#include "platform/text.h"

namespace hostimport {

namespace {

// The lines of a text (a host's key files, one per line).
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

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

// A list of patterns as the client reads it: a name matches when one
// pattern matches it and no "!pattern" does. The client tries the name as
// it was given and in lower case; the patterns keep their case.
bool PatternsMatch(const std::vector<std::string>& patterns, const std::string& name)
{
    const std::string lower = LowerAscii(name);
    bool matched = false;
    for (const std::string& pattern : patterns) {
        const bool negated = !pattern.empty() && pattern.front() == '!';
        const std::string_view body = negated ? std::string_view(pattern).substr(1) : std::string_view(pattern);
        if (!WildcardMatch(body, name, false) && !WildcardMatch(body, lower, false)) continue;
        if (negated) return false;
        matched = true;
    }
    return matched;
}

std::vector<std::string> SplitCommas(std::string_view text)
{
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        parts.emplace_back(Trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return parts;
}

// %-tokens; false on an unknown one.
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

// What the client's configuration gives one host name.
struct SHostOptions {
    std::map<std::string, const SEntry*> first;     // the first value of each option
    std::vector<const SEntry*> identityFiles;        // every IdentityFile line, in order
    std::vector<const SEntry*> unrunMatches;         // Match exec lines passed over
    std::string hostName;                            // HostName expanded, else the name in lower case
};

// One hop of a route: [user@]host[:port] or ssh://[user@]host[:port].
struct SHopWritten {
    std::string user;
    std::string host;
    int port = 0;  // 0: not given
};

bool ParseHopWritten(std::string_view text, SHopWritten& hop)
{
    if (text.rfind("ssh://", 0) == 0) text.remove_prefix(6);
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
        hop.user = std::string(text.substr(0, at));
        text.remove_prefix(at + 1);
        if (hop.user.empty()) return false;
    }
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        hop.host = std::string(text.substr(1, close - 1));
        text.remove_prefix(close + 1);
        if (!text.empty() && (text.front() != ':' || !ParsePort(text.substr(1), hop.port))) return false;
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        if (!ParsePort(text.substr(colon + 1), hop.port)) return false;
        hop.host = std::string(text.substr(0, colon));
    } else {
        hop.host = std::string(text);
    }
    return !hop.host.empty() && PlainValue(hop.host) && (hop.user.empty() || PlainValue(hop.user));
}

// "ssh [-q ...] -W %h:%p [-p port] [-l user] [-J route] HOP", the older
// spelling of a jump host; false for any other command.
bool ReadStdioForward(const std::vector<std::string>& words, std::string& route)
{
    if (words.empty() || (words[0] != "ssh" && (words[0].size() < 4 || words[0].substr(words[0].size() - 4) != "/ssh")))
        return false;
    bool forward = false;
    std::string hop, user, port, via;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "-W" && i + 1 < words.size() && (words[i + 1] == "%h:%p" || words[i + 1] == "[%h]:%p")) {
            forward = true;
            ++i;
        } else if ((word == "-p" || word == "-l" || word == "-J") && i + 1 < words.size()) {
            (word == "-p" ? port : word == "-l" ? user : via) = words[++i];
        } else if (word.size() >= 2 && word[0] == '-' && word.find_first_not_of("qTAax46Cv", 1) == std::string::npos) {
            continue;  // quiet, no terminal, agent, address family, compression, verbose
        } else if (word.front() != '-' && hop.empty()) {
            hop = word;
        } else {
            return false;
        }
    }
    if (!forward || hop.empty()) return false;
    SHopWritten written;
    if (!ParseHopWritten(hop, written)) return false;
    if (!user.empty()) written.user = written.user.empty() ? user : written.user;
    int portNumber = 0;
    if (!port.empty() && !ParsePort(port, portNumber)) return false;
    route = via.empty() ? std::string() : via + ",";
    if (!written.user.empty()) route += written.user + "@";
    route += written.host.find(':') != std::string::npos ? "[" + written.host + "]" : written.host;
    if (portNumber != 0) route += ":" + std::to_string(portNumber);
    else if (written.port != 0) route += ":" + std::to_string(written.port);
    return true;
}

constexpr std::size_t kMaxRouteHops = 8;

// Resolves host names through the configuration as the client does.
class CHostResolver {
public:
    CHostResolver(const std::vector<SEntry>& entries, const SSshConfigContext& context, SImportResult& result)
        : m_entries(entries), m_context(context), m_result(result)
    {
        for (const SEntry& entry : entries)
            if (entry.kind == EEntry::Match)
                for (const std::string& word : entry.words)
                    if (SameWord(word, "final")) m_bFinalPass = true;
    }

    SHostOptions Options(const std::string& name)
    {
        SHostOptions options;
        Pass(name, name, false, options);
        options.hostName = LowerAscii(name);
        if (const SEntry* hostName = First(options, "hostname")) {
            std::string expanded;
            if (ExpandTokens(hostName->words[0], {{'h', LowerAscii(name)}, {'n', name}}, expanded) && PlainValue(expanded))
                options.hostName = expanded;
            else
                NoteOnce(*hostName, "HostName " + Excerpt(hostName->words[0]) + " cannot be expanded; it is not used");
        }
        // A Match final asks for a second reading, by the name the first
        // one gave; what the first gave stays.
        if (m_bFinalPass) Pass(options.hostName, name, true, options);
        return options;
    }

    static const SEntry* First(const SHostOptions& options, const char* key)
    {
        const auto found = options.first.find(key);
        return found == options.first.end() ? nullptr : found->second;
    }

    // The login the client uses for a host with these options.
    std::string Login(const SHostOptions& options) const
    {
        const SEntry* user = First(options, "user");
        return user != nullptr ? user->words[0] : m_context.localUser;
    }

    // The jump route of a host: "" when it is reached directly; false, with
    // `why`, when it cannot be read.
    bool Route(const SHostOptions& options, int depth, std::string& route, std::string& why, const SEntry*& from)
    {
        route.clear();
        from = nullptr;
        const SEntry* jump = First(options, "proxyjump");
        const SEntry* command = First(options, "proxycommand");
        // The two are one setting: the one read first wins.
        if (jump != nullptr && command != nullptr) {
            if (Before(*command, *jump)) jump = nullptr;
            else command = nullptr;
        }
        std::string written;
        if (command != nullptr) {
            from = command;
            if (command->words.size() == 1 && SameWord(command->words[0], "none")) return true;
            if (!ReadStdioForward(command->words, written)) {
                why = "ProxyCommand " + Excerpt(command->words[0]) + " ... is never run";
                return false;
            }
        } else if (jump != nullptr) {
            from = jump;
            if (SameWord(jump->words[0], "none")) return true;
            written = jump->words[0];
        } else {
            return true;
        }
        if (depth > 4) {
            why = "the jump hosts lead through each other in a loop, or nest deeper than 4";
            return false;
        }
        std::vector<std::string> hops = SplitCommas(written);
        // Each hop is looked up in the whole file again: a bound on them.
        if (hops.size() > kMaxRouteHops) {
            why = "a route of more than " + std::to_string(kMaxRouteHops) + " jump hosts";
            return false;
        }
        for (std::size_t i = 0; i < hops.size(); ++i) {
            SHopWritten hop;
            if (!ParseHopWritten(hops[i], hop)) {
                why = "the jump host " + Excerpt(hops[i]) + " cannot be read";
                return false;
            }
            const SHostOptions hopOptions = Options(hop.host);
            // The first hop is reached by its own route; the others through
            // the hops before them.
            if (i == 0) {
                std::string before;
                const SEntry* ignored = nullptr;
                if (!Route(hopOptions, depth + 1, before, why, ignored)) return false;
                if (!before.empty()) route += before + ",";
            }
            std::string user = hop.user.empty() ? Login(hopOptions) : hop.user;
            int port = hop.port;
            if (port == 0) {
                port = 22;
                if (const SEntry* hopPort = First(hopOptions, "port")) ParsePort(hopPort->words[0], port);
            }
            if (!user.empty()) route += user + "@";
            route += hopOptions.hostName.find(':') != std::string::npos ? "[" + hopOptions.hostName + "]" : hopOptions.hostName;
            if (port != 22) route += ":" + std::to_string(port);
            if (i + 1 < hops.size()) route += ",";
            m_hopKeys.emplace_back(hop.host, hopOptions.identityFiles.empty() ? nullptr : hopOptions.identityFiles.front());
        }
        return true;
    }

    // Each hop of the last Route by the name it was looked up by, with its
    // first key file (null for none).
    std::vector<std::pair<std::string, const SEntry*>>& HopKeys() { return m_hopKeys; }

    void NoteOnce(const SEntry& entry, const std::string& text, bool refused = false)
    {
        if (!m_noted.insert({entry.file, entry.line, text}).second) return;
        if (refused) m_result.Refuse(entry.file, entry.line, text);
        else m_result.Warn(entry.file, entry.line, text);
    }

private:
    static bool Before(const SEntry& a, const SEntry& b) { return &a < &b; }

    void Pass(const std::string& host, const std::string& original, bool final, SHostOptions& options)
    {
        bool active = true;
        for (const SEntry& entry : m_entries) {
            if (entry.kind == EEntry::Host) {
                active = PatternsMatch(entry.words, host);
            } else if (entry.kind == EEntry::Match) {
                active = MatchApplies(entry, host, original, final, options);
            } else if (active) {
                if (entry.key == "identityfile") {
                    bool seen = false;
                    for (const SEntry* known : options.identityFiles) seen = seen || known->words[0] == entry.words[0];
                    if (!seen) options.identityFiles.push_back(&entry);
                } else {
                    options.first.emplace(entry.key, &entry);
                }
            }
        }
    }

    bool MatchApplies(const SEntry& entry, const std::string& host, const std::string& original, bool final,
                      SHostOptions& options)
    {
        const std::vector<std::string>& words = entry.words;
        if (words.empty()) {
            NoteOnce(entry, "a Match line names no condition; its block is skipped", true);
            return false;
        }
        bool all = true;
        for (std::size_t i = 0; i < words.size(); ++i) {
            std::string criterion = LowerAscii(words[i]);
            const bool negated = !criterion.empty() && criterion.front() == '!';
            if (negated) criterion.erase(0, 1);
            bool result = false;
            if (criterion == "all") {
                result = true;
            } else if (criterion == "final" || criterion == "canonical") {
                result = final;
            } else if (i + 1 >= words.size()) {
                NoteOnce(entry, "Match " + Excerpt(criterion) + " lacks its value; the block is skipped", true);
                return false;
            } else if (criterion == "exec") {
                // Never run: the block is given to no host. Like the client,
                // a Match that failed already never gets to it.
                ++i;
                if (!all) return false;
                if (std::find(options.unrunMatches.begin(), options.unrunMatches.end(), &entry) == options.unrunMatches.end())
                    options.unrunMatches.push_back(&entry);
                return false;
            } else {
                const std::vector<std::string> patterns = SplitCommas(words[++i]);
                std::string subject;
                if (criterion == "host") {
                    subject = host;
                    if (const SEntry* name = First(options, "hostname"); name != nullptr && !final) {
                        std::string expanded;
                        if (ExpandTokens(name->words[0], {{'h', LowerAscii(original)}, {'n', original}}, expanded))
                            subject = expanded;
                    }
                } else if (criterion == "originalhost") {
                    subject = original;
                } else if (criterion == "user") {
                    subject = Login(options);
                } else if (criterion == "localuser") {
                    subject = m_context.localUser;
                } else {
                    NoteOnce(entry, "Match " + Excerpt(criterion) + " is not understood here; the block is skipped", true);
                    return false;
                }
                result = PatternsMatch(patterns, subject);
            }
            if (negated) result = !result;
            all = all && result;
        }
        return all;
    }

    const std::vector<SEntry>& m_entries;
    const SSshConfigContext& m_context;
    SImportResult& m_result;
    bool m_bFinalPass = false;
    std::vector<std::pair<std::string, const SEntry*>> m_hopKeys;
    std::set<std::tuple<std::string, int, std::string>> m_noted;
};

// Options the client would use that the inventory does not keep, named in
// the notes once a host has them.
struct SDroppedOption {
    const char* key;
    const char* why;
};
constexpr SDroppedOption kDroppedOptions[] = {
    {"hostkeyalias", "HostKeyAlias is not kept: the host key is checked under the address"},
    {"localcommand", "LocalCommand is never run"},
    {"remotecommand", "RemoteCommand is not kept"},
    {"certificatefile", "CertificateFile is not kept"},
    {"pkcs11provider", "PKCS11Provider is not kept"},
    {"identityagent", "IdentityAgent is not kept: the agent of the environment is asked"},
};

}  // namespace

void ReadSshConfig(std::string_view text, const std::string& file, const SSshConfigContext& context,
                   SImportResult& result)
{
    CConfigReader reader(context, result);
    reader.Read(text, file, 0);
    const std::vector<SEntry>& entries = reader.Entries();
    CHostResolver resolver(entries, context, result);

    // The names Host lines give without a pattern: each becomes a host.
    std::set<std::string> concrete;
    for (const SEntry& hostLine : entries)
        if (hostLine.kind == EEntry::Host)
            for (const std::string& alias : hostLine.words)
                if (IsConcreteName(alias) && PlainValue(alias)) concrete.insert(alias);
    std::set<std::string> seen;
    for (const SEntry& hostLine : entries) {
        if (hostLine.kind != EEntry::Host) continue;
        for (const std::string& alias : hostLine.words) {
            if (!IsConcreteName(alias) || !seen.insert(alias).second) continue;
            if (!PlainValue(alias)) {
                result.Refuse(hostLine.file, hostLine.line, "the host name holds a quote or a control character");
                continue;
            }
            const SHostOptions options = resolver.Options(alias);
            auto note = [&](const SEntry& entry, const std::string& what) {
                result.Refuse(entry.file, entry.line, "host " + alias + ": " + what);
            };
            SImportedHost host;
            host.name = alias;
            host.sourceFile = hostLine.file;
            host.line = hostLine.line;
            host.address = options.hostName;
            if (const SEntry* port = CHostResolver::First(options, "port")) ParsePort(port->words[0], host.port);
            if (const SEntry* user = CHostResolver::First(options, "user")) host.login = user->words[0];
            // Without a User the client logs in as the local user.
            if (host.login.empty()) host.login = context.localUser;
            std::map<char, std::string> tokens = {{'h', host.address}, {'n', alias}, {'p', std::to_string(host.port)},
                                                  {'r', host.login}, {'u', context.localUser}, {'d', context.homeFolder}};
            if (!context.localHost.empty()) {
                tokens['l'] = context.localHost;
                tokens['L'] = context.localHost.substr(0, context.localHost.find('.'));
            }
            if (!context.userId.empty()) tokens['i'] = context.userId;
            for (const SEntry* identity : options.identityFiles) {
                std::string path = identity->words[0];
                if (SameWord(path, "none")) continue;
                if (path.rfind("~/", 0) == 0 || path == "~") path = context.homeFolder + path.substr(1);
                std::string expanded;
                if (!ExpandTokens(path, tokens, expanded)) {
                    note(*identity, "IdentityFile " + Excerpt(path) + " holds a %-token not expanded here; not kept");
                    continue;
                }
                // Every key file, tried in order at the login, as ssh does.
                const std::vector<std::string> kept = Lines(host.identityFile);
                if (std::find(kept.begin(), kept.end(), expanded) != kept.end()) continue;
                if (kept.size() >= kMaxKeyFiles || expanded.find('\n') != std::string::npos) {
                    note(*identity, "IdentityFile " + Excerpt(expanded) + " is not kept (a host offers at most " +
                                        std::to_string(kMaxKeyFiles) + " key files)");
                    continue;
                }
                host.identityFile += (host.identityFile.empty() ? "" : "\n") + expanded;
            }
            std::string why;
            const SEntry* routeFrom = nullptr;
            resolver.HopKeys().clear();
            if (!resolver.Route(options, 0, host.jump, why, routeFrom)) {
                host.jump.clear();
                if (routeFrom != nullptr) note(*routeFrom, why + "; imported without a jump host");
            }
            // A hop named on a Host line of the file is imported as a host
            // too and logs in with its own record, key file and all; any
            // other hop is offered the host's key file and the agent.
            for (const auto& [hopName, hopKey] : resolver.HopKeys()) {
                if (hopKey == nullptr || SameWord(hopKey->words[0], "none") || concrete.count(hopName) != 0) continue;
                std::string path = hopKey->words[0];
                if (path.rfind("~/", 0) == 0) path = context.homeFolder + path.substr(1);
                const std::vector<std::string> kept = Lines(host.identityFile);
                if (std::find(kept.begin(), kept.end(), path) == kept.end())
                    note(*hopKey, "the jump host " + Excerpt(hopName) + " is no Host of this file; its key file " +
                                      Excerpt(path) + " is not kept (it is offered the host's key file and the agent)");
            }
            for (const SEntry* match : options.unrunMatches)
                note(*match, "Match exec is never run; this block's options are not applied");
            for (const SDroppedOption& dropped : kDroppedOptions)
                if (const SEntry* entry = CHostResolver::First(options, dropped.key)) note(*entry, dropped.why);
            if (!result.Add(std::move(host))) {
                result.Refuse(hostLine.file, hostLine.line, "more than " + std::to_string(kMaxHosts) + " hosts");
                return;
            }
        }
    }
}

}  // namespace hostimport
