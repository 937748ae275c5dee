// The console file: a small versioned container of snap-in instances, each
// a class identifier and the bytes of its saved stream.
//
//   magic      8 bytes  89 'F' 'D' 'X' 'C' 'O' 'N' 0A
//   version    u32      1 or 2
//   identity   (version 2 only) 32 bytes: the console's identity, lowercase
//                       hex; u32 length and UTF-8 bytes of the absolute path
//                       the file was saved to (at most kMaxSavedPath)
//   count      u32      instances that follow (at most kMaxInstances)
//   instance   16 bytes class identifier (Data1, Data2, Data3 little-endian,
//                       then Data4), u32 stream length, stream bytes
//   checksum   u32      CRC-32 of every byte before it
//
// All integers are little-endian. Nothing may follow the checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/com.h"

struct ConsoleFileInstance {
    CLSID clsid = GUID_NULL;
    std::vector<std::uint8_t> stream;
};

// The newest format, written whenever the console has an identity; version
// 1 (no identity) is still read, and written for images tied to no file.
constexpr std::uint32_t kConsoleFileVersion = 2;
constexpr std::size_t kMaxSavedPath = 4096;

// Who the console is: a random identity made at its first save (the scan
// history keys its scans by it), and where it was saved, which tells a
// copy of the file from the file itself.
struct ConsoleFileIdentity {
    std::string id;       // 32 hex digits; empty in a version 1 file
    std::string savedAt;  // absolute path
};
constexpr std::size_t kMaxInstances = 64;
// One snap-in's stream, and the whole file. The inventory packs each host's
// hardware (about 12 KB for a server whose lshw prints 161 KB) and takes at
// most 8 MiB for one new picture: 5,000 such servers take about 60 MB, so
// such a fleet fits eight times over (docs/console-file.md).
constexpr std::size_t kMaxInstanceStream = 512u << 20;
constexpr std::size_t kMaxConsoleFile = 576u << 20;

enum class ConsoleFileError {
    None,
    Foreign,  // not a console file of this program
    Newer,    // a later format version
    Damaged,  // truncated, inconsistent, or a checksum mismatch
};

struct ConsoleFileParse {
    ConsoleFileError error = ConsoleFileError::None;
    std::string reason;  // what exactly is wrong, for the message
};

// Parses console file bytes. On any error `instances` is left empty.
// `identity`, when given, is filled from a version 2 file and cleared for
// version 1.
ConsoleFileParse ParseConsoleFile(std::span<const std::uint8_t> bytes, std::vector<ConsoleFileInstance>& instances,
                                  ConsoleFileIdentity* identity = nullptr);
// Version 2 with the identity when it has one, else version 1.
std::vector<std::uint8_t> FormatConsoleFile(const std::vector<ConsoleFileInstance>& instances,
                                            const ConsoleFileIdentity& identity = {});

// Reads and parses a console file. `missing` tells a file that does not
// exist apart from one that cannot be used; `error` is a message for the
// user naming the file.
bool ReadConsoleFile(const std::string& path, std::vector<ConsoleFileInstance>& instances, bool& missing,
                     std::string& error, ConsoleFileIdentity* identity = nullptr);
// Writes a console file atomically with owner-only permissions.
bool WriteConsoleFile(const std::string& path, const std::vector<ConsoleFileInstance>& instances,
                      std::string& error, const ConsoleFileIdentity& identity = {});
