#include <chrono>

#include "console/export_summary.h"
#include "console/export_writers.h"
#include "console/host_diff.h"
#include "platform/text.h"
#include "console/json_writer.h"

namespace {

// What the CSV and the report's table show of a host, with its sizes and
// counts as numbers (bytes) beside the readable texts.
void WriteSummary(CJsonWriter& json, const HostSummary& summary)
{
    const auto text = [&](const char* key, const std::string& value) {
        json.Key(key);
        json.String(std::string_view(value));
    };
    json.Key("summary");
    json.BeginObject();
    text("vendor", summary.vendor);
    text("product", summary.product);
    text("serial", summary.serial);
    text("cpuModel", summary.cpuModel);
    json.Key("cpuCount");
    json.Number(summary.cpuCount);
    text("memory", summary.memoryTotal);
    json.Key("memoryBytes");
    json.Number(static_cast<long long>(summary.memoryBytes));
    json.Key("diskBytes");
    json.Number(static_cast<long long>(summary.diskBytes));
    json.Key("disks");
    json.BeginArray();
    for (const std::string& disk : summary.disks) json.String(std::string_view(disk));
    json.EndArray();
    json.Key("nics");
    json.BeginArray();
    for (const std::string& nic : summary.nics) json.String(std::string_view(nic));
    json.EndArray();
    json.EndObject();
}

constexpr int kExportVersion = 1;

void WriteNode(CJsonWriter& json, const FleetNode& node)
{
    json.BeginObject();
    json.Key("name");
    json.String(node.name);
    json.Key("rows");
    json.BeginArray();
    for (const auto& [name, value] : node.rows) {
        json.BeginArray();
        json.String(name);
        json.String(value);
        json.EndArray();
    }
    json.EndArray();
    if (!node.children.empty()) {
        json.Key("children");
        json.BeginArray();
        for (const FleetNode& child : node.children) WriteNode(json, child);
        json.EndArray();
    }
    json.EndObject();
}

}  // namespace

struct CFleetJsonWriter::SImpl {
    ExportChanges changes;
    CJsonWriter json;
};

CFleetJsonWriter::CFleetJsonWriter(ExportChanges changes) : m_impl(std::make_unique<SImpl>())
{
    m_impl->changes = std::move(changes);
    CJsonWriter& json = m_impl->json;
    json.BeginObject();
    json.Key("format");
    json.String(std::string_view("ferrodex-export"));
    json.Key("version");
    json.Number(kExportVersion);
    // Who wrote it and when, in ISO 8601 UTC.
    json.Key("ferrodex");
    json.String(std::string_view(FDX_VERSION));
    const std::string written = IsoUtcTime(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    json.Key("written");
    json.String(std::string_view(written));
    json.Key("hosts");
    json.BeginArray();
}

CFleetJsonWriter::~CFleetJsonWriter() = default;

void CFleetJsonWriter::Add(const FleetHost& host)
{
    CJsonWriter& json = m_impl->json;
    const ExportChanges& changes = m_impl->changes;
    json.BeginObject();
    json.Key("group");
    json.String(host.group);
    json.Key("name");
    json.String(host.name);
    json.Key("address");
    json.String(host.address);
    json.Key("port");
    json.Number(host.port);
    if (host.loginMethod) {
        json.Key("loginMethod");
        json.String(*host.loginMethod);
    }
    json.Key("scanned");
    json.Bool(host.scanned);
    if (host.scanTime) {
        json.Key("scanTime");
        json.String(*host.scanTime);
    }
    if (host.lastErrorTime) {
        json.Key("lastError");
        json.BeginObject();
        json.Key("time");
        json.String(*host.lastErrorTime);
        json.Key("message");
        json.String(host.lastError);
        json.EndObject();
    }
    if (const std::optional<std::size_t> count = changes.changeCount ? changes.changeCount(host) : std::nullopt) {
        json.Key("changes");
        json.BeginObject();
        json.Key("count");
        json.Number(static_cast<long long>(*count));
        json.Key("removed");
        json.BeginArray();
        for (const std::string& path : changes.removed ? changes.removed(host) : std::vector<std::string>())
            json.String(std::string_view(path));
        json.EndArray();
        json.EndObject();
    }
    if (host.scanned) WriteSummary(json, SummarizeHost(host));
    json.Key("nodes");
    json.BeginArray();
    for (const FleetNode& node : host.nodes) WriteNode(json, node);
    json.EndArray();
    json.EndObject();
}

std::string CFleetJsonWriter::Finish()
{
    CJsonWriter& json = m_impl->json;
    json.EndArray();
    json.EndObject();
    return json.Text() + "\n";
}

std::string ExportFleetJson(const std::vector<FleetHost>& fleet, const ExportChanges& changes)
{
    CFleetJsonWriter writer(changes);
    for (const FleetHost& host : fleet) writer.Add(host);
    return writer.Finish();
}
