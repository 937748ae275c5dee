// A host's answers to `mktemp -d` and `uname -m`, and registry text taken as
// a package name, version or list of architectures. Whatever is accepted
// must be safe to put into a command: a folder is an absolute path of
// printable characters, names, versions and architectures hold no shell
// syntax; and every value quotes into one word.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/engine_deployment.h"
#include "scan/remote_command.h"
#include "scan/scan_error.h"

namespace {

// A quoted word is "'" + pieces + "'" where a piece is any byte but "'" or
// the four bytes '\''.
bool IsOneQuotedWord(std::string_view quoted, std::string_view value)
{
    if (quoted.size() < 2 || quoted.front() != '\'' || quoted.back() != '\'') return false;
    std::string back;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\'') {
            back += quoted[i];
            continue;
        }
        if (quoted.substr(i, 4) != "'\\''") return false;
        back += '\'';
        i += 3;
    }
    return back == value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string folder;
    if (ParseHostFolder(text, folder)) {
        if (folder.empty() || folder.front() != '/' || folder.size() > 1024) std::abort();
        for (const char c : folder)
            if (c < 0x20 || c > 0x7E) std::abort();
        if (folder.find("/../") != std::string::npos || folder.ends_with("/..")) std::abort();
    }

    std::string machine;
    if (ParseMachineName(text, machine)) {
        if (machine.empty() || machine.size() > 32) std::abort();
        for (const char c : machine)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') std::abort();
    }
    if (IsValidEngineArchitectureList(text)) {
        for (const char c : text)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != ' ') std::abort();
        if (text.starts_with(' ') || text.ends_with(' ') || text.find("  ") != std::string_view::npos) std::abort();
    }

    std::u16string wide;
    for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (IsValidEnginePackageVersion(wide) || IsValidEnginePackageName(wide)) {
        for (const char16_t c : wide)
            if (c > 0x7E || std::u16string_view(u" \t\n'\"`$;&|<>()\\/*?!{}[]#").find(c) != std::u16string_view::npos)
                std::abort();
    }

    try {
        if (!IsOneQuotedWord(QuoteForShell(text), text)) std::abort();
    } catch (const CScanError& error) {
        if (error.Source() != SES_ARGUMENT || text.find('\0') == std::string_view::npos) std::abort();
    }
    return 0;
}
