#include "console/recovery_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "console/console_file.h"
#include "console/host_core.h"

namespace {

constexpr std::string_view kBaseMark = "ferrodex-recovery-base 1";
// The mark, six numbers of at most 20 digits with their spaces, the line end.
constexpr std::size_t kMaxBaseLine = kBaseMark.size() + 6 * 21 + 1;

// Takes one " NUMBER" from the front of `text`.
template <typename T>
bool TakeNumber(std::string_view& text, T& value)
{
    if (text.size() < 2 || text.front() != ' ') return false;
    text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

}  // namespace

std::string RecoveryFileOf(const std::string& consoleFile) { return ResolveFileLinks(consoleFile) + ".recovery"; }

std::string RecoveryBaseLine(const FileStamp& base)
{
    return std::string(kBaseMark) + " " + (base.exists ? "1" : "0") + " " + std::to_string(base.device) + " " +
           std::to_string(base.inode) + " " + std::to_string(base.size) + " " + std::to_string(base.modifiedNs) + "\n";
}

bool TakeRecoveryBaseLine(std::vector<std::uint8_t>& bytes, FileStamp& base)
{
    const auto searched = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), kMaxBaseLine));
    const auto newline = std::find(bytes.begin(), searched, std::uint8_t{'\n'});
    if (newline == searched) return false;
    std::string_view line(reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(newline - bytes.begin()));
    if (!line.starts_with(kBaseMark)) return false;
    line.remove_prefix(kBaseMark.size());
    FileStamp read;
    int exists = 0;
    if (!TakeNumber(line, exists) || exists < 0 || exists > 1 || !TakeNumber(line, read.device) ||
        !TakeNumber(line, read.inode) || !TakeNumber(line, read.size) || !TakeNumber(line, read.modifiedNs) ||
        !line.empty())
        return false;
    read.exists = exists == 1;
    base = read;
    bytes.erase(bytes.begin(), newline + 1);
    return true;
}

bool WriteRecoveryFile(CConsoleHost& host, const FileStamp& base, std::string& error)
{
    if (host.FilePath().empty()) {
        error = "the console has no file";
        return false;
    }
    std::vector<std::uint8_t> image;
    if (HostStatus status = host.SaveImage(image); !status) {
        error = status.message;
        return false;
    }
    const std::string line = RecoveryBaseLine(base);
    std::vector<std::uint8_t> bytes(line.begin(), line.end());
    bytes.insert(bytes.end(), image.begin(), image.end());
    std::fill(image.begin(), image.end(), std::uint8_t{0});
    const std::string path = RecoveryFileOf(host.FilePath());
    // A new file is owner-only; one that is there might not be.
    RemoveRecoveryFile(host.FilePath());
    std::string reason;
    const bool written = WriteFileAtomically(path, bytes, reason);
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
    if (!written) {
        error = "cannot write " + path + ": " + reason;
        return false;
    }
    return true;
}

bool ReadRecoveryFile(const std::string& consoleFile, std::vector<std::uint8_t>& bytes,
                      std::optional<FileStamp>& base, std::string& error)
{
    error.clear();
    base.reset();
    const std::string path = RecoveryFileOf(consoleFile);
    std::string reason;
    switch (ReadFileLimited(path, kMaxConsoleFile + kMaxBaseLine, bytes, reason)) {
    case FileReadResult::Ok: {
        FileStamp stamp;
        if (TakeRecoveryBaseLine(bytes, stamp)) base = stamp;
        return true;
    }
    case FileReadResult::Missing: return false;
    case FileReadResult::TooLarge:
    case FileReadResult::Failed: break;
    }
    error = "the recovery file " + path + " cannot be read: " + reason;
    return false;
}

void RemoveRecoveryFile(const std::string& consoleFile) { std::remove(RecoveryFileOf(consoleFile).c_str()); }
