#include "tools/argv_split.h"

#include <algorithm>
#include <sys/stat.h>

namespace kavtool {
namespace {

bool pathExists(const std::string &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

// "/X" followed by the value, quoted when the value holds a blank (the
// parsers end an unquoted value at the first blank).
std::string asSwitch(const std::string &body) {
  std::string out = "/";
  if (body.empty()) return out;
  out += body[0];
  const std::string value = body.substr(1);
  const bool blank = std::any_of(value.begin(), value.end(), [](char c) { return static_cast<signed char>(c) <= 32; });
  if (blank && (value.empty() || value[0] != '"'))
    out += "\"" + value + "\"";
  else
    out += value;
  return out;
}

}  // namespace

SplitArgs splitArgs(int argc, const char *const *argv, const std::vector<std::string> &longNames) {
  SplitArgs out;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i] ? argv[i] : "";
    if (onlyFiles) {
      out.files.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyFiles = true;
      continue;
    }
    if (a.size() > 3 && a[0] == '-' && a[1] == '-') {
      const std::string name = a.substr(0, a.find('='));
      if (std::find(longNames.begin(), longNames.end(), name) != longNames.end())
        out.longOptions.push_back(a);
      else
        out.unknownOptions.push_back(a);
      continue;
    }
    std::string body;
    if (a.size() > 1 && a[0] == '-') {
      body = a.substr(1);
    } else if (a.size() > 1 && a[0] == '/' && a.find('/', 1) == std::string::npos && !pathExists(a)) {
      body = a.substr(1);
    } else {
      out.files.push_back(a);
      continue;
    }
    if (!out.switches.empty()) out.switches += ' ';
    out.switches += asSwitch(body);
    out.switchWords.push_back(a);
  }
  return out;
}

}  // namespace kavtool
