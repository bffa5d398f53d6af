// Fuzz target for the Flic reader: the input is written to a scratch file,
// opened, and played through once plus a loop and a seek.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kavutil/flic.h"

namespace {

const std::string &scratchName() {
  static const std::string name = "/tmp/kav-flic-fuzz-" + std::to_string(getpid()) + ".flc";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &name = scratchName();
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  KAVFlic *f = KAVFlicOpen(name.c_str());
  if (f) {
    // Headers claim up to 65536 x 65536; larger pictures than this only cost
    // memory, not coverage.
    const uint64_t bytes = static_cast<uint64_t>(f->pitch) * f->paddedHeight;
    if (bytes <= (16u << 20)) {
      std::vector<uint8_t> buf(static_cast<size_t>(bytes) + 1);
      const uint32_t reads = (f->frameCount < 100 ? f->frameCount : 100) + 2;
      for (uint32_t i = 0; i < reads; ++i) KAVFlicGetNext(f, buf.data());
      KAVFlicGoto(f, f->frameCount / 2 + 1, buf.data());
    }
    KAVFlicClose(f);
  }
  std::remove(name.c_str());
  return 0;
}
