// The inventory inside the console file: a marker, then the groups with
// their hosts. Without Save Passwords, version 4: each host in a plain form
// (host, port, last XML packed as stored_picture.h says, and the settings
// that are no secret: login, key file, agent, sudo). With it, version 6: a
// vault header (see vault.h) and its digest, each host's address, port,
// login, password and settings (the key file's passphrase among them) in
// one sealed record and its packed XML in another, every record bound to
// the header. Files of versions 1 (the XML as UTF-16 text; encrypted
// records of old), 2 (a vault without XML), 3 (a vault with it as UTF-16)
// and 5 (a vault not bound to its header) still load; the next save writes
// today's version and says so once (silently for version 5).
// docs/console-file.md describes the layouts.
#pragma once

#include "platform/stream.h"

class CRootNode;

// HRESULT of a value too long for the encrypted form.
constexpr HRESULT E_CREDENTIAL_TOO_LONG = static_cast<HRESULT>(0x8007006F);
// A host's XML is beyond what a packed picture may hold (an older file's
// or a pasted one): nothing is written.
constexpr HRESULT E_PICTURE_TOO_LARGE = static_cast<HRESULT>(0x800700DF);  // ERROR_FILE_TOO_LARGE
// The main-password question was cancelled while loading.
constexpr HRESULT E_MAIN_PASSWORD_CANCELLED = static_cast<HRESULT>(0x800704C7);  // ERROR_CANCELLED
// Save Passwords is on but the main password is empty: nothing is written.
constexpr HRESULT E_MAIN_PASSWORD_EMPTY = static_cast<HRESULT>(0x80070056);  // ERROR_INVALID_PASSWORD

// Writes the marker and the whole inventory. On success g_bDirty is
// cleared; on a failed write it is left set and the stream's error returned.
HRESULT SaveInventory(CRootNode& root, IStream* stream);
// Reads the marker and the inventory into an empty root. A damaged stream
// stops at its first bad field, keeps what was complete before it and
// gives HRESULT_INVALID_DATA. An encrypted stream asks for the main password
// until it is right or the question is cancelled (E_MAIN_PASSWORD_CANCELLED);
// a wrong password and a damaged record are told apart in the messages.
// g_bDirty is cleared.
HRESULT LoadInventory(CRootNode& root, IStream* stream);
