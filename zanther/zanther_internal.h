// Internal operations of the Zanther reader, shared by its source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kavutil/zanther.h"
#include "zanther/zanther_trees.h"

namespace kav::zanther {

constexpr uint32_t kHeaderBytes = 104;
constexpr uint32_t kBlockBytes = 4096;
constexpr uint32_t kDirectReadMax = 16384;
constexpr uint32_t kFrameSlackBytes = 8;  // the bit reader may look this far past a frame
constexpr uint32_t kSoundWorkBytes = 8192;
constexpr uint32_t kNoFrame = 0xFFFFFFFFu;

enum DrawMode : uint32_t { kDrawNormal = 0, kDrawInterlaced = 1, kDrawDoubled = 2 };

// Where and how frames are drawn; made by ZanthSetTarget.
struct Target {
  uint8_t *firstPixel;     // the frame's top-left pixel
  ptrdiff_t lineStep;      // between the lines of one decoded block row
  uint32_t blocksPerRow;
  uint32_t blockRows;
  ptrdiff_t blockStep;     // from one block to the next in a block row (4 pixels)
  ptrdiff_t blockRowStep;  // from a block row's start to the next one's
  uint32_t version;        // 2 or 4
  uint32_t mode;           // DrawMode
};

inline uint32_t load32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t frameTableEntries(const ZanthHandle *h) { return h->FrameCount + (h->FileFlags & ZANTH_RING_FRAME); }
inline uint32_t frameBytes(const ZanthHandle *h, uint32_t frame) { return h->FrameSizes[frame] & ~3u; }
inline bool wholeFileLoaded(const ZanthHandle *h) { return h->BlockStart == nullptr; }
inline Trees *treesOf(ZanthHandle *h) { return static_cast<Trees *>(h->Trees); }

// The debug switch, read once per process.
bool debugSwitchOn();
void debugLine(const char *text);
// Forget the switch so that the next open reads it again (tests).
void resetDebugSwitch();

uint32_t ZanthRead(ZanthHandle *h, void *dest, uint32_t count);
void ZanthLoadFrame(ZanthHandle *h);
void ZanthPosition(ZanthHandle *h);
void ZanthPrepareFrame(ZanthHandle *h);

void decodeVideo(ZanthHandle *h, const Target &target);
void releaseSound(ZanthHandle *h);

}  // namespace kav::zanther
