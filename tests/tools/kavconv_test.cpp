// End to end through the built tools: sources made by our own writers are
// converted by kavconv into every target kind, and the results are read back
// with our readers and compared with the source pictures and sound. The
// refusals must leave existing files as they were.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/temp_dir.h"
#include "support/wave_writer.h"
#include "platform/stillimage/still_gif_anim.h"
#include "support/zanther_writer.h"
#include "tests/tools/tool_test_util.h"

namespace {

using namespace kavtooltest;

constexpr uint32_t kW = 32, kH = 24, kFrames = 6, kSoundRate = 8000;

// The test palette and pictures: every frame differs, every entry is used
// with distinct components. The components are 6-bit levels widened to 8
// bits, so a Zanther palette carries them exactly.
uint8_t widen(uint32_t c) { return static_cast<uint8_t>((c << 2) | (c >> 4)); }
uint32_t component6(int entry, int which) {
  return which == 0 ? uint32_t(entry & 63) : which == 1 ? uint32_t(63 - (entry >> 2)) : uint32_t((entry * 5) & 63);
}

std::vector<uint8_t> palette() {
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) p[i * 3 + c] = widen(component6(i, c));
  return p;
}

std::vector<uint8_t> picture(uint32_t frame) {
  std::vector<uint8_t> px(kW * kH);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) px[y * kW + x] = static_cast<uint8_t>((x * 3 + y * 5 + frame * 17) & 0xFF);
  return px;
}

// The pictures as 32-bit pixels 0x00RRGGBB.
std::vector<uint32_t> picture32(uint32_t frame) {
  const auto p = palette();
  const auto px = picture(frame);
  std::vector<uint32_t> out(px.size());
  for (size_t i = 0; i < px.size(); ++i)
    out[i] = (uint32_t(p[px[i] * 3]) << 16) | (uint32_t(p[px[i] * 3 + 1]) << 8) | p[px[i] * 3 + 2];
  return out;
}

std::vector<uint8_t> tone(uint32_t bytes) {
  std::vector<uint8_t> s(bytes);
  for (uint32_t i = 0; i < bytes; ++i) s[i] = static_cast<uint8_t>(128 + ((i * 13) % 61) - 30);
  return s;
}

// An 8-bit AVI with an 8-bit mono sound track, written by our graphics output.
std::vector<uint8_t> writeAvi(const std::string &name) {
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, name.c_str(), kFrames, 10, 1, kW, kH, kW, nullptr, OGFILE_OVERWRITE, 1);
  EXPECT_NE(o, nullptr);
  std::vector<uint8_t> sound;
  if (!o) return sound;
  const auto pal = palette();
  for (uint32_t f = 0; f < kFrames; ++f) {
    OGFilePut(o, picture(f).data(), pal.data());
    const uint32_t n = OGFilePutSoundAmount(o, kSoundRate, 8, 1);
    const auto s = tone(uint32_t(sound.size() + n));
    std::vector<uint8_t> part(s.begin() + long(sound.size()), s.end());
    sound.insert(sound.end(), part.begin(), part.end());
    OGFilePutSound(o, part.data(), n);
  }
  OGFileClose(o);
  return sound;
}

void writeStill(const std::string &name) {
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, name.c_str(), kFrames, 10, 1, kW, kH, kW, nullptr, OGFILE_OVERWRITE, 1);
  ASSERT_NE(o, nullptr);
  const auto pal = palette();
  for (uint32_t f = 0; f < kFrames; ++f) OGFilePut(o, picture(f).data(), pal.data());
  OGFileClose(o);
}

// A Zanther movie with raw 8-bit mono sound in track 0.
std::vector<uint8_t> writeZanther(const std::string &name) {
  kavtest::zantw::Movie m;
  m.width = kW;
  m.height = kH;
  m.framePeriod = 100;  // milliseconds: 10 per second
  m.trackInfo[0] = kavtest::zantw::trackWord(kSoundRate, false, false, false, false);
  std::vector<uint8_t> sound;
  for (uint32_t f = 0; f < kFrames; ++f) {
    kavtest::zantw::Frame fr;
    fr.pixels = picture(f);
    if (f == 0) {
      fr.hasPalette = true;
      for (int c = 0; c < 256; ++c)
        fr.palette.push_back(kavtest::zantw::PaletteCommand::literal(
            uint8_t(component6(c, 0)), uint8_t(component6(c, 1)), uint8_t(component6(c, 2))));
    }
    const auto s = tone(kSoundRate / 10 * (f + 1));
    std::vector<uint8_t> part(s.begin() + long(kSoundRate / 10 * f), s.end());
    fr.sound[0] = kavtest::zantw::rawSoundChunk(part);
    sound.insert(sound.end(), part.begin(), part.end());
    m.frames.push_back(fr);
  }
  kavtest::writeFile(name, kavtest::zantw::writeMovie(m));
  return sound;
}

void expectSourcePictures(const Pictures &p, uint32_t frames = kFrames) {
  ASSERT_EQ(p.width, kW);
  ASSERT_EQ(p.height, kH);
  ASSERT_EQ(p.frames.size(), frames);
  for (uint32_t f = 0; f < frames; ++f) EXPECT_EQ(p.frames[f], picture32(f)) << "frame " << f;
}

// Sound read back from an AVI written by the tool: the source's bytes, then
// at most silence padding.
void expectSound(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want) {
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
  for (size_t i = want.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0x80) << i;
}

class Kavconv : public ::testing::Test {
 protected:
  kavtest::TempDir dir;
};

TEST_F(Kavconv, EveryInputKindToEveryTarget) {
  const std::string avi = dir.file("in.avi");
  const std::string zan = dir.file("in.znt");
  const auto aviSound = writeAvi(avi);
  const auto zanSound = writeZanther(zan);
  writeStill(dir.file("seq.png"));
  writeStill(dir.file("in.flc"));
  const std::string seq = dir.file("seq?.png*0-5");
  expectSourcePictures(readPictures(avi));
  expectSourcePictures(readPictures(zan));
  expectSourcePictures(readPictures(seq));
  expectSourcePictures(readPictures(dir.file("in.flc")));

  struct Input {
    std::string name, tag;
    const std::vector<uint8_t> *sound;
  };
  const std::vector<Input> inputs = {
      {avi, "avi", &aviSound}, {zan, "znt", &zanSound}, {seq, "seq", nullptr}, {dir.file("in.flc"), "flc", nullptr}};
  for (const Input &in : inputs) {
    SCOPED_TRACE(in.tag);
    const std::string flc = dir.file("out-" + in.tag + ".flc");
    ToolRun r = kavconv({in.name, flc});
    ASSERT_EQ(r.status, 0) << r.output;
    expectSourcePictures(readPictures(flc));

    const std::string outAvi = dir.file("out-" + in.tag + ".avi");
    r = kavconv({in.name, outAvi});
    ASSERT_EQ(r.status, 0) << r.output;
    expectSourcePictures(readPictures(outAvi));
    if (in.sound) {
      expectSound(readSound(outAvi), *in.sound);
    } else {
      EXPECT_EQ(readSound(outAvi).size(), 0u);
    }

    const std::string png = dir.file("out-" + in.tag + "-.png");
    r = kavconv({in.name, png});
    ASSERT_EQ(r.status, 0) << r.output;
    expectSourcePictures(readPictures(dir.file("out-" + in.tag + "-?.png*0-5")));
  }
}

// A WAVE file is a picture-less source: the AVI gets blank pictures for its
// length and the sound itself.
TEST_F(Kavconv, SoundOnlyInputGivesAnAviWithItsSound) {
  const auto pcm = kavtest::wave::pcm16(11025, 2, 7);
  kavtest::writeFile(dir.file("s.wav"), kavtest::wave::simple(11025, 16, 2, pcm));
  ToolRun r = kavconv({dir.file("s.wav"), dir.file("s.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  const Pictures p = readPictures(dir.file("s.avi"));
  EXPECT_GE(p.frames.size(), 15u);
  for (const auto &f : p.frames)
    for (uint32_t v : f) ASSERT_EQ(v, 0u);
  const auto got = readSound(dir.file("s.avi"));
  ASSERT_GE(got.size(), pcm.size());
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), got.begin()));
  for (size_t i = pcm.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << i;

  // Asked for 8-bit mono at 8000 per second, the track is in that format.
  r = kavconv({"-R8000", "-B8", "-C1", dir.file("s.wav"), dir.file("m.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  r = kavinfo({"--json", dir.file("m.avi")});
  EXPECT_NE(r.output.find("\"sound\":{\"rate\":8000,\"bits\":8,\"channels\":1"), std::string::npos) << r.output;
}

TEST_F(Kavconv, RatesScalingAndEightBitOutput) {
  const std::string avi = dir.file("in.avi");
  writeAvi(avi);
  // Twice the rate: every source frame twice.
  ToolRun r = kavconv({"-A20", avi, dir.file("fast.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  Pictures p = readPictures(dir.file("fast.avi"));
  ASSERT_EQ(p.frames.size(), 2 * kFrames);
  for (uint32_t f = 0; f < 2 * kFrames; ++f) EXPECT_EQ(p.frames[f], picture32(f / 2)) << f;

  // Half size on both axes.
  r = kavconv({"-(16", "-)12", avi, dir.file("half.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  p = readPictures(dir.file("half.avi"));
  EXPECT_EQ(p.width, kW / 2);
  EXPECT_EQ(p.height, kH / 2);
  EXPECT_EQ(p.frames.size(), kFrames);

  // 8-bit AVI with 16 colours: every pixel one of at most 16 colours.
  r = kavconv({"-Z1", "-Q16", avi, dir.file("q16.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  p = readPictures(dir.file("q16.avi"));
  ASSERT_EQ(p.frames.size(), kFrames);
  std::vector<uint32_t> colours;
  for (const auto &f : p.frames)
    for (uint32_t v : f)
      if (std::find(colours.begin(), colours.end(), v) == colours.end()) colours.push_back(v);
  EXPECT_LE(colours.size(), 16u);
  EXPECT_GE(colours.size(), 2u);
}

TEST_F(Kavconv, BlanksInNamesAndAbsolutePaths) {
  const std::string sub = dir.file("with blank");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string in = sub + "/my clip.avi";
  const auto sound = writeAvi(in);
  ASSERT_EQ(in[0], '/');
  const std::string out = sub + "/the result.avi";
  ToolRun r = kavconv({"-S2", "-E4", in, out});
  ASSERT_EQ(r.status, 0) << r.output;
  Pictures p = readPictures(out);
  ASSERT_EQ(p.frames.size(), 3u);
  for (uint32_t f = 0; f < 3; ++f) EXPECT_EQ(p.frames[f], picture32(f + 1)) << f;
  // The sound starts with the first frame kept.
  const auto got = readSound(out);
  ASSERT_GE(got.size(), kSoundRate / 10 * 3);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + kSoundRate / 10 * 3, sound.begin() + kSoundRate / 10));

  r = kavinfo({"--json", out});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\"file\":\"" + out + "\""), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\"frames\":3"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\"sound\":{\"rate\":8000,\"bits\":8,\"channels\":1"), std::string::npos) << r.output;
}

TEST_F(Kavconv, RefusalsLeaveFilesAlone) {
  const std::string in = dir.file("in.avi");
  writeAvi(in);
  const auto before = kavtest::readFile(in);
  const std::string existing = dir.file("old.flc");
  kavtest::writeFile(existing, std::vector<uint8_t>{'k', 'e', 'e', 'p'});

  ToolRun r = kavconv({in, in});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Output filename must be different than the input filename."), std::string::npos);
  EXPECT_EQ(kavtest::readFile(in), before);

  r = kavconv({in, existing});  // no terminal: the overwrite question is answered No
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("--overwrite"), std::string::npos) << r.output;
  EXPECT_EQ(kavtest::readFile(existing), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

  r = kavconv({in, dir.file("out.xyz")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Unsupported output file type or color depth."), std::string::npos) << r.output;
  EXPECT_FALSE(exists(dir.file("out.xyz")));

  r = kavconv({dir.file("missing.avi"), dir.file("x.flc")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(exists(dir.file("x.flc")));

  // Usage errors.
  EXPECT_EQ(kavconv({in}).status, 2);
  EXPECT_EQ(kavconv({"--frobnicate", in, dir.file("y.flc")}).status, 2);
  EXPECT_EQ(kavconv({"-K5", in, dir.file("y.flc")}).status, 2);
  EXPECT_EQ(kavconv({"--quality=0", in, dir.file("y.avi")}).status, 2);
  EXPECT_FALSE(exists(dir.file("y.flc")));

  // With the switch the old file is replaced.
  r = kavconv({"--overwrite", in, existing});
  ASSERT_EQ(r.status, 0) << r.output;
  expectSourcePictures(readPictures(existing));
}

// A moving input to ".gif" is one animation of every frame (read back with
// the composing GIF reader, which the still-image input is not); --series
// and a single frame give still images; --loop sets how often it plays.
TEST_F(Kavconv, GifTargetsAnimateUnlessStillsAreAskedFor) {
  const std::string in = dir.file("in.avi");
  writeAvi(in);
  struct Case {
    std::vector<std::string> options;
    int loopCount;
  };
  for (const Case &c : {Case{{}, 0}, Case{{"--loop=1"}, -1}, Case{{"--loop=3"}, 2}}) {
    std::vector<std::string> args = c.options;
    args.push_back(in);
    args.push_back(dir.file("anim.gif"));
    args.insert(args.begin(), "--overwrite");
    ToolRun r = kavconv(args);
    ASSERT_EQ(r.status, 0) << r.output;
    const auto bytes = kavtest::readFile(dir.file("anim.gif"));
    kav::still::GifComposed g;
    ASSERT_EQ(kav::still::gifAnimRead(bytes.data(), bytes.size(), 100, &g), 0);
    EXPECT_EQ(g.loopCount, c.loopCount);
    ASSERT_EQ(g.frames.size(), kFrames);
    uint32_t total = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
      EXPECT_EQ(g.frames[f].rgb, picture32(f)) << "frame " << f;
      total += g.frames[f].delayHundredths;
    }
    EXPECT_EQ(total, kFrames * 10);  // 10 frames per second
  }
  EXPECT_FALSE(exists(dir.file("anim0.gif")));

  ToolRun r = kavconv({"--series", in, dir.file("st.gif")});
  ASSERT_EQ(r.status, 0) << r.output;
  expectSourcePictures(readPictures(dir.file("st?.gif*0-5")));
  r = kavconv({"-S3", "-E3", in, dir.file("one.gif")});
  ASSERT_EQ(r.status, 0) << r.output;
  const Pictures p = readPictures(dir.file("one.gif"));
  ASSERT_EQ(p.frames.size(), 1u);
  EXPECT_EQ(p.frames[0], picture32(2));
  EXPECT_EQ(kavconv({"--loop=-1", in, dir.file("bad.gif")}).status, 2);
}

// A Zanther movie with its sound into the movies GStreamer writes: every
// frame arrives at the source's size, and the sound lasts as long as the
// pictures; Matroska's FLAC gives back the very bytes. The pictures' fidelity
// is judged by the graphics-output tests, against GStreamer's own decoding.
TEST_F(Kavconv, ZantherToMp4WebmAndMatroskaWithItsSound) {
  const std::string in = dir.file("in.znt");
  const auto sound = writeZanther(in);
  for (const char *name : {"out.mp4", "out.webm", "out.mkv"}) {
    SCOPED_TRACE(name);
    const std::string out = dir.file(name);
    const ToolRun r = kavconv({in, out});
    ASSERT_EQ(r.status, 0) << r.output;
    const Pictures p = readPictures(out);
    EXPECT_EQ(p.width, kW);
    EXPECT_EQ(p.height, kH);
    EXPECT_EQ(p.frames.size(), kFrames);
    SFile *s = SFileOpen(out.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    const double perSecond = double(s->outFrameSize) * s->outRate;
    SFileClose(s);
    const auto got = readSound(out);
    EXPECT_NEAR(got.size() / perSecond, kFrames / 10.0, 0.1);  // within one frame
    if (std::string(name) == "out.mkv") EXPECT_EQ(got, sound);
  }
}

TEST_F(Kavconv, HelpVersionAndCompressor) {
  ToolRun r = kavconv({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *s : {"--overwrite", "--dialog", "--compressor", "--quality", "--series", "--loop", "-Z", "-Q", "-I",
                        "-&", "-R", "-B"})
    EXPECT_NE(r.output.find(s), std::string::npos) << s;
  r = kavconv({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(KAVUTIL_VERSION_STRING), std::string::npos);

  const std::string in = dir.file("in.avi");
  const auto sound = writeAvi(in);
  r = kavconv({"--compressor=mjpeg", "--quality=9000", in, dir.file("mj.avi")});
  ASSERT_EQ(r.status, 0) << r.output;
  const Pictures p = readPictures(dir.file("mj.avi"));
  ASSERT_EQ(p.frames.size(), kFrames);
  expectSound(readSound(dir.file("mj.avi")), sound);
}

// Ctrl-C under a terminal asks "Do you want to cancel?"; Yes stops the run
// and the output holds the frames written so far, properly closed.
TEST_F(Kavconv, InterruptAnsweredYesLeavesAValidPartialOutput) {
  const std::string in = dir.file("in.avi");
  writeAvi(in);
  const std::string out = dir.file("partial.avi");
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const char *argv[] = {KAVCONV_PATH, "-A10000", in.c_str(), out.c_str(), nullptr};
    execv(KAVCONV_PATH, const_cast<char *const *>(argv));
    _exit(127);
  }
  std::string seen;
  bool interrupted = false, answered = false;
  for (int rounds = 0; rounds < 2000; ++rounds) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, 10) > 0) {
      char buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, size_t(n));
    }
    if (!interrupted && seen.find("Writing frame") != std::string::npos) {
      kill(pid, SIGINT);
      interrupted = true;
    }
    if (interrupted && !answered && seen.find("Do you want to cancel?") != std::string::npos) {
      ASSERT_EQ(write(master, "y\n", 2), 2);
      answered = true;
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  close(master);
  ASSERT_TRUE(answered) << seen;
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 3) << seen;
  EXPECT_NE(seen.find("Cancelled: "), std::string::npos) << seen;
  const Pictures p = readPictures(out);
  ASSERT_GE(p.frames.size(), 1u);
  EXPECT_LT(p.frames.size(), 6000u);
  // The report names the frames the file really holds.
  EXPECT_NE(seen.find("holds " + std::to_string(p.frames.size()) + " of 6000 frames"), std::string::npos) << seen;
  EXPECT_EQ(p.frames[0], picture32(0));
}

TEST(Kavinfo, DescribesSourcesAndItself) {
  kavtest::TempDir dir;
  const std::string avi = dir.file("in.avi");
  writeAvi(avi);
  ToolRun r = kavinfo({avi});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("AVI"), std::string::npos);
  EXPECT_NE(r.output.find("32 x 24, 8-bit, 6 frames at 10/1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("8000 Hz, 8-bit, mono"), std::string::npos) << r.output;

  r = kavinfo({"--json", avi, dir.file("missing.flc")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("\"kind\":\"AVI\""), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\"error\":"), std::string::npos) << r.output;

  r = kavinfo({});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("bit file round trip"), std::string::npos);
}

}  // namespace
