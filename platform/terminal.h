// The process's standard streams as a terminal or as plain files: whether a
// stream is a terminal, line input, and secrets typed without echo.
#pragma once

#include <string>

bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();

// The width of the terminal that standard output shows, in columns. When
// standard output is no terminal: $COLUMNS if it holds a width, else 0 (no
// limit: a file or a pipe takes lines of any length).
int TerminalColumns();

// The terminal (or other input) on `fd` went away: it was hung up (the
// window closed, the session killed) or its writers are gone, so reading
// finds only its end or an error. Does not wait and reads nothing.
bool InputGone(int fd);

// Reads one line from standard input without its line end; false at the end
// of input (or on an error) before any character.
bool ReadInputLine(std::string& line);

// Reads one secret line. On a terminal: shows `prompt` (filtered, as it may
// name a host) and reads with echo off. Otherwise: one line of standard
// input, no prompt.
// False at the end of input. The caller wipes `secret` after use.
bool ReadSecretLine(const std::string& prompt, std::string& secret);
