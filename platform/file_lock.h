// An advisory lock that serialises the processes working on one file: it is
// held on a lock file beside it ("<file>.lock", owner-only) for as long as
// the object lives.
#pragma once

#include <string>

enum class ELockResult {
    Held,      // the lock is ours
    Busy,      // another process held it until the deadline
    Unusable,  // the lock file cannot be made or locked (see the reason)
};

class CFileLock {
public:
    CFileLock() = default;
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Takes the exclusive lock for `path`, waiting at most `timeoutMs`
    // milliseconds for another holder to let go. On Unusable, `reason` says
    // why the lock file could not be used (the system's words, and the
    // folder when it is missing).
    ELockResult Acquire(const std::string& path, int timeoutMs, std::string& reason);
#ifdef _WIN32
    bool Held() const { return m_hFile != nullptr; }
#else
    bool Held() const { return m_fd >= 0; }
#endif
    void Release();

private:
#ifdef _WIN32
    void* m_hFile = nullptr;  // the lock file, opened and locked
#else
    int m_fd = -1;
#endif
};
