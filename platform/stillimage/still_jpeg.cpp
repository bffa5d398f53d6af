// JPEG through libjpeg-turbo: baseline and progressive, grey, YCbCr/RGB,
// CMYK and YCCK (Adobe's inverted CMYK included). Errors leave libjpeg by
// longjmp from error_exit; the frames it jumps out of hold no C++ objects.
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

struct JpegError {
  jpeg_error_mgr mgr;  // first, so libjpeg's pointer is ours
  jmp_buf jump;
  bool ranOut;  // the data ended before the picture
};

void onErrorExit(j_common_ptr cinfo) {
  auto *e = reinterpret_cast<JpegError *>(cinfo->err);
  longjmp(e->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
  auto *e = reinterpret_cast<JpegError *>(cinfo->err);
  // Warnings of damaged entropy data are normal in the wild and tolerated;
  // running out of data is not.
  if (level < 0 && e->mgr.msg_code == JWRN_JPEG_EOF) e->ranOut = true;
}

void onOutput(j_common_ptr) {}

void initError(JpegError &e) {
  jpeg_std_error(&e.mgr);
  e.mgr.error_exit = onErrorExit;
  e.mgr.emit_message = onMessage;
  e.mgr.output_message = onOutput;
  e.ranOut = false;
}

struct JpegContext {
  ByteView in{};
  StillImage *image = nullptr;
  StillInfo *info = nullptr;
  Palette palette{};
  RowSink sink;
  std::vector<uint8_t> cmykRow;
  int result = kStillCorrupt;
  // Encoding.
  RowSource *rows = nullptr;
  int quality = 100;
  unsigned char *encoded = nullptr;
  unsigned long encodedBytes = 0;
};

bool hasSignature(ByteView in) {
  return in.size >= 3 && in.data[0] == 0xFF && in.data[1] == 0xD8 && in.data[2] == 0xFF;
}

// Header and, with an image, pixels; sets c->result.
void runRead(JpegContext *c, bool pixels) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);  // destroying a zeroed record is safe
  JpegError err;
  initError(err);
  cinfo.err = &err.mgr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (c->result == kStillCorrupt || c->result == kStillOk) c->result = err.ranOut ? kStillTruncated : kStillCorrupt;
    return;
  }
  jpeg_create_decompress(&cinfo);
  c->result = kStillCorrupt;
  jpeg_mem_src(&cinfo, c->in.data, static_cast<unsigned long>(c->in.size));
  jpeg_read_header(&cinfo, TRUE);
  if (err.ranOut) {
    c->result = kStillTruncated;
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  const int32_t w = static_cast<int32_t>(cinfo.image_width), h = static_cast<int32_t>(cinfo.image_height);
  if (!pixels) {
    c->info->width = w;
    c->info->height = h;
    c->info->bitsPerPixel = cinfo.num_components == 1 ? 8 : 24;
    c->info->compression = 0;
    c->result = kStillOk;
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  if (cinfo.image_width > static_cast<JDIMENSION>(kMaxSide) || cinfo.image_height > static_cast<JDIMENSION>(kMaxSide)) {
    c->result = kStillTooLarge;
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
  greyPalette(c->palette, 8);
  const int begun = c->sink.begin(c->image, w, h, grey ? PixelKind::Indexed8 : PixelKind::Bgr24, &c->palette, 8);
  if (begun != kStillOk) {
    c->result = begun;
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height ||
      cinfo.output_components != (grey ? 1 : cmyk ? 4 : 3)) {
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  // Adobe writes CMYK inverted (0 = full ink); plain CMYK files do not.
  const bool inverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    const auto y = static_cast<int32_t>(cinfo.output_scanline);
    uint8_t *dst = c->sink.row(y);
    JSAMPROW row = cmyk ? c->cmykRow.data() : dst;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    if (cmyk) {
      const uint8_t *s = c->cmykRow.data();
      for (int32_t i = 0; i < w; ++i) {
        unsigned cc = s[4 * i], m = s[4 * i + 1], yy = s[4 * i + 2], k = s[4 * i + 3];
        if (!inverted) {
          cc = 255 - cc; m = 255 - m; yy = 255 - yy; k = 255 - k;
        }
        dst[3 * i] = static_cast<uint8_t>(yy * k / 255);
        dst[3 * i + 1] = static_cast<uint8_t>(m * k / 255);
        dst[3 * i + 2] = static_cast<uint8_t>(cc * k / 255);
      }
    }
    c->sink.commit(y);
  }
  if (err.ranOut || cinfo.output_scanline < cinfo.output_height) {
    c->result = kStillTruncated;
  } else {
    c->sink.finish(true);
    c->result = kStillOk;
  }
  jpeg_destroy_decompress(&cinfo);
}

void runWrite(JpegContext *c) {
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegError err;
  initError(err);
  cinfo.err = &err.mgr;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    c->result = kStillWriteFailed;
    return;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &c->encoded, &c->encodedBytes);
  cinfo.image_width = static_cast<JDIMENSION>(c->rows->width());
  cinfo.image_height = static_cast<JDIMENSION>(c->rows->height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, c->quality, TRUE);
  if (c->quality >= 90) {
    // At high quality, halving the colour resolution would cost more than
    // the quantiser: keep every chroma sample.
    for (int i = 0; i < cinfo.num_components; ++i) cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg only reads the rows it is given.
    JSAMPROW row = const_cast<JSAMPROW>(c->rows->row(static_cast<int32_t>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  c->result = kStillOk;
}

}  // namespace

int jpegInfo(ByteView in, StillInfo *info) {
  if (!hasSignature(in)) return kStillNotFormat;
  try {
    JpegContext c;
    c.in = in;
    c.info = info;
    runRead(&c, false);
    return c.result;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

int jpegDecode(ByteView in, StillImage *image) {
  if (!hasSignature(in)) return kStillNotFormat;
  if (!image) return kStillBadImage;
  try {
    JpegContext c;
    c.in = in;
    StillInfo info{};
    c.info = &info;
    runRead(&c, false);
    if (c.result != kStillOk) return c.result;
    if (info.width > kMaxSide || info.height > kMaxSide) return kStillTooLarge;
    c.cmykRow.resize(static_cast<size_t>(info.width) * 4);
    c.image = image;
    runRead(&c, true);
    return c.result;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

// The option is the quality, 1 to 100 (values outside are brought inside).
int jpegEncode(const StillImage &image, int32_t option, ByteSink &out) {
  RowSource rows;
  int r = rows.begin(image, false);
  if (r != kStillOk) return r;
  JpegContext c;
  c.rows = &rows;
  c.quality = option < 1 ? 1 : option > 100 ? 100 : option;
  runWrite(&c);
  if (c.result == kStillOk) {
    try {
      out.insert(out.end(), c.encoded, c.encoded + c.encodedBytes);
    } catch (const std::bad_alloc &) {
      c.result = kStillNoMemory;
    }
  }
  std::free(c.encoded);  // from libjpeg's memory destination (malloc)
  return c.result;
}

}  // namespace kav::still
