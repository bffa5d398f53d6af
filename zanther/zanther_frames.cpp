// Frame stepping: splitting a frame into its chunks, the palette commands,
// the palette-report rules, and moving to the next or any frame.
#include <algorithm>
#include <cstring>

#include "zanther/zanther_internal.h"

namespace kav::zanther {
namespace {

uint8_t widenLevel(uint32_t v) {
  v = std::min<uint32_t>(v, 63);  // levels above 63 are outside the table
  return static_cast<uint8_t>(v * 4 + v / 16);
}

// Runs the commands in [p, end) against the palette as it was before them.
// Counts past entry 255 stop at 255, copies from past entry 255 keep the old
// colours, and commands cut by the chunk's end are dropped.
void applyPaletteCommands(ZanthHandle *h, const uint8_t *p, const uint8_t *end) {
  uint8_t old[768];
  std::memcpy(old, h->Palette, sizeof old);
  uint32_t entry = 0;
  while (entry < 256 && p < end) {
    const uint32_t t = *p++;
    if (t & 0x80) {
      entry += (t & 0x7F) + 1;
    } else if (t & 0x40) {
      if (p >= end) break;
      const uint32_t from = *p++;
      const uint32_t n = (t & 0x3F) + 1;
      for (uint32_t k = 0; k < n && entry < 256; ++k, ++entry)
        if (from + k < 256) std::memcpy(h->Palette + 3 * entry, old + 3 * (from + k), 3);
    } else {
      if (end - p < 2) break;
      h->Palette[3 * entry] = widenLevel(t);
      h->Palette[3 * entry + 1] = widenLevel(p[0]);
      h->Palette[3 * entry + 2] = widenLevel(p[1]);
      p += 2;
      ++entry;
    }
  }
}

// Sets the chunk pointers. A sound chunk whose length is below 4 or passes
// the frame ends the chunk list: it and the chunks after it are absent, and
// the frame has no video data.
void splitChunks(ZanthHandle *h) {
  const uint8_t *start = h->FrameData;
  const uint32_t size = h->CurrentFrameSize;
  const uint32_t type = h->FrameTypes[h->CurrentFrame];
  h->FrameStart = start;
  uint32_t at = 0;
  h->PaletteChunkSize = 0;
  if (type & 1) {
    const uint32_t length = size ? 4u * start[0] : 0;
    h->PaletteChunkSize = std::min(length, size);
    at = h->PaletteChunkSize;
  }
  bool broken = false;
  for (uint32_t t = 0; t < 7; ++t) {
    h->SoundChunk[t] = nullptr;
    h->SoundChunkBytes[t] = 0;
    if (broken || !(type & (2u << t))) continue;
    const uint32_t length = size - at >= 4 ? load32(start + at) : 0;
    if (length < 4 || length > size - at) {
      broken = true;
      at = size;
      continue;
    }
    h->SoundChunk[t] = start + at;
    h->SoundChunkBytes[t] = length;
    at += length;
  }
  h->VideoData = start + at;
  h->VideoBytes = size - at;
}

}  // namespace

void ZanthPrepareFrame(ZanthHandle *h) {
  if (!h) return;
  const uint32_t count = h->FrameCount;
  if (h->CurrentFrame >= count) {
    const bool ring = h->FileFlags & ZANTH_RING_FRAME;
    if (ring && h->CurrentFrame == count) {
      if (h->LoadedFrame != count) ZanthLoadFrame(h);
    } else {
      // After the ring frame play resumes at frame 1, or at frame 0 when
      // there is no frame 1 (the ring frame would otherwise repeat for ever).
      h->CurrentFrame = ring && count > 1 ? 1 : 0;
      ZanthPosition(h);
    }
  }
  splitChunks(h);
  if (h->FrameTypes[h->CurrentFrame] & 1) {
    applyPaletteCommands(h, h->FrameStart + 1, h->FrameStart + h->PaletteChunkSize);
    // A frame whose palette was last reported does not report it again.
    h->PaletteChanged = static_cast<int32_t>(h->CurrentFrame) != h->LastReportedPalette;
  } else {
    h->PaletteChanged = 0;
  }
}

}  // namespace kav::zanther

using namespace kav::zanther;

extern "C" {

KAV_EXPORT int32_t KAVAPI ZanthDecodeFrame(ZanthHandle *h) {
  if (!h || h->ReadError) return 0;
  if (h->PaletteChanged) h->LastReportedPalette = static_cast<int32_t>(h->CurrentFrame);
  if (h->Target) {
    resetRecentValues(treesOf(h));
    decodeVideo(h, *static_cast<const Target *>(h->Target));
  }
  return 0;
}

KAV_EXPORT void KAVAPI ZanthAdvance(ZanthHandle *h) {
  if (!h) return;
  if (h->ReadError) {
    ++h->CurrentFrame;
    return;
  }
  // In whole-file mode this is what moves to the next frame's bytes.
  h->FrameData += h->CurrentFrameSize;
  ++h->CurrentFrame;
  if (h->CurrentFrame < h->FrameCount) ZanthLoadFrame(h);
  ZanthPrepareFrame(h);
}

KAV_EXPORT void KAVAPI ZanthSeek(ZanthHandle *h, uint32_t frame) {
  if (!h || h->ReadError) return;
  uint32_t target = frame ? frame - 1 : 0;
  if (target == h->CurrentFrame) return;
  // Past the end the wrap rules of frame stepping apply.
  if (target >= h->FrameCount) {
    const bool ring = h->FileFlags & ZANTH_RING_FRAME;
    if (!ring)
      target = 0;
    else if (target > h->FrameCount)
      target = h->FrameCount > 1 ? 1 : 0;
  }
  h->CurrentFrame = target;
  ZanthPosition(h);
  ZanthPrepareFrame(h);
}

}  // extern "C"
