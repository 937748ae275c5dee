// The jump hosts a scan or a deployment goes through, with the login each
// of them takes. A jump host that is itself a host of the inventory (same
// address and port, and same login when the route names one) logs in with
// that host's stored login and password; any other logs in with the login
// the route names, or else the scanned host's, and the scanned host's
// password. Both use the same keys and agent as the scanned host.
#pragma once

#include <vector>

#include "inventory/jump_route.h"
#include "ssh2/ssh2.h"

class CHostNode;

// One jump host with the login and password it takes; the password is
// wiped when the object goes.
struct SJumpLogin {
    SJumpHop hop;
    std::string login;
    std::string password;
    SJumpLogin() = default;
    SJumpLogin(const SJumpLogin&) = delete;
    SJumpLogin& operator=(const SJumpLogin&) = delete;
    SJumpLogin(SJumpLogin&&) = default;
    SJumpLogin& operator=(SJumpLogin&&) = default;
    ~SJumpLogin();
};

// The route of `host`, resolved as above; empty when it is reached
// directly. Raises a CScanError when the stored route does not read.
std::vector<SJumpLogin> ResolveJumpHosts(const CHostNode& host);
// The route for the SSH client's next connection.
std::vector<SJumpHost> ClientJumpHosts(const std::vector<SJumpLogin>& route);
