// Reads the fleet model out of an open console: the hosts below the
// inventory's root (all of them, or those the paths name) with the trees
// their stored pictures give. A host without a stored picture is listed
// with `scanned` false and never expanded: nothing here contacts a server.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/fleet_model.h"
#include "console/host_core.h"

// Called before each host is read: hosts read so far, hosts in all, the
// host's path.
using FleetProgress = std::function<void(std::size_t done, std::size_t total, const std::u16string& path)>;

// `paths`: "GROUP" or "GROUP/HOST" each; empty for every host. False with
// `error` set when a path names nothing.
bool CollectFleet(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths,
                  std::vector<FleetHost>& hosts, std::string& error, const FleetProgress& progress = {});
// The same one host at a time, for a reader that keeps less than every
// host's tree: `visit` gets each host with its tree, in order, and may keep
// or drop what it likes of it.
using FleetVisit = std::function<void(FleetHost&& host)>;
bool VisitFleet(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths,
                const FleetVisit& visit, std::string& error, const FleetProgress& progress = {});
