// A scan's hardware tree as the views show it, read through the snap-in:
// the XML is opened in a console of its own (as `view-xml` does) and every
// hardware node's id and Name/Value rows are collected.
#pragma once

#include <string>
#include <vector>

#include "history/scan_diff.h"

// False with a reason when the XML holds no hardware tree.
bool SnapshotOfXml(std::u16string_view xml, std::vector<SnapshotNode>& nodes, std::string& error);
