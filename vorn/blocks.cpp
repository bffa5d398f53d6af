#include "vorn/blocks.h"

#include <cstring>

#include "vorn/bitreader.h"
#include "vorn/bundles.h"
#include "vorn/coefficients.h"
#include "vorn/idct.h"
#include "vorn/tables.h"

namespace kav::vorn {
namespace {

enum BlockType : uint32_t {
  kSkip = 0,
  kScaled = 1,
  kMotion = 2,
  kRun = 3,
  kResidue = 4,
  kIntra = 5,
  kFill = 6,
  kInter = 7,
  kPattern = 8,
  kRaw = 9,
};

inline void copy8x8(uint8_t *dst, const uint8_t *src, size_t pitch) {
  for (int j = 0; j < 8; ++j, dst += pitch, src += pitch) std::memcpy(dst, src, 8);
}

// A row of a multiple of 8 bytes: 32 bytes at a time, then 8.
inline void copyRow(uint8_t *dst, const uint8_t *src, uint32_t bytes) {
  uint32_t k = 0;
  for (; k + 32 <= bytes; k += 32) std::memcpy(dst + k, src + k, 32);
  for (; k < bytes; k += 8) std::memcpy(dst + k, src + k, 8);
}

inline void fillRow(uint8_t *dst, uint8_t colour, uint32_t bytes) {
  uint8_t v[32];
  std::memset(v, colour, 32);
  uint32_t k = 0;
  for (; k + 32 <= bytes; k += 32) std::memcpy(dst + k, v, 32);
  for (; k < bytes; k += 8) std::memcpy(dst + k, v, 8);
}

inline void store8x8(uint8_t *dst, size_t pitch, const uint8_t *src) {
  for (int j = 0; j < 8; ++j, dst += pitch, src += 8) std::memcpy(dst, src, 8);
}

inline void fill8x8(uint8_t *dst, size_t pitch, uint8_t colour) {
  uint64_t v = 0x0101010101010101ull * colour;
  for (int j = 0; j < 8; ++j, dst += pitch) std::memcpy(dst, &v, 8);
}

// Every source pixel becomes a 2x2 square.
inline void storeDoubled(uint8_t *dst, size_t pitch, const uint8_t *src) {
  for (int j = 0; j < 8; ++j, src += 8) {
    uint8_t row[16];
    for (int k = 0; k < 8; ++k) row[2 * k] = row[2 * k + 1] = src[k];
    std::memcpy(dst, row, 16);
    std::memcpy(dst + pitch, row, 16);
    dst += 2 * pitch;
  }
}

inline void addPrediction(uint8_t *dst, size_t pitch, const uint8_t *pred, const uint8_t *delta) {
  for (int j = 0; j < 8; ++j, dst += pitch, pred += pitch, delta += 8)
    for (int k = 0; k < 8; ++k) dst[k] = uint8_t(pred[k] + delta[k]);
}

class PlaneDecoder {
 public:
  PlaneDecoder(const PlaneTarget &t, const uint8_t *data, size_t size, size_t start)
      : t_(t), br_(data, size, start), bundles_(t.bundles, t.width, t.bundleWidth) {}

  PlaneResult run() {
    PlaneResult result;
    if (!bundles_.readTrees(br_)) return result;
    const unsigned blockRows = t_.height / 8;
    for (unsigned r = 0; r < blockRows; ++r) {
      if (!bundles_.refill(br_, t_.oldRevision)) return result;
      uint8_t *mapRow = t_.map + size_t(t_.scale == 1 ? r >> 1 : r) * t_.mapPitch;
      for (uint32_t x = 0; x < t_.width;) {
        uint32_t step = 8;
        if (!block(x, r, mapRow, step)) return result;
        x += step;
      }
    }
    result.ok = true;
    result.end = br_.endOffset();
    return result;
  }

 private:
  bool intact() const { return !bundles_.failed() && !br_.overrun(); }
  uint8_t *out(uint32_t x, uint32_t y) const { return t_.dst + size_t(y) * t_.rowBytes + x; }
  void mark(uint8_t *mapRow, uint32_t x) const { mapRow[((x >> 3) * t_.scale) >> 1] = 1; }

  // The 8x8 area of the previous plane at the block's position moved by the
  // next offsets, or null when it would leave that plane.
  const uint8_t *motionSource(uint32_t x, uint32_t y) {
    int64_t sx = int64_t(x) + bundles_.takeSigned(kXOffsets);
    int64_t sy = int64_t(y) + bundles_.takeSigned(kYOffsets);
    if (sx < 0 || sy < 0 || sx + 8 > t_.rowBytes || sy + 8 > t_.bufferRows) return nullptr;
    return t_.ref + size_t(sy) * t_.rowBytes + size_t(sx);
  }

  bool block(uint32_t x, unsigned r, uint8_t *mapRow, uint32_t &step) {
    const uint32_t y = r * 8;
    const size_t pitch = t_.rowBytes;
    uint32_t type = bundles_.take(kBlockTypes);
    if (bundles_.failed()) return false;
    uint8_t src[64];
    switch (type) {
      case kSkip: {
        // Neighbouring skips are copied as one area.
        uint32_t more = bundles_.takeRepeats(kBlockTypes, kSkip, (t_.width - x) / 8 - 1);
        uint32_t bytes = 8 * (more + 1);
        uint8_t *d = out(x, y);
        const uint8_t *s = t_.ref + size_t(y) * pitch + x;
        for (int j = 0; j < 8; ++j, d += pitch, s += pitch) copyRow(d, s, bytes);
        step = bytes;
        return true;
      }
      case kScaled: return scaled(x, r, mapRow, step);
      case kMotion: {
        const uint8_t *from = motionSource(x, y);
        if (!from || !intact()) return false;
        copy8x8(out(x, y), from, pitch);
        break;
      }
      case kResidue: {
        const uint8_t *from = motionSource(x, y);
        if (!from) return false;
        unsigned budget = br_.bits(7);
        int8_t residue[64] = {};
        readResidue(br_, residue, budget);
        if (!intact()) return false;
        uint8_t delta[64];
        for (int k = 0; k < 64; ++k) delta[kScan[k]] = uint8_t(residue[k]);
        addPrediction(out(x, y), pitch, from, delta);
        break;
      }
      case kInter: {
        const uint8_t *from = motionSource(x, y);
        if (!from) return false;
        int32_t coef[64] = {};
        coef[0] = bundles_.takeInterDc();
        readCoefficients(br_, coef);
        const uint32_t *quant = interQuant(br_.bits(4));
        if (!intact()) return false;
        uint8_t delta[64];
        transform(coef, quant, delta);
        addPrediction(out(x, y), pitch, from, delta);
        break;
      }
      case kFill: {
        uint8_t colour = uint8_t(bundles_.take(kColours));
        if (!intact()) return false;
        // Neighbouring fills of one colour are drawn as one area.
        uint32_t more = bundles_.takeFillRepeats(kFill, colour, (t_.width - x) / 8 - 1);
        if (more == 0) {
          fill8x8(out(x, y), pitch, colour);
          break;
        }
        uint32_t bytes = 8 * (more + 1);
        uint8_t *d = out(x, y);
        for (int j = 0; j < 8; ++j, d += pitch) fillRow(d, colour, bytes);
        for (uint32_t k = 0; k < bytes; k += 8) mark(mapRow, x + k);
        step = bytes;
        return true;
      }
      case kRun:
      case kIntra:
      case kPattern:
      case kRaw:
        if (!source(type, src) || !intact()) return false;
        store8x8(out(x, y), pitch, src);
        break;
      default:
        // Types 10..15 carry nothing and leave the block as it was.
        return true;
    }
    mark(mapRow, x);
    return true;
  }

  // A 16x16 area drawn from an 8x8 source, on even block rows; on odd rows
  // the marker of the area's lower half.
  bool scaled(uint32_t x, unsigned r, uint8_t *mapRow, uint32_t &step) {
    step = 16;
    if (x + 16 > t_.width) return false;
    if (r & 1) {
      mark(mapRow, x);
      mark(mapRow, x + 8);
      return true;
    }
    const uint32_t y = r * 8;
    if (y + 16 > t_.bufferRows) return false;
    uint32_t sub = bundles_.take(kSubTypes);
    if (bundles_.failed()) return false;
    uint8_t src[64];
    switch (sub) {
      case kFill: {
        uint8_t colour = uint8_t(bundles_.take(kColours));
        if (!intact()) return false;
        uint8_t *d = out(x, y);
        for (int j = 0; j < 16; ++j, d += t_.rowBytes) std::memset(d, colour, 16);
        break;
      }
      case kRun:
      case kIntra:
      case kPattern:
      case kRaw:
        if (!source(sub, src) || !intact()) return false;
        storeDoubled(out(x, y), t_.rowBytes, src);
        break;
      default: break;
    }
    mark(mapRow, x);
    mark(mapRow, x + 8);
    return true;
  }

  // Builds the 8x8 pixels of a run, intra, pattern or raw block.
  bool source(uint32_t type, uint8_t src[64]) {
    switch (type) {
      case kRun: return runBlock(src);
      case kIntra: {
        int32_t coef[64] = {};
        coef[0] = int32_t(bundles_.takeIntraDc());
        readCoefficients(br_, coef);
        const uint32_t *quant = intraQuant(br_.bits(4));
        transform(coef, quant, src);
        return true;
      }
      case kPattern: {
        uint8_t c0 = uint8_t(bundles_.take(kColours));
        uint8_t c1 = uint8_t(bundles_.take(kColours));
        for (int j = 0; j < 8; ++j) {
          uint32_t rowBits = bundles_.take(kPatterns);
          for (int k = 0; k < 8; ++k) src[j * 8 + k] = (rowBits >> k) & 1 ? c1 : c0;
        }
        return true;
      }
      default: {
        const uint8_t *colours = bundles_.takeColours(64);
        if (!colours) return false;
        std::memcpy(src, colours, 64);
        return true;
      }
    }
  }

  bool runBlock(uint8_t src[64]) {
    const uint8_t *order = kRunPatterns[br_.bits(4)];
    unsigned i = 0;
    while (i < 63) {
      bool single = br_.bit();
      unsigned n = bundles_.take(kRuns) + 1;
      if (i + n > 64 || bundles_.failed()) return false;
      if (single) {
        uint8_t colour = uint8_t(bundles_.take(kColours));
        for (unsigned j = 0; j < n; ++j) src[order[i + j]] = colour;
      } else {
        const uint8_t *colours = bundles_.takeColours(n);
        if (!colours) return false;
        for (unsigned j = 0; j < n; ++j) src[order[i + j]] = colours[j];
      }
      i += n;
    }
    if (i == 63) src[order[63]] = uint8_t(bundles_.take(kColours));
    return true;
  }

  void transform(const int32_t coef[64], const uint32_t *quant, uint8_t out[64]) {
    int32_t raster[64];
    for (int k = 0; k < 64; ++k) raster[kScan[k]] = coef[k];
    idct_(raster, quant, out);
  }

  const PlaneTarget &t_;
  BitReader br_;
  BundleSet bundles_;
  InverseTransformFn idct_ = inverseTransform();
};

}  // namespace

PlaneResult decodePlane(const PlaneTarget &target, const uint8_t *data, size_t size, size_t start) {
  PlaneDecoder decoder(target, data, size, start);
  return decoder.run();
}

}  // namespace kav::vorn
