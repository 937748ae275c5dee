// The terminal itself, through ncurses: the screen session (set up on
// construction, put back on destruction, on fatal signals and at exit),
// owning window handles, key reading and text drawing.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

// The platform's headers first: curses.h defines TRUE and FALSE as macros.
#include "console/tui/tui_keys.h"

#include <curses.h>

namespace fdx::tui {

struct WindowDeleter {
    void operator()(WINDOW* window) const
    {
        if (window != nullptr) delwin(window);
    }
};
// An ncurses window that is deleted with its owner.
using WindowPtr = std::unique_ptr<WINDOW, WindowDeleter>;

// One full-screen session on the process's terminal.
class CScreen {
public:
    // `ascii` forces the ASCII glyphs even in a UTF-8 locale. The session
    // runs on the process's terminal, or on the given streams and terminal
    // type (tests read what it drew back from curses itself).
    CScreen(bool ascii, bool mouse, const char* terminalType = nullptr, FILE* out = stdout, FILE* in = stdin);
    ~CScreen();
    CScreen(const CScreen&) = delete;
    CScreen& operator=(const CScreen&) = delete;

    // Puts the terminal back at once (safe to call more than once, also from
    // a signal handler's restore hook).
    static void RestoreTerminal();

    bool Ascii() const { return m_bAscii; }
    int Rows() const;
    int Columns() const;
    // Waits for the next key (a resize arrives as KEY_RESIZE). The key is read
    // through `window`, which ncurses refreshes first: pass the top window.
    // A pending stop request answers Escape; so does a terminal that went
    // away, which becomes a hang-up request (its changes are then kept as
    // for SIGHUP).
    Key ReadKey(WINDOW* window = stdscr);
    // The last mouse event after a KEY_MOUSE; false when there is none.
    static bool ReadMouse(MEVENT& event);
    // A window of the given size, centred on the screen and clipped to it.
    WindowPtr CentredWindow(int height, int width) const;

private:
    SCREEN* m_pScreen = nullptr;
    bool m_bAscii;
    int m_nInput = -1;  // the terminal's input descriptor
};

// Draws `text` at (row, column) of `window`, at most `columns` wide (the
// rest of the window's row when negative), with the attributes given.
void PutText(WINDOW* window, int row, int column, std::wstring_view text, attr_t attributes = A_NORMAL,
             int columns = -1);
// A border around the whole window with a title in its top edge.
void DrawFrame(WINDOW* window, std::wstring_view title, bool ascii);

}  // namespace fdx::tui
