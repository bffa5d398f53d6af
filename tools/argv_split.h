// Splits a tool's argv into the library's switch line and the file names.
// The switch parsers know only "/" and one letter, and POSIX paths hold "/",
// so the tools decide what is a switch before the parsers see anything.
#pragma once

#include <string>
#include <vector>

namespace kavtool {

struct SplitArgs {
  std::string switches;            // "/S5 /F30;1.001 ...", for the library's parsers
  std::vector<std::string> switchWords;  // the same switches as typed ("-S5"), for messages
  std::vector<std::string> files;  // in order
  std::vector<std::string> longOptions;  // "--help", "--json", ... (taken first)
  std::vector<std::string> unknownOptions;  // "--name" the tool does not know
};

// "-S5" is the switch /S5; "--" ends the switches; "/Q236" is a switch when it
// holds no second "/" and names no existing path; everything else is a file
// name. A switch value holding blanks is quoted for the parsers. `longNames`
// are the tool's own options ("--help"), taken before the split; "--X" with
// one letter is the cancelling switch /-X, any other "--name" is unknown.
SplitArgs splitArgs(int argc, const char *const *argv, const std::vector<std::string> &longNames);

}  // namespace kavtool
