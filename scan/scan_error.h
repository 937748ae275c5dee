// What the scan raises and returns. Every failure inside scan/ is raised as
// one CScanError, which says where it came from; the scan job shows it in
// one place. The functions that end a step return an EScanResult.
#pragma once

#include <string>

#include "scp/scp.h"
#include "ssh2/errors.h"

enum EScanResult {
    SCAN_OK = 0,
    SCAN_FAILED = 1,          // already told to the user
    SCAN_WRONG_PASSWORD = 2,  // the server refused the login (told); ask again
};

enum EScanErrorSource {
    SES_TEXT,      // a text to show as it is: a command's output, a server's
                   // disconnect description, one of the module's messages
    SES_SSH,       // the SSH client failed: code is an ESSHErrors
    SES_UPLOAD,    // the upload library failed: code is an ESCPErrors
    SES_FILE,      // a local file could not be read: code is the errno value
    SES_ARGUMENT,  // a caller passed a value that cannot be used (a programming error)
    SES_INTERNAL,  // a primitive failed where it cannot
};

class CScanError {
public:
    static CScanError Text(std::u16string text) { return CScanError(SES_TEXT, 0, std::move(text)); }
    static CScanError Ssh(ESSHErrors code) { return CScanError(SES_SSH, code, {}); }
    static CScanError Upload(ESCPErrors code) { return CScanError(SES_UPLOAD, code, {}); }
    static CScanError File(int error) { return CScanError(SES_FILE, error, {}); }
    static CScanError Argument(std::u16string what) { return CScanError(SES_ARGUMENT, 0, std::move(what)); }
    static CScanError Internal(std::u16string what) { return CScanError(SES_INTERNAL, 0, std::move(what)); }

    EScanErrorSource Source() const { return m_source; }
    int Code() const { return m_nCode; }
    ESSHErrors SshCode() const { return static_cast<ESSHErrors>(m_nCode); }
    ESCPErrors UploadCode() const { return static_cast<ESCPErrors>(m_nCode); }
    // The text to show (SES_TEXT), or what went wrong (SES_ARGUMENT, SES_INTERNAL).
    const std::u16string& Message() const { return m_strText; }

private:
    CScanError(EScanErrorSource source, int code, std::u16string text)
        : m_source(source), m_nCode(code), m_strText(std::move(text))
    {
    }
    EScanErrorSource m_source;
    int m_nCode;
    std::u16string m_strText;
};
