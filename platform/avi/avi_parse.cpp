// Reading the RIFF structure of an AVI file: the header list with its
// stream lists, the movi lists of the first RIFF and of the "AVIX"
// continuation segments, and where idx1 lies. Every size is limited to what
// encloses it and to the file, so a damaged header only loses what it held.
#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"
#include "platform/avi/avi_container.h"

namespace kav::avi {

namespace {

constexpr uint32_t kMaxStart = 1u << 30;

// Calls f(id, dataPos, sizeBytes, truncated) for each chunk in [pos, end);
// a chunk running past end is handed over clipped, and ends the walk. f
// returns false to stop.
template <class F>
void walkChunks(Container &c, uint64_t pos, uint64_t end, F f) {
  while (end >= 8 && pos <= end - 8) {
    uint8_t h[8];
    if (c.readAt(pos, h, 8) != 8) return;
    const uint32_t id = le32(h);
    const uint32_t size = le32(h + 4);
    const uint64_t dataPos = pos + 8;
    const bool truncated = size > end - dataPos;
    if (!f(id, dataPos, truncated ? static_cast<uint32_t>(end - dataPos) : size, truncated) || truncated) return;
    const uint64_t next = dataPos + size + (size & 1);
    if (next > end) return;
    pos = next;
  }
}

uint32_t listType(Container &c, uint64_t dataPos, uint32_t size) {
  uint8_t t[4];
  if (size < 4 || c.readAt(dataPos, t, 4) != 4) return 0;
  return le32(t);
}

void readStreamHeader(Container &c, StreamData &s, uint64_t pos, uint32_t size) {
  uint8_t h[56] = {};
  if (size < 48) return;  // the oldest headers end before the frame rectangle
  c.readAt(pos, h, std::min<uint32_t>(size, sizeof h));
  s.type = le32(h);
  s.handler = le32(h + 4);
  s.flags = le32(h + 8);
  s.priority = le16(h + 12);
  s.language = le16(h + 14);
  s.initialFrames = le32(h + 16);
  s.scale = le32(h + 20);
  s.rate = le32(h + 24);
  s.start = std::min(le32(h + 28), kMaxStart);
  s.headerLength = le32(h + 32);
  s.suggestedBuffer = le32(h + 36);
  s.quality = static_cast<int32_t>(le32(h + 40));
  s.sampleSize = le32(h + 44);
}

// Video formats are kept in one shape: a 40-byte header, then for 8 bits and
// fewer a full colour table of 2^bits entries (missing entries black), so
// later code never looks at biSize, V4/V5 extensions or bit masks again.
void normaliseVideoFormat(StreamData &s) {
  std::vector<uint8_t> &f = s.format;
  if (f.size() < sizeof(BitmapInfoHeader)) {
    f.clear();
    return;
  }
  BitmapInfoHeader h;
  std::memcpy(&h, f.data(), sizeof h);
  const uint32_t headerBytes = h.biSize >= sizeof h && h.biSize <= f.size() ? h.biSize : sizeof h;
  const uint32_t height = h.biHeight < 0 ? 0u - static_cast<uint32_t>(h.biHeight) : static_cast<uint32_t>(h.biHeight);
  if (h.biWidth <= 0 || static_cast<uint32_t>(h.biWidth) > kMaxDimension || height == 0 || height > kMaxDimension) {
    f.clear();
    return;
  }
  const uint32_t bits = h.biBitCount;
  std::vector<uint8_t> out(sizeof h);
  if (bits >= 1 && bits <= 8) {
    const uint32_t entries = 1u << bits;
    const uint32_t given = h.biClrUsed && h.biClrUsed < entries ? h.biClrUsed : entries;
    const uint32_t present = std::min<uint32_t>(given, static_cast<uint32_t>((f.size() - headerBytes) / 4));
    out.resize(sizeof h + entries * 4, 0);
    std::memcpy(out.data() + sizeof h, f.data() + headerBytes, present * 4);
    h.biClrUsed = entries;
  } else {
    h.biClrUsed = 0;
  }
  h.biSize = sizeof h;
  h.biClrImportant = 0;
  std::memcpy(out.data(), &h, sizeof h);
  f.swap(out);
}

void readStreamList(Container &c, uint64_t pos, uint64_t end) {
  StreamData s;
  walkChunks(c, pos, end, [&](uint32_t id, uint64_t dataPos, uint32_t size, bool) {
    if (id == kStrh) {
      readStreamHeader(c, s, dataPos, size);
    } else if (id == kStrf && size <= kMaxFormatBytes) {
      s.format.resize(size);
      s.format.resize(c.readAt(dataPos, s.format.data(), size));
    } else if (id == kIndx && size >= 24) {
      s.superIndexPos = dataPos;
      s.superIndexSize = size;
    } else if (id == kStrn) {
      const uint32_t n = std::min<uint32_t>(size, sizeof s.name - 1);
      c.readAt(dataPos, s.name, n);
      s.name[n] = 0;
    }
    return true;
  });
  if (s.type == kStreamVideo) normaliseVideoFormat(s);
  if (s.type == kStreamAudio) {
    if (s.format.size() >= 16) {
      const uint16_t channels = le16(s.format.data() + 2);
      const uint16_t align = le16(s.format.data() + 12);
      const uint16_t bits = le16(s.format.data() + 14);
      const uint16_t tag = le16(s.format.data());
      // For PCM the block follows from channels and width whatever the
      // header claims; elsewhere nBlockAlign is all there is.
      if ((tag == kWaveFormatPcm || tag == kWaveFormatExtensible) && channels && bits)
        s.blockAlign = channels * ((bits + 7u) / 8u);
      else if (align)
        s.blockAlign = align;
    } else {
      s.format.clear();
    }
  }
  c.streams.push_back(std::move(s));
}

void readHeaderList(Container &c, uint64_t pos, uint64_t end) {
  walkChunks(c, pos, end, [&](uint32_t id, uint64_t dataPos, uint32_t size, bool) {
    if (id == kAvih && size >= 4) {
      uint8_t t[4];
      if (c.readAt(dataPos, t, 4) == 4) c.microSecPerFrame = le32(t);
    } else if (id == kList && listType(c, dataPos, size) == kListStrl) {
      if (c.streams.size() < kMaxStreams) readStreamList(c, dataPos + 4, dataPos + size);
    }
    return true;
  });
}

// A movi list whose size was never filled in (a writer that died) runs to
// the end of its RIFF.
void addMovi(Container &c, uint64_t dataPos, uint32_t size, uint64_t riffEnd) {
  uint64_t end = dataPos + size;
  if (size <= 4) end = riffEnd;
  c.segments.push_back({dataPos, end});
}

void readRiff(Container &c, uint64_t pos, uint64_t end, bool first) {
  walkChunks(c, pos, end, [&](uint32_t id, uint64_t dataPos, uint32_t size, bool) {
    if (id == kList) {
      const uint32_t type = listType(c, dataPos, size);
      if (first && type == kListHdrl && c.streams.empty()) readHeaderList(c, dataPos + 4, dataPos + size);
      if (type == kListMovi) addMovi(c, dataPos, size, end);
    } else if (first && id == kIdx1 && c.idx1Size == 0) {
      c.idx1Pos = dataPos;
      c.idx1Size = size;
    }
    return true;
  });
}

}  // namespace

uint32_t Container::readAt(uint64_t pos, void *dest, uint32_t count) {
  if (pos >= fileSize || count == 0) return 0;
  return file.readAt(pos, dest, static_cast<uint32_t>(std::min<uint64_t>(count, fileSize - pos)));
}

const BitmapInfoHeader *StreamData::bitmap() const {
  if (type != kStreamVideo || format.size() < sizeof(BitmapInfoHeader)) return nullptr;
  return reinterpret_cast<const BitmapInfoHeader *>(format.data());
}

uint32_t StreamData::length() const {
  if (type == kStreamAudio && blockAlign && !bytesBefore.empty())
    return static_cast<uint32_t>(std::min<uint64_t>(bytesBefore.back() / blockAlign, 0x7FFFFFFF));
  return static_cast<uint32_t>(entries.size());
}

std::shared_ptr<Container> openContainer(const char *name, uint64_t origin) {
  if (!name) return nullptr;
  auto c = std::make_shared<Container>();
  if (!c->file.open(name)) return nullptr;
  c->fileSize = c->file.size();
  c->origin = origin;
  uint8_t h[12];
  if (c->readAt(origin, h, 12) != 12 || le32(h) != kRiff || le32(h + 8) != kFormAvi) return nullptr;
  const uint64_t riffEnd = std::min<uint64_t>(origin + 8 + le32(h + 4), c->fileSize);
  readRiff(*c, origin + 12, riffEnd, true);
  if (c->streams.empty()) return nullptr;
  // Continuation segments follow the first RIFF back to back.
  uint64_t pos = riffEnd + ((riffEnd - origin) & 1);
  while (pos + 12 <= c->fileSize) {
    if (c->readAt(pos, h, 12) != 12 || le32(h) != kRiff || le32(h + 8) != kFormAvix) break;
    const uint64_t end = std::min<uint64_t>(pos + 8 + le32(h + 4), c->fileSize);
    readRiff(*c, pos + 12, end, false);
    pos = end + ((end - origin) & 1);
  }
  buildIndexes(*c);
  return c;
}

}  // namespace kav::avi
