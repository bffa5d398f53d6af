// A whole Vorn file from the fuzzer: open it and drive every operation.
#include <kavutil/vornfile.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A damaged size field may ask for planes of hundreds of megabytes, which
  // is allowed but makes the fuzzer crawl.
  auto le32 = [&](size_t at) {
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
           uint32_t(data[at + 3]) << 24;
  };
  if (size >= 28 && (le32(20) > 2048 || le32(24) > 2048)) return 0;
  static kavtest::TempDir dir;
  const std::string name = dir.file("input.vrn");
  kavtest::writeFile(name, std::vector<uint8_t>(data, data + size));
  VornSetPreferredTrack(-1);
  VornHandle *h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, 0x8104000);
  if (!h) return 0;
  std::vector<VornTrack *> tracks;
  for (uint32_t t = 0; t < h->trackCount && t < 4; ++t)
    if (VornTrack *r = VornTrackOpen(h, t)) tracks.push_back(r);
  const uint32_t w = h->width < 256 ? h->width : 256, ht = h->height < 256 ? h->height : 256;
  std::vector<uint8_t> picture(size_t(w) * ht * 4);
  std::vector<uint8_t> sound;
  const uint32_t steps = (h->frameCount < 8 ? h->frameCount : 8) + 2;
  for (uint32_t i = 0; i < steps; ++i) {
    if (i == 3) VornGoto(h, h->frameCount / 2 + 1, 0);
    VornDecodeFrame(h);
    VornCopyToBuffer(h, picture.data(), int32_t(w * 4), ht, 0, 0, i % 2 ? 5 : 3);
    for (VornTrack *r : tracks)
      if (r->bufferBytes <= (1u << 22)) {
        sound.resize(r->bufferBytes);
        VornTrackRead(r, sound.data());
      }
    VornNextFrame(h);
  }
  for (VornTrack *r : tracks) VornTrackClose(r);
  VornClose(h);
  return 0;
}
