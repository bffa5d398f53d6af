// TIFF through libtiff, over bytes in memory: strips and tiles, paletted and
// grey pictures as indices with their palette, everything else (RGB,
// YCbCr, CMYK, 16-bit, separate planes) through libtiff's RGBA reader.
// libtiff's messages go to handlers of each handle that drop them, so no
// process-wide handler is touched.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

struct MemoryStream {
  const uint8_t *data = nullptr;  // reading
  size_t size = 0;
  ByteSink *out = nullptr;  // writing
  uint64_t pos = 0;
  bool ranOut = false;
  bool failed = false;
};

size_t streamSize(const MemoryStream *s) { return s->out ? s->out->size() : s->size; }

tmsize_t readProc(thandle_t h, void *buf, tmsize_t n) {
  auto *s = static_cast<MemoryStream *>(h);
  const uint8_t *base = s->out ? s->out->data() : s->data;
  const size_t size = streamSize(s);
  if (n < 0) return -1;
  size_t take = static_cast<size_t>(n);
  if (s->pos >= size) take = 0;
  else take = std::min<size_t>(take, size - static_cast<size_t>(s->pos));
  if (take < static_cast<size_t>(n)) s->ranOut = true;
  if (take) std::memcpy(buf, base + s->pos, take);
  s->pos += take;
  return static_cast<tmsize_t>(take);
}

tmsize_t writeProc(thandle_t h, void *buf, tmsize_t n) {
  auto *s = static_cast<MemoryStream *>(h);
  if (!s->out || n < 0) return -1;
  try {
    const size_t end = static_cast<size_t>(s->pos) + static_cast<size_t>(n);
    if (end > s->out->size()) s->out->resize(end);
    std::memcpy(s->out->data() + s->pos, buf, static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    s->failed = true;
    return -1;
  }
  s->pos += static_cast<uint64_t>(n);
  return n;
}

toff_t seekProc(thandle_t h, toff_t off, int whence) {
  auto *s = static_cast<MemoryStream *>(h);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = s->pos;
  else if (whence == SEEK_END) base = streamSize(s);
  const uint64_t target = base + off;
  if (target < base || target > (uint64_t{1} << 32)) return static_cast<toff_t>(-1);
  s->pos = target;
  return target;
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return streamSize(static_cast<MemoryStream *>(h)); }

int mapProc(thandle_t h, void **base, toff_t *size) {
  auto *s = static_cast<MemoryStream *>(h);
  if (s->out) return 0;
  *base = const_cast<uint8_t *>(s->data);
  *size = s->size;
  return 1;
}
void unmapProc(thandle_t, void *, toff_t) {}

int quiet(TIFF *, void *, const char *, const char *, va_list) { return 1; }

bool hasSignature(ByteView in) {
  if (in.size < 4) return false;
  const uint8_t *p = in.data;
  return (p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
         (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43));
}

class Tiff {
 public:
  Tiff(MemoryStream &s, const char *mode) {
    TIFFOpenOptions *o = TIFFOpenOptionsAlloc();
    if (!o) return;
    TIFFOpenOptionsSetErrorHandlerExtR(o, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(o, quiet, nullptr);
    // No single allocation needs more than a 4096 x 4096 RGBA picture.
    TIFFOpenOptionsSetMaxSingleMemAlloc(o, tmsize_t{80} << 20);
    tif_ = TIFFClientOpenExt("memory", mode, &s, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                             unmapProc, o);
    TIFFOpenOptionsFree(o);
  }
  ~Tiff() {
    if (tif_) TIFFClose(tif_);
  }
  Tiff(const Tiff &) = delete;
  Tiff &operator=(const Tiff &) = delete;
  TIFF *get() const { return tif_; }
  // Closes now (a writer flushes its directory here).
  void close() {
    if (tif_) TIFFClose(tif_);
    tif_ = nullptr;
  }

 private:
  TIFF *tif_ = nullptr;
};

struct TiffShape {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, compression = COMPRESSION_NONE;
  uint16_t planar = PLANARCONFIG_CONTIG;
};

TiffShape shapeOf(TIFF *tif) {
  TiffShape s;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &s.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &s.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &s.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &s.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &s.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &s.planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &s.photometric))
    s.photometric = s.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  return s;
}

bool paletted(const TiffShape &s) {
  return s.photometric == PHOTOMETRIC_PALETTE && s.samples == 1 &&
         (s.bits == 1 || s.bits == 2 || s.bits == 4 || s.bits == 8);
}
bool grey(const TiffShape &s) {
  return (s.photometric == PHOTOMETRIC_MINISBLACK || s.photometric == PHOTOMETRIC_MINISWHITE) && s.samples == 1 &&
         (s.bits == 1 || s.bits == 2 || s.bits == 4 || s.bits == 8 || s.bits == 16);
}

int infoBits(const TiffShape &s) {
  if (paletted(s)) return s.bits;
  if (grey(s)) return s.bits;  // 16-bit grey counts as more than 8 bits, though loaded as 8-bit levels
  // The rest (grey with alpha among them) is read as true colour through
  // libtiff's RGBA reader, so a buffer of 8 bits or fewer could not take it.
  return s.samples >= 4 && s.photometric == PHOTOMETRIC_RGB ? 32 : 24;
}

// Reads the picture as packed rows of indices (grey levels or palette
// entries), strip by strip or tile by tile.
int readIndexRows(TIFF *tif, const TiffShape &s, RowSink &sink, MemoryStream &stream) {
  const tmsize_t lineBytes = TIFFScanlineSize(tif);
  const size_t packed = packedRowBytes(static_cast<int32_t>(s.width), s.bits);
  if (lineBytes <= 0 || static_cast<size_t>(lineBytes) < packed) return kStillCorrupt;
  const int indexBits = s.bits > 8 ? 8 : s.bits;
  const auto w = static_cast<int32_t>(s.width);
  std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
  auto emit = [&](const uint8_t *src, uint32_t y) {
    uint8_t *dst = sink.row(static_cast<int32_t>(y));
    if (s.bits == 16) {
      const auto *v = reinterpret_cast<const uint8_t *>(src);
      for (int32_t i = 0; i < w; ++i) {
        uint16_t x;
        std::memcpy(&x, v + 2 * i, 2);  // libtiff hands samples in host order
        dst[i] = static_cast<uint8_t>(x >> 8);
      }
    } else {
      unpackIndices(src, indexBits, w, dst);
    }
    sink.commit(static_cast<int32_t>(y));
  };
  if (!TIFFIsTiled(tif)) {
    for (uint32_t y = 0; y < s.height; ++y) {
      if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return stream.ranOut ? kStillTruncated : kStillCorrupt;
      emit(line.data(), y);
    }
    return kStillOk;
  }
  uint32_t tw = 0, th = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
  const tmsize_t tileBytes = TIFFTileSize(tif);
  const size_t tileRowBytes = packedRowBytes(static_cast<int32_t>(std::min<uint32_t>(tw, 1u << 20)), s.bits);
  if (tw == 0 || th == 0 || tw > (1u << 16) || th > (1u << 16) || (tw * static_cast<uint64_t>(s.bits)) % 8 != 0 ||
      tileBytes <= 0 || static_cast<uint64_t>(tileBytes) < static_cast<uint64_t>(tileRowBytes) * th)
    return kStillCorrupt;
  std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
  std::vector<uint8_t> band(static_cast<size_t>(lineBytes) * th);
  for (uint32_t y0 = 0; y0 < s.height; y0 += th) {
    const uint32_t rows = std::min(th, s.height - y0);
    for (uint32_t x0 = 0; x0 < s.width; x0 += tw) {
      if (TIFFReadTile(tif, tile.data(), x0, y0, 0, 0) < 0) return stream.ranOut ? kStillTruncated : kStillCorrupt;
      const size_t at = static_cast<size_t>(x0) * s.bits / 8;
      const size_t take = std::min(tileRowBytes, static_cast<size_t>(lineBytes) - at);
      for (uint32_t r = 0; r < rows; ++r)
        std::memcpy(band.data() + r * static_cast<size_t>(lineBytes) + at, tile.data() + r * tileRowBytes, take);
    }
    for (uint32_t r = 0; r < rows; ++r) emit(band.data() + r * static_cast<size_t>(lineBytes), y0 + r);
  }
  return kStillOk;
}

// libtiff's RGBA reader multiplies the colours by an unassociated alpha.
// Alpha is dropped here and the stored colours are the picture, so the
// alpha is declared associated (already multiplied), which the reader
// passes through as it is. Only the in-memory directory changes.
void keepStoredColours(TIFF *tif) {
  uint16_t count = 0;
  uint16_t *types = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &types) || !types || count == 0) return;
  std::vector<uint16_t> kept(types, types + count);
  bool changed = false;
  for (uint16_t &t : kept) {
    if (t == EXTRASAMPLE_UNASSALPHA) {
      t = EXTRASAMPLE_ASSOCALPHA;
      changed = true;
    }
  }
  if (changed) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, count, kept.data());
}

}  // namespace

int tiffInfo(ByteView in, StillInfo *info) {
  if (!hasSignature(in)) return in.size < 4 ? (in.size ? kStillTruncated : kStillNotFormat) : kStillNotFormat;
  MemoryStream stream;
  stream.data = in.data;
  stream.size = in.size;
  Tiff tiff(stream, "rm");  // "m": read through ordinary reads, so short data shows
  if (!tiff.get()) return stream.ranOut ? kStillTruncated : kStillCorrupt;
  const TiffShape s = shapeOf(tiff.get());
  if (stream.ranOut) return kStillTruncated;
  if (s.width == 0 || s.height == 0 || s.width > 0x7FFFFFFF || s.height > 0x7FFFFFFF) return kStillCorrupt;
  info->width = static_cast<int32_t>(s.width);
  info->height = static_cast<int32_t>(s.height);
  info->bitsPerPixel = infoBits(s);
  info->compression = s.compression;
  return kStillOk;
}

int tiffDecode(ByteView in, StillImage *image) {
  if (!hasSignature(in)) return kStillNotFormat;
  if (!image) return kStillBadImage;
  try {
    MemoryStream stream;
    stream.data = in.data;
    stream.size = in.size;
    // Reads go through readProc (no mapping), so that any tag or strip
    // libtiff wanted past the end shows: it would otherwise go on with a
    // tag dropped, a colour map made up.
    Tiff tiff(stream, "rm");
    TIFF *tif = tiff.get();
    if (!tif) return stream.ranOut ? kStillTruncated : kStillCorrupt;
    const TiffShape s = shapeOf(tif);
    if (stream.ranOut) return kStillTruncated;
    if (s.width == 0 || s.height == 0) return kStillCorrupt;
    if (s.width > static_cast<uint32_t>(kMaxSide) || s.height > static_cast<uint32_t>(kMaxSide)) return kStillTooLarge;
    const auto w = static_cast<int32_t>(s.width), h = static_cast<int32_t>(s.height);
    RowSink sink;
    Palette pal;
    clearPalette(pal);
    if (paletted(s) || grey(s)) {
      if (paletted(s)) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return kStillCorrupt;
        const int n = 1 << s.bits;
        // Some writers store 8-bit values in the 16-bit map.
        bool eightBit = true;
        for (int i = 0; i < n; ++i)
          if (r[i] > 255 || g[i] > 255 || b[i] > 255) eightBit = false;
        const int shift = eightBit ? 0 : 8;
        for (int i = 0; i < n; ++i) {
          pal.bgrx[i][0] = static_cast<uint8_t>(b[i] >> shift);
          pal.bgrx[i][1] = static_cast<uint8_t>(g[i] >> shift);
          pal.bgrx[i][2] = static_cast<uint8_t>(r[i] >> shift);
        }
        pal.colours = static_cast<uint32_t>(n);
      } else {
        greyPalette(pal, s.bits > 8 ? 8 : s.bits);
        if (s.photometric == PHOTOMETRIC_MINISWHITE) {
          Palette inverted = pal;
          const uint32_t n = pal.colours;
          for (uint32_t i = 0; i < n; ++i) std::memcpy(inverted.bgrx[i], pal.bgrx[n - 1 - i], 4);
          pal = inverted;
        }
      }
      int r = sink.begin(image, w, h, PixelKind::Indexed8, &pal, s.bits > 8 ? 8 : s.bits);
      if (r != kStillOk) return r;
      r = readIndexRows(tif, s, sink, stream);
      if (r != kStillOk) return r;
      if (stream.ranOut) return kStillTruncated;
      sink.finish(true);
      return kStillOk;
    }
    keepStoredColours(tif);
    char why[1024];
    if (!TIFFRGBAImageOK(tif, why)) return kStillUnsupported;
    std::vector<uint32_t> raster(static_cast<size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(tif, s.width, s.height, raster.data(), ORIENTATION_TOPLEFT, 1))
      return stream.ranOut ? kStillTruncated : kStillCorrupt;
    if (stream.ranOut) return kStillTruncated;
    int r = sink.begin(image, w, h, PixelKind::Bgr24, &pal, 8);
    if (r != kStillOk) return r;
    for (int32_t y = 0; y < h; ++y) {
      const uint32_t *src = raster.data() + static_cast<size_t>(y) * w;
      uint8_t *dst = sink.row(y);
      for (int32_t i = 0; i < w; ++i) {
        dst[3 * i] = static_cast<uint8_t>(TIFFGetB(src[i]));
        dst[3 * i + 1] = static_cast<uint8_t>(TIFFGetG(src[i]));
        dst[3 * i + 2] = static_cast<uint8_t>(TIFFGetR(src[i]));
      }
      sink.commit(y);
    }
    sink.finish(true);
    return kStillOk;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

// Paletted descriptors are written as 8-bit palette pictures, the others as
// 8-bit RGB, in strips of about 8 KiB; option 1 compresses them with
// Deflate (code 8), anything else leaves them uncompressed. LZW is not
// written, since the graphics input refuses it.
int tiffEncode(const StillImage &image, int32_t option, ByteSink &out) {
  const bool pal = image.bitsPerPixel <= 8;
  RowSource rows;
  int r = rows.begin(image, pal);
  if (r != kStillOk) return r;
  const auto w = static_cast<uint32_t>(rows.width()), h = static_cast<uint32_t>(rows.height());
  MemoryStream stream;
  stream.out = &out;
  Tiff tiff(stream, "w");
  TIFF *tif = tiff.get();
  if (!tif) return kStillWriteFailed;
  const uint16_t samples = pal ? 1 : 3;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, pal ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, option == 1 ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
  const size_t lineBytes = static_cast<size_t>(w) * samples;
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(std::max<size_t>(1, 8192 / lineBytes)));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
  std::vector<uint16_t> map(3 * 256, 0);
  if (pal) {
    for (int i = 0; i < 256; ++i) {
      map[i] = static_cast<uint16_t>(image.palette[i][2] * 257);
      map[256 + i] = static_cast<uint16_t>(image.palette[i][1] * 257);
      map[512 + i] = static_cast<uint16_t>(image.palette[i][0] * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
  }
  // A codec may work on the row in place, so it gets a copy.
  std::vector<uint8_t> line(lineBytes);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t *s = rows.row(static_cast<int32_t>(y));
    if (pal) {
      std::memcpy(line.data(), s, lineBytes);
    } else {
      for (uint32_t i = 0; i < w; ++i) {
        line[3 * i] = s[3 * i + 2];
        line[3 * i + 1] = s[3 * i + 1];
        line[3 * i + 2] = s[3 * i];
      }
    }
    if (TIFFWriteScanline(tif, line.data(), y, 0) < 0) return stream.failed ? kStillNoMemory : kStillWriteFailed;
  }
  if (!TIFFFlush(tif)) return stream.failed ? kStillNoMemory : kStillWriteFailed;
  tiff.close();
  return stream.failed ? kStillNoMemory : kStillOk;
}

}  // namespace kav::still
