// The steps of a scan on its session: running the scan command (through
// sudo when asked), the checks of what the SSH client returned, the texts
// of its errors, and the host-key question.
#pragma once

#include <cstdint>
#include <string>

#include "platform/snapin_contract.h"
#include "scan/scan_command.h"
#include "scan/scan_error.h"
#include "scan/scan_request.h"

// 0 passes; 15 raises the server's disconnect description; any other code
// closes the session and raises the code. With the command's name, a limit
// that the command passed raises a text that names the command and the
// limit ("lshw did not finish within 20 seconds").
void CheckSshResult(int code);
void CheckSshResult(int code, const char16_t* command);
// A command that a signal ended, or that ended without an exit status,
// closes the session and raises a text that says so (shellSignals: also an
// exit status of 128 + a signal's number, as a shell reports it).
void CheckCommandEnded(const char16_t* command, bool shellSignals = false);
// As CheckCommandEnded; then a non-zero exit status closes the session and
// raises the output. Without a name the command is "the command".
void CheckCommandStatus();
void CheckCommandStatus(const char16_t* command);
// The texts of the SSH client's and the upload library's errors, with what
// they found out about the failure; the Report forms show them in an error
// box.
std::u16string SshErrorText(int code);
std::u16string ScpErrorText(int code);
void ReportSshError(int code);
void ReportScpError(int code);

// Runs the scan command on the current session, through sudo when the
// request asks for it. A sudo that does not run lshw is told as a note by
// its cause (kept as the result's rootReason), and the scan runs without
// it; a missing lshw is left to the caller (kLshwMissingStatus).
void RunScanStep(const SScanRequest& request, IScanQuestions& questions, SScanResult& result);

// Asked by the SSH client about a host key (absent: a HostKeyEvent): with
// `data` an IScanQuestions that answers, without one the box below; 1
// trusts and stores the key, 0 stops. A first contact that was stored
// (HKE_STORED) is only told on standard error with the key's fingerprints.
int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data);
// The question about a key, with the current session's report.
SHostKeyQuestion HostKeyQuestionOf(const char* host, const char* fingerprint, int absent);
// A Yes/No box, No the default, that says what happened, with the host,
// the presented key's fingerprints and those of the stored keys.
bool AskHostKeyInBox(const SHostKeyQuestion& question);

// Whether the setting kStrictHostKeysSetting (a DWORD under kProductKey)
// makes a first contact a question instead of storing the key.
bool StrictHostKeys();

// Keeps text from its first "<" on: a login banner before the XML goes,
// and a text without any "<" becomes empty.
std::u16string CutBeforeXml(std::u16string text);
std::string CutBeforeXml(std::string text);
// Empty when `xml` (the output cut before its first "<") starts as lshw's
// XML does; else the failure to tell: how many bytes came instead, and
// their first printable characters.
std::u16string NoHardwareListText(std::string_view output, std::string_view xml);
