// A user interface for tests: modal dialogs and message boxes answered from
// queues the test fills, and a record of everything that was shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"

class CScriptedUserInterface : public IUserInterface {
public:
    // How the user leaves one dialog: the button and what was typed.
    struct DialogAnswer {
        int result = IDOK;
        std::map<int, std::u16string> texts;  // control id → text left in it
        std::map<int, int> checks;            // control id → check state
    };
    // A dialog as it was shown, with the texts and checks it came in with.
    struct DialogRecord {
        int templateId = 0;
        std::u16string title;
        std::map<int, std::u16string> texts;
        std::map<int, int> checks;
        int result = IDCANCEL;
    };
    struct MessageRecord {
        std::u16string text;
        std::u16string caption;
        UINT type = 0;
        int result = IDOK;
    };
    struct ProgressText {
        int controlId = 0;
        std::u16string text;
    };

    CScriptedUserInterface() = default;
    ~CScriptedUserInterface() override;
    CScriptedUserInterface(const CScriptedUserInterface&) = delete;
    CScriptedUserInterface& operator=(const CScriptedUserInterface&) = delete;

    // Queues the answer to the next dialog.
    void AnswerDialog(DialogAnswer answer) { m_dialogAnswers.push_back(std::move(answer)); }
    void AnswerDialog(int result) { m_dialogAnswers.push_back(DialogAnswer{result, {}, {}}); }
    // Queues the answer to the next message box. Without one, a box answers
    // IDNO when it asks yes or no, IDCANCEL for yes/no/cancel, else IDOK.
    void AnswerMessage(int result) { m_messageAnswers.push_back(result); }

    const std::vector<DialogRecord>& Dialogs() const { return m_dialogs; }
    const std::vector<MessageRecord>& Messages() const { return m_messages; }
    const std::vector<ProgressText>& ProgressTexts() const { return m_progressTexts; }
    // Progress windows created and not yet destroyed.
    std::size_t ProgressOpen() const { return m_openProgress.size(); }
    // Dialogs that came with no queued answer (each was cancelled and
    // reported as a test failure).
    std::size_t UnansweredDialogs() const { return m_nUnanswered; }
    // Answers queued and never used.
    std::size_t PendingDialogAnswers() const { return m_dialogAnswers.size(); }
    void Clear();

    int DoModal(HWND owner, DialogState& dialog) override;
    int ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
    HWND CreateProgress(HWND parent, const DialogState& dialog) override;
    void SetProgressText(HWND window, int controlId, std::u16string_view text) override;
    void DestroyProgress(HWND window) override;
    HWND ActiveWindow() override;

private:
    std::deque<DialogAnswer> m_dialogAnswers;
    std::deque<int> m_messageAnswers;
    std::vector<DialogRecord> m_dialogs;
    std::vector<MessageRecord> m_messages;
    std::vector<ProgressText> m_progressTexts;
    std::vector<HWND> m_openProgress;
    std::size_t m_nUnanswered = 0;
    std::uintptr_t m_nextWindow = 0x7000;
};

// Installs a user interface for the life of a scope and puts the previous
// one back afterwards.
class CUserInterfaceInstaller {
public:
    explicit CUserInterfaceInstaller(IUserInterface& ui) : m_pPrevious(SetUserInterface(&ui)) {}
    ~CUserInterfaceInstaller() { SetUserInterface(m_pPrevious); }
    CUserInterfaceInstaller(const CUserInterfaceInstaller&) = delete;
    CUserInterfaceInstaller& operator=(const CUserInterfaceInstaller&) = delete;

private:
    IUserInterface* m_pPrevious;
};

// The usual pair: a scripted interface, installed while it lives.
class CScopedScriptedUi : public CScriptedUserInterface {
public:
    CScopedScriptedUi() : m_installer(*this) {}

private:
    CUserInterfaceInstaller m_installer;
};
