// The files a shell-style pattern names ("*", "?", "[...]"), as an include
// directive of a configuration file uses them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The paths matching `pattern`, in name order; a pattern that matches
// nothing gives none. False (with a reason) when the folder cannot be read
// or more than `limit` paths match.
bool ListMatchingFiles(const std::string& pattern, std::size_t limit, std::vector<std::string>& paths,
                       std::string& error);
