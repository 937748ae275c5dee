// Per-user folders and private files.
//
// Every folder here belongs to the user running the process: the home folder
// is $HOME when it names an absolute path, else the password database's
// entry for the user (never a shared folder such as /tmp). A product folder
// that exists already is only used when it is a real folder owned by this
// user and not writable by group or others; anything else is refused, with
// one line on standard error naming the folder and why.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// The user's home folder: $HOME when absolute, else the password database's
// entry. Empty when neither names one.
std::string UserHomeFolder();
// The local user's name: $USER, else the account's name; "" when neither
// is known. The machine's host name, and the user's numeric id as text.
std::string LocalUserName();
std::string LocalHostName();
std::string LocalUserId();

// The user's state folder for this product, created (owner-only) when
// missing: $XDG_STATE_HOME/ferrodex, else ~/.local/state/ferrodex. Empty
// when it cannot be made or is refused.
std::string UserStateFolder();

// The user's data folder for this product, created (owner-only) when
// missing: $XDG_DATA_HOME/ferrodex, else ~/.local/share/ferrodex. Empty when
// it cannot be made or is refused.
std::string UserDataFolder();

// Makes `folder` (and any missing folder above it) with mode 700 and checks
// that it is private: a folder owned by this user, not writable by group or
// others (read access for others is taken away). On refusal `why` says what is wrong.
bool EnsurePrivateFolder(const std::string& folder, std::string& why);
// The same, telling standard error once per folder and process when the
// folder is refused.
bool EnsurePrivateFolderOrSay(const std::string& folder);

// Creates the file if needed and empties it, readable and writable by its
// owner only (an existing file's permissions are narrowed as well).
bool PrepareOwnerOnlyFile(const std::string& path);
// Creates the file if needed, keeping what it holds, and narrows it to its
// owner; false when it is no regular file of this user or cannot be made.
bool CreateOwnerOnlyFile(const std::string& path);

// Why this user could not change or create the file `path` (or a file
// beside it, as a database journal): "the folder F is not writable" or "the
// file is read-only"; empty when nothing stands in the way.
std::string WhyNotWritable(const std::string& path);

// Which file a path named when it was looked at.
struct SFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const SFileIdentity&) const = default;
};

enum class EOwnFileCheck { Ok, Missing, Refused };
// Whether `path` is a file only this user could have written: opened for
// reading without following a symbolic link and without blocking (a FIFO or
// a device is opened, never read, and refused), then checked on the open
// descriptor: a regular file, owned by this user, writable by neither group
// nor others. `identity` gets the file that was checked; on refusal `why`
// says what is wrong, as words that follow the path ("is a FIFO, ...").
EOwnFileCheck CheckOwnFile(const std::string& path, SFileIdentity& identity, std::string& why);
// The file `path` names now, its last component not followed when it is a
// link; false when there is none.
bool IdentityOfPath(const std::string& path, SFileIdentity& identity);
// The absolute path of `path` with its folder's links, "." and ".."
// resolved (the last component kept as it is, so that a file not yet made
// has one too); empty when its folder does not exist.
std::string CanonicalPath(const std::string& path);
// Why files in `folder` may not be this user's alone: others may create
// files in it (a sticky bit keeps them from replacing files, not from
// planting a file before it is made), or it belongs to another user than
// this one or root. Empty when neither, or when it cannot be looked at.
std::string SharedFolderRisk(const std::string& folder);

// Opens `path` for writing, emptied, owner-only before the first byte and
// never through a symbolic link. Null when it cannot be opened.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
FilePtr OpenOwnerOnlyFile(const std::string& path);
