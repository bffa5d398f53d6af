// The parsed form of an AVI file: its streams, their formats and one index
// entry per chunk, all checked against the file before anything uses them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/avi/avi_file.h"
#include "platform/avi/avi_io.h"

namespace kav::avi {

inline uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t le64(const uint8_t *p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kFormAvi = fourcc('A', 'V', 'I', ' ');
constexpr uint32_t kFormAvix = fourcc('A', 'V', 'I', 'X');
constexpr uint32_t kListHdrl = fourcc('h', 'd', 'r', 'l');
constexpr uint32_t kListStrl = fourcc('s', 't', 'r', 'l');
constexpr uint32_t kListMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kListRec = fourcc('r', 'e', 'c', ' ');
constexpr uint32_t kListOdml = fourcc('o', 'd', 'm', 'l');
constexpr uint32_t kAvih = fourcc('a', 'v', 'i', 'h');
constexpr uint32_t kStrh = fourcc('s', 't', 'r', 'h');
constexpr uint32_t kStrf = fourcc('s', 't', 'r', 'f');
constexpr uint32_t kStrn = fourcc('s', 't', 'r', 'n');
constexpr uint32_t kIndx = fourcc('i', 'n', 'd', 'x');
constexpr uint32_t kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr uint32_t kDmlh = fourcc('d', 'm', 'l', 'h');
constexpr uint32_t kJunk = fourcc('J', 'U', 'N', 'K');

constexpr uint8_t kIndexOfIndexes = 0x00;  // AVI_INDEX_OF_INDEXES
constexpr uint8_t kIndexOfChunks = 0x01;   // AVI_INDEX_OF_CHUNKS
constexpr uint32_t kNoTime = 0x100;        // AVIIF_NOTIME: palette changes

// Streams beyond this many are ignored (the header's count is not trusted).
constexpr uint32_t kMaxStreams = 64;
// Formats larger than this are not kept (a DIB header with a full colour
// table and generous extra data fits easily).
constexpr uint32_t kMaxFormatBytes = 4096;

// Chunk id of stream n: two decimal digits then the kind ("00dc", "01wb").
inline uint32_t chunkId(uint32_t stream, char a, char b) {
  return fourcc(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), a, b);
}
// Stream number of a chunk id, or -1 when it names none.
inline int32_t chunkStream(uint32_t id) {
  const auto d0 = static_cast<int>(id & 0xFF) - '0';
  const auto d1 = static_cast<int>((id >> 8) & 0xFF) - '0';
  if (d0 < 0 || d0 > 9 || d1 < 0 || d1 > 9) return -1;
  return d0 * 10 + d1;
}
inline bool isPaletteChange(uint32_t id) { return (id >> 16) == (static_cast<uint32_t>('p') | 'c' << 8); }

// Positions are 64-bit: OpenDML files pass 4 GiB.
struct Entry {
  uint64_t offset;  // first data byte in the file
  uint32_t size;    // data bytes, within the file
  uint32_t flags;   // kKeyFrame
};

struct PaletteChange {
  uint64_t offset;
  uint32_t size;
  uint32_t beforeFrame;  // applies to this frame index and later
};

struct StreamData {
  uint32_t type = 0, handler = 0, flags = 0;
  uint16_t priority = 0, language = 0;
  uint32_t initialFrames = 0, scale = 0, rate = 0, start = 0, headerLength = 0;
  uint32_t suggestedBuffer = 0, sampleSize = 0;
  int32_t quality = -1;
  char name[64] = {};
  std::vector<uint8_t> format;
  uint64_t superIndexPos = 0;  // "indx" data position in the file, 0 for none
  uint32_t superIndexSize = 0;

  std::vector<Entry> entries;
  std::vector<PaletteChange> paletteChanges;
  // Audio: bytes before each entry, plus the total at the end.
  std::vector<uint64_t> bytesBefore;
  uint32_t blockAlign = 1;  // audio bytes per sample

  const BitmapInfoHeader *bitmap() const;  // null unless a usable video format
  uint32_t length() const;                 // samples in the index
};

struct Segment {
  uint64_t moviStart;  // position of the "movi" form type
  uint64_t moviEnd;
};

struct Container {
  InFile file;
  uint64_t fileSize = 0;
  uint64_t origin = 0;  // where the first RIFF starts
  uint32_t microSecPerFrame = 0;
  std::vector<StreamData> streams;
  std::vector<Segment> segments;  // the movi lists, first RIFF first
  uint64_t idx1Pos = 0;
  uint32_t idx1Size = 0;

  // Reads count bytes at pos; the count actually read.
  uint32_t readAt(uint64_t pos, void *dest, uint32_t count);
};

// Parses the headers and builds every stream's index. Null when the file is
// no AVI file or holds no usable stream.
std::shared_ptr<Container> openContainer(const char *name, uint64_t origin = 0);

// Index building (avi_index.cpp).
void buildIndexes(Container &c);

}  // namespace kav::avi
