// A host's hardware: its picture read into the hardware nodes the host owns,
// and those nodes put into the console tree.
#pragma once

#include "platform/console.h"

class CHostNode;

// Reads the host's picture (hardware/hardware_tree.h) and takes what was
// read: the hardware nodes become its children, the top element's rows its
// "general" rows, the document stays with it. An empty picture shows the
// "Can't find file: " box first. 0 on success, 1 when the XML service is
// missing or the document has no top `node` element; what was read before
// an error stays.
int BuildHardwareTree(CHostNode& host);

// Makes the host's "general" node from its top rows and inserts it, then
// every hardware child, under the host's scope item.
HRESULT InsertHostHardware(CHostNode& host, IConsoleNameSpace2* nameSpace);
