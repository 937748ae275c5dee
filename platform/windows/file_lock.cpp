#include "platform/file_lock.h"

#include <chrono>
#include <thread>

#include "platform/windows/owner_only.h"
#include "platform/windows/wide.h"

CFileLock::~CFileLock() { Release(); }

void CFileLock::Release()
{
    if (m_hFile != nullptr) ::CloseHandle(m_hFile);  // closing lets go of the lock
    m_hFile = nullptr;
}

ELockResult CFileLock::Acquire(const std::string& path, int timeoutMs, std::string& reason)
{
    if (m_hFile != nullptr) return ELockResult::Held;
    const std::string lockPath = path + ".lock";
    COwnerOnly owner;
    const HANDLE file = ::CreateFileW(WidePath(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, owner.Get(), OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "its lock file " + lockPath + " cannot be made (error " + std::to_string(::GetLastError()) + ")";
        return ELockResult::Unusable;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        OVERLAPPED start{};
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
            m_hFile = file;
            return ELockResult::Held;
        }
        const DWORD code = ::GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            reason = "its lock file " + lockPath + " cannot be locked (error " + std::to_string(code) + ")";
            ::CloseHandle(file);
            return ELockResult::Unusable;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::CloseHandle(file);
            return ELockResult::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
