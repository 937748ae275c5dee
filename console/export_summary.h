// The fields administrators ask for about a host, drawn from its picture:
// the machine's vendor, product and serial, its processors, memory, disks
// and network interfaces. The CSV export and the HTML report's summary
// table show these.
#pragma once

#include <string>
#include <vector>

#include "console/fleet_model.h"

struct HostSummary {
    std::string vendor;
    std::string product;
    std::string serial;
    std::string cpuModel;
    int cpuCount = 0;
    std::string memoryTotal;         // "24 GiB"; empty when unknown
    std::vector<std::string> disks;  // "/dev/vda 40 GiB"
    std::vector<std::string> nics;   // "eth0 52:54:00:12:34:56"
    // The totals as numbers, for sorting.
    double memoryBytes = 0;
    double diskBytes = 0;
};

HostSummary SummarizeHost(const FleetHost& host);
// A byte count as "24 GiB", "1.5 TiB", "512 MiB".
std::string FormatBytes(double bytes);
