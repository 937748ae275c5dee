#include "platform/file_pattern.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/wide.h"

bool ListMatchingFiles(const std::string& pattern, std::size_t limit, std::vector<std::string>& paths,
                       std::string& error)
{
    paths.clear();
    // Wildcards are taken in the last component only, as the system's search does.
    const std::size_t slash = pattern.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW(WidePath(pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
        error = "the folder of " + pattern + " cannot be read (error " + std::to_string(code) + ")";
        return false;
    }
    bool ok = true;
    do {
        const std::wstring_view name(data.cFileName);
        if (name == L"." || name == L"..") continue;
        if (paths.size() == limit) {
            error = "more than " + std::to_string(limit) + " files match " + pattern;
            ok = false;
            break;
        }
        paths.push_back(folder + PathFromWide(name));
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
    if (!ok) paths.clear();
    std::sort(paths.begin(), paths.end());
    return ok;
}
