#include "console/script_ui.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "platform/process_guard.h"
#include "platform/terminal.h"
#include "platform/terminal_text.h"
#include "platform/text.h"
#include "res/resource_ids.h"

namespace {

constexpr int kMaxHostDialogs = 4;

WindowObject* const kCommandWindow = reinterpret_cast<WindowObject*>(std::uintptr_t{0x10});
WindowObject* const kProgressWindow = reinterpret_cast<WindowObject*>(std::uintptr_t{0x11});

// A multi-line text (a message, or what a server said) filtered for the
// terminal, its later lines indented so that none of them can pass for a
// line of its own ("Error: ..."), without trailing line feeds.
std::string ShownLines(std::string_view text)
{
    std::string shown = TerminalText(text, ELineFeeds::Kept);
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    std::string out;
    out.reserve(shown.size());
    for (char c : shown) {
        out += c;
        if (c == '\n') out += "  ";
    }
    return out;
}
std::string ShownLines(std::u16string_view text) { return ShownLines(WideToAnsi(text)); }

void PrintError(std::string_view text)
{
    std::fprintf(stderr, "Error: %s\n", ShownLines(text).c_str());
    std::fflush(stderr);
}

bool IsQuestion(UINT type)
{
    const UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_OKCANCEL || buttons == MB_YESNO || buttons == MB_YESNOCANCEL;
}

// Reads a secret into a dialog field, wiping every copy on the way.
bool ReadSecretInto(const std::string& prompt, std::u16string& field)
{
    HoldSecretsInProcess();
    Wiped<std::string> line;
    if (!ReadSecretLine(prompt, line.get())) return false;
    Wiped<std::u16string> wide(AnsiToWide(line.get()));
    WipeString(field);
    field = wide.get();
    return true;
}

}  // namespace

std::u16string MainPasswordQuestion(std::u16string_view question, const std::string& consoleFile)
{
    std::u16string text(question);
    while (!text.empty() && (text.back() == u':' || text.back() == u' ')) text.pop_back();
    if (!consoleFile.empty()) text += u" for " + AnsiToWide(std::filesystem::path(consoleFile).filename().string());
    return text + u":";
}

void CScriptUserInterface::Error(const std::string& text)
{
    PrintError(text);
    m_bFailed = true;
}

int CScriptUserInterface::DoModal(HWND owner, DialogState& dialog)
{
    const int result = Answer(owner, dialog);
    // A cancelled question ends the command with a failure; a jump host
    // left without a password is told by the scan, naming it.
    if (result != IDOK && !m_bFailed && dialog.tmpl.id != IDD_HOP_PASSWORD) {
        const std::u16string& title = dialog.title.empty() ? dialog.tmpl.title : dialog.title;
        Error("the question \"" + WideToAnsi(title) + "\" was cancelled");
    }
    return result;
}

int CScriptUserInterface::Answer(HWND, DialogState& dialog)
{
    switch (dialog.tmpl.id) {
    case IDD_GROUP:
        // A dialog that comes back after an error refused its answer, which
        // the options would only give again.
        if (m_bFailed) return IDCANCEL;
        if (!m_answers.groupName) return Unanswered(dialog);
        dialog.texts[IDC_GROUP_NAME] = *m_answers.groupName;
        return IDOK;
    case IDD_HOST:
        return AnswerHostDialog(dialog);
    case IDD_PASSWORD:
        return AnswerPasswordDialog(dialog);
    case IDD_HOP_PASSWORD:
        // A jump host's own password: typed on a terminal, never taken from
        // standard input (that holds the main or the hosts' password).
        if (!StdinIsTerminal()) return IDCANCEL;
        return ReadSecretInto(WideToAnsi(dialog.texts[IDC_HOP_PASSWORD_TEXT]) + " ", dialog.texts[IDC_HOP_PASSWORD])
                   ? IDOK
                   : IDCANCEL;
    case IDD_ABOUT:
        return IDOK;
    case IDD_IMPORT:
        if (m_bFailed) return IDCANCEL;  // refused once: the options would only give the same
        if (!m_answers.importFile) return Unanswered(dialog);
        dialog.texts[IDC_IMPORT_FILE] = *m_answers.importFile;
        if (m_answers.importFormat) dialog.texts[IDC_IMPORT_FORMAT] = *m_answers.importFormat;
        dialog.checks[IDC_IMPORT_JSON] = m_answers.importJson ? 1 : 0;
        return IDOK;
    case IDD_ENGINE_ABSENT:
    case IDD_READY_TO_INSTALL:
        if (m_answers.yes) return IDOK;
        if (StdinIsTerminal()) return PromptForm(dialog);
        Error("the host has no lshw; allow Ferrodex to deploy and build it there with --yes");
        return IDCANCEL;
    default:
        // Other confirmation dialogs (OK / Cancel, no fields): --yes too.
        if (m_answers.yes) return IDOK;
        return Unanswered(dialog);
    }
}

int CScriptUserInterface::AnswerHostDialog(DialogState& dialog)
{
    // The add and edit modes are answered by the command that opened them;
    // the login question by --login, --password-stdin, --identity, --agent
    // or --passphrase-stdin.
    const bool answered = m_answers.answerHostDialog || m_answers.login || m_answers.hostPasswordFromInput ||
                          m_answers.keyFile || m_answers.agent || m_answers.passphraseFromInput;
    // The login question of one host among many names it ("Data/db1").
    const std::u16string where = dialog.texts.count(IDC_HOST_PATH) ? dialog.texts[IDC_HOST_PATH] : std::u16string();
    // A command that works through many hosts asks once for each.
    const std::u16string asked = where.empty() ? dialog.texts[IDC_HOST] : where;
    const bool nextHost = asked != m_lastDialogHost;
    if (nextHost) {
        m_lastDialogHost = asked;
        m_nHostDialogs = 0;
    }
    if (!answered && !where.empty() && StdinIsTerminal()) return AskFleetLogin(dialog, where);
    // A dialog that keeps coming back did not get what it needs.
    if (!answered || ++m_nHostDialogs > kMaxHostDialogs) {
        if (!where.empty() && !StdinIsTerminal() && !m_bFailed) {
            const std::u16string& title = dialog.title.empty() ? dialog.tmpl.title : dialog.title;
            Error("the dialog \"" + WideToAnsi(title) + "\" for " + WideToAnsi(where) +
                  (dialog.texts[IDC_KEY_FILE].empty()
                       ? " needs an answer: give the password with --password-stdin (or a key file with --identity, "
                         "or --agent)"
                       : " needs an answer: give the key file's passphrase with --passphrase-stdin"));
            return IDCANCEL;
        }
        return Unanswered(dialog);
    }
    if (m_bFailed) return IDCANCEL;  // refused after an error: the same answer would follow
    if (m_answers.clearPassword) dialog.checks[IDC_CLEAR_PASSWORD] = 1;
    if (m_answers.sudo) dialog.checks[IDC_SUDO] = *m_answers.sudo ? 1 : 0;
    if (m_answers.jump) dialog.texts[IDC_JUMP] = *m_answers.jump;
    if (m_answers.host) dialog.texts[IDC_HOST] = *m_answers.host;
    if (m_answers.hostName) dialog.texts[IDC_HOST_NAME] = *m_answers.hostName;
    if (m_answers.port) dialog.texts[IDC_PORT] = *m_answers.port;
    if (m_answers.login) dialog.texts[IDC_LOGIN] = *m_answers.login;
    if (m_answers.keyFile) dialog.texts[IDC_KEY_FILE] = *m_answers.keyFile;
    if (m_answers.agent) dialog.checks[IDC_USE_AGENT] = *m_answers.agent ? 1 : 0;
    const std::string who = LoginQuestionSubject(dialog, where);
    if (m_answers.hostPasswordFromInput) {
        // Many hosts share the one password read first (as `--ask-pass`
        // does); a question that comes back for the same host reads again.
        if (!where.empty() && nextHost && m_bSharedPassword) {
            WipeString(dialog.texts[IDC_PASSWORD]);
            dialog.texts[IDC_PASSWORD] = m_sharedPassword.get();
        } else {
            if (!ReadSecretInto("Password for " + who + ": ", dialog.texts[IDC_PASSWORD])) return IDCANCEL;
            if (!where.empty() && !m_bSharedPassword) {
                m_sharedPassword.get() = dialog.texts[IDC_PASSWORD];
                m_bSharedPassword = true;
            }
        }
    }
    // Of many hosts, only one with a key file reads a passphrase.
    const bool passphraseAsked = where.empty() || !dialog.texts[IDC_KEY_FILE].empty();
    if (m_answers.passphraseFromInput && passphraseAsked &&
        !ReadSecretInto("Passphrase of the key file for " + who + ": ", dialog.texts[IDC_PASSPHRASE]))
        return IDCANCEL;
    return IDOK;
}

std::string CScriptUserInterface::LoginQuestionSubject(DialogState& dialog, const std::u16string& where)
{
    const std::string host = WideToAnsi(dialog.texts[IDC_HOST]);
    const std::string login = WideToAnsi(dialog.texts[IDC_LOGIN]);
    const std::string who = login.empty() ? host : login + "@" + host;
    return TerminalText(where.empty() ? who : who + " (" + WideToAnsi(where) + ")");
}

int CScriptUserInterface::AskFleetLogin(DialogState& dialog, const std::u16string& where)
{
    // On a terminal, a host of many that lacks only its password (or its
    // key file's passphrase) is asked just that, by name; one that lacks
    // more gets the whole form.
    if (dialog.texts[IDC_LOGIN].empty() || dialog.texts[IDC_HOST].empty()) return PromptForm(dialog);
    if (++m_nHostDialogs > kMaxHostDialogs) return Unanswered(dialog);
    const std::string who = LoginQuestionSubject(dialog, where);
    if (!dialog.texts[IDC_KEY_FILE].empty())
        return ReadSecretInto("Passphrase of the key file for " + who + ": ", dialog.texts[IDC_PASSPHRASE]) ? IDOK
                                                                                                             : IDCANCEL;
    return ReadSecretInto("Password for " + who + ": ", dialog.texts[IDC_PASSWORD]) ? IDOK : IDCANCEL;
}

int CScriptUserInterface::AnswerPasswordDialog(DialogState& dialog)
{
    const std::string question = WideToAnsi(dialog.texts[IDC_PASSWORD_TEXT]);
    std::u16string& field = dialog.texts[IDC_MAIN_PASSWORD];
    const bool confirm = !dialog.texts[IDC_PASSWORD_CONFIRM].empty();
    const bool terminal = StdinIsTerminal();
    if (confirm && !terminal) {
        // A script gives a new main password once: the line read before.
        WipeString(field);
        field = m_lastMainPassword.get();
        WipeString(m_lastMainPassword.get());
        return IDOK;
    }
    // After an error (a wrong password) a script gets no second try.
    if (!terminal && m_bFailed) return IDCANCEL;
    const std::string prompt = TerminalText(MainPasswordQuestion(AnsiToWide(question), m_consoleFile));
    if (!ReadSecretInto(prompt + " ", field)) {
        if (!terminal) Error("the main password is missing: give it as the first line of standard input");
        return IDCANCEL;
    }
    WipeString(m_lastMainPassword.get());
    m_lastMainPassword.get() = field;
    return IDOK;
}

int CScriptUserInterface::Unanswered(DialogState& dialog)
{
    if (StdinIsTerminal()) return PromptForm(dialog);
    const std::u16string& title = dialog.title.empty() ? dialog.tmpl.title : dialog.title;
    Error("the dialog \"" + WideToAnsi(title) + "\" needs an answer that none of the options gives");
    return IDCANCEL;
}

int CScriptUserInterface::PromptForm(DialogState& dialog)
{
    std::fprintf(stderr, "%s\n", TerminalText(dialog.title.empty() ? dialog.tmpl.title : dialog.title).c_str());
    std::u16string label;
    bool anyField = false;
    for (const auto& control : dialog.tmpl.controls) {
        if (!control.visible) continue;
        if (control.kind == "static") {
            label = dialog.texts.count(control.id) ? dialog.texts[control.id] : control.text;
            continue;
        }
        if (control.kind != "edit" && control.kind != "digits" && control.kind != "password") continue;
        anyField = true;
        std::u16string& field = dialog.texts[control.id];
        std::string name = WideToAnsi(label.empty() ? u"Value:" : label);
        if (control.kind == "password") {
            // A secret names whose it is: the login and host read above.
            const std::u16string where = dialog.texts.count(IDC_HOST_PATH) ? dialog.texts[IDC_HOST_PATH] : u"";
            if (control.id == IDC_PASSWORD && dialog.texts.count(IDC_HOST))
                name = "Password for " + LoginQuestionSubject(dialog, where) + ":";
            else if (control.id == IDC_PASSPHRASE && dialog.texts.count(IDC_HOST))
                name = "Passphrase of the key file for " + LoginQuestionSubject(dialog, where) + ":";
            else if (control.id == IDC_MAIN_PASSWORD)
                name = TerminalText(MainPasswordQuestion(dialog.texts[IDC_PASSWORD_TEXT], m_consoleFile));
            if (!ReadSecretInto(name + " ", field)) return IDCANCEL;
            continue;
        }
        std::fprintf(stderr, "%s [%s] ", TerminalText(name).c_str(), TerminalText(field).c_str());
        std::fflush(stderr);
        std::string line;
        if (!ReadInputLine(line)) return IDCANCEL;
        if (!line.empty()) field = AnsiToWide(line);
    }
    if (!anyField) {
        std::fprintf(stderr, "Proceed? [y/N] ");
        std::fflush(stderr);
        std::string line;
        if (!ReadInputLine(line) || (line != "y" && line != "Y" && line != "yes")) return IDCANCEL;
    }
    return IDOK;
}

int CScriptUserInterface::ShowMessage(HWND, std::u16string_view text, std::u16string_view caption, UINT type)
{
    const std::string message = WideToAnsi(text);
    if (!IsQuestion(type)) {
        const UINT icon = type & MB_ICONMASK;
        // The import's JSON report is the command's output; its text is
        // escaped JSON, safe on a terminal.
        if (m_answers.importJson && icon == MB_ICONINFORMATION && !message.empty() && message.front() == '{') {
            std::printf("%s\n", message.c_str());
            std::fflush(stdout);
            return IDOK;
        }
        // Notes never fail a command; warnings (a question follows) fail it
        // only where no one can answer again.
        if (icon == MB_ICONINFORMATION || (icon == MB_ICONWARNING && StdinIsTerminal())) {
            std::fprintf(stderr, "%s: %s\n", icon == MB_ICONINFORMATION ? "Note" : "Warning", ShownLines(message).c_str());
            std::fflush(stderr);
        } else {
            Error(message);
        }
        return IDOK;
    }
    const UINT buttons = type & MB_TYPEMASK;
    const int yes = buttons == MB_OKCANCEL ? IDOK : IDYES;
    const int no = buttons == MB_OKCANCEL ? IDCANCEL : buttons == MB_YESNOCANCEL ? IDCANCEL : IDNO;
    if (m_answers.acceptQuestions) {
        // Said yes for the user, never silently: what was accepted (the
        // host, its new key and the keys it replaced) stays on record.
        std::fprintf(stderr, "Warning: %s: %s (accepted: --accept-changed-host-key)\n", TerminalText(caption).c_str(),
                     ShownLines(message).c_str());
        std::fflush(stderr);
        return yes;
    }
    if (StdinIsTerminal()) {
        std::fprintf(stderr, "%s: %s [y/N] ", TerminalText(caption).c_str(), ShownLines(message).c_str());
        std::fflush(stderr);
        std::string line;
        if (ReadInputLine(line) && (line == "y" || line == "Y" || line == "yes")) return yes;
        return no;
    }
    std::fprintf(stderr, "%s: %s (answered no; --accept-changed-host-key answers yes)\n", TerminalText(caption).c_str(),
                 ShownLines(message).c_str());
    return no;
}

HWND CScriptUserInterface::CreateProgress(HWND, const DialogState& dialog)
{
    if (StderrIsTerminal()) {
        for (const auto& [id, text] : dialog.texts)
            if (!text.empty()) std::fprintf(stderr, "%s\n", ShownLines(text).c_str());
    }
    return kProgressWindow;
}

std::u16string ProgressBarText(std::u16string_view text, std::size_t width)
{
    std::size_t done = 0;
    std::size_t total = 0;
    std::size_t at = 0;
    const auto number = [&](std::size_t& value) {
        const std::size_t start = at;
        while (at < text.size() && at - start < 9 && text[at] >= u'0' && text[at] <= u'9')
            value = value * 10 + static_cast<std::size_t>(text[at++] - u'0');
        // A count too long to hold is no count.
        return at > start && (at == text.size() || text[at] < u'0' || text[at] > u'9');
    };
    if (!number(done) || at >= text.size() || text[at++] != u'/' || !number(total) || total == 0 || done > total)
        return std::u16string(text);
    const std::size_t filled = done * width / total;
    return u"[" + std::u16string(filled, u'#') + std::u16string(width - filled, u' ') + u"] " + std::u16string(text);
}

void CScriptUserInterface::SetProgressText(HWND, int, std::u16string_view text)
{
    if (m_answers.progressBar) {
        if (!m_pProgressLine) m_pProgressLine = std::make_unique<CProgressLine>();
        m_pProgressLine->Show(ProgressBarText(text));
        return;
    }
    if (StderrIsTerminal() && !text.empty()) std::fprintf(stderr, "%s\n", ShownLines(text).c_str());
}

void CScriptUserInterface::DestroyProgress(HWND) {}

HWND CScriptUserInterface::ActiveWindow() { return kCommandWindow; }
