// The fixed entries of a palette and the weights of its slots.
#include <cstdlib>
#include <cstring>

#include "colour/colour_reduce.h"

namespace kav::colour {

const uint8_t kSystemColours[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0}, {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};

void writeSystemColours(uint8_t *palette) {
  std::memcpy(palette, kSystemColours[0], 10 * 3);
  std::memcpy(palette + 246 * 3, kSystemColours[10], 10 * 3);
}

PaletteReserve paletteReserve(uint32_t method, uint32_t first, uint32_t count) {
  PaletteReserve r{0, 0};
  if (method == 2 || first >= 256) return r;
  if (count > 256 - first) count = 256 - first;
  r.low = first < 10 ? 10 - first : 0;
  r.high = first + count > 246 ? first + count - 246 : 0;
  // A narrow range inside the fixed entries is all reserve, never less than
  // none left.
  if (r.low > count) r.low = count;
  if (r.high > count - r.low) r.high = count - r.low;
  return r;
}

namespace {
inline uint32_t magnitude(int32_t v) { return static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : v); }
}  // namespace

void computeSlotWeights(uint32_t weights[256], const uint8_t *picture, uint32_t width, uint32_t height,
                        ptrdiff_t pitchBytes, int32_t leftMargin, int32_t topMargin, int32_t rightBlank,
                        int32_t bottomBlank, uint32_t startColumnBytes) {
  std::memset(weights, 0, 256 * sizeof(uint32_t));
  if (!picture) return;
  const uint64_t border = (uint64_t{magnitude(leftMargin)} + magnitude(rightBlank)) * height +
                          (uint64_t{width} + magnitude(rightBlank)) * (uint64_t{magnitude(topMargin)} + magnitude(bottomBlank));
  weights[0] = border > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(border);

  const uint32_t firstRow = topMargin < 0 ? magnitude(topMargin) : 0;
  const uint32_t firstColumn = leftMargin < 0 ? startColumnBytes : 0;
  if (firstRow >= height || firstColumn >= width) return;
  for (uint32_t y = firstRow; y < height; ++y) {
    const uint8_t *row = picture + static_cast<ptrdiff_t>(y) * pitchBytes;
    for (uint32_t x = firstColumn; x < width; ++x) weights[row[x]] += weights[row[x]] != 0xFFFFFFFFu;
  }
}

}  // namespace kav::colour
