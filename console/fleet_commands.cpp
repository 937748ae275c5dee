#include "console/fleet_commands.h"

#include <cstdio>

#include "console/export_changes.h"
#include "console/export_writers.h"
#include "console/fleet_collect.h"
#include "console/fleet_search.h"
#include "console/progress_line.h"
#include "platform/atomic_file.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

bool Collect(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths,
             std::vector<FleetHost>& fleet, CScriptUserInterface& ui)
{
    CProgressLine progress;
    std::string error;
    const bool ok = CollectFleet(console, root, paths, fleet, error,
                                 [&](std::size_t done, std::size_t total, const std::u16string& path) {
                                     ui.NextHost();
                                     progress.Show(u"Reading host " + AnsiToWide(std::to_string(done + 1)) + u" of " +
                                                   AnsiToWide(std::to_string(total)) + u": " + path);
                                 });
    progress.Clear();
    if (!ok) {
        ui.Error(error);
        return false;
    }
    for (const FleetHost& host : fleet)
        if (!host.scanned)
            std::fprintf(stderr, "%s: no stored scan, skipped\n", TerminalText(FleetHostPath(host)).c_str());
    return true;
}

// What changed since each host's previous scan; a history that cannot be
// read is a warning, not a failure of the export.
CExportHistory History(const std::string& historyFile, const std::vector<FleetHost>& fleet)
{
    std::string warning;
    CExportHistory history(historyFile, fleet, warning);
    if (!warning.empty()) std::fprintf(stderr, "Warning: %s\n", TerminalText(warning).c_str());
    return history;
}

}  // namespace

ScriptAnswers FleetReadAnswers()
{
    ScriptAnswers answers;
    answers.login = u"ferrodex";
    return answers;
}

void RunFind(CConsoleHost& console, HSCOPEITEM root, const std::string& query, bool json, CScriptUserInterface& ui)
{
    std::vector<QueryTerm> terms;
    std::string error;
    if (!ParseQuery(query, terms, error)) {
        ui.Error(error);
        return;
    }
    std::vector<FleetHost> fleet;
    if (!Collect(console, root, {}, fleet, ui)) return;
    const std::vector<FleetMatch> matches = SearchFleet(fleet, terms);
    const std::string out = json ? FleetMatchesJson(fleet, matches) : FleetMatchesText(fleet, matches);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

void RunExport(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths, const std::string& format,
               const std::string& file, const std::string& historyFile, CScriptUserInterface& ui)
{
    std::vector<FleetHost> fleet;
    if (!Collect(console, root, paths, fleet, ui)) return;
    std::string out;
    if (format == "json") {
        out = ExportFleetJson(fleet, History(historyFile, fleet).Marks());
    } else if (format == "csv") {
        out = ExportFleetCsv(fleet);
    } else if (format == "html") {
        out = ExportFleetHtml(fleet, History(historyFile, fleet).Marks());
    } else {
        ui.Error("unknown export format \"" + format + "\": write json, csv or html");
        return;
    }
    if (file.empty()) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        return;
    }
    std::string reason;
    if (!WriteFileAtomically(file, std::span(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()), reason))
        ui.Error("cannot write " + file + ": " + reason);
}
