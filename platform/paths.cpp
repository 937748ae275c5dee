#include "platform/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

// $variable/ferrodex, else ~/fallback/ferrodex, created owner-only.
std::string ProductFolder(const char* variable, const char* fallback)
{
    std::string base;
    const char* value = std::getenv(variable);
    if (value && *value == '/') {
        base = value;
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) return {};
        base = home + fallback;
    }
    const std::string folder = base + "/ferrodex";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) return {};
    ::chmod(folder.c_str(), 0700);
    return folder;
}

}  // namespace

std::string UserStateFolder() { return ProductFolder("XDG_STATE_HOME", "/.local/state"); }

std::string UserDataFolder() { return ProductFolder("XDG_DATA_HOME", "/.local/share"); }

bool PrepareOwnerOnlyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}
