// Fuzz target for the graphics input: the input is written to a scratch
// file and opened as a source of whatever kind it looks like, and its
// frames are fetched, true colour and reduced to 8 bits. Bounded: large
// canvases and long movies only cost time, not coverage.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "kavutil/gfile.h"

namespace {

constexpr uint32_t kMaxFrames = 12;
constexpr uint64_t kMaxCanvasPixels = 1u << 20;

// Every kind is tried in turn on the bytes of a ".dat"; a ".exe" is also
// searched for a movie inside a program. No list names: a list could send
// the reader to any file on the machine.
std::string scratchName(const char *extension) {
  return "/tmp/kav-gfile-fuzz-" + std::to_string(getpid()) + extension;
}

bool writeScratch(const std::string &name, const uint8_t *data, size_t size) {
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && ok;
}

void play(const std::string &name, uint32_t flags) {
  GFile *g = GFileOpen(name.c_str(), flags, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, kMaxFrames, 0, 0, 256, 0, 0, 2,
                       nullptr, nullptr, nullptr);
  if (!g) return;
  if (uint64_t{g->canvasWidth} * g->canvasHeight <= kMaxCanvasPixels) {
    const uint32_t frames = g->outputFrameCount < kMaxFrames ? g->outputFrameCount : kMaxFrames;
    for (uint32_t i = 0; i < frames; ++i)
      if ((GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF) == 0) break;
    GFileReset(g);
    GFileGet(g, 1, 10, 90, 1.2f, 0);
  }
  GFileClose(g);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string dat = scratchName(".dat"), exe = scratchName(".exe");
  if (writeScratch(dat, data, size)) {
    play(dat, 0);
    play(dat, 2 | GFILE_PREFER_QUICKTIME);
  }
  if (writeScratch(exe, data, size)) play(exe, 0);
  std::remove(dat.c_str());
  std::remove(exe.c_str());
  return 0;
}
