// A host of the inventory as a login: what its record offers, and the jump
// hosts of its route resolved with the rest of the inventory (see
// scan/jump_hosts.h for how each hop logs in).
#pragma once

#include <vector>

#include "scan/jump_hosts.h"
#include "scan/login_settings.h"

class CHostNode;

// What one login of the host offers (see SHostLogin).
void MakeHostLogin(const CHostNode& host, SHostLogin& out);

// The host names a key file that is protected by a passphrase, and holds
// none for it (a console file without Save Passwords keeps no passphrase).
bool HostKeyNeedsPassphrase(const CHostNode& host);

// The route of `host`: a hop that is a host of the inventory logs in with
// that host's record, any other with a name, keys and the agent only.
// Empty when the host is reached directly. Raises a CScanError when the
// stored route does not read.
std::vector<SJumpLogin> ResolveJumpHosts(const CHostNode& host);
