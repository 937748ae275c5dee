// Scanning a host: from the host record to hardware nodes in the console.
#pragma once

#include <functional>

#include "platform/console.h"

class CHostNode;

// Makes sure the host has a name and a login, fetches its lshw XML unless it
// holds some, builds the hardware tree and inserts it under the host.
// Returns 0 on success, 1 on failure.
int ScanHost(CHostNode& host, IConsoleNameSpace2* nameSpace);

// The network part of a scan: fills the host's XML. 0 success, 1 failure.
int RunScanJob(CHostNode& host);

// Replaces the network part (tests use a fake); an empty function restores
// the real one. Returns the previous replacement.
using ScanJobFunction = std::function<int(CHostNode&)>;
ScanJobFunction SetScanJob(ScanJobFunction job);
