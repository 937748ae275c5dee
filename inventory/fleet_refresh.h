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

// The setting (DWORD) for how many scans run side by side, and its default.
inline constexpr const char16_t* kRefreshJobsSetting = u"RefreshJobs";
inline constexpr int kDefaultRefreshJobs = 8;
inline constexpr int kMaxRefreshJobs = 64;
// A text setting that, when present, names the hosts "Refresh All" takes:
// lines of "GROUP" (all its hosts) or "GROUP/HOST". A host program sets it
// for one run; hosts outside it are left alone.
inline constexpr const char16_t* kRefreshChoiceSetting = u"RefreshChoice";
// Set for one run by a host program: a DWORD that deploys lshw where it is
// missing without asking, and a text of "GROUP/HOST" lines whose changed
// host key is trusted (each told as a note with both fingerprints).
inline constexpr const char16_t* kRefreshDeploySetting = u"RefreshDeploy";
inline constexpr const char16_t* kRefreshTrustSetting = u"RefreshTrustChangedKeys";

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
