// A host's hardware view in one piece, for a console that reads many hosts
// at once (a search, an export): what expanding the host and selecting
// every node below it would show, without a scope item or a result line.
//
//   tree  := u32 count, node * count      (the host's children, in order)
//   node  := text name, text class, u32 rows, (text name, text value) * rows,
//            u32 count, node * count
//
// The class is lshw's class of the hardware; empty for a "general" node.
//   text  := u32 units, UTF-16LE units
//
// All numbers are little-endian. A host that is not expanded has its tree
// built for the occasion and dropped again, so that a fleet holds only its
// packed pictures between such reads.
#pragma once

#include <string>

class CHostNode;

// The bytes above; false when the host holds no picture or its tree could
// not be built.
bool WriteHostTree(CHostNode& host, std::string& bytes);
