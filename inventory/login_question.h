// The login question asked before a host is scanned, written once for every
// way a scan starts: the host's own Refresh, and Refresh All of many hosts.
#pragma once

#include "platform/console.h"

class CHostNode;

// Whether the host lacks something its next login needs: an address, a
// login name, any way in at all (a password, a key file or the agent), or
// the passphrase of a protected key file that holds none.
bool LoginQuestionNeeded(const CHostNode& host);

// Asks the host's login question. The dialog shows everything the host has
// (login, key file, agent setting, jump route, sudo) and names the host by
// its place in the tree ("Data/db1"), so an answer changes only what was
// typed. False when it was cancelled; `changed` tells whether the answer
// dropped the host's picture (a new address or port).
bool AskHostLogin(CHostNode& host, IConsoleNameSpace2* nameSpace, bool& changed);
