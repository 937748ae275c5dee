#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

CFileLock::~CFileLock() { Release(); }

void CFileLock::Release()
{
    if (m_fd >= 0) ::close(m_fd);  // closing lets go of the lock
    m_fd = -1;
}

ELockResult CFileLock::Acquire(const std::string& path, int timeoutMs, std::string& reason)
{
    if (m_fd >= 0) return ELockResult::Held;
    const std::string lockPath = path + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int code = errno;
        reason = "its lock file " + lockPath + " cannot be made: " + std::strerror(code);
        if (code == ENOENT) {
            const std::size_t slash = lockPath.rfind('/');
            reason += " (the folder " + (slash == std::string::npos ? std::string(".") : lockPath.substr(0, slash)) +
                      " does not exist)";
        }
        return ELockResult::Unusable;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return ELockResult::Held;
        }
        const int code = errno;
        if (code != EWOULDBLOCK && code != EINTR) {
            reason = "its lock file " + lockPath + " cannot be locked: " + std::strerror(code);
            ::close(fd);
            return ELockResult::Unusable;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return ELockResult::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
