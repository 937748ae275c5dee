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

// Replaces `path` with `bytes`. A symbolic link is followed and the file it
// names is replaced in that file's folder; an existing file keeps its owner,
// group and mode (a new one is owner-only), and one without write permission
// is refused ("it is read-only"). The temporary file ("<file>.tmp-XXXXXX",
// created exclusively, owner-only) is flushed and renamed over the file.
// False with a reason on failure; the previous file is then untouched and no
// temporary file is left. After a save, temporary files of the same file
// left by killed saves are removed.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);

// The file a path names once its symbolic links are followed (the path
// itself when it is no link, or a link that cannot be read).
std::string ResolveFileLinks(const std::string& path);

// Removes "<path>.tmp-XXXXXX" files of this user older than a minute that
// no save holds open.
void RemoveStaleTemporaryFiles(const std::string& path);

// What tells one version of a file from another: every atomic save makes a
// new file, so a save by anyone changes the stamp.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file a path names (links followed); `exists` is false
// when there is none.
FileStamp StampOfFile(const std::string& path);

// Creates a folder (and its parents) if missing and makes it owner-only.
bool MakePrivateFolder(const std::string& path);

// Tests only: called after the temporary file is written and flushed, just
// before the rename. Returns the previous hook.
using AtomicWriteHook = void (*)(const std::string& temporaryPath);
AtomicWriteHook SetAtomicWriteHook(AtomicWriteHook hook);
