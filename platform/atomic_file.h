// Whole-file reads with a size limit, and atomic owner-only file writes: the
// new contents go to a temporary file in the same folder, are flushed to
// disk and then renamed over the old file, so that a failure at any point
// leaves the previous file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class FileReadResult {
    Ok,
    Missing,   // no such file
    TooLarge,  // larger than the limit
    Failed,    // any other error (not a regular file, permissions, I/O)
};

// Reads a regular file of at most `limit` bytes; `error` gets the reason.
FileReadResult ReadFileLimited(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out,
                               std::string& error);

// Replaces `path` with `bytes` (mode 0600). False with a reason on failure;
// the previous file is then untouched and no temporary file is left.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);

// Creates a folder (and its parents) if missing and makes it owner-only.
bool MakePrivateFolder(const std::string& path);

// Tests only: called after the temporary file is written and flushed, just
// before the rename. Returns the previous hook.
using AtomicWriteHook = void (*)(const std::string& temporaryPath);
AtomicWriteHook SetAtomicWriteHook(AtomicWriteHook hook);
