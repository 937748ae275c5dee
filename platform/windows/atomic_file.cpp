// Whole-file reads and atomic replacements through the system's file calls.
#include "platform/atomic_file.h"

#include "platform/paths.h"
#include "platform/windows/owner_only.h"
#include "platform/windows/random_name.h"
#include "platform/windows/wide.h"

namespace {

AtomicWriteHook g_hook = nullptr;

std::string Failure(const std::string& what) { return what + " (error " + std::to_string(::GetLastError()) + ")"; }

// Closes a file handle when it goes out of scope.
class CHandle {
public:
    explicit CHandle(HANDLE handle) : m_handle(handle) {}
    ~CHandle()
    {
        if (Valid()) ::CloseHandle(m_handle);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

std::uint64_t FileTimeValue(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        DWORD done = 0;
        const DWORD chunk = bytes.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(bytes.size());
        if (!::WriteFile(file, bytes.data(), chunk, &done, nullptr) || done == 0) return false;
        bytes = bytes.subspan(done);
    }
    return true;
}

}  // namespace

FileReadResult ReadFileLimited(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out,
                               std::string& error)
{
    out.clear();
    CHandle file(::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FileReadResult::Missing;
        error = Failure(path + " cannot be opened");
        return FileReadResult::Failed;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.Get(), &size)) {
        error = path + " is not a regular file";
        return FileReadResult::Failed;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        error = path + " is larger than " + std::to_string(limit) + " bytes";
        return FileReadResult::TooLarge;
    }
    out.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < out.size()) {
        DWORD done = 0;
        if (!::ReadFile(file.Get(), out.data() + got, static_cast<DWORD>(out.size() - got), &done, nullptr)) {
            error = Failure(path + " cannot be read");
            out.clear();
            return FileReadResult::Failed;
        }
        if (done == 0) break;
        got += done;
    }
    out.resize(got);
    return FileReadResult::Ok;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error)
{
    const std::wstring target = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        error = path + " cannot be saved: it is read-only";
        return false;
    }
    COwnerOnly owner;
    std::string temporary;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = path + ".tmp-" + RandomNameSuffix();
        raw = ::CreateFileW(WidePath(temporary).c_str(), GENERIC_WRITE, 0, owner.Get(), CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (raw == INVALID_HANDLE_VALUE) {
        error = Failure(path + " cannot be saved: no temporary file");
        return false;
    }
    bool ok = false;
    {
        CHandle file(raw);
        ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
        if (!ok) error = Failure(path + " cannot be saved: writing failed");
    }
    if (ok && g_hook != nullptr) g_hook(temporary);
    if (ok && !::MoveFileExW(WidePath(temporary).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Failure(path + " cannot be saved: it cannot be replaced");
        ok = false;
    }
    if (!ok) ::DeleteFileW(WidePath(temporary).c_str());
    else RemoveStaleTemporaryFiles(path);
    return ok;
}

std::string ResolveFileLinks(const std::string& path) { return path; }

void RemoveStaleTemporaryFiles(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW(WidePath(path + ".tmp-*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kMinute = 60ULL * 10000000ULL;
    do {
        if (FileTimeValue(now) - FileTimeValue(data.ftLastWriteTime) < kMinute) continue;
        // A file some save still holds open cannot be deleted: it stays.
        ::DeleteFileW(WidePath(folder + PathFromWide(data.cFileName)).c_str());
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
}

FileStamp StampOfFile(const std::string& path)
{
    FileStamp stamp;
    CHandle file(::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) return stamp;
    stamp.exists = true;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modifiedNs = static_cast<std::int64_t>(FileTimeValue(info.ftLastWriteTime) * 100);
    return stamp;
}

bool MakePrivateFolder(const std::string& path)
{
    std::string why;
    return EnsurePrivateFolder(path, why);
}

AtomicWriteHook SetAtomicWriteHook(AtomicWriteHook hook)
{
    const AtomicWriteHook previous = g_hook;
    g_hook = hook;
    return previous;
}
