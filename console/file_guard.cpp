#include "console/file_guard.h"

void CConsoleFileGuard::NoteRead(const std::string& path)
{
    m_path = path;
    m_lockPath = ResolveFileLinks(path);
    m_stamp = StampOfFile(path);
}

bool CConsoleFileGuard::Lock(int timeoutMs, std::string& message)
{
    std::string reason;
    switch (m_lock.Acquire(m_lockPath, timeoutMs, reason)) {
    case ELockResult::Held:
        return true;
    case ELockResult::Busy:
        message = "console file " + m_path + " is in use by another ferrodex";
        return false;
    case ELockResult::Unusable:
        break;
    }
    message = "console file " + m_path + " cannot be locked for a change: " + reason;
    return false;
}

bool CConsoleFileGuard::ChangedSinceRead() const { return StampOfFile(m_path) != m_stamp; }

void CConsoleFileGuard::NoteSaved() { m_stamp = StampOfFile(m_path); }
