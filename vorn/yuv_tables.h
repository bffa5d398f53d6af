// Process-wide look-up tables of the YUV to RGB converters.
#pragma once

#include <cstdint>

namespace kav::yuv {

// Offset of the value 0 inside the saturation table. The most negative sum a
// channel can reach is Yt 0 + CB[0] = -258, the largest 254 + 256 = 510.
inline constexpr int kSatZero = 384;
inline constexpr int kSatSize = 1024;

struct Tables {
  // Luma term of the portable converters: clipped to 16..235 first.
  int32_t yt[256];
  // Luma term of the vector converters: ((max(y - 16, 0) * 4) * 19077) >> 16,
  // not clipped at 235 (0..278).
  int32_t ytVector[256];
  // Chroma terms in the arrangement in place (see arrangeChroma).
  int32_t cb[256];
  int32_t gu[256];
  int32_t gv[256];
  int32_t cr[256];
  // sat[kSatZero + v] is v clamped to 0..255.
  uint8_t sat[kSatSize];
  // Grey level of a luma sample repeated in bytes 0, 1 and 2.
  uint32_t grey[256];
};

// The tables, built on first use. Reading them before init() is safe: every
// accessor builds them when needed.
const Tables &tables();

// Builds the tables once; records type (unless -1) and rebuilds what depends
// on it when it changed.
void init(int32_t type);

// The type recorded by the last init() that gave one (0 before any).
int32_t recordedType();

// Puts the chroma tables into the arrangement for the exchange flag: when
// exchanged, CB and CR trade contents, and so do GU and GV. Copies only when
// the arrangement in place differs.
void arrangeChroma(bool exchanged);
bool chromaExchanged();

// The formulas the tables are built from, for one sample value.
int32_t lumaTerm(int e);
int32_t lumaTermVector(int e);
int32_t blueFromCb(int e);
int32_t greenFromCb(int e);
int32_t greenFromCr(int e);
int32_t redFromCr(int e);
uint32_t greyLevel(int e);

}  // namespace kav::yuv
