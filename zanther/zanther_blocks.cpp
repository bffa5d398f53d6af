// The 4x4 block decoder: runs of two-colour, full, unchanged and solid
// blocks drawn into the caller's 8-bit target in normal, interlaced or
// doubled mode.
#include <cstring>

#include "kavutil/kavbase.h"
#include "zanther/zanther_internal.h"

namespace kav::zanther {
namespace {

constexpr uint32_t kRunLength[64] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,  17,  18,  19,  20,   21,  22,
    23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,  39,  40,  41,  42,   43,  44,
    45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 128, 256, 512, 1024, 2048};

// Byte c of entry m is 0xFF when bit c of m is set: pixel c takes colour 1.
constexpr uint32_t nibbleMask(uint32_t m) {
  return (m & 1 ? 0xFFu : 0) | (m & 2 ? 0xFF00u : 0) | (m & 4 ? 0xFF0000u : 0) | (m & 8 ? 0xFF000000u : 0);
}
constexpr uint32_t kNibbleMask[16] = {nibbleMask(0),  nibbleMask(1),  nibbleMask(2),  nibbleMask(3),
                                      nibbleMask(4),  nibbleMask(5),  nibbleMask(6),  nibbleMask(7),
                                      nibbleMask(8),  nibbleMask(9),  nibbleMask(10), nibbleMask(11),
                                      nibbleMask(12), nibbleMask(13), nibbleMask(14), nibbleMask(15)};

inline void store4(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// Row r of a block (4 pixels, pixel 0 in the low byte) to its line(s).
template <uint32_t Mode>
inline void putRow(uint8_t *block, ptrdiff_t pitch, uint32_t r, uint32_t pixels) {
  if constexpr (Mode == kDrawNormal) {
    store4(block + static_cast<ptrdiff_t>(r) * pitch, pixels);
  } else if constexpr (Mode == kDrawInterlaced) {
    store4(block + static_cast<ptrdiff_t>(2 * r) * pitch, pixels);
  } else {
    store4(block + static_cast<ptrdiff_t>(2 * r) * pitch, pixels);
    store4(block + static_cast<ptrdiff_t>(2 * r + 1) * pitch, pixels);
  }
}

template <uint32_t Mode>
inline void fillLines(uint8_t *at, ptrdiff_t pitch, uint8_t colour, size_t bytes) {
  constexpr uint32_t lines = Mode == kDrawDoubled ? 8 : 4;
  constexpr ptrdiff_t step = Mode == kDrawInterlaced ? 2 : 1;
  for (uint32_t i = 0; i < lines; ++i) std::memset(at + static_cast<ptrdiff_t>(i) * step * pitch, colour, bytes);
}

struct Decoder {
  Trees *trees;
  BitReader bits;
  uint32_t marker;

  uint32_t value(TreeIndex t) { return decodeValue(trees->tree[t], marker, bits); }
};

template <uint32_t Mode>
void drawTwoColour(Decoder &d, uint8_t *block, ptrdiff_t pitch) {
  const uint32_t colours = d.value(kColourTree);
  const uint32_t map = d.value(kMapTree);
  const uint32_t c0 = (colours & 0xFF) * 0x01010101u;
  const uint32_t diff = ((colours >> 8 ^ colours) & 0xFF) * 0x01010101u;
  for (uint32_t r = 0; r < 4; ++r) putRow<Mode>(block, pitch, r, c0 ^ (diff & kNibbleMask[(map >> (4 * r)) & 15]));
}

// One row from two full-block values: the first holds pixels 2 and 3, the
// second pixels 0 and 1.
inline uint32_t fullRow(Decoder &d) {
  const uint32_t right = d.value(kFullTree);
  const uint32_t left = d.value(kFullTree);
  return (left & 0xFFFF) | right << 16;
}

inline uint32_t quarterRow(uint32_t v) { return (v & 0xFF) * 0x0101u | (v >> 8 & 0xFF) * 0x01010000u; }

template <uint32_t Mode>
void drawFull(Decoder &d, uint8_t *block, ptrdiff_t pitch, uint32_t version) {
  if (version == 4) {
    if (d.bits.get1()) {
      const uint32_t top = quarterRow(d.value(kFullTree));
      const uint32_t bottom = quarterRow(d.value(kFullTree));
      putRow<Mode>(block, pitch, 0, top);
      putRow<Mode>(block, pitch, 1, top);
      putRow<Mode>(block, pitch, 2, bottom);
      putRow<Mode>(block, pitch, 3, bottom);
      return;
    }
    if (d.bits.get1()) {
      const uint32_t upper = fullRow(d);
      const uint32_t lower = fullRow(d);
      putRow<Mode>(block, pitch, 0, upper);
      putRow<Mode>(block, pitch, 1, upper);
      putRow<Mode>(block, pitch, 2, lower);
      putRow<Mode>(block, pitch, 3, lower);
      return;
    }
  }
  for (uint32_t r = 0; r < 4; ++r) putRow<Mode>(block, pitch, r, fullRow(d));
}

template <uint32_t Mode>
void decodeRuns(Decoder &d, const Target &t, ptrdiff_t pitch) {
  const uint32_t perRow = t.blocksPerRow;
  uint32_t rowsLeft = t.blockRows;
  uint32_t column = 0;
  uint8_t *rowStart = t.firstPixel;
  while (rowsLeft) {
    const uint32_t v = d.value(kTypeTree);
    if (d.bits.bad()) return;  // damaged or cut data: the rest keeps its pixels
    uint32_t run = kRunLength[(v >> 2) & 63];
    const uint32_t type = v & 3;
    // A run continues over row ends and stops with the picture.
    while (run && rowsLeft) {
      const uint32_t here = run < perRow - column ? run : perRow - column;
      uint8_t *block = rowStart + static_cast<ptrdiff_t>(column) * 4;
      switch (type) {
        case 0:
          for (uint32_t i = 0; i < here; ++i, block += 4) drawTwoColour<Mode>(d, block, pitch);
          break;
        case 1:
          for (uint32_t i = 0; i < here; ++i, block += 4) drawFull<Mode>(d, block, pitch, t.version);
          break;
        case 2:
          break;
        default:
          fillLines<Mode>(block, pitch, static_cast<uint8_t>(v >> 8), static_cast<size_t>(here) * 4);
          break;
      }
      run -= here;
      column += here;
      if (column == perRow) {
        column = 0;
        rowStart += t.blockRowStep;
        --rowsLeft;
      }
    }
  }
}

}  // namespace

void decodeVideo(ZanthHandle *h, const Target &t) {
  if (t.blocksPerRow == 0 || t.blockRows == 0) return;
  Decoder d;
  d.trees = treesOf(h);
  d.marker = d.trees->marker;
  d.bits.init(h->VideoData, h->VideoBytes);
  // lineStep is the pitch between a block's rows in normal mode and the
  // target's pitch in the others; putRow adds the mode's spacing.
  switch (t.mode) {
    case kDrawInterlaced: decodeRuns<kDrawInterlaced>(d, t, t.lineStep / 2); break;
    case kDrawDoubled: decodeRuns<kDrawDoubled>(d, t, t.lineStep); break;
    default: decodeRuns<kDrawNormal>(d, t, t.lineStep); break;
  }
}

}  // namespace kav::zanther

using namespace kav::zanther;

extern "C" {

KAV_EXPORT void KAVAPI ZanthSetTarget(ZanthHandle *h, int32_t left, int32_t top, int32_t pitch, uint32_t height,
                                      uint8_t *buffer, uint32_t mode) {
  (void)height;  // the 8-bit top-down mode needs no height
  if (!h) return;
  if (!buffer) {
    kavfree(h->Target);
    h->Target = nullptr;
    h->TargetSize = 0;
    return;
  }
  if (mode != 0) return;
  if (h->TargetSize < sizeof(Target)) {
    kavfree(h->Target);
    h->TargetSize = 0;
    h->Target = kavmalloc(sizeof(Target));
    if (!h->Target) return;
    h->TargetSize = sizeof(Target);
  }
  Target t{};
  const ptrdiff_t p = pitch;
  t.firstPixel = buffer + static_cast<ptrdiff_t>(top) * p + left;
  t.mode = h->DrawMode;
  t.lineStep = t.mode == kDrawInterlaced ? 2 * p : p;
  t.blocksPerRow = h->Width / 4;
  t.blockRows = h->StoredHeight / 4;
  t.blockStep = 4;
  t.blockRowStep = t.mode == kDrawNormal ? 4 * p : 8 * p;
  t.version = h->Version;
  std::memcpy(h->Target, &t, sizeof t);
}

}  // extern "C"
