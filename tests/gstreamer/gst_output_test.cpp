// MP4, WebM and Matroska written through the graphics output, judged by
// decoders other than ours: gst-launch-1.0 decodes each file back to raw
// pictures and sound in a pipeline of its own, and mediainfo reads the
// container's frame count and rate. The pictures must come back within a
// stated PSNR, the frame count and rate exactly, the sound to within one
// frame's time of what was put.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/temp_dir.h"

namespace {

constexpr uint32_t kSoundRate = 22050;

bool haveTool(const char *name) { return std::system(("command -v " + std::string(name) + " >/dev/null").c_str()) == 0; }

std::string output(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

struct Decoded {
  std::vector<uint8_t> rgb;     // every frame, R, G, B, unused
  std::vector<int16_t> sound;   // mono at kSoundRate
};

// The file decoded by a pipeline of GStreamer's own elements.
Decoded decode(const std::string &file, bool withSound) {
  std::string cmd = "timeout 120 gst-launch-1.0 -q filesrc location=" + file +
                    " ! decodebin name=d d. ! video/x-raw ! queue ! videoconvert ! video/x-raw,format=RGBx ! "
                    "filesink location=" + file + ".rgb";
  if (withSound)
    cmd += " d. ! audio/x-raw ! queue ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,channels=1,rate=" +
           std::to_string(kSoundRate) + " ! filesink location=" + file + ".pcm";
  Decoded d;
  if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) return d;
  d.rgb = kavtest::readFile(file + ".rgb");
  if (withSound) {
    const std::vector<uint8_t> pcm = kavtest::readFile(file + ".pcm");
    d.sound.resize(pcm.size() / 2);
    for (size_t i = 0; i < d.sound.size(); ++i) d.sound[i] = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
  }
  return d;
}

// Smooth pictures that move: what a movie codec is made for, so a PSNR
// limit tells a broken picture from ordinary coding loss.
uint32_t triangle(uint32_t v) { return v & 256 ? 255 - (v & 255) : v & 255; }
uint32_t pixel(uint32_t x, uint32_t y, uint32_t f) {
  return triangle(x * 2 + f * 3) << 16 | triangle(y * 3 + f) << 8 | triangle(x + y + 128);
}

struct Case {
  const char *name;
  uint32_t width, height;
  bool eightBit;
};

class MovieOutput : public ::testing::TestWithParam<Case> {
 protected:
  kavtest::TempDir dir;
};

TEST_P(MovieOutput, DecodesBackToThePicturesAndSoundPut) {
  const Case c = GetParam();
  if (!haveTool("gst-launch-1.0")) GTEST_SKIP() << "gst-launch-1.0 is not installed";
  constexpr uint32_t kFrames = 45, kNum = 30000, kDen = 1001;
  const std::string file = dir.file(c.name);
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, file.c_str(), kFrames, kNum, kDen, c.width, c.height, c.width + 3, nullptr,
                           OGFILE_OVERWRITE, c.eightBit ? 1 : 0);
  ASSERT_NE(o, nullptr);
  const uint32_t pitch = c.width + 3;
  std::vector<uint32_t> frames;  // what each frame should look like, 0x00RRGGBB
  std::vector<int16_t> sound;
  for (uint32_t f = 0; f < kFrames; ++f) {
    if (c.eightBit) {
      // Index = x: the palette, shifted every frame, carries the picture.
      std::vector<uint8_t> px(size_t{pitch} * c.height), pal(768);
      for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t v = pixel(i, 0, f);
        pal[3 * i] = uint8_t(v >> 16), pal[3 * i + 1] = uint8_t(v >> 8), pal[3 * i + 2] = uint8_t(v);
      }
      for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t x = 0; x < c.width; ++x) {
          px[size_t{y} * pitch + x] = uint8_t(x);
          frames.push_back(pixel(x, 0, f));
        }
      OGFilePut(o, px.data(), pal.data());
    } else {
      std::vector<uint32_t> px(size_t{pitch} * c.height);
      for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t x = 0; x < c.width; ++x) frames.push_back(px[size_t{y} * pitch + x] = pixel(x, y, f));
      OGFilePut(o, px.data(), nullptr);
    }
    const uint32_t amount = OGFilePutSoundAmount(o, kSoundRate, 16, 1);
    ASSERT_EQ(amount % 2, 0u);
    std::vector<int16_t> block(amount / 2);
    for (int16_t &s : block) {
      // A sweep from 200 Hz up: no two stretches alike, so a shifted sound
      // cannot pass for one in its place.
      const double t = double(sound.size()) / kSoundRate;
      s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * (200 * t + 300 * t * t)));
      sound.push_back(s);
    }
    OGFilePutSound(o, block.data(), amount);
  }
  EXPECT_EQ(o->frameNumber, kFrames);
  EXPECT_EQ(o->errorFlag, 0u);
  EXPECT_GT(OGFileClose(o), 0u);
  // The sound put covers the movie's length to the block.
  const double length = double(kFrames) * kDen / kNum;
  EXPECT_NEAR(double(sound.size()), length * kSoundRate, 1.0);

  const Decoded d = decode(file, true);
  // H.264 codes even sizes: an odd edge comes back one larger.
  const bool evenOnly = std::string(c.name).find(".webm") == std::string::npos;
  const uint32_t cw = evenOnly ? (c.width + 1) & ~1u : c.width, ch = evenOnly ? (c.height + 1) & ~1u : c.height;
  ASSERT_EQ(d.rgb.size(), size_t{cw} * ch * 4 * kFrames) << "frames decoded: " << d.rgb.size() / (cw * ch * 4.0);
  for (uint32_t f = 0; f < kFrames; ++f) {
    double err = 0;
    for (uint32_t y = 0; y < c.height; ++y)
      for (uint32_t x = 0; x < c.width; ++x) {
        const uint32_t want = frames[(size_t{f} * c.height + y) * c.width + x];
        const uint8_t *got = &d.rgb[((size_t{f} * ch + y) * cw + x) * 4];
        for (int k = 0; k < 3; ++k) {
          const double e = double(got[k]) - double((want >> (16 - 8 * k)) & 0xFF);
          err += e * e;
        }
      }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (err / (3.0 * c.width * c.height) + 1e-9));
    EXPECT_GT(psnr, 30.0) << "frame " << f;
  }
  // Sound: as long as the pictures to within one frame's time, and in step
  // with them to within half a frame (an AAC decoder may keep part of the
  // encoder's delay).
  const double frameSamples = double(kSoundRate) * kDen / kNum;
  EXPECT_NEAR(double(d.sound.size()), double(sound.size()), frameSamples);
  const int reach = int(frameSamples);
  const size_t from = 4000, to = 12000;
  ASSERT_GT(d.sound.size(), to + reach);
  int lag = 0;
  double best = -1;
  for (int l = -reach; l <= reach; ++l) {
    double dot = 0, norm = 0;
    for (size_t i = from; i < to; ++i) dot += double(d.sound[i + l]) * sound[i], norm += double(sound[i]) * sound[i];
    if (dot / norm > best) best = dot / norm, lag = l;
  }
  EXPECT_GT(best, 0.8) << "the sound is not the one put";
  EXPECT_LE(std::abs(lag), reach / 2) << "the sound is out of step by " << lag << " samples";

  if (haveTool("mediainfo")) {
    EXPECT_EQ(output("mediainfo --Inform='Video;%FrameCount% %FrameRate_Num%/%FrameRate_Den%' " + file),
              "45 30000/1001");
  }
}

INSTANTIATE_TEST_SUITE_P(Containers, MovieOutput,
                         ::testing::Values(Case{"true.mp4", 96, 64, false}, Case{"odd.mp4", 97, 63, false},
                                           Case{"palette.webm", 96, 64, true}, Case{"true.webm", 97, 63, false},
                                           Case{"palette.mkv", 96, 64, true}),
                         [](const ::testing::TestParamInfo<Case> &i) {
                           std::string n = i.param.name;
                           for (char &ch : n)
                             if (ch == '.') ch = '_';
                           return n;
                         });

// A caller that stops early (a cancel) still gets a movie that plays: the
// close finishes the muxer, and the sound ends with the frames put.
TEST(MovieOutputCut, AMovieClosedEarlyHoldsTheFramesPut) {
  if (!haveTool("gst-launch-1.0")) GTEST_SKIP() << "gst-launch-1.0 is not installed";
  kavtest::TempDir dir;
  for (const char *name : {"cut.mp4", "cut.webm", "cut.mkv"}) {
    SCOPED_TRACE(name);
    const std::string file = dir.file(name);
    OGFile *o = OGFileCreate(KAV_NO_WINDOW, file.c_str(), 300, 25, 1, 64, 48, 64, nullptr, OGFILE_OVERWRITE, 0);
    ASSERT_NE(o, nullptr);
    std::vector<uint32_t> px(64 * 48);
    size_t put = 0;
    for (uint32_t f = 0; f < 20; ++f) {
      for (uint32_t i = 0; i < px.size(); ++i) px[i] = pixel(i % 64, i / 64, f);
      OGFilePut(o, px.data(), nullptr);
      const uint32_t amount = OGFilePutSoundAmount(o, kSoundRate, 8, 1);
      std::vector<uint8_t> block(amount, 0x80);
      OGFilePutSound(o, block.data(), amount);
      put += amount;
    }
    OGFileClose(o);
    const Decoded d = decode(file, true);
    EXPECT_EQ(d.rgb.size(), size_t{64} * 48 * 4 * 20);
    EXPECT_NEAR(double(d.sound.size()), double(put), kSoundRate / 25.0);
  }
}

// Names this system cannot write are refused at once, before any file is
// made.
TEST(MovieOutputCut, AFolderThatIsMissingIsRefusedAtCreate) {
  kavtest::TempDir dir;
  std::string said;
  static std::string *sink;
  sink = &said;
  const std::string file = dir.file("no/such/folder/out.mp4");
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, file.c_str(), 10, 25, 1, 64, 48, 64,
                           [](const char *text, int32_t) -> uint32_t {
                             if (text) *sink += text;
                             return 0;
                           },
                           OGFILE_OVERWRITE, 0);
  EXPECT_EQ(o, nullptr);
  EXPECT_NE(said.find("Error creating the output movie"), std::string::npos) << said;
}

}  // namespace
