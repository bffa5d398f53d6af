// The row converters of the YUV blit: what they read and write, and the sets
// of them that the blit chooses from.
#pragma once

#include <cstdint>
#include <cstring>

#include "vorn/yuv_tables.h"

namespace kav::yuv {

// A run of n source pixels on one or two source rows that share a chroma row.
// Luma, alpha and destination pointers address the run's first pixel; chroma
// pointers address the chroma sample that covers it, so pixel i takes chroma
// sample (phase + i) >> 1, where phase is the parity of the first source
// column. Two-row converters read row 1 as well. dst[r] receives source row
// r; dstCopy[r] is the second destination row of a height-doubled row.
struct Span {
  const uint8_t *luma[2];
  const uint8_t *alpha[2];  // null for the blit without alpha
  const uint8_t *chroma1;   // first chroma plane of the plane set
  const uint8_t *chroma2;   // second chroma plane
  uint8_t *dst[2];
  uint8_t *dstCopy[2];
  int32_t n;
  int32_t phase;
};

// How the blit reads the chroma planes: exchanged means the first plane is
// Cb and the second Cr (the tables have been rearranged to match).
struct RowContext {
  const Tables *tables;
  bool exchanged;
};

using RowFn = void (*)(const Span &, const RowContext &);

// Bulk converters exist for these four outputs, height doubling being done
// by the blit on top of them.
enum BulkKind { kBulkNormal = 0, kBulkGrey = 1, kBulkWide = 2, kBulkGreyWide = 3, kBulkKinds = 4 };

// Per-pixel converters exist for every combination: grey 1, double width 2,
// double height 4.
inline constexpr int kModeGrey = 1;
inline constexpr int kModeWide = 2;
inline constexpr int kModeTall = 4;
inline constexpr int kModeCombinations = 8;

struct ConverterSet {
  // Bulk converters take two rows and n a multiple of 1 << blockShift.
  RowFn bulk[kBulkKinds][2];  // [kind][phase]
  uint32_t blockShift[kBulkKinds];
  RowFn oneRow[kModeCombinations];
  RowFn twoRow[kModeCombinations];
};

// The arithmetic a set follows: the portable one (luma clipped to 16..235
// and saturation by table) or the one of the vector converters (luma not
// clipped above, channels clamped to 0..255).
enum class Formula { kPortable, kVector };

// Per-pixel converters of either formula, and the portable bulk converters.
void fillPixelConverters(ConverterSet &set, Formula formula, bool withAlpha);
void fillPortableBulk(ConverterSet &set, bool withAlpha);

// Vector bulk converters; each returns false (leaving the set alone) when
// it is not compiled for this processor family.
bool fillSse2Bulk(ConverterSet &set, bool withAlpha);
bool fillAvx2Bulk(ConverterSet &set, bool withAlpha);

inline void storePixel(uint8_t *dst, uint32_t pixel) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(pixel), static_cast<uint8_t>(pixel >> 8),
                            static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 24)};
  std::memcpy(dst, bytes, 4);
}

}  // namespace kav::yuv
