// Movies and sound files made by GStreamer's own encoders, read back through
// the graphics and sound inputs. The files are made here from test patterns
// (gst-launch-1.0, skipped when it or an encoder is missing); the expected
// pictures and sample counts come from gst-launch decoding the same file.
#include <gtest/gtest.h>
#include <kavutil/gfile.h>
#include <kavutil/sfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48, kFrames = 30;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 4;

// Every picture of the ball pattern differs from the one before it.
const char kVideo[] = "videotestsrc pattern=ball num-buffers=30 ! video/x-raw,width=64,height=48,framerate=25/1";
// 20480 samples of a sine.
const char kSound[] = "audiotestsrc num-buffers=20 samplesperbuffer=1024";
// The sound of the movies outlasts their 1.2 s of pictures (1.39 s at
// 22050 Hz): the container's duration is the sound's, the frames are still 30.
const char kMovieSound[] = "audiotestsrc num-buffers=30 samplesperbuffer=1024";

bool run(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool haveElements(const std::vector<std::string> &elements) {
  if (!run("gst-launch-1.0 --version")) return false;
  for (const std::string &e : elements)
    if (!run("gst-inspect-1.0 --exists " + e)) return false;
  return true;
}

std::string launch(const std::string &pipeline) { return "gst-launch-1.0 -q " + pipeline; }

std::string shellQuote(const std::string &s) { return "'" + s + "'"; }

// gst-launch's own decoding of the file's pictures, as BGRx frames.
std::vector<uint8_t> referencePictures(kavtest::TempDir &dir, const std::string &file) {
  const std::string out = dir.file("reference.bgrx");
  run(launch("filesrc location=" + shellQuote(file) +
             " ! decodebin name=d ! videoconvert ! video/x-raw,format=BGRx ! filesink location=" + shellQuote(out) +
             " d. ! fakesink"));
  return kavtest::readFile(out);
}

// gst-launch's own decoding of the file's sound, as 16-bit samples.
std::vector<uint8_t> referenceSound(kavtest::TempDir &dir, const std::string &file, uint32_t channels) {
  const std::string out = dir.file("reference.pcm");
  run(launch("filesrc location=" + shellQuote(file) +
             " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,channels=" + std::to_string(channels) +
             " ! filesink location=" + shellQuote(out)));
  return kavtest::readFile(out);
}

GFile *openPictures(const std::string &name, uint32_t first = 0, uint32_t last = 0, uint32_t outNum = 0,
                    uint32_t outDen = 0) {
  return GFileOpen(name.c_str(), 0, 0, 0, outNum, outDen, 0, 0, 0, 0, 0, 0, first, last, 0x10000, 0, 256, 0, 0, 0,
                   "", nullptr, nullptr);
}

// Peak signal to noise ratio of the canvas against a BGRx picture, over the
// three colour channels; 99 for identical pictures.
double psnr(const GFile *g, const uint8_t *reference) {
  double sum = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        const double d = double(g->canvas[y * g->canvasPitch + x * 4 + c]) - reference[(y * kWidth + x) * 4 + c];
        sum += d * d;
      }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * kWidth * kHeight * 3 / sum);
}

struct Movie {
  const char *file;
  std::vector<std::string> elements;
  const char *video;  // encoder (and parser) between the pattern and the muxer
  const char *mux;
  const char *sound;  // encoder between the tone and the muxer
  const char *kind;
  const char *soundKind;
};

const Movie kMovies[] = {
    {"vp8.webm", {"vp8enc", "vorbisenc", "webmmux"}, "vp8enc", "webmmux", "audioconvert ! vorbisenc",
     "GStreamer: VP8 in WebM", "GStreamer: Vorbis in WebM"},
    {"vp9.mkv", {"vp9enc", "opusenc", "matroskamux"}, "vp9enc", "matroskamux",
     "audioconvert ! audioresample ! opusenc", "GStreamer: VP9 in Matroska", "GStreamer: Opus in Matroska"},
    {"theora.ogg", {"theoraenc", "vorbisenc", "oggmux"}, "theoraenc", "oggmux", "audioconvert ! vorbisenc",
     "GStreamer: Theora in Ogg", "GStreamer: Vorbis in Ogg"},
    // Main profile with B-frames: openh264 decodes it, and the first
    // picture is time-stamped 80 ms late by the reordering.
    {"h264.mp4", {"x264enc", "voaacenc", "mp4mux", "openh264dec"}, "x264enc ! video/x-h264,profile=main", "mp4mux",
     "voaacenc", "GStreamer: H.264 in MP4", "GStreamer: AAC in MP4"},
    {"h264.avi", {"openh264enc", "h264parse", "lamemp3enc", "avimux"}, "openh264enc ! h264parse", "avimux",
     "lamemp3enc", "GStreamer: H.264 in AVI", "GStreamer: MP3 in AVI"},
};

class GStreamerMovie : public ::testing::TestWithParam<Movie> {};

// Pictures, frame range, reset, output rate and the sound of each movie.
TEST_P(GStreamerMovie, FramesCountsRangeResetAndSound) {
  const Movie &m = GetParam();
  if (!haveElements(m.elements)) GTEST_SKIP() << "gst-launch-1.0 or an element of " << m.file << " is missing";
  kavtest::TempDir dir;
  const std::string file = dir.file(m.file);
  ASSERT_TRUE(run(launch(std::string(kVideo) + " ! " + m.video + " ! " + m.mux + " name=mux ! filesink location=" +
                         shellQuote(file) + " " + kMovieSound + " ! audio/x-raw,rate=22050,channels=1 ! " + m.sound +
                         " ! mux.")));
  const std::vector<uint8_t> ref = referencePictures(dir, file);
  ASSERT_EQ(ref.size(), kFrames * kFrameBytes) << "gst-launch decoded another number of pictures";
  const std::string raw = dir.file("pattern.bgrx");
  ASSERT_TRUE(run(launch(std::string(kVideo) + " ! videoconvert ! video/x-raw,format=BGRx ! filesink location=" +
                         shellQuote(raw))));
  const std::vector<uint8_t> pattern = kavtest::readFile(raw);
  ASSERT_EQ(pattern.size(), kFrames * kFrameBytes);

  GFile *g = openPictures(file);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_GSTREAMER);
  EXPECT_STREQ(g->kindName, m.kind);
  EXPECT_EQ(g->sourceWidth, kWidth);
  EXPECT_EQ(g->sourceHeight, kHeight);
  EXPECT_EQ(g->totalFrames, kFrames);
  EXPECT_EQ(g->nativeRateNumerator, 25u);
  EXPECT_EQ(g->nativeRateDenominator, 1u);
  EXPECT_EQ(g->hasSound, 1u);
  // The same decoder as gst-launch: the same pictures but for rounding. The
  // pattern itself comes through the lossy codecs at 39 dB or better, while
  // its neighbouring frames stay below 29 dB: the frame is the right one.
  for (uint32_t i = 0; i < kFrames; ++i) {
    GFileGet(g, 0, 0, 100, 1.0f, 0);
    EXPECT_GE(psnr(g, &ref[i * kFrameBytes]), 48.0) << "frame " << i + 1;
    EXPECT_GE(psnr(g, &pattern[i * kFrameBytes]), 34.0) << "frame " << i + 1;
  }
  EXPECT_EQ(g->endFlag, 1u);
  GFileReset(g);
  GFileGet(g, 0, 0, 100, 1.0f, 0);
  EXPECT_GE(psnr(g, &ref[0]), 48.0) << "after the reset";
  GFileClose(g);

  // Frames 12 to 20: the first and last frame switches land on them.
  g = openPictures(file, 12, 20);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->frameCount, 9u);
  for (uint32_t i = 11; i < 20; ++i) {
    GFileGet(g, 0, 0, 100, 1.0f, 0);
    EXPECT_GE(psnr(g, &ref[i * kFrameBytes]), 48.0) << "frame " << i + 1;
  }
  GFileClose(g);

  // Twice the rate: every picture twice.
  g = openPictures(file, 0, 0, 50, 1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->outputFrameCount, 2 * kFrames);
  for (uint32_t i = 0; i < 2 * kFrames; ++i) {
    GFileGet(g, 0, 0, 100, 1.0f, 0);
    EXPECT_GE(psnr(g, &ref[i / 2 * kFrameBytes]), 48.0) << "output frame " << i + 1;
  }
  GFileClose(g);

  // The sound covers the pictures and is delivered to its described length.
  SFile *s = SFileOpen(file.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_GSTREAMER);
  EXPECT_STREQ(s->kindName, m.soundKind);
  EXPECT_GE(s->length, s->srcRate * 6 / 5 * s->srcFrameSize);
  std::vector<uint8_t> pcm(65536);
  uint32_t total = 0;
  while (uint32_t got = SFileGet(s, pcm.data(), static_cast<uint32_t>(pcm.size()))) total += got;
  EXPECT_EQ(total, s->length / s->srcFrameSize * s->outFrameSize);
  SFileClose(s);
  // Frames 26 to 30 of the pictures: 0.2 s of sound, to the sample.
  s = SFileOpen(file.c_str(), 0, 0, 0, -26, -30, 0, 0, 0, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, s->srcRate / 5 * s->srcFrameSize);
  SFileClose(s);
}

INSTANTIATE_TEST_SUITE_P(Encoders, GStreamerMovie, ::testing::ValuesIn(kMovies),
                         [](const ::testing::TestParamInfo<Movie> &info) {
                           std::string n = info.param.file;
                           for (char &c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

struct SoundFile {
  const char *file;
  const char *element;
  const char *encode;
  uint32_t rate, channels;
  const char *kind;
  bool lossless;
};

// Sound files: the sample count gst-launch decodes, exactly; FLAC also
// gives back the tone itself.
TEST(GStreamerSound, SampleCountsMatchGStreamersOwnDecoding) {
  const SoundFile files[] = {
      {"tone.mp3", "lamemp3enc", "lamemp3enc", 22050, 1, "GStreamer: MP3", false},
      {"tone.flac", "flacenc", "flacenc", 22050, 1, "GStreamer: FLAC", true},
      {"tone.ogg", "vorbisenc", "audioconvert ! vorbisenc ! oggmux", 22050, 1, "GStreamer: Vorbis in Ogg", false},
      {"tone.opus", "opusenc", "audioconvert ! opusenc ! oggmux", 48000, 2, "GStreamer: Opus in Ogg", false},
  };
  for (const SoundFile &f : files) {
    SCOPED_TRACE(f.file);
    if (!haveElements({f.element, "oggmux"})) {
      std::printf("skipped %s: gst-launch-1.0 or %s is missing\n", f.file, f.element);
      continue;
    }
    kavtest::TempDir dir;
    const std::string file = dir.file(f.file), tone = dir.file("tone.pcm");
    const std::string caps = "audio/x-raw,format=S16LE,rate=" + std::to_string(f.rate) +
                             ",channels=" + std::to_string(f.channels);
    ASSERT_TRUE(run(launch(std::string(kSound) + " ! " + caps + " ! tee name=t ! queue ! " + f.encode +
                           " ! filesink location=" + shellQuote(file) + " t. ! queue ! filesink location=" +
                           shellQuote(tone))));
    const std::vector<uint8_t> ref = referenceSound(dir, file, f.channels);
    ASSERT_FALSE(ref.empty());

    SFile *s = SFileOpen(file.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->kindName, f.kind);
    EXPECT_EQ(s->srcRate, f.rate);
    EXPECT_EQ(s->srcChannels, f.channels);
    EXPECT_EQ(s->length, ref.size());
    std::vector<uint8_t> pcm(ref.size() + 4096);
    uint32_t total = 0;
    while (uint32_t got = SFileGet(s, pcm.data() + total, static_cast<uint32_t>(pcm.size() - total))) total += got;
    EXPECT_EQ(total, ref.size());
    if (f.lossless) {
      pcm.resize(total);
      EXPECT_EQ(pcm, kavtest::readFile(tone));
    }
    SFileReset(s);
    EXPECT_EQ(SFileGet(s, pcm.data(), 4096), 4096u) << "after the reset";
    SFileClose(s);

    // The graphics input takes it as a picture-less source of its length.
    GFile *g = openPictures(file);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->kind, GFILE_KIND_SOUND_ONLY);
    EXPECT_EQ(g->totalFrames, ref.size() / (2 * f.channels) * 15 / f.rate + 1);
    GFileClose(g);
  }
}

std::string lastError;
uint32_t KAVAPI keepError(const char *text, int32_t code) {
  if (code == 2 && lastError.empty()) lastError = text;
  return 0;
}

// A codec no installed plugin decodes is named; a damaged file is refused or
// read to its end, never hangs.
TEST(GStreamerRefusal, MissingDecoderIsNamedAndDamagedFilesFailCleanly) {
  if (!haveElements({"x264enc", "mp4mux", "vp8enc", "webmmux"})) GTEST_SKIP() << "an encoder is missing";
  kavtest::TempDir dir;
  // openh264, the H.264 decoder of the plugin sets, has no High 4:4:4.
  const std::string h444 = dir.file("h444.mp4");
  ASSERT_TRUE(run(launch(std::string(kVideo) + ",format=Y444 ! x264enc ! mp4mux ! filesink location=" +
                         shellQuote(h444))));
  lastError.clear();
  GFile *g = GFileOpen(h444.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10000, 0, 256, 0, 0, 0, "", nullptr,
                       keepError);
  if (g) {
    GFileClose(g);
    std::printf("skipped: this machine decodes High 4:4:4 H.264\n");
  } else {
    EXPECT_NE(lastError.find("no decoder for H.264 (High 4:4:4 Profile) is installed"), std::string::npos)
        << lastError;
  }

  // openh264 gives no picture for a one-frame High-profile file: refused,
  // never opened with a frame it cannot show.
  const std::string one = dir.file("one.mp4");
  ASSERT_TRUE(run(launch("videotestsrc num-buffers=1 ! video/x-raw,width=64,height=48,framerate=25/1,format=I420 ! "
                         "x264enc ! video/x-h264,profile=high ! mp4mux ! filesink location=" + shellQuote(one))));
  lastError.clear();
  g = GFileOpen(one.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10000, 0, 256, 0, 0, 0, "", nullptr, keepError);
  if (g) {
    EXPECT_EQ(g->totalFrames, 1u);
    EXPECT_NE(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 0u);
    GFileClose(g);
  } else {
    EXPECT_NE(lastError.find("the H.264 decoder gave no picture"), std::string::npos) << lastError;
  }

  // An MP4 cut before its index, and bytes that only look like a file.
  const std::string webm = dir.file("cut.webm"), mp4 = dir.file("cut.mp4");
  ASSERT_TRUE(run(launch(std::string(kVideo) + " ! vp8enc ! webmmux ! filesink location=" + shellQuote(webm))));
  ASSERT_TRUE(run(launch(std::string(kVideo) + " ! x264enc ! video/x-h264,profile=main ! mp4mux ! filesink location=" +
                         shellQuote(mp4))));
  std::vector<uint8_t> bytes = kavtest::readFile(mp4);
  bytes.resize(bytes.size() / 2);
  kavtest::writeFile(mp4, bytes);
  EXPECT_EQ(openPictures(mp4), nullptr);
  EXPECT_EQ(SFileOpen(mp4.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr), nullptr);

  // A WebM cut in half keeps its header: what is there is read, and the
  // frames after the cut repeat the last picture.
  bytes = kavtest::readFile(webm);
  bytes.resize(bytes.size() / 2);
  kavtest::writeFile(webm, bytes);
  g = openPictures(webm);
  if (g) {
    uint32_t frames = 0;
    while (!g->endFlag && frames < 2 * kFrames) {
      GFileGet(g, 0, 0, 100, 1.0f, 0);
      ++frames;
    }
    EXPECT_LE(frames, kFrames);
    GFileClose(g);
  }
}

}  // namespace
