// WAVE and headerless PCM through the sound input: the chunk walk, the
// format conversions, trimming, reset and the switches.
#include <cstring>

#include "sfile_test_support.h"

using namespace sftest;
namespace wave = kavtest::wave;

namespace {

TEST(SFileWave, ChunkWalkAcceptsWhatRealFilesHold) {
  kavtest::TempDir dir;
  const Bytes pcm = wave::pcm16(3001, 2, 1);
  const std::vector<std::vector<wave::Chunk>> layouts = {
      {{"fmt ", wave::fmtBody(22050, 16, 2)}, {"data", pcm}},
      // chunks before "fmt ", an odd LIST chunk with its pad byte, fact
      {{"JUNK", Bytes(7, 0xEE)}, {"LIST", Bytes(13, 'x')}, {"fmt ", wave::fmtBody(22050, 16, 2)},
       {"fact", {0xB9, 0x0B, 0, 0}}, {"data", pcm}},
      {{"fmt ", wave::extensibleBody(22050, 16, 2)}, {"LIST", Bytes(3, 'y')}, {"data", pcm}},
      // data before fmt
      {{"data", pcm}, {"fmt ", wave::fmtBody(22050, 16, 2)}},
  };
  for (size_t i = 0; i < layouts.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string name = dir.file("a.wav");
    kavtest::writeFile(name, wave::riff(layouts[i]));
    SFile *s = open(name);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->kindName, "Wave");
    EXPECT_EQ(s->kind, SFILE_KIND_FILE);
    EXPECT_EQ(s->srcRate, 22050u);
    EXPECT_EQ(s->outRate, 22050u);
    EXPECT_EQ(s->outBits, 16u);
    EXPECT_EQ(s->outChannels, 2u);
    EXPECT_EQ(s->outFrameSize, 4u);
    EXPECT_EQ(s->length, pcm.size());
    EXPECT_EQ(readAll(s, 999), pcm);
    EXPECT_EQ(s->end, 1u);
    EXPECT_EQ(s->outSamples, 3001u);
    SFileClose(s);
  }
}

TEST(SFileWave, NameWithoutExtensionGetsWav) {
  kavtest::TempDir dir;
  kavtest::writeFile(dir.file("song.wav"), wave::simple(8000, 8, 1, wave::pcm8(100, 1, 2)));
  SFile *s = open(dir.file("song"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->name), dir.file("song.wav"));
  SFileClose(s);
}

TEST(SFileWave, DamagedAndUnsupportedFilesFailWithTheMessage) {
  kavtest::TempDir dir;
  const Bytes pcm = wave::pcm16(100, 1, 3);
  wave::Chunk longData{"data", pcm};
  longData.sizeOverride = static_cast<int64_t>(pcm.size() + 2);
  wave::Chunk hugeFmt{"fmt ", wave::fmtBody(8000, 16, 1)};
  hugeFmt.sizeOverride = 0x7FFFFFF0;
  Bytes fmt14 = wave::fmtBody(8000, 16, 1);
  fmt14.resize(14);
  wave::Chunk shortFmt{"fmt ", fmt14};
  const std::vector<std::pair<const char *, Bytes>> bad = {
      {"zero channels", wave::simple(8000, 16, 0, pcm)},
      {"zero rate", wave::simple(0, 16, 1, pcm)},
      {"data longer than the file", wave::riff({{"fmt ", wave::fmtBody(8000, 16, 1)}, longData})},
      {"fmt size past the end", wave::riff({hugeFmt, {"data", pcm}})},
      {"short fmt", wave::riff({shortFmt, {"data", pcm}})},
      {"float", wave::riff({{"fmt ", wave::fmtBody(8000, 32, 1, 3)}, {"data", pcm}})},
      {"24-bit", wave::simple(8000, 24, 1, Bytes(300, 0))},
      {"six channels", wave::simple(8000, 16, 6, Bytes(1200, 0))},
      {"extensible float", wave::riff({{"fmt ", wave::extensibleBody(8000, 16, 1, 3)}, {"data", pcm}})},
      {"no data", wave::riff({{"fmt ", wave::fmtBody(8000, 16, 1)}})},
      {"no fmt", wave::riff({{"data", pcm}})},
      {"only RIFF", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
  };
  for (const auto &[what, bytes] : bad) {
    SCOPED_TRACE(what);
    const std::string name = dir.file("bad.wav");
    kavtest::writeFile(name, bytes);
    EXPECT_EQ(open(name), nullptr);
    EXPECT_EQ(lastError(), "Error opening the audio input file.");
  }
  EXPECT_EQ(open(dir.file("missing.wav")), nullptr);
  EXPECT_EQ(lastError(), "Error opening the audio input file.");
}

TEST(SFileWave, SlowerRateAveragesAndEightBitWidensToStereo) {
  // 22050 Hz 8-bit mono read as 11025 Hz 16-bit stereo: each pair of source
  // samples averaged, each value written twice.
  kavtest::TempDir dir;
  const std::string name = dir.file("m.wav");
  const Bytes pcm = wave::pcm8(2000, 1, 4);
  kavtest::writeFile(name, wave::simple(22050, 8, 1, pcm));
  SFile *s = open(name, 11025, 16, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->outFrameSize, 4u);
  const Bytes out = readAll(s, 256);
  ASSERT_EQ(out.size(), 1000u * 4);
  for (size_t k = 0; k < 1000; ++k) {
    const int32_t want = ((pcm[2 * k] - 128) * 256 + (pcm[2 * k + 1] - 128) * 256) / 2;
    ASSERT_EQ(s16(out, 2 * k), want) << k;
    ASSERT_EQ(s16(out, 2 * k + 1), want) << k;
  }
  SFileClose(s);
}

TEST(SFileWave, StereoSixteenToMonoEightAndBack) {
  kavtest::TempDir dir;
  const std::string name = dir.file("s.wav");
  const Bytes pcm = wave::pcm16(4410, 2, 5);
  kavtest::writeFile(name, wave::simple(44100, 16, 2, pcm));
  SFile *s = open(name, 22050, 8, 1);
  ASSERT_NE(s, nullptr);
  const Bytes out = readAll(s, 333);
  ASSERT_EQ(out.size(), 2205u);
  for (size_t k = 0; k < out.size(); ++k) {
    const int32_t l = (s16(pcm, 4 * k) + s16(pcm, 4 * k + 2)) / 2, r = (s16(pcm, 4 * k + 1) + s16(pcm, 4 * k + 3)) / 2;
    const int32_t v = (l + r) / 2;
    ASSERT_EQ(out[k], static_cast<uint8_t>(v / 256 - 128)) << k;
  }
  SFileClose(s);

  // The low byte of (value / 256 - 128), the division toward zero.
  const Bytes edges = {0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFE, 0x01, 0x00, 0xFF, 0x7F};  // -32768 -1 -257 1 32767
  kavtest::writeFile(name, wave::simple(8000, 16, 1, edges));
  s = open(name, 0, 8, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s), (Bytes{0x00, 0x80, 0x7F, 0x80, 0xFF}));
  SFileClose(s);
}

TEST(SFileWave, FasterRateInterpolatesLinearly) {
  kavtest::TempDir dir;
  const std::string name = dir.file("u.wav");
  const Bytes pcm = {0x00, 0x00, 0x00, 0x04, 0x00, 0xFC, 0x10, 0x00};  // 0, 1024, -1024, 16
  kavtest::writeFile(name, wave::simple(11025, 16, 1, pcm));
  SFile *s = open(name, 22050, 16, 1);
  ASSERT_NE(s, nullptr);
  const Bytes out = readAll(s, 6);
  ASSERT_EQ(out.size(), 16u);  // twice the source frames: the last is held for its span
  const int16_t want[8] = {0, 512, 1024, 0, -1024, -504, 16, 16};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(s16(out, i), want[i]) << i;
  SFileClose(s);

  // A ratio that is not whole: 3 source frames to 7 output frames per span set.
  kavtest::writeFile(name, wave::simple(3000, 16, 1, wave::pcm16(3000, 1, 6)));
  s = open(name, 7000, 16, 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s, 1000).size(), 7000u * 2);
  SFileClose(s);
}

TEST(SFileWave, ByteCountsRoundDownToFrames) {
  kavtest::TempDir dir;
  const std::string name = dir.file("r.wav");
  kavtest::writeFile(name, wave::simple(8000, 16, 1, wave::pcm16(10, 1, 7)));
  SFile *s = open(name);
  ASSERT_NE(s, nullptr);
  uint8_t buf[8];
  EXPECT_EQ(SFileGet(s, buf, 3), 2u);
  EXPECT_EQ(SFileGet(s, buf, 1), 0u);
  EXPECT_EQ(s->end, 0u);
  SFileClose(s);
}

TEST(SFileWave, TrimmingByTimeAndReset) {
  kavtest::TempDir dir;
  const std::string name = dir.file("t.wav");
  const Bytes pcm = wave::pcm16(44100 * 3, 2, 8);
  kavtest::writeFile(name, wave::simple(44100, 16, 2, pcm));
  SFile *s = open(name, 0, 0, 0, 1000, 2000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 176400u);
  const Bytes want(pcm.begin() + 176400, pcm.begin() + 2 * 176400);
  EXPECT_EQ(readAll(s, 10000), want);
  SFileReset(s);
  EXPECT_EQ(s->end, 0u);
  EXPECT_EQ(s->remaining, 176400u);
  EXPECT_EQ(readAll(s, 7777), want);
  SFileClose(s);

  // Only a start; an end before the start keeps the rest.
  s = open(name, 0, 0, 0, 2500, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s, 10000), Bytes(pcm.begin() + 441000, pcm.end()));
  SFileClose(s);
  s = open(name, 0, 0, 0, 2000, 1000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, pcm.size() - 352800);
  SFileClose(s);
  // Frame numbers on a file without frames count as milliseconds.
  s = open(name, 0, 0, 0, -1000, -2000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 176400u);
  SFileClose(s);
  // Times that add up to 0 keep the whole sound.
  s = open(name, 0, 0, 0, 1000, -1000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, pcm.size());
  SFileClose(s);
  // A start past the end leaves nothing.
  s = open(name, 0, 0, 0, 5000, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 0u);
  EXPECT_EQ(s->end, 1u);
  EXPECT_TRUE(readAll(s).empty());
  SFileClose(s);
}

TEST(SFileWave, HeaderlessPcmWithOffset) {
  kavtest::TempDir dir;
  const std::string name = dir.file("x.raw");
  const Bytes pcm = wave::pcm16(500, 2, 9);
  Bytes file = pcm;
  file.insert(file.begin(), 7, uint8_t{0x55});
  file.push_back(1);  // a partial frame at the end is not delivered
  kavtest::writeFile(name, file);
  messages().clear();
  SFile *s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 22050 * 8 + 3, 7, record);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->srcRate, 22050u);
  EXPECT_EQ(s->srcBits, 16u);
  EXPECT_EQ(s->srcChannels, 2u);
  EXPECT_STREQ(s->kindName, "Wave");
  EXPECT_EQ(readAll(s), pcm);
  SFileClose(s);
  // The offset stops at the last byte of the file.
  s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 8000 * 8, 1u << 30, record);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s), Bytes{1});
  SFileClose(s);
}

TEST(SFileWave, ProgressMessages) {
  kavtest::TempDir dir;
  const std::string name = dir.file("p.wav");
  kavtest::writeFile(name, wave::simple(8000, 8, 1, wave::pcm8(1000, 1, 10)));
  SFile *s = open(name);
  ASSERT_NE(s, nullptr);
  uint8_t buf[500];
  SFileGet(s, buf, 500);
  SFileGet(s, buf, 500);
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[0], std::make_pair(std::string("Processing sound data (0%)..."), 1));
  // The first call read the whole file into the buffer: what is read from
  // the source counts, delivered or not.
  EXPECT_EQ(messages()[1], std::make_pair(std::string("Processing sound data (100%)..."), 0));
  SFileClose(s);
}

TEST(SFileWave, CommandLineSwitches) {
  char line[] = "a.wav /R22050 /C2 /B8 /S-3 /E900 /T2 /Y3 /D22050 /K44 b.wav";
  uint32_t rate, bits, channels, track, raw, offset;
  int32_t start, end;
  EXPECT_EQ(SFileCommandLine(line, &rate, &bits, &channels, &start, &end, &track, &raw, &offset), 1);
  EXPECT_EQ(rate, 22050u);
  EXPECT_EQ(channels, 2u);
  EXPECT_EQ(bits, 8u);
  EXPECT_EQ(start, -3);
  EXPECT_EQ(end, 900);
  EXPECT_EQ(track, 2u);
  EXPECT_EQ(raw, 22050u * 8 + 2);
  EXPECT_EQ(offset, 44u);
  char rest[] = "a.wav /Y9 /K5";
  SFileCommandLine(rest, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &raw, &offset);
  EXPECT_EQ(raw, 9u);
  EXPECT_EQ(offset, 0u);
  EXPECT_NE(std::strstr(rest, "/K5"), nullptr);  // /K is read only with /Y1 to /Y5
  char dflt[] = "/Y1";
  SFileCommandLine(dflt, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &raw, &offset);
  EXPECT_EQ(raw, 11025u * 8);
}

}  // namespace

#include <filesystem>

namespace {

TEST(SFileWave, StoredBadFilesFailAndGoodOnesPlay) {
  for (const auto &e : std::filesystem::directory_iterator(std::string(KAV_SFILE_DATA_DIR) + "/bad")) {
    SCOPED_TRACE(e.path().string());
    EXPECT_EQ(open(e.path().string()), nullptr);
    EXPECT_EQ(lastError(), "Error opening the audio input file.");
  }
  SFile *s = open(std::string(KAV_SFILE_DATA_DIR) + "/stereo16.wav");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s).size(), 400u);
  SFileClose(s);
}

}  // namespace
