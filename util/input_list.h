// The list state shared by the graphics and the sound input: a ".LST" file
// naming entries one after another (with per-entry /S, /E and /L), and
// numbered-sequence patterns such as "pic????.bmp*5-7".
#pragma once

#include <cstdint>
#include <string>

#include "kavutil/kavfile.h"

namespace kav {

struct ListEntry {
  std::string name;  // empty: the list has ended (and is ready to walk again)
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
};

// "pic????.bmp" with 12 gives "pic0012.bmp": every "?" from the right takes
// the next decimal digit, least significant first; extra digits are dropped.
std::string fillPattern(const std::string &pattern, uint32_t number);

// True for a name ending in ".LST", any case.
bool isListName(const char *name);

class InputList {
 public:
  InputList() = default;
  ~InputList();
  InputList(const InputList &) = delete;
  InputList &operator=(const InputList &) = delete;

  // Walks the lines of a list file; false when it cannot be opened.
  bool openListFile(const char *name);
  // Walks one name of the handle's own (a pattern, or a plain name).
  void openName(const char *name);

  ListEntry next();

 private:
  void resetWalk();
  bool readLine(std::string &line);  // false at the end of the file
  ListEntry startPattern(std::string line, int32_t first, int32_t last);

  KAVFile *file_ = nullptr;
  std::string ownName_;
  ListEntry current_;
  int32_t repeatsLeft_ = 0;
  std::string pattern_;
  uint32_t nextNumber_ = 0;
  uint32_t endNumber_ = 0;  // one past the last; 0 when no run is active
  bool runEnded_ = false;   // a direct pattern's run has been yielded
};

}  // namespace kav
