#include "console/file_guard.h"

#include "platform/paths.h"

void CConsoleFileGuard::NoteRead(const std::string& path)
{
    m_path = path;
    m_lockPath = ResolveFileLinks(path);
    m_stamp = StampOfFile(path);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string risk = SharedFolderRisk(folder);
    m_folderWarning.clear();
    if (!risk.empty())
        m_folderWarning = "console file " + path + " is in " + folder + ", where " + risk +
                          ": another user could plant or read what ferrodex keeps beside it";
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

void CConsoleFileGuard::NoteReread() { m_stamp = StampOfFile(m_path); }

void CConsoleFileGuard::NoteSaved() { m_stamp = StampOfFile(m_path); }
