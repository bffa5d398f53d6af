// Sound tracks of an open Vorn stream: the track tables, and readers that
// decode the current frame's chunk of one track with the transform decoder.
#include <kavutil/kavbase.h>
#include <kavutil/vornfile.h>

#include <algorithm>
#include <cstring>

#include "sound/transform_codec.h"
#include "vorn/vorn_handle.h"

namespace kav::vorn {
namespace {

struct VornTrackRecord {
  VornTrack pub;  // must stay first
  VornHandleRecord *handle;
  kav::sound::TransformDecoder *decoder;
  uint32_t chunkLimitBytes;  // decoded 16-bit bytes that fit the caller's buffer
};

static_assert(offsetof(VornTrackRecord, pub) == 0, "VornTrack must lead the record");

uint32_t le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// This track's chunk in the loaded frame; false when there is none or the
// chunks before it do not fit.
bool findChunk(const VornHandleRecord &h, uint32_t track, const uint8_t *&chunk, uint32_t &length) {
  uint32_t pos = 0;
  for (uint32_t t = 0; t <= track; ++t) {
    if (h.frameBytes - pos < 4) return false;
    uint32_t l = le32(h.frameData + pos);
    if (l > h.frameBytes - pos - 4) return false;
    if (t == track) {
      chunk = h.frameData + pos + 4;
      length = l;
      return true;
    }
    pos += 4 + l;
  }
  return false;
}

uint32_t readTrack(VornTrackRecord &r, uint8_t *out) {
  const VornHandleRecord &h = *r.handle;
  const uint8_t *chunk;
  uint32_t length;
  if (!findChunk(h, r.pub.track, chunk, length) || length < 4) return 0;
  // A chunk never yields more than the track's buffer holds.
  const uint32_t wanted = std::min(le32(chunk), r.chunkLimitBytes);
  const bool eightBit = r.pub.bits == 8;
  const uint8_t *in = chunk + 4;
  size_t left = length - 4;
  uint32_t produced = 0;  // decoded 16-bit bytes taken
  uint32_t written = 0;
  while (produced < wanted && left > 0) {
    kav::sound::TransformDecodedFrame f = kav::sound::transformDecodeFrame(r.decoder, in, left);
    if (f.frameBytes == 0) break;
    uint32_t take = std::min(f.sampleBytes, wanted - produced);
    if (eightBit) {
      uint32_t samples = take / 2;
      for (uint32_t i = 0; i < samples; ++i) out[written + i] = uint8_t((f.samples[i] >> 8) + 128);
      written += samples;
    } else {
      std::memcpy(out + written, f.samples, take);
      written += take;
    }
    produced += take;
    left -= std::min<size_t>(f.frameBytes, left);
    in = f.next;
  }
  return written;
}

}  // namespace
}  // namespace kav::vorn

using namespace kav::vorn;

extern "C" {

KAV_EXPORT uint32_t KAVAPI VornTrackInfo(VornHandle *handle, uint32_t i) {
  return handle && i < handle->trackCount ? handle->trackDescriptors[i] : 0;
}

KAV_EXPORT uint32_t KAVAPI VornTrackId(VornHandle *handle, uint32_t i) {
  return handle && i < handle->trackCount ? handle->trackIds[i] : 0;
}

KAV_EXPORT VornTrack *KAVAPI VornTrackOpen(VornHandle *handle, uint32_t i) {
  if (!handle || i >= handle->trackCount) return nullptr;
  const uint32_t descriptor = handle->trackDescriptors[i];
  if (!(descriptor & VORN_TRACK_READABLE)) return nullptr;
  const uint32_t rate = descriptor & 0xFFFF;
  const uint32_t channels = descriptor & VORN_TRACK_STEREO ? 2 : 1;
  auto *r = static_cast<VornTrackRecord *>(kavmalloc(sizeof(VornTrackRecord)));
  if (!r) return nullptr;
  std::memset(r, 0, sizeof *r);
  r->decoder = kav::sound::transformDecoderCreate(rate, channels, kav::sound::kTransformDecoderSmall);
  if (!r->decoder) {
    kavfree(r);
    return nullptr;
  }
  const uint32_t largest = std::min<uint32_t>(handle->trackLargestSound[i], 0xFFFFFFF0u);
  r->handle = record(handle);
  r->chunkLimitBytes = (largest + 3) & ~3u;
  r->pub.sampleRate = rate;
  r->pub.bits = descriptor & VORN_TRACK_16BIT ? 16 : 8;
  r->pub.channels = channels;
  r->pub.bufferBytes = r->pub.bits == 16 ? r->chunkLimitBytes : r->chunkLimitBytes / 2;
  r->pub.track = i;
  return &r->pub;
}

KAV_EXPORT void KAVAPI VornTrackClose(VornTrack *track) {
  if (!track) return;
  auto *r = reinterpret_cast<VornTrackRecord *>(track);
  kav::sound::transformFree(r->decoder);
  std::memset(r, 0, sizeof *r);
  kavfree(r);
}

KAV_EXPORT uint32_t KAVAPI VornTrackRead(VornTrack *track, void *destination) {
  if (!track || !destination) return 0;
  return readTrack(*reinterpret_cast<VornTrackRecord *>(track), static_cast<uint8_t *>(destination));
}

}  // extern "C"
