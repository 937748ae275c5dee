// Plays the user in front of the snap-in's real modal dialogs and message
// boxes. A CBT hook on the console's thread sees each dialog window made;
// once the dialog's modal loop runs, the next scripted answer fills its
// controls and presses its button. A dialog without an answer is cancelled.
// Windows without buttons (a progress window) are left alone.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <set>
#include <vector>
#include <string>

#include "script.h"

class DialogAnswerer {
public:
    using Report = std::function<void(const std::string& line)>;

    // Hooks the calling thread; one answerer at a time.
    explicit DialogAnswerer(Report report);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    bool Hooked() const { return m_hook != nullptr; }
    void Queue(DialogAnswer answer) { m_answers.push_back(std::move(answer)); }
    std::size_t Pending() const { return m_answers.size(); }
    // Drops the answers no dialog took; returns how many.
    std::size_t DropPending();

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
    void Seen(HWND window);
    void Destroyed(HWND window);
    void AnswerWaiting();
    void Answer(HWND dialog);

    Report m_report;
    HHOOK m_hook = nullptr;
    UINT_PTR m_timer = 0;
    std::vector<HWND> m_waiting;  // in the order they were made
    std::set<HWND> m_answered;    // until they are destroyed
    std::deque<DialogAnswer> m_answers;
};
