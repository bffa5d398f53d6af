#include "vorn/expand.h"

#include <kavutil/vorn.h>

#include <cstring>

#include "vorn/blocks.h"
#include "vorn/bundles.h"

namespace kav::vorn {
namespace {

uint64_t roundUp8(uint64_t v) { return (v + 7) & ~uint64_t(7); }

bool readWord(const uint8_t *data, size_t size, size_t pos, uint32_t &word) {
  if (pos > size || size - pos < 4) return false;
  uint8_t b[4];
  std::memcpy(b, data + pos, 4);
  word = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

}  // namespace

ExpandStatus expandFrame(const FrameArgs &a, const uint8_t *data, size_t size) {
  const bool grey = a.flags & VORN_GREY_SCALE;
  const bool oldRevision = a.flags & VORN_OLD_REVISION;
  const bool hasAlpha = a.headerFlags & VORN_HEADER_HAS_ALPHA;
  const bool decodeAlpha = hasAlpha && (a.flags & VORN_DECODE_ALPHA);

  // Every block's map byte and every area must lie inside the caller's
  // buffers, whose geometry follows from pitch and planeHeight.
  const uint64_t lumaW = roundUp8(a.width), lumaH = roundUp8(a.height);
  const uint64_t chromaW = roundUp8((uint64_t(a.width) + 1) >> 1), chromaH = roundUp8((uint64_t(a.height) + 1) >> 1);
  const uint64_t mapW = a.pitch / 16, mapH = a.planeHeight / 16;
  if (!a.cur || !a.prev || !a.changedMap || !a.bundles || (!data && size)) return ExpandStatus::kBadGeometry;
  if ((lumaW + 8) / 16 > mapW || (lumaH + 8) / 16 > mapH) return ExpandStatus::kBadGeometry;
  if (!grey && (chromaW / 8 > mapW || chromaH / 8 > mapH)) return ExpandStatus::kBadGeometry;
  if (decodeAlpha && (!a.alphaCur || !a.alphaPrev)) return ExpandStatus::kBadGeometry;
  for (unsigned i = 0; i < kBundleCount; ++i)
    if (!a.bundles[i]) return ExpandStatus::kBadGeometry;

  PlaneTarget luma;
  luma.rowBytes = a.pitch;
  luma.bufferRows = a.planeHeight;
  luma.width = uint32_t(lumaW);
  luma.height = uint32_t(lumaH);
  luma.scale = 1;
  luma.map = a.changedMap;
  luma.mapPitch = a.pitch / 16;
  luma.bundles = a.bundles;
  luma.bundleWidth = a.pitch;
  luma.oldRevision = oldRevision;

  size_t pos = 0;
  if (hasAlpha) {
    uint32_t sectionBytes;
    if (!readWord(data, size, pos, sectionBytes) || sectionBytes > size - pos) return ExpandStatus::kBadLayout;
    if (decodeAlpha) {
      PlaneTarget alpha = luma;
      alpha.dst = a.alphaCur;
      alpha.ref = a.alphaPrev;
      if (!decodePlane(alpha, data, size, pos + 4).ok) return ExpandStatus::kBadAlpha;
    }
    pos += sectionBytes;
  }

  size_t lumaStart = pos, chromaStart = 0;
  if (!oldRevision) {
    uint32_t lumaBytes;
    if (!readWord(data, size, pos, lumaBytes) || lumaBytes > size - pos) return ExpandStatus::kBadLayout;
    lumaStart = pos + 4;
    chromaStart = pos + lumaBytes;
  }
  luma.dst = a.cur;
  luma.ref = a.prev;
  PlaneResult lumaResult = decodePlane(luma, data, size, lumaStart);
  if (!lumaResult.ok) return ExpandStatus::kBadLuma;
  if (grey) return ExpandStatus::kOk;
  if (oldRevision) chromaStart = lumaResult.end;

  PlaneTarget chroma = luma;
  chroma.rowBytes = a.pitch / 2;
  chroma.bufferRows = a.planeHeight / 2;
  chroma.width = uint32_t(chromaW);
  chroma.height = uint32_t(chromaH);
  chroma.scale = 2;
  const size_t lumaBytes = size_t(a.pitch) * a.planeHeight;
  const size_t chromaBytes = size_t(chroma.rowBytes) * chroma.bufferRows;
  size_t start = chromaStart;
  for (int plane = 0; plane < 2; ++plane) {
    chroma.dst = a.cur + lumaBytes + plane * chromaBytes;
    chroma.ref = a.prev + lumaBytes + plane * chromaBytes;
    if (start > size) return ExpandStatus::kBadLayout;
    PlaneResult r = decodePlane(chroma, data, size, start);
    if (!r.ok) return ExpandStatus::kBadChroma;
    start = r.end;
  }
  return ExpandStatus::kOk;
}

}  // namespace kav::vorn

extern "C" {

KAV_EXPORT void KAVAPI ExpandBundleSizes(uint32_t *sizes, uint32_t width) {
  if (sizes) kav::vorn::bundleSizes(sizes, width);
}

// The caller guarantees that the frame data holds every bit its planes use
// (and the word after), so the data is taken as unbounded here; the format's
// other limits are still enforced.
KAV_EXPORT void KAVAPI ExpandVorn(uint8_t *cur, const uint8_t *prev, uint8_t *alphaCur, const uint8_t *alphaPrev,
                                  uint8_t *changedMap, uint32_t width, uint32_t height, uint32_t pitch,
                                  uint32_t planeHeight, const uint8_t *frameData, uint32_t keyFrame,
                                  void *const *bundles, uint32_t flags, uint32_t headerFlags) {
  (void)keyFrame;  // key frames simply make no reference to the previous frame
  if (!frameData) return;
  kav::vorn::FrameArgs args;
  args.cur = cur;
  args.prev = prev;
  args.alphaCur = alphaCur;
  args.alphaPrev = alphaPrev;
  args.changedMap = changedMap;
  args.width = width;
  args.height = height;
  args.pitch = pitch;
  args.planeHeight = planeHeight;
  args.bundles = bundles;
  args.flags = flags;
  args.headerFlags = headerFlags;
  kav::vorn::expandFrame(args, frameData, SIZE_MAX);
}

}  // extern "C"
