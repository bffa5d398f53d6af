// Windows and OS/2 bitmaps: 1/4/8-bit with a colour table, 16/32-bit with or
// without bit fields, 24-bit, RLE8 and RLE4, bottom-up and top-down.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

struct BmpHeader {
  uint32_t pixelOffset;  // bfOffBits as stored
  uint32_t headerSize;
  int32_t width, height;  // height > 0 here; topDown says the order
  bool topDown;
  int bits;
  uint32_t compression;
  uint32_t coloursUsed;
  uint32_t masks[4];  // red, green, blue, alpha
  size_t tableStart;  // first colour-table entry
  size_t entryBytes;  // 3 for OS/2 core headers, else 4
};

int parseHeader(ByteView in, BmpHeader &h) {
  if (in.size < 2 || in.data[0] != 'B' || in.data[1] != 'M') return kStillNotFormat;
  if (in.size < 18) return kStillTruncated;
  const uint8_t *p = in.data;
  std::memset(&h, 0, sizeof h);
  h.pixelOffset = rd32le(p + 10);
  h.headerSize = rd32le(p + 14);
  switch (h.headerSize) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124: break;
    default: return kStillNotFormat;
  }
  if (in.size < 14 + static_cast<size_t>(h.headerSize)) return kStillTruncated;
  const uint8_t *ih = p + 14;
  int32_t height;
  unsigned planes;
  if (h.headerSize == 12) {
    h.width = rd16le(ih + 4);
    height = static_cast<int16_t>(rd16le(ih + 6));
    planes = rd16le(ih + 8);
    h.bits = rd16le(ih + 10);
    h.entryBytes = 3;
  } else {
    h.width = static_cast<int32_t>(rd32le(ih + 4));
    height = static_cast<int32_t>(rd32le(ih + 8));
    planes = rd16le(ih + 12);
    h.bits = rd16le(ih + 14);
    h.compression = rd32le(ih + 16);
    h.coloursUsed = rd32le(ih + 32);
    h.entryBytes = 4;
  }
  if (planes != 1) return kStillCorrupt;
  switch (h.bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return kStillCorrupt;
  }
  if (h.width <= 0 || height == 0 || height == INT32_MIN) return kStillCorrupt;
  h.topDown = height < 0;
  h.height = height < 0 ? -height : height;
  // OS/2 2.x reuses codes 3 and 4 for other schemes; only 0-2 mean the same.
  if (h.headerSize == 64 && h.compression > kBiRle4) return kStillUnsupported;
  switch (h.compression) {
    case kBiRgb: break;
    case kBiRle8: if (h.bits != 8 || h.topDown) return kStillCorrupt; break;
    case kBiRle4: if (h.bits != 4 || h.topDown) return kStillCorrupt; break;
    case kBiBitfields:
    case kBiAlphaBitfields: if (h.bits != 16 && h.bits != 32) return kStillCorrupt; break;
    default: return kStillUnsupported;  // embedded JPEG/PNG, CMYK variants
  }
  h.tableStart = 14 + h.headerSize;
  if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
    const size_t maskCount = h.compression == kBiAlphaBitfields ? 4 : 3;
    const uint8_t *m;
    if (h.headerSize >= 52) {
      m = ih + 40;
    } else {
      // A 40-byte header is followed by the masks.
      if (in.size < h.tableStart + 4 * maskCount) return kStillTruncated;
      m = p + h.tableStart;
      h.tableStart += 4 * maskCount;
    }
    for (size_t i = 0; i < 3; ++i) h.masks[i] = rd32le(m + 4 * i);
  } else if (h.bits == 16) {
    h.masks[0] = 0x7C00; h.masks[1] = 0x03E0; h.masks[2] = 0x001F;
  } else if (h.bits == 32) {
    h.masks[0] = 0xFF0000; h.masks[1] = 0xFF00; h.masks[2] = 0xFF;
  }
  return kStillOk;
}

// One channel of a bit-field pixel, made 8 bits wide by shifting, as
// 16-bit x:5:5:5 pixels are everywhere else: a narrower field moves up (a
// 5-bit 31 becomes 248, a 6-bit 63 becomes 252), a wider one keeps its top
// 8 bits. So 5:5:5 and 5:6:5 pictures of the same colours come out alike.
struct Field {
  uint32_t mask = 0;
  int shift = 0, bits = 0;
  explicit Field(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    while (bits + shift < 32 && ((m >> (shift + bits)) & 1)) ++bits;
  }
  uint8_t get(uint32_t v) const {
    if (!bits) return 0;
    const uint32_t x = (v & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(x >> (bits - 8));
    return static_cast<uint8_t>(x << (8 - bits));
  }
};

// Decodes RLE8/RLE4 into a top-down index picture. Runs past the right edge
// are clipped; a delta or a line end past the last row ends the picture.
int decodeRle(const uint8_t *p, size_t n, const BmpHeader &h, uint8_t *pic) {
  const int32_t w = h.width, hh = h.height;
  const bool four = h.compression == kBiRle4;
  int32_t x = 0, y = 0;  // y counts from the bottom row
  size_t i = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < hh) pic[static_cast<size_t>(hh - 1 - y) * w + x] = v;
    ++x;
  };
  while (y < hh) {
    if (i + 2 > n) return y >= hh - 1 ? kStillOk : kStillTruncated;
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count) {
      for (unsigned k = 0; k < count && x < w; ++k)
        put(four ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return kStillOk;
      case 2:  // delta
        if (i + 2 > n) return kStillTruncated;
        x += p[i];
        y += p[i + 1];
        i += 2;
        break;
      default: {  // literal run, padded to a 16-bit boundary
        const size_t bytes = four ? (value + 1u) / 2u : value;
        if (i + bytes > n) return kStillTruncated;
        for (unsigned k = 0; k < value && x < w; ++k)
          put(four ? ((k & 1) ? (p[i + k / 2] & 0x0F) : (p[i + k / 2] >> 4)) : p[i + k]);
        i += bytes + (bytes & 1);
        break;
      }
    }
  }
  return kStillOk;
}

}  // namespace

int bmpInfo(ByteView in, StillInfo *info) {
  BmpHeader h;
  const int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  info->width = h.width;
  info->height = h.height;
  info->bitsPerPixel = h.bits;
  info->compression = h.compression;
  return kStillOk;
}

int bmpDecode(ByteView in, StillImage *image) {
  BmpHeader h;
  int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  if (h.width > kMaxSide || h.height > kMaxSide) return kStillTooLarge;
  const int32_t w = h.width, hh = h.height;
  Palette pal;
  clearPalette(pal);
  size_t tableEnd = h.tableStart;
  if (h.bits <= 8) {
    const uint32_t full = 1u << h.bits;
    uint32_t count = h.coloursUsed == 0 || h.coloursUsed > full ? full : h.coloursUsed;
    // Some writers claim more entries than they store before the pixels.
    if (h.pixelOffset > h.tableStart) {
      const size_t room = (h.pixelOffset - h.tableStart) / h.entryBytes;
      if (room < count) count = static_cast<uint32_t>(room);
    }
    if (h.tableStart + count * h.entryBytes > in.size) return kStillTruncated;
    for (uint32_t i = 0; i < count; ++i) std::memcpy(pal.bgrx[i], in.data + h.tableStart + i * h.entryBytes, 3);
    pal.colours = count;
    tableEnd = h.tableStart + count * h.entryBytes;
  }
  size_t offset = h.pixelOffset >= tableEnd ? h.pixelOffset : tableEnd;
  if (offset >= in.size) return kStillTruncated;
  const uint8_t *px = in.data + offset;
  const size_t avail = in.size - offset;

  RowSink sink;
  if (h.compression == kBiRle8 || h.compression == kBiRle4) {
    std::vector<uint8_t> pic;
    try {
      pic.assign(static_cast<size_t>(w) * hh, 0);
    } catch (const std::bad_alloc &) {
      return kStillNoMemory;
    }
    r = decodeRle(px, avail, h, pic.data());
    if (r != kStillOk) return r;
    r = sink.begin(image, w, hh, PixelKind::Indexed8, &pal, h.bits);
    if (r != kStillOk) return r;
    for (int32_t y = 0; y < hh; ++y) {
      std::memcpy(sink.row(y), pic.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w));
      sink.commit(y);
    }
    sink.finish(true);
    return kStillOk;
  }

  const size_t stride = ((static_cast<size_t>(w) * h.bits + 31) / 32) * 4;
  const size_t used = packedRowBytes(w, h.bits);
  if ((static_cast<size_t>(hh) - 1) * stride + used > avail) return kStillTruncated;

  PixelKind kind;
  const Field red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
  bool viaFields = false;
  if (h.bits <= 8) {
    kind = PixelKind::Indexed8;
  } else if (h.bits == 24) {
    kind = PixelKind::Bgr24;
  } else if (h.bits == 16 && h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F) {
    kind = PixelKind::Rgb555;
  } else if (h.bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF) {
    kind = PixelKind::Bgrx32;
  } else {
    kind = PixelKind::Bgr24;
    viaFields = true;
  }
  r = sink.begin(image, w, hh, kind, &pal, h.bits <= 8 ? h.bits : 8);
  if (r != kStillOk) return r;
  for (int32_t fileRow = 0; fileRow < hh; ++fileRow) {
    const int32_t y = h.topDown ? fileRow : hh - 1 - fileRow;
    const uint8_t *src = px + static_cast<size_t>(fileRow) * stride;
    uint8_t *dst = sink.row(y);
    if (h.bits < 8) {
      unpackIndices(src, h.bits, w, dst);
    } else if (!viaFields) {
      std::memcpy(dst, src, used);
    } else if (h.bits == 16) {
      for (int32_t i = 0; i < w; ++i) {
        const uint32_t v = rd16le(src + 2 * i);
        dst[3 * i] = blue.get(v);
        dst[3 * i + 1] = green.get(v);
        dst[3 * i + 2] = red.get(v);
      }
    } else {
      for (int32_t i = 0; i < w; ++i) {
        const uint32_t v = rd32le(src + 4 * i);
        dst[3 * i] = blue.get(v);
        dst[3 * i + 1] = green.get(v);
        dst[3 * i + 2] = red.get(v);
      }
    }
    sink.commit(y);
  }
  sink.finish(true);
  return kStillOk;
}

namespace {

// RLE8 for one row: runs of 3 or more equal bytes become encoded runs, the
// rest literal runs (or encoded runs of 1-2 when a literal would be shorter
// than 3, which the literal escape cannot express).
void rle8Row(const uint8_t *s, int32_t w, ByteSink &out) {
  int32_t i = 0;
  while (i < w) {
    int32_t run = 1;
    while (i + run < w && run < 255 && s[i + run] == s[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(run));
      out.push_back(s[i]);
      i += run;
      continue;
    }
    int32_t lit = 0;
    while (i + lit < w && lit < 255) {
      const int32_t j = i + lit;
      if (j + 2 < w && s[j] == s[j + 1] && s[j] == s[j + 2]) break;
      ++lit;
    }
    if (lit < 3) {
      for (int32_t k = 0; k < lit; ++k) {
        out.push_back(1);
        out.push_back(s[i + k]);
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<uint8_t>(lit));
      out.insert(out.end(), s + i, s + i + lit);
      if (lit & 1) out.push_back(0);
    }
    i += lit;
  }
}

}  // namespace

// Option 0 writes uncompressed rows, option 1 RLE8 for paletted images.
// Paletted descriptors are written at 8 bits, the others at 24.
int bmpEncode(const StillImage &image, int32_t option, ByteSink &out) {
  const bool paletted = image.bitsPerPixel <= 8;
  RowSource rows;
  int r = rows.begin(image, paletted);
  if (r != kStillOk) return r;
  const int32_t w = rows.width(), h = rows.height();
  const int bits = paletted ? 8 : 24;
  const bool rle = paletted && option == 1;
  const uint32_t colours = paletted ? rows.colours() : 0;
  const size_t stride = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
  const uint32_t offset = 14 + 40 + colours * 4;
  out.reserve(offset + stride * h);
  out.push_back('B');
  out.push_back('M');
  put32le(out, 0);  // file size, patched below
  put32le(out, 0);
  put32le(out, offset);
  put32le(out, 40);
  put32le(out, static_cast<uint32_t>(w));
  put32le(out, static_cast<uint32_t>(h));
  put16le(out, 1);
  put16le(out, static_cast<uint32_t>(bits));
  put32le(out, rle ? kBiRle8 : kBiRgb);
  put32le(out, 0);  // image size, patched below
  put32le(out, 2835);  // 72 dpi
  put32le(out, 2835);
  put32le(out, colours);
  put32le(out, 0);
  for (uint32_t i = 0; i < colours; ++i) {
    out.insert(out.end(), image.palette[i], image.palette[i] + 3);
    out.push_back(0);
  }
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint8_t *src = rows.row(y);
    if (rle) {
      rle8Row(src, w, out);
      out.push_back(0);
      out.push_back(y == 0 ? 1 : 0);  // end of line, or of the bitmap
    } else {
      const size_t used = static_cast<size_t>(w) * (bits / 8);
      out.insert(out.end(), src, src + used);
      out.insert(out.end(), stride - used, 0);
    }
  }
  const auto total = static_cast<uint32_t>(out.size());
  const uint32_t imageBytes = total - offset;
  for (int k = 0; k < 4; ++k) {
    out[2 + k] = static_cast<uint8_t>(total >> (8 * k));
    out[34 + k] = static_cast<uint8_t>(imageBytes >> (8 * k));
  }
  return kStillOk;
}

}  // namespace kav::still
