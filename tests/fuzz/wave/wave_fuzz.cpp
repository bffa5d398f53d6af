// Any bytes as a sound file: the WAVE walk and the reading must end in a
// clean failure or a defined result.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "kavutil/sfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string name = "/tmp/kav_wave_fuzz_" + std::to_string(getpid()) + ".wav";
  FILE *f = std::fopen(name.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  for (uint32_t bits : {0u, 8u}) {
    SFile *s = SFileOpen(name.c_str(), bits ? 11025 : 0, bits, bits ? 2 : 0, 0, 0, 0, 0, 0, nullptr);
    if (!s) continue;
    uint8_t buf[4096];
    for (int i = 0; i < 256 && SFileGet(s, buf, sizeof buf); ++i) {
    }
    SFileReset(s);
    SFileGet(s, buf, sizeof buf);
    SFileClose(s);
  }
  std::remove(name.c_str());
  return 0;
}
