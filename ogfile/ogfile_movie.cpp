// The compressed movie targets: MP4, WebM and Matroska, written by GStreamer's
// encoders and muxers. 32-bit frames go to the encoder as they are; 8-bit
// frames are looked up in their palette first. The sound arrives through the
// usual sound calls (ogfile_sound.cpp). The close finishes the file whether
// all frames came or the caller stopped early, so a cancelled conversion
// leaves a movie that plays.
#include <algorithm>
#include <cstring>
#include <string>

#include "kavutil/kavbase.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

// The usual write-error message, with GStreamer's reason.
void failed(Handle *h, const std::string &why) {
  if (!h->errorReported && !why.empty()) {
    const std::string text = "Error writing the output file: " + why;
    report(h, text.c_str(), 2);
    h->errorReported = 1;
  }
  writeFailed(h);
}

}  // namespace

bool createMovie(Handle *h) {
  OGFile &o = h->pub;
  std::strcpy(h->fileName, o.name);
  std::strcpy(o.description, o.name);
  gst::EncodeSettings s;
  s.container = o.kind == OGFILE_MP4 ? gst::Container::Mp4
                : o.kind == OGFILE_WEBM ? gst::Container::WebM
                                        : gst::Container::Matroska;
  s.width = o.width;
  s.height = o.height;
  s.rateNumerator = o.rateNumerator;
  s.rateDenominator = o.rateDenominator;
  s.frameCount = o.frameCount;
  s.quality = std::clamp(h->settings.compressor.quality, 0, 10000);
  std::string why;
  if (!o.trueColour) {
    h->movieFrame = static_cast<uint8_t *>(kavmalloc(size_t{o.width} * o.height * 4));
    if (!h->movieFrame) why = "out of memory";
  }
  if (why.empty()) h->movie = gst::encoderCreate(o.name, s, &why);
  if (!h->movie) {
    const std::string text = "Error creating the output movie: " + why + ".";
    report(h, text.c_str(), 2);
    return false;
  }
  return true;
}

void putMovie(Handle *h, const void *pixels, const uint8_t *palette) {
  OGFile &o = h->pub;
  if (!h->movie || o.errorFlag) return;
  const uint8_t *frame = static_cast<const uint8_t *>(pixels);
  size_t pitch = size_t{o.inputPitch} * 4;
  if (!o.trueColour) {
    // Without a palette of its own a frame takes the latest one (black
    // before any was put).
    const uint8_t *pal = palette ? palette : h->lastPalette;
    uint32_t table[256];
    for (int i = 0; i < 256; ++i)
      table[i] = uint32_t{pal[3 * i]} << 16 | uint32_t{pal[3 * i + 1]} << 8 | pal[3 * i + 2];
    const auto *src = static_cast<const uint8_t *>(pixels);
    auto *dst = reinterpret_cast<uint32_t *>(h->movieFrame);
    for (uint32_t y = 0; y < o.height; ++y)
      for (uint32_t x = 0; x < o.width; ++x) dst[size_t{y} * o.width + x] = table[src[size_t{y} * o.inputPitch + x]];
    frame = h->movieFrame;
    pitch = size_t{o.width} * 4;
  }
  std::string why;
  if (!gst::encoderPicture(h->movie, frame, pitch, &why)) {
    failed(h, why);
    return;
  }
  ++o.frameNumber;
  o.bytesWritten = static_cast<uint32_t>(std::min<uint64_t>(gst::encoderBytes(h->movie), 0xFFFFFFFFu));
}

bool createMovieSound(Handle *h, uint32_t rate, uint32_t bits, uint32_t channels) {
  std::string why;
  if (!h->movie || !gst::encoderAddSound(h->movie, rate, bits, channels, &why)) {
    if (!why.empty()) report(h, why.c_str(), 2);
    return false;
  }
  h->movieSound = 1;
  return true;
}

void putMovieSound(Handle *h, const void *data, uint32_t bytes) {
  std::string why;
  if (!h->movie || h->pub.errorFlag || !data) return;
  if (!gst::encoderSound(h->movie, static_cast<const uint8_t *>(data), bytes, &why)) failed(h, why);
}

uint32_t closeMovie(Handle *h) {
  uint64_t size = 0;
  if (h->movie) {
    std::string why;
    const bool ok = gst::encoderFinish(h->movie, &size, &why);
    h->movie = nullptr;
    if (!ok && !h->pub.errorFlag) failed(h, why);
  }
  kavfree(h->movieFrame);
  h->movieFrame = nullptr;
  return static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
}

}  // namespace kav::og
