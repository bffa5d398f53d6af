// The Flic reader on hand-built files: header rules, every chunk type it
// decodes (including those our writer never emits), looping and seeking.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "flic/flic_test_util.h"
#include "kavutil/flic.h"
#include "support/temp_dir.h"

using namespace flictest;

namespace {

// An open reader over bytes written to a scratch file, with its buffer.
struct Opened {
  kavtest::TempDir dir;
  KAVFlic *flic = nullptr;
  std::vector<uint8_t> buf;

  explicit Opened(const Bytes &file, const char *name = "a.flc") {
    kavtest::writeFile(dir.file(name), file);
    flic = KAVFlicOpen(dir.file(name).c_str());
    if (flic) buf.assign(static_cast<size_t>(flic->pitch) * flic->paddedHeight, 0xEE);
  }
  ~Opened() { KAVFlicClose(flic); }
  uint8_t next() { return KAVFlicGetNext(flic, buf.data()); }
  uint8_t at(uint32_t x, uint32_t y) const { return buf[static_cast<size_t>(y) * flic->pitch + x]; }
  std::vector<uint8_t> row(uint32_t y) const {
    return {buf.begin() + static_cast<long>(y) * flic->pitch, buf.begin() + static_cast<long>(y) * flic->pitch + flic->width};
  }
};

Bytes fill(size_t n, uint8_t v) { return Bytes(n, v); }

// A byte-run chunk that paints every row of a w x h picture with one value.
Chunk solid(uint16_t w, uint16_t h, uint8_t v) {
  Chunk c{15, {}};
  for (uint16_t y = 0; y < h; ++y) {
    c.data.push_back(0);
    for (uint32_t left = w; left;) {
      const uint32_t n = left > 127 ? 127 : left;
      c.data.push_back(static_cast<uint8_t>(n));
      c.data.push_back(v);
      left -= n;
    }
  }
  return c;
}

int32_t rateOf(FlicBuilder b) {
  b.frame({});
  Opened o(b.build());
  EXPECT_NE(o.flic, nullptr);
  return o.flic ? o.flic->rate : 0;
}

TEST(FlicReaderHeader, RatesFollowSpeedAndPreciseDuration) {
  FlicBuilder flc(4, 4);
  flc.speed = 0;
  EXPECT_EQ(rateOf(flc), -20000);
  flc.speed = 30001;
  EXPECT_EQ(rateOf(flc), -20000);
  flc.speed = 30000;
  EXPECT_EQ(rateOf(flc), -3000000);
  flc.speed = 41;
  flc.precise = -4167;
  EXPECT_EQ(rateOf(flc), -4167);
  flc.precise = -4200;  // does not agree with 41 ms: whole milliseconds win
  EXPECT_EQ(rateOf(flc), -4100);
  flc.precise = 4167;  // only a negative value counts
  EXPECT_EQ(rateOf(flc), -4100);

  FlicBuilder fli(4, 4);
  fli.magic = 0xAF11;
  fli.speed = 5;
  EXPECT_EQ(rateOf(fli), -7142);
  fli.speed = 0;
  EXPECT_EQ(rateOf(fli), -20000);
  fli.speed = 0xFFFFFFFF;  // a damaged speed still gives a negative duration
  EXPECT_LT(rateOf(fli), 0);
}

TEST(FlicReaderHeader, FieldsAndRefusals) {
  FlicBuilder b(318, 7);
  b.frameCount = 9;
  b.frame({});
  Opened o(b.build());
  ASSERT_NE(o.flic, nullptr);
  EXPECT_EQ(o.flic->width, 318u);
  EXPECT_EQ(o.flic->height, 7u);
  EXPECT_EQ(o.flic->pitch, 320u);
  EXPECT_EQ(o.flic->paddedHeight, 8u);
  EXPECT_EQ(o.flic->frameCount, 9u);
  EXPECT_EQ(o.flic->firstFrameOffset, 128u);
  EXPECT_EQ(o.flic->framesDecoded, 0u);
  for (int i = 0; i < 768; ++i) ASSERT_EQ(KAVFlicGetPalette(o.flic)[i], 0);

  Bytes bad = b.build();
  bad[4] = 0x13;  // unknown magic
  Opened wrongMagic(bad);
  EXPECT_EQ(wrongMagic.flic, nullptr);
  const Bytes whole = b.build();
  Opened shortHeader(Bytes(whole.begin(), whole.begin() + 127));
  EXPECT_EQ(shortHeader.flic, nullptr);
  EXPECT_EQ(KAVFlicOpen(nullptr), nullptr);
  EXPECT_EQ(KAVFlicGetNext(nullptr, nullptr), 0);
  EXPECT_EQ(KAVFlicGoto(nullptr, 1, nullptr), 0);
}

TEST(FlicReaderHeader, NameWithoutExtensionTriesFlcThenFli) {
  kavtest::TempDir dir;
  FlicBuilder b(4, 4);
  b.frame({});
  kavtest::writeFile(dir.file("both.flc"), b.build());
  kavtest::writeFile(dir.file("both.fli"), b.build());
  kavtest::writeFile(dir.file("only.fli"), b.build());
  char name[KAV_NAME_MAX];

  KAVFlic *f = KAVFlicOpen(dir.file("both").c_str());
  ASSERT_NE(f, nullptr);
  KAVFlicGetName(f, name);
  EXPECT_EQ(std::string(name), dir.file("both.flc"));
  KAVFlicClose(f);

  f = KAVFlicOpen(dir.file("only").c_str());
  ASSERT_NE(f, nullptr);
  KAVFlicGetName(f, name);
  EXPECT_EQ(std::string(name), dir.file("only.fli"));
  KAVFlicClose(f);

  // An extension that names nothing is not replaced by another.
  EXPECT_EQ(KAVFlicOpen(dir.file("only.flc").c_str()), nullptr);
  EXPECT_EQ(KAVFlicOpen(dir.file("none").c_str()), nullptr);
}

TEST(FlicReaderChunks, SixtyFourLevelColoursScaleAllEntries) {
  Chunk c{11, {}};
  put16(c.data, 1);
  c.data.push_back(0);
  c.data.push_back(0);  // 256 entries
  for (int i = 0; i < 256; ++i) {
    c.data.push_back(63);
    c.data.push_back(16);
    c.data.push_back(static_cast<uint8_t>(i));  // high bits above 63 are dropped
  }
  FlicBuilder b(4, 4);
  b.magic = 0xAF11;
  b.frame({c});
  Opened o(b.build());
  ASSERT_NE(o.flic, nullptr);
  EXPECT_EQ(o.next(), 2);
  const uint8_t *pal = KAVFlicGetPalette(o.flic);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(pal[3 * i], 255);
    ASSERT_EQ(pal[3 * i + 1], 65);
    const int v = i & 63;
    ASSERT_EQ(pal[3 * i + 2], (v << 2) | (v >> 4)) << i;
  }
}

TEST(FlicReaderChunks, ColourPacketsSkipAndPatch) {
  Chunk c{4, {}};
  put16(c.data, 2);
  c.data.insert(c.data.end(), {5, 1, 1, 2, 3});     // entry 5
  c.data.insert(c.data.end(), {2, 2, 4, 5, 6, 7, 8, 9});  // entries 8 and 9
  FlicBuilder b(4, 4);
  b.frame({c}).frame({});
  Opened o(b.build());
  EXPECT_EQ(o.next(), 2);
  const uint8_t *pal = KAVFlicGetPalette(o.flic);
  EXPECT_EQ(pal[15], 1);
  EXPECT_EQ(pal[17], 3);
  EXPECT_EQ(pal[24], 4);
  EXPECT_EQ(pal[29], 9);
  EXPECT_EQ(pal[18], 0);
  EXPECT_EQ(o.next(), 1);  // no colour chunk: palette kept
  EXPECT_EQ(pal[15], 1);
  // A rewind keeps the palette too.
  EXPECT_EQ(KAVFlicGoto(o.flic, 0, o.buf.data()), 1);
  EXPECT_EQ(pal[29], 9);
}

TEST(FlicReaderChunks, ByteRunLiteralOf128AndRunsOfOneByte) {
  // 130 x 2: row 0 = literal of 128 then run of 2; row 1 = run 127 + run 3.
  Chunk c{15, {}};
  c.data.push_back(2);
  c.data.push_back(0x80);  // -128: 128 literal bytes
  for (int i = 0; i < 128; ++i) c.data.push_back(static_cast<uint8_t>(i));
  c.data.insert(c.data.end(), {2, 0xAA});
  c.data.insert(c.data.end(), {9, 127, 7, 3, 8});
  FlicBuilder b(130, 2);
  b.frame({c});
  Opened o(b.build());
  EXPECT_EQ(o.next(), 1);
  for (int x = 0; x < 128; ++x) ASSERT_EQ(o.at(x, 0), x);
  EXPECT_EQ(o.at(128, 0), 0xAA);
  EXPECT_EQ(o.at(129, 0), 0xAA);
  EXPECT_EQ(o.at(126, 1), 7);
  EXPECT_EQ(o.at(127, 1), 8);
  EXPECT_EQ(o.at(129, 1), 8);
  // Margin: columns 130 and 131 (pitch 132) and rows 2 and 3 are index 0.
  EXPECT_EQ(o.at(130, 0), 0);
  EXPECT_EQ(o.at(131, 1), 0);
  EXPECT_EQ(o.at(5, 3), 0);
}

TEST(FlicReaderChunks, ByteDeltaSkipsRowsAndStores128) {
  FlicBuilder b(200, 4);
  Chunk d{12, {}};
  put16(d.data, 1);  // skip row 0
  put16(d.data, 2);  // rows 1 and 2
  d.data.insert(d.data.end(), {2, 3, 0x80, 9, 0, 2, 1, 2});  // row 1: skip 3, 128 x 9; then 2 literal bytes
  d.data.insert(d.data.end(), {1, 10, 0xFF, 4});            // row 2: skip 10, 1 x 4
  b.frame({solid(200, 4, 1)}).frame({d});
  Opened o(b.build());
  o.next();
  o.next();
  EXPECT_EQ(o.row(0), fill(200, 1));
  Bytes r1 = fill(200, 1);
  std::memset(r1.data() + 3, 9, 128);
  r1[131] = 1;
  r1[132] = 2;
  EXPECT_EQ(o.row(1), r1);
  Bytes r2 = fill(200, 1);
  r2[10] = 4;
  EXPECT_EQ(o.row(2), r2);
  EXPECT_EQ(o.row(3), fill(200, 1));
}

TEST(FlicReaderChunks, WordDeltaLineSkipsAndLastPixelWord) {
  // 319 pixels wide: pitch 320, the last pixel (column 318) has no word of
  // its own and comes from a last-pixel word.
  FlicBuilder b(319, 6);
  Chunk d{7, {}};
  put16(d.data, 3);            // three line records
  put16(d.data, 0x10000 - 1);  // skip row 0
  put16(d.data, 0x8000 | 0x5A);  // row 1: last pixel 0x5A, then its packet count
  put16(d.data, 1);
  d.data.insert(d.data.end(), {4, 2, 0x11, 0x22, 0x33, 0x44});  // skip 4 bytes, 2 literal words
  put16(d.data, 0);  // row 2: no packets
  put16(d.data, 0x10000 - 2);  // skip rows 3 and 4
  put16(d.data, 2);  // row 5: two packets
  d.data.insert(d.data.end(), {0, 0xFD, 0x01, 0x02});  // 3 x word 0x0201
  d.data.insert(d.data.end(), {254, 0xFF, 0x07, 0x08});  // 6 + 254 = column 260: one 0x0807 word
  b.frame({solid(319, 6, 3)}).frame({d});
  Opened o(b.build());
  o.next();
  EXPECT_EQ(o.at(318, 1), 3);
  o.next();
  EXPECT_EQ(o.row(0), fill(319, 3));
  Bytes r1 = fill(319, 3);
  r1[4] = 0x11, r1[5] = 0x22, r1[6] = 0x33, r1[7] = 0x44, r1[318] = 0x5A;
  EXPECT_EQ(o.row(1), r1);
  EXPECT_EQ(o.row(2), fill(319, 3));
  EXPECT_EQ(o.row(4), fill(319, 3));
  Bytes r5 = fill(319, 3);
  for (int x = 0; x < 6; x += 2) r5[x] = 1, r5[x + 1] = 2;
  r5[260] = 7, r5[261] = 8;
  EXPECT_EQ(o.row(5), r5);
  EXPECT_EQ(o.at(319, 1), 0);  // the margin column stays 0
}

TEST(FlicReaderChunks, CopyBlackAndUnknownChunks) {
  Chunk copy{16, {}};
  for (int i = 0; i < 6 * 3; ++i) copy.data.push_back(static_cast<uint8_t>(i + 1));
  Chunk stamp{18, Bytes(40, 0xFF)};  // a postage stamp, skipped
  FlicBuilder b(6, 3);
  b.frame({stamp, copy}).frame({{13, {}}});
  Opened o(b.build());
  o.next();
  EXPECT_EQ(o.row(2), (Bytes{13, 14, 15, 16, 17, 18}));
  o.next();
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(o.row(y), fill(6, 0));
}

TEST(FlicReaderPlayback, LoopsWithoutTheRingFrame) {
  // Three frames painting 1, 2, 3, then a ring frame painting 9.
  FlicBuilder b(8, 2);
  b.frame({solid(8, 2, 1)}).frame({solid(8, 2, 2)}).frame({solid(8, 2, 3)}).frame({solid(8, 2, 9)});
  b.frameCount = 3;
  Opened o(b.build());
  for (int pass = 0; pass < 2; ++pass)
    for (uint8_t v = 1; v <= 3; ++v) {
      o.next();
      ASSERT_EQ(o.row(1), fill(8, v));
      ASSERT_EQ(o.flic->framesDecoded, v);
    }
  // Frame 1 after the loop starts from a zeroed buffer: a delta that paints
  // one pixel shows zeros around it.
  FlicBuilder d(8, 2);
  Chunk pixel{12, {}};
  put16(pixel.data, 0);
  put16(pixel.data, 1);
  pixel.data.insert(pixel.data.end(), {1, 0, 1, 5});
  d.frame({pixel}).frame({solid(8, 2, 4)});
  Opened p(d.build());
  p.next();
  p.next();
  p.next();
  EXPECT_EQ(p.row(0), (Bytes{5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FlicReaderPlayback, GotoClampsRewindsAndReportsPalette) {
  FlicBuilder b(4, 1);
  Chunk pal{4, {}};
  put16(pal.data, 1);
  pal.data.insert(pal.data.end(), {0, 1, 10, 20, 30});
  for (uint8_t i = 1; i <= 10; ++i) {
    if (i == 4)
      b.frame({pal, solid(4, 1, i)});
    else
      b.frame({solid(4, 1, i)});
  }
  Opened o(b.build());
  EXPECT_EQ(KAVFlicGoto(o.flic, 1000, o.buf.data()), 2);
  EXPECT_EQ(o.flic->framesDecoded, 10u);
  EXPECT_EQ(o.row(0), fill(4, 10));
  EXPECT_EQ(KAVFlicGoto(o.flic, 3, o.buf.data()), 1);
  EXPECT_EQ(o.row(0), fill(4, 3));
  EXPECT_EQ(KAVFlicGoto(o.flic, 5, o.buf.data()), 2);  // passes frame 4
  // The current frame is decoded again from frame 1.
  std::memset(o.buf.data(), 0x77, 4);
  EXPECT_EQ(KAVFlicGoto(o.flic, 5, o.buf.data()), 2);
  EXPECT_EQ(o.row(0), fill(4, 5));
  // Frame 0 rewinds and leaves the buffer alone.
  EXPECT_EQ(KAVFlicGoto(o.flic, 0, o.buf.data()), 1);
  EXPECT_EQ(o.flic->framesDecoded, 0u);
  EXPECT_EQ(o.row(0), fill(4, 5));
  o.next();
  EXPECT_EQ(o.row(0), fill(4, 1));
}

TEST(FlicReaderPlayback, FileEndingEarlyStopsGoto) {
  FlicBuilder b(4, 1);
  b.frame({solid(4, 1, 1)}).frame({solid(4, 1, 2)});
  b.frameCount = 6;  // promises more than the file holds
  Opened o(b.build());
  EXPECT_EQ(KAVFlicGoto(o.flic, 6, o.buf.data()), 0);
  EXPECT_EQ(o.flic->framesDecoded, 2u);
  EXPECT_EQ(o.row(0), fill(4, 2));
  // A read past the end changes nothing and still answers 1.
  EXPECT_EQ(o.next(), 1);
  EXPECT_EQ(o.flic->framesDecoded, 2u);
  EXPECT_EQ(o.row(0), fill(4, 2));
}

TEST(FlicReaderMends, PrefixChunkBeforeFrameOneIsSkipped) {
  FlicBuilder b(4, 1);
  b.frame({{3, Bytes(20, 0x42)}}, 0xF100).frame({solid(4, 1, 6)}).frame({solid(4, 1, 7)});
  b.frameCount = 2;
  Opened o(b.build());
  EXPECT_EQ(o.flic->firstFrameOffset, 128u + 16 + 26);
  o.next();
  EXPECT_EQ(o.row(0), fill(4, 6));
  o.next();
  o.next();  // loops to the real frame 1, not to the prefix
  EXPECT_EQ(o.row(0), fill(4, 6));
}

TEST(FlicReaderMends, CutShortFrameAppliesWhatIsThere) {
  // Frame 1: colour chunk, then a copy chunk whose last row is cut off.
  Chunk pal{4, {}};
  put16(pal.data, 1);
  pal.data.insert(pal.data.end(), {0, 1, 10, 20, 30});
  Chunk copy{16, {}};
  for (int i = 0; i < 12; ++i) copy.data.push_back(static_cast<uint8_t>(0x60 + i));
  FlicBuilder b(4, 3);
  b.frame({pal, copy});
  Bytes file = b.build();
  file.pop_back();  // the last byte is missing
  Opened o(file);
  EXPECT_EQ(o.next(), 2);
  EXPECT_EQ(KAVFlicGetPalette(o.flic)[2], 30);
  EXPECT_EQ(o.row(0), (Bytes{0x60, 0x61, 0x62, 0x63}));
  EXPECT_EQ(o.row(1), (Bytes{0x64, 0x65, 0x66, 0x67}));
  EXPECT_EQ(o.row(2), fill(4, 0));  // the row whose bytes are incomplete is left alone
  EXPECT_EQ(o.flic->framesDecoded, 1u);
}

TEST(FlicReaderBounds, DamagedCountsStayInsideBufferAndPalette) {
  // Each chunk overreaches in its own way; the picture is 5 x 3 (pitch 8,
  // padded height 4). The guard bytes after the buffer must survive.
  std::vector<Chunk> chunks;
  Chunk pal{4, {}};
  put16(pal.data, 2);
  pal.data.insert(pal.data.end(), {250, 10});  // entries 250..259
  for (int i = 0; i < 30; ++i) pal.data.push_back(0xAB);
  pal.data.insert(pal.data.end(), {255, 0});  // far past 256
  for (int i = 0; i < 768; ++i) pal.data.push_back(0xCD);
  chunks.push_back(pal);
  Chunk run{15, {}};
  for (int y = 0; y < 3; ++y) run.data.insert(run.data.end(), {0, 100, 9});  // runs past the row end
  chunks.push_back(run);
  Chunk bd{12, {}};
  put16(bd.data, 2);
  put16(bd.data, 60000);  // more rows than the picture has
  for (int i = 0; i < 5; ++i) bd.data.insert(bd.data.end(), {2, 200, 0x80, 1, 3, 0x81, 2});
  chunks.push_back(bd);
  Chunk wd{7, {}};
  put16(wd.data, 500);
  for (int i = 0; i < 5; ++i) {
    put16(wd.data, 0x8000 | 0x44);
    put16(wd.data, 3);
    wd.data.insert(wd.data.end(), {1, 0x81, 5, 6, 250, 1, 7, 8, 0, 127});  // a literal longer than the data
  }
  chunks.push_back(wd);
  FlicBuilder b(5, 3);
  b.frame(chunks);
  Bytes file = b.build();
  kavtest::TempDir dir;
  kavtest::writeFile(dir.file("x.flc"), file);
  KAVFlic *f = KAVFlicOpen(dir.file("x.flc").c_str());
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> buf(8 * 4 + 64, 0x5C);
  EXPECT_EQ(KAVFlicGetNext(f, buf.data()), 2);
  for (size_t i = 32; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0x5C) << i;
  EXPECT_EQ(KAVFlicGetPalette(f)[250 * 3], 0xAB);
  EXPECT_EQ(KAVFlicGetPalette(f)[255 * 3 + 2], 0xAB);
  // The margin stays index 0 whatever the chunks tried.
  for (int y = 0; y < 4; ++y)
    for (int x = (y < 3 ? 5 : 0); x < 8; ++x) ASSERT_EQ(buf[y * 8 + x], 0) << x << "," << y;
  KAVFlicClose(f);
}

TEST(FlicReaderBounds, DamagedChunkAndFrameSizes) {
  FlicBuilder b(4, 2);
  // A chunk whose size is below its header, a frame claiming far more bytes
  // than the file holds, and a frame size below 16.
  Bytes tiny;
  put32(tiny, 16 + 6);
  put16(tiny, 0xF1FA);
  put16(tiny, 3);
  tiny.resize(16, 0);
  put32(tiny, 2);
  put16(tiny, 15);
  Bytes small;
  put32(small, 3);
  put16(small, 0xF1FA);
  put16(small, 1);
  small.resize(16, 0);
  b.rawFrame(tiny).rawFrame(small).frame({solid(4, 2, 8)});
  Bytes huge;
  put32(huge, 0xFFFFFFF0);
  put16(huge, 0xF1FA);
  put16(huge, 0xFFFF);
  huge.resize(16, 0);
  Bytes body = solid(4, 2, 9).data;
  put32(huge, static_cast<uint32_t>(body.size() + 6));
  put16(huge, 15);
  huge.insert(huge.end(), body.begin(), body.end());
  b.rawFrame(huge);
  Opened o(b.build());
  o.next();
  EXPECT_EQ(o.row(0), fill(4, 0));
  o.next();  // no data: an empty frame
  o.next();
  EXPECT_EQ(o.row(1), fill(4, 8));
  o.next();  // cut short by the end of the file: what is there is applied
  EXPECT_EQ(o.row(1), fill(4, 9));
  EXPECT_EQ(o.flic->framesDecoded, 4u);
}

}  // namespace
