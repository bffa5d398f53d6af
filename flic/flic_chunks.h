// Decoding of one frame's chunks into an 8-bit picture and a palette.
//
// The frame data comes from a file and may be damaged: every count, skip
// and run is read through a bounded cursor, and every write is clipped to
// the picture (width x height inside the caller's pitch), so no input can
// read outside the frame data or write outside the picture and the palette.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::flic {

struct Canvas {
  uint8_t *pixels;
  size_t pitchBytes;
  uint32_t width;
  uint32_t height;
};

// Applies up to chunkCount chunks from data[0..size) in file order, each
// starting where the previous one's size says. Returns true when a colour
// chunk (type 4 or 11) was among them.
bool applyFrameChunks(const uint8_t *data, size_t size, uint32_t chunkCount, const Canvas &canvas,
                      uint8_t *palette);

// The single chunk decoders. `data` runs from the chunk's data to the end of
// the frame data: a damaged chunk size cannot move the bound.
void decodeColour(const uint8_t *data, size_t size, uint8_t *palette, bool sixBitLevels);
void decodeWordDelta(const uint8_t *data, size_t size, const Canvas &canvas);
void decodeByteDelta(const uint8_t *data, size_t size, const Canvas &canvas);
void decodeByteRun(const uint8_t *data, size_t size, const Canvas &canvas);
void decodeCopy(const uint8_t *data, size_t size, const Canvas &canvas);
void decodeBlack(const Canvas &canvas);

}  // namespace kav::flic
