// What a full-screen terminal program needs from the system around it:
// standard error moved to a log file while the screen is in use, the
// character set of the user's locale, and a hook that puts the terminal
// back when a signal ends the process or the process exits.
#pragma once

#include <string>

// Appends the process's standard error to `path` (created owner-only, an
// existing file narrowed to owner-only, never through a symbolic link) for
// its lifetime; the previous standard error comes back afterwards.
class CStderrToFile {
public:
    explicit CStderrToFile(const std::string& path);
    ~CStderrToFile();
    CStderrToFile(const CStderrToFile&) = delete;
    CStderrToFile& operator=(const CStderrToFile&) = delete;
    bool Active() const { return m_saved >= 0; }

private:
    int m_saved = -1;
};

// Standard input and standard output are both terminals.
bool StdioIsTerminal();

// Sets the program's character type (only) from the user's locale; true
// when its character set is UTF-8.
bool UseUserLocaleIsUtf8();

// While installed, `restore` runs once when a terminating or fatal signal
// arrives (the signal then takes its default course) and at process exit.
// Keep `restore` short: it may run inside a signal handler.
class CTerminalRestoreHook {
public:
    explicit CTerminalRestoreHook(void (*restore)());
    ~CTerminalRestoreHook();
    CTerminalRestoreHook(const CTerminalRestoreHook&) = delete;
    CTerminalRestoreHook& operator=(const CTerminalRestoreHook&) = delete;
};
