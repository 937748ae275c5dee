#include <chrono>
#include <cstdio>

#include "console/export_summary.h"
#include "console/fleet_query.h"
#include "console/host_diff.h"
#include "console/export_writers.h"
#include "console/node_path.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

// Text for an element or a quoted attribute: the markup characters as
// references; controls other than tab and line feed, bidirectional
// controls and invisible format characters written out visibly ("\x01",
// "\u202e"), as the terminal filter writes them, so that a name cannot hide
// or reorder what the report shows. Malformed UTF-8 becomes U+FFFD.
std::string Escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::u32string plain;
    const auto flush = [&]() {
        out += CodePointsToUtf8(plain);
        plain.clear();
    };
    for (char32_t c : Utf16ToCodePoints(AnsiToWide(text))) {
        const char* reference = c == U'&'    ? "&amp;"
                                : c == U'<'  ? "&lt;"
                                : c == U'>'  ? "&gt;"
                                : c == U'"'  ? "&quot;"
                                : c == U'\'' ? "&#39;"
                                              : nullptr;
        if (reference == nullptr && !IsShownVisibly(c, ELineFeeds::Kept) && !IsInvisibleFormat(c)) {
            plain.push_back(c);
            continue;
        }
        flush();
        out += reference != nullptr ? std::string(reference) : VisibleForm(c);
    }
    flush();
    return out;
}
std::string Escape(std::u16string_view text) { return Escape(WideToAnsi(text)); }

constexpr std::string_view kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Ferrodex hardware report</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 1.5em; color: #1b1b1b; }
h1 { font-size: 1.5em; margin: 0 0 .5em; }
h2 { font-size: 1.15em; margin: 1.5em 0 .3em; border-bottom: 1px solid #999; }
table { border-collapse: collapse; margin: .3em 0; }
th, td { border: 1px solid #bbb; padding: .2em .5em; text-align: left; vertical-align: top; white-space: pre-wrap; }
#summary th { background: #e8edf3; cursor: pointer; user-select: none; }
#summary th[aria-sort="ascending"]::after { content: " \25B2"; }
#summary th[aria-sort="descending"]::after { content: " \25BC"; }
#filter { font: inherit; padding: .2em .4em; width: 20em; margin: .3em 0; }
details { margin: .1em 0 .1em 1.2em; }
summary { cursor: pointer; font-weight: 600; }
.rows td:first-child { color: #444; }
.noscan { color: #8a4b00; }
.failed { color: #a40000; font-size: 90%; }
/* What changed since the previous scan, once a history marks it. */
.changed, details.changed > summary { background: #fff2b3; }
/* Printed: the summary on A4 landscape, then each host on a page of its
   own (a longer one runs on), its tree as far as it is open. */
@page { size: A4 landscape; margin: 12mm; }
@media print {
  #filter, .noprint { display: none; }
  table { width: 100%; table-layout: fixed; }
  th, td { overflow-wrap: anywhere; }
  #summary th { cursor: auto; }
  details > summary { list-style: none; }
  section.host { break-before: page; }
  h2 { margin-top: 0; }
  tr { break-inside: avoid; }
  body { margin: 0; font-size: 10pt; }
}
</style>
</head>
<body>
<h1>Ferrodex hardware report</h1>
)";

constexpr std::string_view kScript = R"(<script>
(function () {
  var table = document.getElementById('summary');
  var box = document.getElementById('filter');
  var rows = function () { return Array.prototype.slice.call(table.tBodies[0].rows); };
  function applyFilter() {
    var text = box.value.toLowerCase();
    rows().forEach(function (row) {
      var shown = text === '' || row.textContent.toLowerCase().indexOf(text) >= 0;
      row.hidden = !shown;
      var section = document.getElementById(row.getAttribute('data-section'));
      if (section) section.hidden = !shown;
    });
  }
  function sortBy(index, heading) {
    var ascending = heading.getAttribute('aria-sort') !== 'ascending';
    Array.prototype.forEach.call(table.tHead.rows[0].cells, function (cell) { cell.removeAttribute('aria-sort'); });
    heading.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
    var sorted = rows().sort(function (a, b) {
      var x = a.cells[index], y = b.cells[index];
      var order = x.hasAttribute('data-sort') && y.hasAttribute('data-sort')
        ? Number(x.getAttribute('data-sort')) - Number(y.getAttribute('data-sort'))
        : x.textContent.localeCompare(y.textContent, undefined, { numeric: true });
      return ascending ? order : -order;
    });
    sorted.forEach(function (row) { table.tBodies[0].appendChild(row); });
  }
  Array.prototype.forEach.call(table.tHead.rows[0].cells, function (cell, index) {
    cell.addEventListener('click', function () { sortBy(index, cell); });
  });
  box.addEventListener('input', applyFilter);
  // "#filter=TEXT&sort=N" in the address: a filter and a column to sort by.
  location.hash.replace(/^#/, '').split('&').forEach(function (part) {
    var at = part.indexOf('=');
    if (at < 0) return;
    var name = part.slice(0, at), value = decodeURIComponent(part.slice(at + 1));
    var heading = table.tHead.rows[0].cells[Number(value)];
    if (name === 'filter') { box.value = value; applyFilter(); }
    if (name === 'sort' && /^[0-9]+$/.test(value) && heading) sortBy(Number(value), heading);
  });
  window.addEventListener('beforeprint', function () {
    Array.prototype.forEach.call(document.querySelectorAll('details'), function (d) { d.open = true; });
  });
})();
</script>
)";

class CHtmlReport {
public:
    explicit CHtmlReport(const ExportChanges& changes) : m_changes(changes) {}

    // One host: its line of the summary table and its section.
    void Add(const FleetHost& host)
    {
        const std::size_t index = m_count++;
        SummaryRow(host, index);
        std::swap(m_out, m_sections);
        Host(host, index);
        std::swap(m_out, m_sections);
    }

    std::string Finish()
    {
        std::string summary = std::move(m_out);
        m_out = kHead;
        m_out += "<p>Written " + Escape(IsoUtcTime(std::chrono::duration_cast<std::chrono::seconds>(
                                                           std::chrono::system_clock::now().time_since_epoch())
                                                           .count())) +
                 " by Ferrodex " FDX_VERSION "; " + std::to_string(m_count) + " hosts.</p>\n";
        m_out += "<input id=\"filter\" type=\"search\" placeholder=\"Filter hosts\" aria-label=\"Filter hosts\">\n"
                 "<table id=\"summary\">\n<thead><tr><th>Host</th><th>Group</th><th>Address</th><th>Vendor</th>"
                 "<th>Product</th><th>Serial</th><th>CPU</th><th>CPUs</th><th>Memory</th><th>Disks</th>"
                 "<th>Network</th><th>Changes</th></tr></thead>\n<tbody>\n";
        m_out += summary;
        m_out += "</tbody>\n</table>\n";
        m_out += m_sections;
        m_sections.clear();
        m_out += kScript;
        m_out += "</body>\n</html>\n";
        return std::move(m_out);
    }

private:
    void SummaryRow(const FleetHost& host, std::size_t i)
    {
        const HostSummary summary = SummarizeHost(host);
        m_out += "<tr data-section=\"host-" + std::to_string(i) + "\"><td><a href=\"#host-" + std::to_string(i) +
                 "\">" + Escape(host.name) + "</a>" + FailureNote(host, "div") + "</td>";
        Cell(WideToAnsi(host.group));
        Cell(WideToAnsi(host.address) + ":" + std::to_string(host.port));
        if (!host.scanned) {
            m_out += "<td class=\"noscan\">No stored scan.</td>";
        } else {
            Cell(summary.vendor);
        }
        Cell(summary.product);
        Cell(summary.serial);
        Cell(summary.cpuModel);
        Cell(host.scanned ? std::to_string(summary.cpuCount) : std::string(), summary.cpuCount);
        Cell(summary.memoryTotal, summary.memoryBytes);
        Cell(Lines(summary.disks), summary.diskBytes);
        Cell(Lines(summary.nics));
        const std::optional<std::size_t> count = m_changes.changeCount ? m_changes.changeCount(host) : std::nullopt;
        Cell(count ? std::to_string(*count) : std::string());
        m_out += "</tr>\n";
    }

    // The last refresh that failed after the scan shown, or on a host never
    // scanned; empty when there is none.
    std::string FailureNote(const FleetHost& host, const std::string& tag) const
    {
        if (!host.lastErrorTime) return {};
        return "<" + tag + " class=\"failed\">Last refresh failed " + Escape(*host.lastErrorTime) + ": " +
               Escape(host.lastError) + "</" + tag + ">";
    }

    void Cell(const std::string& text) { m_out += "<td>" + Escape(text) + "</td>"; }
    // A cell that sorts by a number rather than its text ("512 MiB" before
    // "1 GiB").
    void Cell(const std::string& text, double sortKey)
    {
        char key[32];
        std::snprintf(key, sizeof key, "%.0f", sortKey);
        m_out += "<td data-sort=\"" + std::string(key) + "\">" + Escape(text) + "</td>";
    }

    static std::string Lines(const std::vector<std::string>& items)
    {
        std::string text;
        for (const std::string& item : items) text += (text.empty() ? "" : "\n") + item;
        return text;
    }

    void Host(const FleetHost& host, std::size_t index)
    {
        m_out += "<section class=\"host\" id=\"host-" + std::to_string(index) + "\">\n<h2>" +
                 Escape(FleetHostPath(host)) + "</h2>\n<p>" + Escape(host.address) + " port " +
                 std::to_string(host.port);
        if (host.scanTime) m_out += ", scanned " + Escape(*host.scanTime);
        m_out += "</p>\n" + FailureNote(host, "p");
        if (!host.scanned) m_out += "<p class=\"noscan\">No stored scan.</p>\n";
        std::vector<std::u16string> path;
        for (const FleetNode& node : host.nodes) Node(host, node, path);
        const std::vector<std::string> removed = m_changes.removed ? m_changes.removed(host) : std::vector<std::string>();
        if (!removed.empty()) {
            m_out += "<p>Removed since the previous scan:</p>\n<ul class=\"removed\">\n";
            for (const std::string& node : removed) m_out += "<li class=\"changed\">" + Escape(node) + "</li>\n";
            m_out += "</ul>\n";
        }
        m_out += "</section>\n";
    }

    // Sizes read as people read them ("447.1 GiB", not "468843520 Kb"); the
    // view's own form stays in the cell's title.
    static std::string ValueCell(const std::u16string& name, const std::u16string& value)
    {
        if (const std::string readable = ReadableSize(name, value); !readable.empty())
            return "<td title=\"" + Escape(value) + "\">" + Escape(readable) + "</td>";
        return "<td>" + Escape(value) + "</td>";
    }

    void Node(const FleetHost& host, const FleetNode& node, std::vector<std::u16string>& path)
    {
        path.push_back(node.name);
        const std::u16string nodePath = FormatNodePath(path);
        const bool changed = m_changes.nodeChanged && m_changes.nodeChanged(host, nodePath);
        m_out += changed ? "<details class=\"changed\"" : "<details";
        m_out += " data-path=\"" + Escape(nodePath) + "\"><summary>" + Escape(node.name) + "</summary>\n";
        if (!node.rows.empty()) {
            m_out += "<table class=\"rows\">\n";
            for (const auto& [name, value] : node.rows) {
                const bool rowChanged = m_changes.rowChanged && m_changes.rowChanged(host, nodePath, name);
                m_out += rowChanged ? "<tr class=\"changed\">" : "<tr>";
                m_out += "<td>" + Escape(name) + "</td>" + ValueCell(name, value) + "</tr>\n";
            }
            m_out += "</table>\n";
        }
        for (const FleetNode& child : node.children) Node(host, child, path);
        m_out += "</details>\n";
        path.pop_back();
    }

    const ExportChanges& m_changes;
    std::size_t m_count = 0;
    std::string m_out;       // the summary's lines, then the whole report
    std::string m_sections;  // the hosts' sections
};

}  // namespace

struct CFleetHtmlWriter::SImpl {
    ExportChanges changes;
    CHtmlReport report{changes};
};

CFleetHtmlWriter::CFleetHtmlWriter(ExportChanges changes) : m_impl(std::make_unique<SImpl>())
{
    m_impl->changes = std::move(changes);
}

CFleetHtmlWriter::~CFleetHtmlWriter() = default;

void CFleetHtmlWriter::Add(const FleetHost& host) { m_impl->report.Add(host); }

std::string CFleetHtmlWriter::Finish() { return m_impl->report.Finish(); }

std::string ExportFleetHtml(const std::vector<FleetHost>& fleet, const ExportChanges& changes)
{
    CFleetHtmlWriter writer(changes);
    for (const FleetHost& host : fleet) writer.Add(host);
    return writer.Finish();
}
