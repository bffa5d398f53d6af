// The graphics output's private side: the full handle record (the public
// fields first, then the image storage and the bookkeeping the targets need)
// and the operations the target files share.
#pragma once

#include <cstdint>

#include "kavutil/ogfile.h"
#include "platform/avi/avi_file.h"
#include "platform/gstreamer/gst_encode.h"
#include "platform/stillimage/still_gif_anim.h"
#include "platform/stillimage/still_image.h"

namespace kav::og {

// What a program can set beyond the public create call: the compressor and,
// for tests, the AVI writer's options.
struct Settings {
  OGFileCompressor compressor{OGFILE_COMPRESS_NONE, 0};
  avi::WriterOptions writer{};
};

struct Handle {
  OGFile pub;
  still::StillImage image;  // the still-image descriptor the public field points to
  Settings settings;
  // The output's name, for its size and the Flic check after the close.
  char fileName[KAV_NAME_MAX];
  uint32_t dibImageBytes;
  uint32_t flicWidth;       // width rounded up to 4
  uint8_t *flicFrame;       // repacked frame when the caller's pitch differs
  uint32_t errorReported;   // the write-error message went out
  uint32_t flicFull;        // the Flic took no more frames (and said so)
  uint32_t soundBlockAlign;
  uint32_t soundBytesPerSecond;
  uint32_t havePalette;
  uint8_t lastPalette[768];  // the palette of the latest 8-bit frame
  // The animated GIF target (a ".gif" with OGFILE_GIF_ANIMATION).
  uint32_t gifAnimation;
  uint32_t gifPlays;
  uint32_t framesPut;  // frames given to the GIF, which time the next one
  still::GifAnimation *gif;
  // The compressed movie targets (MP4, WebM, Matroska through GStreamer).
  gst::Encoder *movie;
  uint8_t *movieFrame;  // the frame as 32-bit pixels for an 8-bit caller
  uint32_t movieSound;  // the sound track was declared
};

inline Handle *full(OGFile *h) { return reinterpret_cast<Handle *>(h); }

// The targets GStreamer writes.
inline bool isMovieKind(uint32_t kind) { return kind == OGFILE_MP4 || kind == OGFILE_WEBM || kind == OGFILE_MATROSKA; }

// The 32-bit byte counts of the handle stop at their largest value rather
// than wrap (an AVI passes 4 GiB).
inline uint32_t addBytes(uint32_t total, uint32_t more) {
  return more > 0xFFFFFFFFu - total ? 0xFFFFFFFFu : total + more;
}

// Messages through the handle's callback (none without one).
void report(Handle *h, const char *text, int32_t code);
// Sets the error flag, and tells the caller once.
void writeFailed(Handle *h);

// Target set-up; each returns false after its own message.
bool createFlic(Handle *h);
bool createAvi(Handle *h);
bool createStill(Handle *h);
bool createGif(Handle *h);
bool createMovie(Handle *h);

void putFlic(Handle *h, const void *pixels, const uint8_t *palette);
void putAvi(Handle *h, const void *pixels, const uint8_t *palette);
void putStill(Handle *h, const void *pixels, const uint8_t *palette);
void putGif(Handle *h, const void *pixels, const uint8_t *palette);
void putMovie(Handle *h, const void *pixels, const uint8_t *palette);

uint32_t closeFlic(Handle *h);
uint32_t closeAvi(Handle *h);
uint32_t closeStill(Handle *h);
uint32_t closeGif(Handle *h);
uint32_t closeMovie(Handle *h);

// The movie's sound track: declared once (false after the message), then
// whole blocks.
bool createMovieSound(Handle *h, uint32_t rate, uint32_t bits, uint32_t channels);
void putMovieSound(Handle *h, const void *data, uint32_t bytes);

// Copies a caller's frame (top row first, pitch in pixels) into a bottom-up
// picture whose top row is at `top` and whose rows are `pitch` bytes apart
// (negative). 32-bit frames give B, G, R; 8-bit frames at 24 bits are looked
// up in the palette; 8-bit frames at 8 bits are copied.
void copyFrame(const Handle *h, const void *pixels, const uint8_t *palette, uint8_t *top, int32_t pitch);
// The 256 RGB triples as a DIB colour table (B, G, R, 0 per entry).
void paletteToTable(const uint8_t *palette, uint8_t *table);

// Makes a damaged Flic's header count only the frames it holds in full.
bool repairFlic(const char *name);

// Creates with settings beyond the public call's (tests, the compressed
// create).
OGFile *createWith(const char *name, uint32_t frameCount, uint32_t rateNumerator, uint32_t rateDenominator,
                         uint32_t width, uint32_t height, uint32_t inputPitch, KAVStatusCallback callback,
                         uint32_t options, uint32_t colourMode, const Settings &settings);

}  // namespace kav::og
