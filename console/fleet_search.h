// Fleet search: the nodes of every scanned host that meet all the terms of
// a query, each named by its host and its node path.
#pragma once

#include <string>
#include <vector>

#include "console/fleet_model.h"
#include "console/fleet_query.h"

struct FleetMatch {
    std::size_t host = 0;  // index into the fleet
    std::u16string path;   // node path below the host, as the commands write paths
    // The rows the terms were met by (or the node's description when only
    // the node itself was asked about).
    std::vector<FleetRow> rows;
};

// A node's rows are its own and those of its "general" child, which holds
// them for a node with children; such a child is no match of its own. The
// keys `class` (lshw's class: disk, processor, memory ...), `id` (the node's
// name without its ":N" number), `node`, `host` and `group` ask about the
// node and its host; any other key names rows. `notes`, when given, gets a
// line for each term that could never hold (a plain number ordered against
// values with a unit), once.
std::vector<FleetMatch> SearchFleet(const std::vector<FleetHost>& fleet, const std::vector<QueryTerm>& terms,
                                    std::vector<std::string>* notes = nullptr);

// One line a match, "GROUP/HOST  node/path  name: value; ...", with every
// text through the terminal filter.
std::string FleetMatchesText(const std::vector<FleetHost>& fleet, const std::vector<FleetMatch>& matches);
// [{"host": "GROUP/HOST", "group", "name", "path", "rows": [[name, value]]}]
std::string FleetMatchesJson(const std::vector<FleetHost>& fleet, const std::vector<FleetMatch>& matches);
