// Refreshing many hosts at once. Each scan runs in a worker process of its
// own (see docs/parallel-scans.md): the SSH engines keep one session per
// process, and a host that fails, hangs or floods ends with its worker
// without touching the others. At most `jobs` workers run side by side;
// each is killed when it outlives the scan's own limits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "scan/scan_limits.h"
#include "scan/worker_record.h"

class CHostNode;

// How many scans run side by side (the DWORD kRefreshJobsSetting), its
// default and its largest value. A host program may name the hosts "Refresh
// All" takes (kRefreshChoiceSetting; hosts outside it are left alone),
// deploy lshw where it is missing without asking (kRefreshDeploySetting)
// and trust the changed keys of some hosts (kRefreshTrustSetting; each told
// as a note with both fingerprints), for one run.
inline constexpr int kDefaultRefreshJobs = 8;
inline constexpr int kMaxRefreshJobs = 64;

struct SFleetCount {
    std::size_t total = 0;
    std::size_t done = 0;
    std::size_t failed = 0;
};

// Refreshes the hosts side by side, asking first (one after the other) for
// the login of each host that has none. Each host's result is on the host
// afterwards (m_bstrLastResult, its scan status and picture). Returns the
// count.
SFleetCount RefreshHosts(const std::vector<CHostNode*>& hosts, IConsoleNameSpace2* nameSpace);

// The hosts of `hosts` that the choice setting keeps (all without it).
std::vector<CHostNode*> ChosenHosts(const std::vector<CHostNode*>& hosts);

// How long a worker may live at most: every step's limit, the command's
// three times (sudo, a second run after an installation), and a margin.
int WorkerSeconds(const SScanLimits& limits);

// What travels between the parent and a worker is in scan/worker_record.h:
// the parent makes each host's request (resolving its jump hosts with the
// inventory), the worker runs the scan on it and answers its result.
