// What the inventory accepts from the user for a node: names that fit the
// node's name and keep node paths and terminals intact, and SSH ports.
// Each check gives the message that says why a value is refused (the text a
// dialog shows), or an empty text when the value is accepted.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "inventory/import/host_record.h"

// The most characters of a group or host name (UTF-16 units): the node's
// name buffer holds 256, the group dialog has always stopped at 255.
inline constexpr std::size_t kMaxNodeName = 255;

// A group or host name: not empty and not only spaces (of any width), at
// most kMaxNodeName characters, no "/" (it separates the names of a node
// path) and no control character (C0, DEL or C1: a terminal would act on
// them). Every face that names or renames a node asks this one check.
std::u16string CheckNodeName(std::u16string_view name);

// True for a name that is empty or holds only spaces (of any width).
bool IsBlankName(std::u16string_view name);

// A port text: decimal digits only (leading zeros allowed, as "0022" for
// 22) naming a port from 1 to 65535; on success `port` holds it, otherwise
// it is left alone.
std::u16string CheckPort(std::u16string_view text, int& port);

// The most bytes of a key file's path (UTF-8), as the console file keeps it.
inline constexpr std::size_t kMaxKeyFilePath = 1024;

// A private key file's path: at most kMaxKeyFilePath bytes as UTF-8 and no
// control character. An empty path (no key file) is accepted.
std::u16string CheckKeyFilePath(std::u16string_view path);
// Key files as typed: one path, or several separated by ";" (blanks around
// each dropped), offered in that order. Each is checked as above; on
// success `stored` holds them as the host record keeps them (one path per
// line, empty for none), otherwise it is left alone.
std::u16string CheckKeyFiles(std::u16string_view text, std::u16string& stored);
// Stored key files as a field shows them: separated by "; ".
std::u16string KeyFilesShown(std::u16string_view stored);
// The jump hosts of a host ("[user@]host[:port]", two separated by a
// comma); on success `route` holds the text as the host record keeps it
// (empty for none), otherwise it is left alone.
std::u16string CheckJumpRoute(std::u16string_view text, std::u16string& route);
