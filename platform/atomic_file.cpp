#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

}  // namespace

FileReadResult ReadFileLimited(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out,
                               std::string& error)
{
    out.clear();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error)
{
    const std::string folder = FolderOf(path);
    std::string pattern = path + ".tmp-XXXXXX";
    const int raw = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (raw < 0) {
        error = Reason(("cannot create a file in " + folder).c_str(), errno);
        return false;
    }
    FileDescriptor fd(raw);
    TemporaryFile temporary(pattern);
    if (::fchmod(fd.get(), 0600) != 0) {
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
    if (!fd.Close()) {
        error = Reason("cannot close", errno);
        return false;
    }
    if (AtomicWriteHook hook = g_hook.load()) hook(temporary.path());
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
        error = Reason("cannot replace the file", errno);
        return false;
    }
    temporary.Keep();
    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

bool MakePrivateFolder(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!std::filesystem::is_directory(path, ec)) return false;
    return ::chmod(path.c_str(), 0700) == 0;
}

AtomicWriteHook SetAtomicWriteHook(AtomicWriteHook hook) { return g_hook.exchange(hook); }
