// Truevision TGA: colour-mapped (8-bit indices, 15/16/24/32-bit map
// entries), true-colour 15/16/24/32-bit, grey 8-bit, raw or run-length, any
// of the four origins.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"
#include "platform/stillimage/still_tga_rle.h"

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

// One pixel of PB bytes repeated over three 64-bit words (24 bytes, a
// whole number of pixels of any size), for filling runs a word at a time.
template <size_t PB>
struct RunPattern {
  uint64_t w[3];
  // px: the pixel; readable: bytes that may be read from px on (at least
  // PB; with four, one load takes the pixel).
  RunPattern(const uint8_t *px, size_t readable) {
    if constexpr (std::endian::native == std::endian::little) {
      uint64_t v;
      if (readable >= 4) {
        uint32_t four;
        std::memcpy(&four, px, 4);
        if constexpr (PB == 4) v = four;
        else v = four & ((1u << (8 * PB)) - 1u);
      } else {
        v = px[0];
        if constexpr (PB >= 2) v |= static_cast<uint64_t>(px[1]) << 8;
        if constexpr (PB >= 3) v |= static_cast<uint64_t>(px[2]) << 16;
      }
      if constexpr (PB == 1) {
        w[0] = w[1] = w[2] = v * 0x0101010101010101ull;
      } else if constexpr (PB == 2) {
        w[0] = w[1] = w[2] = v * 0x0001000100010001ull;
      } else if constexpr (PB == 3) {
        w[0] = v | (v << 24) | (v << 48);
        w[1] = (w[0] << 8) | (v >> 16);
        w[2] = (w[1] << 8) | ((v >> 8) & 0xFF);
      } else {
        w[0] = w[1] = w[2] = v | (v << 32);
      }
    } else {
      uint8_t t[24];
      for (size_t i = 0; i < sizeof t; ++i) t[i] = px[i % PB];
      std::memcpy(w, t, sizeof t);
    }
  }
  // Room fillOver needs for bytes.
  static size_t overRoom(size_t bytes) { return bytes < 24 ? 24 : bytes + 23; }
  // bytes (whole pixels) from d on, 24 at a time (short runs, the common
  // ones, take no branch on their length), so up to 23 bytes past the end
  // are overwritten: the caller has that room.
  void fillOver(uint8_t *d, size_t bytes) const {
    // Word by word: the words are in registers, and a wider load of them
    // would wait on the stores that made them. The shortest runs, by far
    // the commonest, take one word.
    const uint64_t a = w[0], b = w[1], c = w[2];
    std::memcpy(d, &a, 8);
    if (bytes <= 8) return;
    std::memcpy(d + 8, &b, 8);
    std::memcpy(d + 16, &c, 8);
    for (size_t k = 24; k < bytes; k += 24) {
      std::memcpy(d + k, &a, 8);
      std::memcpy(d + k + 8, &b, 8);
      std::memcpy(d + k + 16, &c, 8);
    }
  }
  // Exactly bytes from d on.
  void fill(uint8_t *d, size_t bytes) const {
    uint8_t t[24];
    std::memcpy(t, w, sizeof t);
    size_t k = 0;
    for (; k + 24 <= bytes; k += 24) std::memcpy(d + k, t, 24);
    std::memcpy(d + k, t, bytes - k);
  }
};

// The pixel data after the header and map: raw rows, or run-length
// packets, which may run on from one row into the next.
class RlePackets {
 public:
  RlePackets(const uint8_t *src, size_t size) : src_(src), avail_(size) {}

  bool raw(uint8_t *d, size_t rowBytes) {
    if (avail_ - at_ < rowBytes) return false;
    std::memcpy(d, src_ + at_, rowBytes);
    at_ += rowBytes;
    return true;
  }

  // Raw packets are copied in groups of this many bytes.
  static constexpr size_t kBlind = 64;
  // Bytes a raw packet of bytes reads and writes in the bulk path.
  static size_t copyRoom(size_t bytes) { return bytes < kBlind ? kBlind : bytes + kBlind - 1; }

  // Fills one row of rowBytes (whole pixels of PB bytes). Packets that fit
  // the row and the input with room to spare are written in whole words or
  // 16-byte blocks; the last ones of a row, and those the input ends
  // within, byte exactly.
  template <size_t PB>
  bool row(uint8_t *d, size_t rowBytes) {
    size_t filled = 0;
    if (runLeft_) {
      const size_t n = std::min<size_t>(runLeft_, rowBytes / PB);
      RunPattern<PB>(runPixel_, sizeof runPixel_).fill(d, n * PB);
      filled = n * PB;
      runLeft_ -= static_cast<unsigned>(n);
    } else if (rawLeft_) {
      const size_t n = std::min<size_t>(rawLeft_, rowBytes / PB);
      if (avail_ - at_ < n * PB) return false;
      std::memcpy(d, src_ + at_, n * PB);
      at_ += n * PB;
      filled = n * PB;
      rawLeft_ -= static_cast<unsigned>(n);
    }
    const uint8_t *s = src_;
    size_t at = at_;
    const size_t avail = avail_;
    while (filled < rowBytes) {
      if (at >= avail) return false;
      const uint8_t packet = s[at];
      const size_t count = (packet & 0x7Fu) + 1u;
      const size_t bytes = count * PB;
      const size_t room = rowBytes - filled;
      uint8_t *o = d + filled;
      const bool isRun = (packet & 0x80) != 0;
      ++at;
      if (isRun) {
        if (avail - at < PB) return false;
        const RunPattern<PB> pattern(s + at, avail - at);
        if (RunPattern<PB>::overRoom(bytes) <= room) {
          pattern.fillOver(o, bytes);
          filled += bytes;
        } else {
          const size_t n = std::min(count, room / PB);
          pattern.fill(o, n * PB);
          filled += n * PB;
          runLeft_ = static_cast<unsigned>(count - n);
          std::memcpy(runPixel_, s + at, PB);
        }
        at += PB;
      } else if (copyRoom(bytes) <= room && copyRoom(bytes) <= avail - at) {
        // Whole groups of blocks: one whatever the packet holds (most
        // fit), so short packets take no branch on their length.
        size_t k = 0;
        do {
          for (size_t j = 0; j < kBlind; j += 16) std::memcpy(o + k + j, s + at + k + j, 16);
          k += kBlind;
        } while (k < bytes);
        at += bytes;
        filled += bytes;
      } else {
        const size_t n = std::min(count, room / PB);
        if (avail - at < n * PB) return false;
        std::memcpy(o, s + at, n * PB);
        at += n * PB;
        filled += n * PB;
        rawLeft_ = static_cast<unsigned>(count - n);
      }
    }
    at_ = at;
    return true;
  }

 private:
  const uint8_t *src_;
  size_t avail_, at_ = 0;
  unsigned runLeft_ = 0, rawLeft_ = 0;
  uint8_t runPixel_[4] = {};
};

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
  RlePackets packets{p + pos, in.size - pos};
  for (int32_t fileRow = 0; fileRow < hh; ++fileRow) {
    const int32_t y = h.topDown ? fileRow : hh - 1 - fileRow;
    uint8_t *dst = sink.row(y);
    uint8_t *rowData = h.rightToLeft ? line.data() : dst;
    bool ok;
    if (!h.rle) ok = packets.raw(rowData, rowBytes);
    else if (pixelBytes == 1) ok = packets.row<1>(rowData, rowBytes);
    else if (pixelBytes == 2) ok = packets.row<2>(rowData, rowBytes);
    else if (pixelBytes == 3) ok = packets.row<3>(rowData, rowBytes);
    else ok = packets.row<4>(rowData, rowBytes);
    if (!ok) return kStillTruncated;
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
  const size_t rowWorst = rle ? tgarle::rowWorstBytes(w, px) : static_cast<size_t>(w) * px;
  try {
    out.reserve(out.size() + kHeaderBytes + colours * 3 + rowWorst * static_cast<size_t>(h) + 26);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
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
  if (rle) {
    // Each row is packed into a scratch row with room for its worst case,
    // which stays in the cache, and then appended. Packing straight into
    // the output would mean growing it first, and the growing clears the
    // bytes just before the packets overwrite them: that clearing cost more
    // than this copy.
    std::vector<uint64_t> map;
    std::vector<uint8_t> packed;
    try {
      map.resize(tgarle::equalMapWords(w));
      packed.resize(rowWorst + tgarle::kRowSlack);
    } catch (const std::bad_alloc &) {
      return kStillNoMemory;
    }
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t *s = rows.row(y);
      tgarle::equalMap(s, w, px, map.data());
      const size_t n = tgarle::writeRow(s, w, px, map.data(), packed.data());
      out.insert(out.end(), packed.data(), packed.data() + n);
    }
  } else {
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t *s = rows.row(y);
      out.insert(out.end(), s, s + static_cast<size_t>(w) * px);
    }
  }
  // The TGA 2.0 footer (no extension or developer area).
  for (int i = 0; i < 8; ++i) out.push_back(0);
  static const char kSignature[] = "TRUEVISION-XFILE.";
  out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
  return kStillOk;
}

}  // namespace kav::still
