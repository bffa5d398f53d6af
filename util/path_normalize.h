// Lexical path arithmetic for the file-name helpers.
#pragma once

#include <string>

namespace kav {

inline bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The absolute, lexically normalised form of a name: "\" read as "/", "."
// and ".." resolved against the current directory without touching the file
// system beyond asking for that directory. A name that ended in a separator
// keeps one. Empty when the current directory is unknown.
std::string absolutePath(const std::string &name);

}  // namespace kav
