// The Flic target: frames go to the Flic writer at the width rounded up to a
// multiple of 4. After the close the file is checked: a write that failed
// on the way (a full disk) leaves frames cut short, and then the header is
// made to count only the frames the file holds in full. A Flic that is full
// (65535 frames, or 4 GiB) takes no more frames and says so once.
#include <algorithm>
#include <cstring>

#include "kavutil/flic.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

constexpr uint32_t kHeaderBytes = 128;
constexpr uint32_t kOffFileSize = 0, kOffFrames = 6, kOffFirstFrame = 80, kOffSecondFrame = 84;
constexpr uint16_t kFlcMagic = 0xAF12, kFrameMagic = 0xF1FA;
constexpr uint32_t kFrameHeaderBytes = 16;

uint32_t le32(const uint8_t *p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

// 0 when the file was consistent, 1 when it was repaired, -1 when it could
// not be read or written.
static int checkFlic(const char *name) {
  KAVFile *f = KAVFileOpen(0, name, KAV_FILE_READWRITE);
  if (!f) return -1;
  const uint32_t size = KAVFileSize(f);
  uint8_t header[kHeaderBytes];
  if (size < kHeaderBytes || KAVFileGet(f, header, kHeaderBytes) != kHeaderBytes ||
      (header[4] | header[5] << 8) != kFlcMagic) {
    KAVFileClose(f);
    return -1;
  }
  const uint32_t headerFrames = header[kOffFrames] | header[kOffFrames + 1] << 8;
  uint32_t pos = le32(header + kOffFirstFrame);
  if (pos < kHeaderBytes || pos > size) pos = kHeaderBytes;
  uint32_t complete = 0, end = pos, second = 0;
  while (size - pos >= kFrameHeaderBytes) {
    uint8_t frame[kFrameHeaderBytes];
    KAVFileSetPos(f, pos);
    if (KAVFileGet(f, frame, sizeof frame) != sizeof frame) break;
    const uint32_t bytes = le32(frame);
    if ((frame[4] | frame[5] << 8) != kFrameMagic || bytes < kFrameHeaderBytes || bytes > size - pos) break;
    pos += bytes;
    ++complete;
    if (complete == 1) second = pos;
    end = pos;
  }
  if (complete == headerFrames + 1 && end == size && le32(header + kOffFileSize) == size) {
    KAVFileClose(f);
    return 0;
  }
  // With the ring frame in place only the sizes were left wrong; without it
  // every complete frame counts (the reader goes back to frame 1 on its own).
  const uint32_t frames = complete == headerFrames + 1 ? complete - 1 : complete;
  header[kOffFrames] = static_cast<uint8_t>(std::min<uint32_t>(frames, 0xFFFF));
  header[kOffFrames + 1] = static_cast<uint8_t>(std::min<uint32_t>(frames, 0xFFFF) >> 8);
  put32(header + kOffFileSize, end);
  put32(header + kOffSecondFrame, second ? second : end);
  KAVFileSetPos(f, 0);
  KAVFilePut(f, header, kHeaderBytes);
  KAVFileFlush(f, 1);
  const bool ok = !KAVFileWriteError(f);
  KAVFileClose(f);
  return ok ? 1 : -1;
}

bool repairFlic(const char *name) { return checkFlic(name) >= 0; }

bool createFlic(Handle *h) {
  OGFile &o = h->pub;
  h->flicWidth = (o.width + 3) & ~3u;
  const uint64_t period = 100000ull * o.rateDenominator / o.rateNumerator;
  const int32_t rate = -static_cast<int32_t>(std::min<uint64_t>(std::max<uint64_t>(period, 1), 0x7FFFFFFF));
  if (h->flicWidth != o.inputPitch) {
    const uint64_t bytes = uint64_t{h->flicWidth} * o.height;
    if (bytes < 0xFFFFFFFFu) h->flicFrame = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(bytes)));
    if (h->flicFrame) std::memset(h->flicFrame, 0, static_cast<size_t>(bytes));
  }
  if (h->flicWidth != o.inputPitch && !h->flicFrame) {
    report(h, "Error creating the output flic.", 2);
    return false;
  }
  o.flic = KAVOFlicCreate(o.name, h->flicWidth, o.height, rate);
  if (!o.flic) {
    report(h, "Error creating the output flic.", 2);
    return false;
  }
  std::strcpy(o.description, o.name);
  std::strcpy(h->fileName, o.name);
  return true;
}

void putFlic(Handle *h, const void *pixels, const uint8_t *palette) {
  OGFile &o = h->pub;
  if (!o.flic) return;
  const auto *src = static_cast<const uint8_t *>(pixels);
  if (h->flicFrame) {
    const uint32_t copy = std::min(o.inputPitch, h->flicWidth);
    for (uint32_t y = 0; y < o.height; ++y)
      std::memcpy(h->flicFrame + size_t{y} * h->flicWidth, src + size_t{y} * o.inputPitch, copy);
    src = h->flicFrame;
  }
  if (!KAVOFlicPutNext(o.flic, src, palette) && !o.flic->writeError && !h->flicFull) {
    // Nothing failed: the format holds no more. The file stays whole with
    // the frames before; the error flag stops the caller.
    h->flicFull = 1;
    o.errorFlag = 1;
    report(h,
           o.flic->framesWritten >= KAV_FLIC_MAX_FRAMES
               ? "The output flic is full: a flic holds at most 65535 frames."
               : "The output flic is full: a flic file must stay below 4 GB.",
           2);
  }
  if (o.flic->writeError) writeFailed(h);
  o.bytesWritten = KAVFileSize(o.flic->file);
}

uint32_t closeFlic(Handle *h) {
  OGFile &o = h->pub;
  kavfree(h->flicFrame);
  h->flicFrame = nullptr;
  if (!o.flic) return 0;
  uint32_t size = KAVOFlicClose(o.flic);
  o.flic = nullptr;
  const int check = checkFlic(h->fileName);
  if (check != 0 || (o.errorFlag && !h->flicFull)) {
    writeFailed(h);
    if (check == 1) size = kavfilesize(h->fileName);
  }
  return size;
}

}  // namespace kav::og
