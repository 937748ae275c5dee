// The scan of one host as one function of its plain record.
#pragma once

#include <functional>
#include <string_view>

#include "scan/scan_request.h"

// Runs the scan of one host: connect (through the jump hosts), log in, run
// lshw (through sudo when asked), deploy the engine package when lshw is
// missing and that is agreed, fetch the XML. Every failure is told through
// `questions` once and recorded in the result; no session is left open.
SScanResult RunScan(const SScanRequest& request, IScanQuestions& questions);

// The scan as configured: the replacement when one is set (tests use a
// fake), else RunScan.
SScanResult RunConfiguredScan(const SScanRequest& request, IScanQuestions& questions);
using ScanRunFunction = std::function<SScanResult(const SScanRequest&, IScanQuestions&)>;
// Sets the replacement (empty restores RunScan); returns the previous one.
ScanRunFunction SetScanRun(ScanRunFunction run);

// lshw's own marker of a run without root rights is in its XML.
bool LshwRanWithoutRoot(std::string_view xml);

// What the scan error says to the user: the same text the scan tells.
std::u16string ScanErrorText(const CScanError& error);
