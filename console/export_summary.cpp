#include "console/export_summary.h"

#include <cstdio>

#include "console/fleet_query.h"
#include "platform/text.h"

namespace {

bool ContainsFolded(const std::string& text, std::string_view part)
{
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower.find(part) != std::string::npos;
}

std::string Row(const std::vector<const FleetRow*>& rows, std::u16string_view name)
{
    return WideToAnsi(FleetRowValue(rows, name));
}

// Whether a node is of lshw's class; a node that does not carry its class
// (a tree read from an older module) is judged by its id.
bool IsClass(const FleetNode& node, std::u16string_view lshwClass, std::u16string_view id)
{
    return node.hwClass.empty() ? FleetNodeClass(node.name) == id : node.hwClass == lshwClass;
}

class CSummarizer {
public:
    explicit CSummarizer(HostSummary& summary) : m_summary(summary) {}

    void Top(const FleetNode& node)
    {
        if (!IsFleetGeneralNode(node)) return;
        const std::vector<const FleetRow*> rows = FleetNodeRows(node);
        m_summary.vendor = Row(rows, u"vendor");
        m_summary.product = Row(rows, u"product");
        m_summary.serial = Row(rows, u"serial");
    }

    void Walk(const FleetNode& node)
    {
        if (IsFleetGeneralNode(node)) return;
        const std::vector<const FleetRow*> rows = FleetNodeRows(node);
        const std::string description = Row(rows, u"description");
        if (IsClass(node, u"processor", u"cpu")) {
            ++m_summary.cpuCount;
            if (m_summary.cpuModel.empty()) m_summary.cpuModel = Row(rows, u"product");
        } else if (IsClass(node, u"memory", u"memory") && ContainsFolded(description, "system memory")) {
            if (const std::optional<Quantity> size = ParseQuantity(Row(rows, u"size"));
                size && size->kind == EQuantityKind::Bytes)
                m_memory += size->value;
        } else if (node.hwClass.empty() ? FleetNodeClass(node.name) == u"disk" || ContainsFolded(description, "disk")
                                        : node.hwClass == u"disk") {
            std::string text = Row(rows, u"logicalname");
            if (text.empty()) text = WideToAnsi(node.name);
            if (const std::optional<Quantity> size = ParseQuantity(Row(rows, u"size"));
                size && size->kind == EQuantityKind::Bytes) {
                text += " " + FormatBytes(size->value);
                m_summary.diskBytes += size->value;
            }
            m_summary.disks.push_back(std::move(text));
        } else if (IsClass(node, u"network", u"network")) {
            // A virtual interface names itself on its device child.
            std::string text = Row(rows, u"logicalname");
            std::string mac = Row(rows, u"serial");
            for (const FleetNode& child : node.children) {
                const std::vector<const FleetRow*> childRows = FleetNodeRows(child);
                if (text.empty()) text = Row(childRows, u"logicalname");
                if (mac.empty()) mac = Row(childRows, u"serial");
            }
            if (text.empty()) text = WideToAnsi(node.name);
            if (!mac.empty()) text += " " + mac;
            m_summary.nics.push_back(std::move(text));
            return;  // its children describe the same interface
        }
        for (const FleetNode& child : node.children) Walk(child);
    }

    void Finish()
    {
        if (m_memory > 0) m_summary.memoryTotal = FormatBytes(m_memory);
        m_summary.memoryBytes = m_memory;
    }

private:
    HostSummary& m_summary;
    double m_memory = 0;
};

}  // namespace

std::string FormatBytes(double bytes)
{
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
        bytes /= 1024;
        ++unit;
    }
    char text[64];
    const double whole = static_cast<double>(static_cast<long long>(bytes));
    if (bytes == whole || unit == 0)
        std::snprintf(text, sizeof text, "%.0f %s", bytes, kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
    return text;
}

HostSummary SummarizeHost(const FleetHost& host)
{
    HostSummary summary;
    CSummarizer summarizer(summary);
    for (const FleetNode& node : host.nodes) summarizer.Top(node);
    for (const FleetNode& node : host.nodes) summarizer.Walk(node);
    summarizer.Finish();
    return summary;
}

std::string ReadableSize(std::u16string_view name, std::u16string_view value)
{
    if (name != u"size" && name != u"capacity") return {};
    const std::optional<Quantity> size = ParseQuantity(WideToAnsi(value));
    if (!size || size->kind != EQuantityKind::Bytes || size->value < 1024) return {};
    return FormatBytes(size->value);
}
