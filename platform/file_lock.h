// An advisory lock that serialises the processes working on one file: it is
// held on a lock file beside it ("<file>.lock", owner-only) for as long as
// the object lives.
#pragma once

#include <string>

class CFileLock {
public:
    CFileLock() = default;
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Takes the exclusive lock for `path`, waiting at most `timeoutMs`
    // milliseconds for another holder to let go. False on timeout or when
    // the lock file cannot be made.
    bool Acquire(const std::string& path, int timeoutMs);
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
