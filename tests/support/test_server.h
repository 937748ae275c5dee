// The kinds of real SSH server the end-to-end tests run against, behind one
// face: an older installation's sshd (only the older algorithms), Debian's
// stock sshd on its packaged configuration file, and Debian's stock Dropbear.
#pragma once

#include <memory>
#include <string>

#include "tests/support/peer_process.h"

enum class EServerKind { OlderSshd, StockSshd, StockDropbear };

struct ServerSetup {
    EServerKind kind = EServerKind::StockSshd;
    // Off: no SFTP subsystem (the older sshd only), so uploads take the scp
    // sink.
    bool sftp = true;
    peer::BindMounts bindMounts;
    // "rsa", "ecdsa" or "ed25519"; empty: the kind's own (RSA for the older
    // sshd, Ed25519 for the others).
    std::string hostKeyType;
};

class CTestServer {
public:
    virtual ~CTestServer() = default;
    virtual bool running() const = 0;
    virtual int port() const = 0;
    virtual std::string logText() const = 0;
    // The host-key cache's value name for this server on 127.0.0.1.
    virtual std::string cacheValueName() const = 0;
    // The private host key file.
    virtual std::string hostKeyPath() const = 0;
};

std::unique_ptr<CTestServer> StartServer(const ServerSetup& setup);
// "OlderSshd", "StockSshd", "StockDropbear": usable in test names.
const char* ServerKindName(EServerKind kind);
// Why the server cannot run here; empty when it can.
std::string ServerUnavailable(EServerKind kind);
