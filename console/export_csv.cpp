#include "console/export_summary.h"
#include "console/export_writers.h"
#include "platform/text.h"

namespace {

std::string Join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty()) text += "; ";
        text += item;
    }
    return text;
}

// A spreadsheet takes a cell, or a line of a multi-line cell, whose first
// character after blanks is one of these as a formula or a command.
bool StartsFormula(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return false;
    const char c = line[first];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// One field, as RFC 4180 writes it, and safe to open: quoted when it holds
// either separator a spreadsheet may choose (',' or ';'), a quote or a line
// break. Where a cell may start, "'" goes before text that would start a
// formula: at the field's start, after each line break (a reader that does
// not take the quotes starts a row there) and after each ';' (a reader
// splitting at ';' does not see a quote in the middle of its cell, so the
// text after a ';' inside the field starts a cell of its own).
void Field(std::string& line, bool& first, std::string_view value)
{
    if (!first) line += ',';
    first = false;
    std::string guarded;
    guarded.reserve(value.size() + 2);
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find_first_of("\r\n;", start);
        const std::string_view part =
            value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        // The field's own start counts a leading line break as well.
        if (StartsFormula(start == 0 ? value : part)) guarded += '\'';
        guarded += part;
        if (end == std::string_view::npos) break;
        // The break itself, CR LF as one; what follows is looked at anew.
        std::size_t next = end + 1;
        if (value[end] == '\r' && next < value.size() && value[next] == '\n') ++next;
        guarded += value.substr(end, next - end);
        start = next;
    }
    if (guarded.find_first_of(",;\"\r\n") == std::string::npos) {
        line += guarded;
        return;
    }
    line += '"';
    for (char c : guarded) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

std::string FleetCsvHeader()
{
    // The readable columns first, as before; then the same sizes and counts
    // as plain numbers (bytes), for a spreadsheet to sum and sort; then the
    // last refresh that failed after the scan (or of a host never scanned).
    return "host,group,address,port,scanned,scan_time,vendor,product,serial,cpu_model,cpu_count,"
           "memory_total,disks,nics,memory_bytes,disk_bytes,disk_count,nic_count,last_error_time,last_error\r\n";
}

std::string ExportFleetCsv(const std::vector<FleetHost>& fleet)
{
    std::string out = FleetCsvHeader();
    for (const FleetHost& host : fleet) out += FleetCsvLine(host);
    return out;
}

std::string FleetCsvLine(const FleetHost& host)
{
    const HostSummary summary = SummarizeHost(host);
    std::string line;
    bool first = true;
    Field(line, first, WideToAnsi(host.name));
    Field(line, first, WideToAnsi(host.group));
    Field(line, first, WideToAnsi(host.address));
    Field(line, first, std::to_string(host.port));
    Field(line, first, host.scanned ? "yes" : "no");
    Field(line, first, host.scanTime ? WideToAnsi(*host.scanTime) : std::string());
    Field(line, first, summary.vendor);
    Field(line, first, summary.product);
    Field(line, first, summary.serial);
    Field(line, first, summary.cpuModel);
    Field(line, first, host.scanned ? std::to_string(summary.cpuCount) : std::string());
    Field(line, first, summary.memoryTotal);
    Field(line, first, Join(summary.disks));
    Field(line, first, Join(summary.nics));
    const auto number = [&](double value) { return host.scanned ? std::to_string(static_cast<long long>(value)) : std::string(); };
    Field(line, first, number(summary.memoryBytes));
    Field(line, first, number(summary.diskBytes));
    Field(line, first, number(static_cast<double>(summary.disks.size())));
    Field(line, first, number(static_cast<double>(summary.nics.size())));
    Field(line, first, host.lastErrorTime ? WideToAnsi(*host.lastErrorTime) : std::string());
    Field(line, first, WideToAnsi(host.lastError));
    return line + "\r\n";
}
