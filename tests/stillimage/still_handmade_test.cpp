// Files built byte by byte for the variants our savers do not write: RLE,
// top-down, low-depth and bit-field BMPs, planar and padded PCX, the four
// TGA origins and run packets across rows, a tiled TIFF.
#include <gtest/gtest.h>

#include "stillimage/still_test_util.h"

using namespace kav::still;
using stilltest::Bytes;
using stilltest::Image;
using stilltest::put16;
using stilltest::put32;

namespace {

// A BMP with a 40-byte header; `table` is the colour table (4 bytes each)
// plus any bit-field masks, `pixels` the stored rows.
Bytes bmp(int32_t w, int32_t h, int bits, uint32_t compression, const Bytes &table, const Bytes &pixels,
          uint32_t coloursUsed = 0) {
  Bytes b = {'B', 'M'};
  put32(b, static_cast<uint32_t>(54 + table.size() + pixels.size()));
  put32(b, 0);
  put32(b, static_cast<uint32_t>(54 + table.size()));
  put32(b, 40);
  put32(b, static_cast<uint32_t>(w));
  put32(b, static_cast<uint32_t>(h));
  put16(b, 1);
  put16(b, static_cast<uint32_t>(bits));
  put32(b, compression);
  put32(b, static_cast<uint32_t>(pixels.size()));
  put32(b, 0);
  put32(b, 0);
  put32(b, coloursUsed);
  put32(b, 0);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

Bytes greyTable(int n) {
  Bytes t;
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (n - 1));
    t.insert(t.end(), {v, v, v, 0});
  }
  return t;
}

void decode(Format f, const Bytes &file, Image &out, int expect = kStillOk) {
  ASSERT_EQ(stillCodec(f).decode(stilltest::view(file), &out.img), expect);
}

TEST(HandmadeBmp, Rle8WithDeltaLineEndsAndLiteralRuns) {
  // 6 x 3, bottom-up: bottom row "run of 4 x 7, runs of 1 and 2", middle row a
  // delta skipping two pixels, top row a literal of 3 (padded).
  const Bytes px = {4, 7, 1, 1, 1, 2, 0, 0,   // bottom row
                    0, 2, 2, 0, 2, 9, 0, 0,   // delta (2,0) then run of 2 x 9
                    0, 3, 5, 6, 8, 0, 0, 1};  // literal 5 6 8 + pad, end of bitmap
  Image im;
  decode(Format::Bmp, bmp(6, 3, 8, 1, greyTable(256), px), im);
  const int want[3][6] = {{5, 6, 8, 0, 0, 0}, {0, 0, 9, 9, 0, 0}, {7, 7, 7, 7, 1, 2}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(im.index(x, y), want[y][x]) << x << "," << y;
}

TEST(HandmadeBmp, Rle4AlternatesNibblesAndClipsLongRuns) {
  // 5 x 1: run of 7 pixels alternating 1 and 2 (clipped to 5).
  const Bytes px = {7, 0x12, 0, 1};
  Image im;
  decode(Format::Bmp, bmp(5, 1, 4, 2, greyTable(16), px), im);
  const int want[5] = {1, 2, 1, 2, 1};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(im.index(x, 0), want[x]);
  // A literal run that leaves the data is a clean failure.
  Image bad;
  decode(Format::Bmp, bmp(5, 2, 4, 2, greyTable(16), Bytes{0, 9, 0x12}), bad, kStillTruncated);
}

TEST(HandmadeBmp, FourBitRowsKeepTheLeftPixelInTheHighNibble) {
  // 3 x 2, top-down (negative height), 4-bit rows padded to 4 bytes.
  const Bytes px = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0};
  Image im;
  decode(Format::Bmp, bmp(3, -2, 4, 0, greyTable(16), px), im);
  EXPECT_EQ(im.index(0, 0), 1);
  EXPECT_EQ(im.index(1, 0), 2);
  EXPECT_EQ(im.index(2, 0), 3);
  EXPECT_EQ(im.index(0, 1), 4);
  EXPECT_EQ(im.index(2, 1), 6);
  // Kept at 4 bits when the caller asks for it: DIB nibble order.
  Image four(4, 2, 4);
  decode(Format::Bmp, bmp(3, -2, 4, 0, greyTable(16), px), four);
  EXPECT_EQ(four.row(0)[0], 0x12);
  EXPECT_EQ(four.row(0)[1], 0x30);
  EXPECT_EQ(four.row(1)[0], 0x45);
}

TEST(HandmadeBmp, OneBitTwoColourTableAndShortTable) {
  // 10 x 1: bits 1010110000, table of 2 colours, colours-used 2.
  const Bytes table = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue
  const Bytes px = {0xAC, 0x00, 0, 0};
  Image im;
  decode(Format::Bmp, bmp(10, 1, 1, 0, table, px, 2), im);
  EXPECT_EQ(im->colours, 2u);
  const int want[10] = {1, 0, 1, 0, 1, 1, 0, 0, 0, 0};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(im.index(x, 0), want[x]);
  uint8_t c[3];
  im.bgr(0, 0, c);
  EXPECT_EQ(c[0], 255);  // blue
}

TEST(HandmadeBmp, SixteenBitFields565And32BitTopDown) {
  Bytes masks;
  put32(masks, 0xF800);
  put32(masks, 0x07E0);
  put32(masks, 0x001F);
  Bytes px;
  put16(px, 0xF800);  // red
  put16(px, 0x07E0);  // green
  Image im;
  decode(Format::Bmp, bmp(2, 1, 16, 3, masks, px), im);
  EXPECT_EQ(im->bitsPerPixel, 24);
  // Fields are shifted up to 8 bits, as 5:5:5 pixels are.
  EXPECT_EQ(im.row(0)[2], 248);
  EXPECT_EQ(im.row(0)[3 + 1], 252);
  EXPECT_EQ(im.row(0)[0], 0);

  const Bytes px32 = {1, 2, 3, 99, 4, 5, 6, 99};  // two rows of one pixel, top first
  Image t(1, 2, 32);
  decode(Format::Bmp, bmp(1, -2, 32, 0, {}, px32), t);
  EXPECT_EQ(t.row(0)[0], 1);
  EXPECT_EQ(t.row(1)[2], 6);
  EXPECT_EQ(t.row(0)[3], 0);  // the fourth byte is cleared
}

// A PCX header; `palette16` fills the 16-entry header table.
Bytes pcx(int w, int h, int bitsPerPlane, int planes, int lineBytes, const Bytes &data, int encoding = 1,
          const Bytes &palette16 = {}) {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = static_cast<uint8_t>(encoding);
  b[3] = static_cast<uint8_t>(bitsPerPlane);
  b[8] = static_cast<uint8_t>(w - 1);
  b[10] = static_cast<uint8_t>(h - 1);
  for (size_t i = 0; i < palette16.size() && i < 48; ++i) b[16 + i] = palette16[i];
  b[65] = static_cast<uint8_t>(planes);
  b[66] = static_cast<uint8_t>(lineBytes);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(HandmadePcx, FourPlanesOfOneBitMakeSixteenColours) {
  // 3 x 1, planes 0..3 each one byte (padded to 2): pixel 0 = 0b0101,
  // pixel 1 = 0b1010, pixel 2 = 0b1111.
  Bytes palette;
  for (int i = 0; i < 16; ++i) palette.insert(palette.end(), {static_cast<uint8_t>(i * 16), 0, 0});
  const Bytes data = {0xA0, 0x00, 0x60, 0x00, 0xA0, 0x00, 0x60, 0x00};  // raw bytes below 0xC0
  Image im;
  decode(Format::Pcx, pcx(3, 1, 1, 4, 2, data, 1, palette), im);
  EXPECT_EQ(im.index(0, 0), 5);
  EXPECT_EQ(im.index(1, 0), 10);
  EXPECT_EQ(im.index(2, 0), 15);
  uint8_t c[3];
  im.bgr(1, 0, c);
  EXPECT_EQ(c[2], 160);  // red from the header table
}

TEST(HandmadePcx, TwentyFourBitPlanesWithOddWidthPaddingAndRunsAcrossLines) {
  // 3 x 2, line 4 bytes per plane (one padding byte), runs over lines.
  Bytes data = {0xC4, 10, 0xC4, 20, 0xC4, 30,   // row 0: R=10, G=20, B=30
                0xC3, 40, 0xC5, 50, 0xC4, 60};  // row 1: run of 5 crosses planes
  Image im;
  decode(Format::Pcx, pcx(3, 2, 8, 3, 4, data), im);
  EXPECT_EQ(im.row(0)[0], 30);
  EXPECT_EQ(im.row(0)[1], 20);
  EXPECT_EQ(im.row(0)[2], 10);
  EXPECT_EQ(im.row(1)[2], 40);  // R 40 40 40 then pad 50
  EXPECT_EQ(im.row(1)[1], 50);
  EXPECT_EQ(im.row(1)[0], 60);
  // Data ending early is a clean failure.
  Image bad;
  decode(Format::Pcx, pcx(3, 2, 8, 3, 4, Bytes(data.begin(), data.begin() + 8)), bad, kStillTruncated);
}

TEST(HandmadePcx, MonochromeWithEmptyHeaderTableIsBlackOnWhite) {
  const Bytes data = {0x80, 0x00};
  Image im;
  decode(Format::Pcx, pcx(2, 1, 1, 1, 2, data, 0), im);
  uint8_t c[3];
  im.bgr(0, 0, c);
  EXPECT_EQ(c[0], 255);
  im.bgr(1, 0, c);
  EXPECT_EQ(c[0], 0);
}

Bytes tga(uint8_t type, int w, int h, int depth, uint8_t descriptor, const Bytes &map, int mapFirst, int mapBits,
          const Bytes &data) {
  Bytes b = {0, static_cast<uint8_t>(map.empty() ? 0 : 1), type};
  put16(b, static_cast<uint32_t>(mapFirst));
  put16(b, map.empty() ? 0 : static_cast<uint32_t>(map.size() / ((mapBits + 7) / 8)));
  b.push_back(static_cast<uint8_t>(map.empty() ? 0 : mapBits));
  put16(b, 0);
  put16(b, 0);
  put16(b, static_cast<uint32_t>(w));
  put16(b, static_cast<uint32_t>(h));
  b.push_back(static_cast<uint8_t>(depth));
  b.push_back(descriptor);
  b.insert(b.end(), map.begin(), map.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(HandmadeTga, AllFourOriginsGiveTheSamePicture) {
  // Picture (top-down): row 0 = 1 2, row 1 = 3 4 (grey levels).
  struct Origin {
    uint8_t descriptor;
    Bytes stored;
  } origins[] = {{0x00, {3, 4, 1, 2}}, {0x20, {1, 2, 3, 4}}, {0x10, {4, 3, 2, 1}}, {0x30, {2, 1, 4, 3}}};
  for (const auto &o : origins) {
    Image im;
    decode(Format::Tga, tga(3, 2, 2, 8, o.descriptor, {}, 0, 0, o.stored), im);
    EXPECT_EQ(im.index(0, 0), 1) << int(o.descriptor);
    EXPECT_EQ(im.index(1, 0), 2) << int(o.descriptor);
    EXPECT_EQ(im.index(0, 1), 3) << int(o.descriptor);
    EXPECT_EQ(im.index(1, 1), 4) << int(o.descriptor);
  }
}

TEST(HandmadeTga, RunPacketsCrossRowsAndSixteenBitPixels) {
  // 3 x 2 RLE true colour 16-bit, top-left: one run of 4 red, raw 2 blue.
  Bytes data = {0x83};
  put16(data, 0x7C00);
  data.push_back(0x01);
  put16(data, 0x001F);
  put16(data, 0x801F);  // attribute bit set
  Image im(3, 2, 16);
  decode(Format::Tga, tga(10, 3, 2, 16, 0x20, {}, 0, 0, data), im);
  auto px = [&](int x, int y) { return im.row(y)[2 * x] | (im.row(y)[2 * x + 1] << 8); };
  EXPECT_EQ(px(0, 0), 0x7C00);
  EXPECT_EQ(px(0, 1), 0x7C00);
  EXPECT_EQ(px(1, 1), 0x001F);
  EXPECT_EQ(px(2, 1), 0x001F);  // the attribute bit is not colour
  // Truncated inside a packet.
  Image bad;
  decode(Format::Tga, tga(10, 3, 2, 16, 0x20, {}, 0, 0, Bytes(data.begin(), data.begin() + 4)), bad,
         kStillTruncated);
}

TEST(HandmadeTga, ColourMapWithFirstEntryOffset) {
  // Map entries start at index 2; 24-bit entries.
  const Bytes map = {10, 20, 30, 40, 50, 60};
  Image im;
  decode(Format::Tga, tga(1, 2, 1, 8, 0x20, map, 2, 24, Bytes{2, 3}), im);
  uint8_t c[3];
  im.bgr(0, 0, c);
  EXPECT_EQ(c[0], 10);
  im.bgr(1, 0, c);
  EXPECT_EQ(c[2], 60);
  EXPECT_EQ(im->colours, 4u);
}

// A little-endian TIFF with one IFD; tags sorted.
struct Tag {
  uint16_t id, type;
  uint32_t count, value;
};
Bytes tiffFile(const std::vector<Tag> &tags, const Bytes &data) {
  Bytes b = {'I', 'I', 42, 0};
  put32(b, static_cast<uint32_t>(8 + data.size()));
  b.insert(b.end(), data.begin(), data.end());
  put16(b, static_cast<uint32_t>(tags.size()));
  for (const Tag &t : tags) {
    put16(b, t.id);
    put16(b, t.type);
    put32(b, t.count);
    put32(b, t.value);
  }
  put32(b, 0);
  return b;
}

TEST(HandmadeTiff, GreyTilesCoverAPictureLargerThanOneTile) {
  // 20 x 18 grey, 16 x 16 tiles (2 x 2), uncompressed; pixel = x + 20 y.
  const int w = 20, h = 18, t = 16;
  Bytes data;
  std::vector<uint32_t> offsets;
  for (int ty = 0; ty < 2; ++ty)
    for (int tx = 0; tx < 2; ++tx) {
      offsets.push_back(static_cast<uint32_t>(8 + data.size()));
      for (int y = 0; y < t; ++y)
        for (int x = 0; x < t; ++x) data.push_back(static_cast<uint8_t>((tx * t + x) + w * (ty * t + y)));
    }
  const uint32_t arrays = static_cast<uint32_t>(8 + data.size());
  for (uint32_t o : offsets) put32(data, o);
  for (int i = 0; i < 4; ++i) put32(data, t * t);
  const Bytes file = tiffFile({{256, 3, 1, w},
                               {257, 3, 1, h},
                               {258, 3, 1, 8},
                               {259, 3, 1, 1},
                               {262, 3, 1, 1},
                               {277, 3, 1, 1},
                               {322, 3, 1, t},
                               {323, 3, 1, t},
                               {324, 4, 4, arrays},
                               {325, 4, 4, arrays + 16}},
                              data);
  StillInfo info{};
  ASSERT_EQ(tiffInfo(stilltest::view(file), &info), kStillOk);
  EXPECT_EQ(info.width, w);
  EXPECT_EQ(info.bitsPerPixel, 8);
  EXPECT_EQ(info.compression, 1u);
  Image im(w + 1, h, 8);
  decode(Format::Tiff, file, im);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(im.index(x, y), (x + w * y) & 255) << x << "," << y;
}

}  // namespace
