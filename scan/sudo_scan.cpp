#include "scan/sudo_scan.h"

#include <string>
#include <vector>

#include "res/module_strings.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "scan/remote_command.h"
#include "scan/scan_command.h"
#include "scan/scan_error.h"
#include "sshcore/product_crypto.h"

namespace {

constexpr UINT kRefusalTexts = 481;
constexpr UINT kSilentText = 484;
constexpr std::size_t kMaxSudoLine = 200;

// Finds the lshw that root may run, as $r: the first on a fixed list of
// root's folders (never the login's PATH), and only when the file, the
// folders above it and, for a link, those above its target are owned by
// root and writable by nobody else (a link itself only owned by root).
// Without a usable one it exits with kLshwMissingStatus when no lshw is
// found at all, else with kLshwNotRootsStatus and the path at fault.
// u PATH: one path's owner and mode (links allowed when l=1); v PATH: the
// path and every folder above it, printing the first at fault.
constexpr CShellWord kFindRootsLshw(
    "u() { set -f; set -- $(ls -ldn -- \"$1\" 2>/dev/null); set +f; [ \"$3\" = 0 ] || return 1;"
    " case $1 in l*) [ \"$l\" = 1 ];; ?????w*|????????w*) return 1;; esac; };"
    " v() { c=$1; while u \"$c\" || { printf '%s\\n' \"$c\"; return 1; }; [ \"$c\" != / ]; do c=${c%/*}; c=${c:-/}; done; };"
    " PATH=\"$PATH:/usr/local/sbin\"; r=;"
    " for c in /usr/sbin /usr/bin /sbin /bin /usr/local/sbin /usr/local/bin; do"
    " [ -f \"$c/lshw\" ] && [ -x \"$c/lshw\" ] && { r=$c/lshw; break; }; done;"
    " if [ -z \"$r\" ]; then p=$(command -v lshw 2>/dev/null) && [ -f \"$p\" ] && [ -x \"$p\" ] || exit 127;"
    " printf '%s\\n' \"$p\"; exit 243; fi;"
    " if n=$(readlink -f -- \"$r\" 2>/dev/null) && [ -n \"$n\" ]; then l=1; v \"$r\" || exit 243; l=0; v \"$n\" || exit 243;"
    " else l=0; v \"$r\" || exit 243; fi;"
    " command -v sudo >/dev/null 2>&1 || exit 240;");

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

// The output's last non-empty line, cleaned as FirstLine.
std::string LastLine(std::string_view output)
{
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
    const std::size_t start = output.find_last_of("\r\n");
    return FirstLine(start == std::string_view::npos ? output : output.substr(start + 1));
}

}  // namespace

std::string SudoScanCommand(std::string_view prompt, int answerSeconds)
{
    return SudoScanCommand(prompt, CurrentHostBounds(), answerSeconds);
}

std::string NewSudoPrompt()
{
    unsigned char bytes[16];
    if (!sshcore::SystemRandomBytes(bytes, sizeof bytes)) throw CScanError::Text(u"no random numbers for sudo's prompt");
    std::string prompt = "fdx-sudo-" + HexLower(bytes, sizeof bytes);
    return prompt;
}

std::string SudoScanCommand(std::string_view prompt, const SHostBounds& bounds, int answerSeconds)
{
    const bool passwordOnInput = !prompt.empty();
    const std::string seconds = std::to_string(answerSeconds);
    // sudo's messages go to the output (in the C locale, to be told apart),
    // lshw's XML to the private folder: an empty XML after a failure is sudo
    // refusing, as lshw writes its XML before it ends. The password is read
    // once into the shell, only after sudo showed the prompt (the client
    // waits for it), and handed to each sudo through a FIFO or the shell's
    // own printf, so that it is on no command line. The question's sudo
    // writes its prompt and messages to standard error as they come; it
    // reads from the FIFO, opened by the shell for writing first (so that
    // no open blocks) and closed once the password is in it.
    std::string command = GuardPrologue(bounds) + " " + BuildRemoteCommand({kFindRootsLshw}) + " " + GuardSetup();
    if (passwordOnInput)
        return command + " " +
               BuildRemoteCommand({"set --", CShellWord::Value(prompt),
                                   "; p=$1; mkfifo \"$d/i\" || exit 1; exec 5<>\"$d/i\" 6<\"$d/i\";"
                                   " ( if command -v timeout >/dev/null 2>&1; then"
                                   " LC_ALL=C timeout -k 5", CShellWord::Value(seconds),
                                   "sudo -S -p \"$p\" -l -- \"$r\" <&6 >/dev/null;"
                                   " else LC_ALL=C sudo -S -p \"$p\" -l -- \"$r\" <&6 >/dev/null; fi;"
                                   " echo $? >\"$d/c\"; printf '\\n' >&2 ) 5>&- & b=$!; exec 6<&-;"
                                   " IFS= read -r w || w=; printf '%s\\n' \"$w\" >&5; exec 5>&-;"
                                   " wait $b; c=1; read -r c <\"$d/c\";"
                                   " case $c in 124|137) exit 242;; esac;"
                                   // A refused password is not sent a second time.
                                   " [ \"$c\" = 0 ] || exit 241; LC_ALL=C; export LC_ALL;"}) +
               " " + GuardRun("printf '%s\\n' \"$w\" | run sudo -S -p '' -- \"$r\" -xml") + " " +
               BuildRemoteCommand({"w=; [ \"$s\" -eq 0 ] || [ -s \"$d/x\" ] || exit 241;"
                                   " [ \"$s\" = 0 ] || exit \"$s\"; cat \"$d/x\" || exit 1"});
    return command + " " +
           BuildRemoteCommand({"if command -v timeout >/dev/null 2>&1; then"
                               " LC_ALL=C timeout -k 5",
                               CShellWord::Value(seconds),
                               "sudo -n -l -- \"$r\" >/dev/null 2>&1 </dev/null;"
                               " case $? in 124|137) exit 242;; esac; fi; LC_ALL=C; export LC_ALL;"}) +
           " " + GuardRun("run sudo -n -- \"$r\" -xml </dev/null") + " " +
           BuildRemoteCommand({"[ \"$s\" -eq 0 ] || [ -s \"$d/x\" ] || exit 241;"
                               " [ \"$s\" = 0 ] || exit \"$s\"; cat \"$d/x\" || exit 1"});
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
    const std::string line =
        refusal == SUDO_OTHER ? FirstLine(output) : refusal == SUDO_LSHW_NOT_ROOTS ? LastLine(output) : std::string();
    if (!line.empty()) text += u": " + AnsiToWide(line);
    return text + u". " + LoadString(g_hInstance, then);
}

std::u16string SudoSilentText(int seconds, unsigned then)
{
    std::u16string text = LoadString(g_hInstance, kSilentText);
    if (const std::size_t at = text.find(u"%1"); at != std::u16string::npos)
        text.replace(at, 2, AnsiToWide(std::to_string(seconds)));
    return text + u". " + LoadString(g_hInstance, then);
}
