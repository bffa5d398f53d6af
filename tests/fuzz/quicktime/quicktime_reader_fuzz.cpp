// Fuzz target for the QuickTime reader: the input is written to a scratch
// file, its frames are drawn and its sound tracks read.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kavutil/quicktime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string name = "/tmp/kav-qt-fuzz-" + std::to_string(getpid()) + ".mov";
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  if (QTFile *f = QTFileOpen(name.c_str())) {
    for (uint32_t n = 0; n < std::min<uint32_t>(f->frameCount, 16) + 1; ++n) QTFileGet(f);
    QTFileClose(f);
  }
  for (int32_t track = 0; track < 3; ++track) {
    if (QTSFile *s = QTSFileOpen(name.c_str(), track)) {
      std::vector<uint8_t> buf(4096);
      for (int i = 0; i < 8; ++i) QTSFileGet(s, buf.data(), static_cast<uint32_t>(buf.size()));
      QTSFileClose(s);
    }
  }
  std::remove(name.c_str());
  return 0;
}
