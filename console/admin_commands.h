// The commands that look after this user's Ferrodex settings and the host
// keys it remembers; they work on the registry alone, never on a console
// file, and contact no host.
#pragma once

#include <string>

// config list: every setting with its value in force, default and meaning.
int CommandConfigList(bool json);
// config get NAME: the value in force.
int CommandConfigGet(const std::string& name);
// config set NAME VALUE: stores a checked value ("default" removes the
// stored one). A refused name or value exits with 2.
int CommandConfigSet(const std::string& name, const std::string& value);

// known-hosts list [HOST]: the stored host keys (all, or those of one host
// name, or of HOST:PORT) with their SHA256 fingerprints.
int CommandKnownHostsList(const std::string& host, bool json);
// known-hosts forget HOST[:PORT]: removes every key stored for the host on
// that port (22 when none is given).
int CommandKnownHostsForget(const std::string& host);
