#include "inventory/import/host_file_import.h"

#include <algorithm>
#include <cstdlib>

#include "inventory/import/ansible_ini_import.h"
#include "inventory/import/ansible_yaml_import.h"
#include "inventory/import/csv_import.h"
#include "inventory/import/text_lines.h"
#include "platform/atomic_file.h"
#include "platform/file_pattern.h"
#include "platform/paths.h"

namespace hostimport {

namespace {

std::string_view FirstSignificantLine(std::string_view text)
{
    for (const STextLine& line : SplitLines(text.substr(0, 64u << 10))) {
        const std::string_view content = Trim(line.text);
        if (content.empty() || content.front() == '#' || content.front() == ';') continue;
        return content;
    }
    return {};
}

// Spreadsheets and some editors start UTF-8 files with a byte order mark.
std::string_view WithoutByteOrderMark(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

bool LooksLikeYaml(std::string_view line)
{
    return line == "---" || (!line.empty() && line.back() == ':') || line.find(": ") != std::string_view::npos;
}

bool ReadText(const std::string& path, std::string& text, std::string& error)
{
    std::vector<std::uint8_t> bytes;
    std::string reason;
    switch (ReadFileLimited(path, kMaxImportFile, bytes, reason)) {
    case FileReadResult::Ok:
        text.assign(bytes.begin(), bytes.end());
        return true;
    case FileReadResult::TooLarge:
        error = path + " is larger than " + std::to_string(kMaxImportFile >> 20) + " MiB";
        return false;
    default:
        error = "cannot read " + path + (reason.empty() ? "" : ": " + reason);
        return false;
    }
}

}  // namespace

bool ParseImportFormat(std::string_view name, EImportFormat& format)
{
    if (name.empty() || name == "auto") format = EImportFormat::Guess;
    else if (name == "ssh-config") format = EImportFormat::SshConfig;
    else if (name == "ansible") format = EImportFormat::Ansible;
    else if (name == "csv") format = EImportFormat::Csv;
    else return false;
    return true;
}

EImportFormat GuessImportFormat(std::string_view text)
{
    text = WithoutByteOrderMark(text);
    const std::string_view line = FirstSignificantLine(text);
    if (line.empty()) return EImportFormat::Guess;
    if (line.front() == '[') return EImportFormat::Ansible;
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '=') ++end;
    static const char* const keywords[] = {"host", "match", "include", "hostname", "user", "port", "identityfile",
                                           "proxyjump", "forwardagent", "stricthostkeychecking", "serveraliveinterval",
                                           "identitiesonly", "userknownhostsfile", "controlmaster", "addkeystoagent"};
    for (const char* keyword : keywords)
        if (SameWord(line.substr(0, end), keyword) && end < line.size()) return EImportFormat::SshConfig;
    if (LooksLikeYaml(line)) return EImportFormat::Ansible;
    if (line.find(',') != std::string_view::npos) {
        std::vector<std::string_view> names;
        for (std::size_t start = 0;;) {
            const std::size_t comma = line.find(',', start);
            if (SameWord(Trim(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)),
                         "host"))
                return EImportFormat::Csv;
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    // An INI inventory may start with ungrouped hosts before its first
    // section.
    for (const STextLine& next : SplitLines(text.substr(0, 64u << 10))) {
        const std::string_view content = Trim(next.text);
        if (content.size() > 2 && content.front() == '[' && content.back() == ']') return EImportFormat::Ansible;
    }
    return EImportFormat::Guess;
}

void ReadHostList(std::string_view text, const std::string& file, EImportFormat format,
                  const SSshConfigContext& context, SImportResult& result, const VarsFileLoader& loadVars)
{
    text = WithoutByteOrderMark(text);
    if (format == EImportFormat::Guess) format = GuessImportFormat(text);
    switch (format) {
    case EImportFormat::SshConfig:
        ReadSshConfig(text, file, context, result);
        return;
    case EImportFormat::Ansible:
        if (LooksLikeYaml(FirstSignificantLine(text)))
            ReadAnsibleYaml(text, file, result, loadVars);
        else
            ReadAnsibleIni(text, file, result, loadVars);
        return;
    case EImportFormat::Csv:
        ReadHostCsv(text, file, result);
        return;
    case EImportFormat::Guess:
        result.error = file + " looks like no ssh config, Ansible inventory or CSV host list; name its format";
        return;
    }
}

SImportResult ImportHostFile(const std::string& path, EImportFormat format)
{
    SImportResult result;
    std::string text;
    if (!ReadText(path, text, result.error)) return result;
    SSshConfigContext context;
    context.homeFolder = UserHomeFolder();
    context.localUser = LocalUserName();
    context.localHost = LocalHostName();
    context.userId = LocalUserId();
    std::string includeError;
    bool includeFailed = false;
    // All included files together: a few times what one file may hold.
    std::size_t includeBudget = 4 * kMaxImportFile;
    context.loadInclude = [&](const std::string& pattern, std::vector<SIncludedFile>& files, std::string& error) {
        std::vector<std::string> paths;
        if (!ListMatchingFiles(pattern, kMaxIncludedFiles, paths, error)) return false;
        for (const std::string& included : paths) {
            SIncludedFile entry;
            entry.path = included;
            // An included file that exists but cannot be read fails the
            // whole import: its hosts would be missing or half-set.
            if (!ReadText(included, entry.text, error) || entry.text.size() > includeBudget) {
                if (error.empty()) error = "the included files hold more than " + std::to_string(4 * kMaxImportFile >> 20) + " MiB";
                includeFailed = true;
                includeError = error;
                return false;
            }
            includeBudget -= entry.text.size();
            files.push_back(std::move(entry));
        }
        return true;
    };
    // group_vars and host_vars beside the inventory: the file of the name
    // (bare or with a YAML or JSON ending), then the folder of the name.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const VarsFileLoader loadVars = [&](const std::string& kind, const std::string& name, std::vector<SIncludedFile>& files,
                                        std::string& error) {
        const std::string base = folder + "/" + kind + "/" + name;
        std::vector<std::string> paths;
        bool maybeFolder = false;
        for (const char* ending : {"", ".yml", ".yaml", ".json"}) {
            std::vector<std::uint8_t> probe;
            std::string reason;
            const std::string candidate = base + ending;
            const FileReadResult found = ReadFileLimited(candidate, 0, probe, reason);
            // A folder reads as no regular file.
            if (*ending == '\0' && found == FileReadResult::Failed)
                maybeFolder = true;
            else if (found != FileReadResult::Missing)
                paths.push_back(candidate);
        }
        std::vector<std::string> inside;
        if (maybeFolder && !ListMatchingFiles(base + "/*", kMaxIncludedFiles, inside, error)) return false;
        for (const std::string& one : inside) {
            const std::string leaf = one.substr(one.rfind('/') + 1);
            const std::size_t dot = leaf.rfind('.');
            const std::string ending = dot == std::string::npos ? std::string() : leaf.substr(dot);
            if (leaf.front() == '.' || leaf.back() == '~' ||
                !(ending.empty() || ending == ".yml" || ending == ".yaml" || ending == ".json"))
                continue;
            paths.push_back(one);
        }
        for (const std::string& one : paths) {
            SIncludedFile entry;
            entry.path = one;
            if (!ReadText(one, entry.text, error) || entry.text.size() > includeBudget) {
                if (error.empty()) error = "the variable files hold more than " + std::to_string(4 * kMaxImportFile >> 20) + " MiB";
                return false;
            }
            includeBudget -= entry.text.size();
            files.push_back(std::move(entry));
        }
        return true;
    };
    ReadHostList(text, path, format, context, result, loadVars);
    if (includeFailed && result.error.empty()) result.error = includeError;
    if (!result.error.empty()) {
        result.hosts.clear();
        return result;
    }
    for (SImportedHost& host : result.hosts)
        if (host.identityFile.rfind("~/", 0) == 0) host.identityFile = context.homeFolder + host.identityFile.substr(1);
    return result;
}

}  // namespace hostimport
