// Opening a Vorn stream: header, version letter, scaling mode, plane
// geometry, the track tables and the frame index, the reading strategy and
// the three grouped allocations; and closing it again.
#include <kavutil/kavbase.h>
#include <kavutil/vornfile.h>

#include <algorithm>
#include <cstring>

#include "platform/os_file.h"
#include "vorn/vorn_handle.h"

namespace kav::vorn {
namespace {

constexpr const char *kOpenError = "Error opening file.";
constexpr const char *kNotVorn = "Not a Vorn file.";
constexpr const char *kNoFrames = "The file doesn't contain any compressed frames yet.";
constexpr const char *kNoMemory = "Out of memory.";

// Limits beyond which a header is taken as damaged: no real movie comes
// near them, and they keep every size below computed without overflow.
constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kMaxTracks = 1024;
constexpr uint32_t kMaxWindow = 4096;  // frames in one second

int32_t gPreferredTrack = -1;

uint32_t le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Header {
  char version;
  uint32_t streamSize, frames, largestFrame, lastEntry, width, height, rateNumerator, rateDenominator, videoFlags,
      tracks;
};

// Null when the header is acceptable, else the text for the failure.
const char *parseHeader(const uint8_t *b, Header &h) {
  if (b[0] != 'V' || b[1] != 'R' || b[2] != 'N' || b[3] < 'f' || b[3] > 'i') return kNotVorn;
  h.version = char(b[3]);
  h.streamSize = le32(b + 4);
  h.frames = le32(b + 8);
  h.largestFrame = le32(b + 12);
  h.lastEntry = le32(b + 16);
  h.width = le32(b + 20);
  h.height = le32(b + 24);
  h.rateNumerator = le32(b + 28);
  h.rateDenominator = le32(b + 32);
  h.videoFlags = le32(b + 36);
  h.tracks = le32(b + 40);
  if (h.frames == 0) return kNoFrames;
  if (h.width == 0 || h.height == 0 || h.width > kMaxDimension || h.height > kMaxDimension) return kNotVorn;
  if (h.tracks > kMaxTracks || h.rateDenominator == 0 || h.frames > h.lastEntry) return kNotVorn;
  if (h.streamSize > 0xFFFFFFFFu - 8) return kNotVorn;
  return nullptr;
}

uint32_t versionFlags(char version) {
  if (version == 'f' || version == 'g') return kFlagOldRevision | kFlagExchangeChroma;
  if (version == 'h') return kFlagOldRevision;
  return 0;
}

// Frame i's bytes run from entry i to entry i + 1 (bit 0 cleared); they must
// lie after the tables, in order, inside the stream and the file, and none
// may exceed the largest-frame field.
bool indexIsSound(const uint32_t *index, const Header &h, uint64_t tablesEnd, uint64_t available) {
  const uint64_t streamEnd = uint64_t(h.streamSize) + 8;
  if ((index[0] & ~1u) < tablesEnd) return false;
  for (uint32_t i = 0; i < h.frames; ++i) {
    uint32_t start = index[i] & ~1u, end = index[i + 1] & ~1u;
    if (end < start || end - start > h.largestFrame) return false;
  }
  uint64_t last = index[h.frames] & ~1u;
  return last <= streamEnd && last <= available;
}

// The ring request: the most bytes that any second of frames covers.
uint64_t ringRequest(const uint32_t *index, uint32_t frames, uint32_t window) {
  int64_t largest = 0;
  if (frames > window)
    for (uint32_t i = 0; i + window < frames; ++i)
      largest = std::max(largest, int64_t(index[i + window]) - int64_t(index[i]));
  if (largest <= 0) {
    int64_t total = int64_t(index[frames]) - int64_t(index[0]);
    largest = std::max<int64_t>(total, 0) * window / frames;
  }
  return uint64_t(largest);
}

// What the open has acquired so far, released in reverse on failure.
struct Acquired {
  VornIo io{};
  uint8_t *handleBlock = nullptr;
  uint8_t *planeBlock = nullptr;
  uint8_t *readBlock = nullptr;
  void release() {
    kavfree(readBlock);
    kavfree(planeBlock);
    kavfree(handleBlock);
    if (io.open) VornIoClose(io);
  }
};

VornHandle *fail(Acquired &a, const char *text) {
  a.release();
  setLastError(text);
  return nullptr;
}

VornHandle *openStream(const char *name, KavOsFile file, uint32_t flags, int32_t preferredTrack) {
  Acquired a;
  if (!VornIoOpen(a.io, name, file, flags)) {
    if (!*lastError()) setLastError(kOpenError);
    return nullptr;
  }
  uint8_t headerBytes[kVornHeaderBytes];
  Header hd{};
  if (VornIoReadAt(a.io, 0, headerBytes, kVornHeaderBytes) != kVornHeaderBytes) return fail(a, kNotVorn);
  if (const char *bad = parseHeader(headerBytes, hd)) return fail(a, bad);

  // The bytes the stream really has: a damaged header must not make the
  // reader size buffers for data that is not there.
  int64_t fileSize = kav::os::size(a.io.file);
  uint64_t available = fileSize < 0 || uint64_t(fileSize) < a.io.streamStart
                           ? 0
                           : std::min<uint64_t>(uint64_t(fileSize) - a.io.streamStart, 0xFFFFFFFFu);
  const uint64_t entries = uint64_t(hd.lastEntry) + 1;
  const uint64_t tablesEnd = kVornHeaderBytes + 12 * uint64_t(hd.tracks) + 4 * entries;
  if (tablesEnd > uint64_t(hd.streamSize) + 8 || tablesEnd > available) return fail(a, kNotVorn);

  // Geometry, displayed size and handle flags.
  const bool hasAlpha = hd.videoFlags & kVideoHasAlpha;
  const uint32_t cw = (((hd.width + 1) / 2) + 7) & ~7u, ch = (((hd.height + 1) / 2) + 7) & ~7u;
  const uint32_t lumaW = 2 * cw, lumaH = 2 * ch;
  uint32_t mode = flags & kScaleMask;
  if (mode == kScaleMask)
    mode = 0;
  else if (mode == 0)
    mode = hd.videoFlags & kScaleMask;
  uint32_t handleFlags = (flags & ~kScaleMask) | (hd.videoFlags & kFlagGrey) | mode | versionFlags(hd.version);
  if (!hasAlpha) handleFlags &= ~kFlagAlpha;
  uint32_t shownW = hd.width, shownH = hd.height;
  switch (mode >> 28) {
    case 1: case 2: shownH *= 2; break;
    case 3: shownW *= 2; break;
    case 4: case 5: shownW *= 2, shownH *= 2; break;
    default: break;
  }
  const uint64_t window =
      std::max<uint64_t>(1, (uint64_t(hd.rateNumerator) + hd.rateDenominator / 2) / hd.rateDenominator);
  if (window > kMaxWindow) return fail(a, kNotVorn);

  // The handle block: the record with its map, history, bundles and tables.
  struct {
    uint8_t *map;
    uint32_t *history[kVornHistoryArrays];
    uint8_t *bundles[VORN_BUNDLE_COUNT];
    uint32_t *index, *largestSound, *descriptors, *ids;
  } layout{};
  const uint32_t mapBytes = (lumaW / 16) * (lumaH / 16);
  AllocationGroup group;
  group.reserve(&layout.map, uint64_t(mapBytes) + 16);
  for (auto &h : layout.history) group.reserve(&h, 4 * window);
  uint32_t bundleSizes[VORN_BUNDLE_COUNT];
  ExpandBundleSizes(bundleSizes, lumaW);
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) group.reserve(&layout.bundles[i], bundleSizes[i]);
  group.reserve(&layout.index, 4 * entries);
  group.reserve(&layout.largestSound, 4 * uint64_t(hd.tracks));
  group.reserve(&layout.descriptors, 4 * uint64_t(hd.tracks));
  group.reserve(&layout.ids, 4 * uint64_t(hd.tracks));
  if (!group.allocate(&a.handleBlock, sizeof(VornHandleRecord))) return fail(a, kNoMemory);

  // The tables, straight after the header.
  const uint32_t tableBytes = 4 * hd.tracks;
  if (VornIoReadAt(a.io, kVornIoCurrent, layout.largestSound, tableBytes) != tableBytes ||
      VornIoReadAt(a.io, kVornIoCurrent, layout.descriptors, tableBytes) != tableBytes ||
      VornIoReadAt(a.io, kVornIoCurrent, layout.ids, tableBytes) != tableBytes ||
      VornIoReadAt(a.io, kVornIoCurrent, layout.index, uint32_t(4 * entries)) != 4 * entries)
    return fail(a, kNotVorn);
  // The file is little-endian; so is every machine this builds for.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "tables are read in place");
  if (!indexIsSound(layout.index, hd, tablesEnd, available)) return fail(a, kNotVorn);

  bool allKeyFrames = true;
  for (uint32_t i = 0; i < hd.frames; ++i) allKeyFrames = allKeyFrames && (layout.index[i] & 1);
  const uint64_t request = ringRequest(layout.index, hd.frames, uint32_t(window));

  // The plane block. Both plane sets are always made, even when every frame
  // is a key frame: the expander needs a previous set distinct from the one
  // it writes, and nothing in a damaged file stops a "key" frame from
  // predicting.
  uint8_t *planeSets[2] = {}, *alphaPlanes[2] = {};
  const uint64_t setBytes = uint64_t(lumaW) * lumaH + 2 * uint64_t(cw) * ch;
  group.reserve(&planeSets[1], setBytes);
  if (handleFlags & kFlagAlpha) {
    group.reserve(&alphaPlanes[0], uint64_t(lumaW) * lumaH);
    group.reserve(&alphaPlanes[1], uint64_t(lumaW) * lumaH);
  }
  if (!group.allocate(&a.planeBlock, setBytes)) return fail(a, kNoMemory);
  planeSets[0] = a.planeBlock;

  // Reading strategy.
  const uint32_t streamEnd = hd.streamSize + 8;
  const uint32_t firstOffset = layout.index[0] & ~1u;
  uint32_t ring = VornIoBufferSize(a.io, uint32_t(std::min<uint64_t>(request, 0xFFFFFFFFu)));
  const bool whole = 10 * uint64_t(ring) >= 9 * uint64_t(hd.streamSize);
  uint8_t *frameBuffer = nullptr, *ringBuffer = nullptr;
  uint32_t wholeBytes = 0;
  if (whole) {
    // Only what the file holds is kept; the size field may promise more.
    const uint32_t wanted = uint32_t(std::min<uint64_t>(streamEnd, available) - firstOffset);
    if (!group.allocate(&a.readBlock, std::max<uint32_t>(wanted, 1))) return fail(a, kNoMemory);
    VornIoSetBuffer(a.io, nullptr, 0, streamEnd, 0);
    wholeBytes = VornIoRead(a.io, firstOffset, a.readBlock, wanted);
    VornIoClose(a.io);
  } else {
    group.reserve(&frameBuffer, std::max<uint32_t>(hd.largestFrame, 1));
    if (ring && group.allocate(&a.readBlock, ring)) {
      ringBuffer = a.readBlock;
    } else {
      ring = 0;  // no ring: every frame read goes to the file
      if (!group.allocate(&a.readBlock, std::max<uint32_t>(hd.largestFrame, 1))) return fail(a, kNoMemory);
      frameBuffer = a.readBlock;
    }
    VornIoSetBuffer(a.io, ringBuffer, ring, streamEnd, 0);
  }

  auto *h = reinterpret_cast<VornHandleRecord *>(a.handleBlock);
  VornHandle &p = h->pub;
  p.width = shownW;
  p.height = shownH;
  p.frameCount = hd.frames;
  p.currentFrame = -1;
  p.previousFrame = -1;
  p.rateNumerator = hd.rateNumerator;
  p.rateDenominator = hd.rateDenominator;
  p.flags = handleFlags;
  p.videoFlags = hd.videoFlags;
  p.streamSize = hd.streamSize;
  p.largestFrame = hd.largestFrame;
  p.indexEntries = hd.lastEntry;
  p.trackCount = hd.tracks;
  p.chromaWidth = cw;
  p.chromaHeight = ch;
  p.lumaWidth = lumaW;
  p.lumaHeight = lumaH;
  p.planeSets[0] = planeSets[0];
  p.planeSets[1] = planeSets[1];
  p.alphaPlanes[0] = alphaPlanes[0];
  p.alphaPlanes[1] = alphaPlanes[1];
  p.currentSet = 0;
  p.blockMap = layout.map;
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) p.bundles[i] = layout.bundles[i];
  p.trackLargestSound = layout.largestSound;
  p.trackDescriptors = layout.descriptors;
  p.trackIds = layout.ids;
  p.frameIndex = layout.index;

  h->io = a.io;
  h->frameBuffer = frameBuffer;
  h->ringBlock = whole ? nullptr : a.readBlock;
  h->ring = ringBuffer;
  h->ringRequest = ring;
  h->wholeStream = whole ? a.readBlock : nullptr;
  h->wholeBytes = wholeBytes;
  h->firstFrameOffset = firstOffset;
  h->planeBlock = a.planeBlock;
  h->storedWidth = hd.width;
  h->storedHeight = hd.height;
  h->mapBytes = mapBytes;
  h->allKeyFrames = allKeyFrames;
  h->wholeMode = whole;
  h->window = uint32_t(window);
  for (unsigned i = 0; i < kVornHistoryArrays; ++i) h->history[i] = layout.history[i];

  h->playbackTrack = -1;
  if (flags & VORN_OPEN_PREFERRED_TRACK) {
    for (uint32_t i = 0; i < hd.tracks && preferredTrack != -1; ++i)
      if (int32_t(layout.ids[i]) == preferredTrack) {
        h->playbackTrack = int32_t(i);
        break;
      }
  } else if (hd.tracks) {
    h->playbackTrack = 0;
  }

  layout.map[mapBytes] = 0xFF;  // a scan of the map stops at this byte
  h->videoDecoding = 1;
  VornLoadFrame(*h, 1);
  return &p;
}

}  // namespace
}  // namespace kav::vorn

using namespace kav::vorn;

extern "C" {

KAV_EXPORT void KAVAPI VornSetPreferredTrack(int32_t id) { gPreferredTrack = id; }

KAV_EXPORT VornHandle *KAVAPI VornOpen(const char *name, KavOsFile file, uint32_t flags) {
  setLastError(nullptr);
  const int32_t preferred = gPreferredTrack;
  VornHandle *h = openStream(name, file, flags, preferred);
  gPreferredTrack = -1;
  return h;
}

KAV_EXPORT void KAVAPI VornClose(VornHandle *handle) {
  if (!handle) return;
  VornHandleRecord &h = *record(handle);
  if (h.io.open) VornIoClose(h.io);
  kavfree(h.ringBlock);
  kavfree(h.wholeStream);
  kavfree(h.planeBlock);
  std::memset(&h, 0, sizeof h);
  kavfree(&h);
}

}  // extern "C"
