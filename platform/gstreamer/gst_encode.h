// Writing compressed movies through GStreamer's encoders and muxers: MP4
// (H.264 with AAC), WebM (VP9 with Opus) and Matroska (H.264 or VP9 with
// FLAC). Pictures arrive as 32-bit pixels and sound as PCM, each with its
// place in time taken from the count given so far, so the two stay in step
// whatever the encoders' delays. No GStreamer type appears here; without
// GStreamer every create declines with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kav::gst {

enum class Container { Mp4, WebM, Matroska };

struct EncodeSettings {
  Container container = Container::Mp4;
  uint32_t width = 0, height = 0;
  uint32_t rateNumerator = 0, rateDenominator = 0;
  uint32_t frameCount = 0;  // frames expected: an MP4 keeps room for their index at its front
  // 1 (smallest) .. 10000 (best), mapped onto the encoder's rate control;
  // 0 takes the encoder's usual default for sharing.
  int32_t quality = 0;
};

class Encoder;

// Checks that every element the container needs is installed and makes the
// encoder; nothing touches `path` until the first picture is written. Null
// with *message telling what is missing (element and Debian package) or what
// failed.
Encoder *encoderCreate(const char *path, const EncodeSettings &s, std::string *message);

// Adds the sound track: PCM of `bits` (8 unsigned; 16, 24 or 32 signed,
// little-endian)
// and `channels` (1..8) at `rate`. Only before the second picture: the muxer
// takes no new stream once it has started. False with *message otherwise.
bool encoderAddSound(Encoder *e, uint32_t rate, uint32_t bits, uint32_t channels, std::string *message);

// One picture: rows of width x 4 bytes (blue, green, red, unused), `pitch`
// bytes apart, top row first. False with *message once the pipeline failed
// (a write error, an encoder error); the pictures before stay in the file.
bool encoderPicture(Encoder *e, const uint8_t *bgrx, size_t pitch, std::string *message);

// Whole sample frames of sound in the format of encoderAddSound.
bool encoderSound(Encoder *e, const uint8_t *pcm, size_t bytes, std::string *message);

// Bytes in the file so far.
uint64_t encoderBytes(Encoder *e);

// Ends both streams and waits until the muxer has finished the file, so that
// a movie cut short still plays; then frees the encoder. False with *message
// when the file could not be finished. *bytes is the file's size.
bool encoderFinish(Encoder *e, uint64_t *bytes, std::string *message);

}  // namespace kav::gst
