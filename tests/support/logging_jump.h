// A jump host for tests that writes down every login offered to it
// (logging_jump.py, a paramiko server): each password, keyboard-interactive
// answer and public key, with the login it came with, and each connection it
// forwarded. It runs on a free port of 127.0.0.1 for as long as the object
// lives and forwards only to 127.0.0.1.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/peer_process.h"

struct SLoggingJumpOptions {
    // The password it takes, for any login; empty: it takes none (but every
    // login may still offer one).
    std::string password{};
    // Public key files (OpenSSH ".pub") whose keys it takes.
    std::vector<std::string> authorizedKeys{};
    // When not negative: those keys open only the first so many
    // connections that offer one; later ones are refused.
    int keyLogins = -1;
};

class CLoggingJump {
public:
    explicit CLoggingJump(SLoggingJumpOptions options = {});
    ~CLoggingJump();
    CLoggingJump(const CLoggingJump&) = delete;
    CLoggingJump& operator=(const CLoggingJump&) = delete;

    bool running() const { return m_bRunning; }
    int port() const { return m_nPort; }
    // Why it did not start, or what it wrote on its standard error.
    std::string errorText() const;
    // The lines recorded so far: "password USER SECRET", "kbdint USER
    // SECRET", "publickey USER TYPE BASE64", "accepted USER METHOD",
    // "forward HOST PORT".
    std::vector<std::string> Lines() const;
    // The recorded lines that start with `kind` and a blank.
    std::vector<std::string> Lines(const std::string& kind) const;
    // Whether any recorded line holds `text`.
    bool Saw(const std::string& text) const;

    // Whether python3 with paramiko is there; when not, `why` says so.
    static bool Available(std::string* why = nullptr);

private:
    std::unique_ptr<peer::CTempFolder> m_pFolder;
    peer::CServerProcess m_process;
    std::string m_startError;
    int m_nPort = 0;
    bool m_bRunning = false;
};

// The public half of a key file (its ".pub" line's key, base64).
std::string PublicKeyBase64(const std::string& keyPath);
