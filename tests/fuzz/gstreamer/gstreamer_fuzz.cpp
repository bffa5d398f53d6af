// Fuzz target for the GStreamer reader: the input is written to a scratch
// file, opened for its pictures and for its sound, and a few frames and a
// little sound are read, with a step back to the start between. Bounded:
// every wait on a pipeline has its own time-out, and only the first frames
// and the first second of sound are asked for.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/gstreamer/gst_media.h"

namespace {

constexpr uint32_t kMaxFrames = 8;
constexpr uint32_t kMaxSoundBytes = 48000 * 4;

// Where the pixels read go, so that reading them is not optimised away.
volatile uint32_t pixelSink;

bool writeScratch(const std::string &name, const uint8_t *data, size_t size) {
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && ok;
}

void readPictures(const std::string &name) {
  kav::gst::Description d;
  kav::gst::Reader *r = nullptr;
  std::string message;
  if (kav::gst::open(name.c_str(), false, &d, &r, &message) != kav::gst::Result::Opened) return;
  const uint32_t frames = d.video.frameCount < kMaxFrames ? d.video.frameCount : kMaxFrames;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t *p = kav::gst::frame(r, i);
    if (!p) break;
    // Touch the first and the last pixel the reader promises.
    sum += p[0] + p[size_t{d.video.width} * d.video.height * 4 - 1];
  }
  pixelSink = sum;
  kav::gst::rewind(r);
  kav::gst::frame(r, frames > 1 ? frames - 1 : 0);
  kav::gst::close(r);
}

void readSound(const std::string &name) {
  kav::gst::Description d;
  kav::gst::Reader *r = nullptr;
  std::string message;
  if (kav::gst::open(name.c_str(), true, &d, &r, &message) != kav::gst::Result::Opened) return;
  std::vector<uint8_t> pcm(16384);
  uint32_t total = 0;
  while (total < kMaxSoundBytes) {
    const uint32_t got = kav::gst::readSound(r, pcm.data(), static_cast<uint32_t>(pcm.size()));
    if (got == 0) break;
    total += got;
  }
  kav::gst::rewind(r);
  kav::gst::readSound(r, pcm.data(), 4096);
  kav::gst::close(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string name = "/tmp/kav-gstreamer-fuzz-" + std::to_string(getpid()) + ".bin";
  if (writeScratch(name, data, size)) {
    readPictures(name);
    readSound(name);
  }
  std::remove(name.c_str());
  return 0;
}
