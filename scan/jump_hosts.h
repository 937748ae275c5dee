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

// Passwords typed during one scan for hops outside the inventory, by the
// hop's place in the route (empty: none typed); wiped when they go.
class CTypedHopPasswords {
public:
    explicit CTypedHopPasswords(std::size_t hops = 0) : m_passwords(hops) {}
    CTypedHopPasswords(const CTypedHopPasswords&) = delete;
    CTypedHopPasswords& operator=(const CTypedHopPasswords&) = delete;
    ~CTypedHopPasswords();
    // The password for hop `index`, or else `stored`.
    const std::string& For(std::size_t index, const std::string& stored) const;
    std::string& operator[](std::size_t index) { return m_passwords.at(index); }

private:
    std::vector<std::string> m_passwords;
};

// The route for the SSH client's next connection, with the passwords typed
// for its outside hops.
std::vector<SJumpHost> ClientJumpHosts(const std::vector<SJumpLogin>& route, const CTypedHopPasswords& typed = CTypedHopPasswords());
// The place in `route` of the hop outside the inventory that `where` names
// ("host port N", as the engines name a failed hop); -1 when none does.
int OutsideHopAt(const std::vector<SJumpLogin>& route, std::string_view where);
// "login@host:port" of a hop.
std::string HopName(const SJumpLogin& jump);

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
// The failed hop the upload library's last error names ("host port N"), or
// empty when the failure was not at a hop.
std::string UploadFailedHop();
