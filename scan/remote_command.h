// Commands for a host's POSIX shell. Every command this module sends to a
// host is built here: the program text is written into the code, and every
// value (whatever its source: the registry, the host, the user) is
// single-quoted, so that the shell takes it as one plain word.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

class CShellWord {
public:
    // Program text: only a string literal converts, so nothing read at run
    // time can become program text.
    template <std::size_t N>
    consteval CShellWord(const char (&program)[N]) : m_svText(program, N - 1), m_bValue(false)
    {
    }
    // A value, quoted when the command is built.
    static CShellWord Value(std::string_view value) { return CShellWord(value); }

    std::string_view Text() const { return m_svText; }
    bool IsValue() const { return m_bValue; }

private:
    explicit CShellWord(std::string_view value) : m_svText(value), m_bValue(true) {}

    std::string_view m_svText;
    bool m_bValue;
};

// The words joined by single spaces, each value quoted. A value holding a
// NUL byte cannot be passed to a shell and raises a CScanError (SES_ARGUMENT).
std::string BuildRemoteCommand(std::initializer_list<CShellWord> words);

// `value` as one single-quoted word: "'" becomes "'\''".
std::string QuoteForShell(std::string_view value);
