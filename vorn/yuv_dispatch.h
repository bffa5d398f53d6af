// Which converters the YUV blit uses: the two format descriptors (without and
// with alpha), the vector unit probed at YUV_init, and the fixed strategy
// choices for the leading pixels and for height doubling.
#pragma once

#include <cstdint>

#include "vorn/yuv_rows.h"

namespace kav::yuv {

enum class SimdLevel { kNone = 0, kSse2 = 1, kAvx2 = 2 };

struct FormatDescriptor {
  uint32_t bytesPerPixel;
  ConverterSet portable;
  ConverterSet vector;  // the portable set again when no vector unit is used
};

// Probes the processor (and KAV_NO_SIMD=1, which rules the vector unit out)
// and fills the descriptors for what it found.
void probeProcessor();

// The level in use. Before any probe it is kNone.
SimdLevel simdLevel();

// Uses at most the given level (never more than the processor has); for
// tests and benchmarks that compare the levels. The next probeProcessor()
// returns to the best level.
void limitSimdLevel(SimdLevel level);

const FormatDescriptor &descriptor(bool withAlpha);

// Leading pixels of a row pair: bring the destination column to a multiple
// of 4, or the source column to even.
enum class Leading { kAlignDestination, kAlignSource };
// Bulk part of a height-doubled row pair: convert it once per destination
// row, or once into the line buffer and copy that to both rows.
enum class HeightDoubling { kConvertTwice, kCopyLineBuffer };

// Both choices write identical pixels. Aligning the source column lets every
// bulk run start on an even column, where the vector converters compute the
// chroma terms once per sample instead of twice.
struct Strategy {
  Leading leading = Leading::kAlignSource;
  HeightDoubling heightDoubling = HeightDoubling::kCopyLineBuffer;
};

Strategy strategy();
void setStrategy(const Strategy &s);

}  // namespace kav::yuv
