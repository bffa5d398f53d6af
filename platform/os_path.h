// Current directory and directory tests.
#pragma once

#include <string>

namespace kav::os {

// The process's current directory, or an empty string when it cannot be had.
std::string currentDirectory();
bool isDirectory(const char *path);
bool changeDirectory(const char *path);

}  // namespace kav::os

namespace kav::os {

// True when both names exist and are the same file (device and inode), as
// through a link.
bool sameExistingFile(const char *a, const char *b);

}  // namespace kav::os
