#include "scan/sudo_scan.h"

#include <string>
#include <vector>

#include "inventory/module_state.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "scan/remote_command.h"

namespace {

constexpr UINT kRefusalTexts = 481;
constexpr UINT kSilentText = 484;
constexpr std::size_t kMaxSudoLine = 200;

bool Holds(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// sudo's first line, as plain printable text of bounded length: it comes
// from the host.
std::string FirstLine(std::string_view output)
{
    std::string line;
    for (const char c : output.substr(0, output.find('\n'))) {
        if (line.size() == kMaxSudoLine) break;
        const auto u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u >= 0x7F) ? '?' : c;
    }
    return line;
}

}  // namespace

std::string SudoScanCommand(bool passwordOnInput, int answerSeconds)
{
    const std::string seconds = std::to_string(answerSeconds);
    // sudo's messages go to the output (in the C locale, to be told apart),
    // lshw's XML to the private file: an empty file after a failure is sudo
    // refusing, as lshw writes its XML before it ends. The password is read
    // once into the shell and handed to each sudo by the shell's own printf,
    // so that it is on no command line.
    if (passwordOnInput)
        return BuildRemoteCommand({"PATH=\"$PATH:/usr/local/sbin\";"
                                   " p=$(command -v lshw 2>/dev/null) && [ -f \"$p\" ] && [ -x \"$p\" ] || exit 127;"
                                   " command -v sudo >/dev/null 2>&1 || exit 240;"
                                   " f=$(mktemp) || exit 1; trap 'rm -f \"$f\"' EXIT; trap 'exit 129' HUP INT TERM PIPE;"
                                   " IFS= read -r w || w=;"
                                   " if command -v timeout >/dev/null 2>&1; then"
                                   " o=$(printf '%s\\n' \"$w\" | LC_ALL=C timeout -k 5",
                                   CShellWord::Value(seconds),
                                   "sudo -S -p '' -l -- \"$p\" 2>&1 >/dev/null); c=$?;"
                                   " case $c in 124|137) exit 242;; esac;"
                                   // A refused password is not sent a second time.
                                   " case $o in *'incorrect password'*|*'try again'*) printf '%s\\n' \"$o\"; exit 241;; esac;"
                                   " fi;"
                                   " printf '%s\\n' \"$w\" | LC_ALL=C sudo -S -p '' -- \"$p\" -xml 2>&1 >\"$f\"; s=$?;"
                                   " w=; [ \"$s\" -eq 0 ] || [ -s \"$f\" ] || exit 241;"
                                   " [ \"$s\" -ne 0 ] || cat \"$f\" || s=1; exit \"$s\""});
    return BuildRemoteCommand({"PATH=\"$PATH:/usr/local/sbin\";"
                               " p=$(command -v lshw 2>/dev/null) && [ -f \"$p\" ] && [ -x \"$p\" ] || exit 127;"
                               " command -v sudo >/dev/null 2>&1 || exit 240;"
                               " f=$(mktemp) || exit 1; trap 'rm -f \"$f\"' EXIT; trap 'exit 129' HUP INT TERM PIPE;"
                               " if command -v timeout >/dev/null 2>&1; then"
                               " LC_ALL=C timeout -k 5",
                               CShellWord::Value(seconds),
                               "sudo -n -l -- \"$p\" >/dev/null 2>&1 </dev/null;"
                               " case $? in 124|137) exit 242;; esac; fi;"
                               " LC_ALL=C sudo -n -- \"$p\" -xml 2>&1 >\"$f\" </dev/null; s=$?;"
                               " [ \"$s\" -eq 0 ] || [ -s \"$f\" ] || exit 241;"
                               " [ \"$s\" -ne 0 ] || cat \"$f\" || s=1; exit \"$s\""});
}

ESudoRefusal ClassifySudoRefusal(std::string_view output)
{
    // The most telling message first: a wrong password is followed by "a
    // password is required" on the attempt that finds no more input.
    if (Holds(output, "must have a tty") || Holds(output, "requiretty")) return SUDO_TTY_REQUIRED;
    if (Holds(output, "not in the sudoers file") || Holds(output, "is not allowed to execute") ||
        Holds(output, "may not run sudo"))
        return SUDO_NOT_ALLOWED;
    if (Holds(output, "incorrect password") || Holds(output, "Sorry, try again")) return SUDO_WRONG_PASSWORD;
    if (Holds(output, "a password is required") || Holds(output, "no password was provided"))
        return SUDO_PASSWORD_REQUIRED;
    return SUDO_OTHER;
}

std::u16string SudoRefusalText(ESudoRefusal refusal, std::string_view output, unsigned then)
{
    std::vector<std::u16string> causes;
    LoadStringList(kRefusalTexts, causes);
    const auto index = static_cast<std::size_t>(refusal);
    std::u16string text = index < causes.size() ? causes[index] : std::u16string();
    if (refusal == SUDO_OTHER) {
        const std::string line = FirstLine(output);
        if (!line.empty()) text += u": " + AnsiToWide(line);
    }
    return text + u". " + LoadString(g_hInstance, then);
}

std::u16string SudoSilentText(int seconds, unsigned then)
{
    std::u16string text = LoadString(g_hInstance, kSilentText);
    if (const std::size_t at = text.find(u"%1"); at != std::u16string::npos)
        text.replace(at, 2, AnsiToWide(std::to_string(seconds)));
    return text + u". " + LoadString(g_hInstance, then);
}
