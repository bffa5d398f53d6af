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

bool countOf(std::string_view t, uint64_t &done, uint64_t &total) {
  for (size_t p = t.find(" of "); p != std::string_view::npos; p = t.find(" of ", p + 1)) {
    size_t start;
    if (numberBefore(t, p, done, start) && numberAt(t, p + 4, total) && total > 0 && done <= total) return true;
  }
  return false;
}

}  // namespace

std::optional<Progress> readProgress(std::string_view t) {
  Progress p;
  const bool counted = countOf(t, p.done, p.total);
  if (!counted) p.done = p.total = 0;
  // "(45%)" wins: it is what the palette scan and the frame fetch print.
  for (size_t at = t.find('%'); at != std::string_view::npos; at = t.find('%', at + 1)) {
    uint64_t v;
    size_t start;
    if (numberBefore(t, at, v, start) && start > 0 && t[start - 1] == '(' && v <= 100) {
      p.perMille = static_cast<int>(v * 10);
      return p;
    }
  }
  if (!counted) return std::nullopt;
  p.perMille = static_cast<int>(p.done * 1000 / p.total);
  return p;
}

std::optional<int> progressPerMille(std::string_view t) {
  const auto p = readProgress(t);
  if (!p) return std::nullopt;
  return p->perMille;
}

}  // namespace kav::ui
