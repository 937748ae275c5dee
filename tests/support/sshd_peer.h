// A private OpenSSH server for tests: its own folder, configuration and host
// key, listening on a free port of 127.0.0.1 for as long as the object lives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/peer_process.h"

struct SshdOptions {
    // Lines written into the generated sshd_config before everything else
    // but the listening address and keys. sshd keeps the first value of a
    // keyword, so these override the algorithm lists below.
    std::vector<std::string> extraConfig{};
    // The server of an older installation: it offers only group1 key
    // exchange, ssh-rsa and ssh-dss host keys, the CBC ciphers, hmac-sha1
    // and hmac-md5. Off: Debian's stock sshd with its default algorithms.
    bool legacyAlgorithms = true;
    // Runs on Debian's packaged /etc/ssh/sshd_config as it stands (password
    // logins through PAM, its sftp-server), overriding only the port, the
    // host key and the pid file; the options above are then not used.
    bool packagedConfig = false;
    bool sftpSubsystem = true;
    // The login methods of the generated configuration: passwords on,
    // keyboard-interactive off, PAM off unless asked for (keyboard-
    // interactive logins need PAM, the system's stack for sshd).
    bool passwordLogins = true;
    bool keyboardInteractive = false;
    bool usePam = false;
    std::string hostKeyType = "rsa";  // "rsa", "dsa", "ecdsa", "ed25519"
    // Files laid over others for this server and its sessions only, in a
    // mount namespace of their own: {source, target}. Laying /dev/null over
    // /usr/bin/lshw, say, makes a host where `which lshw` finds nothing.
    peer::BindMounts bindMounts{};
    // sshd's LogLevel; DEBUG shows each forwarding it is asked for.
    std::string logLevel = "VERBOSE";
};

class SshdPeer {
public:
    explicit SshdPeer(SshdOptions o = {});
    ~SshdPeer();
    SshdPeer(const SshdPeer&) = delete;
    SshdPeer& operator=(const SshdPeer&) = delete;

    // True once the server accepts connections on port().
    bool running() const;
    int port() const;
    // The private host key file; its public half is hostKeyPath() + ".pub".
    std::string hostKeyPath() const;
    // What the server wrote to its log so far (also the reason when it did
    // not start).
    std::string logText() const;
    // The folder that holds the server's files, removed by the destructor.
    std::string folder() const;

    static const char* User();
    static const char* Password();
    // Whether the peers can run here at all: the test user exists (made by
    // scripts/setup-peers.sh) and sshd is installed. When not, `why` says so.
    static bool Available(std::string* why = nullptr);

private:
    bool Start(const SshdOptions& o);

    std::unique_ptr<peer::CTempFolder> m_pFolder;
    peer::CServerProcess m_process;
    std::string m_startError;
    int m_nPort = 0;
    bool m_bRunning = false;
};
