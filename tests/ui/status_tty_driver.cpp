// Runs a status window the way a converter does, for the terminal test: it
// shows progress, waits for the user's No, then for a confirmed cancel, and
// closes waiting for Done. With the argument "questions" it asks the
// dialog's questions instead, one after the other; with "progress" it runs
// 300 frames under a long second line, with a message half way.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "kavutil/dialog.h"
#include "kavutil/status.h"
#include "ui/status_internal.h"

namespace {

volatile int cancelled = 0;
void KAVAPI onCancel() { cancelled = 1; }

bool endsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::string(argv[1]) == "questions") {
    std::fprintf(stderr, "answer %d\n", KAVDialogMessage("Stop the batch?", 0x22));
    std::fprintf(stderr, "answer %d\n", KAVDialogAsk("Keep the log?", 1));
    std::fprintf(stderr, "answer %d\n", KAVDialogAsk("Replace it?", 0x20));
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "progress") {
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    // With the caption and the key's hint, too long for 80 columns.
    const std::string second = "/home/someone/videos/holiday/beach.avi -> /home/someone/out/beach-final.flc";
    if (!StatusOpen("kavconv", second.c_str(), onCancel)) return 2;
    for (int i = 1; i <= 300 && !cancelled; ++i) {
      char text[96];
      std::snprintf(text, sizeof text, "Writing frame %d of 300 (%d%%)...", i, i * 100 / 300);
      StatusSet(text);
      StatusCheck();
      if (i == 150) StatusMessage("Half way there.", 0);
      usleep(4000);
    }
    StatusClose(0);
    std::fprintf(stderr, "closed\n");
    return 0;
  }
  StatusInit(reinterpret_cast<void *>(uintptr_t{0x1A2F}), KAV_NO_WINDOW, 0);
  if (!StatusOpen("Converting", "clip.avi to clip.flc", onCancel)) return 2;
  StatusSet("Writing frame 12 of 300...");
  for (int i = 0; i < 1000 && !endsWith(kav::ui::statusLine(), " No."); ++i) {
    StatusCheck();
    usleep(10000);
  }
  StatusSet("Writing frame 150 of 300...");
  for (int i = 0; i < 1000 && !cancelled; ++i) {
    StatusCheck();
    usleep(10000);
  }
  StatusSet(cancelled ? "Stopped at frame 150." : "Never cancelled.");
  StatusClose(1);
  std::fprintf(stderr, "closed\n");
  return cancelled ? 0 : 3;
}
