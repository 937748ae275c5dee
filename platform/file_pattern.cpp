#include "platform/file_pattern.h"

#include <glob.h>

#include <memory>

namespace {

struct GlobFree {
    void operator()(glob_t* g) const { globfree(g); }
};

}  // namespace

bool ListMatchingFiles(const std::string& pattern, std::size_t limit, std::vector<std::string>& paths,
                       std::string& error)
{
    paths.clear();
    glob_t found{};
    const int rc = glob(pattern.c_str(), GLOB_ERR, nullptr, &found);
    const std::unique_ptr<glob_t, GlobFree> owner(&found);
    if (rc == GLOB_NOMATCH) return true;
    if (rc != 0) {
        error = rc == GLOB_NOSPACE ? "out of memory" : "a folder of the pattern cannot be read";
        return false;
    }
    if (found.gl_pathc > limit) {
        error = "more than " + std::to_string(limit) + " files match";
        return false;
    }
    for (std::size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
    return true;
}
