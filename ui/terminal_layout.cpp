#include "ui/terminal_layout.h"

#include <cstdio>

namespace kav::ui {
namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
bool control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// The text without its control bytes, which take no column and would move
// the cursor.
std::string printable(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (char c : t)
    if (!control(c)) out += c;
  return out;
}

// Byte offsets where each character starts.
std::vector<size_t> starts(const std::string &t) {
  std::vector<size_t> s;
  for (size_t i = 0; i < t.size(); ++i)
    if (!continuation(t[i])) s.push_back(i);
  return s;
}

}  // namespace

size_t columnsOf(std::string_view text) {
  size_t n = 0;
  for (char c : text)
    if (!continuation(c) && !control(c)) ++n;
  return n;
}

std::string fitWidth(std::string_view text, size_t width) {
  const std::string t = printable(text);
  const std::vector<size_t> at = starts(t);
  if (at.size() <= width) return t;
  if (width < 5) return t.substr(0, at[width]);
  const size_t keep = width - 3;
  const size_t head = keep / 2, tail = keep - head;
  return t.substr(0, at[head]) + "..." + t.substr(at[at.size() - tail]);
}

size_t rowsAt(size_t columns, size_t width) {
  if (width == 0 || columns == 0) return 1;
  return (columns + width - 1) / width;
}

std::string clockText(uint64_t seconds) {
  char buf[32];
  if (seconds >= 3600)
    std::snprintf(buf, sizeof buf, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  else
    std::snprintf(buf, sizeof buf, "%u:%02u", static_cast<unsigned>(seconds / 60), static_cast<unsigned>(seconds % 60));
  return buf;
}

std::string progressLine(const Progress &p, const Pace &pace, size_t width) {
  std::string facts;
  auto add = [&](const std::string &s) { facts += (facts.empty() ? "" : "  ") + s; };
  char buf[64];
  if (p.total) {
    std::snprintf(buf, sizeof buf, "%llu/%llu", static_cast<unsigned long long>(p.done),
                  static_cast<unsigned long long>(p.total));
    add(buf);
  }
  std::snprintf(buf, sizeof buf, "%d%%", p.perMille / 10);
  add(buf);
  if (pace.framesPerSecond && p.total) {
    const double f = *pace.framesPerSecond;
    std::snprintf(buf, sizeof buf, f < 10 ? "%.1f fps" : "%.0f fps", f);
    add(buf);
  }
  if (pace.secondsLeft) add(clockText(*pace.secondsLeft) + " left");
  // The bar takes what the facts leave, within reason; below ten cells it
  // says nothing the percentage does not.
  const size_t factCols = columnsOf(facts);
  if (width < factCols + 3 + 10) return fitWidth(facts, width);
  size_t cells = width - factCols - 3;
  if (cells > 50) cells = 50;
  const size_t filled = static_cast<size_t>(p.perMille) * cells / 1000;
  return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "] " + facts;
}

std::vector<std::string> statusBlock(const StatusView &v, const std::optional<Progress> &p, const Pace &pace,
                                     size_t width) {
  const std::string label = plainLabel(v.button);
  const std::string hint = label == "Cancel" ? "  [Cancel: Ctrl-C]" : "  [" + label + ": Enter]";
  const std::string lead = v.caption.empty() || v.secondLine.empty() ? v.caption : v.caption + ": ";
  std::vector<std::string> lines;
  // The key's hint and the caption stay whole while the names give way; a
  // terminal too narrow for that keeps what it can of the names.
  const size_t fixed = columnsOf(hint) + columnsOf(lead);
  if (width >= fixed + 10)
    lines.push_back(lead + fitWidth(v.secondLine, width - fixed) + hint);
  else
    lines.push_back(fitWidth(lead + v.secondLine, width));
  lines.push_back(fitWidth(v.status, width));
  lines.push_back(p ? progressLine(*p, pace, width) : "");
  return lines;
}

std::string foldKey(std::string_view text) {
  std::string key;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool d = text[i] >= '0' && text[i] <= '9';
    if (!d)
      key += text[i];
    else if (i == 0 || !(text[i - 1] >= '0' && text[i - 1] <= '9'))
      key += '#';
  }
  return key;
}

std::string plainLabel(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size() && s[i + 1] != '&') continue;
    out += s[i];
  }
  return out;
}

}  // namespace kav::ui
