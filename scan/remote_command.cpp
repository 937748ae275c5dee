#include "scan/remote_command.h"

#include "scan/scan_error.h"

std::string QuoteForShell(std::string_view value)
{
    if (value.find('\0') != std::string_view::npos) throw CScanError::Argument(u"a shell value cannot hold a NUL byte");
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '\'';
    for (const char c : value) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string BuildRemoteCommand(std::initializer_list<CShellWord> words)
{
    std::string command;
    for (const CShellWord& word : words) {
        if (!command.empty()) command += ' ';
        command += word.IsValue() ? QuoteForShell(word.Text()) : std::string(word.Text());
    }
    return command;
}
