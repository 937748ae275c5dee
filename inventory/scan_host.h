// Scanning a host: from the host record to hardware nodes in the console.
#pragma once

#include <functional>

#include "inventory/stored_picture.h"
#include "platform/console.h"
#include "scan/scan_error.h"
#include "scan/scan_request.h"

class CHostNode;

// Makes sure the host has a name and a login, fetches its lshw XML unless it
// holds some, builds the hardware tree and inserts it under the host.
// Returns SCAN_OK or SCAN_FAILED.
int ScanHost(CHostNode& host, IConsoleNameSpace2* nameSpace);

// Scans the host again, keeping what it shows until a new picture arrives:
// the hardware and XML are replaced only when the scan fetched an XML that
// holds hardware; otherwise they stay, with the failure's time in the
// host's scan status. Returns SCAN_OK or SCAN_FAILED.
int RefreshHost(CHostNode& host, IConsoleNameSpace2* nameSpace);

// The network part of a scan: the host's record made into a request, the
// scan run with the module's dialogs, what it told kept on the host
// (KeepScanOutcome) and its XML taken. An EScanResult:
// SCAN_WRONG_PASSWORD when the server refused the login or the password
// (already told; the caller may ask for them again).
int RunScanJob(CHostNode& host);

// The scan's record of a host: its address and login ways, the jump route
// resolved with the inventory (ResolveJumpHosts), sudo as the host or this
// run wants it, the limits and host-key policy in force. Raises a
// CScanError when the stored route does not read.
SScanRequest MakeScanRequest(const CHostNode& host);

// Keeps on the host what its scan said beyond the XML (notes, root rights,
// missing lshw or package).
void KeepScanOutcome(CHostNode& host, const SScanResult& result);

// The network part as configured: the replacement when one is set.
int RunConfiguredScanJob(CHostNode& host);

// Takes the XML a refresh fetched (code: the job's result): a picture that
// holds hardware replaces the one shown, anything else keeps it and notes
// the failure. `failure` is what the host's result says then. Returns 0
// when the picture was replaced, 1 otherwise.
int TakeRefreshedPicture(CHostNode& host, IConsoleNameSpace2* nameSpace, int code, CStoredPicture picture,
                         std::u16string_view failure);
// The same for a text, packed first.
int TakeRefreshedXml(CHostNode& host, IConsoleNameSpace2* nameSpace, int code, std::u16string_view xml,
                     std::u16string_view failure);

// Replaces the network part (tests use a fake); an empty function restores
// the real one. Returns the previous replacement.
using ScanJobFunction = std::function<int(CHostNode&)>;
ScanJobFunction SetScanJob(ScanJobFunction job);
