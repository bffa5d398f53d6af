// Building one index entry per chunk for every stream. The OpenDML indexes
// come first (they cover every segment), then idx1 (the first RIFF only;
// later segments are scanned), and when neither holds up the movi lists are
// scanned chunk by chunk. An index is used only when all of it points inside
// the file; one bad entry sends the whole file to the scan.
#include <algorithm>

#include "platform/avi/avi_container.h"

namespace kav::avi {

namespace {

void clearIndexes(Container &c) {
  for (StreamData &s : c.streams) {
    s.entries.clear();
    s.paletteChanges.clear();
  }
}

// Frames seen so far per stream while walking, so that a palette change
// knows the frame it precedes even when the frames come from another index.
struct Walk {
  Container &c;
  std::vector<uint32_t> seen;
  bool frames, palettes;
};

void addChunk(Walk &w, uint32_t id, uint64_t dataPos, uint32_t size, uint32_t flags) {
  const int32_t n = chunkStream(id);
  if (n < 0 || static_cast<size_t>(n) >= w.c.streams.size()) return;
  StreamData &s = w.c.streams[static_cast<size_t>(n)];
  if (isPaletteChange(id)) {
    if (w.palettes) s.paletteChanges.push_back({dataPos, size, w.seen[static_cast<size_t>(n)]});
    return;
  }
  if ((id >> 16) == ('i' | 'x' << 8)) return;  // a standard index chunk
  ++w.seen[static_cast<size_t>(n)];
  if (w.frames) s.entries.push_back({dataPos, size, flags});
}

// Walks the chunks of [pos, end), going into "rec " lists. A chunk that runs
// past the end is kept with what the file holds of it.
void scanRange(Walk &w, uint64_t pos, uint64_t end, int depth) {
  while (end >= 8 && pos <= end - 8) {
    uint8_t h[12];
    if (w.c.readAt(pos, h, 8) != 8) return;
    const uint32_t id = le32(h);
    const uint32_t size = le32(h + 4);
    const uint64_t dataPos = pos + 8;
    const auto held = static_cast<uint32_t>(std::min<uint64_t>(size, end - dataPos));
    if (id == kList) {
      if (depth < 4 && held >= 4 && w.c.readAt(dataPos, h + 8, 4) == 4 && le32(h + 8) == kListRec)
        scanRange(w, dataPos + 4, dataPos + held, depth + 1);
    } else {
      addChunk(w, id, dataPos, held, kKeyFrame);
    }
    if (held < size) return;
    const uint64_t next = dataPos + size + (size & 1);
    if (next > end) return;
    pos = next;
  }
}

void scanSegments(Container &c, size_t first, bool frames, bool palettes) {
  Walk w{c, std::vector<uint32_t>(c.streams.size()), frames, palettes};
  for (size_t n = 0; n < c.streams.size(); ++n) w.seen[n] = static_cast<uint32_t>(c.streams[n].entries.size());
  if (!frames) std::fill(w.seen.begin(), w.seen.end(), 0u);
  for (size_t i = first; i < c.segments.size(); ++i)
    scanRange(w, c.segments[i].moviStart + 4, c.segments[i].moviEnd, 0);
}

bool inFile(const Container &c, uint64_t pos, uint64_t size) { return pos <= c.fileSize && size <= c.fileSize - pos; }

bool chunkIdAt(Container &c, uint64_t headerPos, uint32_t id) {
  uint8_t h[4];
  return c.readAt(headerPos, h, 4) == 4 && le32(h) == id;
}

bool loadIdx1(Container &c) {
  if (c.segments.empty() || c.idx1Size < 16 || !inFile(c, c.idx1Pos, c.idx1Size)) return false;
  const uint32_t count = c.idx1Size / 16;
  std::vector<uint8_t> raw(static_cast<size_t>(count) * 16);
  if (c.readAt(c.idx1Pos, raw.data(), static_cast<uint32_t>(raw.size())) != raw.size()) return false;
  // Offsets are relative to the "movi" form type by the book, absolute in
  // some files: the first real entry decides which.
  int64_t base = -1;
  for (uint32_t i = 0; i < count && base < 0; ++i) {
    const uint8_t *e = raw.data() + i * 16;
    const int32_t n = chunkStream(le32(e));
    if (n < 0 || static_cast<size_t>(n) >= c.streams.size()) continue;
    if (chunkIdAt(c, static_cast<uint64_t>(c.segments[0].moviStart) + le32(e + 8), le32(e)))
      base = c.segments[0].moviStart;
    else if (chunkIdAt(c, c.origin + le32(e + 8), le32(e)))
      base = static_cast<int64_t>(c.origin);
    else
      return false;
  }
  if (base < 0) return false;
  Walk w{c, std::vector<uint32_t>(c.streams.size()), true, true};
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t *e = raw.data() + i * 16;
    const uint32_t id = le32(e);
    const int32_t n = chunkStream(id);
    if (n < 0 || static_cast<size_t>(n) >= c.streams.size()) continue;
    const uint64_t dataPos = static_cast<uint64_t>(base) + le32(e + 8) + 8;
    const uint32_t size = le32(e + 12);
    if (!inFile(c, dataPos, size)) return false;
    addChunk(w, id, dataPos, size, le32(e + 4) & kKeyFrame);
  }
  // Spot-check the last entry of each stream too: an index that belongs to
  // an older state of the file passes the first check and fails here.
  for (size_t n = 0; n < c.streams.size(); ++n) {
    const StreamData &s = c.streams[n];
    uint8_t h[4];
    if (!s.entries.empty() &&
        (c.readAt(s.entries.back().offset - 8ull, h, 4) != 4 || chunkStream(le32(h)) != static_cast<int32_t>(n)))
      return false;
  }
  return true;
}

// One standard index chunk ("ix##") at pos into stream s.
bool loadStandardIndex(Container &c, StreamData &s, const uint8_t *header, uint64_t entriesPos, uint32_t available) {
  const uint16_t longsPerEntry = le16(header);
  const uint8_t type = header[3];
  const uint32_t inUse = le32(header + 4);
  const uint64_t base = le64(header + 12);
  if (type != kIndexOfChunks || longsPerEntry < 2) return false;
  const uint32_t stride = longsPerEntry * 4u;
  if (inUse > available / stride) return false;
  std::vector<uint8_t> raw(static_cast<size_t>(inUse) * stride);
  if (c.readAt(entriesPos, raw.data(), static_cast<uint32_t>(raw.size())) != raw.size()) return false;
  for (uint32_t i = 0; i < inUse; ++i) {
    const uint8_t *e = raw.data() + static_cast<size_t>(i) * stride;
    const uint64_t pos = base + le32(e);
    const uint32_t size = le32(e + 4) & 0x7FFFFFFF;
    if (base > c.fileSize || !inFile(c, pos, size)) return false;
    s.entries.push_back({pos, size, (le32(e + 4) & 0x80000000u) ? 0u : kKeyFrame});
  }
  return true;
}

bool loadSuperIndex(Container &c, StreamData &s) {
  uint8_t h[24];
  if (c.readAt(s.superIndexPos, h, 24) != 24) return false;
  const uint8_t type = h[3];
  if (type == kIndexOfChunks)  // a lone standard index in the stream header
    return loadStandardIndex(c, s, h, s.superIndexPos + 24, s.superIndexSize - 24);
  if (type != kIndexOfIndexes || le16(h) != 4) return false;
  const uint32_t inUse = le32(h + 4);
  if (inUse > (s.superIndexSize - 24) / 16) return false;
  for (uint32_t i = 0; i < inUse; ++i) {
    uint8_t e[16];
    if (c.readAt(s.superIndexPos + 24 + i * 16ull, e, 16) != 16) return false;
    const uint64_t pos = le64(e);
    uint8_t ix[32];
    if (!inFile(c, pos, 32) || c.readAt(pos, ix, 32) != 32) return false;
    const uint32_t size = le32(ix + 4);
    if (size < 24 || !inFile(c, pos + 8, size)) return false;
    if (!loadStandardIndex(c, s, ix + 8, pos + 32, size - 24)) return false;
  }
  return true;
}

bool loadOpenDml(Container &c) {
  for (StreamData &s : c.streams) {
    if (s.type != kStreamVideo && s.type != kStreamAudio) continue;
    if (!s.superIndexPos || !loadSuperIndex(c, s)) return false;
  }
  return true;
}

bool anySuperIndex(const Container &c) {
  for (const StreamData &s : c.streams)
    if (s.superIndexPos) return true;
  return false;
}

bool anyPalettedVideo(const Container &c) {
  for (const StreamData &s : c.streams) {
    const BitmapInfoHeader *b = s.bitmap();
    if (b && b->biBitCount <= 8) return true;
  }
  return false;
}

void finish(Container &c) {
  for (StreamData &s : c.streams) {
    s.bytesBefore.clear();
    if (s.type != kStreamAudio) continue;
    s.bytesBefore.reserve(s.entries.size() + 1);
    uint64_t total = 0;
    for (const Entry &e : s.entries) {
      s.bytesBefore.push_back(total);
      total += e.size;
    }
    s.bytesBefore.push_back(total);
  }
}

}  // namespace

void buildIndexes(Container &c) {
  bool done = false;
  if (anySuperIndex(c)) {
    done = loadOpenDml(c);
    if (done && anyPalettedVideo(c)) scanSegments(c, 0, false, true);  // ix## lists frames only
    if (!done) clearIndexes(c);
  }
  if (!done && c.idx1Size) {
    done = loadIdx1(c);
    if (done) scanSegments(c, 1, true, true);  // idx1 covers the first RIFF only
    else clearIndexes(c);
  }
  if (!done) scanSegments(c, 0, true, true);
  finish(c);
}

}  // namespace kav::avi
