// How long each step of a scan may take and how much a host may send: the
// user's settings under the product key (DWORD values), else the defaults.
#pragma once

#include <cstddef>

// The setting names (kConnectTimeoutSetting, ...) under kProductSettingsKey.
#include "platform/snapin_contract.h"

struct SScanLimits {
    int connectSeconds = 30;    // the TCP connection and the server's version line
    int loginSeconds = 60;      // key exchange and login
    int commandSeconds = 600;   // one command on the host (lshw may take minutes)
    std::size_t maxOutputMiB = 16;  // what one command may print

    static constexpr int kMaxSeconds = 24 * 60 * 60;
    static constexpr std::size_t kMaxOutputMiB = 64;
};

// The limits in force: each setting that holds a usable value (1 to the
// maximum) replaces its default; any other value is ignored.
SScanLimits ReadScanLimits();
