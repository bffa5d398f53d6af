// Lists of sound sources: mixed kinds with /L repeats and comments, the
// format fixed by the first entry, patterns, self-naming lists, reset.
#include "sfile/sfile_movies.h"
#include "sfile_test_support.h"

using namespace sftest;
namespace wave = kavtest::wave;

namespace {

void writeText(const std::string &name, const std::string &text) {
  kavtest::writeFile(name, Bytes(text.begin(), text.end()));
}

Bytes cat(std::initializer_list<const Bytes *> parts) {
  Bytes out;
  for (const Bytes *p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

TEST(SFileList, MixedKindsRepeatsAndComments) {
  kavtest::TempDir dir;
  const Bytes a = wave::pcm16(1000, 2, 1), b = wave::pcm8(500, 1, 2);
  kavtest::writeFile(dir.file("a.wav"), wave::simple(11025, 16, 2, a));
  kavtest::writeFile(dir.file("b.wav"), wave::simple(11025, 8, 1, b));
  // A Zanther movie of two 100 ms frames at 11025 Hz 16-bit stereo.
  const Bytes z0 = wave::pcm16(1102, 2, 3), z1 = wave::pcm16(1102, 2, 4);
  kavtest::writeFile(dir.file("z.znt"),
                     zantherMovie(100, {zantherTrackWord(11025, true, true, false)}, {{rawChunk(z0), rawChunk(z1)}}, 2));
  const std::string list = dir.file("mix.lst");
  writeText(list, "# the intro\n" + dir.file("a.wav") + " /L2\n\n#" + dir.file("b.wav") + "\n" + dir.file("b.wav") +
                      "\r\n" + dir.file("missing.wav") + "\n" + dir.file("z.znt") + "\n\n\n");
  SFile *s = open(list);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, SFILE_KIND_LIST);
  EXPECT_STREQ(s->kindName, "List");
  // The first entry fixes the format: b is widened to 16-bit stereo.
  EXPECT_EQ(s->outBits, 16u);
  EXPECT_EQ(s->outChannels, 2u);
  Bytes bWide;
  for (uint8_t v : b)
    for (int c = 0; c < 2; ++c) {
      const int16_t x = static_cast<int16_t>((v - 128) * 256);
      bWide.push_back(static_cast<uint8_t>(x));
      bWide.push_back(static_cast<uint8_t>(static_cast<uint16_t>(x) >> 8));
    }
  // The Zanther entry's length is its running time rounded to 4 bytes.
  const size_t zBytes = (11025 * 4 * 2 / 10) & ~size_t{3};
  const Bytes zAll = cat({&z0, &z1});
  const Bytes zPart(zAll.begin(), zAll.begin() + static_cast<std::ptrdiff_t>(std::min(zBytes, zAll.size())));
  const Bytes want = cat({&a, &a, &bWide, &zPart});
  EXPECT_EQ(s->length, a.size() * 2 + bWide.size() + zBytes);
  const Bytes got = readAll(s, 1000);
  EXPECT_EQ(got, want);
  SFileReset(s);
  EXPECT_EQ(readAll(s, 4444), want);
  SFileClose(s);

  // The list's own start and end trim across entries.
  s = open(list, 0, 0, 0, 100, 200);
  ASSERT_NE(s, nullptr);
  const size_t from = 11025 * 4 / 10 / 4 * 4, bytes = from;  // whole frames
  EXPECT_EQ(readAll(s, 999), Bytes(want.begin() + from, want.begin() + from + bytes));
  SFileClose(s);

  // Asked for 8-bit mono at a lower rate, every entry converts.
  s = open(list, 5512, 8, 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->outFrameSize, 1u);
  const Bytes small = readAll(s, 100);
  EXPECT_NEAR(static_cast<double>(small.size()), want.size() / 8.0, 8);
  SFileClose(s);
}

TEST(SFileList, PatternsInListsAndOpenedDirectly) {
  kavtest::TempDir dir;
  Bytes all;
  for (int i = 1; i <= 3; ++i) {
    const Bytes p = wave::pcm8(100 + i, 1, i);
    all.insert(all.end(), p.begin(), p.end());
    kavtest::writeFile(dir.file("s0" + std::to_string(i) + ".wav"), wave::simple(8000, 8, 1, p));
  }
  SFile *s = open(dir.file("s??.wav*1-3"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s, 50), all);
  SFileReset(s);
  EXPECT_EQ(readAll(s, 64), all);
  SFileClose(s);

  writeText(dir.file("p.lst"), dir.file("s??.wav*2-3") + "\n" + dir.file("s??.wav*1") + "\n");
  s = open(dir.file("p.lst"));
  ASSERT_NE(s, nullptr);
  const Bytes want = cat({&all});
  Bytes expect(all.begin() + 101, all.end());
  expect.insert(expect.end(), all.begin(), all.begin() + 101);
  EXPECT_EQ(readAll(s), expect);
  SFileClose(s);
}

TEST(SFileList, EmptyAndSelfNamingListsFailCleanly) {
  kavtest::TempDir dir;
  writeText(dir.file("none.lst"), "# nothing\n" + dir.file("missing.wav") + "\n\n");
  EXPECT_EQ(open(dir.file("none.lst")), nullptr);
  EXPECT_EQ(lastError(), "No files in the list file.");
  EXPECT_EQ(open(dir.file("absent.lst")), nullptr);
  EXPECT_EQ(lastError(), "Error opening the audio input file.");

  writeText(dir.file("self.lst"), dir.file("self.lst") + "\n" + dir.file("self.lst") + "\n" + dir.file("self.lst") + "\n");
  EXPECT_EQ(open(dir.file("self.lst")), nullptr);
  EXPECT_EQ(lastError(), "List files are nested too deeply.");
  writeText(dir.file("x.lst"), dir.file("y.lst") + "\n");
  writeText(dir.file("y.lst"), dir.file("x.lst") + "\n");
  EXPECT_EQ(open(dir.file("x.lst")), nullptr);
  EXPECT_EQ(lastError(), "List files are nested too deeply.");

  // A list may name a list.
  const Bytes p = wave::pcm8(300, 1, 9);
  kavtest::writeFile(dir.file("w.wav"), wave::simple(8000, 8, 1, p));
  writeText(dir.file("inner.lst"), dir.file("w.wav") + "\n");
  writeText(dir.file("outer.lst"), dir.file("inner.lst") + " /L2\n");
  SFile *s = open(dir.file("outer.lst"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s), cat({&p, &p}));
  SFileClose(s);
}

}  // namespace
