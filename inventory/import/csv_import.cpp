#include "inventory/import/csv_import.h"

#include <map>

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/text_lines.h"

namespace hostimport {

namespace {

constexpr std::size_t kMaxFields = 32;

struct SRecord {
    int line = 0;  // where it starts
    std::vector<std::string> fields;
    std::string problem;  // why it cannot be used, or ""
};

// Reads the next record from text at pos; false at the end.
bool NextRecord(std::string_view text, std::size_t& pos, int& line, SRecord& record)
{
    if (pos >= text.size()) return false;
    record = SRecord();
    record.line = line;
    std::string field;
    bool quoted = false;     // inside quotes
    bool wasQuoted = false;  // the field started with a quote
    bool afterQuote = false;
    auto endField = [&] {
        if (record.fields.size() >= kMaxFields && record.problem.empty()) record.problem = "more than 32 fields";
        if (record.fields.size() < kMaxFields) record.fields.push_back(std::move(field));
        field.clear();
        wasQuoted = afterQuote = false;
    };
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '\n') ++line;
        if (quoted) {
            if (c == '"') {
                if (pos < text.size() && text[pos] == '"') {
                    field += '"';
                    ++pos;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else if (field.size() < kMaxLine) {
                field += c;
            } else if (record.problem.empty()) {
                record.problem = "a field is longer than " + std::to_string(kMaxLine) + " bytes";
            }
            continue;
        }
        if (c == ',') {
            endField();
            continue;
        }
        if (c == '\n' || (c == '\r' && pos < text.size() && text[pos] == '\n')) {
            if (c == '\r') {
                ++pos;
                ++line;
            }
            endField();
            return true;
        }
        if (c == '"' && field.empty() && !wasQuoted) {
            quoted = wasQuoted = true;
            continue;
        }
        if ((c == '"' || afterQuote) && record.problem.empty())
            record.problem = "a quote inside a field that is not quoted as a whole";
        if (field.size() < kMaxLine)
            field += c;
        else if (record.problem.empty())
            record.problem = "a field is longer than " + std::to_string(kMaxLine) + " bytes";
    }
    if (quoted && record.problem.empty()) record.problem = "a quote is not closed before the end of the file";
    endField();
    return true;
}

bool BlankRecord(const SRecord& record) { return record.fields.size() == 1 && Trim(record.fields[0]).empty(); }

}  // namespace

void ReadHostCsv(std::string_view text, const std::string& file, SImportResult& result)
{
    std::size_t pos = 0;
    int line = 1;
    SRecord record;
    // The header: the first record that is not blank.
    std::map<std::string, std::size_t> columns;
    while (NextRecord(text, pos, line, record)) {
        if (BlankRecord(record)) continue;
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            const std::string name = LowerAscii(Trim(record.fields[i]));
            static const char* const known[] = {"host", "port", "login", "user", "group", "identity", "name", "jump", "sudo"};
            bool isKnown = false;
            for (const char* k : known) isKnown = isKnown || name == k;
            if (!isKnown)
                result.Warn(file, record.line, "the column \"" + Excerpt(name) + "\" is not read");
            else if (!columns.emplace(name == "user" ? "login" : name, i).second)
                result.Refuse(file, record.line, "the column \"" + Excerpt(name) + "\" is named twice; the first is read");
        }
        break;
    }
    if (columns.count("host") == 0) {
        result.error = file + ": the first line names the columns, one of them \"host\"";
        return;
    }
    auto field = [&columns](const SRecord& r, const char* name) -> std::string {
        const auto found = columns.find(name);
        if (found == columns.end() || found->second >= r.fields.size()) return {};
        return std::string(Trim(r.fields[found->second]));
    };
    while (NextRecord(text, pos, line, record)) {
        if (BlankRecord(record)) continue;
        auto refuse = [&](const std::string& why) { result.Refuse(file, record.line, why); };
        if (!record.problem.empty()) {
            refuse(record.problem);
            continue;
        }
        SImportedHost host;
        host.sourceFile = file;
        host.line = record.line;
        host.address = field(record, "host");
        host.name = field(record, "name");
        if (host.name.empty()) host.name = host.address;
        if (!PlainValue(host.address) || !PlainValue(host.name)) {
            refuse("the host is empty or holds a blank, a quote or a control character");
            continue;
        }
        if (const std::string port = field(record, "port"); !port.empty() && !ParsePort(port, host.port)) {
            refuse("\"" + port + "\" is no port from 1 to 65535");
            continue;
        }
        host.login = field(record, "login");
        if (!host.login.empty() && !PlainValue(host.login)) {
            refuse("the login holds a blank, a quote or a control character");
            continue;
        }
        host.group = field(record, "group");
        while (!host.group.empty() && host.group.back() == '/') host.group.pop_back();
        while (!host.group.empty() && host.group.front() == '/') host.group.erase(0, 1);
        host.identityFile = field(record, "identity");
        host.jump = field(record, "jump");
        if (const std::string sudo = field(record, "sudo"); !sudo.empty()) {
            bool on = false;
            if (!ParseTruth(sudo, on)) {
                refuse("sudo is \"" + sudo + "\", neither yes nor no");
                continue;
            }
            host.sudo = on;
        }
        if (!result.Add(std::move(host))) {
            refuse("more than " + std::to_string(kMaxHosts) + " hosts");
            return;
        }
    }
}

}  // namespace hostimport
