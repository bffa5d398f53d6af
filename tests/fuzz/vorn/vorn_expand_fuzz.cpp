// Fuzz target for the frame expander: the first four bytes choose the picture
// size and the flags, the rest is the frame's video data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <kavutil/vorn.h>

#include "vorn/expand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  uint32_t width = 1 + data[0] % 96, height = 1 + data[1] % 80;
  uint32_t flags = (data[2] & 1 ? VORN_DECODE_ALPHA : 0) | (data[2] & 2 ? VORN_GREY_SCALE : 0) |
                   (data[2] & 4 ? VORN_OLD_REVISION : 0);
  uint32_t headerFlags = data[2] & 8 ? VORN_HEADER_HAS_ALPHA : 0;
  uint32_t cw = (((width + 1) / 2) + 7) & ~7u, ch = (((height + 1) / 2) + 7) & ~7u;
  uint32_t pitch = 2 * cw, planeHeight = 2 * ch;
  size_t setBytes = size_t(pitch) * planeHeight + 2 * size_t(cw) * ch;
  std::vector<uint8_t> cur(setBytes, data[3]), prev(setBytes, 0x80), alphaCur(size_t(pitch) * planeHeight),
      alphaPrev(size_t(pitch) * planeHeight, 7), map(size_t(pitch / 16) * (planeHeight / 16));
  uint32_t sizes[VORN_BUNDLE_COUNT];
  ExpandBundleSizes(sizes, pitch);
  std::vector<std::vector<uint8_t>> bundles(VORN_BUNDLE_COUNT);
  void *ptrs[VORN_BUNDLE_COUNT];
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) {
    bundles[i].resize(sizes[i]);
    ptrs[i] = bundles[i].data();
  }
  kav::vorn::FrameArgs a;
  a.cur = cur.data();
  a.prev = prev.data();
  a.alphaCur = alphaCur.data();
  a.alphaPrev = alphaPrev.data();
  a.changedMap = map.data();
  a.width = width;
  a.height = height;
  a.pitch = pitch;
  a.planeHeight = planeHeight;
  a.bundles = ptrs;
  a.flags = flags;
  a.headerFlags = headerFlags;
  // A copy of exactly the data's size, so reading past it is caught.
  std::vector<uint8_t> frame(data + 4, data + size);
  kav::vorn::expandFrame(a, frame.data(), frame.size());
  return 0;
}
