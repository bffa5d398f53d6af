// Damaged files: every format's decoder over truncations and random byte
// changes of valid files (run under the sanitizers to catch any stray
// access), and the size limit applied before anything is allocated.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "stillimage/still_test_util.h"

using namespace kav::still;
using stilltest::Bytes;
using stilltest::Image;

namespace {

Bytes encoded(Format f, int bits, int32_t option) {
  Image src(29, 17, bits);
  if (bits == 8) stilltest::fillPaletted(src);
  else stilltest::fillTrueColour(src);
  Bytes out;
  EXPECT_EQ(stillCodec(f).encode(src.img, option, out), kStillOk);
  return out;
}

// Decodes into a fresh buffer, into one of the graphics input's shape, and
// queries; any result is fine as long as nothing goes astray.
int tryAll(Format f, const Bytes &file) {
  const CodecEntry &c = stillCodec(f);
  StillInfo info{};
  c.info(stilltest::view(file), &info);
  Image own;
  const int r = c.decode(stilltest::view(file), &own.img);
  if (info.width > 0 && info.height > 0 && info.width <= 64 && info.height <= 64) {
    Image shaped(info.width + 1, info.height, info.bitsPerPixel <= 8 ? 8 : 24);
    c.decode(stilltest::view(file), &shaped.img);
  }
  return r;
}

struct BadCase {
  Format format;
  int bits;
  int32_t option;
};

class Mutations : public testing::TestWithParam<BadCase> {};

TEST_P(Mutations, TruncationsFailCleanlyAndByteChangesStayInBounds) {
  const BadCase p = GetParam();
  const Bytes good = encoded(p.format, p.bits, p.option);
  ASSERT_EQ(tryAll(p.format, good), kStillOk);
  for (size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 97) {
    const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const int r = tryAll(p.format, part);
    if (cut < good.size() / 4) {  // well inside the pixel data
      EXPECT_NE(r, kStillOk) << "cut at " << cut;
    }
  }
  std::mt19937 rng(1234 + static_cast<int>(p.format) * 7 + p.bits);
  for (int n = 0; n < 300; ++n) {
    Bytes bad = good;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) {
      // Headers matter most: aim half of the changes at the first 64 bytes.
      const size_t at = (rng() & 1) ? rng() % std::min<size_t>(64, bad.size()) : rng() % bad.size();
      bad[at] = static_cast<uint8_t>(rng());
    }
    tryAll(p.format, bad);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, Mutations,
    testing::Values(BadCase{Format::Bmp, 8, 0}, BadCase{Format::Bmp, 8, 1}, BadCase{Format::Bmp, 24, 0},
                    BadCase{Format::Pcx, 8, 0}, BadCase{Format::Pcx, 24, 0}, BadCase{Format::Png, 8, 0},
                    BadCase{Format::Png, 24, 0}, BadCase{Format::Tga, 8, 1}, BadCase{Format::Tga, 24, 1},
                    BadCase{Format::Tiff, 8, 1}, BadCase{Format::Tiff, 24, 0}, BadCase{Format::Gif, 8, 0},
                    BadCase{Format::Jpeg, 24, 90}),
    [](const testing::TestParamInfo<BadCase> &i) {
      return std::string(stillFormat(i.param.format).name) + std::to_string(i.param.bits) + "_" +
             std::to_string(i.param.option);
    });

// Rewrites the width field of a saved file.
Bytes withWidth(Format f, uint32_t width) {
  Bytes b = encoded(f, 8, f == Format::Tga ? 1 : 0);  // run-length TGA: no raw size to check
  switch (f) {
    case Format::Bmp: for (int k = 0; k < 4; ++k) b[18 + k] = static_cast<uint8_t>(width >> (8 * k)); break;
    case Format::Pcx: b[8] = static_cast<uint8_t>(width - 1); b[9] = static_cast<uint8_t>((width - 1) >> 8); break;
    case Format::Tga: b[12] = static_cast<uint8_t>(width); b[13] = static_cast<uint8_t>(width >> 8); break;
    case Format::Gif: b[6] = static_cast<uint8_t>(width); b[7] = static_cast<uint8_t>(width >> 8); break;
    default: break;
  }
  return b;
}

TEST(SizeLimit, WiderThan4096IsReportedByTheQueryAndRefusedByTheLoad) {
  for (Format f : {Format::Bmp, Format::Pcx, Format::Tga, Format::Gif}) {
    const Bytes b = withWidth(f, 5000);
    StillInfo info{};
    ASSERT_EQ(stillCodec(f).info(stilltest::view(b), &info), kStillOk) << stillFormat(f).name;
    EXPECT_EQ(info.width, 5000);
    Image im;
    EXPECT_EQ(stillCodec(f).decode(stilltest::view(b), &im.img), kStillTooLarge) << stillFormat(f).name;
    EXPECT_EQ(im->buffer, nullptr);
  }
  // 4096 itself is allowed as far as the size goes (the data then runs out).
  const Bytes edge = withWidth(Format::Bmp, 4096);
  Image im;
  EXPECT_EQ(stillCodec(Format::Bmp).decode(stilltest::view(edge), &im.img), kStillTruncated);
}

TEST(BadHeaders, ContradictionsAreRefused) {
  Bytes b = encoded(Format::Bmp, 8, 1);  // RLE8
  b[28] = 4;  // RLE8 claimed for a 4-bit picture
  Image im;
  EXPECT_EQ(bmpDecode(stilltest::view(b), &im.img), kStillCorrupt);
  Bytes p = encoded(Format::Pcx, 8, 0);
  p[66] = 1;  // line shorter than the width
  p[67] = 0;
  EXPECT_EQ(pcxDecode(stilltest::view(p), &im.img), kStillCorrupt);
  Bytes t = encoded(Format::Tga, 24, 1);
  t[16] = 12;  // no such depth: not a TGA at all
  StillInfo info{};
  EXPECT_EQ(tgaInfo(stilltest::view(t), &info), kStillNotFormat);
  // A whole small file too short for the raw pixels its header promises is
  // not taken for a TGA (the format has no signature).
  Bytes raw = encoded(Format::Tga, 24, 0);
  EXPECT_EQ(tgaInfo(stilltest::view(raw), &info), kStillOk);
  raw.resize(18 + 29 * 17 * 3 - 1);
  EXPECT_EQ(tgaInfo(stilltest::view(raw), &info), kStillNotFormat);
}

}  // namespace

namespace {

// The sample folder: good files load, files under bad/ fail cleanly.
TEST(SampleFiles, GoodOnesLoadAndBadOnesFail) {
  namespace fs = std::filesystem;
  auto formatOf = [](const fs::path &p) -> const FormatEntry * {
    for (int i = 0; i < kFormatCount; ++i)
      if (p.extension() == stillFormats()[i].extension) return &stillFormats()[i];
    return nullptr;
  };
  int good = 0, bad = 0;
  for (const auto &e : fs::directory_iterator(KAV_STILL_DATA_DIR)) {
    const FormatEntry *f = formatOf(e.path());
    if (!e.is_regular_file() || !f) continue;
    Image im;
    EXPECT_EQ(f->load(e.path().c_str(), &im.img), kStillOk) << e.path();
    ++good;
  }
  for (const auto &e : fs::directory_iterator(fs::path(KAV_STILL_DATA_DIR) / "bad")) {
    const FormatEntry *f = formatOf(e.path());
    ASSERT_NE(f, nullptr) << e.path();
    Image im;
    EXPECT_NE(f->load(e.path().c_str(), &im.img), kStillOk) << e.path();
    EXPECT_EQ(im->buffer, nullptr) << e.path();
    ++bad;
  }
  EXPECT_GE(good, 7);
  EXPECT_GE(bad, 7);
}

}  // namespace
