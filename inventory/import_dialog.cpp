#include "inventory/import_dialog.h"

#include "inventory/group_node.h"
#include "inventory/host_import_apply.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "res/resource_ids.h"

namespace {

// Lines of notes and of hosts a report shows; the rest are counted.
constexpr std::size_t kShownNotes = 200;
constexpr std::size_t kShownRoutes = 500;

std::u16string Replace(std::u16string text, std::u16string_view mark, std::u16string_view value)
{
    const std::size_t at = text.find(mark);
    if (at != std::u16string::npos) text.replace(at, mark.size(), value);
    return text;
}

std::u16string NoteLine(const hostimport::SImportNote& note)
{
    return AnsiToWide(note.file + ":" + std::to_string(note.line) + ": " + note.text);
}

// "added Lab/web1: deploy@10.0.0.5 port 22, key ~/.ssh/id_web, via bastion"
std::u16string RouteLine(const SImportedRoute& route)
{
    std::string line = route.state == SImportedRoute::EState::Added ? "added " : "changed ";
    line += route.group + "/" + route.name + ": " + (route.login.empty() ? std::string("(no login) ") : route.login + "@") +
            route.address + " port " + std::to_string(route.port);
    line += route.keyFile.empty() ? ", no key file" : ", key " + route.keyFile;
    line += route.jump.empty() ? ", direct" : ", via " + route.jump;
    if (!route.was.empty()) line += " (" + route.was + ")";
    return AnsiToWide(line);
}

// A JSON string: quotes, backslashes and control characters escaped.
std::string JsonText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += HexDigitLower(byte >> 4u);
            out += HexDigitLower(byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The report for tools: the counts, every host with its route and state,
// every note.
std::string JsonReport(const std::string& path, const SImportApplied& applied,
                       const std::vector<hostimport::SImportNote>& notes)
{
    std::string json = "{\"file\":" + JsonText(path) + ",\"added\":" + std::to_string(applied.added) +
                       ",\"updated\":" + std::to_string(applied.updated) +
                       ",\"unchanged\":" + std::to_string(applied.unchanged) +
                       ",\"groupsAdded\":" + std::to_string(applied.groupsAdded) + ",\"hosts\":[";
    bool first = true;
    for (const SImportedRoute& route : applied.routes) {
        const char* state = route.state == SImportedRoute::EState::Added     ? "added"
                            : route.state == SImportedRoute::EState::Updated ? "changed"
                                                                            : "unchanged";
        json += std::string(first ? "" : ",") + "{\"state\":\"" + state + "\",\"group\":" + JsonText(route.group) +
                ",\"name\":" + JsonText(route.name) + ",\"address\":" + JsonText(route.address) +
                ",\"port\":" + std::to_string(route.port) + ",\"login\":" + JsonText(route.login) +
                ",\"keyFile\":" + JsonText(route.keyFile) + ",\"jump\":" + JsonText(route.jump) +
                ",\"was\":" + JsonText(route.was) + "}";
        first = false;
    }
    json += "],\"notes\":[";
    first = true;
    for (const hostimport::SImportNote& note : notes) {
        json += std::string(first ? "" : ",") + "{\"file\":" + JsonText(note.file) + ",\"line\":" +
                std::to_string(note.line) + ",\"text\":" + JsonText(note.text) +
                ",\"refused\":" + (note.refused ? "true" : "false") + "}";
        first = false;
    }
    return json + "]}";
}

}  // namespace

int CImportDialog::DoModal()
{
    DialogState dialog;
    dialog.texts[IDC_IMPORT_FILE] = u"~/.ssh/config";
    dialog.texts[IDC_IMPORT_FORMAT] = u"auto";
    for (;;) {
        if (DialogBoxParam(g_hInstance, IDD_IMPORT, GetActiveWindow(), dialog) != IDOK) return IDCANCEL;
        UINT refusal = 0;
        const std::string format = WideToAnsi(dialog.texts[IDC_IMPORT_FORMAT]);
        if (dialog.texts[IDC_IMPORT_FILE].empty())
            refusal = IDS_IMPORT_NO_FILE;
        else if (!hostimport::ParseImportFormat(format, m_format))
            refusal = IDS_IMPORT_FORMAT;
        if (refusal == 0) break;
        MessageBox(GetActiveWindow(), LoadString(g_hInstance, refusal), dialog.title.empty() ? dialog.tmpl.title : dialog.title,
                   MB_OK | MB_ICONWARNING);
    }
    m_bstrFile = dialog.texts[IDC_IMPORT_FILE];
    m_bJson = dialog.checks[IDC_IMPORT_JSON] != 0;
    return IDOK;
}

HRESULT RunHostImport(CGroupNode& group, IConsoleNameSpace2* nameSpace)
{
    CImportDialog dialog;
    if (dialog.DoModal() != IDOK) return S_FALSE;
    std::string path = WideToAnsi(dialog.m_bstrFile);
    if (path == "~" || path.rfind("~/", 0) == 0) path = UserHomeFolder() + path.substr(1);

    // The whole file is read and parsed before the inventory changes.
    const hostimport::SImportResult result = hostimport::ImportHostFile(path, dialog.m_format);
    const std::u16string caption = LoadString(g_hInstance, IDS_CAPTION);
    if (!result.error.empty()) {
        MessageBox(GetActiveWindow(), Replace(LoadString(g_hInstance, IDS_IMPORT_FAILED), u"%1", AnsiToWide(result.error)),
                   caption, MB_OK | MB_ICONERROR);
        return S_FALSE;
    }
    const SImportApplied applied = ApplyImportedHosts(*group.m_pRoot, group, result.hosts, nameSpace);
    if (dialog.m_bJson) {
        std::vector<hostimport::SImportNote> notes = result.notes;
        notes.insert(notes.end(), applied.notes.begin(), applied.notes.end());
        MessageBox(GetActiveWindow(), AnsiToWide(JsonReport(path, applied, notes)), caption, MB_OK | MB_ICONINFORMATION);
        return S_OK;
    }

    std::u16string report = LoadString(g_hInstance, IDS_IMPORT_SUMMARY);
    report = Replace(report, u"%1", AnsiToWide(path));
    report = Replace(report, u"%2", IntToDecimal(applied.added));
    report = Replace(report, u"%3", IntToDecimal(applied.updated));
    report = Replace(report, u"%4", IntToDecimal(applied.unchanged));
    report = Replace(report, u"%5", IntToDecimal(applied.groupsAdded));
    std::size_t shownRoutes = 0;
    std::size_t routes = 0;
    for (const SImportedRoute& route : applied.routes) {
        if (route.state == SImportedRoute::EState::Unchanged) continue;
        if (routes++ == 0) report += u"\n" + LoadString(g_hInstance, IDS_IMPORT_ROUTES);
        if (shownRoutes < kShownRoutes) {
            report += u"\n" + RouteLine(route);
            ++shownRoutes;
        }
    }
    if (routes > shownRoutes)
        report += u"\n" + Replace(LoadString(g_hInstance, IDS_IMPORT_MORE), u"%1", IntToDecimal(routes - shownRoutes));
    std::vector<hostimport::SImportNote> notes = result.notes;
    notes.insert(notes.end(), applied.notes.begin(), applied.notes.end());
    if (!notes.empty()) {
        report += u"\n" + LoadString(g_hInstance, IDS_IMPORT_NOTES);
        for (std::size_t i = 0; i < notes.size() && i < kShownNotes; ++i) report += u"\n" + NoteLine(notes[i]);
        if (notes.size() > kShownNotes)
            report += u"\n" + Replace(LoadString(g_hInstance, IDS_IMPORT_MORE), u"%1", IntToDecimal(notes.size() - kShownNotes));
    }
    MessageBox(GetActiveWindow(), report, caption, MB_OK | MB_ICONINFORMATION);
    return S_OK;
}
