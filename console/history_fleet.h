// The fleet as the history knows it: the latest picture of every host that
// any console recorded (in a shared history, every console of the team), as
// hosts an inventory image can hold, so that a search reads them as it
// reads the console file's.
#pragma once

#include <string>
#include <vector>

#include "console/inventory_image.h"
#include "history/history_store.h"

// One host a path, address and port: the picture last seen of all the
// entries that agree on them, whichever console wrote it. Hosts are ordered
// by group and name; two hosts of one path at different addresses are
// named apart by their "address:port". False with a reason when the
// history cannot be read.
bool ReadHistoryFleet(CHistoryStore& store, std::vector<InventoryImageHost>& hosts, std::string& error);
