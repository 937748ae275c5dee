#include "platform/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// $variable/ferrodex, else ~/fallback/ferrodex, created owner-only.
std::string ProductFolder(const char* variable, const char* fallback)
{
    std::string base;
    const char* value = std::getenv(variable);
    if (value && *value == '/') {
        base = value;
    } else {
        const std::string home = UserHomeFolder();
        if (home.empty()) return {};
        base = home + fallback;
    }
    const std::string folder = base + "/ferrodex";
    return EnsurePrivateFolderOrSay(folder) ? folder : std::string();
}

// Makes every missing folder on the way to `folder`, each with mode 700.
bool MakeFolders(const std::string& folder)
{
    std::vector<std::string> missing;
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    for (;;) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) break;
        if (errno != ENOENT) return false;
        missing.push_back(path);
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        path.resize(slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return false;
    return true;
}

}  // namespace

std::string UserHomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') return home;
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < 65536 ? static_cast<std::size_t>(size) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
    if (found->pw_dir == nullptr || found->pw_dir[0] != '/') return {};
    return found->pw_dir;
}

std::string LocalUserName()
{
    const char* user = std::getenv("USER");
    if (user != nullptr && *user != '\0') return user;
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < 65536 ? static_cast<std::size_t>(size) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_name == nullptr)
        return {};
    return found->pw_name;
}

std::string LocalHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string LocalUserId() { return std::to_string(::geteuid()); }

std::string UserStateFolder() { return ProductFolder("XDG_STATE_HOME", "/.local/state"); }

std::string UserDataFolder() { return ProductFolder("XDG_DATA_HOME", "/.local/share"); }

bool EnsurePrivateFolder(const std::string& folder, std::string& why)
{
    why.clear();
    if (folder.empty() || folder[0] != '/') {
        why = "it is not an absolute path";
        return false;
    }
    if (!MakeFolders(folder)) {
        why = std::string("it cannot be made: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    // A symbolic link is judged by the folder it leads to: that folder's
    // owner and mode decide who could change what is in it.
    if (::stat(folder.c_str(), &info) != 0) {
        why = std::string("it cannot be examined: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        why = "it is not a folder";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        why = "it belongs to user id " + std::to_string(info.st_uid) + ", not to this user (" +
              std::to_string(::geteuid()) + ")";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = "group or others may write to it";
        return false;
    }
    // Readable by others is narrowed rather than refused: nobody else could
    // have changed what is in it.
    if ((info.st_mode & 0077) != 0) ::chmod(folder.c_str(), 0700);
    return true;
}

bool CreateOwnerOnlyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    struct stat info {};
    const bool ok =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

std::string WhyNotWritable(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        char here[4096];
        const bool named = folder != "." || ::getcwd(here, sizeof here) == nullptr;
        return "the folder " + (named ? folder : std::string(here)) + " is not writable";
    }
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) return "the file is read-only";
    return {};
}

EOwnFileCheck CheckOwnFile(const std::string& path, SFileIdentity& identity, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT) return EOwnFileCheck::Missing;
        why = code == ELOOP ? "is a symbolic link" : std::string("cannot be opened: ") + std::strerror(code);
        return EOwnFileCheck::Refused;
    }
    struct stat info {};
    const bool described = ::fstat(fd, &info) == 0;
    const int code = errno;
    ::close(fd);
    if (!described) {
        why = std::string("cannot be read: ") + std::strerror(code);
        return EOwnFileCheck::Refused;
    }
    if (!S_ISREG(info.st_mode)) {
        why = S_ISFIFO(info.st_mode)  ? "is a FIFO, not a regular file"
              : S_ISDIR(info.st_mode) ? "is a folder, not a regular file"
                                      : "is not a regular file";
        return EOwnFileCheck::Refused;
    }
    if (info.st_uid != ::geteuid()) {
        why = "belongs to another user (uid " + std::to_string(info.st_uid) + ")";
        return EOwnFileCheck::Refused;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = "may be written by others";
        return EOwnFileCheck::Refused;
    }
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    return EOwnFileCheck::Ok;
}

bool IdentityOfPath(const std::string& path, SFileIdentity& identity)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

std::string CanonicalPath(const std::string& path)
{
    if (path.empty()) return {};
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
    if (!resolved) return {};
    std::string full(resolved.get());
    if (name.empty() || name == "." || name == "..") {
        // A folder: resolved whole.
        std::unique_ptr<char, decltype(&std::free)> whole(::realpath(path.c_str(), nullptr), &std::free);
        return whole ? std::string(whole.get()) : std::string();
    }
    if (full != "/") full += '/';
    return full + name;
}

std::string SharedFolderRisk(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    if ((info.st_mode & S_IWOTH) != 0) return "anyone may create files in it";
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return "it belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    return {};
}

FilePtr OpenOwnerOnlyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || ::fchmod(fd, 0600) != 0 ||
        ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return FilePtr(file);
}
