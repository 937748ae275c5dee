#include "console/tui/tui_curses.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

#include "console/tui/tui_text.h"
#include "platform/screen_guard.h"
#include "platform/stop_request.h"
#include "platform/terminal.h"

namespace fdx::tui {

namespace {

std::atomic<bool> g_sessionOpen{false};

}  // namespace

CScreen::CScreen(bool ascii, bool mouse, const char* terminalType, FILE* out, FILE* in)
    : m_bAscii(!UseUserLocaleIsUtf8() || ascii), m_nInput(fileno(in != nullptr ? in : stdin))
{
    // Keys that start with Escape arrive quickly, so a lone Escape answers fast.
    set_escdelay(40);
    m_pScreen = newterm(terminalType, out, in);
    if (m_pScreen == nullptr) throw std::runtime_error("this terminal cannot be used (check TERM)");
    set_term(m_pScreen);
    g_sessionOpen = true;
    StopWhenInputGone(m_nInput);
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    if (mouse) {
        mousemask(BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED | BUTTON3_CLICKED | BUTTON3_PRESSED | BUTTON4_PRESSED |
                      BUTTON5_PRESSED,
                  nullptr);
        mouseinterval(200);
    }
}

CScreen::~CScreen()
{
    StopWhenInputGone(-1);
    RestoreTerminal();
    delscreen(m_pScreen);
}

void CScreen::RestoreTerminal()
{
    if (g_sessionOpen.exchange(false)) {
        curs_set(1);
        endwin();
    }
}

int CScreen::Rows() const { return getmaxy(stdscr); }
int CScreen::Columns() const { return getmaxx(stdscr); }

Key CScreen::ReadKey(WINDOW* window)
{
    for (int failures = 0;; ++failures) {
        // A request to stop (a signal) answers every open dialog with
        // Escape, so that the main loop gets to act on it.
        if (PendingStopRequest() != EStopRequest::None) return Key{false, 0x1B};
        wint_t code = 0;
        const int kind = wget_wch(window, &code);
        if (kind == ERR) {  // an interrupted read, or a terminal that went away
            // Closed, hung up, at its end or failing without end: nobody
            // can answer any more, and the work is kept as for a hang-up.
            if (InputGone(m_nInput) || failures > 1000) {
                RequestStop(EStopRequest::HangUp);
                return Key{false, 0x1B};
            }
            continue;
        }
        return Key{kind == KEY_CODE_YES, code};
    }
}

bool CScreen::ReadMouse(MEVENT& event) { return getmouse(&event) == OK; }

WindowPtr CScreen::CentredWindow(int height, int width) const
{
    height = std::clamp(height, 1, std::max(Rows(), 1));
    width = std::clamp(width, 1, std::max(Columns(), 1));
    WindowPtr window(newwin(height, width, std::max(0, (Rows() - height) / 2), std::max(0, (Columns() - width) / 2)));
    if (window) keypad(window.get(), TRUE);
    return window;
}

void PutText(WINDOW* window, int row, int column, std::wstring_view text, attr_t attributes, int columns)
{
    if (window == nullptr || row < 0 || column < 0 || row >= getmaxy(window) || column >= getmaxx(window)) return;
    const int room = getmaxx(window) - column;
    const int width = columns < 0 ? room : std::min(columns, room);
    const std::wstring fitted = FitColumns(OneTerminalLine(text), width, false);
    wattr_set(window, attributes, 0, nullptr);
    mvwaddnwstr(window, row, column, fitted.c_str(), static_cast<int>(fitted.size()));
    wattr_set(window, A_NORMAL, 0, nullptr);
}

void DrawFrame(WINDOW* window, std::wstring_view title, bool ascii)
{
    if (ascii) {
        wborder(window, '|', '|', '-', '-', '+', '+', '+', '+');
    } else {
        box(window, 0, 0);
    }
    if (!title.empty()) {
        const std::wstring text = L" " + std::wstring(title) + L" ";
        const int width = getmaxx(window);
        const int shown = std::min(TextColumns(text), std::max(width - 4, 0));
        PutText(window, 0, std::max(2, (width - shown) / 2), text, A_BOLD, shown);
    }
}

}  // namespace fdx::tui
