// Fuzz target for lists and numbered sequences in the graphics input. The
// input holds the switches (fuzz_settings.h), five bytes that shape the list,
// and then one to three files separated by "=KAV=". The files are written as
// s00, s01 and s02 with one extension into a scratch folder, and a list file
// beside them names them: one line each with its own first frame, last frame
// and play count, or as a numbered sequence "s??.ext*0-2" in its spellings,
// with comments, blank lines and CRLF ends as people write them. The list
// file is made here, never taken from the input, so that no input can send
// the reader to other files on the machine. The names in it are full paths,
// whose "/s00" must not be taken for a switch.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_settings.h"
#include "support/temp_dir.h"
#include "platform/gstreamer/gst_media.h"

namespace {

constexpr size_t kShapeBytes = 5;
constexpr char kSeparator[] = "=KAV=";
constexpr size_t kMaxPieces = 3;

const char *const kExtensions[8] = {".dat", ".png", ".bmp", ".avi", ".mov", ".flc", ".wav", ".exe"};
const int32_t kEntryFirst[8] = {0, 0, 1, 2, 3, 5, -1, 100};
const int32_t kEntryPlays[4] = {0, 0, 2, 3};

bool writeScratch(const std::string &name, const uint8_t *data, size_t size) {
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && ok;
}

std::vector<std::pair<const uint8_t *, size_t>> splitPieces(const uint8_t *data, size_t size, size_t wanted) {
  std::vector<std::pair<const uint8_t *, size_t>> pieces;
  const size_t sepLength = sizeof kSeparator - 1;
  while (pieces.size() + 1 < wanted) {
    const void *at = memmem(data, size, kSeparator, sepLength);
    if (!at) break;
    const size_t n = static_cast<size_t>(static_cast<const uint8_t *>(at) - data);
    pieces.emplace_back(data, n);
    data += n + sepLength;
    size -= n + sepLength;
  }
  pieces.emplace_back(data, size);
  return pieces;
}

// One entry line: the name, then its /S, /E and /L as the shape byte says.
std::string entryLine(const std::string &name, uint8_t b) {
  std::string line = name;
  char text[48];
  const int32_t first = kEntryFirst[b & 7];
  if (first) {
    std::snprintf(text, sizeof text, " /S%ld", static_cast<long>(first));
    line += text;
  }
  if (const uint32_t span = (b >> 3) & 7) {
    std::snprintf(text, sizeof text, " /E%ld", static_cast<long>((first > 0 ? first : 1) + span - 1));
    line += text;
  }
  if (const int32_t plays = kEntryPlays[b >> 6]) {
    std::snprintf(text, sizeof text, " /L%ld", static_cast<long>(plays));
    line += text;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kav::gst::disable();  // our own paths only; GStreamer is fuzzed on its own
  static const kavtest::TempDir scratch;
  const size_t head = kavfuzz::kSettingsBytes + kShapeBytes;
  if (size < head) return 0;
  const uint8_t *shape = data + kavfuzz::kSettingsBytes;
  // Shape byte 0: pieces (bits 0-1), extension (bits 2-4), how the lines
  // name them (bits 5-7). Byte 1: comment, blank lines, CRLF, trailing blank
  // lines, leading blanks. Bytes 2-4: each line's /S, /E and /L.
  const size_t wanted = (shape[0] & 3) == 0 ? 1 : (shape[0] & 3);
  const char *ext = kExtensions[(shape[0] >> 2) & 7];
  const uint32_t style = shape[0] >> 5;
  const auto pieces = splitPieces(data + head, size - head, wanted);

  std::vector<std::string> names;
  bool small = true;
  for (size_t i = 0; i < pieces.size() && i < kMaxPieces; ++i) {
    char file[16];
    std::snprintf(file, sizeof file, "s%02zu%s", i, ext);
    names.push_back(scratch.file(file));
    if (!writeScratch(names.back(), pieces[i].first, pieces[i].second)) return 0;
    small = small && kavfuzz::smallSource(names.back().c_str());
  }
  const std::string pattern = scratch.file(std::string("s??") + ext);
  const std::string last = std::to_string(names.size() - 1);
  std::vector<std::string> lines;
  if (shape[1] & 1) lines.push_back("# made by the list fuzz target");
  auto eachFile = [&] {
    for (size_t i = 0; i < names.size(); ++i) lines.push_back(entryLine(names[i], shape[2 + i]));
  };
  switch (style) {
    case 0: eachFile(); break;
    case 1: lines.push_back(pattern + "*0-" + last); break;
    case 2: lines.push_back(pattern + " *0-" + last); break;  // a blank before the range
    case 3: lines.push_back(pattern + " /S0 /E" + last); break;
    case 4: lines.push_back(entryLine(pattern + "*" + last, shape[2])); break;
    case 5:
      eachFile();
      lines.push_back(pattern + "*0-" + last);
      break;
    case 6: lines.push_back(pattern + "*0-" + std::to_string(names.size())); break;  // one file too many
    default:
      eachFile();
      lines.push_back(scratch.file(std::string("missing") + ext));
      break;
  }
  std::string text;
  const char *end = (shape[1] & 4) ? "\r\n" : "\n";
  for (const std::string &line : lines) {
    if (shape[1] & 16) text += "  ";
    text += line;
    text += end;
    if (shape[1] & 2) text += end;
  }
  if (shape[1] & 8) text += std::string(end) + end;
  const std::string list = scratch.file("entries.lst");
  if (!writeScratch(list, reinterpret_cast<const uint8_t *>(text.data()), text.size())) return 0;

  if (kavfuzz::showing()) std::printf("%s", text.c_str());
  const kavfuzz::Settings s = kavfuzz::pickSettings(data, kavfuzz::kSettingsBytes, names[0]);
  kavfuzz::playAndClose(kavfuzz::openWith(list, s), s, small);
  for (const std::string &name : names) std::remove(name.c_str());
  std::remove(list.c_str());
  return 0;
}
