#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/pe/pe_resources.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes &b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes &b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// A minimal PE32 image with one ".rsrc" section holding string block 1
// (type 6, name 1, language 0x409) with `text` in 16-bit characters, and
// `tail` bytes of "movie" after the section.
Bytes buildExe(const std::u16string &text, uint32_t stringType = 6, uint32_t stringName = 1, size_t tail = 64) {
  Bytes b(0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, 0x40);
  put32(b, 0x40, 0x00004550);
  put16(b, 0x44, 0x14C);  // i386
  put16(b, 0x46, 1);      // one section
  put16(b, 0x54, 224);    // optional header size
  const size_t opt = 0x58;
  put16(b, opt, 0x10B);
  put32(b, opt + 92, 16);
  const uint32_t rsrcSize = 0x58 + static_cast<uint32_t>(text.size() * 2);
  put32(b, opt + 96 + 16, 0x1000);
  put32(b, opt + 96 + 20, rsrcSize);
  const size_t sec = opt + 224;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (int i = 0; i < 8; ++i) b[sec + i] = static_cast<uint8_t>(name[i]);
  put32(b, sec + 8, rsrcSize);
  put32(b, sec + 12, 0x1000);
  put32(b, sec + 16, rsrcSize);
  put32(b, sec + 20, 0x200);
  const size_t r = 0x200;
  put16(b, r + 14, 1);
  put32(b, r + 16, stringType);
  put32(b, r + 20, 0x80000000u | 0x18);
  put16(b, r + 0x18 + 14, 1);
  put32(b, r + 0x18 + 16, stringName);
  put32(b, r + 0x18 + 20, 0x80000000u | 0x30);
  put16(b, r + 0x30 + 14, 1);
  put32(b, r + 0x30 + 16, 0x409);
  put32(b, r + 0x30 + 20, 0x48);
  put32(b, r + 0x48, 0x1000 + 0x58);
  put32(b, r + 0x48 + 4, static_cast<uint32_t>(text.size() * 2));
  for (size_t i = 0; i < text.size(); ++i) put16(b, r + 0x58 + 2 * i, text[i]);
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
