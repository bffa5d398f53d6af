// More input kinds end to end through the built kavconv: a Vorn movie with
// sound, a QuickTime movie, a single BMP still, a numbered TGA sequence and a
// Vorn movie carried inside an .EXE, each converted into a Flic, an AVI and a
// numbered PNG sequence. Every result is read back with our readers and
// compared with what our graphics input makes of the source: exactly for the
// true-colour targets, against the input's own 8-bit reduction for the Flic
// (the tool asks for that same reduction). AVI results carry the source's
// sound. Last, a raw frame file with more frames than a Flic holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/pe_builder.h"
#include "support/temp_dir.h"
#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"
#include "tests/quicktime/qt_builder.h"
#include "tests/tools/tool_test_util.h"

namespace {

using namespace kavtooltest;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kW = 32, kH = 24, kFrames = 4;

// ---- Vorn: fill blocks whose levels move from frame to frame, and one
// 16-bit mono transform-coded sound track.

using kavtest::vornw::fillPlane;

Bytes vornMovie() {
  kavtest::vornf::FileDesc d;
  d.width = kW;
  d.height = kH;
  d.rateNumerator = 10;
  d.tracks.push_back({kavtest::vornf::descriptor(11025, false, true), 5, {}});
  kavtest::vornf::SoundTrackEncoder enc(11025, 1, 3);
  for (uint32_t n = 0; n < kFrames; ++n) {
    kavtest::vornw::FrameDesc f;
    f.luma = fillPlane(kW, kH, static_cast<uint8_t>(40 + n * 20));
    f.chroma[0] = fillPlane(kW / 2, kH / 2, static_cast<uint8_t>(100 + n * 7));
    f.chroma[1] = fillPlane(kW / 2, kH / 2, static_cast<uint8_t>(150 - n * 10));
    kavtest::vornf::Frame fr;
    fr.key = true;
    fr.sound.push_back(enc.chunk(2));
    fr.video = kavtest::vornw::writeFrame(f);
    d.frames.push_back(fr);
  }
  return kavtest::vornf::writeFile(d);
}

// ---- QuickTime: raw 24-bit frames, every pixel its own colour, a fifth of
// a second each.

constexpr uint32_t kQtW = 16, kQtH = 8, kQtFrames = 3;

Bytes quickTimeMovie() {
  Bytes data;
  for (uint32_t n = 0; n < kQtFrames; ++n)
    for (uint32_t y = 0; y < kQtH; ++y)
      for (uint32_t x = 0; x < kQtW; ++x) {
        data.push_back(static_cast<uint8_t>(x * 15 + n * 40));
        data.push_back(static_cast<uint8_t>(y * 30 + n));
        data.push_back(static_cast<uint8_t>((x ^ y) * 16 + 7));
      }
  qttest::TrackSpec v{"vide"};
  v.entries = {qttest::videoEntry("raw ", kQtW, kQtH, 24)};
  v.times = {{kQtFrames, 120}};
  v.chunkRuns = {{1, kQtFrames}};
  v.uniformSize = kQtW * kQtH * 3;
  v.sampleCount = kQtFrames;
  v.offsets = {8};
  v.duration = 120 * kQtFrames;
  return qttest::movie(data, 600, 120 * kQtFrames, {v});
}

// ---- Stills through our graphics output, in true colour.

std::vector<uint32_t> truePicture(uint32_t frame) {
  std::vector<uint32_t> px(kW * kH);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x)
      px[y * kW + x] =
          ((x * 8 + frame * 50) & 0xFF) << 16 | ((y * 10 + frame) & 0xFF) << 8 | ((x * y + 3 * frame) & 0xFF);
  return px;
}

void writeStills(const std::string &name, uint32_t frames) {
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, name.c_str(), frames, 10, 1, kW, kH, kW, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  for (uint32_t f = 0; f < frames; ++f) OGFilePut(o, reinterpret_cast<const uint8_t *>(truePicture(f).data()), nullptr);
  OGFileClose(o);
}

// The sound of an AVI the tool wrote: all of the source's bytes (the test
// movies' tracks end before their pictures do), then silence padding.
void expectSameSound(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want, uint8_t silence) {
  ASSERT_FALSE(want.empty());
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
  for (size_t i = want.size(); i < got.size(); ++i) ASSERT_EQ(got[i], silence) << i;
}

struct Input {
  std::string tag;
  std::string name;
  uint32_t frames;
  bool sound;
};

class KavconvInputs : public ::testing::Test {
 protected:
  // Converts `in` into every target and compares each result with the
  // source as our graphics input reads it.
  void convertToEveryTarget(const Input &in) {
    SCOPED_TRACE(in.tag);
    const Pictures src = readPictures(in.name);
    ASSERT_EQ(src.frames.size(), in.frames);
    ASSERT_GT(src.width, 0u);
    const Pictures src8 = readPictures(in.name, 1);
    ASSERT_EQ(src8.frames.size(), in.frames);

    const std::string flc = dir.file("out-" + in.tag + ".flc");
    ToolRun r = kavconv({in.name, flc});
    ASSERT_EQ(r.status, 0) << r.output;
    const Pictures gotFlc = readPictures(flc);
    EXPECT_EQ(gotFlc.width, src8.width);
    EXPECT_EQ(gotFlc.height, src8.height);
    ASSERT_EQ(gotFlc.frames.size(), in.frames);
    for (uint32_t f = 0; f < in.frames; ++f) EXPECT_EQ(gotFlc.frames[f], src8.frames[f]) << "flc frame " << f;

    const std::string avi = dir.file("out-" + in.tag + ".avi");
    r = kavconv({in.name, avi});
    ASSERT_EQ(r.status, 0) << r.output;
    const Pictures gotAvi = readPictures(avi);
    EXPECT_EQ(gotAvi.width, src.width);
    EXPECT_EQ(gotAvi.height, src.height);
    ASSERT_EQ(gotAvi.frames.size(), in.frames);
    for (uint32_t f = 0; f < in.frames; ++f) EXPECT_EQ(gotAvi.frames[f], src.frames[f]) << "avi frame " << f;
    if (in.sound) {
      SFile *s = SFileOpen(in.name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
      ASSERT_NE(s, nullptr);
      const uint8_t silence = s->outBits == 8 ? 0x80 : 0;
      SFileClose(s);
      expectSameSound(readSound(avi), readSound(in.name), silence);
    } else {
      EXPECT_EQ(readSound(avi).size(), 0u);
    }

    r = kavconv({in.name, dir.file("out-" + in.tag + "-.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    // A single picture keeps the name as given; a series is numbered.
    const std::string seq = in.frames == 1 ? dir.file("out-" + in.tag + "-.png")
                                           : dir.file("out-" + in.tag + "-?.png*0-" + std::to_string(in.frames - 1));
    const Pictures gotPng = readPictures(seq);
    EXPECT_EQ(gotPng.width, src.width);
    ASSERT_EQ(gotPng.frames.size(), in.frames);
    for (uint32_t f = 0; f < in.frames; ++f) EXPECT_EQ(gotPng.frames[f], src.frames[f]) << "png frame " << f;
  }

  kavtest::TempDir dir;
};

TEST_F(KavconvInputs, VornMovieWithSound) {
  const std::string name = dir.file("in.vrn");
  kavtest::writeFile(name, vornMovie());
  const Pictures p = readPictures(name);
  ASSERT_EQ(p.width, kW);
  ASSERT_EQ(p.height, kH);
  ASSERT_EQ(p.frames.size(), kFrames);
  EXPECT_NE(p.frames[0], p.frames[1]);
  convertToEveryTarget({"vrn", name, kFrames, true});
}

TEST_F(KavconvInputs, VornMovieInsideAProgram) {
  const Bytes movie = vornMovie();
  const std::string plain = dir.file("plain.vrn");
  kavtest::writeFile(plain, movie);
  const std::string exe = dir.file("VPLAY.EXE");
  kavtest::writeFile(exe, kavtest::buildExeWithMovie(movie, 37));
  // The program's movie reads as the movie on its own, pictures and sound.
  const Pictures a = readPictures(plain), b = readPictures(exe);
  ASSERT_EQ(b.frames.size(), kFrames);
  EXPECT_EQ(a.frames, b.frames);
  EXPECT_EQ(readSound(plain), readSound(exe));
  convertToEveryTarget({"exe", exe, kFrames, true});
}

TEST_F(KavconvInputs, QuickTimeMovie) {
  const std::string name = dir.file("clip.mov");
  kavtest::writeFile(name, quickTimeMovie());
  const Pictures p = readPictures(name);
  ASSERT_EQ(p.width, kQtW);
  ASSERT_EQ(p.frames.size(), kQtFrames);
  EXPECT_EQ(p.frames[1][3 * kQtW + 2], uint32_t(2 * 15 + 40) << 16 | uint32_t(3 * 30 + 1) << 8 | ((2 ^ 3) * 16 + 7));
  convertToEveryTarget({"mov", name, kQtFrames, false});
}

TEST_F(KavconvInputs, StillAndNumberedSequence) {
  const std::string still = dir.file("still.bmp");
  writeStills(still, 1);
  const Pictures one = readPictures(still);
  ASSERT_EQ(one.frames.size(), 1u);
  EXPECT_EQ(one.frames[0], truePicture(0));
  convertToEveryTarget({"bmp", still, 1, false});

  writeStills(dir.file("seq.tga"), kFrames);
  const std::string seq = dir.file("seq?.tga*0-" + std::to_string(kFrames - 1));
  const Pictures many = readPictures(seq);
  ASSERT_EQ(many.frames.size(), kFrames);
  for (uint32_t f = 0; f < kFrames; ++f) EXPECT_EQ(many.frames[f], truePicture(f)) << f;
  convertToEveryTarget({"tga", seq, kFrames, false});
}

// A Flic counts its frames in 16 bits: the tool says so before it starts,
// the output stops at 65535 frames with the reason, and the file holds
// them all with a correct header.
TEST_F(KavconvInputs, MoreFramesThanAFlicHolds) {
  constexpr uint32_t kMany = 65537;
  Bytes raw = {'R', 'A', 'W', 'B'};
  for (uint32_t v : {kMany, 2u, 2u, 6667u})
    for (int k = 0; k < 4; ++k) raw.push_back(static_cast<uint8_t>(v >> (8 * k)));
  raw.insert(raw.end(), 4, 0);  // a palette: tag 0, then grey levels
  for (int i = 0; i < 768; ++i) raw.push_back(static_cast<uint8_t>(i / 3));
  for (uint32_t n = 0; n < kMany; ++n) {
    raw.insert(raw.end(), {1, 0, 0, 0});
    raw.insert(raw.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 7, 200});
  }
  const std::string input = dir.file("many.raw"), output = dir.file("many.flc");
  kavtest::writeFile(input, raw);
  const ToolRun r = kavconv({input, output});
  EXPECT_NE(r.output.find("warning: a Flic holds at most 65535 frames; " + output + " will stop after frame 65535 of " +
                          std::to_string(kMany)),
            std::string::npos)
      << r.output.substr(0, 400);
  EXPECT_NE(r.output.find("The output flic is full: a flic holds at most 65535 frames."), std::string::npos);
  EXPECT_NE(r.status, 0);  // not every frame asked for was written
  KAVFlic *f = KAVFlicOpen(output.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->frameCount, 65535u);
  std::vector<uint8_t> buffer(size_t{f->pitch} * f->paddedHeight);
  uint32_t read = 0;
  while (read < f->frameCount && KAVFlicGetNext(f, buffer.data())) ++read;
  EXPECT_EQ(read, 65535u);
  KAVFlicClose(f);
}

}  // namespace
