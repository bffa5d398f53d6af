// Animated GIF: a writer that turns a stream of 8-bit frames with their
// palettes into one GIF89a animation, and a reader that composes an
// animation's frames back into whole pictures (for checking what was
// written, and for anyone who needs every frame rather than the first).
//
// The writer's global colour table holds the first frame's palette, the
// colours that frame shows first, so that a frame using only those codes in
// as few bits as they need. A frame whose palette changed is coded against
// the global table when every colour it must show is there or fits in the
// table's room left by a palette of fewer than 256 colours (slots no
// earlier frame refers to, written into the file's table in place), and
// otherwise brings a local table of just those colours. Frames with the first
// palette never need one. Each frame stores only the rectangle whose
// colours changed on screen, with the unchanged pixels made transparent
// when that codes smaller. The decoded colours are exactly those put; the
// indices are the writer's own. Every frame reaches the file whole before
// the next is begun, so a failed write or an early close leaves a valid
// animation of the frames written so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/stillimage/still_image.h"

namespace kav::still {

// Largest side a GIF can state.
inline constexpr uint32_t kGifMaxSide = 65535;

struct GifAnimation;

// Creates (or empties) the file for an animation of width x height pixels
// (1..kGifMaxSide) that plays `plays` times, 0 for ever. Null when the file
// cannot be created or out of memory.
GifAnimation *gifAnimCreate(const char *fileName, uint32_t width, uint32_t height, uint32_t plays);
// Adds a frame of height rows of width 8-bit indices, top row first, rows
// pitchBytes apart; paletteRgb is 256 R, G, B triples; the frame shows for
// delayHundredths of a second. kStillOk, or kStillWriteFailed once a write
// has failed (later frames are refused), or kStillNoMemory.
int gifAnimPut(GifAnimation *anim, const uint8_t *pixels, size_t pitchBytes, const uint8_t *paletteRgb,
               uint16_t delayHundredths);
// Frames that reached the file whole, and the bytes they end at.
uint32_t gifAnimFrames(const GifAnimation *anim);
uint64_t gifAnimBytes(const GifAnimation *anim);
// Ends the animation (the trailer) and closes the file. sizeBytes gets the
// file's final size. kStillOk, or kStillWriteFailed when any write failed:
// the file then holds the frames that reached it whole, and a trailer.
int gifAnimClose(GifAnimation *anim, uint64_t *sizeBytes);

// One composed frame of an animation: the whole logical screen as
// 0x00RRGGBB, transparent places showing what was there before (the
// background of a fresh screen counts as 0).
struct GifComposedFrame {
  std::vector<uint32_t> rgb;
  uint16_t delayHundredths;
  bool localTable;  // the frame brought its own colour table
  uint32_t left, top, width, height;  // the frame's rectangle as stored
  int transparentIndex;               // -1 when none
};
struct GifComposed {
  uint32_t width = 0, height = 0;
  int loopCount = -1;  // the NETSCAPE2.0 count (0 for ever), -1 without one
  bool globalTable = false;
  std::vector<GifComposedFrame> frames;
};
// Reads an animation and composes its frames (disposal methods honoured).
// Refuses screens larger than kMaxSide and more than maxFrames frames.
int gifAnimRead(const uint8_t *data, size_t size, uint32_t maxFrames, GifComposed *out);

// One image of an animation as stored: its colour indices (the part on the
// screen), its colours and how it is shown.
struct GifImage {
  uint32_t left = 0, top = 0, width = 0, height = 0;  // the rectangle as stored
  uint32_t clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;  // its part on the screen (ends exclusive)
  std::vector<uint8_t> indices;  // clipRight - clipLeft a row, top row first
  uint32_t colours[256] = {};    // 0x00RRGGBB; indices past the table show its first colour
  int transparentIndex = -1;
  int disposal = 0;  // giflib's DISPOSE_*
  uint16_t delayHundredths = 0;
  bool localTable = false;
};

// Plays an animation frame by frame: the images are decoded once and kept as
// indices (about a byte a pixel of what each image covers), and a frame is
// composed when it is asked for, from the one before. Asking for an earlier
// frame starts again from the first.
class GifPlayer {
 public:
  // Decodes every image of the animation in `data`. Refuses screens larger
  // than kMaxSide, more than maxFrames images and more than maxImageBytes of
  // images (kStillTooLarge). After an error the images decoded before it
  // stay (a cut animation still plays them).
  int read(const uint8_t *data, size_t size, uint32_t maxFrames, uint64_t maxImageBytes);
  // The same for the file at `path`.
  int readFile(const char *path, uint32_t maxFrames, uint64_t maxImageBytes);

  uint32_t width = 0, height = 0;
  int loopCount = -1;  // the NETSCAPE2.0 count (0 for ever), -1 without one
  bool globalTable = false;
  std::vector<GifImage> images;

  // The whole screen once frame `index` (below images.size()) is drawn:
  // width x height pixels 0x00RRGGBB, transparent places showing what was
  // there before (a fresh screen is 0). Valid until the next call.
  const uint32_t *frame(size_t index);

 private:
  void draw(size_t index);
  std::vector<uint32_t> screen_, saved_;
  size_t drawn_ = 0;  // images drawn on screen_
};

}  // namespace kav::still
