// A minimal PE32 image for tests: one ".rsrc" section whose resource
// directory leads (type, name, language 0x409) to a string block holding
// `text` in 16-bit characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavtest {

inline std::vector<uint8_t> buildPeWithStrings(const std::u16string &text, uint32_t stringType = 6,
                                               uint32_t stringName = 1) {
  std::vector<uint8_t> b(0x200, 0);
  auto at16 = [&b](size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto at32 = [&](size_t at, uint32_t v) {
    at16(at, v & 0xFFFF);
    at16(at + 2, v >> 16);
  };
  b[0] = 'M';
  b[1] = 'Z';
  at32(0x3C, 0x40);
  at32(0x40, 0x00004550);
  at16(0x44, 0x14C);  // i386
  at16(0x46, 1);      // one section
  at16(0x54, 224);    // optional header size
  const size_t opt = 0x58;
  at16(opt, 0x10B);
  at32(opt + 92, 16);
  const uint32_t rsrcSize = 0x58 + static_cast<uint32_t>(text.size() * 2);
  at32(opt + 96 + 16, 0x1000);
  at32(opt + 96 + 20, rsrcSize);
  const size_t sec = opt + 224;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (int i = 0; i < 8; ++i) b[sec + i] = static_cast<uint8_t>(name[i]);
  at32(sec + 8, rsrcSize);
  at32(sec + 12, 0x1000);
  at32(sec + 16, rsrcSize);
  at32(sec + 20, 0x200);
  const size_t r = 0x200;
  at16(r + 14, 1);
  at32(r + 16, stringType);
  at32(r + 20, 0x80000000u | 0x18);
  at16(r + 0x18 + 14, 1);
  at32(r + 0x18 + 16, stringName);
  at32(r + 0x18 + 20, 0x80000000u | 0x30);
  at16(r + 0x30 + 14, 1);
  at32(r + 0x30 + 16, 0x409);
  at32(r + 0x30 + 20, 0x48);
  at32(r + 0x48, 0x1000 + 0x58);
  at32(r + 0x48 + 4, static_cast<uint32_t>(text.size() * 2));
  for (size_t i = 0; i < text.size(); ++i) at16(r + 0x58 + 2 * i, text[i]);
  return b;
}

// The string that points the .EXE reader at a movie: "movie:" and the
// offset in eight digits, behind its 16-bit length.
inline std::u16string movieOffsetText(uint32_t offset) {
  std::string digits = std::to_string(offset);
  digits.insert(0, 8 - digits.size(), '0');
  std::u16string t = u"\x000emovie:";
  for (char c : digits) t.push_back(static_cast<char16_t>(c));
  return t;
}

// A program with `movie` after it, `gap` filler bytes past the image, and
// the movie's offset in string block 1.
inline std::vector<uint8_t> buildExeWithMovie(const std::vector<uint8_t> &movie, size_t gap) {
  const size_t programBytes = buildPeWithStrings(movieOffsetText(0)).size() + gap;
  std::vector<uint8_t> b = buildPeWithStrings(movieOffsetText(static_cast<uint32_t>(programBytes)));
  b.resize(programBytes, 0xCC);
  b.insert(b.end(), movie.begin(), movie.end());
  return b;
}

}  // namespace kavtest
