// Encoders of the Flic writer: byte run for full pictures, word- and
// byte-oriented deltas for the frames that follow, and palette packets.
#include "flic/flic_encode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "flic/flic_format.h"

namespace kav::flic {
namespace {

// Output with a hard limit: room() refuses any write that would make the
// data reach the limit, and the encoder then gives up.
struct Out {
  uint8_t *base;
  size_t pos;
  size_t limit;

  bool room(size_t n) const { return n < limit - pos; }
  void byte(uint32_t v) { base[pos++] = static_cast<uint8_t>(v); }
  void word(uint32_t v) {
    putLe16(base + pos, v);
    pos += 2;
  }
  void bytes(const uint8_t *src, size_t n) {
    std::memcpy(base + pos, src, n);
    pos += n;
  }
};

// Index of the first byte in [from, to) where a and b differ, or to. Unchanged
// stretches are the bulk of a delta frame, so they are compared 8 bytes at a
// time.
inline uint32_t firstDifference(const uint8_t *a, const uint8_t *b, uint32_t from, uint32_t to) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; from + 8 <= to; from += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + from, 8);
      std::memcpy(&y, b + from, 8);
      if (x != y) return from + static_cast<uint32_t>(std::countr_zero(x ^ y) >> 3);
    }
  }
  while (from < to && a[from] == b[from]) ++from;
  return from;
}

// Index of the last byte below `to` where a and b differ; one must exist.
inline uint32_t lastDifference(const uint8_t *a, const uint8_t *b, uint32_t to) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; to >= 8; to -= 8) {
      uint64_t x, y;
      std::memcpy(&x, a + to - 8, 8);
      std::memcpy(&y, b + to - 8, 8);
      if (x != y) return to - 1 - static_cast<uint32_t>(std::countl_zero(x ^ y) >> 3);
    }
  }
  do --to;
  while (a[to] == b[to]);
  return to;
}

constexpr uint32_t kMaxPacket = 127;  // runs and literals of a signed count byte

// One row of a frame and the same row of the previous frame, seen as words.
struct WordRow {
  const uint8_t *cur;
  const uint8_t *prev;
  uint16_t at(uint32_t w) const { return le16(cur + 2 * w); }
  bool same(uint32_t w) const { return cur[2 * w] == prev[2 * w] && cur[2 * w + 1] == prev[2 * w + 1]; }
};

// One row as bytes; positions past the row end count as unchanged.
struct ByteRow {
  const uint8_t *cur;
  const uint8_t *prev;
  uint32_t width;
  bool same(uint32_t x) const { return x >= width || cur[x] == prev[x]; }
  bool fourSame(uint32_t x) const { return same(x) && same(x + 1) && same(x + 2) && same(x + 3); }
};

}  // namespace

size_t encodeByteRun(const uint8_t *pixels, uint32_t width, uint32_t height, uint8_t *out, size_t limit) {
  Out o{out, 0, limit};
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t *r = pixels + static_cast<size_t>(y) * width;
    if (!o.room(1)) return kEncodeFailed;
    o.byte(0);  // packet count: readers ignore it
    uint32_t x = 0;
    while (x < width) {
      const uint32_t most = std::min(kMaxPacket, width - x);
      uint32_t run = 1;
      while (run < most && r[x + run] == r[x]) ++run;
      if (run >= 2) {
        if (!o.room(2)) return kEncodeFailed;
        o.byte(run);
        o.byte(r[x]);
        x += run;
        continue;
      }
      const uint32_t start = x;
      uint32_t len = 0;
      while (len < most && (x + 1 == width || r[x] != r[x + 1])) {
        ++len;
        ++x;
      }
      if (!o.room(len + 1)) return kEncodeFailed;
      o.byte(0x100u - len);
      o.bytes(r + start, len);
    }
  }
  return o.pos;
}

size_t encodeWordDelta(const uint8_t *pixels, const uint8_t *previous, uint32_t width, uint32_t height,
                       uint8_t *out, size_t limit) {
  Out o{out, 0, limit};
  if (!o.room(2)) return kEncodeFailed;
  o.word(0);  // line-record count, filled in at the end
  const uint32_t words = width / 2;
  uint32_t lines = 0;
  uint32_t skipRows = 0;
  for (uint32_t y = 0; y < height; ++y) {
    const size_t rowStart = static_cast<size_t>(y) * width;
    const WordRow row{pixels + rowStart, previous + rowStart};
    if (words == 0 || std::memcmp(row.cur, row.prev, width) == 0) {
      ++skipRows;
      continue;
    }
    // A skip word holds at most 16384 rows (bits 15 and 14 must stay set).
    while (skipRows) {
      const uint32_t n = std::min(skipRows, 16384u);
      if (!o.room(2)) return kEncodeFailed;
      o.word(0x10000u - n);
      skipRows -= n;
    }
    if (!o.room(2)) return kEncodeFailed;
    ++lines;
    const size_t countPos = o.pos;
    o.word(0);
    uint32_t packets = 0;
    const uint32_t last = lastDifference(row.cur, row.prev, width) / 2;  // the row differs
    uint32_t w = 0;
    while (w <= last) {
      const uint32_t skipEnd = std::min(w + kMaxPacket, last);
      const uint32_t skip = firstDifference(row.cur, row.prev, 2 * w, 2 * skipEnd) / 2 - w;
      w += skip;
      if (w == last || row.at(w) == row.at(w + 1)) {
        uint32_t len = 1;
        while (len < kMaxPacket && w + len <= last && row.at(w + len) == row.at(w) &&
               !(row.same(w + len) && row.same(w + len + 1)))
          ++len;
        if (!o.room(4)) return kEncodeFailed;
        o.byte(2 * skip);
        o.byte(0x100u - len);
        o.bytes(row.cur + 2 * w, 2);
        w += len;
      } else {
        uint32_t len = 1;
        while (len < kMaxPacket && w + len <= last) {
          const uint32_t q = w + len;
          if (row.same(q) && row.same(q + 1)) break;
          // Three equal words ahead start a run (only looked for while more
          // than 4 bytes remain up to the last differing word).
          if (q + 2 <= last && row.at(q) == row.at(q + 1) && row.at(q + 1) == row.at(q + 2)) break;
          ++len;
        }
        if (!o.room(2 + 2 * static_cast<size_t>(len))) return kEncodeFailed;
        o.byte(2 * skip);
        o.byte(len);
        o.bytes(row.cur + 2 * w, 2 * static_cast<size_t>(len));
        w += len;
      }
      ++packets;
    }
    putLe16(out + countPos, packets);
  }
  putLe16(out, lines);
  return o.pos;
}

size_t encodeByteDelta(const uint8_t *pixels, const uint8_t *previous, uint32_t width, uint32_t height,
                       uint8_t *out, size_t limit) {
  Out o{out, 0, limit};
  auto rowSame = [&](uint32_t y) {
    const size_t start = static_cast<size_t>(y) * width;
    return std::memcmp(pixels + start, previous + start, width) == 0;
  };
  uint32_t first = 0;
  while (first < height && rowSame(first)) ++first;
  if (first == height) return kEncodeFailed;  // nothing differs: not a delta
  uint32_t last = height - 1;
  while (rowSame(last)) --last;
  if (!o.room(4)) return kEncodeFailed;
  o.word(first);
  o.word(last - first + 1);
  for (uint32_t y = first; y <= last; ++y) {
    const size_t start = static_cast<size_t>(y) * width;
    const ByteRow row{pixels + start, previous + start, width};
    if (!o.room(1)) return kEncodeFailed;
    const size_t countPos = o.pos;
    o.byte(0);
    if (y != first && y != last && rowSame(y)) continue;
    const uint32_t lastByte = lastDifference(row.cur, row.prev, width);
    uint32_t packets = 0;
    uint32_t x = 0;
    while (x <= lastByte) {
      if (packets == 255) return kEncodeFailed;  // the count is one byte
      const uint32_t skip = firstDifference(row.cur, row.prev, x, std::min(x + 255, lastByte)) - x;
      x += skip;
      const uint8_t *c = row.cur;
      if (x + 3 < width && c[x] == c[x + 1] && c[x] == c[x + 2] && c[x] == c[x + 3]) {
        uint32_t len = 1;
        while (len < kMaxPacket && x + len <= lastByte && c[x + len] == c[x] && !row.fourSame(x + len)) ++len;
        if (!o.room(3)) return kEncodeFailed;
        o.byte(skip);
        o.byte(0x100u - len);
        o.byte(c[x]);
        x += len;
      } else {
        uint32_t len = 1;
        while (len < kMaxPacket && x + len < width) {
          const uint32_t q = x + len;
          if (row.fourSame(q)) break;
          if (q + 3 <= lastByte && c[q] == c[q + 1] && c[q] == c[q + 2] && c[q] == c[q + 3]) break;
          ++len;
        }
        if (!o.room(2 + static_cast<size_t>(len))) return kEncodeFailed;
        o.byte(skip);
        o.byte(len);
        o.bytes(c + x, len);
        x += len;
      }
      ++packets;
    }
    out[countPos] = static_cast<uint8_t>(packets);
  }
  return o.pos;
}

size_t encodeColourPackets(const uint8_t *palette, const uint8_t *stored, bool firstFrame, uint8_t *out) {
  auto same = [&](uint32_t i) { return std::memcmp(palette + 3 * i, stored + 3 * i, 3) == 0; };
  size_t pos = 2;
  uint32_t packets = 0;
  uint32_t previousEnd = 0;
  uint32_t i = 0;
  while (i < 256) {
    if (!firstFrame)
      while (i < 256 && same(i)) ++i;
    if (i == 256) break;
    const uint32_t start = i;
    if (firstFrame)
      i = 256;
    else
      while (i < 256 && !same(i)) ++i;
    out[pos++] = static_cast<uint8_t>(start - previousEnd);
    out[pos++] = static_cast<uint8_t>(i - start);  // 256 is written as 0
    std::memcpy(out + pos, palette + 3 * start, 3 * (i - start));
    pos += 3 * (i - start);
    previousEnd = i;
    ++packets;
  }
  putLe16(out, packets);
  return pos;
}

}  // namespace kav::flic
