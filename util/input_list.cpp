#include "util/input_list.h"

#include <cstring>
#include <strings.h>
#include <vector>

#include "kavutil/kavbase.h"
#include "util/blank.h"

namespace kav {
namespace {

constexpr int32_t kListBuffer = 4096;

// Reads /S, /E and /L from a line through the shared switch parser.
struct LineSwitches {
  int32_t first, last, plays;
};

// Where the switches after the name begin. A name holds "/" as its directory
// separator here, so "/tmp/s5/a.avi" must not give up "/s5" as a first frame:
// only whole words after the first, each a "/" with no second "/", are
// switches, the same rule the tools apply to their arguments.
size_t switchesStart(const std::string &line) {
  size_t start = line.size();
  size_t end = line.size();
  for (;;) {
    while (end > 0 && isBlank(line[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && !isBlank(line[begin - 1])) --begin;
    if (begin == end || line[begin] != '/' || line.find('/', begin + 1) < end) return start;
    size_t before = begin;
    while (before > 0 && isBlank(line[before - 1])) --before;
    if (before == 0) return start;  // the first word is the name
    start = begin;
    end = begin;
  }
}

LineSwitches takeSwitches(std::string &line) {
  const size_t at = switchesStart(line);
  std::vector<char> buf(line.begin() + static_cast<std::ptrdiff_t>(at), line.end());
  buf.push_back('\0');
  LineSwitches s;
  s.first = GetSwitchNum(buf.data(), 'S', 0);
  s.last = GetSwitchNum(buf.data(), 'E', 0);
  s.plays = GetSwitchNum(buf.data(), 'L', 0);
  line.resize(at);
  line += buf.data();
  std::vector<char> whole(line.begin(), line.end());
  whole.push_back('\0');
  Trim(whole.data());
  line = whole.data();
  return s;
}

uint32_t parseNumber(const char *&p) {
  uint32_t v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10u + static_cast<uint32_t>(*p++ - '0');
  return v;
}

}  // namespace

std::string fillPattern(const std::string &pattern, uint32_t number) {
  std::string out = pattern;
  for (size_t i = out.size(); i > 0; --i) {
    if (out[i - 1] != '?') continue;
    out[i - 1] = static_cast<char>('0' + number % 10u);
    number /= 10u;
  }
  return out;
}

bool isListName(const char *name) {
  if (!name) return false;
  const size_t n = std::strlen(name);
  return n >= 4 && strcasecmp(name + n - 4, ".LST") == 0;
}

InputList::~InputList() { KAVFileClose(file_); }

void InputList::resetWalk() {
  current_ = ListEntry{};
  repeatsLeft_ = 0;
  pattern_.clear();
  nextNumber_ = endNumber_ = 0;
  runEnded_ = false;
}

bool InputList::openListFile(const char *name) {
  resetWalk();
  KAVFileClose(file_);
  file_ = KAVFileOpen(kListBuffer, name, KAV_FILE_READ);
  return file_ != nullptr;
}

void InputList::openName(const char *name) {
  KAVFileClose(file_);
  file_ = nullptr;
  resetWalk();
  ownName_ = name ? name : "";
}

bool InputList::readLine(std::string &line) {
  line.clear();
  if (KAVFileAtEnd(file_)) return false;
  // A line is read whole, however long (up to a sanity bound): a name that
  // does not fit a name buffer is then refused by whoever opens it, never
  // cut into pieces that would each look like an entry.
  constexpr size_t kMaxLine = 1u << 16;
  unsigned char c;
  while (KAVFileGet(file_, &c, 1) == 1 && c != '\n') {
    if (line.size() < kMaxLine) line += static_cast<char>(c);
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return true;
}

ListEntry InputList::startPattern(std::string line, int32_t first, int32_t last) {
  const size_t q = line.find('?');
  const size_t star = line.find('*', q);
  uint32_t from = static_cast<uint32_t>(first), to = static_cast<uint32_t>(last);
  if (star != std::string::npos) {
    const char *p = line.c_str() + star + 1;
    from = parseNumber(p);
    to = from;
    if (*p == '-') {
      ++p;
      to = parseNumber(p);
    }
    // "s??.png *1-2" names s01.png: blanks before the range are no part of
    // the name.
    line.resize(star);
    while (!line.empty() && isBlank(line.back())) line.pop_back();
  }
  pattern_ = line;
  nextNumber_ = from;
  endNumber_ = to == 0 ? 0 : to + 1;
  if (!file_) {
    // A direct pattern walks its run once; without any range it names the
    // single number 0 and then ends.
    if (runEnded_) {
      runEnded_ = false;  // ready to be walked again
      endNumber_ = 0;
      return ListEntry{};
    }
    runEnded_ = true;
  }
  ListEntry e{fillPattern(pattern_, nextNumber_), 0, 0};
  ++nextNumber_;
  return e;
}

ListEntry InputList::next() {
  if (repeatsLeft_ > 0) {
    --repeatsLeft_;
    return current_;
  }
  if (nextNumber_ < endNumber_) return ListEntry{fillPattern(pattern_, nextNumber_++), 0, 0};
  endNumber_ = 0;

  for (;;) {
    std::string line;
    bool atEnd = false;
    if (file_) {
      atEnd = !readLine(line);
    } else {
      line = ownName_;
    }
    const LineSwitches sw = takeSwitches(line);
    if (!line.empty() && line[0] == '#') line.clear();
    if (!line.empty()) {
      if (line.find('?') != std::string::npos) return startPattern(line, sw.first, sw.last);
      current_ = ListEntry{line, sw.first, sw.last};
      repeatsLeft_ = sw.plays > 1 ? sw.plays - 1 : 0;
      if (!file_) {
        // A plain name of the handle's own is yielded once per walk.
        if (runEnded_) {
          runEnded_ = false;
          repeatsLeft_ = 0;
          return ListEntry{};
        }
        runEnded_ = true;
      }
      return current_;
    }
    if (!file_ || atEnd) {
      if (file_) KAVFileSetPos(file_, 0);
      runEnded_ = false;
      return ListEntry{};
    }
  }
}

}  // namespace kav
