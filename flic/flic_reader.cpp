// The Flic reader: opens FLI and FLC files and decodes them frame by frame
// into the caller's 8-bit buffer, looping back to frame 1 after the last
// frame instead of applying the ring frame.
#include <algorithm>
#include <cstring>

#include "flic/flic_chunks.h"
#include "flic/flic_format.h"
#include "kavutil/flic.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"

using namespace kav::flic;

namespace {

// Opens name, with `extension` appended when it has none. A name that does
// not fit the name buffer is refused rather than cut.
KAVFile *openWithExtension(const char *name, const char *extension) {
  char work[KAV_NAME_MAX];
  const size_t len = std::strlen(name);
  if (len >= sizeof work) return nullptr;
  std::memcpy(work, name, len + 1);
  if (!HasExtension(work)) {
    const size_t extLen = std::strlen(extension);
    if (len + extLen >= sizeof work) return nullptr;
    std::memcpy(work + len, extension, extLen + 1);
  }
  return KAVFileOpen(kFileBufferBytes, work, KAV_FILE_READ);
}

int32_t flcRate(const uint8_t *header) {
  const uint32_t speedMs = le32(header + kOffSpeed);
  int32_t rate = (speedMs == 0 || speedMs > 30000) ? kDefaultRate : -100 * static_cast<int32_t>(speedMs);
  // Our writer keeps the exact duration at offset 26; it is trusted only
  // when it agrees with the whole milliseconds of the speed field.
  const auto precise = static_cast<int32_t>(le32(header + kOffPreciseDuration));
  if (precise < 0 && static_cast<uint32_t>(precise / -100) == speedMs) rate = precise;
  return rate;
}

int32_t fliRate(const uint8_t *header) {
  const uint32_t ticks = le32(header + kOffSpeed);  // 1/70 second each
  if (ticks == 0) return kDefaultRate;
  const uint64_t units = static_cast<uint64_t>(ticks) * 100000u / 70u;
  // A damaged speed must not wrap into a positive duration.
  return -static_cast<int32_t>(std::min<uint64_t>(units, INT32_MAX));
}

// An FLC may begin with a prefix chunk (settings of the program that made
// it) where frame 1 is expected; players step over it.
uint32_t skipPrefixChunk(KAVFile *file, uint32_t offset) {
  uint8_t frame[kFrameHeaderBytes];
  KAVFileSetPos(file, offset);
  if (KAVFileGet(file, frame, sizeof frame) != sizeof frame) return offset;
  if (le16(frame + 4) != kFrameTypePrefix) return offset;
  const uint32_t bytes = le32(frame);
  if (bytes < kFrameHeaderBytes || bytes > KAVFileSize(file) - offset) return offset;
  return offset + bytes;
}

void fillMargin(const KAVFlic *h, uint8_t *buffer) {
  if (h->pitch > h->width)
    for (uint32_t row = 0; row < h->height; ++row)
      std::memset(buffer + static_cast<size_t>(row) * h->pitch + h->width, 0, h->pitch - h->width);
  if (h->paddedHeight > h->height)
    std::memset(buffer + static_cast<size_t>(h->height) * h->pitch, 0,
                static_cast<size_t>(h->paddedHeight - h->height) * h->pitch);
}

void rewindToFirstFrame(KAVFlic *h) {
  KAVFileSetPos(h->file, h->firstFrameOffset);
  h->framesDecoded = 0;
}

// Reads the data of a frame of `bytes` bytes and applies its chunks; a frame
// that the file cuts short is decoded from the bytes that are there. The
// file is left at the start of the next frame.
bool readAndApplyFrame(KAVFlic *h, uint32_t bytes, uint32_t chunkCount, uint8_t *buffer) {
  const uint32_t start = KAVFileGetPos(h->file);
  const uint32_t fileBytes = KAVFileSize(h->file);
  const uint32_t present = std::min(bytes, fileBytes > start ? fileBytes - start : 0u);
  bool colourChanged = false;
  if (present) {
    auto *data = static_cast<uint8_t *>(kavmalloc(present));
    if (data) {
      const uint32_t got = KAVFileGet(h->file, data, present);
      const Canvas canvas{buffer, h->pitch, h->width, h->height};
      colourChanged = applyFrameChunks(data, got, chunkCount, canvas, h->palette);
      kavfree(data);
    }
  }
  const uint32_t next = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(start) + bytes, fileBytes));
  if (KAVFileGetPos(h->file) != next) KAVFileSetPos(h->file, next);
  return colourChanged;
}

}  // namespace

extern "C" {

KAV_EXPORT KAVFlic *KAVAPI KAVFlicOpen(const char *name) {
  if (!name) return nullptr;
  auto *h = static_cast<KAVFlic *>(kavmalloc(sizeof(KAVFlic)));
  if (!h) return nullptr;
  std::memset(h, 0, sizeof *h);
  h->file = openWithExtension(name, ".flc");
  if (!h->file) h->file = openWithExtension(name, ".fli");
  if (!h->file) {
    KAVFlicClose(h);
    return nullptr;
  }
  uint8_t header[kHeaderBytes];
  const uint32_t got = KAVFileGet(h->file, header, sizeof header);
  const uint16_t magic = got == sizeof header ? le16(header + kOffMagic) : 0;
  if (magic != kMagicFli && magic != kMagicFlc) {
    KAVFlicClose(h);
    return nullptr;
  }
  h->fileSize = le32(header + kOffFileSize);
  h->width = le16(header + kOffWidth);
  h->height = le16(header + kOffHeight);
  h->pitch = (h->width + 3) & ~3u;
  h->paddedHeight = (h->height + 3) & ~3u;
  h->frameCount = le16(header + kOffFrameCount);
  if (magic == kMagicFlc) {
    h->rate = flcRate(header);
    h->firstFrameOffset = le32(header + kOffFirstFrame);
    // An offset inside the header cannot be a frame; frame 1 then follows the header.
    if (h->firstFrameOffset < kHeaderBytes) h->firstFrameOffset = kHeaderBytes;
  } else {
    h->rate = fliRate(header);
    h->firstFrameOffset = kHeaderBytes;
  }
  h->firstFrameOffset = skipPrefixChunk(h->file, h->firstFrameOffset);
  rewindToFirstFrame(h);
  return h;
}

KAV_EXPORT void KAVAPI KAVFlicClose(KAVFlic *h) {
  if (!h) return;
  if (h->file) KAVFileClose(h->file);
  std::memset(h, 0, sizeof *h);
  kavfree(h);
}

KAV_EXPORT uint8_t KAVAPI KAVFlicGetNext(KAVFlic *h, uint8_t *buffer) {
  if (!h || !h->file || !buffer) return 0;
  if (h->framesDecoded >= h->frameCount) rewindToFirstFrame(h);
  if (h->framesDecoded == 0) std::memset(buffer, 0, static_cast<size_t>(h->pitch) * h->paddedHeight);
  uint8_t result = 1;
  uint8_t frame[kFrameHeaderBytes];
  if (KAVFileGet(h->file, frame, sizeof frame) == sizeof frame) {
    const uint32_t bytes = le32(frame);
    const uint32_t chunkCount = le16(frame + 6);
    h->frameDataSize = bytes > kFrameHeaderBytes ? bytes - kFrameHeaderBytes : 0;
    if (h->frameDataSize && readAndApplyFrame(h, h->frameDataSize, chunkCount, buffer)) result = 2;
    ++h->framesDecoded;
  }
  if (h->framesDecoded == 1) fillMargin(h, buffer);
  return result;
}

KAV_EXPORT uint8_t KAVAPI KAVFlicGoto(KAVFlic *h, uint32_t frame, uint8_t *buffer) {
  if (!h || !h->file) return 0;
  const uint32_t target = std::min(frame, h->frameCount);
  if (target <= h->framesDecoded) rewindToFirstFrame(h);
  uint8_t result = 1;
  while (h->framesDecoded != target) {
    const uint32_t before = h->framesDecoded;
    const uint8_t r = KAVFlicGetNext(h, buffer);
    if (r == 0) return 0;
    if (r == 2) result = 2;
    // The file ended before the target: no further frame can come.
    if (h->framesDecoded == before) return 0;
  }
  return result;
}

KAV_EXPORT uint8_t *KAVAPI KAVFlicGetPalette(KAVFlic *h) { return h ? h->palette : nullptr; }

KAV_EXPORT void KAVAPI KAVFlicGetName(KAVFlic *h, char *out) {
  if (h && h->file && out) KAVFileGetName(h->file, out);
}

}  // extern "C"
