// The two questions every converter asks before it writes an output file.
#include <string>
#include <strings.h>
#include <vector>

#include "kavutil/dialog.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "kavutil/questions.h"
#include "kavutil/status.h"
#include "platform/os_path.h"

namespace {

// The expanded form of a name, or the name itself when its expansion would
// not fit a name buffer.
std::string expanded(const char *name) {
  std::vector<char> buf(KAV_NAME_MAX, '\0');
  std::string n = name ? name : "";
  if (n.size() >= KAV_NAME_MAX) return n;
  n.copy(buf.data(), n.size());
  ExpandFileName(buf.data());
  return std::string(buf.data());
}

}  // namespace

extern "C" {

KAV_EXPORT int32_t KAVAPI overwrite(const char *name, int32_t withDialog) {
  KAVFile *f = name ? KAVFileOpen(0, name, KAV_FILE_READ) : nullptr;
  if (!f) return 1;  // taken not to exist
  KAVFileClose(f);
  const std::string question = std::string("File ") + name + " exists, overwrite?";
  if (!withDialog) return StatusAsk(question.c_str(), 1);
  return KAVDialogAsk(question.c_str(), 0) == 1 ? 1 : 0;
}

KAV_EXPORT int32_t KAVAPI CheckForDup(const char *input, const char *output) {
  const std::string in = expanded(input), out = expanded(output);
  // Two names of one file (a symbolic or hard link) are the same file too:
  // writing the output would destroy the input.
  const bool same = strcasecmp(in.c_str(), out.c_str()) == 0 ||
                    (input && output && kav::os::sameExistingFile(input, output));
  if (!same) return 1;
  StatusMessage("Output filename must be different than the input filename.", 1);
  return 0;
}

}  // extern "C"
