// The jump hosts a scan or a deployment goes through, with the login each
// of them takes. Each hop logs in on its own, and a target's password never
// goes to a hop:
// - a hop that is itself a host of the inventory (same address and port, and
//   same login when the route names one) logs in with that host's own record:
//   its login, password, key file with passphrase and agent setting, as a
//   scan of that host would;
// - any other hop logs in with the login the route names, or else the
//   scanned host's login name, offering the agent's keys and the scanned
//   host's key file (with the passphrase stored for it, never asked for),
//   and no password at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/jump_route.h"
#include "ssh2/ssh2.h"

// One jump host with the login it takes; the password and the key's
// passphrase are wiped when the object goes. inventory: the hop is a host of
// the inventory and logs in with its record (else password stays empty).
struct SJumpLogin {
    SJumpHop hop;
    std::string login;
    std::string password;
    SLoginKeys keys;
    bool inventory = false;
    SJumpLogin() = default;
    SJumpLogin(const SJumpLogin&) = delete;
    SJumpLogin& operator=(const SJumpLogin&) = delete;
    SJumpLogin(SJumpLogin&&) = default;
    SJumpLogin& operator=(SJumpLogin&&) = default;
    ~SJumpLogin();
};

// The route for the SSH client's next connection.
std::vector<SJumpHost> ClientJumpHosts(const std::vector<SJumpLogin>& route);

// The text for a login refused by a hop outside the inventory, which was
// offered no password: it names the hop (login@host:port) and says it needs
// a login of its own. `where` is the failed hop as the engines name it
// ("host port N"); empty when that is no such hop of the route.
std::u16string OutsideHopRefusal(const std::vector<SJumpLogin>& route, std::string_view where);
// After the SSH client's login through `route` ended with `code`: raises
// that text as a CScanError (and ends the session) when a hop outside the
// inventory refused the login.
void CheckJumpLogin(const std::vector<SJumpLogin>& route, int code);
// After an upload through `route` ended with `code`: the same for the
// upload library's refusal.
void CheckJumpUpload(const std::vector<SJumpLogin>& route, int code);
