#include "dialog_answers.h"

#include <algorithm>
#include <array>

#include "text.h"

namespace {

DialogAnswerer* g_answerer = nullptr;

// The message box's text control.
constexpr int kMessageTextId = 0xFFFF;
constexpr UINT kPollMs = 20;

bool IsDialogWindow(HWND window)
{
    std::array<wchar_t, 16> name{};
    if (GetClassNameW(window, name.data(), static_cast<int>(name.size())) == 0) return false;
    return std::wstring_view(name.data()) == L"#32770" && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0;
}

std::wstring WindowText(HWND window)
{
    if (window == nullptr) return {};
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

bool HasButton(HWND dialog, int id) { return GetDlgItem(dialog, id) != nullptr; }

// A window that asks something: it has a button to close it with.
bool AsksSomething(HWND dialog)
{
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO})
        if (HasButton(dialog, id)) return true;
    return false;
}

// What closing a dialog without an answer presses.
int CancelButton(HWND dialog)
{
    for (int id : {IDCANCEL, IDNO, IDOK})
        if (HasButton(dialog, id)) return id;
    return IDCANCEL;
}

void Press(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

DialogAnswerer::DialogAnswerer(Report report) : m_report(std::move(report))
{
    if (g_answerer != nullptr) return;
    m_hook = SetWindowsHookExW(WH_CBT, &DialogAnswerer::CbtProc, nullptr, GetCurrentThreadId());
    if (m_hook != nullptr) g_answerer = this;
}

DialogAnswerer::~DialogAnswerer()
{
    if (m_timer != 0) KillTimer(nullptr, m_timer);
    if (m_hook != nullptr) UnhookWindowsHookEx(m_hook);
    if (g_answerer == this) g_answerer = nullptr;
}

std::size_t DialogAnswerer::DropPending()
{
    const std::size_t count = m_answers.size();
    m_answers.clear();
    return count;
}

LRESULT CALLBACK DialogAnswerer::CbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (g_answerer != nullptr && (code == HCBT_CREATEWND || code == HCBT_ACTIVATE))
        g_answerer->Seen(reinterpret_cast<HWND>(wParam));
    if (g_answerer != nullptr && code == HCBT_DESTROYWND) g_answerer->Destroyed(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogAnswerer::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_answerer != nullptr) g_answerer->AnswerWaiting();
}

void DialogAnswerer::Seen(HWND window)
{
    // At creation the class is known but the controls are not made yet:
    // the answer waits for the dialog's own message loop.
    if (m_answered.contains(window) || !IsDialogWindow(window)) return;
    if (std::find(m_waiting.begin(), m_waiting.end(), window) == m_waiting.end()) m_waiting.push_back(window);
    if (m_timer == 0) m_timer = SetTimer(nullptr, 0, kPollMs, &DialogAnswerer::OnTimer);
}

void DialogAnswerer::Destroyed(HWND window)
{
    m_answered.erase(window);
    std::erase(m_waiting, window);
}

void DialogAnswerer::AnswerWaiting()
{
    std::vector<HWND> waiting;
    waiting.swap(m_waiting);
    for (HWND dialog : waiting) {
        if (!IsWindow(dialog) || !AsksSomething(dialog)) continue;
        // A dialog disabled under a dialog of its own waits for its turn.
        if (!IsWindowEnabled(dialog)) {
            m_waiting.push_back(dialog);
            continue;
        }
        m_answered.insert(dialog);
        Answer(dialog);
    }
    if (m_waiting.empty() && m_timer != 0) {
        KillTimer(nullptr, m_timer);
        m_timer = 0;
    }
}

void DialogAnswerer::Answer(HWND dialog)
{
    const std::wstring title = WindowText(dialog);
    const HWND messageText = GetDlgItem(dialog, kMessageTextId);
    std::string line = messageText != nullptr ? "message \"" + OneLine(title) + "\": " + OneLine(WindowText(messageText))
                                              : "dialog \"" + OneLine(title) + "\"";
    if (m_answers.empty()) {
        const int button = CancelButton(dialog);
        m_report(line + " -> " + ButtonName(button) + " (no answer)");
        Press(dialog, button);
        return;
    }
    DialogAnswer answer = std::move(m_answers.front());
    m_answers.pop_front();
    for (const auto& [id, text] : answer.texts) {
        if (!SetDlgItemTextW(dialog, id, text.c_str())) m_report("  (the dialog has no control " + std::to_string(id) + ")");
    }
    for (const auto& [id, checked] : answer.checks) {
        if (GetDlgItem(dialog, id) == nullptr) {
            m_report("  (the dialog has no control " + std::to_string(id) + ")");
            continue;
        }
        CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
        Press(dialog, id);
    }
    if (!HasButton(dialog, answer.button)) {
        const int button = CancelButton(dialog);
        m_report(line + " -> " + ButtonName(button) + " (it has no " + ButtonName(answer.button) + ")");
        Press(dialog, button);
        return;
    }
    m_report(line + " -> " + ButtonName(answer.button));
    Press(dialog, answer.button);
}
