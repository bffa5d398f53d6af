// Expansion of one frame's video data: the alpha section, the plane-size
// word, luma and the two chroma planes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::vorn {

struct FrameArgs {
  uint8_t *cur = nullptr;
  const uint8_t *prev = nullptr;
  uint8_t *alphaCur = nullptr;
  const uint8_t *alphaPrev = nullptr;
  uint8_t *changedMap = nullptr;
  uint32_t width = 0, height = 0;
  uint32_t pitch = 0, planeHeight = 0;
  void *const *bundles = nullptr;  // sized by ExpandBundleSizes(pitch)
  uint32_t flags = 0, headerFlags = 0;
};

enum class ExpandStatus {
  kOk,
  kBadGeometry,  // sizes that do not fit the buffers; nothing written
  kBadLayout,    // a section length past the data; nothing more decoded
  kBadAlpha,     // a plane broke the format's limits: it stopped there,
  kBadLuma,      //   and the planes after it were not decoded
  kBadChroma,
};

// ExpandVorn with the frame data's length: no bit is read past data + size.
ExpandStatus expandFrame(const FrameArgs &args, const uint8_t *data, size_t size);

}  // namespace kav::vorn
