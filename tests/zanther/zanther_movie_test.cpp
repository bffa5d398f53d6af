// Movies through writer and reader: pictures over many frames, palettes and
// their report rules, wrapping with and without a ring frame, seeking, the
// drawing modes, handle mode inside a bigger file, and both read strategies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "zanther/zanther_internal.h"
#include "zanther_test_support.h"

namespace {

using namespace ztest;

Movie makeMovie(uint32_t version, uint32_t w, uint32_t h, uint32_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  Movie m;
  m.version = version;
  m.width = w;
  m.height = h;
  std::vector<uint8_t> pic = randomPicture(w, h, rng);
  for (uint32_t f = 0; f < frames; ++f) {
    Frame fr;
    if (f) pic = changedPicture(pic, w, h, 30, rng);
    fr.pixels = pic;
    if (f % 4 == 0) {
      fr.hasPalette = true;
      fr.palette = literalPalette(f);
    }
    m.frames.push_back(fr);
  }
  return m;
}

// The picture part of a decoded target (the first `h` lines, w wide).
void expectPicture(const std::vector<uint8_t> &target, const std::vector<uint8_t> &pic, uint32_t targetWidth,
                   uint32_t w, uint32_t h) {
  for (uint32_t y = 0; y < h / 4 * 4; ++y)
    for (uint32_t x = 0; x < w / 4 * 4; ++x)
      ASSERT_EQ(target[static_cast<size_t>(y) * targetWidth + x], pic[static_cast<size_t>(y) * w + x])
          << "x " << x << " y " << y;
}

TEST(ZantherMovie, PicturesRoundTripInBothVersionsAndStrategies) {
  for (uint32_t version : {2u, 4u}) {
    SCOPED_TRACE(version);
    Movie m = makeMovie(version, 160, 128, 12, version);
    MovieFile file(kavtest::zantw::writeMovie(m));
    const auto counts = kavtest::zantw::lastBlockCounts();
    EXPECT_GT(counts.solid, 0u);
    EXPECT_GT(counts.unchanged, 0u);
    EXPECT_GT(counts.twoColour, 0u);
    EXPECT_GT(counts.full, 0u);
    if (version == 4) {
      EXPECT_GT(counts.quarters, 0u);
      EXPECT_GT(counts.halfRows, 0u);
    }
    std::vector<std::vector<uint8_t>> byStrategy[2];
    for (int whole = 0; whole < 2; ++whole) {
      ZanthHandle *h = openBytes(file, whole ? 1u << 24 : 0);
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(h->BlockStart == nullptr, whole == 1);
      EXPECT_EQ(h->Width, 160u);
      EXPECT_EQ(h->Height, 128u);
      EXPECT_EQ(h->FrameCount, 12u);
      byStrategy[whole] = decodeFrames(h, 24);  // twice round
      for (uint32_t f = 0; f < 24; ++f) expectPicture(byStrategy[whole][f], m.frames[f % 12].pixels, 160, 160, 128);
      EXPECT_EQ(h->ReadError, 0u);
      ZanthClose(h);
    }
    EXPECT_EQ(byStrategy[0], byStrategy[1]);
  }
}

TEST(ZantherMovie, WidthAndHeightRemaindersAreNotDrawn) {
  Movie m = makeMovie(4, 70, 42, 3, 5);
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> target(70 * 42, 0xEE);
  ZanthSetTarget(h, 0, 0, 70, 42, target.data(), 0);
  ZanthDecodeFrame(h);
  expectPicture(target, m.frames[0].pixels, 70, 70, 42);
  for (uint32_t y = 0; y < 42; ++y)
    for (uint32_t x = 0; x < 70; ++x)
      if (x >= 68 || y >= 40) {
        ASSERT_EQ(target[y * 70 + x], 0xEE);
      }
  ZanthClose(h);
}

TEST(ZantherMovie, TargetOffsetAndPitchPlaceTheFrame) {
  Movie m = makeMovie(2, 32, 16, 2, 8);
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  const uint32_t pitch = 50;
  std::vector<uint8_t> target(pitch * 30, 0);
  ZanthSetTarget(h, 7, 5, pitch, 30, target.data(), 0);
  ZanthDecodeFrame(h);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 32; ++x) ASSERT_EQ(target[(5 + y) * pitch + 7 + x], m.frames[0].pixels[y * 32 + x]);
  ZanthClose(h);
}

TEST(ZantherMovie, InterlacedAndDoubledModesSpreadTheLines) {
  for (uint32_t flags : {2u, 4u, 6u}) {
    SCOPED_TRACE(flags);
    Movie m = makeMovie(4, 32, 24, 3, flags);
    m.fileFlags = flags;
    MovieFile file(kavtest::zantw::writeMovie(m));
    ZanthHandle *h = openBytes(file);
    ASSERT_NE(h, nullptr);
    const bool spread = flags != 6;
    EXPECT_EQ(h->Height, spread ? 48u : 24u);
    const auto frames = decodeFrames(h, 3);
    for (uint32_t f = 0; f < 3; ++f)
      for (uint32_t y = 0; y < h->Height; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
          uint8_t want;
          if (!spread)
            want = m.frames[f].pixels[y * 32 + x];
          else if (flags == 2)
            want = y % 2 ? 0 : m.frames[f].pixels[y / 2 * 32 + x];
          else
            want = m.frames[f].pixels[y / 2 * 32 + x];
          ASSERT_EQ(frames[f][y * 32 + x], want) << f << " " << x << " " << y;
        }
    ZanthClose(h);
  }
}

TEST(ZantherMovie, PaletteIsReportedOncePerChangeAcrossWraps) {
  Movie m = makeMovie(4, 16, 16, 6, 2);
  for (auto &f : m.frames) f.hasPalette = false;
  m.frames[0].hasPalette = true;
  m.frames[0].palette = literalPalette(3);
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint32_t> reported;
  for (uint32_t i = 0; i < 13; ++i) {
    if (h->PaletteChanged) reported.push_back(i);
    ZanthDecodeFrame(h);
    ZanthAdvance(h);
  }
  EXPECT_EQ(reported, std::vector<uint32_t>{0});
  EXPECT_EQ(std::vector<uint8_t>(h->Palette, h->Palette + 768), expectedLiteralPalette(3));
  ZanthClose(h);

  // With a second palette reported in between, frame 0 reports again.
  m.frames[3].hasPalette = true;
  m.frames[3].palette = literalPalette(9);
  MovieFile file2(kavtest::zantw::writeMovie(m));
  h = openBytes(file2);
  ASSERT_NE(h, nullptr);
  reported.clear();
  for (uint32_t i = 0; i < 13; ++i) {
    if (h->PaletteChanged) reported.push_back(i);
    if (i == 3) {
      EXPECT_EQ(std::vector<uint8_t>(h->Palette, h->Palette + 768), expectedLiteralPalette(9));
    }
    ZanthDecodeFrame(h);
    ZanthAdvance(h);
  }
  EXPECT_EQ(reported, (std::vector<uint32_t>{0, 3, 6, 9, 12}));
  ZanthClose(h);
}

TEST(ZantherMovie, SeekingBackToTheReportedFrameDoesNotReportAgain) {
  Movie m = makeMovie(4, 16, 16, 6, 4);
  for (auto &f : m.frames) f.hasPalette = false;
  m.frames[2].hasPalette = true;
  m.frames[2].palette = literalPalette(1);
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  ZanthSeek(h, 3);
  EXPECT_EQ(h->CurrentFrame, 2u);
  EXPECT_EQ(h->PaletteChanged, 1u);
  ZanthDecodeFrame(h);
  ZanthAdvance(h);
  EXPECT_EQ(h->PaletteChanged, 0u);
  ZanthSeek(h, 3);
  EXPECT_EQ(h->PaletteChanged, 0u);
  ZanthSeek(h, 3);  // same frame: nothing happens
  EXPECT_EQ(h->CurrentFrame, 2u);
  ZanthClose(h);
}

TEST(ZantherMovie, PaletteCommandsKeepCopyAndWidenLevels) {
  Movie m = makeMovie(4, 16, 16, 3, 6);
  m.frames[0].hasPalette = true;
  m.frames[0].palette = literalPalette(0);
  m.frames[1].hasPalette = true;
  m.frames[1].palette = {PaletteCommand::literal(63, 0, 32), PaletteCommand::copy(3, 200), PaletteCommand::keep(128),
                         PaletteCommand::keep(124)};
  m.frames[2].hasPalette = true;
  m.frames[2].palette = {PaletteCommand::keep(128), PaletteCommand::keep(128)};
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  const auto base = expectedLiteralPalette(0);
  ZanthDecodeFrame(h);
  ZanthAdvance(h);
  EXPECT_EQ(h->Palette[0], 255);
  EXPECT_EQ(h->Palette[1], 0);
  EXPECT_EQ(h->Palette[2], 130);
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(h->Palette[3 * (1 + k) + c], base[3 * (200 + k) + c]);
  for (int e = 4; e < 256; ++e) EXPECT_EQ(h->Palette[3 * e], base[3 * e]);
  const std::vector<uint8_t> before(h->Palette, h->Palette + 768);
  ZanthDecodeFrame(h);
  ZanthAdvance(h);
  EXPECT_EQ(h->PaletteChanged, 1u);
  EXPECT_EQ(std::vector<uint8_t>(h->Palette, h->Palette + 768), before);
  ZanthClose(h);
}

TEST(ZantherMovie, RingFrameLeadsBackToFrameOne) {
  for (uint32_t count : {5u, 1u}) {
    SCOPED_TRACE(count);
    Movie m = makeMovie(4, 32, 16, count, 10 + count);
    m.fileFlags = 1;
    Frame ring;
    ring.pixels = m.frames[0].pixels;
    m.frames.push_back(ring);
    MovieFile file(kavtest::zantw::writeMovie(m));
    for (uint32_t request : {0u, 1u << 24}) {
      ZanthHandle *h = openBytes(file, request);
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(h->FrameCount, count);
      std::vector<uint32_t> numbers;
      std::vector<uint8_t> target(32 * 16, 0);
      ZanthSetTarget(h, 0, 0, 32, 16, target.data(), 0);
      for (uint32_t i = 0; i < 3 * (count + 1); ++i) {
        numbers.push_back(h->CurrentFrame);
        ZanthDecodeFrame(h);
        const uint32_t shown = h->CurrentFrame == count ? 0 : h->CurrentFrame;
        expectPicture(target, m.frames[shown].pixels, 32, 32, 16);
        ZanthAdvance(h);
      }
      const std::vector<uint32_t> want =
          count == 5 ? std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2}
                     : std::vector<uint32_t>{0, 1, 0, 1, 0, 1};
      EXPECT_EQ(numbers, want);
      ZanthClose(h);
    }
  }
}

TEST(ZantherMovie, SeekDecodesOnTopOfTheTarget) {
  Movie m = makeMovie(4, 32, 32, 8, 21);
  m.useUnchanged = false;  // every frame stands alone
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> target(32 * 32, 0);
  ZanthSetTarget(h, 0, 0, 32, 32, target.data(), 0);
  for (uint32_t frame : {6u, 2u, 8u, 1u, 0u, 5u, 9u}) {
    ZanthSeek(h, frame);
    const uint32_t want = frame == 0 ? 0 : frame - 1 >= 8 ? 0 : frame - 1;
    EXPECT_EQ(h->CurrentFrame, want);
    ZanthDecodeFrame(h);
    expectPicture(target, m.frames[want].pixels, 32, 32, 32);
  }
  ZanthClose(h);
}

TEST(ZantherMovie, HandleModeReadsAStreamInsideABiggerFile) {
  Movie m = makeMovie(4, 160, 96, 10, 31);
  const auto movie = kavtest::zantw::writeMovie(m);
  // The stream starts at 5000, not a multiple of 4096.
  std::vector<uint8_t> bytes(5000 + movie.size() + 3000, 0x5A);
  std::fill(bytes.begin(), bytes.begin() + 5000, 0xA5);
  std::copy(movie.begin(), movie.end(), bytes.begin() + 5000);
  MovieFile file(bytes, "outer.exe");
  for (uint32_t request : {0u, 1u << 24}) {
    const int fd = ::open(file.name.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 5000, SEEK_SET), 5000);
    ZanthHandle *h = ZanthOpen(nullptr, fd, ZANTH_OPEN_HANDLE, request);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->File == KAV_INVALID_OS_FILE, request != 0);
    const auto frames = decodeFrames(h, 20);
    for (uint32_t f = 0; f < 20; ++f) expectPicture(frames[f], m.frames[f % 10].pixels, 160, 160, 96);
    ZanthClose(h);
    EXPECT_GE(::lseek(fd, 0, SEEK_CUR), 0);  // still open
    ::close(fd);
  }
}

TEST(ZantherMovie, SmallFilesAreReadWholeAndClosed) {
  Movie m = makeMovie(4, 16, 16, 4, 41);
  const auto bytes = kavtest::zantw::writeMovie(m);
  MovieFile file(bytes);
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->BlockStart, nullptr);
  EXPECT_EQ(h->File, KAV_INVALID_OS_FILE);
  const auto frames = decodeFrames(h, 4);
  for (uint32_t f = 0; f < 4; ++f) expectPicture(frames[f], m.frames[f].pixels, 16, 16, 16);
  ZanthClose(h);
}

TEST(ZantherMovie, NullHandleAndNoTargetAreHarmless) {
  ZanthClose(nullptr);
  ZanthAdvance(nullptr);
  ZanthSeek(nullptr, 3);
  EXPECT_EQ(ZanthDecodeFrame(nullptr), 0);
  uint8_t buf[16];
  EXPECT_EQ(ZanthTrackData(nullptr, buf, ZANTH_TRACK_MASK_0), 0u);
  Movie m = makeMovie(4, 16, 16, 2, 1);
  MovieFile file(kavtest::zantw::writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZanthDecodeFrame(h), 0);
  EXPECT_EQ(h->LastReportedPalette, 0);
  ZanthClose(h);
}

TEST(ZantherMovie, DebugSwitchWritesOpenAndCloseLines) {
  Movie m = makeMovie(4, 16, 16, 2, 1);
  MovieFile file(kavtest::zantw::writeMovie(m));
  MovieFile bad(std::vector<uint8_t>{'R', 'I', 'F', 'F', 0, 0, 0, 0});
  setenv("ZANTHER_DEBUG", "1", 1);
  kav::zanther::resetDebugSwitch();
  testing::internal::CaptureStderr();
  ZanthHandle *h = openBytes(file);
  ZanthClose(h);
  EXPECT_EQ(openBytes(bad), nullptr);
  std::string err = testing::internal::GetCapturedStderr();
  const std::string addr = std::to_string(reinterpret_cast<uintptr_t>(h));
  EXPECT_EQ(err, "ZanthOpen - file: " + file.name + "\r\nZanthOpen returned: " + addr + "\r\nZanthClose: " + addr +
                     "\r\nZanthOpen - file: " + bad.name + "\r\nWasn't a Zanther file\r\n");
  setenv("ZANTHER_DEBUG", "0", 1);
  kav::zanther::resetDebugSwitch();
  testing::internal::CaptureStderr();
  ZanthClose(openBytes(file));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  unsetenv("ZANTHER_DEBUG");
  kav::zanther::resetDebugSwitch();
}

TEST(ZantherMovie, DebugSwitchFallsBackToTheSettingsFile) {
  kavtest::TempDir dir;
  kavtest::writeFile(dir.file("kavutil.ini"),
                     std::vector<uint8_t>{'[', 'Z', 'a', 'n', 't', 'h', 'e', 'r', ']', '\n', 'D', 'e', 'b', 'u', 'g',
                                          '=', '2', '5', '7', '\n'});
  const char *old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  unsetenv("ZANTHER_DEBUG");
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  kav::zanther::resetDebugSwitch();
  EXPECT_TRUE(kav::zanther::debugSwitchOn());  // low byte of 257 is 1
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  kav::zanther::resetDebugSwitch();
}

}  // namespace
