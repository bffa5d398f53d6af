// The animated GIF target: every frame goes into one GIF file. A GIF counts
// time in hundredths of a second, which rarely divide a frame period evenly,
// so each frame's delay is the step between the rounded-down times at which
// it and the next frame start: the delays then add up to the movie's length
// and no frame drifts by more than a hundredth.
#include <algorithm>
#include <cstring>

#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

// Hundredths of a second from the start to the beginning of frame n.
uint64_t startHundredths(const OGFile &o, uint64_t n) {
  return n * 100u * o.rateDenominator / o.rateNumerator;
}

}  // namespace

bool createGif(Handle *h) {
  OGFile &o = h->pub;
  h->gif = still::gifAnimCreate(o.name, o.width, o.height, h->gifPlays);
  if (!h->gif) {
    report(h, "Error creating the output GIF file.", 2);
    return false;
  }
  std::strcpy(o.description, o.name);
  std::strcpy(h->fileName, o.name);
  return true;
}

void putGif(Handle *h, const void *pixels, const uint8_t *palette) {
  OGFile &o = h->pub;
  if (!h->gif) return;
  // Without a palette of its own a frame takes the latest one (black before
  // any was put).
  const uint8_t *pal = palette ? palette : h->lastPalette;
  const uint64_t n = h->framesPut++;
  const uint64_t delay = startHundredths(o, n + 1) - startHundredths(o, n);
  const int r = still::gifAnimPut(h->gif, static_cast<const uint8_t *>(pixels), o.inputPitch, pal,
                                  static_cast<uint16_t>(std::min<uint64_t>(delay, 0xFFFF)));
  o.frameNumber = still::gifAnimFrames(h->gif);
  o.bytesWritten = static_cast<uint32_t>(std::min<uint64_t>(still::gifAnimBytes(h->gif), 0xFFFFFFFFu));
  if (r != still::kStillOk) writeFailed(h);
}

uint32_t closeGif(Handle *h) {
  if (!h->gif) return 0;
  uint64_t size = 0;
  const int r = still::gifAnimClose(h->gif, &size);
  h->gif = nullptr;
  if (r != still::kStillOk) writeFailed(h);
  return static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
}

}  // namespace kav::og
