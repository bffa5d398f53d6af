// ZSoft PCX: 1, 2, 4 or 8 bits per plane, 1 to 4 planes (paletted up to 8
// index bits, 24-bit as three 8-bit planes, a fourth plane ignored),
// run-length or raw, scan lines padded to the stored line length.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

constexpr size_t kHeaderBytes = 128;

struct PcxHeader {
  int version, encoding, bitsPerPlane, planes;
  int32_t width, height;
  uint32_t lineBytes;  // per plane
};

int parseHeader(ByteView in, PcxHeader &h) {
  if (in.size < 1 || in.data[0] != 0x0A) return kStillNotFormat;
  if (in.size < 4) return kStillTruncated;
  const uint8_t *p = in.data;
  h.version = p[1];
  h.encoding = p[2];
  h.bitsPerPlane = p[3];
  if (h.version != 0 && h.version != 2 && h.version != 3 && h.version != 4 && h.version != 5) return kStillNotFormat;
  if (h.encoding != 0 && h.encoding != 1) return kStillNotFormat;
  if (h.bitsPerPlane != 1 && h.bitsPerPlane != 2 && h.bitsPerPlane != 4 && h.bitsPerPlane != 8) return kStillNotFormat;
  if (in.size < kHeaderBytes) return kStillTruncated;
  const int xmin = rd16le(p + 4), ymin = rd16le(p + 6), xmax = rd16le(p + 8), ymax = rd16le(p + 10);
  h.planes = p[65];
  h.lineBytes = rd16le(p + 66);
  if (xmax < xmin || ymax < ymin) return kStillCorrupt;
  h.width = xmax - xmin + 1;
  h.height = ymax - ymin + 1;
  if (h.planes < 1 || h.planes > 4) return kStillCorrupt;
  const bool trueColour = h.bitsPerPlane == 8 && h.planes >= 3;
  if (!trueColour && h.bitsPerPlane * h.planes > 8) return kStillUnsupported;
  // (Oversized pictures are left for the decoder to refuse, so the query
  // still reports their size.)
  if (h.width <= kMaxSide && h.lineBytes < packedRowBytes(h.width, h.bitsPerPlane)) return kStillCorrupt;
  return kStillOk;
}

int depthOf(const PcxHeader &h) { return h.bitsPerPlane * h.planes; }

// A run may carry over from one scan line into the next.
struct RunCarry {
  size_t count = 0;
  uint8_t value = 0;
};

// Expands run-length data from p[pos] (p[end] is the end of the data) into
// one line of exactly n bytes at dst; advances pos. False when the data
// ends first. Reads stay below p + end, writes inside dst[0, n). The
// cursors are kept in locals so they stay in registers.
bool expandLine(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, RunCarry &carry) {
  uint8_t *d = dst;
  uint8_t *const dEnd = dst + n;
  const uint8_t *s = p + pos;
  const uint8_t *const sEnd = p + end;
  // What is left of a run from the last line.
  if (carry.count) {
    const size_t k = std::min(carry.count, n);
    std::memset(d, carry.value, k);
    d += k;
    carry.count -= k;
  }
  while (d < dEnd) {
    // Eight bytes at a time while none of them is a run count (top two bits
    // set); the copy may write past the literals, which later bytes replace.
    if (dEnd - d >= 8 && sEnd - s >= 8) {
      uint64_t v;
      std::memcpy(&v, s, 8);
      const uint64_t counts = v & (v << 1) & 0x8080808080808080ull;
      std::memcpy(d, &v, 8);
      if (!counts) {
        d += 8;
        s += 8;
        continue;
      }
      const size_t plain = static_cast<size_t>(__builtin_ctzll(counts)) / 8;
      d += plain;
      s += plain;
    }
    if (s >= sEnd) return false;
    const uint8_t b = *s++;
    if ((b & 0xC0) != 0xC0) {
      *d++ = b;
      continue;
    }
    if (s >= sEnd) return false;
    const size_t count = b & 0x3Fu;
    const uint8_t v = *s++;
    const size_t room = static_cast<size_t>(dEnd - d);
    if (count == 1) {
      *d++ = v;
    } else if (count <= room) {
      std::memset(d, v, count);
      d += count;
    } else {
      std::memset(d, v, room);
      d += room;
      carry.count = count - room;
      carry.value = v;
    }
  }
  pos = static_cast<size_t>(s - p);
  return true;
}

// Packs n bytes into out, which has room for 2 * n; returns the bytes
// written. Runs never cross lines.
size_t packLine(const uint8_t *s, size_t n, uint8_t *out) {
  uint8_t *o = out;
  size_t i = 0;
  while (i < n) {
    const uint8_t v = s[i];
    if (i + 1 < n && s[i + 1] == v) {
      size_t run = 2;
      while (i + run < n && run < 63 && s[i + run] == v) ++run;
      *o++ = static_cast<uint8_t>(0xC0 | run);
      *o++ = v;
      i += run;
      continue;
    }
    if ((v & 0xC0) == 0xC0) *o++ = 0xC1;
    *o++ = v;
    ++i;
  }
  return static_cast<size_t>(o - out);
}

}  // namespace

int pcxInfo(ByteView in, StillInfo *info) {
  PcxHeader h;
  const int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  info->width = h.width;
  info->height = h.height;
  info->bitsPerPixel = depthOf(h);
  info->compression = static_cast<uint32_t>(h.encoding);
  return kStillOk;
}

int pcxDecode(ByteView in, StillImage *image) {
  PcxHeader h;
  int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  if (h.width > kMaxSide || h.height > kMaxSide) return kStillTooLarge;
  const int32_t w = h.width, hh = h.height;
  const int depth = depthOf(h);
  const bool trueColour = h.bitsPerPlane == 8 && h.planes >= 3;
  const uint8_t *p = in.data;

  Palette pal;
  clearPalette(pal);
  size_t dataEnd = in.size;
  if (!trueColour) {
    if (depth == 8) {
      // The 256-entry table trails the file behind a 0x0C marker; without
      // it the picture is grey.
      if (in.size >= kHeaderBytes + 769 && p[in.size - 769] == 0x0C) {
        const uint8_t *t = p + in.size - 768;
        for (int i = 0; i < 256; ++i) {
          pal.bgrx[i][0] = t[3 * i + 2];
          pal.bgrx[i][1] = t[3 * i + 1];
          pal.bgrx[i][2] = t[3 * i];
        }
        pal.colours = 256;
        dataEnd = in.size - 769;
      } else {
        greyPalette(pal, 8);
      }
    } else {
      // The header holds 16 entries; deeper pictures without the trailing
      // table (5 to 7 index bits) get black beyond them.
      const int entries = std::min(1 << depth, 16);
      for (int i = 0; i < entries; ++i) {
        pal.bgrx[i][0] = p[16 + 3 * i + 2];
        pal.bgrx[i][1] = p[16 + 3 * i + 1];
        pal.bgrx[i][2] = p[16 + 3 * i];
      }
      pal.colours = static_cast<uint32_t>(1 << depth);
      // A monochrome picture whose header table does not tell its two
      // colours apart (most writers leave it empty) is black on white.
      if (depth == 1 && std::memcmp(pal.bgrx[0], pal.bgrx[1], 3) == 0) greyPalette(pal, 1);
    }
  }

  const size_t lineTotal = static_cast<size_t>(h.lineBytes) * h.planes;
  std::vector<uint8_t> line, pixels;
  try {
    line.resize(lineTotal);
    pixels.resize(static_cast<size_t>(w) * 3 + 8);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  RowSink sink;
  r = sink.begin(image, w, hh, trueColour ? PixelKind::Bgr24 : PixelKind::Indexed8, &pal, trueColour ? 8 : depth);
  if (r != kStillOk) return r;

  size_t pos = kHeaderBytes;
  RunCarry carry;
  for (int32_t y = 0; y < hh; ++y) {
    if (h.encoding == 0) {
      if (dataEnd < pos || dataEnd - pos < lineTotal) return kStillTruncated;
      std::memcpy(line.data(), p + pos, lineTotal);
      pos += lineTotal;
    } else if (!expandLine(p, pos, dataEnd, line.data(), lineTotal, carry)) {
      return kStillTruncated;
    }
    uint8_t *dst = sink.row(y);
    if (trueColour) {
      const uint8_t *rp = line.data(), *gp = rp + h.lineBytes, *bp = gp + h.lineBytes;
      for (int32_t i = 0; i < w; ++i) {
        dst[3 * i] = bp[i];
        dst[3 * i + 1] = gp[i];
        dst[3 * i + 2] = rp[i];
      }
    } else if (h.planes == 1) {
      unpackIndices(line.data(), h.bitsPerPlane, w, dst);
    } else {
      // Plane k holds bits k * bitsPerPlane upwards of each index.
      std::memset(dst, 0, static_cast<size_t>(w));
      uint8_t *plane = pixels.data();
      for (int k = 0; k < h.planes; ++k) {
        unpackIndices(line.data() + static_cast<size_t>(k) * h.lineBytes, h.bitsPerPlane, w, plane);
        for (int32_t i = 0; i < w; ++i) dst[i] |= static_cast<uint8_t>(plane[i] << (k * h.bitsPerPlane));
      }
    }
    sink.commit(y);
  }
  sink.finish(true);
  return kStillOk;
}

// Paletted descriptors are written as one 8-bit plane with the 256-entry
// table at the end, the others as three 8-bit planes.
int pcxEncode(const StillImage &image, int32_t, ByteSink &out) {
  const bool paletted = image.bitsPerPixel <= 8;
  RowSource rows;
  const int r = rows.begin(image, paletted);
  if (r != kStillOk) return r;
  const int32_t w = rows.width(), h = rows.height();
  const int planes = paletted ? 1 : 3;
  const uint32_t lineBytes = static_cast<uint32_t>(w + (w & 1));
  // Room for the worst case (two bytes a byte): noisy pictures code larger
  // than their pixels, and growing the output mid-way would copy it all.
  // What is not used is never touched.
  out.reserve(kHeaderBytes + 2 * static_cast<size_t>(lineBytes) * planes * h + 769);
  out.resize(kHeaderBytes, 0);
  uint8_t *hd = out.data();
  hd[0] = 0x0A;
  hd[1] = 5;
  hd[2] = 1;
  hd[3] = 8;
  auto set16 = [&](size_t at, uint32_t v) {
    hd[at] = static_cast<uint8_t>(v);
    hd[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  set16(8, static_cast<uint32_t>(w - 1));
  set16(10, static_cast<uint32_t>(h - 1));
  set16(12, 72);
  set16(14, 72);
  hd[65] = static_cast<uint8_t>(planes);
  set16(66, lineBytes);
  set16(68, 1);
  std::vector<uint8_t> line(static_cast<size_t>(lineBytes) * planes, 0);
  // Each row's planes are packed here (room for the worst case) and then
  // appended in one go.
  std::vector<uint8_t> packed(2 * line.size());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t *s = rows.row(y);
    if (paletted) {
      std::memcpy(line.data(), s, static_cast<size_t>(w));
    } else {
      uint8_t *rp = line.data(), *gp = rp + lineBytes, *bp = gp + lineBytes;
      for (int32_t i = 0; i < w; ++i) {
        bp[i] = s[3 * i];
        gp[i] = s[3 * i + 1];
        rp[i] = s[3 * i + 2];
      }
    }
    size_t n = 0;
    for (int plane = 0; plane < planes; ++plane)
      n += packLine(line.data() + static_cast<size_t>(plane) * lineBytes, lineBytes, packed.data() + n);
    out.insert(out.end(), packed.data(), packed.data() + n);
  }
  if (paletted) {
    out.push_back(0x0C);
    for (int i = 0; i < 256; ++i) {
      out.push_back(image.palette[i][2]);
      out.push_back(image.palette[i][1]);
      out.push_back(image.palette[i][0]);
    }
  }
  return kStillOk;
}

}  // namespace kav::still
