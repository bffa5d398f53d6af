// Truevision TGA: colour-mapped (8-bit indices, 15/16/24/32-bit map
// entries), true-colour 15/16/24/32-bit, grey 8-bit, raw or run-length, any
// of the four origins.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

constexpr size_t kHeaderBytes = 18;

struct TgaHeader {
  uint8_t idLength, mapType, imageType;
  uint32_t mapFirst, mapLength, mapEntryBits;
  int32_t width, height;
  int depth;
  bool topDown, rightToLeft, rle;
  int base;  // 1 mapped, 2 true colour, 3 grey
};

bool validEntryBits(uint32_t b) { return b == 15 || b == 16 || b == 24 || b == 32; }

// TGA carries no signature, so every field is held to what the format
// allows before a file counts as one.
int parseHeader(ByteView in, TgaHeader &h) {
  if (in.size < kHeaderBytes) return in.size == 0 ? kStillNotFormat : kStillTruncated;
  const uint8_t *p = in.data;
  h.idLength = p[0];
  h.mapType = p[1];
  h.imageType = p[2];
  h.mapFirst = rd16le(p + 3);
  h.mapLength = rd16le(p + 5);
  h.mapEntryBits = p[7];
  h.width = rd16le(p + 12);
  h.height = rd16le(p + 14);
  h.depth = p[16];
  const uint8_t desc = p[17];
  if (h.mapType > 1) return kStillNotFormat;
  switch (h.imageType) {
    case 1: case 2: case 3: case 9: case 10: case 11: break;
    default: return kStillNotFormat;
  }
  h.rle = h.imageType >= 9;
  h.base = h.imageType & 7;
  if ((desc & 0xC0) != 0) return kStillNotFormat;  // interleaving, long obsolete
  if (h.width == 0 || h.height == 0) return kStillNotFormat;
  if (h.mapType == 1 && (!validEntryBits(h.mapEntryBits) || h.mapLength == 0)) return kStillNotFormat;
  switch (h.base) {
    case 1:
      if (h.mapType != 1 || h.depth != 8) return kStillNotFormat;
      break;
    case 2:
      if (h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32) return kStillNotFormat;
      break;
    default:
      if (h.depth != 8) return kStillNotFormat;
      break;
  }
  if ((desc & 0x0F) > 8) return kStillNotFormat;
  h.topDown = (desc & 0x20) != 0;
  h.rightToLeft = (desc & 0x10) != 0;
  return kStillOk;
}

// n copies of one pixel of 1 to 4 bytes.
void fillPixels(uint8_t *d, const uint8_t *px, size_t bytes, size_t n) {
  switch (bytes) {
    case 1:
      std::memset(d, px[0], n);
      return;
    case 2:
      for (size_t i = 0; i < n; ++i, d += 2) std::memcpy(d, px, 2);
      return;
    case 3:
      for (size_t i = 0; i < n; ++i, d += 3) {
        d[0] = px[0];
        d[1] = px[1];
        d[2] = px[2];
      }
      return;
    default:
      for (size_t i = 0; i < n; ++i, d += 4) std::memcpy(d, px, 4);
      return;
  }
}

int bitsOf(const TgaHeader &h) { return h.depth == 15 ? 16 : h.depth; }

// A 15/16-bit TGA value (x:5:5:5) or a 24/32-bit one as B, G, R.
inline void colourOf(const uint8_t *s, uint32_t bits, uint8_t *bgr) {
  if (bits <= 16) {
    const uint16_t v = rd16le(s);
    bgr[0] = static_cast<uint8_t>((v & 0x1F) << 3);
    bgr[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
    bgr[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
  } else {
    bgr[0] = s[0];
    bgr[1] = s[1];
    bgr[2] = s[2];
  }
}

}  // namespace

int tgaInfo(ByteView in, StillInfo *info) {
  TgaHeader h;
  const int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  // Fewer bytes than a prefix means the whole file is here: then a file too
  // short for its own header, map and (raw) pixels is no TGA, which keeps
  // other small files from passing for one.
  if (in.size < kInfoPrefixBytes) {
    const size_t mapBytes = h.mapType ? ((h.mapEntryBits + 7) / 8) * static_cast<size_t>(h.mapLength) : 0;
    const size_t start = kHeaderBytes + h.idLength + mapBytes;
    const size_t pixels = h.rle ? 1 : static_cast<size_t>(h.width) * h.height * ((h.depth + 7) / 8);
    if (in.size < start + pixels) return kStillNotFormat;
  }
  info->width = h.width;
  info->height = h.height;
  info->bitsPerPixel = bitsOf(h);
  info->compression = h.rle ? 1 : 0;
  return kStillOk;
}

int tgaDecode(ByteView in, StillImage *image) {
  TgaHeader h;
  int r = parseHeader(in, h);
  if (r != kStillOk) return r;
  if (h.width > kMaxSide || h.height > kMaxSide) return kStillTooLarge;
  const int32_t w = h.width, hh = h.height;
  const uint8_t *p = in.data;
  size_t pos = kHeaderBytes + h.idLength;
  Palette pal;
  clearPalette(pal);
  if (h.mapType == 1) {
    const size_t entryBytes = (h.mapEntryBits + 7) / 8;
    const size_t mapBytes = entryBytes * h.mapLength;
    if (pos + mapBytes > in.size) return kStillTruncated;
    // Indices are 8-bit, so only map entries 0-255 can be reached.
    for (uint32_t i = 0; i < h.mapLength; ++i) {
      const uint32_t index = h.mapFirst + i;
      if (index > 255) break;
      colourOf(p + pos + i * entryBytes, h.mapEntryBits, pal.bgrx[index]);
      pal.colours = index + 1;
    }
    pos += mapBytes;
  }
  if (h.base == 3) greyPalette(pal, 8);
  if (pos > in.size) return kStillTruncated;

  const size_t pixelBytes = (static_cast<size_t>(h.depth) + 7) / 8;
  PixelKind kind = PixelKind::Indexed8;
  if (h.base == 2) kind = h.depth <= 16 ? PixelKind::Rgb555 : h.depth == 24 ? PixelKind::Bgr24 : PixelKind::Bgrx32;
  RowSink sink;
  r = sink.begin(image, w, hh, kind, &pal, 8);
  if (r != kStillOk) return r;
  const size_t rowBytes = static_cast<size_t>(w) * pixelBytes;
  std::vector<uint8_t> line;
  try {
    line.resize(rowBytes);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  const uint8_t *src = p + pos;
  const size_t avail = in.size - pos;
  size_t at = 0;
  // Run-length packets may cross from one row into the next.
  unsigned runLeft = 0, rawLeft = 0;
  uint8_t runPixel[4] = {};
  for (int32_t fileRow = 0; fileRow < hh; ++fileRow) {
    const int32_t y = h.topDown ? fileRow : hh - 1 - fileRow;
    uint8_t *dst = sink.row(y);
    uint8_t *rowData = h.rightToLeft ? line.data() : dst;
    if (!h.rle) {
      if (avail - at < rowBytes) return kStillTruncated;
      std::memcpy(rowData, src + at, rowBytes);
      at += rowBytes;
    } else {
      size_t filled = 0;
      while (filled < rowBytes) {
        if (runLeft) {
          const size_t n = std::min<size_t>(runLeft, (rowBytes - filled) / pixelBytes);
          fillPixels(rowData + filled, runPixel, pixelBytes, n);
          filled += n * pixelBytes;
          runLeft -= static_cast<unsigned>(n);
        } else if (rawLeft) {
          const size_t n = std::min<size_t>(rawLeft, (rowBytes - filled) / pixelBytes);
          if (avail - at < n * pixelBytes) return kStillTruncated;
          std::memcpy(rowData + filled, src + at, n * pixelBytes);
          at += n * pixelBytes;
          filled += n * pixelBytes;
          rawLeft -= static_cast<unsigned>(n);
        } else {
          if (at >= avail) return kStillTruncated;
          const uint8_t packet = src[at++];
          const unsigned count = (packet & 0x7Fu) + 1u;
          if (packet & 0x80) {
            if (avail - at < pixelBytes) return kStillTruncated;
            std::memcpy(runPixel, src + at, pixelBytes);
            at += pixelBytes;
            runLeft = count;
          } else {
            rawLeft = count;
          }
        }
      }
    }
    if (h.rightToLeft) {
      for (int32_t i = 0; i < w; ++i)
        std::memcpy(dst + static_cast<size_t>(i) * pixelBytes, line.data() + static_cast<size_t>(w - 1 - i) * pixelBytes,
                    pixelBytes);
    }
    sink.commit(y);
  }
  sink.finish(true);
  return kStillOk;
}

namespace {

// Run-length packets within one row: repeats of 2 or more become run
// packets, everything else raw packets.
template <size_t px>
void rleRow(const uint8_t *s, int32_t w, ByteSink &out) {
  int32_t i = 0;
  auto same = [&](int32_t a, int32_t b) {
    const uint8_t *x = s + a * px, *y = s + b * px;
    if constexpr (px == 1) return x[0] == y[0];
    else return x[0] == y[0] && x[1] == y[1] && x[2] == y[2];
  };
  while (i < w) {
    int32_t run = 1;
    while (i + run < w && run < 128 && same(i, i + run)) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), s + i * px, s + (i + 1) * px);
      i += run;
      continue;
    }
    int32_t raw = 1;
    while (i + raw < w && raw < 128 && !(i + raw + 1 < w && same(i + raw, i + raw + 1))) ++raw;
    out.push_back(static_cast<uint8_t>(raw - 1));
    out.insert(out.end(), s + i * px, s + (i + raw) * px);
    i += raw;
  }
}

}  // namespace

// Option 1 writes run-length packets, option 0 raw rows. Paletted
// descriptors become 8-bit colour-mapped files (24-bit map entries), the
// others 24-bit true colour; the origin is the bottom left.
int tgaEncode(const StillImage &image, int32_t option, ByteSink &out) {
  const bool paletted = image.bitsPerPixel <= 8;
  RowSource rows;
  const int r = rows.begin(image, paletted);
  if (r != kStillOk) return r;
  const int32_t w = rows.width(), h = rows.height();
  const bool rle = option == 1;
  const size_t px = paletted ? 1 : 3;
  const uint32_t colours = paletted ? 256 : 0;
  out.reserve(kHeaderBytes + colours * 3 + static_cast<size_t>(w) * h * px + 26);
  out.push_back(0);
  out.push_back(paletted ? 1 : 0);
  out.push_back(static_cast<uint8_t>((paletted ? 1 : 2) + (rle ? 8 : 0)));
  put16le(out, 0);
  put16le(out, colours);
  out.push_back(paletted ? 24 : 0);
  put16le(out, 0);
  put16le(out, 0);
  put16le(out, static_cast<uint32_t>(w));
  put16le(out, static_cast<uint32_t>(h));
  out.push_back(paletted ? 8 : 24);
  out.push_back(0);
  for (uint32_t i = 0; i < colours; ++i) out.insert(out.end(), image.palette[i], image.palette[i] + 3);
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint8_t *s = rows.row(y);
    if (rle && px == 1) rleRow<1>(s, w, out);
    else if (rle) rleRow<3>(s, w, out);
    else out.insert(out.end(), s, s + static_cast<size_t>(w) * px);
  }
  // The TGA 2.0 footer (no extension or developer area).
  for (int i = 0; i < 8; ++i) out.push_back(0);
  static const char kSignature[] = "TRUEVISION-XFILE.";
  out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
  return kStillOk;
}

}  // namespace kav::still
