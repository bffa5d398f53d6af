// An independent Zanther writer for tests: encodes pictures into runs of the
// four block types with the Huff word coders for the four trees, and builds
// palette chunks and sound chunks of each kind.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kavtest::zantw {

struct PaletteCommand {
  enum Kind { Keep, Copy, Literal } kind;
  uint32_t count = 1;  // Keep: 1..128, Copy: 1..64
  uint32_t from = 0;   // Copy: first old entry
  uint8_t red = 0, green = 0, blue = 0;  // Literal: levels 0..63
  static PaletteCommand keep(uint32_t n) { return {Keep, n, 0, 0, 0, 0}; }
  static PaletteCommand copy(uint32_t n, uint32_t from) { return {Copy, n, from, 0, 0, 0}; }
  static PaletteCommand literal(uint8_t r, uint8_t g, uint8_t b) { return {Literal, 1, 0, r, g, b}; }
};

struct Frame {
  std::vector<uint8_t> pixels;  // Width x stored Height; empty: repeat the previous picture
  bool hasPalette = false;
  std::vector<PaletteCommand> palette;
  std::vector<uint8_t> paletteChunkBytes;  // used instead of `palette` when not empty
  std::array<std::vector<uint8_t>, 7> sound;  // complete chunks (length word first); empty: none
  std::vector<uint8_t> rawVideo;  // hand-built video data used instead of encoding pixels
};

struct Movie {
  uint32_t version = 4;  // 2 or 4
  uint32_t width = 0, height = 0;  // stored height
  int32_t framePeriod = 66;
  uint32_t fileFlags = 0;  // bit 0 ring frame: the last entry of `frames` is the ring frame
  std::array<uint32_t, 7> trackInfo{};
  std::vector<Frame> frames;
  bool useUnchanged = true;  // unchanged blocks for frames after the first
  bool useQuarters = true;   // version 4 quarter and half-row modes
};

// The whole file. The ring frame is coded against the last frame.
std::vector<uint8_t> writeMovie(const Movie &movie);

// Block statistics of the last writeMovie call (solid, unchanged, two-colour,
// full normal, quarters, half rows).
struct BlockCounts {
  uint64_t solid = 0, unchanged = 0, twoColour = 0, full = 0, quarters = 0, halfRows = 0;
};
BlockCounts lastBlockCounts();

std::vector<uint8_t> paletteChunk(const std::vector<PaletteCommand> &commands);

std::vector<uint8_t> rawSoundChunk(const std::vector<uint8_t> &pcm);
// Delta-coded chunk: pcm holds whole sample frames (at least two).
std::vector<uint8_t> deltaSoundChunk(const std::vector<uint8_t> &pcm, bool stereo, bool wide);
// Transform-coded chunk from the encoder's frames and the unpacked count.
std::vector<uint8_t> transformSoundChunk(const std::vector<std::vector<uint8_t>> &frames, uint32_t unpacked);

uint32_t trackWord(uint32_t rate, bool stereo, bool wide, bool compressed, bool transform);

}  // namespace kavtest::zantw
