// Video sample descriptions and the three codecs we draw. QuickTime pictures
// are stored top row first, so rows go straight into the buffer.
#include "platform/quicktime/qt_video.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "platform/quicktime/qt_movie.h"

namespace kav::qt {

namespace {

constexpr uint32_t kRaw = atomType('r', 'a', 'w', ' ');
constexpr uint32_t kJpeg = atomType('j', 'p', 'e', 'g');
constexpr uint32_t kPng = atomType('p', 'n', 'g', ' ');

void setEntry(uint8_t *palette, uint32_t i, uint32_t r, uint32_t g, uint32_t b) {
  palette[i * 4] = static_cast<uint8_t>(b);
  palette[i * 4 + 1] = static_cast<uint8_t>(g);
  palette[i * 4 + 2] = static_cast<uint8_t>(r);
  palette[i * 4 + 3] = 0;
}

// The system colour tables a description without its own table uses.
void defaultPalette(uint32_t depth, uint8_t *palette) {
  std::memset(palette, 0, 256 * 4);
  if (depth > 32) {  // grey: white first, black last
    const uint32_t bits = depth - 32, n = 1u << bits;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t v = 255 - i * 255 / (n - 1);
      setEntry(palette, i, v, v, v);
    }
    return;
  }
  if (depth == 1) {
    setEntry(palette, 0, 255, 255, 255);
    return;
  }
  if (depth == 2) {
    const uint32_t grey[4] = {255, 0xAC, 0x55, 0};
    for (uint32_t i = 0; i < 4; ++i) setEntry(palette, i, grey[i], grey[i], grey[i]);
    return;
  }
  if (depth == 4) {
    static const uint32_t sixteen[16] = {0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5,
                                         0x0000D4, 0x02ABEA, 0x1FB714, 0x006411, 0x562C05, 0x90713A,
                                         0xC0C0C0, 0x808080, 0x404040, 0x000000};
    for (uint32_t i = 0; i < 16; ++i) setEntry(palette, i, sixteen[i] >> 16, (sixteen[i] >> 8) & 0xFF, sixteen[i] & 0xFF);
    return;
  }
  // 8 bits: the 6 x 6 x 6 cube from white down (without black), ramps of
  // red, green, blue and grey in the levels the cube lacks, then black.
  uint32_t i = 0;
  for (uint32_t r = 0; r < 6; ++r)
    for (uint32_t g = 0; g < 6; ++g)
      for (uint32_t b = 0; b < 6; ++b)
        if (r + g + b < 15) setEntry(palette, i++, 255 - r * 51, 255 - g * 51, 255 - b * 51);
  static const uint32_t ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
  for (uint32_t v : ramp) setEntry(palette, i++, v, 0, 0);
  for (uint32_t v : ramp) setEntry(palette, i++, 0, v, 0);
  for (uint32_t v : ramp) setEntry(palette, i++, 0, 0, v);
  for (uint32_t v : ramp) setEntry(palette, i++, v, v, v);
  setEntry(palette, i, 0, 0, 0);
}

struct JpegError {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void jpegFail(j_common_ptr info) { longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1); }
void jpegQuiet(j_common_ptr, int) {}

bool jpegInto(jpeg_decompress_struct *d, JpegError *err, const uint8_t *data, size_t size, const VideoFormat &f,
              uint8_t *pixels, uint32_t rowBytes, uint8_t *scratch, size_t scratchBytes) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(d, const_cast<unsigned char *>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK) return false;
  d->out_color_space = JCS_EXT_BGRA;
  if (static_cast<uint64_t>(d->image_width) * 4 > scratchBytes) return false;
  jpeg_start_decompress(d);
  const uint32_t copy = std::min(f.width, d->output_width) * 4;
  while (d->output_scanline < d->output_height) {
    JSAMPROW row = scratch;
    if (jpeg_read_scanlines(d, &row, 1) != 1) return false;
    const uint32_t y = d->output_scanline - 1;
    if (y < f.height) std::memcpy(pixels + size_t{y} * rowBytes, scratch, copy);
  }
  jpeg_finish_decompress(d);
  return true;
}

bool drawJpeg(const VideoFormat &f, const uint8_t *data, size_t size, uint8_t *pixels, uint32_t rowBytes) {
  if (size < 4 || size > 0x7FFFFFFF) return false;
  std::vector<uint8_t> scratch(size_t{kMaxDimension} * 4);
  jpeg_decompress_struct d;
  JpegError err;
  d.err = jpeg_std_error(&err.base);
  err.base.error_exit = jpegFail;
  err.base.emit_message = jpegQuiet;
  jpeg_create_decompress(&d);
  const bool ok = jpegInto(&d, &err, data, size, f, pixels, rowBytes, scratch.data(), scratch.size());
  jpeg_destroy_decompress(&d);
  return ok;
}

bool drawPng(const VideoFormat &f, const uint8_t *data, size_t size, uint8_t *pixels, uint32_t rowBytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return false;
  image.format = PNG_FORMAT_BGRA;
  if (image.width > kMaxDimension || image.height > kMaxDimension ||
      uint64_t{image.width} * image.height * 4 > kMaxPictureBytes) {
    png_image_free(&image);
    return false;
  }
  std::vector<uint8_t> all(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, all.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  const uint32_t copy = std::min(f.width, image.width) * 4;
  for (uint32_t y = 0; y < std::min(f.height, image.height); ++y)
    std::memcpy(pixels + size_t{y} * rowBytes, all.data() + size_t{y} * image.width * 4, copy);
  return true;
}

bool drawRaw(const VideoFormat &f, const uint8_t *data, size_t size, uint8_t *pixels, uint32_t rowBytes) {
  const uint32_t bits = f.depth > 32 ? f.depth - 32 : f.depth;
  const size_t minRow = (size_t{f.width} * bits + 7) / 8;
  // Rows may be padded: the sample's size tells by how much.
  size_t stride = size / f.height;
  if (stride < minRow) stride = minRow;
  for (uint32_t y = 0; y < f.height; ++y) {
    const size_t at = size_t{y} * stride;
    if (at + minRow > size) return false;  // the sample ends here
    const uint8_t *src = data + at;
    uint8_t *dst = pixels + size_t{y} * rowBytes;
    for (uint32_t x = 0; x < f.width; ++x) {
      if (bits <= 8) {
        const uint32_t perByte = 8 / bits;
        const uint32_t shift = 8 - bits * (x % perByte + 1);
        const uint32_t index = (src[x / perByte] >> shift) & ((1u << bits) - 1);
        if (f.bitsOut == 8) {
          dst[x] = static_cast<uint8_t>(index);
        } else {
          std::memcpy(dst + 4 * x, f.palette + 4 * index, 3);
          dst[4 * x + 3] = 255;
        }
      } else if (bits == 16) {
        const uint32_t v = be16(src + 2 * x);
        const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        dst[4 * x] = static_cast<uint8_t>(b << 3 | b >> 2);
        dst[4 * x + 1] = static_cast<uint8_t>(g << 3 | g >> 2);
        dst[4 * x + 2] = static_cast<uint8_t>(r << 3 | r >> 2);
        dst[4 * x + 3] = 255;
      } else if (bits == 24) {
        dst[4 * x] = src[3 * x + 2];
        dst[4 * x + 1] = src[3 * x + 1];
        dst[4 * x + 2] = src[3 * x];
        dst[4 * x + 3] = 255;
      } else {  // 32: alpha, red, green, blue
        dst[4 * x] = src[4 * x + 3];
        dst[4 * x + 1] = src[4 * x + 2];
        dst[4 * x + 2] = src[4 * x + 1];
        dst[4 * x + 3] = src[4 * x];
      }
    }
  }
  return true;
}

}  // namespace

bool parseVideoDescription(const std::vector<uint8_t> &e, VideoFormat &f) {
  if (e.size() < 86) return false;
  f.codec = be32(e.data() + 4);
  f.width = be16(e.data() + 32);
  f.height = be16(e.data() + 34);
  f.depth = be16(e.data() + 82);
  const auto tableId = static_cast<int16_t>(be16(e.data() + 84));
  if (f.width == 0 || f.height == 0 || f.width > kMaxDimension || f.height > kMaxDimension) return false;
  if (f.codec == kRaw) {
    const uint32_t d = f.depth;
    if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16 && d != 24 && d != 32 && d != 33 && d != 34 && d != 36 &&
        d != 40)
      return false;
  } else if (f.codec != kJpeg && f.codec != kPng) {
    return false;
  }
  f.bitsOut = f.codec == kRaw && f.depth < 9 ? 8 : 32;
  if (f.codec == kRaw && (f.depth <= 8 || f.depth > 32)) {
    defaultPalette(f.depth, f.palette);
    // A table of the description's own follows when its id is 0.
    if (tableId == 0 && f.depth <= 8 && e.size() >= 94) {
      const uint32_t count = std::min<uint32_t>(be16(e.data() + 92) + 1u, 256u);
      std::memset(f.palette, 0, sizeof f.palette);
      for (uint32_t i = 0; i < count && 94 + 8 * (i + 1) <= e.size(); ++i) {
        const uint8_t *c = e.data() + 94 + 8 * i;
        setEntry(f.palette, i, c[2], c[4], c[6]);  // high bytes of 16-bit components
      }
    }
  } else {
    std::memset(f.palette, 0, sizeof f.palette);
  }
  return true;
}

bool drawSample(const VideoFormat &f, const uint8_t *data, size_t size, uint8_t *pixels, uint32_t rowBytes) {
  if (!data || size == 0) return false;
  if (f.codec == kRaw) return drawRaw(f, data, size, pixels, rowBytes);
  if (f.codec == kJpeg) return drawJpeg(f, data, size, pixels, rowBytes);
  if (f.codec == kPng) return drawPng(f, data, size, pixels, rowBytes);
  return false;
}

}  // namespace kav::qt
