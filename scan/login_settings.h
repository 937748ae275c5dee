// How a host logs in: the one place that turns a host's settings into what
// a login offers, so that the scan and the deployment log in alike.
#pragma once

#include <string>

#include "scan/scan_request.h"
#include "ssh2/ssh2.h"

// What one login of the host offers, in the SSH client's order: the agent's
// keys, the key file, then the password (as the password, or as the answer
// to a keyboard-interactive prompt). The agent's keys are offered when the
// host says so, or when the host has neither a key file nor a password
// (nothing else could log in); a host with a password or a key file and no
// agent check never asks the agent, so its login does not depend on which
// agent the console happens to run under. A key file's "~/" is the user's
// home folder. The secrets are wiped when the record goes.
struct SHostLogin {
    SHostLogin() = default;
    SHostLogin(const SHostLogin&) = delete;
    SHostLogin& operator=(const SHostLogin&) = delete;
    ~SHostLogin();

    std::string login;
    std::string password;
    SLoginKeys keys;
};

void MakeHostLogin(const SScanRequest& request, SHostLogin& out);
// A host's key files (one path per line) with "~/" as the user's home
// folder, one path per line.
std::string ExpandKeyFilePath(std::u16string_view path);

// Gives the SSH client the host's keys for its next login
// (CSSH2::SetLoginKeys); the password travels with CSSH2::Login.
void UseHostLoginKeys(const SHostLogin& login);
