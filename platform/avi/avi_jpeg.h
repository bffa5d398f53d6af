// Motion-JPEG frames through libjpeg-turbo: one JPEG picture per chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kav::avi {

// Decodes a JPEG picture into width x height 24-bit blue-green-red pixels;
// `top` is the first (top) row of the destination and `pitchBytes` the step
// to the next row down (negative for a bottom-up DIB). A picture of another
// size is cut or padded with black. Returns false when the data is no
// decodable JPEG; rows decoded before a failure are kept.
bool decodeJpegBgr(const uint8_t *data, size_t size, uint8_t *top, int64_t pitchBytes, uint32_t width,
                   uint32_t height);

// Encodes width x height 24-bit blue-green-red pixels (same row addressing)
// at quality 1..100. False on failure.
bool encodeJpegBgr(const uint8_t *top, int64_t pitchBytes, uint32_t width, uint32_t height, int quality,
                   std::vector<uint8_t> &out);

}  // namespace kav::avi
