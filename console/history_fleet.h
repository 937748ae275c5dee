// The fleet as the history knows it: the latest picture of every host that
// any console recorded (in a shared history, every console of the team), as
// hosts an inventory image can hold, so that a search reads them as it
// reads the console file's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/inventory_image.h"
#include "history/history_store.h"

// One host a path, address and port: the picture last seen of all the
// entries that agree on them, whichever console wrote it. Hosts are ordered
// by group and name; two hosts of one path at different addresses are
// named apart by their "address:port". Their XML is left empty: `entries`
// says, host by host, which entry holds it (ReadHistoryFleetXml), so that
// a fleet is read one picture at a time. False with a reason when the
// history cannot be read.
struct SHistoryFleetEntry {
    std::string key;
    std::int64_t id = 0;
};
bool ReadHistoryFleet(CHistoryStore& store, std::vector<InventoryImageHost>& hosts,
                      std::vector<SHistoryFleetEntry>& entries, std::string& error);
// The XML of one entry ReadHistoryFleet named; false with a reason.
bool ReadHistoryFleetXml(CHistoryStore& store, const SHistoryFleetEntry& entry, std::u16string& xml, std::string& error);
