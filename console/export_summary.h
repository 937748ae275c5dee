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
// A row's value as people read it: a "size" or "capacity" in bytes as
// FormatBytes writes it ("447.1 GiB", not "468843520 Kb"); any other value,
// and a size under 1 KiB, as the view shows it. Empty when it reads as the
// view's own form.
std::string ReadableSize(std::u16string_view name, std::u16string_view value);
