#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <memory>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::atomic<AtomicWriteHook> g_hook{nullptr};

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    bool Close()
    {
        if (m_fd < 0) return true;
        const bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

// Removes the temporary file unless told that it has been renamed.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return m_path; }
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

std::string Reason(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Temporary files are named "<file>.tmp-" and six letters or digits.
constexpr const char* kTemporaryInfix = ".tmp-";
constexpr std::size_t kSuffixLength = 6;
constexpr char kSuffixAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// A temporary file this old whose writer holds no lock on it was left by a
// save that was killed.
constexpr auto kStaleAfter = std::chrono::seconds(60);

bool IsSuffixCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::string RandomSuffix()
{
    std::uint8_t random[kSuffixLength] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // Exclusive creation still keeps names apart; only guessing gets easier.
        const auto tick = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (std::size_t i = 0; i < kSuffixLength; ++i) random[i] ^= static_cast<std::uint8_t>(tick >> (8 * i));
    }
    std::string suffix;
    for (std::uint8_t byte : random) suffix.push_back(kSuffixAlphabet[byte % (sizeof kSuffixAlphabet - 1)]);
    return suffix;
}

}  // namespace

FileReadResult ReadFileLimited(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out,
                               std::string& error)
{
    out.clear();
    // Never blocks in open: a FIFO or a device is opened, seen by fstat and
    // refused before anything is read from it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int code = errno;
        error = Reason("cannot open", code);
        return code == ENOENT ? FileReadResult::Missing : FileReadResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = Reason("cannot read", errno);
        return FileReadResult::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return FileReadResult::Failed;
    }
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        return FileReadResult::TooLarge;
    }
    // Read up to one byte past the limit, so that a file growing under us is
    // still caught.
    out.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done == out.size()) {
            if (out.size() > limit) break;
            out.resize(out.size() + 1);
        }
        const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = Reason("cannot read", errno);
            out.clear();
            return FileReadResult::Failed;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    if (done > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        out.clear();
        return FileReadResult::TooLarge;
    }
    return FileReadResult::Ok;
}

std::string ResolveFileLinks(const std::string& path)
{
    std::string current = path;
    // As many hops as the system itself follows before it gives up.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return current;
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
    }
    return current;
}

bool WriteFileAtomically(const std::string& requested, std::span<const std::uint8_t> bytes, std::string& error)
{
    // A link stays a link: the file it names is the one replaced, in its own
    // folder.
    const std::string path = ResolveFileLinks(requested);
    const std::string folder = FolderOf(path);
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists) {
        if (!S_ISREG(existing.st_mode)) {
            error = "it is not a regular file";
            return false;
        }
        // No write permission for anyone, or none for this user: the owner
        // made the file read-only and it is not replaced behind their back.
        if ((existing.st_mode & 0222) == 0 || (::access(path.c_str(), W_OK) != 0 && errno == EACCES)) {
            error = "it is read-only";
            return false;
        }
    }
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0600;

    std::string temporaryPath;
    int raw = -1;
    for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
        temporaryPath = path + kTemporaryInfix + RandomSuffix();
        raw = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (raw < 0 && errno != EEXIST) break;
    }
    if (raw < 0) {
        error = Reason(("cannot create a file in " + folder).c_str(), errno);
        return false;
    }
    FileDescriptor fd(raw);
    TemporaryFile temporary(temporaryPath);
    // Held until the rename: a save that finds this file while it is being
    // written leaves it alone.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // The file keeps its owner and group (root saving a user's file
        // leaves it the user's); a user who may not give files away keeps
        // at least the group when allowed.
        if (::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0)
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), existing.st_gid);
    }
    if (::fchmod(fd.get(), mode) != 0) {
        error = Reason("cannot set permissions", errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = Reason("cannot write", errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        error = Reason("cannot flush", errno);
        return false;
    }
    if (AtomicWriteHook hook = g_hook.load()) hook(temporary.path());
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
        error = Reason("cannot replace the file", errno);
        return false;
    }
    temporary.Keep();
    fd.Close();  // its bytes are on disk already
    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    RemoveStaleTemporaryFiles(path);
    return true;
}

void RemoveStaleTemporaryFiles(const std::string& path)
{
    const std::string folder = FolderOf(path);
    const std::size_t slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + kTemporaryInfix;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    const auto now = std::chrono::system_clock::now();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), IsSuffixCharacter))
            continue;
        const std::string candidate = folder + "/" + name;
        FileDescriptor fd(::open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) continue;
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) continue;
        const auto modified = std::chrono::system_clock::time_point(std::chrono::seconds(info.st_mtim.tv_sec));
        if (now - modified < kStaleAfter) continue;
        // A save in progress holds its file locked.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat named {};
        if (::lstat(candidate.c_str(), &named) == 0 && named.st_ino == info.st_ino && named.st_dev == info.st_dev)
            ::unlink(candidate.c_str());
    }
}

FileStamp StampOfFile(const std::string& path)
{
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = static_cast<std::uint64_t>(info.st_dev);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

bool MakePrivateFolder(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!std::filesystem::is_directory(path, ec)) return false;
    return ::chmod(path.c_str(), 0700) == 0;
}

AtomicWriteHook SetAtomicWriteHook(AtomicWriteHook hook) { return g_hook.exchange(hook); }
