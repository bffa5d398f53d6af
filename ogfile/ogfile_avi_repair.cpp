// Headers and an index for an AVI whose writing failed part of the way (a
// full disk, a write error). The writer leaves such a file with its header
// room unfilled; the chunks of the movi list that reached the file in full
// are counted here, the header list is written into that room for exactly
// those chunks, and idx1 follows the last of them. Everything is written
// over bytes the file already holds, except idx1, which is left out (the
// movi list then ends the file) when the disk has no room for it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "kavutil/kavfile.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

using avi::fourcc;

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F'), kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kAviForm = fourcc('A', 'V', 'I', ' '), kMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kJunk = fourcc('J', 'U', 'N', 'K'), kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kHasIndex = 0x10, kInterleaved = 0x100, kPaletteChanges = 0x10000, kNoTime = 0x100;

void put16(std::vector<uint8_t> &v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t> &v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
uint32_t le32(const uint8_t *p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

struct Counted {
  uint32_t length = 0;    // frames or blocks
  uint32_t maxChunk = 0;  // largest chunk
};

struct Segment {
  uint32_t riffStart = 0;  // offset of its "RIFF"
  uint32_t moviList = 0;   // offset of its movi "LIST"
  uint32_t end = 0;        // just after its last complete chunk
};

struct Scan {
  std::vector<Segment> segments;  // the first RIFF, then the "AVIX" ones
  bool palettes = false;
  Counted video, sound;
  uint32_t firstRiffFrames = 0;
  std::vector<uint32_t> idx1;  // first RIFF: id, flags, offset from "movi", size
};

bool readAt(KAVFile *f, uint32_t pos, uint8_t *dest, uint32_t n) {
  KAVFileSetPos(f, pos);
  return KAVFileGet(f, dest, n) == n;
}

// Counts the complete chunks of one movi list, from its "LIST" at `movi`
// to `moviEnd`; returns where the last of them ends.
uint32_t scanMovi(KAVFile *f, uint32_t movi, uint32_t moviEnd, uint32_t soundAlign, bool first, Scan &s) {
  uint8_t h[8];
  uint32_t pos = movi + 12, end = pos;
  while (moviEnd - pos >= 8 && readAt(f, pos, h, 8)) {
    const uint32_t id = le32(h), bytes = le32(h + 4);
    if (bytes > moviEnd - pos - 8) break;  // cut short
    const uint32_t kind = id >> 16;
    const int tens = static_cast<int>(id & 0xFF) - '0', ones = static_cast<int>((id >> 8) & 0xFF) - '0';
    const uint32_t stream =
        tens >= 0 && tens <= 9 && ones >= 0 && ones <= 9 ? static_cast<uint32_t>(tens * 10 + ones) : 99;
    uint32_t flags = avi::kKeyFrame;
    bool listed = true;
    if (kind == ('d' | 'b' << 8) || kind == ('d' | 'c' << 8)) {
      if (stream != 0) break;
      ++s.video.length;
      s.video.maxChunk = std::max(s.video.maxChunk, bytes);
      if (bytes == 0) flags = 0;  // a dropped frame
    } else if (kind == ('w' | 'b' << 8)) {
      if (stream != 1 || !soundAlign) break;
      s.sound.length += bytes / soundAlign;
      s.sound.maxChunk = std::max(s.sound.maxChunk, bytes);
    } else if (kind == ('p' | 'c' << 8)) {
      s.palettes = true;
      flags = kNoTime;
    } else if ((id & 0xFFFF) == ('i' | 'x' << 8)) {
      listed = false;  // a standard index
    } else {
      break;
    }
    if (listed && first) s.idx1.insert(s.idx1.end(), {id, flags, pos - movi - 8, bytes});
    pos += 8 + bytes;
    if ((bytes & 1) && pos < moviEnd) ++pos;
    end = pos;
  }
  return end;
}

// The movi list inside the RIFF whose chunks start at `pos`, or 0.
uint32_t findMovi(KAVFile *f, uint32_t pos, uint32_t size) {
  uint8_t h[12];
  while (size - pos >= 12 && readAt(f, pos, h, 12)) {
    const uint32_t bytes = le32(h + 4);
    if (le32(h) == kList && le32(h + 8) == kMovi) return pos;
    if (bytes > size - pos - 8) return 0;
    pos += 8 + bytes + (bytes & 1);
  }
  return 0;
}

// Finds the movi lists of the first RIFF and of the continuation segments
// that follow it, and counts their complete chunks.
bool scanFile(KAVFile *f, uint32_t soundAlign, Scan &s) {
  const uint32_t size = KAVFileSize(f);
  uint8_t h[12];
  uint32_t riff = 0;
  while (size - riff >= 24 && readAt(f, riff, h, 12) && le32(h) == kRiff &&
         le32(h + 8) == (s.segments.empty() ? kAviForm : fourcc('A', 'V', 'I', 'X'))) {
    Segment seg;
    seg.riffStart = riff;
    seg.moviList = findMovi(f, riff + 12, size);
    if (!seg.moviList || !readAt(f, seg.moviList, h, 8)) break;
    const uint32_t declared = le32(h + 4);
    const bool closed = declared >= 4 && declared <= size - seg.moviList - 8;
    const uint32_t moviEnd = closed ? seg.moviList + 8 + declared : size;
    seg.end = scanMovi(f, seg.moviList, moviEnd, soundAlign, s.segments.empty(), s);
    if (s.segments.empty()) s.firstRiffFrames = s.video.length;
    s.segments.push_back(seg);
    // A segment that was closed is followed by the next one.
    if (!readAt(f, riff, h, 8)) break;
    const uint32_t riffBytes = le32(h + 4);
    if (!closed || seg.end != moviEnd || riffBytes < 4 || riffBytes > size - riff - 8) break;
    riff += 8 + riffBytes;
    riff += riff & 1;
  }
  return !s.segments.empty();
}

void putStreamList(std::vector<uint8_t> &v, const AviStreamFacts &facts, const Counted &c, bool audio,
                   bool palettes) {
  const avi::StreamInfo &i = facts.info;
  const size_t at = v.size();
  put32(v, kList);
  put32(v, 0);
  put32(v, fourcc('s', 't', 'r', 'l'));
  put32(v, fourcc('s', 't', 'r', 'h'));
  put32(v, 56);
  put32(v, i.fccType);
  put32(v, i.fccHandler);
  put32(v, i.dwFlags | (palettes ? kPaletteChanges : 0));
  put16(v, i.wPriority);
  put16(v, i.wLanguage);
  put32(v, i.dwInitialFrames);
  put32(v, i.dwScale);
  put32(v, i.dwRate);
  put32(v, 0);
  put32(v, c.length);
  put32(v, c.maxChunk);
  put32(v, static_cast<uint32_t>(i.dwQuality));
  put32(v, audio ? facts.blockAlign : 0);
  put16(v, static_cast<uint32_t>(i.rcFrame.left) & 0xFFFF);
  put16(v, static_cast<uint32_t>(i.rcFrame.top) & 0xFFFF);
  put16(v, static_cast<uint32_t>(i.rcFrame.right) & 0xFFFF);
  put16(v, static_cast<uint32_t>(i.rcFrame.bottom) & 0xFFFF);
  put32(v, fourcc('s', 't', 'r', 'f'));
  put32(v, static_cast<uint32_t>(facts.format.size()));
  v.insert(v.end(), facts.format.begin(), facts.format.end());
  if (facts.format.size() & 1) v.push_back(0);
  const uint32_t bytes = static_cast<uint32_t>(v.size() - at - 8);
  for (int k = 0; k < 4; ++k) v[at + 4 + k] = static_cast<uint8_t>(bytes >> (8 * k));
}

std::vector<uint8_t> headerList(const AviStreamFacts &video, const AviStreamFacts *sound, const Scan &s,
                                bool indexed) {
  std::vector<uint8_t> v;
  const avi::StreamInfo &i = video.info;
  put32(v, kList);
  put32(v, 0);
  put32(v, fourcc('h', 'd', 'r', 'l'));
  put32(v, fourcc('a', 'v', 'i', 'h'));
  put32(v, 56);
  put32(v, static_cast<uint32_t>(std::min<uint64_t>(1000000ull * i.dwScale / i.dwRate, 0xFFFFFFFFu)));
  uint64_t perSecond = avi::streamBytesPerSecond(i, 0, s.video.maxChunk);
  if (sound) perSecond += avi::streamBytesPerSecond(sound->info, sound->blockAlign, s.sound.maxChunk);
  put32(v, static_cast<uint32_t>(std::min<uint64_t>(perSecond, 0xFFFFFFFFu)));
  put32(v, 0);
  put32(v, (indexed ? kHasIndex : 0) | (sound ? kInterleaved : 0));
  const bool odml = s.segments.size() > 1;
  put32(v, odml ? s.firstRiffFrames : s.video.length);
  put32(v, 0);
  put32(v, sound ? 2 : 1);
  put32(v, std::max(s.video.maxChunk, s.sound.maxChunk) + 8);
  put32(v, static_cast<uint32_t>(i.rcFrame.right - i.rcFrame.left));
  put32(v, static_cast<uint32_t>(i.rcFrame.bottom - i.rcFrame.top));
  for (int k = 0; k < 4; ++k) put32(v, 0);
  putStreamList(v, video, s.video, false, s.palettes);
  if (sound) putStreamList(v, *sound, s.sound, true, false);
  if (odml) {  // the whole length, across the segments
    put32(v, kList);
    put32(v, 4 + 8 + kDmlhBytes);
    put32(v, fourcc('o', 'd', 'm', 'l'));
    put32(v, fourcc('d', 'm', 'l', 'h'));
    put32(v, kDmlhBytes);
    put32(v, s.video.length);
    v.resize(v.size() + kDmlhBytes - 4, 0);
  }
  const uint32_t bytes = static_cast<uint32_t>(v.size() - 8);
  for (int k = 0; k < 4; ++k) v[4 + k] = static_cast<uint8_t>(bytes >> (8 * k));
  return v;
}

}  // namespace

bool repairAvi(const char *name, const AviStreamFacts *video, const AviStreamFacts *sound) {
  if (!video || video->format.empty()) return false;
  Scan s;
  KAVFile *f = KAVFileOpen(1 << 16, name, KAV_FILE_READWRITE);
  if (!f) return false;
  if (!scanFile(f, sound ? sound->blockAlign : 0, s)) {
    KAVFileClose(f);
    return false;
  }
  const Segment &first = s.segments.front();
  const bool single = s.segments.size() == 1;
  // idx1 first, on its own: when the disk has no room for it the file goes
  // without (the reader then walks the movi list). A first RIFF that was
  // closed already has its idx1.
  std::vector<uint8_t> index;
  bool indexed = !single;
  if (single) {
    put32(index, kIdx1);
    put32(index, static_cast<uint32_t>(s.idx1.size() * 4));
    for (uint32_t x : s.idx1) put32(index, x);
    KAVFileSetPos(f, first.end);
    KAVFilePut(f, index.data(), static_cast<uint32_t>(index.size()));
    KAVFileFlush(f, 0);
    indexed = !KAVFileWriteError(f);
  }
  KAVFileClose(f);

  f = KAVFileOpen(1 << 16, name, KAV_FILE_READWRITE);
  if (!f) return false;
  std::vector<uint8_t> head = headerList(*video, sound, s, indexed);
  const uint32_t room = first.moviList - 12;
  bool ok = head.size() + 8 <= room;
  if (ok) {
    put32(head, kJunk);
    put32(head, static_cast<uint32_t>(room - head.size() - 4));
    head.resize(room, 0);
    auto putAt = [&](uint32_t at, uint32_t value) {
      const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
      KAVFileSetPos(f, at);
      KAVFilePut(f, b, 4);
    };
    if (single) {
      putAt(first.moviList + 4, first.end - first.moviList - 8);
      putAt(4, (indexed ? first.end + static_cast<uint32_t>(index.size()) : first.end) - 8);
    }
    // The last continuation segment ends with its last whole chunk.
    for (size_t i = 1; i < s.segments.size(); ++i) {
      const Segment &g = s.segments[i];
      putAt(g.moviList + 4, g.end - g.moviList - 8);
      putAt(g.riffStart + 4, g.end - g.riffStart - 8);
    }
    KAVFileSetPos(f, 12);
    KAVFilePut(f, head.data(), room);
    KAVFileFlush(f, 1);
    ok = !KAVFileWriteError(f);
  }
  KAVFileClose(f);
  return ok;
}

}  // namespace kav::og
