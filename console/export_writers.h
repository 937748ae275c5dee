// The fleet's exports: JSON (every tree with its rows; described by
// docs/export.schema.json), CSV (one line a host) and a self-contained HTML
// report. Each returns the whole document.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/fleet_model.h"

// RFC 4180: comma-separated, CRLF line ends, a field holding a comma, a
// quote or a line end in double quotes (a quote doubled). A field that a
// spreadsheet would take for a formula (it starts with =, +, -, @, a tab or
// a carriage return) is written with a leading apostrophe, which spreadsheets
// show as text; the value of the field is otherwise unchanged.
std::string ExportFleetCsv(const std::vector<FleetHost>& fleet);
// Its header line, and one host's line: the same text a part at a time.
std::string FleetCsvHeader();
std::string FleetCsvLine(const FleetHost& host);

// Where the report may mark what changed since a host's previous scan: asked
// for each node (by its path below the host, as the commands write paths)
// and each row (the node's path and the row's name). The report marks what
// it is told; without a source of history nothing is marked.
struct ExportChanges {
    std::function<bool(const FleetHost& host, const std::u16string& nodePath)> nodeChanged;
    std::function<bool(const FleetHost& host, const std::u16string& nodePath, const std::u16string& row)> rowChanged;
    // How many changes a host has; nothing when it has no earlier scan.
    std::function<std::optional<std::size_t>(const FleetHost& host)> changeCount;
    // The paths of the nodes that went since the previous scan.
    std::function<std::vector<std::string>(const FleetHost& host)> removed;
};

// `changes` adds to each host with an earlier scan how many changes it has
// and the nodes that went.
std::string ExportFleetJson(const std::vector<FleetHost>& fleet, const ExportChanges& changes = {});

// One HTML file that needs nothing else (no fetches, inline style and
// script): a summary table that sorts (click a heading) and filters (the
// box above it; or "#filter=TEXT&sort=COLUMN" in the address, the column
// counted from 0), then each host's tree
// as nested collapsible sections with their rows; a print style opens them
// all. Every text from a host is escaped.
std::string ExportFleetHtml(const std::vector<FleetHost>& fleet, const ExportChanges& changes = {});

// The JSON and HTML documents written a host at a time, for a fleet read one
// host at a time: Add each host in order, then Finish gives the document.
class CFleetJsonWriter {
public:
    explicit CFleetJsonWriter(ExportChanges changes = {});
    ~CFleetJsonWriter();
    void Add(const FleetHost& host);
    std::string Finish();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

class CFleetHtmlWriter {
public:
    explicit CFleetHtmlWriter(ExportChanges changes = {});
    ~CFleetHtmlWriter();
    void Add(const FleetHost& host);
    std::string Finish();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};
