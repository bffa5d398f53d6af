// Compressed movies and sound through GStreamer: the codecs our own AVI and
// QuickTime readers do not decode, and the containers they do not parse
// (MP4, Matroska, WebM, Ogg, MP3, FLAC...). A file is first described, then
// opened for its pictures (32-bit pixels) or for its sound (PCM). No
// GStreamer type appears here; without GStreamer every call declines.
#pragma once

#include <cstdint>
#include <string>

namespace kav::gst {

struct VideoStream {
  uint32_t width = 0, height = 0;
  uint32_t rateNumerator = 0, rateDenominator = 0;  // reduced
  uint32_t frameCount = 0;
  bool variableRate = false;  // the stream gave no rate: the average of its frames
};

struct SoundStream {
  uint32_t rate = 0;
  uint32_t channels = 0;  // 1 or 2 as delivered (more are mixed down to 2)
  uint32_t bits = 0;      // 8 or 16 as delivered
  uint64_t samples = 0;   // sample frames of the whole stream
};

struct Description {
  bool hasVideo = false, hasSound = false;
  VideoStream video;
  SoundStream sound;
  std::string container;   // "MP4", "WebM", "Ogg"...; empty for a bare stream (MP3, FLAC)
  std::string videoCodec;  // "H.264", "VP8"...
  std::string soundCodec;  // "AAC", "Opus"...
  uint64_t durationNs = 0;
};

enum class Result {
  Opened,
  NotMedia,   // not a file GStreamer recognises as a movie or sound file
  Failed,     // recognised, but it cannot be read (damaged, missing decoder); the message says why
};

// True when the library was built with GStreamer and it starts on this machine.
bool available();

// "GStreamer: H.264 in MP4", or for sound "GStreamer: Opus in Ogg".
std::string kindName(const Description &d, bool sound);

// Reads one stream of a file: video frames or sound samples.
class Reader;

// Describes `path` and opens its pictures (forSound false) or its sound.
// On Failed, *message tells why ("no decoder for H.265 is installed...").
Result open(const char *path, bool forSound, Description *d, Reader **reader, std::string *message);

// Turns the GStreamer source off for the rest of the process: every open
// answers NotMedia. The graphics-input fuzz targets explore our own paths
// with it; GStreamer's waits would hide their time-outs (it decodes on
// threads of its own) and it has a fuzz target of its own.
void disable();

// The picture shown at frame `index` (0-based, below the frame count): top
// row first, width x 4 bytes a row, blue, green, red, unused. Null when the
// stream broke off; earlier frames may be asked for again (the stream then
// starts over).
const uint8_t *frame(Reader *r, uint32_t index);

// Up to `bytes` bytes of sound (whole sample frames, interleaved, 16-bit
// little-endian or unsigned 8-bit) into `out`; 0 at the end. The sound is
// padded with silence or cut to exactly the described length.
uint32_t readSound(Reader *r, uint8_t *out, uint32_t bytes);

// Back to the first frame or the first sample; false when the stream cannot
// be started again.
bool rewind(Reader *r);

void close(Reader *r);

}  // namespace kav::gst
