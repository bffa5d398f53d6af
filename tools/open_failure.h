// Why a tool could not open an input or create an output, in words a user
// can act on: the system's reason, or what the file looked like when no
// reader took it.
#pragma once

#include <string>

namespace kavtool {

// Why `name` did not open as an input. `libraryText` is what the library
// reported, used when nothing better is known (a list or a sequence).
std::string whyNotOpened(const std::string &name, const std::string &libraryText);

// What keeps an output from being written into the folder its name gives
// ("the folder out/ does not exist"); empty when nothing does.
std::string outputFolderProblem(const std::string &name);

}  // namespace kavtool
