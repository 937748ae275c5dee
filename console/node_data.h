// Reading what a snap-in's data object says about its node, in the console's
// clipboard formats.
#pragma once

#include <optional>
#include <string>

#include "platform/dataobject.h"

// "CCF_DISPLAY_NAME": the node's display name; nothing when the data object
// does not give it.
std::optional<std::u16string> ReadDisplayName(IDataObject* data);

// "CCF_NODETYPE": the node's type identifier; nothing when not given.
std::optional<GUID> ReadNodeType(IDataObject* data);
