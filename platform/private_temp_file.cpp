#include "platform/private_temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

std::string Reason(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

std::string TemporaryRoot()
{
    const char* root = std::getenv("TMPDIR");
    if (root != nullptr && root[0] == '/') return root;
    return "/tmp";
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

constexpr char kFolderPrefix[] = "ferrodex-";
constexpr std::size_t kFolderSuffix = 6;  // mkdtemp's XXXXXX

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Removes a folder of ours that a killed process left: the regular files
// in it, then the folder. Anything else in it (a link, a folder) keeps it.
void RemoveLeftFolder(int rootFd, const char* name)
{
    const int fd = ::openat(rootFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        struct stat info {};
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid())
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::unlinkat(rootFd, name, AT_REMOVEDIR);
}

}  // namespace

void RemoveLeftPrivateTempFolders(std::int64_t olderThanSeconds)
{
    const std::string root = TemporaryRoot();
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(rootFd));
    if (!dir) {
        ::close(rootFd);
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> left;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(kFolderPrefix) || name.size() != sizeof kFolderPrefix - 1 + kFolderSuffix) continue;
        struct stat info {};
        if (::fstatat(rootFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid() || (info.st_mode & 077) != 0 || now - info.st_mtime < olderThanSeconds)
            continue;
        left.emplace_back(name);
    }
    for (const std::string& name : left) RemoveLeftFolder(rootFd, name.c_str());
}

CPrivateTempFile::~CPrivateTempFile() { Remove(); }

void CPrivateTempFile::Remove()
{
    if (!m_strPath.empty()) ::unlink(m_strPath.c_str());
    if (!m_strFolder.empty()) ::rmdir(m_strFolder.c_str());
    m_strPath.clear();
    m_strFolder.clear();
}

bool CPrivateTempFile::Create(std::string_view name, std::span<const std::uint8_t> bytes, std::string& error)
{
    Remove();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        error = "not a file name: " + std::string(name);
        return false;
    }
    // Copies a killed process could not remove go with the next one.
    RemoveLeftPrivateTempFolders(kLeftFolderSeconds);
    std::string pattern = TemporaryRoot() + "/" + kFolderPrefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {  // mode 0700
        error = Reason("cannot make a private temporary folder", errno);
        return false;
    }
    m_strFolder = buffer.data();
    const std::string path = m_strFolder + "/" + std::string(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Reason("cannot create a private temporary file", errno);
        Remove();
        return false;
    }
    m_strPath = path;
    const bool written = WriteAll(fd, bytes);
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        error = Reason("cannot write a private temporary file", written ? errno : writeError);
        Remove();
        return false;
    }
    return true;
}
