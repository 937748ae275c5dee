// What the console host knows of the Ferrodex snap-in's nodes beyond the
// console interfaces: the node types that change how a face treats a node
// (a host node: expanding it, or a node below it, may scan its server, so
// the faces expand one only when the user asks for it).
#pragma once

#include "platform/snapin_contract.h"
