// A writer of whole Vorn files for the tests: header, track tables, frame
// index with key-frame bits, and frames made of sound chunks and video data
// (the video from the frame writer, the sound from the transform encoder).
// Fields can be overridden to make damaged files.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kav::sound {
struct TransformEncoder;
}

namespace kavtest::vornf {

constexpr uint32_t kHeaderBytes = 44;

struct Track {
  uint32_t descriptor = 0;
  uint32_t id = 0;
  std::optional<uint32_t> largestSound;  // default: the largest decoded count of its chunks
};

struct Frame {
  bool key = false;
  std::vector<std::vector<uint8_t>> sound;  // one chunk per track (without its length word)
  std::vector<uint8_t> video;
};

struct FileDesc {
  char version = 'i';
  uint32_t width = 0, height = 0;
  uint32_t rateNumerator = 30, rateDenominator = 1;
  uint32_t videoFlags = 0;
  std::vector<Track> tracks;
  std::vector<Frame> frames;
  // Overrides of computed header fields, for damaged files.
  std::optional<uint32_t> frameCount, largestFrame, lastEntry, streamSize, trackCount;
  uint32_t extraIndexEntries = 0;  // entries beyond the end entry (F larger than the frame count)
  uint32_t gapBytes = 0;           // bytes between the index and frame 1
  uint32_t trailingBytes = 0;      // bytes after the last frame inside the stream
};

struct Layout {
  uint32_t indexOffset;                // stream offset of index entry 0
  std::vector<uint32_t> frameOffsets;  // stream offset of each frame, and the end
};

std::vector<uint8_t> writeFile(const FileDesc &desc, Layout *layout = nullptr);

uint32_t descriptor(uint32_t rate, bool stereo, bool sixteenBit, bool readable = true);

void putLe32(std::vector<uint8_t> &out, uint32_t v);
void setLe32(std::vector<uint8_t> &out, size_t at, uint32_t v);
uint32_t getLe32(const std::vector<uint8_t> &in, size_t at);

// Makes the sound chunks of one track: each chunk is its decoded byte count
// then transform frames of a test signal (a tone per channel and some
// noise, from `seed`), continuing from chunk to chunk.
class SoundTrackEncoder {
 public:
  SoundTrackEncoder(uint32_t rate, uint32_t channels, uint32_t seed, uint32_t level = 20);
  ~SoundTrackEncoder();
  SoundTrackEncoder(const SoundTrackEncoder &) = delete;
  SoundTrackEncoder &operator=(const SoundTrackEncoder &) = delete;
  // `blocks` frames; the count word says blocks x (N - L) x 2 minus cutBytes.
  std::vector<uint8_t> chunk(unsigned blocks, uint32_t cutBytes = 0);
  uint32_t blockBytes() const;  // (N - L) x 2

 private:
  kav::sound::TransformEncoder *encoder_;
  uint32_t channels_, rate_, seed_;
  uint64_t t_ = 0;
  uint32_t level_;
};

}  // namespace kavtest::vornf
