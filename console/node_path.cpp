#include "console/node_path.h"

std::vector<std::u16string> ParseNodePath(std::u16string_view path)
{
    std::vector<std::u16string> names;
    if (path.empty()) return names;
    std::u16string current;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        if (c == u'\\' && i + 1 < path.size() && (path[i + 1] == u'/' || path[i + 1] == u'\\')) {
            current.push_back(path[++i]);
        } else if (c == u'/') {
            names.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    names.push_back(std::move(current));
    return names;
}

std::u16string FormatNodePath(const std::vector<std::u16string>& names)
{
    std::u16string path;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) path.push_back(u'/');
        for (char16_t c : names[i]) {
            if (c == u'/' || c == u'\\') path.push_back(u'\\');
            path.push_back(c);
        }
    }
    return path;
}
