// The Flic writer: an FLC whose frame 1 is a full picture and whose later
// frames are deltas, each in the smallest encoding tried, closed by a ring
// frame that leads from the last frame back to frame 1.
//
// Each frame is flushed as it is written, so the writer knows which frames
// reached the file whole: after a short write (a full disk) nothing more is
// appended, the position is put back after the last whole frame, and the
// close makes the header count exactly the frames before it.
//
// A Flic is full at 65535 frames (the header's count is 16 bits) or when the
// next frame and the ring frame could take the file past 4 GiB - 1 bytes
// (our own buffered file reads nothing larger): such a frame is refused
// before anything of it is written, so the file stays a whole Flic.
#include <cstring>

#include "flic/flic_encode.h"
#include "flic/flic_format.h"
#include "kavutil/flic.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"

using namespace kav::flic;

namespace {

static_assert(kMaxFrames == KAV_FLIC_MAX_FRAMES);
uint32_t g_fileLimitBytes = kMaxFileBytes;

void writeInitialHeader(KAVFile *file, uint32_t width, uint32_t height, int32_t rate) {
  uint8_t h[kHeaderBytes] = {};
  putLe16(h + kOffMagic, kMagicFlc);
  putLe16(h + kOffWidth, width);
  putLe16(h + kOffHeight, height);
  putLe16(h + kOffDepth, 8);
  putLe16(h + kOffFlags, 3);
  // Players read whole milliseconds; the exact duration goes to offset 26.
  putLe32(h + kOffSpeed, static_cast<uint32_t>(rate >= 0 ? rate : rate / -100));
  putLe32(h + kOffPreciseDuration, static_cast<uint32_t>(rate < 0 ? rate : 0));
  const bool vga = width == 320 && height == 200;  // 320 x 200 has non-square pixels
  putLe16(h + kOffAspectX, vga ? 6 : 1);
  putLe16(h + kOffAspectY, vga ? 5 : 1);
  putLe32(h + kOffFirstFrame, kHeaderBytes);
  KAVFilePut(file, h, sizeof h);
}

void writeChunkHeader(KAVFile *file, size_t dataBytes, uint16_t type) {
  uint8_t c[kChunkHeaderBytes];
  putLe32(c, static_cast<uint32_t>(dataBytes + kChunkHeaderBytes));
  putLe16(c + 4, type);
  KAVFilePut(file, c, sizeof c);
}

// Encodes the picture into the work buffer; returns the chunk type and sets
// dataBytes, or returns 0 when the frame needs no pixel chunk. The raw copy
// is left in `pixels` (no work-buffer copy).
uint16_t encodePixels(KAVOFlic *h, const uint8_t *pixels, size_t &dataBytes) {
  const size_t s = static_cast<size_t>(h->width) * h->height;
  std::memset(h->workBuffer, 0, s);
  if (h->framesWritten > 0) {
    if (std::memcmp(pixels, h->previousFrame, s) == 0) return 0;
    if (h->width == 320 && h->height == 200) {
      dataBytes = encodeByteDelta(pixels, h->previousFrame, h->width, h->height, h->workBuffer, kByteDeltaLimit);
      if (dataBytes != kEncodeFailed) return kChunkByteDelta;
    } else {
      dataBytes = encodeWordDelta(pixels, h->previousFrame, h->width, h->height, h->workBuffer, s);
      if (dataBytes != kEncodeFailed) return kChunkWordDelta;
    }
  }
  dataBytes = encodeByteRun(pixels, h->width, h->height, h->workBuffer, s);
  if (dataBytes != kEncodeFailed) return kChunkByteRun;
  dataBytes = s;
  return kChunkCopy;
}

void releaseBuffers(KAVOFlic *h) {
  kavfree(h->previousFrame);
  kavfree(h->firstFrame);
  kavfree(h->workBuffer);
}

// The ring frame at its largest: a raw copy of frame 1, without palette.
uint64_t largestRingFrame(const KAVOFlic *h) {
  return kFrameHeaderBytes + kChunkHeaderBytes + uint64_t{h->width} * h->height;
}

// Writes one frame; `limited` frames are refused (0, and no write error)
// when the file is full.
uint8_t putFrame(KAVOFlic *h, const uint8_t *pixels, const uint8_t *palette, bool limited) {
  if (!h || !h->file || !pixels) return 0;
  if (KAVFileWriteError(h->file)) h->writeError = 1;
  if (h->writeError) return 0;
  if (limited && h->framesWritten >= kMaxFrames) return 0;
  // Everything before was flushed and arrived: this frame starts here.
  const uint32_t frameStart = KAVFileGetPos(h->file);

  uint8_t colour[kColourDataMax];
  size_t colourBytes = 0;
  const bool newPalette = palette && std::memcmp(palette, h->palette, kPaletteBytes) != 0;
  if (newPalette) colourBytes = encodeColourPackets(palette, h->palette, h->framesWritten == 0, colour);
  size_t pixelBytes = 0;
  const uint16_t pixelType = encodePixels(h, pixels, pixelBytes);

  uint8_t frame[kFrameHeaderBytes] = {};
  size_t frameBytes = kFrameHeaderBytes;
  uint32_t chunks = 0;
  if (colourBytes) frameBytes += colourBytes + kChunkHeaderBytes, ++chunks;
  if (pixelType) frameBytes += pixelBytes + kChunkHeaderBytes, ++chunks;
  if (limited && uint64_t{frameStart} + frameBytes + largestRingFrame(h) > g_fileLimitBytes) return 0;
  if (newPalette) std::memcpy(h->palette, palette, kPaletteBytes);
  putLe32(frame, static_cast<uint32_t>(frameBytes));
  putLe16(frame + 4, kFrameTypeFrame);
  putLe16(frame + 6, chunks);
  KAVFilePut(h->file, frame, sizeof frame);
  if (colourBytes) {
    writeChunkHeader(h->file, colourBytes, kChunkColour256);
    KAVFilePut(h->file, colour, static_cast<uint32_t>(colourBytes));
  }
  if (pixelType) {
    writeChunkHeader(h->file, pixelBytes, pixelType);
    KAVFilePut(h->file, pixelType == kChunkCopy ? pixels : h->workBuffer, static_cast<uint32_t>(pixelBytes));
  }

  KAVFileFlush(h->file, 0);
  const uint32_t frameEnd = frameStart + static_cast<uint32_t>(frameBytes);
  if (KAVFileWriteError(h->file) || KAVFileGetPos(h->file) != frameEnd) {
    // Cut short: the file ends, as far as the header is concerned, where
    // the frame began.
    h->writeError = 1;
    KAVFileSetPos(h->file, frameStart);
    return 0;
  }
  const size_t s = static_cast<size_t>(h->width) * h->height;
  if (h->framesWritten == 0) {
    std::memcpy(h->firstFrame, pixels, s);
    h->secondFrameOffset = frameEnd;
  }
  std::memcpy(h->previousFrame, pixels, s);
  ++h->framesWritten;
  return 1;
}

}  // namespace

void kav::flic::setWriterFileLimitForTests(uint32_t bytes) { g_fileLimitBytes = bytes ? bytes : kMaxFileBytes; }

extern "C" {

KAV_EXPORT KAVOFlic *KAVAPI KAVOFlicCreate(const char *name, uint32_t width, uint32_t height, int32_t rate) {
  if (width & 1) return nullptr;
  // The header holds 16-bit sizes; an empty picture has nothing to encode.
  if (!name || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return nullptr;
  auto *h = static_cast<KAVOFlic *>(kavmalloc(sizeof(KAVOFlic)));
  if (!h) return nullptr;
  std::memset(h, 0, sizeof *h);
  char work[KAV_NAME_MAX];
  const size_t len = std::strlen(name);
  const bool addExtension = !HasExtension(name);
  if (len + (addExtension ? 4 : 0) >= sizeof work) {
    kavfree(h);
    return nullptr;
  }
  std::memcpy(work, name, len + 1);
  if (addExtension) std::memcpy(work + len, ".flc", 5);
  h->file = KAVFileCreate(kFileBufferBytes, work);
  if (!h->file) {
    kavfree(h);
    return nullptr;
  }
  h->width = width;
  h->height = height;
  writeInitialHeader(h->file, width, height, rate);
  const uint64_t s = static_cast<uint64_t>(width) * height;
  if (s < 0xFFFFFFFFu) {
    h->previousFrame = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(s)));
    h->firstFrame = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(s)));
    h->workBuffer = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(s)));
  }
  if (!h->previousFrame || !h->firstFrame || !h->workBuffer) {
    releaseBuffers(h);
    KAVFileClose(h->file);
    KAVFileErase(work);
    kavfree(h);
    return nullptr;
  }
  std::memset(h->previousFrame, 0, static_cast<size_t>(s));
  std::memset(h->firstFrame, 0, static_cast<size_t>(s));
  return h;
}

KAV_EXPORT uint8_t KAVAPI KAVOFlicPutNext(KAVOFlic *h, const uint8_t *pixels, const uint8_t *palette) {
  return putFrame(h, pixels, palette, true);
}

KAV_EXPORT uint32_t KAVAPI KAVOFlicClose(KAVOFlic *h) {
  if (!h) return 0;
  uint32_t size = 0;
  if (h->file) {
    // The ring frame; without it (the write failed) every whole frame
    // counts and players go back to frame 1 on their own.
    const uint32_t frames = h->framesWritten;
    putFrame(h, h->firstFrame, nullptr, false);  // room for it was kept
    const uint32_t end = KAVFileGetPos(h->file);  // after the last whole frame
    uint8_t header[kHeaderBytes];
    KAVFileSetPos(h->file, 0);
    if (end >= kHeaderBytes && KAVFileGet(h->file, header, sizeof header) == sizeof header) {
      putLe16(header + kOffFrameCount, frames);
      putLe32(header + kOffFileSize, end);
      putLe32(header + kOffSecondFrame, h->secondFrameOffset ? h->secondFrameOffset : end);
      KAVFileSetPos(h->file, 0);
      KAVFilePut(h->file, header, sizeof header);
      KAVFileFlush(h->file, 0);
      if (KAVFileGetPos(h->file) != kHeaderBytes) h->writeError = 1;
    } else {
      h->writeError = 1;
    }
    if (KAVFileWriteError(h->file)) h->writeError = 1;
    size = KAVFileSize(h->file);
    KAVFileClose(h->file);
  }
  releaseBuffers(h);
  std::memset(h, 0, sizeof *h);
  kavfree(h);
  return size;
}

}  // extern "C"
