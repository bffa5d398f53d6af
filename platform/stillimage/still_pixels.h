// Row conversion between what the format decoders and encoders handle
// (palette indices one per byte, or B, G, R bytes) and the descriptor's
// depth, plus the small byte helpers every codec uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/stillimage/still_image.h"

namespace kav::still {

// Rows as a decoder produces them.
enum class PixelKind {
  Indexed8,  // one palette index per byte
  Bgr24,     // B, G, R
  Bgrx32,    // B, G, R, x (x ignored)
  Rgb555,    // little-endian x:5:5:5 words
};

// A source palette: 256 entries of B, G, R, 0, zero past `colours`, so any
// byte index is safe to look up.
struct Palette {
  uint8_t bgrx[256][4];
  uint32_t colours;
};
void clearPalette(Palette &p);
// Levels 0 .. 2^bits - 1 spread over black to white.
void greyPalette(Palette &p, int bits);

// Receives a picture row by row (any order) and stores it in the descriptor.
class RowSink {
 public:
  RowSink() = default;
  RowSink(const RowSink &) = delete;
  RowSink &operator=(const RowSink &) = delete;
  // A buffer that begin() allocated is freed again unless finish() was
  // reached: a failed load leaves the descriptor as it found it.
  ~RowSink();
  // Checks the picture against the descriptor (allocating one at the
  // natural depth when it has no buffer) and prepares the conversion.
  // indexBits: how many bits the indices of an Indexed8 source use (1..8),
  // which decides whether a 1-, 2- or 4-bit descriptor can take them.
  int begin(StillImage *image, int32_t width, int32_t height, PixelKind kind,
            const Palette *palette, int indexBits);
  // Memory to fill with picture row y (0 = top) in the source kind: the
  // descriptor's own row when no conversion is needed.
  uint8_t *row(int32_t y);
  // Stores row y (converting when needed) and clears the row's padding.
  void commit(int32_t y);
  // Clears rows the picture did not reach; call once after the last commit
  // when some rows may have been skipped, else rows above the picture only.
  void finish(bool allRowsWritten);
  bool direct() const { return direct_; }

 private:
  StillImage *img_ = nullptr;
  int32_t w_ = 0, h_ = 0;
  PixelKind kind_ = PixelKind::Bgr24;
  bool direct_ = false;
  bool allocated_ = false, finished_ = false;
  uint8_t lut_[256][4] = {};
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> written_;
};

// Gives the rows of a descriptor (y = 0 is the top row) as palette indices
// or as B, G, R bytes, for the encoders.
class RowSource {
 public:
  // indexed: rows as one index per byte (only for descriptors of 8 bits or
  // fewer); otherwise B, G, R.
  int begin(const StillImage &image, bool indexed);
  const uint8_t *row(int32_t y);
  int32_t width() const { return w_; }
  int32_t height() const { return h_; }
  // The palette of an indexed descriptor (256 entries, `colours` in use).
  uint32_t colours() const;

 private:
  const StillImage *img_ = nullptr;
  int32_t w_ = 0, h_ = 0;
  bool indexed_ = false;
  std::vector<uint8_t> scratch_;
};

// Pixels a row of the descriptor can hold: the width, or less where the
// pitch is the graphics input's truncated one.
int32_t rowCapacity(const StillImage &image);
bool validDescriptor(const StillImage &image);

// Bytes of one packed row: ceil(width * bits / 8), width <= kMaxBufferSide.
inline size_t packedRowBytes(int32_t width, int bits) {
  return (static_cast<size_t>(width) * static_cast<size_t>(bits) + 7) / 8;
}
// Unpacks MSB-first 1/2/4-bit indices (or copies 8-bit ones).
void unpackIndices(const uint8_t *src, int bits, int32_t count, uint8_t *dst);

inline uint16_t rd16le(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t rd32le(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void put16le(std::vector<uint8_t> &v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void put32le(std::vector<uint8_t> &v, uint32_t x) {
  put16le(v, x & 0xFFFFu);
  put16le(v, x >> 16);
}

}  // namespace kav::still
