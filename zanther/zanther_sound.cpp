// Sound chunks of the current frame: uncompressed PCM, Huffman-coded deltas,
// and transform-coded frames through the transform audio decoder.
#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"
#include "sound/transform_codec.h"
#include "zanther/zanther_internal.h"

namespace kav::zanther {
namespace {

using sound::TransformDecoder;

// The most a chunk may deliver: two seconds of the track as its descriptor
// describes it (the sound input sizes its buffer so).
uint32_t trackCapacityBytes(uint32_t info) {
  const uint64_t rate = info & 0xFFFFFF;
  const uint64_t channels = info & ZANTH_TRACK_STEREO ? 2 : 1;
  const uint64_t sampleBytes = info & ZANTH_TRACK_16BIT ? 2 : 1;
  return static_cast<uint32_t>(std::min<uint64_t>(rate * channels * sampleBytes * 2, 0xFFFFFFF0u));
}

inline void put16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t decodeDeltas(ZanthHandle *h, const uint8_t *chunk, uint32_t chunkBytes, uint32_t unpacked,
                      uint32_t capacity, uint8_t *out) {
  if (!h->SoundWork) {
    h->SoundWork = kavmalloc(kSoundWorkBytes);
    if (!h->SoundWork) return 0;
  }
  auto *work = static_cast<uint32_t *>(h->SoundWork);
  BitReader b;
  b.init(chunk + 8, chunkBytes - 8);
  if (!b.get1()) return std::min(unpacked, capacity);  // no data: nothing written
  const bool stereo = b.get1();
  const bool wide = b.get1();
  const uint32_t treeCount = (stereo ? 2 : 1) * (wide ? 2 : 1);
  uint32_t *tree[4];
  for (uint32_t i = 0; i < treeCount; ++i) {
    b.get1();  // the writer's statistics bit; the tree always follows
    tree[i] = work + 512 * i;
    if (!readByteTree(b, tree[i])) return 0;
  }
  const uint32_t frameBytes = treeCount;
  // Only whole sample frames, and never past the capacity.
  const uint32_t total = std::min(unpacked, capacity) / frameBytes * frameBytes;
  if (total == 0) return 0;

  if (!wide && !stereo) {
    uint32_t s = b.get(8);
    out[0] = static_cast<uint8_t>(s);
    for (uint32_t i = 1; i < total; ++i) {
      s += decodeByte(tree[0], b);
      out[i] = static_cast<uint8_t>(s);
    }
  } else if (wide && !stereo) {
    const uint32_t high = b.get(8);
    uint32_t s = high << 8 | b.get(8);
    put16(out, s);
    for (uint32_t i = 2; i < total; i += 2) {
      const uint32_t low = decodeByte(tree[0], b);
      s += decodeByte(tree[1], b) << 8 | low;
      put16(out + i, s);
    }
  } else if (!wide) {
    uint32_t c1 = b.get(8);
    uint32_t c0 = b.get(8);
    out[0] = static_cast<uint8_t>(c0);
    out[1] = static_cast<uint8_t>(c1);
    for (uint32_t i = 2; i < total; i += 2) {
      c0 += decodeByte(tree[0], b);
      c1 += decodeByte(tree[1], b);
      out[i] = static_cast<uint8_t>(c0);
      out[i + 1] = static_cast<uint8_t>(c1);
    }
  } else {
    uint32_t c1 = b.get(8) << 8;
    c1 |= b.get(8);
    uint32_t c0 = b.get(8) << 8;
    c0 |= b.get(8);
    put16(out, c0);
    put16(out + 2, c1);
    for (uint32_t i = 4; i < total; i += 4) {
      const uint32_t low0 = decodeByte(tree[0], b);
      c0 += decodeByte(tree[1], b) << 8 | low0;
      const uint32_t low1 = decodeByte(tree[2], b);
      c1 += decodeByte(tree[3], b) << 8 | low1;
      put16(out + i, c0);
      put16(out + i + 2, c1);
    }
  }
  return total;
}

uint32_t decodeTransform(ZanthHandle *h, uint32_t track, const uint8_t *chunk, uint32_t chunkBytes,
                         uint32_t unpacked, uint32_t capacity, uint8_t *out) {
  auto *decoder = static_cast<TransformDecoder *>(h->SoundDecoder[track]);
  if (!decoder) {
    const uint32_t info = h->TrackInfo[track];
    decoder = sound::transformDecoderCreate(info & 0xFFFFFF, info & ZANTH_TRACK_STEREO ? 2 : 1,
                                            sound::kTransformDecoderSmall);
    if (!decoder) return 0;
    h->SoundDecoder[track] = decoder;
  }
  const uint8_t *p = chunk + 8;
  size_t left = chunkBytes - 8;
  uint32_t written = 0;
  // Whole blocks until U bytes exist; the last block may pass U.
  while (written < unpacked && left > 0) {
    const sound::TransformDecodedFrame f = sound::transformDecodeFrame(decoder, p, left);
    if (f.frameBytes == 0 || !f.samples || f.sampleBytes > capacity - written) break;
    std::memcpy(out + written, f.samples, f.sampleBytes);
    written += f.sampleBytes;
    left -= static_cast<size_t>(f.next - p);
    p = f.next;
    if (f.truncated) break;
  }
  return written;
}

}  // namespace

void releaseSound(ZanthHandle *h) {
  for (void *&d : h->SoundDecoder) {
    if (d) sound::transformFree(static_cast<TransformDecoder *>(d));
    d = nullptr;
  }
  kavfree(h->SoundWork);
  h->SoundWork = nullptr;
}

}  // namespace kav::zanther

using namespace kav::zanther;

extern "C" {

KAV_EXPORT uint32_t KAVAPI ZanthTrackData(ZanthHandle *h, void *dest, uint32_t mask) {
  try {
    if (!h || h->ReadError || !dest) return 0;
    const uint32_t tracks = (mask >> 13) & 0x7F;
    if (!tracks) return 0;
    const auto track = static_cast<uint32_t>(__builtin_ctz(tracks));
    const uint8_t *chunk = h->SoundChunk[track];
    if (!chunk) return 0;
    const uint32_t chunkBytes = h->SoundChunkBytes[track];
    const uint32_t info = h->TrackInfo[track];
    const uint32_t capacity = trackCapacityBytes(info);
    auto *out = static_cast<uint8_t *>(dest);
    if (!(info & ZANTH_TRACK_COMPRESSED)) {
      const uint32_t n = std::min(chunkBytes - 4, capacity);
      std::memcpy(out, chunk + 4, n);
      return n;
    }
    if (chunkBytes < 8) return 0;
    const uint32_t unpacked = load32(chunk + 4);
    if (unpacked == 0 || unpacked == 0xFFFFFFFFu) return unpacked;
    if (info & ZANTH_TRACK_TRANSFORM) return decodeTransform(h, track, chunk, chunkBytes, unpacked, capacity, out);
    return decodeDeltas(h, chunk, chunkBytes, unpacked, capacity, out);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
