// The network part of a scan: log in, run lshw, fetch its XML. Errors of
// every kind end here and are shown in one place.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_command.h"
#include "scan/scan_error.h"

class CHostNode;

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
void ReportSshError(int code);
void ReportScpError(int code);

// Asked by the SSH client about a host key (absent: a HostKeyEvent): a
// Yes/No box, No the default, that says what happened, with the host, the
// presented key's fingerprints and those of the stored keys; 1 trusts and
// stores the key, 0 stops. A first contact that was stored (HKE_STORED) is
// only told on standard error with the key's fingerprints.
int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data);

// The setting (a DWORD under kProductKey) that makes a first contact a
// question instead of storing the key: nonzero asks.
inline constexpr const char16_t* kStrictHostKeysSetting = u"StrictHostKeys";
bool StrictHostKeys();

// Keeps text from its first "<" on: a login banner before the XML goes,
// and a text without any "<" becomes empty.
std::u16string CutBeforeXml(std::u16string text);
