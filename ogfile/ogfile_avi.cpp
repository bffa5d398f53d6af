// The AVI target: frames become DIBs written as key frames to the video
// stream (through Motion-JPEG when the program chose it), at a rate of
// numerator / denominator frames per second. The writer keeps the books of
// what reached the file and writes the headers and indexes at its close,
// also after a failed write; the close here only tells the caller.
#include <algorithm>
#include <cstring>

#include "kavutil/avi.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

constexpr int32_t kDialogQuality = 9999;  // what the compression options asked for

avi::Writer *writerOf(const OGFile &o) { return static_cast<avi::Writer *>(o.aviFile); }
avi::WriteStream *videoOf(const OGFile &o) { return static_cast<avi::WriteStream *>(o.videoStream); }

uint32_t tableBytes(const OGFile &o) { return o.bits == 8 ? 256 * 4 : 0; }

bool failCreate(Handle *h) {
  OGFile &o = h->pub;
  if (o.aviFile) {
    avi::fileRelease(writerOf(o));
    o.aviFile = nullptr;
    KAVFileErase(h->fileName);  // nothing of it was usable
  }
  report(h, "Error creating the output AVI file.", 2);
  return false;
}

}  // namespace

bool createAvi(Handle *h) {
  OGFile &o = h->pub;
  std::strcpy(h->fileName, o.name);
  std::strcpy(o.description, o.name);
  const OGFileCompressor &c = h->settings.compressor;
  if (c.handler != OGFILE_COMPRESS_NONE && c.handler != OGFILE_COMPRESS_MJPEG) return failCreate(h);
  KAVAVIInit();
  KAVFileErase(o.name);
  o.aviFile = avi::fileCreate(o.name, &h->settings.writer);
  if (!o.aviFile) return failCreate(h);

  const uint32_t row = avi::dibRowBytes(o.width, o.bits);
  const uint64_t image = uint64_t{row} * o.height;
  if (o.width > avi::kMaxDimension || o.height > avi::kMaxDimension || image > avi::kMaxFrameBytes)
    return failCreate(h);
  h->dibImageBytes = static_cast<uint32_t>(image);
  const uint32_t headerBytes = sizeof(avi::BitmapInfoHeader) + tableBytes(o);
  auto *dib = static_cast<uint8_t *>(kavmalloc(headerBytes + h->dibImageBytes));
  if (!dib) return failCreate(h);
  std::memset(dib, 0, headerBytes + h->dibImageBytes);
  o.dibHeader = dib;
  avi::BitmapInfoHeader b{};
  b.biSize = sizeof b;
  b.biWidth = static_cast<int32_t>(o.width);
  b.biHeight = static_cast<int32_t>(o.height);  // positive: bottom-up
  b.biPlanes = 1;
  b.biBitCount = static_cast<uint16_t>(o.bits);
  b.biCompression = avi::kCompressionRgb;
  b.biSizeImage = h->dibImageBytes;
  b.biClrUsed = o.bits == 8 ? 256 : 0;
  std::memcpy(dib, &b, sizeof b);
  o.dibPalette = o.bits == 8 ? dib + sizeof b : nullptr;
  o.dibPitch = -static_cast<int32_t>(row);
  o.dibTopRow = dib + headerBytes + size_t{row} * (o.height - 1);

  avi::StreamInfo info{};
  info.fccType = avi::kStreamVideo;
  info.fccHandler = avi::kHandlerDib;  // the frames are plain DIBs
  info.dwScale = o.rateDenominator;
  info.dwRate = o.rateNumerator;
  info.dwSuggestedBufferSize = h->dibImageBytes;
  info.dwQuality = -1;
  info.rcFrame = {0, 0, static_cast<int32_t>(o.width), static_cast<int32_t>(o.height)};
  o.uncompressedStream = avi::fileCreateStream(writerOf(o), info);
  if (!o.uncompressedStream) return failCreate(h);
  o.videoStream = o.uncompressedStream;
  if (c.handler == OGFILE_COMPRESS_MJPEG) {
    const avi::Compression compression{avi::kHandlerMjpeg, c.quality > 0 ? c.quality : kDialogQuality};
    avi::WriteStream *compressed =
        avi::makeCompressedStream(static_cast<avi::WriteStream *>(o.uncompressedStream), compression);
    if (compressed) o.videoStream = compressed;
  }
  o.aviReady = 1;
  return true;
}

void putAvi(Handle *h, const void *pixels, const uint8_t *palette) {
  OGFile &o = h->pub;
  if (!o.aviReady) return;
  copyFrame(h, pixels, palette, o.dibTopRow, o.dibPitch);
  if (o.bits == 8) paletteToTable(palette ? palette : h->lastPalette, o.dibPalette);
  auto *dib = static_cast<uint8_t *>(o.dibHeader);
  const int32_t formatBytes = static_cast<int32_t>(sizeof(avi::BitmapInfoHeader) + tableBytes(o));
  const int32_t index = static_cast<int32_t>(o.frameNumber);
  int32_t samples = 0, bytes = 0;
  bool ok = avi::streamSetFormat(videoOf(o), index, dib, formatBytes);
  ok = ok && avi::streamWrite(videoOf(o), index, 1, dib + formatBytes, static_cast<int32_t>(h->dibImageBytes),
                              avi::kKeyFrame, &samples, &bytes);
  ++o.frameNumber;
  if (!ok) writeFailed(h);
  o.bytesWritten = addBytes(o.bytesWritten, static_cast<uint32_t>(bytes));
}

uint32_t closeAvi(Handle *h) {
  OGFile &o = h->pub;
  bool ok = true;
  uint64_t size = 0;
  if (o.aviFile) {
    if (o.videoStream) avi::streamRelease(videoOf(o));
    if (o.uncompressedStream && o.uncompressedStream != o.videoStream)
      avi::streamRelease(static_cast<avi::WriteStream *>(o.uncompressedStream));
    if (o.soundStream) avi::streamRelease(static_cast<avi::WriteStream *>(o.soundStream));
    ok = avi::fileRelease(writerOf(o), &size);
    o.aviFile = o.videoStream = o.uncompressedStream = o.soundStream = nullptr;
  }
  if ((!ok || o.errorFlag) && o.aviReady) writeFailed(h);
  kavfree(o.dibHeader);
  o.dibHeader = nullptr;
  // The 32-bit size of the interface: an OpenDML file past 4 GiB reports
  // the largest value it holds.
  return o.aviReady ? static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu)) : 0;
}

}  // namespace kav::og
