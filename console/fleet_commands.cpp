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

// Reads the hosts one at a time; `visit` sees each with its tree. Hosts
// without a stored scan are named on standard error once all are read.
bool Visit(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths, CScriptUserInterface& ui,
           const FleetVisit& visit)
{
    CProgressLine progress;
    std::string error;
    std::vector<std::u16string> unscanned;
    const bool ok = VisitFleet(
        console, root, paths,
        [&](FleetHost&& host) {
            if (!host.scanned) unscanned.push_back(FleetHostPath(host));
            visit(std::move(host));
        },
        error,
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
    for (const std::u16string& path : unscanned)
        std::fprintf(stderr, "%s: no stored scan, skipped\n", TerminalText(path).c_str());
    return true;
}

// A host as the lists of matches name it: its tree is not kept.
FleetHost WithoutTree(FleetHost&& host)
{
    host.nodes.clear();
    host.nodes.shrink_to_fit();
    return std::move(host);
}

}  // namespace

ScriptAnswers FleetReadAnswers()
{
    ScriptAnswers answers;
    answers.login = u"ferrodex";
    return answers;
}

std::size_t RunFind(CConsoleHost& console, HSCOPEITEM root, const std::string& query, bool json,
                    CScriptUserInterface& ui)
{
    std::vector<QueryTerm> terms;
    std::string error;
    if (!ParseQuery(query, terms, error)) {
        ui.Error(error);
        return 0;
    }
    // One host's tree at a time: the matches and the hosts' names are kept.
    std::vector<FleetHost> fleet;
    std::vector<FleetMatch> matches;
    std::vector<std::string> notes;
    std::vector<FleetHost> one(1);
    if (!Visit(console, root, {}, ui, [&](FleetHost&& host) {
            one[0] = std::move(host);
            for (FleetMatch& match : SearchFleet(one, terms, &notes)) {
                match.host = fleet.size();
                matches.push_back(std::move(match));
            }
            fleet.push_back(WithoutTree(std::move(one[0])));
        }))
        return 0;
    // A term that could never hold is refused rather than answered empty.
    if (!notes.empty()) {
        for (const std::string& note : notes) ui.Error(note);
        return 0;
    }
    const std::string out = json ? FleetMatchesJson(fleet, matches) : FleetMatchesText(fleet, matches);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return matches.size();
}

void RunExport(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths, const std::string& format,
               const std::string& file, const std::string& historyFile, CScriptUserInterface& ui)
{
    std::string out;
    if (format == "csv") {
        // One line a host: no tree is kept past its line.
        out = FleetCsvHeader();
        CHistoryTimes times(historyFile);
        if (!Visit(console, root, paths, ui, [&](FleetHost&& host) {
                times.Fill(host);
                out += FleetCsvLine(host);
            }))
            return;
    } else if (format == "json" || format == "html") {
        // One host's tree at a time; its changes are read as it is written.
        std::string warning;
        const CExportHistory history(historyFile, warning);
        if (!warning.empty()) std::fprintf(stderr, "Warning: %s\n", TerminalText(warning).c_str());
        CHistoryTimes times(historyFile);
        const auto write = [&](auto& writer) {
            if (!Visit(console, root, paths, ui, [&](FleetHost&& host) {
                    times.Fill(host);
                    writer.Add(host);
                }))
                return false;
            out = writer.Finish();
            return true;
        };
        if (format == "json") {
            CFleetJsonWriter json(history.Marks());
            if (!write(json)) return;
        } else {
            CFleetHtmlWriter html(history.Marks());
            if (!write(html)) return;
        }
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
