#include "ui/progress_text.h"

#include <cctype>
#include <cstdint>

namespace kav::ui {
namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal ending just before `end` (walking back); false if none.
bool numberBefore(std::string_view t, size_t end, uint64_t &value, size_t &start) {
  size_t i = end;
  while (i > 0 && digit(t[i - 1])) --i;
  if (i == end || end - i > 12) return false;
  value = 0;
  for (size_t j = i; j < end; ++j) value = value * 10 + static_cast<uint64_t>(t[j] - '0');
  start = i;
  return true;
}

bool numberAt(std::string_view t, size_t at, uint64_t &value) {
  size_t i = at;
  while (i < t.size() && digit(t[i]) && i - at < 12) ++i;
  if (i == at) return false;
  value = 0;
  for (size_t j = at; j < i; ++j) value = value * 10 + static_cast<uint64_t>(t[j] - '0');
  return true;
}

}  // namespace

std::optional<int> progressPerMille(std::string_view t) {
  // "(45%)" wins: it is what the palette scan and the frame fetch print.
  for (size_t p = t.find('%'); p != std::string_view::npos; p = t.find('%', p + 1)) {
    uint64_t v;
    size_t start;
    if (numberBefore(t, p, v, start) && start > 0 && t[start - 1] == '(' && v <= 100) return static_cast<int>(v * 10);
  }
  for (size_t p = t.find(" of "); p != std::string_view::npos; p = t.find(" of ", p + 1)) {
    uint64_t done, total;
    size_t start;
    if (numberBefore(t, p, done, start) && numberAt(t, p + 4, total) && total > 0 && done <= total)
      return static_cast<int>(done * 1000 / total);
  }
  return std::nullopt;
}

}  // namespace kav::ui
