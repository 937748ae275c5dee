// The scan's progress window: created when the network work starts,
// destroyed when it ends, whatever the outcome.
#pragma once

#include <string>

#include "platform/gdi.h"

class CProgressWindow {
public:
    CProgressWindow();
    ~CProgressWindow();
    CProgressWindow(const CProgressWindow&) = delete;
    CProgressWindow& operator=(const CProgressWindow&) = delete;

    void SetText(std::u16string_view text);
    // Destroys the window now (a second call does nothing).
    void Close();

private:
    HWND m_hWnd;
};
