#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/pe/pe_resources.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A minimal PE image holding `text` in string block 1 (by default), and
// `tail` bytes of "movie" after it.
Bytes buildExe(const std::u16string &text, uint32_t stringType = 6, uint32_t stringName = 1, size_t tail = 64) {
  Bytes b = kavtest::buildPeWithStrings(text, stringType, stringName);
  b.resize(b.size() + tail, 0xAB);
  return b;
}

}  // namespace

TEST(EmbeddedMovie, OffsetFollowsTheFirstColonWithADigit) {
  kavtest::TempDir tmp;
  const std::string exe = tmp.file("PLAYER.EXE");
  // A string-table block: each string has a length word before it.
  const std::u16string text = u"\x0005Title\x0004a:bc\x000bmovie:9000x";
  kavtest::writeFile(exe, buildExe(text));
  const auto block = kav::pe::readStringBlock1(exe.c_str());
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->size(), text.size());
  EXPECT_EQ(kav::pe::movieOffset(*block), 9000u);

  uint32_t offset = 0;
  kavtest::writeFile(exe, buildExe(u"at :700", 6, 1, 200));
  const KavOsFile f = kav::pe::openEmbeddedMovie(exe.c_str(), &offset);
  ASSERT_NE(f, KAV_INVALID_OS_FILE);
  EXPECT_EQ(offset, 700u);
  EXPECT_EQ(lseek(f, 0, SEEK_CUR), 700);
  close(f);
}

TEST(EmbeddedMovie, FilesWithoutTheBlockOrOffsetAreNoMovies) {
  kavtest::TempDir tmp;
  const std::string exe = tmp.file("x.exe");
  struct Case {
    Bytes bytes;
    const char *what;
  } cases[] = {
      {buildExe(u"no offset here: x"), "no digit after the colon"},
      {buildExe(u"at :99999999999"), "offset beyond 32 bits"},
      {buildExe(u"at :5", 3), "no string table"},
      {buildExe(u"at :5", 6, 2), "no block 1"},
      {Bytes{'M', 'Z'}, "cut after the signature"},
      {Bytes(300, 0), "not a PE file"},
  };
  for (const auto &c : cases) {
    kavtest::writeFile(exe, c.bytes);
    uint32_t offset = 0;
    EXPECT_EQ(kav::pe::openEmbeddedMovie(exe.c_str(), &offset), KAV_INVALID_OS_FILE) << c.what;
  }
  EXPECT_EQ(kav::pe::openEmbeddedMovie(tmp.file("missing.exe").c_str(), nullptr), KAV_INVALID_OS_FILE);
}

TEST(EmbeddedMovie, DamagedHeadersNeverReadOutsideTheFile) {
  // Every truncation and a few thousand random byte changes of a good file:
  // each either finds the block or fails cleanly (the sanitizers watch).
  kavtest::TempDir tmp;
  const std::string exe = tmp.file("m.exe");
  const Bytes good = buildExe(u"movie :1234");
  std::mt19937 rng(77);
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    kavtest::writeFile(exe, Bytes(good.begin(), good.begin() + cut));
    kav::pe::readStringBlock1(exe.c_str());
  }
  for (int i = 0; i < 1500; ++i) {
    Bytes b = good;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) b[rng() % 0x260] = static_cast<uint8_t>(rng());
    kavtest::writeFile(exe, b);
    const auto block = kav::pe::readStringBlock1(exe.c_str());
    if (block) {
      EXPECT_LE(block->size(), (1u << 20) / 2);
    }
  }
}
