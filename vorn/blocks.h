// Decoding of one plane: the row walk over 8x8 blocks and every block type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::vorn {

struct PlaneTarget {
  uint8_t *dst = nullptr;        // plane to write
  const uint8_t *ref = nullptr;  // same plane of the previous frame
  uint32_t rowBytes = 0;         // row length of both
  uint32_t bufferRows = 0;       // rows both buffers hold
  uint32_t width = 0;            // decoded area, multiples of 8,
  uint32_t height = 0;           //   within rowBytes x bufferRows
  unsigned scale = 1;            // 1: luma and alpha, 2: chroma
  uint8_t *map = nullptr;        // block map, rows of mapPitch bytes
  uint32_t mapPitch = 0;
  void *const *bundles = nullptr;  // the nine bundle buffers...
  uint32_t bundleWidth = 0;        // ...sized for this width
  bool oldRevision = false;
};

struct PlaneResult {
  bool ok = false;
  size_t end = 0;  // byte offset of the word after the last word consumed
};

// Decodes a plane from data[start]; `size` bytes of data are readable. On a
// violation of the format's limits it stops before the offending block is
// written and leaves the rest of the plane as it was.
PlaneResult decodePlane(const PlaneTarget &target, const uint8_t *data, size_t size, size_t start);

}  // namespace kav::vorn
