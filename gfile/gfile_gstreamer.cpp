// Movies read through GStreamer: the codecs and containers our own readers
// do not handle (H.264 in MP4, VP8 in WebM, Theora in Ogg, an AVI of another
// codec...). Frames come as 32-bit pixels in the order blue, green, red,
// unused; a sound file without pictures becomes a sound-only source.
#include <string>

#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"
#include "platform/gstreamer/gst_media.h"

namespace kav::gfile {

namespace {

// A sound file GStreamer decodes (MP3, FLAC, Ogg, Opus...) is a picture-less
// source of the sound's length, as a WAVE file is.
Tried takeSoundOnly(GFile *g, const char *name, std::string *why) {
  kav::gst::Description d;
  kav::gst::Reader *r = nullptr;
  std::string message;
  const kav::gst::Result res = kav::gst::open(name, true, &d, &r, &message);
  if (res != kav::gst::Result::Opened) {
    if (res == kav::gst::Result::Failed) *why = std::string(name) + ": " + message;
    return res == kav::gst::Result::Failed ? Tried::Fatal : Tried::NotThisKind;
  }
  kav::gst::close(r);
  if (d.sound.rate == 0) return Tried::NotThisKind;
  becomeSoundOnly(g, d.sound.samples, d.sound.rate);
  return setName(g, name) ? Tried::Opened : Tried::NotThisKind;
}

}  // namespace

Tried tryGStreamer(GFile *g, const char *name, std::string *why) {
  if (!kav::gst::available()) return Tried::NotThisKind;
  kav::gst::Description d;
  kav::gst::Reader *r = nullptr;
  std::string message;
  const kav::gst::Result res = kav::gst::open(name, false, &d, &r, &message);
  if (res == kav::gst::Result::NotMedia) return d.hasSound && !d.hasVideo ? takeSoundOnly(g, name, why) : Tried::NotThisKind;
  if (res == kav::gst::Result::Failed) {
    *why = std::string(name) + ": " + message;
    return Tried::Fatal;
  }
  if (!setName(g, name)) {
    kav::gst::close(r);
    return Tried::NotThisKind;
  }
  GFileInternal &s = state(g);
  s.gstreamer = r;
  setKind(g, GFILE_KIND_GSTREAMER, kav::gst::kindName(d, false).c_str());
  g->sourceWidth = d.video.width;
  g->sourceHeight = d.video.height;
  g->sourceBits = 32;
  g->nativeRateNumerator = d.video.rateNumerator;
  g->nativeRateDenominator = d.video.rateDenominator;
  g->totalFrames = d.video.frameCount;
  g->hasSound = d.hasSound ? 1 : 0;
  s.kindPitch = d.video.width * 4;
  return Tried::Opened;
}

bool readGStreamer(GFile *g) {
  GFileInternal &s = state(g);
  // The frames before the range are reported as skipped; the reader itself
  // goes straight to the first one wanted.
  if (!s.skipDone) {
    s.skipDone = true;
    if (s.firstIndex) report(g, 1, "Skipping frame %li...", 1L);
  }
  const uint8_t *pixels = kav::gst::frame(s.gstreamer, s.firstIndex + g->framesRead);
  if (!pixels) return false;
  g->frameBase = const_cast<uint8_t *>(pixels);
  s.sourcePitch = s.kindPitch;
  g->frameBits = 32;
  // Decoded frames do not tell their compressed size: the average.
  g->frameDataSize = g->totalFrames ? g->fileSize / g->totalFrames : g->fileSize;
  return true;
}

}  // namespace kav::gfile
