// Drawing one video sample into the frame reader's pixel buffer: 'raw '
// (paletted 1 to 8 bits, grey, 16, 24 and 32 bits), 'jpeg' and 'png '.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kav::qt {

struct VideoFormat {
  uint32_t codec = 0;
  uint32_t width = 0, height = 0;
  uint32_t depth = 0;        // as the sample description gives it
  uint32_t bitsOut = 0;      // 8 or 32
  uint8_t palette[256 * 4];  // blue, green, red, 0
};

// Reads a video sample description (the whole stsd entry). False for a
// codec or depth we do not draw.
bool parseVideoDescription(const std::vector<uint8_t> &entry, VideoFormat &f);

// Draws the sample's data: 8-bit output as palette indexes, 32-bit output as
// blue, green, red, alpha. The buffer is height rows of rowBytes, top row
// first. Damaged data draws what it can; the rest is left as it was.
bool drawSample(const VideoFormat &f, const uint8_t *data, size_t size, uint8_t *pixels, uint32_t rowBytes);

}  // namespace kav::qt
