// Frame operations of an open Vorn stream: loading a frame's bytes,
// expanding it into the idle plane set, converting the current picture to
// 32-bit pixels, stepping, and seeking through key frames.
#include <kavutil/vornfile.h>
#include <kavutil/yuv.h>

#include <algorithm>
#include <cstring>

#include "platform/os_clock.h"
#include "vorn/expand.h"
#include "vorn/vorn_handle.h"

namespace kav::vorn {
namespace {

uint32_t le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t microsecondsSince(uint64_t t0) {
  return uint32_t((kav::os::monotonicNanoseconds() - t0) / 1000);
}

uint32_t clampFrame(const VornHandleRecord &h, uint32_t frame) {
  return std::clamp<uint32_t>(frame, 1, h.pub.frameCount);
}

void decode(VornHandleRecord &h) {
  VornHandle &p = h.pub;
  if (p.currentFrame == h.lastDecoded) return;
  if (h.videoDecoding) {
    uint64_t t0 = kav::os::monotonicNanoseconds();
    const uint32_t other = 1 - p.currentSet;
    std::memset(p.blockMap, 0, h.mapBytes);
    const uint8_t *data;
    uint32_t bytes;
    // A frame whose sound chunks overrun it has no video: its picture is the
    // previous one.
    if (VornVideoData(h, data, bytes)) {
      FrameArgs args;
      args.cur = p.planeSets[other];
      args.prev = p.planeSets[p.currentSet];
      args.alphaCur = p.alphaPlanes[other];
      args.alphaPrev = p.alphaPlanes[p.currentSet];
      args.changedMap = p.blockMap;
      args.width = h.storedWidth;
      args.height = h.storedHeight;
      args.pitch = p.lumaWidth;
      args.planeHeight = p.lumaHeight;
      args.bundles = p.bundles;
      args.flags = p.flags;
      args.headerFlags = p.videoFlags;
      // The expander reads no further than the frame's delivered bytes.
      expandFrame(args, data, bytes);
      ++h.framesExpanded;
      p.currentSet = other;
    }
    h.pictureFrame = p.currentFrame;
    h.history[2][h.historyPos] = microsecondsSince(t0);
  } else {
    h.pictureFrame = 0;  // the planes no longer follow the frames
  }
  h.lastDecoded = p.currentFrame;
}

void nextFrame(VornHandleRecord &h) {
  uint32_t n = h.pub.currentFrame < 1 || uint32_t(h.pub.currentFrame) >= h.pub.frameCount
                   ? 1
                   : uint32_t(h.pub.currentFrame) + 1;
  VornLoadFrame(h, n);
}

}  // namespace

void VornLoadFrame(VornHandleRecord &h, uint32_t frame) {
  VornHandle &p = h.pub;
  const uint32_t n = clampFrame(h, frame);
  const uint32_t start = p.frameIndex[n - 1] & ~1u, end = p.frameIndex[n] & ~1u;  // checked at open
  const uint32_t size = end - start;
  uint64_t t0 = kav::os::monotonicNanoseconds();
  p.previousFrame = p.currentFrame;
  if (h.wholeMode) {
    const uint32_t offset = start - h.firstFrameOffset;
    h.frameData = h.wholeStream + offset;
    h.frameBytes = offset < h.wholeBytes ? std::min(size, h.wholeBytes - offset) : 0;
  } else {
    // After a short read the layer delivers nothing more: the frame is then
    // as long as what arrived.
    h.frameBytes = h.io.ops.read(h.io, start, h.frameBuffer, size);
    h.frameData = h.frameBuffer;
    while (h.io.ops.fill(h.io)) {
    }
  }
  p.currentFrame = int32_t(n);
  h.historyPos = h.framesLoaded++ % h.window;
  h.history[0][h.historyPos] = n;
  h.history[1][h.historyPos] = h.frameBytes;
  h.history[2][h.historyPos] = 0;
  h.history[3][h.historyPos] = microsecondsSince(t0);
  h.history[4][h.historyPos] = h.io.held;
}

uint32_t VornKeyFrameBefore(const VornHandleRecord &h, uint32_t frame) {
  for (uint32_t n = clampFrame(h, frame); n >= 1; --n)
    if (h.pub.frameIndex[n - 1] & 1) return n;
  return 1;
}

bool VornVideoData(const VornHandleRecord &h, const uint8_t *&data, uint32_t &bytes) {
  uint32_t pos = 0;
  for (uint32_t t = 0; t < h.pub.trackCount; ++t) {
    if (h.frameBytes - pos < 4) return false;
    uint32_t length = le32(h.frameData + pos);
    if (length > h.frameBytes - pos - 4) return false;
    pos += 4 + length;
  }
  data = h.frameData + pos;
  bytes = h.frameBytes - pos;
  return true;
}

}  // namespace kav::vorn

using namespace kav::vorn;

extern "C" {

KAV_EXPORT int32_t KAVAPI VornDecodeFrame(VornHandle *handle) {
  if (handle) decode(*record(handle));
  return 0;
}

KAV_EXPORT int32_t KAVAPI VornCopyToBuffer(VornHandle *handle, uint8_t *buffer, int32_t pitch, uint32_t height,
                                           int32_t x, int32_t y, uint32_t format) {
  if (!handle || !buffer) return 0;
  VornHandleRecord &h = *record(handle);
  VornHandle &p = h.pub;
  const uint32_t type = format & YUV_TYPE_MASK;
  YUV_init(int32_t(type));
  const uint32_t flags = format | (p.flags & kConverterFlagMask);
  const uint8_t *alpha = p.alphaPlanes[p.currentSet];
  if (type != YUV_TYPE_32BPP && type != YUV_TYPE_32ABPP) return 0;
  if (pitch == 0 || x < 0 || y < 0 || height > 0x7FFFFFFFu) return 0;

  // Only what fits in the caller's buffer is drawn: the rows and columns a
  // scaling mode writes are counted against its height and pitch.
  const int64_t rows = int64_t(height), columns = (pitch < 0 ? -int64_t(pitch) : int64_t(pitch)) / 4;
  const uint32_t mode = (flags & YUV_MODE_MASK) >> 28;
  const int64_t across = mode == 3 || mode == 4 || mode == 5 ? 2 : 1;
  int64_t w = std::min<int64_t>(h.storedWidth, (columns - x) / across);
  int64_t hgt = h.storedHeight;
  switch (mode) {
    case 1: case 4: hgt = std::min(hgt, (rows - y) / 2); break;
    case 2: case 5: hgt = std::min(hgt, (rows - y + 1) / 2); break;
    case 6: hgt = std::min(hgt, 2 * ((rows - 2 * int64_t(y) + 1) / 2)); break;
    default: hgt = std::min(hgt, rows - y); break;
  }
  if (w <= 0 || hgt <= 0) return 0;

  uint8_t *dst = buffer;
  if (pitch < 0) dst += (int64_t(height) - 1) * -int64_t(pitch);
  const uint8_t *src = p.planeSets[p.currentSet];
  if (type == YUV_TYPE_32ABPP && alpha && (p.flags & kFlagAlpha))
    YUV_blit_32abpp(dst, x, y, pitch, src, 0, 0, int32_t(w), int32_t(hgt), int32_t(p.lumaWidth),
                    int32_t(p.lumaHeight), alpha, flags);
  else
    YUV_blit_32bpp(dst, x, y, pitch, src, 0, 0, int32_t(w), int32_t(hgt), int32_t(p.lumaWidth),
                   int32_t(p.lumaHeight), flags);
  return 0;
}

KAV_EXPORT void KAVAPI VornNextFrame(VornHandle *handle) {
  if (handle) nextFrame(*record(handle));
}

KAV_EXPORT void KAVAPI VornGoto(VornHandle *handle, uint32_t frame, uint32_t mode) {
  if (!handle) return;
  VornHandleRecord &h = *record(handle);
  const uint32_t target = clampFrame(h, frame);
  if (mode & 1) {
    VornLoadFrame(h, target);
    return;
  }
  const int32_t current = h.pub.currentFrame;
  if (int32_t(target) == current) return;
  const uint32_t key = VornKeyFrameBefore(h, target);
  // Starting from the current frame is right only while the planes hold the
  // picture it is predicted from (or its own, once decoded).
  const bool onTrack = current >= int32_t(key) && current < int32_t(target) &&
                       (current == int32_t(key) || h.pictureFrame == current || h.pictureFrame == current - 1);
  if (!onTrack) VornLoadFrame(h, key);
  if (uint32_t(h.pub.currentFrame) == target) return;
  decode(h);
  for (;;) {
    nextFrame(h);
    if (uint32_t(h.pub.currentFrame) == target) break;
    decode(h);
  }
}

KAV_EXPORT void KAVAPI VornSetVideoDecoding(VornHandle *handle, int32_t on) {
  if (handle) record(handle)->videoDecoding = on ? 1 : 0;
}

}  // extern "C"
