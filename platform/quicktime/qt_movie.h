// Our QuickTime / ISO media reader: the movie header and, per track, the
// sample description and the sample tables (stts, stsc, stsz, stco/co64),
// resolved into chunks and samples that all lie inside the file.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kavutil/kavfile.h"

namespace kav::qt {

constexpr uint32_t atomType(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(d));
}

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline uint64_t be64(const uint8_t *p) { return static_cast<uint64_t>(be32(p)) << 32 | be32(p + 4); }

constexpr uint32_t kVideo = atomType('v', 'i', 'd', 'e');
constexpr uint32_t kSound = atomType('s', 'o', 'u', 'n');

// Pictures larger than this are refused.
constexpr uint32_t kMaxDimension = 16384;
constexpr uint64_t kMaxPictureBytes = 1u << 28;

struct Chunk {
  uint64_t offset;
  uint32_t samples;      // from stsc
  uint32_t description;  // 1-based
};

struct Track {
  uint32_t handler = 0;  // kVideo, kSound, ...
  bool enabled = false;
  uint32_t timeScale = 0;
  uint64_t duration = 0;  // media time units
  std::vector<std::vector<uint8_t>> descriptions;  // stsd entries, each whole (size and format first)
  std::vector<Chunk> chunks;
  uint32_t uniformSize = 0;     // stsz sample size, 0 when sizes is used
  uint32_t sampleCount = 0;     // stsz count
  std::vector<uint32_t> sizes;  // per sample
  std::vector<std::pair<uint32_t, uint32_t>> timeRuns;  // stts: count, delta

  // Video: one entry per sample that lies wholly inside the file.
  std::vector<uint64_t> sampleOffset;
  std::vector<uint32_t> sampleSize, sampleDescription;
  std::vector<uint64_t> sampleTime;  // start, media units
  uint64_t sampleEnd = 0;            // end time of the last sample

  uint32_t format(uint32_t description) const;  // codec of entry n (1-based), 0 if none
};

struct Movie {
  ~Movie();
  KAVFile *file = nullptr;
  uint32_t fileSize = 0;
  uint32_t timeScale = 0;
  uint64_t duration = 0;
  std::vector<Track> tracks;

  uint32_t readAt(uint64_t pos, void *dest, uint32_t count);
  // The n-th (1-based) enabled track of a handler type, or null.
  Track *enabledTrack(uint32_t handler, uint32_t n);
};

// Parses the movie; null when the file holds no readable movie atom.
std::unique_ptr<Movie> openMovie(const char *name);

// Resolves a video track's samples (offsets, sizes, times), dropping those
// that do not lie inside the file.
void resolveVideoSamples(const Movie &m, Track &t);

}  // namespace kav::qt
