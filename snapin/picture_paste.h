// A paste onto a host node: the console hands over a data object giving a
// hardware picture (kHostPictureXmlFormat), and the host takes its lshw XML
// as the picture it holds. Nothing else can be pasted.
#pragma once

#include "inventory/console_node.h"
#include "platform/dataobject.h"

// Whether `source` can be pasted onto `target` (MMCN_QUERY_PASTE): the
// target is a host and the source says it gives the picture format.
bool CanPastePicture(CConsoleNode& target, IDataObject* source);

// Reads the picture from `source`, at most as long as a scan's output may
// be, and gives it to the host (MMCN_PASTE). S_FALSE when the target is no
// host or the source gives no well-formed picture (the host keeps its own).
HRESULT PastePicture(CConsoleNode& target, IDataObject* source, IConsoleNameSpace2* nameSpace);
