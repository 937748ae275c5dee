// Where a file is, as one absolute path: relative paths taken from the
// working folder, links of the folders and of the file resolved as far as
// they exist. Two names of one file give one path; a copy gives another.
#pragma once

#include <string>

std::string AbsoluteFilePath(const std::string& path);
