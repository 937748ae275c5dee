// The terminal face of the console host, started by plain `ferrodex`: the
// scope tree on the left, the result pane on the right, a title and a
// status line, context menus, rename in place, dialogs, help and quitting
// with the save question.
#pragma once

#include <string>


namespace fdx::tui {

struct TerminalFaceOptions {
    std::string consoleFile;  // the console file to open (the default one when empty)
    bool ascii = false;       // ASCII glyphs and lines even in a UTF-8 locale
    bool mouse = true;
    int historyKeep = 50;     // scans kept per host in the history
    std::string history;      // --history: a history written as well (ChosenHistory)
};

// Opens the console file in a console host of its own (questions the
// snap-in asks while loading, such as the main password, appear on the
// terminal) and runs the face until the user quits; the host and its
// snap-ins are gone before the face's user interface is. Standard error goes
// to $XDG_STATE_HOME/ferrodex/ferrodex.log meanwhile. Returns the process
// exit code: 0 after quitting, 1 when the console file was refused or the
// face failed, 2 without a terminal.
int RunTerminalFace(const TerminalFaceOptions& options);

}  // namespace fdx::tui
