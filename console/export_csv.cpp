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

void Field(std::string& line, bool& first, std::string value)
{
    if (!first) line += ',';
    first = false;
    if (!value.empty() && (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@' ||
                           value[0] == '\t' || value[0] == '\r'))
        value.insert(value.begin(), '\'');
    if (value.find_first_of(",\"\r\n") == std::string::npos) {
        line += value;
        return;
    }
    line += '"';
    for (char c : value) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

std::string ExportFleetCsv(const std::vector<FleetHost>& fleet)
{
    std::string out = "host,group,address,port,scanned,scan_time,vendor,product,serial,cpu_model,cpu_count,"
                      "memory_total,disks,nics\r\n";
    for (const FleetHost& host : fleet) {
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
        out += line + "\r\n";
    }
    return out;
}
