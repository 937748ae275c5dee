// What either system's private folders and owner-only files share: the
// notice of a folder that is not used, given once per folder.
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/paths.h"

bool EnsurePrivateFolderOrSay(const std::string& folder)
{
    std::string why;
    if (EnsurePrivateFolder(folder, why)) return true;
    static std::mutex s_mutex;
    static std::set<std::string> s_told;
    std::lock_guard lock(s_mutex);
    if (s_told.insert(folder).second)
        std::fprintf(stderr, "ferrodex: the folder %s is not used: %s\n", folder.c_str(), why.c_str());
    return false;
}

bool PrepareOwnerOnlyFile(const std::string& path) { return OpenOwnerOnlyFile(path) != nullptr; }
