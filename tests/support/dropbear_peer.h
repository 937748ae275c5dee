// A private Dropbear server for tests, with Debian's packaged defaults (no
// algorithm options): its own folder and host key, listening on a free
// port of 127.0.0.1 for as long as the object lives. It logs in the same
// test user as SshdPeer, with the password.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/peer_process.h"

struct DropbearOptions {
    std::string hostKeyType = "ed25519";  // "rsa", "ecdsa", "ed25519"
    std::vector<std::string> extraArgs;
    peer::BindMounts bindMounts;
};

class DropbearPeer {
public:
    explicit DropbearPeer(DropbearOptions o = {});
    DropbearPeer(const DropbearPeer&) = delete;
    DropbearPeer& operator=(const DropbearPeer&) = delete;

    bool running() const { return m_bRunning; }
    int port() const { return m_nPort; }
    std::string hostKeyPath() const;
    // The server's own messages (also the reason when it did not start).
    std::string logText() const;

    // Whether Dropbear and the test user are there and we may start it.
    static bool Available(std::string* why = nullptr);

private:
    bool Start(const DropbearOptions& o);

    std::unique_ptr<peer::CTempFolder> m_pFolder;
    peer::CServerProcess m_process;
    std::string m_startError;
    int m_nPort = 0;
    bool m_bRunning = false;
};
