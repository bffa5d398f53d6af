// PNG through libpng: every colour type and depth, interlaced or not;
// 16-bit samples are reduced to 8, alpha and transparency are dropped.
// libpng reports errors by longjmp: the work that libpng may jump out of is
// kept in functions holding no C++ objects, with all state in a context
// record that outlives the jump.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

struct PngContext {
  ByteView in{};
  size_t pos = 0;
  bool ranOut = false;  // the bytes ended: a longer prefix may answer
  int result = kStillCorrupt;
  StillImage *image = nullptr;
  StillInfo *info = nullptr;
  Palette palette{};
  RowSink sink;
  std::vector<uint8_t> whole;       // an interlaced picture being assembled
  std::vector<png_bytep> rowPointers;
  ByteSink *out = nullptr;
  RowSource *rows = nullptr;
  const StillImage *source = nullptr;
  int32_t option = 0;
  bool interlaced = false;
};

void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

void readBytes(png_structp png, png_bytep dest, size_t n) {
  auto *c = static_cast<PngContext *>(png_get_io_ptr(png));
  if (n > c->in.size - c->pos) {
    c->ranOut = true;
    png_error(png, "truncated");
  }
  std::memcpy(dest, c->in.data + c->pos, n);
  c->pos += n;
}

void writeBytes(png_structp png, png_bytep src, size_t n) {
  auto *c = static_cast<PngContext *>(png_get_io_ptr(png));
  try {
    c->out->insert(c->out->end(), src, src + n);
  } catch (const std::bad_alloc &) {
    c->result = kStillNoMemory;
    png_error(png, "out of memory");
  }
}
void flushBytes(png_structp) {}

bool hasSignature(ByteView in) { return in.size >= 8 && png_sig_cmp(in.data, 0, 8) == 0; }

// The bits per pixel the file stores, alpha included as for RGBA: 16-bit
// grey and grey with alpha count as more than 8 bits even though their
// pixels are loaded as 8-bit levels.
int infoBitsOf(int colourType, int depth) {
  switch (colourType) {
    case PNG_COLOR_TYPE_PALETTE: return depth;
    case PNG_COLOR_TYPE_GRAY: return depth;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2 * depth;
    case PNG_COLOR_TYPE_RGB: return 24;
    default: return 32;
  }
}

// Reads the header and, with an image to fill, the pixels. Returns with
// c->result set; no C++ objects live in this frame.
void runRead(PngContext *c, bool pixels) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, c, onError, onWarning);
  if (!png) {
    c->result = kStillNoMemory;
    return;
  }
  png_infop pi = png_create_info_struct(png);
  if (!pi) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    c->result = kStillNoMemory;
    return;
  }
  if (setjmp(png_jmpbuf(png))) {
    if (c->result == kStillOk || c->result == kStillCorrupt) c->result = c->ranOut ? kStillTruncated : kStillCorrupt;
    png_destroy_read_struct(&png, &pi, nullptr);
    return;
  }
  c->result = kStillCorrupt;
  png_set_read_fn(png, c, readBytes);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, pi);
  png_uint_32 w = 0, h = 0;
  int depth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(png, pi, &w, &h, &depth, &colourType, &interlace, nullptr, nullptr);
  if (!pixels) {
    c->info->width = static_cast<int32_t>(w);
    c->info->height = static_cast<int32_t>(h);
    c->info->bitsPerPixel = infoBitsOf(colourType, depth);
    c->info->compression = 0;
    c->interlaced = interlace != PNG_INTERLACE_NONE;
    c->result = kStillOk;
    png_destroy_read_struct(&png, &pi, nullptr);
    return;
  }
  if (w > static_cast<png_uint_32>(kMaxSide) || h > static_cast<png_uint_32>(kMaxSide)) {
    c->result = kStillTooLarge;
    png_destroy_read_struct(&png, &pi, nullptr);
    return;
  }
  PixelKind kind = PixelKind::Indexed8;
  int indexBits = 8;
  size_t pixelBytes = 1;
  clearPalette(c->palette);
  if (depth == 16) png_set_strip_16(png);
  if (depth < 8) png_set_packing(png);
  switch (colourType) {
    case PNG_COLOR_TYPE_PALETTE: {
      png_colorp entries = nullptr;
      int count = 0;
      if (png_get_PLTE(png, pi, &entries, &count) && entries) {
        for (int i = 0; i < count && i < 256; ++i) {
          c->palette.bgrx[i][0] = entries[i].blue;
          c->palette.bgrx[i][1] = entries[i].green;
          c->palette.bgrx[i][2] = entries[i].red;
        }
        c->palette.colours = static_cast<uint32_t>(count > 256 ? 256 : count);
      }
      indexBits = depth;
      break;
    }
    case PNG_COLOR_TYPE_GRAY:
      indexBits = depth > 8 ? 8 : depth;
      greyPalette(c->palette, indexBits);
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_strip_alpha(png);
      greyPalette(c->palette, 8);
      break;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      kind = PixelKind::Bgr24;
      pixelBytes = 3;
      break;
    default:
      png_set_bgr(png);
      kind = PixelKind::Bgrx32;
      pixelBytes = 4;
      break;
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, pi);
  if (png_get_rowbytes(png, pi) != pixelBytes * w) {
    png_destroy_read_struct(&png, &pi, nullptr);
    c->result = kStillCorrupt;
    return;
  }
  const int begun = c->sink.begin(c->image, static_cast<int32_t>(w), static_cast<int32_t>(h), kind, &c->palette,
                                  indexBits);
  if (begun != kStillOk) {
    png_destroy_read_struct(&png, &pi, nullptr);
    c->result = begun;
    return;
  }
  if (passes > 1) {
    // All passes touch every row: assemble the picture in memory first
    // (straight in the descriptor when it takes the rows as they are).
    for (png_uint_32 y = 0; y < h; ++y)
      c->rowPointers[y] = c->sink.direct() ? c->sink.row(static_cast<int32_t>(y)) : c->whole.data() + y * pixelBytes * w;
    png_read_image(png, c->rowPointers.data());
    for (png_uint_32 y = 0; y < h; ++y) {
      const auto yy = static_cast<int32_t>(y);
      if (!c->sink.direct()) std::memcpy(c->sink.row(yy), c->rowPointers[y], pixelBytes * w);
      c->sink.commit(yy);
    }
  } else {
    for (png_uint_32 y = 0; y < h; ++y) {
      const auto yy = static_cast<int32_t>(y);
      png_read_row(png, c->sink.row(yy), nullptr);
      c->sink.commit(yy);
    }
  }
  c->sink.finish(true);
  c->result = kStillOk;
  png_destroy_read_struct(&png, &pi, nullptr);
}

void runWrite(PngContext *c, bool paletted) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, c, onError, onWarning);
  if (!png) {
    c->result = kStillNoMemory;
    return;
  }
  // libpng's default limit (a million pixels a side) guards readers; a
  // picture we write may take any size the format holds.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_infop pi = png_create_info_struct(png);
  if (!pi) {
    png_destroy_write_struct(&png, nullptr);
    c->result = kStillNoMemory;
    return;
  }
  if (setjmp(png_jmpbuf(png))) {
    if (c->result == kStillOk) c->result = kStillWriteFailed;
    png_destroy_write_struct(&png, &pi);
    return;
  }
  c->result = kStillOk;
  png_set_write_fn(png, c, writeBytes, flushBytes);
  const auto w = static_cast<png_uint_32>(c->rows->width()), h = static_cast<png_uint_32>(c->rows->height());
  png_set_IHDR(png, pi, w, h, 8, paletted ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Paeth on every row instead of libpng's per-row trial of all five
  // filters: on video frames it is the filter the trial picks most, and the
  // trial costs more than the compression. Its output is runs of small
  // differences, which zlib's run-length strategy packs nearly as well as
  // full matching in a fraction of the time; a level 1-9 chosen by the
  // option asks for full matching at that level instead. Palette indices are
  // no magnitudes, so paletted rows go unfiltered.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, paletted ? PNG_FILTER_NONE : PNG_FILTER_PAETH);
  if (c->option >= 1 && c->option <= 9)
    png_set_compression_level(png, c->option);
  else if (!paletted)
    png_set_compression_strategy(png, Z_RLE);
  png_color entries[256];
  if (paletted) {
    const uint32_t n = c->rows->colours();
    for (uint32_t i = 0; i < n; ++i) {
      entries[i].red = c->source->palette[i][2];
      entries[i].green = c->source->palette[i][1];
      entries[i].blue = c->source->palette[i][0];
    }
    png_set_PLTE(png, pi, entries, static_cast<int>(n));
  }
  png_write_info(png, pi);
  if (!paletted) png_set_bgr(png);
  for (png_uint_32 y = 0; y < h; ++y) png_write_row(png, c->rows->row(static_cast<int32_t>(y)));
  png_write_end(png, pi);
  png_destroy_write_struct(&png, &pi);
}

}  // namespace

int pngInfo(ByteView in, StillInfo *info) {
  if (!hasSignature(in)) return in.size < 8 && in.size > 0 && png_sig_cmp(in.data, 0, in.size) == 0
                                    ? kStillTruncated : kStillNotFormat;
  try {
    PngContext c;
    c.in = in;
    c.info = info;
    runRead(&c, false);
    return c.result;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

int pngDecode(ByteView in, StillImage *image) {
  if (!hasSignature(in)) return kStillNotFormat;
  if (!image) return kStillBadImage;
  try {
    PngContext c;
    c.in = in;
    c.image = image;
    // The IHDR size is bounded before these are sized: read it first.
    StillInfo info{};
    c.info = &info;
    runRead(&c, false);
    if (c.result != kStillOk) return c.result;
    if (info.width > kMaxSide || info.height > kMaxSide) return kStillTooLarge;
    if (c.interlaced) {
      c.rowPointers.resize(static_cast<size_t>(info.height));
      c.whole.resize(static_cast<size_t>(info.width) * info.height * 4);
    }
    c.pos = 0;
    runRead(&c, true);
    return c.result;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

// Paletted descriptors are written as 8-bit palette images, the others as
// 8-bit RGB; option 1-9 picks the zlib level, anything else the fast setting
// (see runWrite).
int pngEncode(const StillImage &image, int32_t option, ByteSink &out) {
  const bool paletted = image.bitsPerPixel <= 8;
  RowSource rows;
  const int r = rows.begin(image, paletted);
  if (r != kStillOk) return r;
  PngContext c;
  c.out = &out;
  c.rows = &rows;
  c.source = &image;
  c.option = option;
  runWrite(&c, paletted);
  return c.result;
}

}  // namespace kav::still
