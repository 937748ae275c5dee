// Guards a console file against lost updates between processes: it notes
// the file as it was when read, takes the file's lock to save, and tells
// whether anyone saved the file in between. Both faces save through it, so
// that neither ever writes over another ferrodex's changes unasked.
#pragma once

#include <string>

#include "platform/atomic_file.h"
#include "platform/file_lock.h"

class CConsoleFileGuard {
public:
    // Notes `path` as it is now; call it before the file is read, so that a
    // save by another process after this moment shows as a change.
    void NoteRead(const std::string& path);
    // Takes the file's lock (on the file its links name), waiting at most
    // `timeoutMs`; on failure `message` names the file and the reason.
    bool Lock(int timeoutMs, std::string& message);
    bool Held() const { return m_lock.Held(); }
    void Release() { m_lock.Release(); }
    // Another process saved (or created, or removed) the file since it was
    // noted.
    bool ChangedSinceRead() const;
    // The file as it is now becomes the version changes are based on (it
    // is about to be read again, under the lock).
    void NoteReread();
    // This process saved the file: the saved version is the one now known.
    void NoteSaved();
    // The version of the file this process's changes are based on (as noted
    // or saved); and taking one noted by an earlier process, whose changes
    // are recovered here, so that a save asks when the file changed since.
    const FileStamp& BaseStamp() const { return m_stamp; }
    void NoteBase(const FileStamp& stamp) { m_stamp = stamp; }
    // The file existed when it was noted.
    bool Existed() const { return m_stamp.exists; }
    const std::string& Path() const { return m_path; }
    // Empty, or a warning that the folder of the file (where its history
    // and lock are kept as well) is open to other users.
    const std::string& FolderWarning() const { return m_folderWarning; }

private:
    std::string m_path;
    std::string m_lockPath;  // the lock sits beside the file a link names
    std::string m_folderWarning;
    FileStamp m_stamp;
    CFileLock m_lock;
};
