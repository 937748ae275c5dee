// The network part of a scan: log in, run lshw, fetch its XML. Errors of
// every kind end here and are shown in one place.
#pragma once

#include <cstdint>
#include <string>

class CHostNode;

// The commands sent to a host.
inline constexpr const char16_t* kScanCommand = u"(which lshw 2>/dev/null || (echo no; false)) && lshw -xml > lshw.xml";
inline constexpr const char16_t* kFetchCommand = u"cat lshw.xml";

// A command's output or a disconnect description, raised as the error.
struct CommandError {
    std::u16string text;
};

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

// Asked by the SSH client about a host key: 1 stores it, 0 does not.
int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data);

// Keeps text from its first "<" on: a login banner before the XML goes,
// and a text without any "<" becomes empty.
std::u16string CutBeforeXml(std::u16string text);
