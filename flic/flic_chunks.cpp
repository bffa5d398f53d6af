// Chunk decoders of the Flic reader. Rows and columns are kept in 64-bit
// counters: a damaged file may skip far past the picture, and such writes
// are simply dropped by the clipping helpers.
#include "flic/flic_chunks.h"

#include <algorithm>
#include <cstring>

#include "flic/flic_format.h"

namespace kav::flic {
namespace {

// Reads forward through [p, end). A read that does not fit fails; the
// decoders then stop, since whatever follows a literal that runs past the
// end of the frame data lies past that end too.
struct Cursor {
  const uint8_t *p;
  const uint8_t *end;

  size_t left() const { return static_cast<size_t>(end - p); }
  bool u8(uint32_t &v) {
    if (p == end) return false;
    v = *p++;
    return true;
  }
  bool s8(int32_t &v) {
    if (p == end) return false;
    v = static_cast<int8_t>(*p++);
    return true;
  }
  bool u16(uint32_t &v) {
    if (left() < 2) return false;
    v = le16(p);
    p += 2;
    return true;
  }
  // Hands out n bytes, or fails when fewer remain.
  bool take(size_t n, const uint8_t *&out) {
    if (left() < n) return false;
    out = p;
    p += n;
    return true;
  }
};

// Bytes of row `row` from column `col` that lie inside the picture, at most n.
inline size_t clipSpan(const Canvas &c, uint64_t row, uint64_t col, size_t n) {
  if (row >= c.height || col >= c.width) return 0;
  return static_cast<size_t>(std::min<uint64_t>(n, c.width - col));
}

inline uint8_t *at(const Canvas &c, uint64_t row, uint64_t col) {
  return c.pixels + static_cast<size_t>(row) * c.pitchBytes + static_cast<size_t>(col);
}

inline void fillSpan(const Canvas &c, uint64_t row, uint64_t col, uint8_t value, size_t n) {
  const size_t k = clipSpan(c, row, col, n);
  if (k) std::memset(at(c, row, col), value, k);
}

inline void copySpan(const Canvas &c, uint64_t row, uint64_t col, const uint8_t *src, size_t n) {
  const size_t k = clipSpan(c, row, col, n);
  if (k) std::memcpy(at(c, row, col), src, k);
}

// Stores the little-endian word lo, hi `words` times; a row end that cuts a
// word keeps its low byte.
inline void fillWordSpan(const Canvas &c, uint64_t row, uint64_t col, uint8_t lo, uint8_t hi, size_t words) {
  const size_t k = clipSpan(c, row, col, 2 * words);
  if (!k) return;
  uint8_t *d = at(c, row, col);
  if (lo == hi) {
    std::memset(d, lo, k);
    return;
  }
  const uint16_t pair = static_cast<uint16_t>(lo | (hi << 8));
  size_t i = 0;
  for (; i + 2 <= k; i += 2) std::memcpy(d + i, &pair, 2);
  if (i < k) d[i] = lo;
}

}  // namespace

void decodeColour(const uint8_t *data, size_t size, uint8_t *palette, bool sixBitLevels) {
  Cursor in{data, data + size};
  uint32_t packets;
  if (!in.u16(packets)) return;
  uint32_t entry = 0;  // may run past 255 on damaged data; such entries are dropped
  for (uint32_t i = 0; i < packets; ++i) {
    uint32_t skip, count;
    if (!in.u8(skip) || !in.u8(count)) return;
    if (count == 0) count = 256;
    entry += skip;
    const uint8_t *rgb;
    if (!in.take(count * 3, rgb)) return;
    if (entry < 256) {
      const uint32_t n = std::min(count, 256 - entry);
      uint8_t *dst = palette + entry * 3;
      if (sixBitLevels) {
        for (uint32_t j = 0; j < n * 3; ++j) {
          const uint32_t c = rgb[j] & 63u;
          dst[j] = static_cast<uint8_t>((c << 2) | (c >> 4));
        }
      } else {
        std::memcpy(dst, rgb, n * 3);
      }
    }
    entry += count;
  }
}

void decodeWordDelta(const uint8_t *data, size_t size, const Canvas &canvas) {
  Cursor in{data, data + size};
  uint32_t lines;
  if (!in.u16(lines)) return;
  uint64_t row = 0;
  for (uint32_t line = 0; line < lines; ++line) {
    uint32_t word, packets;
    for (;;) {
      if (row >= canvas.height) return;  // rows only move down: nothing more can land
      if (!in.u16(word)) return;
      if ((word & 0xC000u) == 0xC000u) {
        row += 0x10000u - word;  // minus the signed word: 1 to 16384 rows
        continue;
      }
      break;
    }
    if (word & 0x8000u) {
      if (canvas.width) fillSpan(canvas, row, canvas.width - 1, static_cast<uint8_t>(word), 1);
      if (!in.u16(packets)) return;
    } else {
      packets = word;
    }
    uint64_t col = 0;
    for (uint32_t i = 0; i < packets; ++i) {
      uint32_t skip;
      int32_t count;
      if (!in.u8(skip) || !in.s8(count)) return;
      col += skip;
      if (count >= 0) {
        const uint8_t *src;
        if (!in.take(2u * static_cast<uint32_t>(count), src)) return;
        copySpan(canvas, row, col, src, 2u * static_cast<uint32_t>(count));
        col += 2u * static_cast<uint32_t>(count);
      } else {
        const uint8_t *v;
        const uint32_t n = static_cast<uint32_t>(-count);
        if (!in.take(2, v)) return;
        fillWordSpan(canvas, row, col, v[0], v[1], n);
        col += 2u * n;
      }
    }
    ++row;
  }
}

void decodeByteDelta(const uint8_t *data, size_t size, const Canvas &canvas) {
  Cursor in{data, data + size};
  uint32_t skipRows, rows;
  if (!in.u16(skipRows) || !in.u16(rows)) return;
  uint64_t row = skipRows;
  for (uint32_t r = 0; r < rows; ++r, ++row) {
    if (row >= canvas.height) return;
    uint32_t packets;
    if (!in.u8(packets)) return;
    uint64_t col = 0;
    for (uint32_t i = 0; i < packets; ++i) {
      uint32_t skip;
      int32_t count;
      if (!in.u8(skip) || !in.s8(count)) return;
      col += skip;
      if (count >= 0) {
        const uint8_t *src;
        if (!in.take(static_cast<uint32_t>(count), src)) return;
        copySpan(canvas, row, col, src, static_cast<uint32_t>(count));
        col += static_cast<uint32_t>(count);
      } else {
        uint32_t v;
        if (!in.u8(v)) return;
        const uint32_t n = static_cast<uint32_t>(-count);
        fillSpan(canvas, row, col, static_cast<uint8_t>(v), n);
        col += n;
      }
    }
  }
}

void decodeByteRun(const uint8_t *data, size_t size, const Canvas &canvas) {
  Cursor in{data, data + size};
  for (uint32_t row = 0; row < canvas.height; ++row) {
    uint32_t ignored;
    if (!in.u8(ignored)) return;  // the historical packet count
    uint64_t col = 0;
    while (col < canvas.width) {
      int32_t count;
      if (!in.s8(count)) return;
      if (count >= 0) {
        uint32_t v;
        if (!in.u8(v)) return;
        fillSpan(canvas, row, col, static_cast<uint8_t>(v), static_cast<uint32_t>(count));
        col += static_cast<uint32_t>(count);
      } else {
        const uint32_t n = static_cast<uint32_t>(-count);
        const uint8_t *src;
        if (!in.take(n, src)) return;
        copySpan(canvas, row, col, src, n);
        col += n;
      }
    }
  }
}

void decodeCopy(const uint8_t *data, size_t size, const Canvas &canvas) {
  Cursor in{data, data + size};
  for (uint32_t row = 0; row < canvas.height; ++row) {
    const uint8_t *src;
    if (!in.take(canvas.width, src)) return;
    copySpan(canvas, row, 0, src, canvas.width);
  }
}

void decodeBlack(const Canvas &canvas) {
  for (uint32_t row = 0; row < canvas.height; ++row) fillSpan(canvas, row, 0, 0, canvas.width);
}

bool applyFrameChunks(const uint8_t *data, size_t size, uint32_t chunkCount, const Canvas &canvas,
                      uint8_t *palette) {
  bool colourChanged = false;
  size_t pos = 0;
  for (uint32_t i = 0; i < chunkCount; ++i) {
    if (size - pos < kChunkHeaderBytes) break;
    const uint32_t chunkBytes = le32(data + pos);
    const uint16_t type = le16(data + pos + 4);
    // A chunk smaller than its own header cannot lead to the next one: the
    // rest of the frame is unreadable.
    if (chunkBytes < kChunkHeaderBytes) break;
    const uint8_t *body = data + pos + kChunkHeaderBytes;
    const size_t bodyBound = size - pos - kChunkHeaderBytes;
    switch (type) {
      case kChunkColour256:
      case kChunkColour64:
        decodeColour(body, bodyBound, palette, type == kChunkColour64);
        colourChanged = true;
        break;
      case kChunkWordDelta: decodeWordDelta(body, bodyBound, canvas); break;
      case kChunkByteDelta: decodeByteDelta(body, bodyBound, canvas); break;
      case kChunkBlack: decodeBlack(canvas); break;
      case kChunkByteRun: decodeByteRun(body, bodyBound, canvas); break;
      case kChunkCopy: decodeCopy(body, bodyBound, canvas); break;
      default: break;  // postage stamps and other chunks are not needed
    }
    if (chunkBytes > size - pos) break;
    pos += chunkBytes;
  }
  return colourChanged;
}

}  // namespace kav::flic
