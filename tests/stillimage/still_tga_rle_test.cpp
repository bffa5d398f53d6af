// The TGA run-length paths: the neighbour map agrees with its definition,
// the packet writer gives exactly what a plain pixel-by-pixel coder gives,
// and the decoder's bulk path gives what a plain packet reader gives,
// including packets that cross rows and files that end early.
#include <gtest/gtest.h>

#include <random>

#include "platform/stillimage/still_tga_rle.h"
#include "stillimage/still_test_util.h"

using namespace kav::still;
using stilltest::Bytes;
using stilltest::Image;

namespace {

// The coder as first written: run packets for repeats of two or more,
// raw packets for everything else, 128 pixels at most.
Bytes referenceRow(const uint8_t *s, int32_t w, size_t px) {
  Bytes out;
  auto same = [&](int32_t a, int32_t b) { return std::memcmp(s + a * px, s + b * px, px) == 0; };
  int32_t i = 0;
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
  return out;
}

// Rows of several kinds: few distinct values (many runs), noise, flat
// stretches around the packet limit, a lone odd pixel at either end.
std::vector<Bytes> testRows(int32_t w, size_t px, std::mt19937 &rng) {
  std::vector<Bytes> rows;
  const size_t n = static_cast<size_t>(w) * px;
  for (unsigned alphabet : {2u, 3u, 256u}) {
    Bytes r(n);
    for (auto &b : r) b = static_cast<uint8_t>(rng() % alphabet);
    rows.push_back(r);
  }
  Bytes flat(n, 7);
  rows.push_back(flat);
  flat[0] = 8;
  flat[n - 1] = 9;
  rows.push_back(flat);
  // Stretches of random length (1 to 300 pixels) of one colour.
  Bytes blocks(n);
  for (int32_t x = 0; x < w;) {
    const int32_t len = 1 + static_cast<int32_t>(rng() % 300);
    const auto v = static_cast<uint8_t>(rng());
    for (int32_t k = x; k < std::min(w, x + len); ++k)
      for (size_t c = 0; c < px; ++c) blocks[k * px + c] = static_cast<uint8_t>(v + (c == 1 ? (x & 1) : 0));
    x += len;
  }
  rows.push_back(blocks);
  // Repeats just past the packet limit (one pixel left over, which joins
  // the raw pixels after it) next to short repeats and lone pixels.
  Bytes limits(n);
  const int32_t lengths[] = {129, 1, 1, 2, 257, 3, 130, 128, 1, 129, 129, 2, 385, 1, 1, 1};
  for (int32_t x = 0, t = 0; x < w; ++t) {
    const int32_t len = lengths[t % 16];
    for (int32_t k = x; k < std::min(w, x + len); ++k)
      for (size_t c = 0; c < px; ++c) limits[k * px + c] = static_cast<uint8_t>(t * 7 + c);
    x += len;
  }
  rows.push_back(limits);
  return rows;
}

const int32_t kWidths[] = {1,   2,   3,   5,   6,   16,  21,  22,  23,  42,  43,  44,  63,  64,
                           65,  66,  127, 128, 129, 130, 191, 192, 193, 200, 257, 640, 4096};

TEST(TgaRle, NeighbourMapAgreesWithTheDefinition) {
  std::mt19937 rng(5);
  for (size_t px : {size_t{1}, size_t{3}})
    for (int32_t w : kWidths)
      for (const Bytes &row : testRows(w, px, rng)) {
        const size_t words = tgarle::equalMapWords(w);
        std::vector<uint64_t> expect(words, 0), portable(words, ~0ull);
        for (int32_t k = 0; k + 1 < w; ++k)
          if (std::memcmp(&row[k * px], &row[(k + 1) * px], px) == 0) expect[k / 64] |= 1ull << (k % 64);
        tgarle::equalMap(row.data(), w, px, portable.data());
        ASSERT_EQ(portable, expect) << "px " << px << " width " << w;
      }
}

TEST(TgaRle, PacketWriterMatchesThePlainCoder) {
  std::mt19937 rng(9);
  for (size_t px : {size_t{1}, size_t{3}})
    for (int32_t w : kWidths)
      for (const Bytes &row : testRows(w, px, rng)) {
        std::vector<uint64_t> map(tgarle::equalMapWords(w));
        tgarle::equalMap(row.data(), w, px, map.data());
        // Exactly the room promised, so the sanitizer build sees any
        // store past it.
        Bytes out(tgarle::rowWorstBytes(w, px) + tgarle::kRowSlack);
        const size_t used = tgarle::writeRow(row.data(), w, px, map.data(), out.data());
        ASSERT_LE(used, tgarle::rowWorstBytes(w, px));
        out.resize(used);
        ASSERT_EQ(out, referenceRow(row.data(), w, px)) << "px " << px << " width " << w;
      }
}

// Near a row's end packets are copied in exact, overlapping blocks: every
// raw tail length from one pixel to past the blind copy, after a run, in
// rows sized exactly (the sanitizer build sees a read past the row).
TEST(TgaRle, PacketWriterTailsOfEveryLength) {
  for (size_t px : {size_t{1}, size_t{3}})
    for (int32_t tail = 1; tail <= 140; ++tail) {
      const int32_t w = 3 + tail;
      Bytes row(static_cast<size_t>(w) * px);
      for (size_t k = 0; k < row.size(); ++k) row[k] = static_cast<uint8_t>(k < 3 * px ? 5 : 11 + k);
      std::vector<uint64_t> map(tgarle::equalMapWords(w));
      tgarle::equalMap(row.data(), w, px, map.data());
      Bytes out(tgarle::rowWorstBytes(w, px) + tgarle::kRowSlack);
      out.resize(tgarle::writeRow(row.data(), w, px, map.data(), out.data()));
      ASSERT_EQ(out, referenceRow(row.data(), w, px)) << "px " << px << " tail " << tail;
    }
}

// A run-length TGA of random packets (which run across rows and past the
// picture's end), and the pixels a plain reader takes from it; false when
// the data ends before the picture is full.
struct RleFile {
  Bytes file;
  Bytes pixels;  // file order, depth bytes each
  bool complete = false;
};

Bytes tgaHeader(uint8_t type, int32_t w, int32_t h, int depth, uint8_t descriptor) {
  Bytes b = {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stilltest::put16(b, static_cast<uint32_t>(w));
  stilltest::put16(b, static_cast<uint32_t>(h));
  b.push_back(static_cast<uint8_t>(depth));
  b.push_back(descriptor);
  return b;
}

RleFile randomRle(uint8_t type, int32_t w, int32_t h, int depth, uint8_t descriptor, std::mt19937 &rng) {
  const size_t pb = static_cast<size_t>(depth + 7) / 8;
  const size_t need = static_cast<size_t>(w) * h;
  RleFile f;
  f.file = tgaHeader(type, w, h, depth, descriptor);
  size_t made = 0;
  while (made < need) {
    const bool run = rng() % 2;
    const unsigned count = rng() % 4 == 0 ? 1 + rng() % 128 : 1 + rng() % 12;
    f.file.push_back(static_cast<uint8_t>((run ? 0x80 : 0) | (count - 1)));
    Bytes px(pb);
    for (unsigned i = 0; i < (run ? 1 : count); ++i) {
      for (auto &b : px) b = static_cast<uint8_t>(rng());
      f.file.insert(f.file.end(), px.begin(), px.end());
      for (unsigned k = 0; k < (run ? count : 1); ++k) f.pixels.insert(f.pixels.end(), px.begin(), px.end());
    }
    made += count;
  }
  f.pixels.resize(need * pb);
  return f;
}

// The plain reader, pixel by pixel, over a prefix of a file.
bool plainRead(const Bytes &file, size_t size, size_t pb, size_t need, Bytes &pixels) {
  size_t at = 18;
  pixels.clear();
  while (pixels.size() < need * pb) {
    if (at >= size) return false;
    const uint8_t p = file[at++];
    const unsigned count = (p & 0x7F) + 1u;
    if (p & 0x80) {
      if (size - at < pb) return false;
      for (unsigned k = 0; k < count && pixels.size() < need * pb; ++k)
        pixels.insert(pixels.end(), file.begin() + at, file.begin() + at + pb);
      at += pb;
    } else {
      for (unsigned k = 0; k < count && pixels.size() < need * pb; ++k) {
        if (size - at < pb) return false;
        pixels.insert(pixels.end(), file.begin() + at, file.begin() + at + pb);
        at += pb;
      }
    }
  }
  return true;
}

// Pixel (x, y) of file-order pixels as the decoder delivers it.
void expectPicture(Image &im, const Bytes &pixels, int32_t w, int32_t h, int depth, bool topDown) {
  const size_t pb = static_cast<size_t>(depth + 7) / 8;
  for (int32_t fy = 0; fy < h; ++fy) {
    const int32_t y = topDown ? fy : h - 1 - fy;
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t *want = &pixels[(static_cast<size_t>(fy) * w + x) * pb];
      const uint8_t *got = im.row(y) + x * (im->bitsPerPixel / 8);
      if (depth == 16) {
        ASSERT_EQ(got[0], want[0]) << x << "," << y;
        ASSERT_EQ(got[1], want[1] & 0x7F) << x << "," << y;
      } else {
        ASSERT_EQ(std::memcmp(got, want, std::min<size_t>(pb, 3)), 0) << x << "," << y << " depth " << depth;
      }
    }
  }
}

TEST(TgaRle, DecoderMatchesThePlainReader) {
  std::mt19937 rng(11);
  struct Kind {
    uint8_t type;
    int depth;
  } kinds[] = {{11, 8}, {10, 16}, {10, 24}, {10, 32}};
  for (const Kind &k : kinds)
    for (int32_t w : {1, 2, 7, 40, 130, 300})
      for (uint8_t descriptor : {uint8_t{0x00}, uint8_t{0x20}}) {
        const int32_t h = 1 + static_cast<int32_t>(rng() % 6);
        const RleFile f = randomRle(k.type, w, h, k.depth, descriptor, rng);
        Image im;
        ASSERT_EQ(tgaDecode(stilltest::view(f.file), &im.img), kStillOk) << int(k.depth) << " " << w;
        expectPicture(im, f.pixels, w, h, k.depth, descriptor == 0x20);
      }
}

TEST(TgaRle, DecoderFailsCleanlyWhereverTheFileEnds) {
  std::mt19937 rng(13);
  for (int depth : {8, 24}) {
    const int32_t w = 70, h = 3;
    const RleFile f = randomRle(depth == 8 ? 11 : 10, w, h, depth, 0x20, rng);
    const size_t pb = static_cast<size_t>(depth / 8);
    for (size_t size = 18; size <= f.file.size(); ++size) {
      // A copy of just the prefix, so reading past it is caught.
      const Bytes prefix(f.file.begin(), f.file.begin() + static_cast<std::ptrdiff_t>(size));
      Bytes pixels;
      const bool whole = plainRead(f.file, size, pb, static_cast<size_t>(w) * h, pixels);
      Image im;
      const int r = tgaDecode(stilltest::view(prefix), &im.img);
      ASSERT_EQ(r, whole ? kStillOk : kStillTruncated) << "size " << size;
      if (whole) expectPicture(im, pixels, w, h, depth, true);
    }
  }
}

}  // namespace
