// The inventory inside the console file: a marker, then the groups with
// their hosts, each host in a plain form (host, port, last XML) or, while
// Save Passwords is on, an encrypted form (host, port, login, password).
#pragma once

#include "platform/stream.h"

class CRootNode;

// HRESULT of a value too long for the encrypted form.
constexpr HRESULT E_CREDENTIAL_TOO_LONG = static_cast<HRESULT>(0x8007006F);

// Writes the marker and the whole inventory. On success g_bDirty is
// cleared; on a failed write it is left set and the stream's error returned.
HRESULT SaveInventory(CRootNode& root, IStream* stream);
// Reads the marker and the inventory into an empty root. A damaged stream
// stops at its first bad field, keeps what was complete before it and
// gives HRESULT_INVALID_DATA. g_bDirty is cleared.
HRESULT LoadInventory(CRootNode& root, IStream* stream);
