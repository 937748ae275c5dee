// A temporary copy of some bytes that only this user can reach: a file
// created exclusively (mode 0600) in a new folder of its own (mode 0700)
// under $TMPDIR or /tmp. Both go when the object goes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// A process killed while it held a copy cannot remove it; the next copy
// made removes this user's folders of that kind older than this (a copy
// lives as long as one upload).
inline constexpr std::int64_t kLeftFolderSeconds = 2 * 60 * 60;
// Removes this user's private temporary folders (and the files in them)
// last changed more than `olderThanSeconds` ago.
void RemoveLeftPrivateTempFolders(std::int64_t olderThanSeconds);

class CPrivateTempFile {
public:
    CPrivateTempFile() = default;
    ~CPrivateTempFile();
    CPrivateTempFile(const CPrivateTempFile&) = delete;
    CPrivateTempFile& operator=(const CPrivateTempFile&) = delete;

    // Writes `bytes` to a new file named `name` (one path component) in a new
    // private folder. False with a reason on failure; nothing is left then.
    bool Create(std::string_view name, std::span<const std::uint8_t> bytes, std::string& error);
    // The file's path; empty before Create succeeds.
    const std::string& Path() const { return m_strPath; }

private:
    void Remove();

    std::string m_strFolder;
    std::string m_strPath;
};
