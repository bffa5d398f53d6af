// The Vorn reader's handle record: the public leading fields of VornHandle,
// then the reader's own state. Shared by the open, frame and track files.
#pragma once

#include <kavutil/vornfile.h>

#include <cstddef>
#include <cstdint>

#include "vorn/vorn_io.h"

namespace kav::vorn {

constexpr uint32_t kVornHeaderBytes = 44;
constexpr uint32_t kVornHistoryArrays = 7;

// Handle-flag bits beyond the open flags.
constexpr uint32_t kFlagOldRevision = 0x8000;       // bitstream revision of f, g, h
constexpr uint32_t kFlagExchangeChroma = 0x10000;   // f, g: chroma planes exchanged
constexpr uint32_t kFlagGrey = 0x20000;             // video flag: no chroma
constexpr uint32_t kFlagAlpha = 0x100000;           // open flag kept only with an alpha plane
constexpr uint32_t kVideoHasAlpha = 0x100000;
constexpr uint32_t kScaleMask = 0x70000000;
constexpr uint32_t kConverterFlagMask = 0x70030000;  // handle flags the converters see

struct VornHandleRecord {
  VornHandle pub;  // must stay first: callers read it through VornHandle *

  VornIo io;
  uint8_t *frameBuffer;     // ring mode: the loaded frame's bytes
  uint8_t *ringBlock;       // ring mode: one block holding the ring and the frame buffer
  uint8_t *ring;
  uint32_t ringRequest;     // R, whole 4096-byte blocks (0: no ring)
  uint8_t *wholeStream;     // whole-stream mode: every frame's bytes from the first frame's offset
  uint32_t wholeBytes;      // bytes of wholeStream actually read
  uint32_t firstFrameOffset;
  uint8_t *planeBlock;
  uint32_t storedWidth;     // header width and height, before the scaling mode
  uint32_t storedHeight;
  uint32_t mapBytes;        // block map without its spare bytes

  const uint8_t *frameData;  // the loaded frame (frame buffer or inside wholeStream)
  uint32_t frameBytes;       // bytes of it that were delivered
  uint32_t videoDecoding;
  int32_t lastDecoded;       // frame number; 0: none
  int32_t pictureFrame;      // frame whose picture the current set shows; 0: none or stale
  bool allKeyFrames;
  bool wholeMode;
  int32_t playbackTrack;     // -1: none

  // Timing history: one second (W frames) of loaded bytes, load and decode
  // times in microseconds and the frame numbers, kept for diagnosis only.
  uint32_t window;  // W
  uint32_t *history[kVornHistoryArrays];
  uint32_t historyPos;
  uint32_t framesLoaded;
  uint32_t framesExpanded;  // calls of the frame expander
};

static_assert(offsetof(VornHandleRecord, pub) == 0, "VornHandle must lead the record");

inline VornHandleRecord *record(VornHandle *h) { return reinterpret_cast<VornHandleRecord *>(h); }

// Buffers requested together and allocated as one block with staggering
// pads between them.
class AllocationGroup {
 public:
  static constexpr unsigned kMaxEntries = 24;
  // Registers a buffer of `size` bytes whose address goes to *place.
  void reserve(void *place, uint64_t size);
  // Allocates `ownSize` (rounded up to 16) followed by every reserved
  // buffer, zeroed, in one block; *place receives the block. False when the
  // block cannot be had (nothing is allocated then, and no place is set).
  bool allocate(void *place, uint64_t ownSize);
  void clear() { count_ = 0, total_ = 0, overflow_ = false; }

 private:
  void *places_[kMaxEntries];  // each a pointer variable of some object type
  uint64_t reservations_[kMaxEntries];
  unsigned count_ = 0;
  uint64_t total_ = 0;
  bool overflow_ = false;
};

// The largest block the reader asks for.
constexpr uint64_t kLargestBlock = 0x7FFFFFFF;

// Process-wide last-error text of the open; only recorded.
void setLastError(const char *text);
const char *lastError();

// Frame operations shared by the open and the public calls.
void VornLoadFrame(VornHandleRecord &h, uint32_t frame);
uint32_t VornKeyFrameBefore(const VornHandleRecord &h, uint32_t frame);
// Where the loaded frame's video data starts (after all sound chunks) and
// how long it is; false when the sound chunks do not fit in the frame.
bool VornVideoData(const VornHandleRecord &h, const uint8_t *&data, uint32_t &bytes);

}  // namespace kav::vorn
