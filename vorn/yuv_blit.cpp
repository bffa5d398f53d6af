// The YUV blit: walks the source rectangle in row pairs that share a chroma
// row and hands the pieces of each pair to the converters of the chosen set.
#include <cstddef>
#include <cstring>

#include "kavutil/kavbase.h"
#include "kavutil/yuv.h"
#include "vorn/yuv_dispatch.h"
#include "vorn/yuv_rows.h"
#include "vorn/yuv_tables.h"

namespace kav::yuv {
namespace {

// Two rows of converted pixels for the copy strategy of height doubling;
// grown on demand and kept for the life of the process.
uint8_t *gLineBuffer = nullptr;
size_t gLineRowBytes = 0;

// Two rows of at least rowBytes each, rows 32-byte aligned; null when the
// buffer cannot be had (the caller then converts twice).
uint8_t *lineBuffer(size_t rowBytes, size_t *rowStride) {
  const size_t rounded = (rowBytes + 31) & ~static_cast<size_t>(31);
  if (rounded > gLineRowBytes) {
    if (rounded > 0x7FFFFFF0u / 2) return nullptr;
    auto *grown = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(2 * rounded)));
    if (!grown) return nullptr;
    kavfree(gLineBuffer);
    gLineBuffer = grown;
    gLineRowBytes = rounded;
  }
  *rowStride = gLineRowBytes;
  return gLineBuffer;
}

struct Job {
  const ConverterSet *set;
  RowContext ctx;
  int mode;  // kModeGrey | kModeWide | kModeTall
  BulkKind bulkKind;
  int32_t pixelBytes;  // destination bytes per source pixel (8 when doubled)
  uint8_t *dst;        // destination of the rectangle's first pixel
  ptrdiff_t dstPitch;  // from one destination row to the next one written
  ptrdiff_t rowStep;   // from one source row's destination to the next one's
  const uint8_t *luma;
  const uint8_t *alpha;
  const uint8_t *chroma1;
  const uint8_t *chroma2;
  ptrdiff_t srcPitch;
  ptrdiff_t chromaPitch;
  int32_t srcX, srcY, w;
  int32_t dstX;
  Strategy strategy;
};

// The span of n pixels from column srcX + offset on `rows` rows starting at
// rectangle row i.
Span spanAt(const Job &job, int32_t i, int rows, int32_t offset, int32_t n) {
  Span s{};
  const ptrdiff_t row = static_cast<ptrdiff_t>(job.srcY) + i;
  const ptrdiff_t column = static_cast<ptrdiff_t>(job.srcX) + offset;
  const ptrdiff_t chroma = (row / 2) * job.chromaPitch + column / 2;
  for (int r = 0; r < rows; ++r) {
    s.luma[r] = job.luma + (row + r) * job.srcPitch + column;
    if (job.alpha) s.alpha[r] = job.alpha + (row + r) * job.srcPitch + column;
    s.dst[r] = job.dst + (i + r) * job.rowStep + static_cast<ptrdiff_t>(offset) * job.pixelBytes;
    if (job.mode & kModeTall) s.dstCopy[r] = s.dst[r] + job.dstPitch;
  }
  s.chroma1 = job.chroma1 + chroma;
  s.chroma2 = job.chroma2 + chroma;
  s.n = n;
  s.phase = static_cast<int32_t>(column & 1);
  return s;
}

void convertSingleRow(const Job &job, int32_t i) {
  job.set->oneRow[job.mode](spanAt(job, i, 1, 0, job.w), job.ctx);
}

void convertBulk(const Job &job, const Span &s) {
  const RowFn bulk = job.set->bulk[job.bulkKind][s.phase];
  if (!(job.mode & kModeTall)) {
    bulk(s, job.ctx);
    return;
  }
  const size_t rowBytes = static_cast<size_t>(s.n) * static_cast<size_t>(job.pixelBytes);
  size_t stride = 0;
  uint8_t *buffer = job.strategy.heightDoubling == HeightDoubling::kCopyLineBuffer ? lineBuffer(rowBytes, &stride)
                                                                                    : nullptr;
  if (!buffer) {
    bulk(s, job.ctx);
    Span second = s;
    second.dst[0] = s.dstCopy[0];
    second.dst[1] = s.dstCopy[1];
    bulk(second, job.ctx);
    return;
  }
  Span buffered = s;
  buffered.dst[0] = buffer;
  buffered.dst[1] = buffer + stride;
  bulk(buffered, job.ctx);
  for (int r = 0; r < 2; ++r) {
    std::memcpy(s.dst[r], buffered.dst[r], rowBytes);
    std::memcpy(s.dstCopy[r], buffered.dst[r], rowBytes);
  }
}

void convertPair(const Job &job, int32_t i) {
  const int32_t lead = job.strategy.leading == Leading::kAlignSource
                           ? (job.srcX & 1)
                           : static_cast<int32_t>((0u - static_cast<uint32_t>(job.dstX)) & 3u);
  const int32_t leading = lead < job.w ? lead : job.w;
  const int32_t rest = job.w - leading;
  const int32_t bulkCount = rest & ~((int32_t{1} << job.set->blockShift[job.bulkKind]) - 1);
  const int32_t trailing = rest - bulkCount;
  if (leading > 0) job.set->twoRow[job.mode](spanAt(job, i, 2, 0, leading), job.ctx);
  if (bulkCount > 0) convertBulk(job, spanAt(job, i, 2, leading, bulkCount));
  if (trailing > 0) job.set->twoRow[job.mode](spanAt(job, i, 2, leading + bulkCount, trailing), job.ctx);
}

int32_t blit(uint8_t *dst, int32_t dstX, int32_t dstY, int32_t dstPitch, const uint8_t *src, int32_t srcX,
             int32_t srcY, int32_t w, int32_t h, int32_t srcPitch, int32_t srcPlaneHeight, const uint8_t *alpha,
             uint32_t flags, bool withAlpha) {
  const Tables &t = tables();
  const int32_t vectorPresent = simdLevel() != SimdLevel::kNone ? 1 : 0;
  if (!dst || !src || (withAlpha && !alpha)) return vectorPresent;
  if (w <= 0 || h <= 0 || srcX < 0 || srcY < 0 || srcPitch <= 0 || srcPlaneHeight < 0) return vectorPresent;

  const uint32_t heightWidthMode = (flags & YUV_MODE_MASK) >> 28;
  ptrdiff_t dPitch = dstPitch;
  ptrdiff_t sPitch = srcPitch;
  int32_t planeHeight = srcPlaneHeight;
  if (heightWidthMode == 6) {
    // Field: a half-height picture of the even rows (and every other
    // chroma row), written to every other destination row.
    h /= 2;
    srcY /= 2;
    planeHeight /= 2;
    dPitch *= 2;
    sPitch *= 2;
    if (h == 0) return vectorPresent;
  }
  Job job{};
  job.dst = dst + static_cast<ptrdiff_t>(dstY) * dPitch + static_cast<ptrdiff_t>(dstX) * 4;
  if (heightWidthMode == 2 || heightWidthMode == 5) dPitch *= 2;

  const bool wide = heightWidthMode == 3 || heightWidthMode == 4 || heightWidthMode == 5;
  const bool tall = heightWidthMode == 1 || heightWidthMode == 4;
  const bool grey = (flags & YUV_FLAG_GREY) != 0;
  const bool useVector = vectorPresent && !(flags & YUV_FLAG_NO_SIMD);
  const bool exchanged = (flags & YUV_FLAG_EXCHANGE_CHROMA) != 0;
  arrangeChroma(exchanged);

  const FormatDescriptor &d = descriptor(withAlpha);
  job.set = useVector ? &d.vector : &d.portable;
  job.ctx.tables = &t;
  job.ctx.exchanged = exchanged;
  job.mode = (grey ? kModeGrey : 0) | (wide ? kModeWide : 0) | (tall ? kModeTall : 0);
  job.bulkKind = static_cast<BulkKind>((grey ? kBulkGrey : 0) | (wide ? kBulkWide : 0));
  job.pixelBytes = static_cast<int32_t>(d.bytesPerPixel) * (wide ? 2 : 1);
  job.dstPitch = dPitch;
  job.rowStep = tall ? 2 * dPitch : dPitch;
  job.luma = src;
  job.alpha = withAlpha ? alpha : nullptr;
  job.chromaPitch = sPitch / 2;
  job.chroma1 = src + sPitch * planeHeight;
  job.chroma2 = job.chroma1 + static_cast<ptrdiff_t>(planeHeight / 2) * (sPitch / 2);
  job.srcPitch = sPitch;
  job.srcX = srcX;
  job.srcY = srcY;
  job.w = w;
  job.dstX = dstX;
  job.strategy = strategy();

  int32_t i = 0;
  // An odd first row shares its chroma row with the row above it, which is
  // not converted, so it goes alone.
  if (srcY & 1) convertSingleRow(job, i++);
  for (; i + 1 < h; i += 2) convertPair(job, i);
  if (i < h) convertSingleRow(job, i);
  return vectorPresent;
}

}  // namespace
}  // namespace kav::yuv

extern "C" {

KAV_EXPORT void KAVAPI YUV_init(int32_t type) {
  kav::yuv::init(type);
  kav::yuv::probeProcessor();
}

KAV_EXPORT int32_t KAVAPI YUV_blit_32bpp(uint8_t *dst, int32_t dstX, int32_t dstY, int32_t dstPitch,
                                         const uint8_t *src, int32_t srcX, int32_t srcY, int32_t w, int32_t h,
                                         int32_t srcPitch, int32_t srcPlaneHeight, uint32_t flags) {
  return kav::yuv::blit(dst, dstX, dstY, dstPitch, src, srcX, srcY, w, h, srcPitch, srcPlaneHeight, nullptr, flags,
                        false);
}

KAV_EXPORT int32_t KAVAPI YUV_blit_32abpp(uint8_t *dst, int32_t dstX, int32_t dstY, int32_t dstPitch,
                                          const uint8_t *src, int32_t srcX, int32_t srcY, int32_t w, int32_t h,
                                          int32_t srcPitch, int32_t srcPlaneHeight, const uint8_t *alpha,
                                          uint32_t flags) {
  return kav::yuv::blit(dst, dstX, dstY, dstPitch, src, srcX, srcY, w, h, srcPitch, srcPlaneHeight, alpha, flags,
                        true);
}

}  // extern "C"
