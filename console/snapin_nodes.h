// What the console host knows of the Ferrodex snap-in's nodes beyond the
// console interfaces: the node types that change how a face treats a node.
#pragma once

#include "platform/com.h"

// A host node: expanding it (or a node below it) may scan its server, so
// the faces expand one only when the user asks for it.
constexpr GUID kHostNodeType = MakeGuid("C4FBF6AC-2761-4DF4-A117-648CA6594B48");
