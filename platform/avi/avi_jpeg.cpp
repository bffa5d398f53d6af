// libjpeg reports errors by longjmp; nothing with a destructor lives in the
// frames that the jump crosses.
#include "platform/avi/avi_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace kav::avi {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void onError(j_common_ptr info) {
  auto *e = reinterpret_cast<ErrorManager *>(info->err);
  longjmp(e->jump, 1);
}

void onMessage(j_common_ptr, int) {}  // warnings of damaged data stay quiet

// Runs the decompressor; `rowsDone` tells how far it got.
bool decodeInto(jpeg_decompress_struct *d, ErrorManager *err, const uint8_t *data, size_t size, uint8_t *top,
                int64_t pitch, uint32_t width, uint32_t height, uint8_t *scratch, size_t scratchBytes,
                uint32_t *rowsDone) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(d, const_cast<unsigned char *>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK) return false;
  d->out_color_space = JCS_EXT_BGR;
  // Keep the worst case bounded: a header may claim 65500 x 65500.
  if (static_cast<uint64_t>(d->image_width) * 3 > scratchBytes) {
    d->scale_num = 1;
    d->scale_denom = 8;
  }
  jpeg_start_decompress(d);
  if (d->output_components != 3 || static_cast<uint64_t>(d->output_width) * 3 > scratchBytes) {
    jpeg_abort_decompress(d);
    return false;
  }
  const uint32_t copy = std::min<uint32_t>(width, d->output_width) * 3;
  while (d->output_scanline < d->output_height) {
    JSAMPROW row = scratch;
    if (jpeg_read_scanlines(d, &row, 1) != 1) break;
    const uint32_t y = d->output_scanline - 1;
    if (y < height) std::memcpy(top + static_cast<int64_t>(y) * pitch, scratch, copy);
    *rowsDone = y + 1;
  }
  if (d->output_scanline < d->output_height) {
    jpeg_abort_decompress(d);
  } else {
    jpeg_finish_decompress(d);
  }
  return *rowsDone >= std::min<uint32_t>(height, d->output_height);
}

bool encodeFrom(jpeg_compress_struct *e, ErrorManager *err, const uint8_t *top, int64_t pitch, uint32_t width,
                uint32_t height, int quality, unsigned char **buffer, unsigned long *size) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_dest(e, buffer, size);
  e->image_width = width;
  e->image_height = height;
  e->input_components = 3;
  e->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(e);
  jpeg_set_quality(e, quality, TRUE);
  jpeg_start_compress(e, TRUE);
  while (e->next_scanline < e->image_height) {
    JSAMPROW row = const_cast<uint8_t *>(top + static_cast<int64_t>(e->next_scanline) * pitch);
    jpeg_write_scanlines(e, &row, 1);
  }
  jpeg_finish_compress(e);
  return true;
}

}  // namespace

bool decodeJpegBgr(const uint8_t *data, size_t size, uint8_t *top, int64_t pitch, uint32_t width, uint32_t height) {
  for (uint32_t y = 0; y < height; ++y) std::memset(top + static_cast<int64_t>(y) * pitch, 0, size_t{width} * 3);
  if (!data || size < 4 || size > 0x7FFFFFFF) return false;
  const size_t scratchBytes = 3 * 65536;
  auto *scratch = static_cast<uint8_t *>(std::malloc(scratchBytes));
  if (!scratch) return false;
  jpeg_decompress_struct d;
  ErrorManager err;
  d.err = jpeg_std_error(&err.base);
  err.base.error_exit = onError;
  err.base.emit_message = onMessage;
  jpeg_create_decompress(&d);
  uint32_t rows = 0;
  const bool ok = decodeInto(&d, &err, data, size, top, pitch, width, height, scratch, scratchBytes, &rows);
  jpeg_destroy_decompress(&d);
  std::free(scratch);
  return ok;
}

bool encodeJpegBgr(const uint8_t *top, int64_t pitch, uint32_t width, uint32_t height, int quality,
                   std::vector<uint8_t> &out) {
  if (width == 0 || height == 0 || width > 65500 || height > 65500) return false;
  jpeg_compress_struct e;
  ErrorManager err;
  e.err = jpeg_std_error(&err.base);
  err.base.error_exit = onError;
  err.base.emit_message = onMessage;
  jpeg_create_compress(&e);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  const bool ok = encodeFrom(&e, &err, top, pitch, width, height, quality < 1 ? 1 : (quality > 100 ? 100 : quality),
                             &buffer, &size);
  jpeg_destroy_compress(&e);
  if (ok) out.assign(buffer, buffer + size);
  std::free(buffer);
  return ok;
}

}  // namespace kav::avi
