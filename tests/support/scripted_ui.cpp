#include "tests/support/scripted_ui.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/text.h"

CScriptedUserInterface::~CScriptedUserInterface()
{
    // A window left open would be a leak of the code under test.
    EXPECT_TRUE(m_openProgress.empty()) << m_openProgress.size() << " progress window(s) never destroyed";
}

void CScriptedUserInterface::Clear()
{
    m_dialogAnswers.clear();
    m_messageAnswers.clear();
    m_dialogs.clear();
    m_messages.clear();
    m_progressTexts.clear();
    m_nUnanswered = 0;
}

int CScriptedUserInterface::DoModal(HWND owner, DialogState& dialog)
{
    DialogRecord record{dialog.tmpl.id, dialog.title, dialog.texts, dialog.checks, IDCANCEL};
    if (m_dialogAnswers.empty()) {
        ++m_nUnanswered;
        ADD_FAILURE() << "dialog " << dialog.tmpl.id << " (\"" << WideToAnsi(dialog.title)
                      << "\") shown with no queued answer";
        m_dialogs.push_back(std::move(record));
        return IDCANCEL;
    }
    DialogAnswer answer = std::move(m_dialogAnswers.front());
    m_dialogAnswers.pop_front();
    for (auto& [id, text] : answer.texts) dialog.texts[id] = text;
    for (auto& [id, check] : answer.checks) dialog.checks[id] = check;
    record.result = answer.result;
    m_dialogs.push_back(std::move(record));
    return answer.result;
}

int CScriptedUserInterface::ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type)
{
    int result;
    if (!m_messageAnswers.empty()) {
        result = m_messageAnswers.front();
        m_messageAnswers.pop_front();
    } else {
        switch (type & MB_TYPEMASK) {
        case MB_YESNO: result = IDNO; break;
        case MB_YESNOCANCEL: result = IDCANCEL; break;
        default: result = IDOK; break;
        }
    }
    m_messages.push_back({std::u16string(text), std::u16string(caption), type, result});
    return result;
}

HWND CScriptedUserInterface::CreateProgress(HWND parent, const DialogState& dialog)
{
    HWND window = reinterpret_cast<HWND>(m_nextWindow++);
    m_openProgress.push_back(window);
    return window;
}

void CScriptedUserInterface::SetProgressText(HWND window, int controlId, std::u16string_view text)
{
    EXPECT_NE(std::find(m_openProgress.begin(), m_openProgress.end(), window), m_openProgress.end())
        << "text set on a progress window that is not open";
    m_progressTexts.push_back({controlId, std::u16string(text)});
}

void CScriptedUserInterface::DestroyProgress(HWND window)
{
    const auto it = std::find(m_openProgress.begin(), m_openProgress.end(), window);
    EXPECT_NE(it, m_openProgress.end()) << "destroying a progress window that is not open";
    if (it != m_openProgress.end()) m_openProgress.erase(it);
}

HWND CScriptedUserInterface::ActiveWindow() { return reinterpret_cast<HWND>(std::uintptr_t{0x6000}); }
