// The user interface of the scriptable commands: dialogs are answered from
// the command's options, secrets come from standard input (one line per
// question) or from the terminal without echo, message boxes go to standard
// error as "Error: <text>", and the progress window's texts go to standard
// error when it is a terminal.
#pragma once

#include <memory>

#include "console/progress_line.h"

#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/ui.h"

struct ScriptAnswers {
    // "Add a new group": the new group's name.
    std::optional<std::u16string> groupName;
    // The host dialog in its add or edit mode: answered by the command.
    bool answerHostDialog = false;
    // The host dialog's fields; a field without a value keeps the text the
    // dialog came with.
    std::optional<std::u16string> host;
    // The host's name apart from its address ("": named by the address).
    std::optional<std::u16string> hostName;
    std::optional<std::u16string> port;
    std::optional<std::u16string> login;
    // The host password is read as a secret (standard input or terminal).
    bool hostPasswordFromInput = false;
    // The edit mode's "Clear the stored password" is checked.
    bool clearPassword = false;
    // "Scan with root rights (sudo)" is checked or cleared.
    std::optional<bool> sudo;
    // The key file's path (empty: none) and "Use the SSH agent".
    std::optional<std::u16string> keyFile;
    std::optional<bool> agent;
    // The key file's passphrase is read as a secret, after the password.
    bool passphraseFromInput = false;
    // The jump hosts' text.
    std::optional<std::u16string> jump;
    // Confirmation dialogs (the engine deployment's) are answered OK.
    bool yes = false;
    // Yes/no message boxes (the changed-host-key question) are answered yes.
    bool acceptQuestions = false;
    // "Import hosts": the file and its format.
    std::optional<std::u16string> importFile;
    std::optional<std::u16string> importFormat;
    // The import's report as JSON, printed on standard output.
    bool importJson = false;
    // Progress texts that start with "DONE/TOTAL" are one line kept in
    // place with a bar (on a terminal only), not a line each.
    bool progressBar = false;
};

// "[#####     ] 12/40 done, 2 failed" for a text that starts with
// "12/40"; the text alone otherwise.
std::u16string ProgressBarText(std::u16string_view text, std::size_t width = 30);

// The question of the main-password dialog named after the console file it
// unlocks: "Main password" becomes "Main password for fleet.fdx:" (the file's
// own name; the question alone, with its colon, when no file is known).
std::u16string MainPasswordQuestion(std::u16string_view question, const std::string& consoleFile);

class CScriptUserInterface final : public IUserInterface {
public:
    explicit CScriptUserInterface(ScriptAnswers answers) : m_answers(std::move(answers)) {}
    ~CScriptUserInterface() override = default;
    CScriptUserInterface(const CScriptUserInterface&) = delete;
    CScriptUserInterface& operator=(const CScriptUserInterface&) = delete;

    ScriptAnswers& Answers() { return m_answers; }
    // An error was shown, or a dialog could not be answered.
    bool Failed() const { return m_bFailed; }
    // Reports an error of the command itself the same way.
    void Error(const std::string& text);
    // A command that works through many hosts starts on the next one: the
    // host dialog's repeat count starts again.
    void NextHost() { m_nHostDialogs = 0; }
    // Clears the progress line, if one is shown.
    void EndProgress() { m_pProgressLine.reset(); }
    // The console file the command works on: its main password is asked
    // for by its name.
    void SetConsoleFile(std::string file) { m_consoleFile = std::move(file); }

    int DoModal(HWND owner, DialogState& dialog) override;
    int ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
    HWND CreateProgress(HWND parent, const DialogState& dialog) override;
    void SetProgressText(HWND window, int controlId, std::u16string_view text) override;
    void DestroyProgress(HWND window) override;
    HWND ActiveWindow() override;

private:
    int Answer(HWND owner, DialogState& dialog);
    std::unique_ptr<CProgressLine> m_pProgressLine;
    std::u16string m_lastDialogHost;
    int AnswerHostDialog(DialogState& dialog);
    int AnswerPasswordDialog(DialogState& dialog);
    // The login question of one host of many, on a terminal, without options.
    int AskFleetLogin(DialogState& dialog, const std::u16string& where);
    // "login@address (Group/host)" for a host of many, else "login@address"
    // (the address alone without a login).
    static std::string LoginQuestionSubject(DialogState& dialog, const std::u16string& where);
    // A dialog no option answers: a form on the terminal, else a failure.
    int Unanswered(DialogState& dialog);
    int PromptForm(DialogState& dialog);

    ScriptAnswers m_answers;
    std::string m_consoleFile;
    bool m_bFailed = false;
    int m_nHostDialogs = 0;
    // The last main password read, to answer the set mode's second question
    // when standard input is not a terminal.
    Wiped<std::u16string> m_lastMainPassword;
    // The host password read for the first host of many that asked, given
    // to every later one (--password-stdin of a fleet refresh).
    Wiped<std::u16string> m_sharedPassword;
    bool m_bSharedPassword = false;
};
