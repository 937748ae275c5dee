#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {
thread_local DWORD t_lastError = 0;

FILETIME ToFileTime(const timespec& ts)
{
    const std::uint64_t value = kUnixEpochAsFileTime + static_cast<std::uint64_t>(ts.tv_sec) * 10000000ULL +
                                static_cast<std::uint64_t>(ts.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

DWORD ErrnoToError(int error)
{
    switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return 5;
    default: return 31;
    }
}

struct FileObject {
    int fd;
};

struct SearchObject {
    DIR* dir;
    std::string folder;
    std::string pattern;
};

void FillFindData(const std::string& path, const char* name, WIN32_FIND_DATAA* data)
{
    std::memset(data, 0, sizeof *data);
    std::strncpy(data->cFileName, name, MAX_PATH - 1);
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return;
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = ToFileTime(st.st_ctim);
    data->ftLastAccessTime = ToFileTime(st.st_atim);
    data->ftLastWriteTime = ToFileTime(st.st_mtim);
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    data->nFileSizeLow = static_cast<DWORD>(size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
}

bool NextMatch(SearchObject* search, WIN32_FIND_DATAA* data)
{
    while (dirent* entry = ::readdir(search->dir)) {
        if (!MatchWildcard(search->pattern.c_str(), entry->d_name)) continue;
        std::string path(search->folder);
        path.push_back('/');
        path.append(entry->d_name);
        FillFindData(path, entry->d_name, data);
        return true;
    }
    t_lastError = ERROR_NO_MORE_FILES;
    return false;
}
}  // namespace

DWORD GetFileAttributesUtf8(const char* path)
{
    struct stat st{};
    if (!path || ::stat(path, &st) != 0) {
        t_lastError = ErrnoToError(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE FindFirstFileUtf8(const char* pattern, WIN32_FIND_DATAA* data)
{
    const char* text = pattern ? pattern : "";
    const char* slash = nullptr;
    for (const char* p = text; *p; ++p)
        if (*p == '/' || *p == '\\') slash = p;
    std::string folder;
    if (!slash) folder.assign(1, '.');
    else if (slash == text) folder.assign(1, '/');
    else folder.assign(text, static_cast<std::size_t>(slash - text));
    const std::string last(slash ? slash + 1 : text);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        t_lastError = ErrnoToError(errno);
        return INVALID_HANDLE_VALUE;
    }
    auto* search = new SearchObject{dir, folder, last};
    if (!NextMatch(search, data)) {
        ::closedir(dir);
        delete search;
        t_lastError = 2;
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

BOOL FindNextFileUtf8(HANDLE search, WIN32_FIND_DATAA* data)
{
    if (!search || search == INVALID_HANDLE_VALUE) return 0;
    return NextMatch(static_cast<SearchObject*>(search), data) ? 1 : 0;
}

BOOL FindClose(HANDLE search)
{
    if (!search || search == INVALID_HANDLE_VALUE) return 0;
    auto* object = static_cast<SearchObject*>(search);
    ::closedir(object->dir);
    delete object;
    return 1;
}

HANDLE CreateFileUtf8(const char* path, DWORD access, DWORD share, DWORD creation)
{
    if (!path || access != GENERIC_READ || creation != OPEN_EXISTING) {
        t_lastError = 87;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        t_lastError = ErrnoToError(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        t_lastError = 5;
        return INVALID_HANDLE_VALUE;
    }
    return new FileObject{fd};
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read)
{
    *read = 0;
    if (!file || file == INVALID_HANDLE_VALUE) return 0;
    auto* object = static_cast<FileObject*>(file);
    auto* out = static_cast<char*>(buffer);
    while (*read < toRead) {
        const ssize_t n = ::read(object->fd, out + *read, toRead - *read);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            t_lastError = ErrnoToError(errno);
            return 0;
        }
        if (n == 0) break;
        *read += static_cast<DWORD>(n);
    }
    return 1;
}

DWORD GetFileSize(HANDLE file, DWORD* high)
{
    if (!file || file == INVALID_HANDLE_VALUE) return 0xFFFFFFFFu;
    struct stat st{};
    if (::fstat(static_cast<FileObject*>(file)->fd, &st) != 0) return 0xFFFFFFFFu;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    if (!file || file == INVALID_HANDLE_VALUE) return 0;
    struct stat st{};
    if (::fstat(static_cast<FileObject*>(file)->fd, &st) != 0) return 0;
    if (creation) *creation = ToFileTime(st.st_ctim);
    if (lastAccess) *lastAccess = ToFileTime(st.st_atim);
    if (lastWrite) *lastWrite = ToFileTime(st.st_mtim);
    return 1;
}

BOOL CloseHandle(HANDLE file)
{
    if (!file || file == INVALID_HANDLE_VALUE) return 0;
    auto* object = static_cast<FileObject*>(file);
    ::close(object->fd);
    delete object;
    return 1;
}

DWORD GetLastFileError() { return t_lastError; }

