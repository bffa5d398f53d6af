// Movie sound through the sound input: Zanther tracks (by number and the
// first with sound), Vorn tracks, movies inside an .EXE, AVI audio and
// QuickTime sound, each against what its reader holds; frame-number times.
#include "sfile/sfile_movies.h"
#include "sfile_test_support.h"

using namespace sftest;
namespace wave = kavtest::wave;

namespace {

// Six frames of 100 ms: 8000 Hz 8-bit mono raw in track 1, 16-bit stereo
// delta in track 2, track 0 empty.
struct ZantherCase {
  Bytes file;
  Bytes raw, delta;
};
ZantherCase zantherCase(int32_t period = 100) {
  ZantherCase c;
  std::vector<std::vector<Bytes>> sound(3);
  for (uint32_t f = 0; f < 6; ++f) {
    const Bytes a = wave::pcm8(800, 1, f), b = wave::pcm16(800, 2, 10 + f);
    c.raw.insert(c.raw.end(), a.begin(), a.end());
    c.delta.insert(c.delta.end(), b.begin(), b.end());
    sound[1].push_back(rawChunk(a));
    sound[2].push_back(deltaChunk(b, true, true));
  }
  c.file = zantherMovie(period,
                        {0, zantherTrackWord(8000, false, false, false), zantherTrackWord(8000, true, true, true)},
                        sound, 6);
  return c;
}

TEST(SFileMovie, ZantherTracksByNumberAndFirstWithSound) {
  kavtest::TempDir dir;
  const ZantherCase c = zantherCase();
  kavtest::writeFile(dir.file("m.znt"), c.file);
  SFile *s = open(dir.file("m"));  // ".znt" after ".wav" finds nothing
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->name), dir.file("m.znt"));
  EXPECT_EQ(s->kind, SFILE_KIND_ZANTHER);
  EXPECT_STREQ(s->kindName, "Zanther");
  EXPECT_EQ(s->trackMask, ZANTH_TRACK_MASK_0 << 1);
  EXPECT_EQ(s->bufSize, 8000u * 2);
  EXPECT_EQ(s->length, 4800u);
  EXPECT_EQ(readAll(s, 777), c.raw);
  SFileReset(s);
  EXPECT_EQ(readAll(s, 1234), c.raw);
  SFileClose(s);

  s = open(dir.file("m.znt"), 0, 0, 0, 0, 0, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->kindName, "");
  EXPECT_EQ(s->srcChannels, 2u);
  EXPECT_EQ(s->srcBits, 16u);
  EXPECT_EQ(readAll(s, 4000), c.delta);
  SFileClose(s);

  EXPECT_EQ(open(dir.file("m.znt"), 0, 0, 0, 0, 0, 1), nullptr);
  EXPECT_EQ(lastError(), "No sound found in the specified Zanther track.");
  EXPECT_EQ(open(dir.file("m.znt"), 0, 0, 0, 0, 0, 9), nullptr);  // 8 and above mean 7
  EXPECT_EQ(lastError(), "No sound found in the specified Zanther track.");
  kavtest::writeFile(dir.file("quiet.znt"), zantherMovie(100, {}, {}, 2));
  EXPECT_EQ(open(dir.file("quiet.znt")), nullptr);
  EXPECT_EQ(lastError(), "No sound found in the Zanther file.");
}

TEST(SFileMovie, FrameNumberTimesAndTheStartSkip) {
  kavtest::TempDir dir;
  const ZantherCase c = zantherCase();
  kavtest::writeFile(dir.file("m.znt"), c.file);
  // Frame 3 starts at 200 ms; frame 4 ends at 400 ms.
  SFile *s = open(dir.file("m.znt"), 0, 0, 0, -3, -4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->startSkipGiven, 1600u);
  EXPECT_EQ(s->length, 1600u);
  const Bytes want(c.raw.begin() + 1600, c.raw.begin() + 3200);
  EXPECT_EQ(readAll(s, 500), want);
  SFileReset(s);
  EXPECT_EQ(readAll(s, 100), want);
  SFileClose(s);

  // A period of 6667 hundred-thousandths: frame 5 starts at 4 x 6667 / 100
  // = 266 ms.
  const ZantherCase d = zantherCase(-6667);
  kavtest::writeFile(dir.file("n.znt"), d.file);
  s = open(dir.file("n.znt"), 0, 0, 0, -5, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->startSkipGiven, 8000u * 266 / 1000);
  SFileClose(s);
}

TEST(SFileMovie, VornTrackAndConversion) {
  kavtest::TempDir dir;
  const std::string name = dir.file("v.vrn");
  kavtest::writeFile(name, vornMovie(22050, 2, true, {2, 1, 0, 3, 2, 2, 1, 2, 2, 3}, 10, 1));
  const Bytes ref = vornTrackPcm(name, 0);
  ASSERT_FALSE(ref.empty());
  SFile *s = open(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_VORN);
  EXPECT_STREQ(s->kindName, "");
  EXPECT_EQ(s->srcRate, 22050u);
  EXPECT_EQ(s->length, 22050u * 4);  // ten frames of 1/10 second
  const Bytes all = readAll(s, 3000);
  EXPECT_EQ(all, Bytes(ref.begin(), ref.begin() + std::min(ref.size(), all.size())));
  EXPECT_EQ(all.size(), std::min<size_t>(ref.size(), s->length));
  SFileReset(s);
  EXPECT_EQ(readAll(s, 4096), all);
  SFileClose(s);
  // Mono 8-bit output averages the channels.
  s = open(name, 0, 8, 1);
  ASSERT_NE(s, nullptr);
  const Bytes mono = readAll(s, 1000);
  ASSERT_EQ(mono.size(), all.size() / 4);
  for (size_t k = 0; k < mono.size(); ++k)
    ASSERT_EQ(mono[k], static_cast<uint8_t>((s16(all, 2 * k) + s16(all, 2 * k + 1)) / 2 / 256 - 128));
  SFileClose(s);

  EXPECT_EQ(open(name, 0, 0, 0, 0, 0, 1), nullptr);
  EXPECT_EQ(lastError(), "No sound found in the Vorn file.");
}

TEST(SFileMovie, MoviesInsideAnExe) {
  kavtest::TempDir dir;
  const ZantherCase c = zantherCase();
  kavtest::writeFile(dir.file("z.exe"), exeWithMovie(c.file));
  SFile *s = open(dir.file("z.exe"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_ZANTHER);
  EXPECT_NE(s->exeFile, KAV_INVALID_OS_FILE);
  EXPECT_EQ(readAll(s), c.raw);
  SFileClose(s);

  const Bytes vorn = vornMovie(11025, 1, true, {1, 2, 1, 1});
  const std::string vn = dir.file("v.vrn");
  kavtest::writeFile(vn, vorn);
  kavtest::writeFile(dir.file("V.EXE"), exeWithMovie(vorn));
  const Bytes ref = vornTrackPcm(vn, 0);
  s = open(dir.file("V.EXE"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_VORN);
  const Bytes got = readAll(s);
  EXPECT_FALSE(got.empty());
  EXPECT_EQ(got, Bytes(ref.begin(), ref.begin() + std::min(ref.size(), got.size())));
  SFileClose(s);

  // An .EXE without a movie is nothing we can open.
  kavtest::writeFile(dir.file("n.exe"), exeWithMovie(Bytes(100, 0)));
  EXPECT_EQ(open(dir.file("n.exe")), nullptr);
  EXPECT_EQ(lastError(), "Error opening the audio input file.");
}

TEST(SFileMovie, AviAudioAndItsFramePeriod) {
  kavtest::TempDir dir;
  const std::string name = dir.file("a.avi");
  const Bytes pcm = wave::pcm16(8000, 1, 21);  // one second
  writeAvi(name, 15, 15, 8000, 16, 1, pcm);
  SFile *s = open(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_AVI);
  EXPECT_STREQ(s->kindName, "AVI");
  EXPECT_EQ(s->length, pcm.size());
  EXPECT_EQ(readAll(s, 999), pcm);
  SFileReset(s);
  EXPECT_EQ(readAll(s, 4096), pcm);
  SFileClose(s);
  // Frames 2 to 4: from (2 - 1) x 6666 / 100 = 66 ms to 4 x 6666 / 100 = 266 ms.
  s = open(name, 0, 0, 0, -2, -4);
  ASSERT_NE(s, nullptr);
  const size_t from = 8000 * 66 / 1000 * 2, bytes = 8000 * 200 / 1000 * 2;
  EXPECT_EQ(readAll(s), Bytes(pcm.begin() + from, pcm.begin() + from + bytes));
  SFileClose(s);
  // Sound only, at a rate that differs from the file's: not used.
  writeAvi(name, 15, 4, 8000, 16, 1, pcm, false);
  s = open(name);
  if (s) {
    EXPECT_EQ(readAll(s), pcm);  // the stream's own rate equals the sample rate
  }
  SFileClose(s);
}

TEST(SFileMovie, QuickTimeSound) {
  kavtest::TempDir dir;
  const std::string name = dir.file("q.mov");
  const Bytes pcm = wave::pcm16(3000, 2, 22);
  kavtest::writeFile(name, quickTimeSound(6000, 2, pcm));
  SFile *s = open(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_QUICKTIME);
  EXPECT_STREQ(s->kindName, "QuickTime");
  EXPECT_EQ(readAll(s, 1001), pcm);
  SFileClose(s);
  s = open(name, 0, 0, 0, 250, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->quicktimeStart, 250u);
  EXPECT_EQ(readAll(s, 1001), Bytes(pcm.begin() + 1500 * 4, pcm.end()));
  SFileReset(s);
  EXPECT_EQ(readAll(s, 4000), Bytes(pcm.begin() + 1500 * 4, pcm.end()));
  SFileClose(s);
}

}  // namespace
