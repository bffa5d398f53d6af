// Why a tool could not open an input or create an output, in words a user
// can act on: the system's reason, or what the file looked like when no
// reader took it.
#pragma once

#include <string>

namespace kavtool {

// Why `name` did not open as an input: the system's reason, a kind we know
// we refuse, else `libraryText` (a reader's own reason, such as a missing
// decoder; empty when the library said only that it could not open the file).
std::string whyNotOpened(const std::string &name, const std::string &libraryText);

// What keeps an output from being written into the folder its name gives
// ("the folder out/ does not exist"); empty when nothing does.
std::string outputFolderProblem(const std::string &name);

}  // namespace kavtool
