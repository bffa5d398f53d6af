#include "util/path_normalize.h"

#include <vector>

#include "platform/os_path.h"

namespace kav {

std::string absolutePath(const std::string &name) {
  std::string full;
  if (!name.empty() && isSeparator(name[0])) {
    full = name;
  } else {
    full = os::currentDirectory();
    if (full.empty()) return std::string();
    full += '/';
    full += name;
  }
  const bool trailing = !name.empty() && isSeparator(name.back());

  std::vector<std::string> parts;
  std::string piece;
  auto flush = [&] {
    if (piece == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!piece.empty() && piece != ".") {
      parts.push_back(piece);
    }
    piece.clear();
  };
  for (char c : full) {
    if (isSeparator(c))
      flush();
    else
      piece += c;
  }
  flush();

  std::string out;
  for (const auto &p : parts) {
    out += '/';
    out += p;
  }
  if (out.empty() || trailing) out += '/';
  return out;
}

}  // namespace kav
