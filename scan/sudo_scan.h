// The scan with root rights: lshw run through sudo, first without a
// password (sudo -n), then with the host's password on sudo's standard
// input when sudo asks for one with this run's own random prompt. A sudo
// that is missing or refuses, or a host that shows anything but that
// prompt, is told by its cause, and the scan is run again without root
// rights.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scan/scan_command.h"

// The scan command of ScanCommand with lshw run through sudo: only root's
// own lshw, never one the login could change (see kLshwNotRootsStatus);
// `-n` without a password. With `prompt`, the password is awaited on
// standard input: sudo is first asked (`sudo -S -p PROMPT -l`) with its
// prompt on standard error, the shell reads the password only then (the
// client sends it only once it saw exactly that prompt) and hands it to
// that sudo and to the one that runs lshw; at the question's end a line
// feed goes to standard error, so that a client still waiting stops. Exits with kLshwMissingStatus when there is no lshw, with
// kSudoMissingStatus when there is no sudo, and with kSudoRefusedStatus and
// sudo's messages as output when sudo did not run lshw.
// Before lshw runs, sudo is asked whether the login may run it (`sudo -l`)
// under `timeout` when the host has it: a sudo that does not answer within
// `answerSeconds` (a prompt it should not show, a slow PAM) exits with
// kSudoSilentStatus instead of holding the scan for the whole command limit.
inline constexpr int kSudoAnswerSeconds = 30;
// The bounds are those of the limits in force unless given.
std::string SudoScanCommand(std::string_view prompt = {}, int answerSeconds = kSudoAnswerSeconds);
std::string SudoScanCommand(std::string_view prompt, const SHostBounds& bounds, int answerSeconds = kSudoAnswerSeconds);
// A fresh prompt for one run: "fdx-sudo-" and 32 hex digits from the
// system's CSPRNG (no "%", which sudo would expand).
std::string NewSudoPrompt();
inline constexpr std::uint32_t kSudoMissingStatus = 240;
inline constexpr std::uint32_t kSudoRefusedStatus = 241;
inline constexpr std::uint32_t kSudoSilentStatus = 242;
// The lshw that root would run is not root's own: the first lshw on root's
// fixed folders (/usr/sbin, /usr/bin, /sbin, /bin, /usr/local/sbin,
// /usr/local/bin), or a folder above it or above its link's target, is not
// owned by root or can be written by others than root; or the only lshw is
// one on the login's PATH. The output's last line is the path at fault.
inline constexpr std::uint32_t kLshwNotRootsStatus = 243;

// Why sudo did not run lshw. The order is that of the texts (list 481).
enum ESudoRefusal {
    SUDO_MISSING,
    SUDO_PASSWORD_REQUIRED,  // sudo -n: a password is needed
    SUDO_NO_PASSWORD,        // a password is needed and the host has none stored
    SUDO_NOT_ALLOWED,        // not in sudoers, or not for this command
    SUDO_WRONG_PASSWORD,
    SUDO_TTY_REQUIRED,       // requiretty
    SUDO_OTHER,
    SUDO_LSHW_NOT_ROOTS,     // kLshwNotRootsStatus: sudo is not asked at all
    SUDO_FORGED_PROMPT,      // the host showed something other than this run's prompt: no password sent
};

// The cause told by sudo's messages (printed in the C locale).
ESudoRefusal ClassifySudoRefusal(std::string_view output);

// The message for the user: the cause, sudo's own first line for a cause
// not known here (the path at fault, the output's last line, for an lshw
// that is not root's own), and that the scan goes on without root rights.
// `then` is the string id of what happens next (the scan without root
// rights by default).
inline constexpr unsigned kScanWithoutRootText = 482;
inline constexpr unsigned kHomeInstallText = 483;
std::u16string SudoRefusalText(ESudoRefusal refusal, std::string_view output, unsigned then = kScanWithoutRootText);
// The message for a sudo that did not answer within `seconds`.
std::u16string SudoSilentText(int seconds, unsigned then = kScanWithoutRootText);
