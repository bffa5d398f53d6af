// PNG, GIF, JPEG and TIFF variants our savers do not write, made with the
// libraries' own writers: every PNG colour type and depth and interlacing,
// GIF interlaced frames off the screen origin, JPEG grey, progressive and
// CMYK, TIFF LZW, 4-bit palette, separate planes and 16-bit grey.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>
#include <gif_lib.h>

#include "stillimage/still_test_util.h"
#include "support/temp_dir.h"

using namespace kav::still;
using stilltest::Bytes;
using stilltest::Image;

namespace {

// Sample value of channel k at (x, y) of the reference pattern, 0..65535.
uint32_t sample(int x, int y, int k) { return static_cast<uint32_t>((x * 2311 + y * 977 + k * 15000) & 0xFFFF); }

void pngWrite(png_structp png, png_bytep d, size_t n) {
  auto *b = static_cast<Bytes *>(png_get_io_ptr(png));
  b->insert(b->end(), d, d + n);
}

Bytes makePng(int w, int h, int colourType, int depth, bool interlace) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, pngWrite, nullptr);
  png_set_IHDR(png, info, w, h, depth, colourType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color pal[16];
  for (int i = 0; i < 16; ++i) pal[i] = {static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 16), 7};
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, pal, 1 << depth);
  png_write_info(png, info);
  const int channels = colourType == PNG_COLOR_TYPE_RGB ? 3 : colourType == PNG_COLOR_TYPE_RGBA ? 4
                       : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  std::vector<Bytes> rows(h, Bytes(static_cast<size_t>(w) * channels * 2 + 8, 0));
  std::vector<png_bytep> ptrs;
  for (int y = 0; y < h; ++y) {
    Bytes &r = rows[y];
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < channels; ++k) {
        const uint32_t v = sample(x, y, k);
        if (depth == 16) {
          r[2 * (x * channels + k)] = static_cast<uint8_t>(v >> 8);
          r[2 * (x * channels + k) + 1] = static_cast<uint8_t>(v);
        } else if (depth == 8) {
          r[x * channels + k] = static_cast<uint8_t>(v >> 8);
        } else {
          const int per = 8 / depth;
          r[x / per] |= static_cast<uint8_t>((v >> (16 - depth)) << (8 - depth * (1 + x % per)));
        }
      }
    ptrs.push_back(r.data());
  }
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct PngCase {
  int colourType, depth;
  bool interlace;
  int bits;  // reported
};

class PngVariants : public testing::TestWithParam<PngCase> {};

TEST_P(PngVariants, DecodeToIndicesOrBgr) {
  const PngCase c = GetParam();
  const int w = 13, h = 11;
  const Bytes file = makePng(w, h, c.colourType, c.depth, c.interlace);
  StillInfo info{};
  ASSERT_EQ(pngInfo(stilltest::view(file), &info), kStillOk);
  EXPECT_EQ(info.bitsPerPixel, c.bits);
  Image im;
  ASSERT_EQ(pngDecode(stilltest::view(file), &im.img), kStillOk);
  const bool colour = c.colourType & PNG_COLOR_MASK_COLOR && c.colourType != PNG_COLOR_TYPE_PALETTE;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t bgr[3];
      im.bgr(x, y, bgr);
      if (colour) {
        ASSERT_EQ(bgr[2], sample(x, y, 0) >> 8);
        ASSERT_EQ(bgr[1], sample(x, y, 1) >> 8);
        ASSERT_EQ(bgr[0], sample(x, y, 2) >> 8);
      } else if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
        const int index = static_cast<int>(sample(x, y, 0) >> (16 - c.depth));
        ASSERT_EQ(im.index(x, y), index);
        ASSERT_EQ(bgr[2], index * 16);
      } else {
        const int d = c.depth > 8 ? 8 : c.depth;
        const int level = static_cast<int>(sample(x, y, 0) >> (16 - d));
        ASSERT_EQ(bgr[0], level * 255 / ((1 << d) - 1)) << x << "," << y;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ColourTypes, PngVariants,
    testing::Values(PngCase{PNG_COLOR_TYPE_GRAY, 1, false, 1}, PngCase{PNG_COLOR_TYPE_GRAY, 2, true, 2},
                    PngCase{PNG_COLOR_TYPE_GRAY, 4, false, 4}, PngCase{PNG_COLOR_TYPE_GRAY, 16, true, 16},
                    PngCase{PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 16}, PngCase{PNG_COLOR_TYPE_PALETTE, 4, true, 4},
                    PngCase{PNG_COLOR_TYPE_PALETTE, 1, false, 1}, PngCase{PNG_COLOR_TYPE_RGB, 16, false, 24},
                    PngCase{PNG_COLOR_TYPE_RGB, 8, true, 24}, PngCase{PNG_COLOR_TYPE_RGBA, 16, true, 32},
                    PngCase{PNG_COLOR_TYPE_RGBA, 8, false, 32}));

int gifWrite(GifFileType *g, const GifByteType *d, int n) {
  auto *b = static_cast<Bytes *>(g->UserData);
  b->insert(b->end(), d, d + n);
  return n;
}

TEST(GifVariants, InterlacedFirstFrameOffsetOnTheScreenWithLocalMap) {
  Bytes out;
  int err = 0;
  GifFileType *g = EGifOpen(&out, gifWrite, &err);
  GifColorType global[4] = {{0, 0, 0}, {9, 9, 9}, {1, 2, 3}, {4, 5, 6}};
  GifColorType local[16];
  for (int i = 0; i < 16; ++i) local[i] = {static_cast<GifByteType>(i * 10), 0, 0};
  ColorMapObject *gm = GifMakeMapObject(4, global), *lm = GifMakeMapObject(16, local);
  ASSERT_NE(EGifPutScreenDesc(g, 12, 14, 2, 1, gm), GIF_ERROR);
  // A 5 x 10 interlaced frame at (3, 2); lines are given in file order.
  ASSERT_NE(EGifPutImageDesc(g, 3, 2, 5, 10, true, lm), GIF_ERROR);
  const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int i = 0; i < 10; ++i) {
    GifPixelType line[5];
    for (int x = 0; x < 5; ++x) line[x] = static_cast<GifPixelType>((order[i] + x) % 16);
    ASSERT_NE(EGifPutLine(g, line, 5), GIF_ERROR);
  }
  // A second frame that must be ignored. (It gets a map of its own: giflib
  // forgets the previous frame's map when given none.)
  ASSERT_NE(EGifPutImageDesc(g, 0, 0, 12, 14, false, gm), GIF_ERROR);
  for (int i = 0; i < 14; ++i) {
    GifPixelType line[12] = {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
    ASSERT_NE(EGifPutLine(g, line, 12), GIF_ERROR);
  }
  EGifCloseFile(g, &err);
  GifFreeMapObject(gm);
  GifFreeMapObject(lm);

  StillInfo info{};
  ASSERT_EQ(gifInfo(stilltest::view(out), &info), kStillOk);
  EXPECT_EQ(info.width, 12);
  EXPECT_EQ(info.height, 14);
  EXPECT_EQ(info.bitsPerPixel, 2);
  Image im(13, 14, 8);
  ASSERT_EQ(gifDecode(stilltest::view(out), &im.img), kStillOk);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 3 && x < 8 && y >= 2 && y < 12;
      ASSERT_EQ(im.index(x, y), inside ? (y - 2 + x - 3) % 16 : 1) << x << "," << y;
    }
  uint8_t c[3];
  im.bgr(4, 2, c);
  EXPECT_EQ(c[2], 10);  // the frame's own map
}

Bytes makeJpeg(int w, int h, J_COLOR_SPACE space, int components, bool progressive, bool adobe) {
  jpeg_compress_struct ci;
  jpeg_error_mgr em;
  ci.err = jpeg_std_error(&em);
  jpeg_create_compress(&ci);
  unsigned char *buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&ci, &buf, &size);
  ci.image_width = w;
  ci.image_height = h;
  ci.input_components = components;
  ci.in_color_space = space;
  jpeg_set_defaults(&ci);
  jpeg_set_quality(&ci, 95, TRUE);
  if (space == JCS_CMYK) jpeg_set_colorspace(&ci, JCS_CMYK);
  ci.write_Adobe_marker = adobe;
  if (progressive) jpeg_simple_progression(&ci);
  jpeg_start_compress(&ci, TRUE);
  Bytes row(static_cast<size_t>(w) * components);
  while (ci.next_scanline < ci.image_height) {
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < components; ++k) row[x * components + k] = static_cast<uint8_t>(k == 3 ? 255 : 60 + 40 * k);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&ci, &r, 1);
  }
  jpeg_finish_compress(&ci);
  jpeg_destroy_compress(&ci);
  Bytes out(buf, buf + size);
  std::free(buf);
  return out;
}

TEST(JpegVariants, GreyProgressiveAndCmyk) {
  Image grey;
  const Bytes g = makeJpeg(17, 9, JCS_GRAYSCALE, 1, false, false);
  StillInfo info{};
  ASSERT_EQ(jpegInfo(stilltest::view(g), &info), kStillOk);
  EXPECT_EQ(info.bitsPerPixel, 8);
  ASSERT_EQ(jpegDecode(stilltest::view(g), &grey.img), kStillOk);
  EXPECT_EQ(grey->bitsPerPixel, 8);
  EXPECT_NEAR(grey.index(5, 5), 60, 2);

  Image prog;
  ASSERT_EQ(jpegDecode(stilltest::view(makeJpeg(33, 21, JCS_RGB, 3, true, false)), &prog.img), kStillOk);
  uint8_t c[3];
  prog.bgr(20, 10, c);
  EXPECT_NEAR(c[2], 60, 3);
  EXPECT_NEAR(c[1], 100, 3);
  EXPECT_NEAR(c[0], 140, 3);

  // Plain CMYK: C=60 M=100 Y=140 K=255 (no Adobe marker: 255 is full ink,
  // so black).
  Image cmyk;
  ASSERT_EQ(jpegDecode(stilltest::view(makeJpeg(8, 8, JCS_CMYK, 4, false, false)), &cmyk.img), kStillOk);
  cmyk.bgr(3, 3, c);
  EXPECT_LE(c[0] + c[1] + c[2], 9);
  // Adobe CMYK is inverted: the same bytes mean little ink, K none.
  Image adobe;
  ASSERT_EQ(jpegDecode(stilltest::view(makeJpeg(8, 8, JCS_CMYK, 4, false, true)), &adobe.img), kStillOk);
  adobe.bgr(3, 3, c);
  EXPECT_NEAR(c[2], 60, 3);
  EXPECT_NEAR(c[0], 140, 3);
}

int silent(TIFF *, void *, const char *, const char *, va_list) { return 1; }

// Writes a TIFF with libtiff to a file and returns its bytes.
template <typename Fill>
Bytes makeTiff(const std::string &name, Fill fill) {
  TIFFOpenOptions *o = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(o, silent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(o, silent, nullptr);
  TIFF *t = TIFFOpenExt(name.c_str(), "w", o);
  TIFFOpenOptionsFree(o);
  fill(t);
  TIFFClose(t);
  return kavtest::readFile(name);
}

TEST(TiffVariants, LzwPaletteSeparatePlanesAndSixteenBitGrey) {
  kavtest::TempDir dir;
  const int w = 10, h = 6;
  // 4-bit palette, LZW: the query reports compression 5; load still works.
  const Bytes lzw = makeTiff(dir.file("a.tif"), [&](TIFF *t) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 4);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    uint16_t r[16], g[16], b[16];
    for (int i = 0; i < 16; ++i) r[i] = g[i] = b[i] = static_cast<uint16_t>(i * 4369);
    TIFFSetField(t, TIFFTAG_COLORMAP, r, g, b);
    for (int y = 0; y < h; ++y) {
      uint8_t line[5];
      for (int x = 0; x < 5; ++x) line[x] = static_cast<uint8_t>((((2 * x + y) & 15) << 4) | ((2 * x + 1 + y) & 15));
      TIFFWriteScanline(t, line, y, 0);
    }
  });
  StillInfo info{};
  ASSERT_EQ(tiffInfo(stilltest::view(lzw), &info), kStillOk);
  EXPECT_EQ(info.compression, 5u);
  EXPECT_EQ(info.bitsPerPixel, 4);
  Image pal;
  ASSERT_EQ(tiffDecode(stilltest::view(lzw), &pal.img), kStillOk);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(pal.index(x, y), (x + y) & 15);
  EXPECT_EQ(pal->palette[15][0], 255);

  // RGB in separate planes, PackBits: through the RGBA reader.
  const Bytes planes = makeTiff(dir.file("b.tif"), [&](TIFF *t) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    for (uint16_t s = 0; s < 3; ++s)
      for (int y = 0; y < h; ++y) {
        uint8_t line[w];
        for (int x = 0; x < w; ++x) line[x] = static_cast<uint8_t>(s * 80 + x + y);
        TIFFWriteScanline(t, line, y, s);
      }
  });
  Image rgb;
  ASSERT_EQ(tiffDecode(stilltest::view(planes), &rgb.img), kStillOk);
  uint8_t c[3];
  rgb.bgr(4, 3, c);
  EXPECT_EQ(c[2], 7);
  EXPECT_EQ(c[1], 87);
  EXPECT_EQ(c[0], 167);

  // 16-bit grey, min-is-white: levels are the high bytes, inverted.
  const Bytes grey = makeTiff(dir.file("c.tif"), [&](TIFF *t) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    for (int y = 0; y < h; ++y) {
      uint16_t line[w];
      for (int x = 0; x < w; ++x) line[x] = static_cast<uint16_t>((x * 20 + y) << 8);
      TIFFWriteScanline(t, line, y, 0);
    }
  });
  Image g16;
  ASSERT_EQ(tiffDecode(stilltest::view(grey), &g16.img), kStillOk);
  g16.bgr(3, 2, c);
  EXPECT_EQ(c[0], 255 - 62);
}

}  // namespace
