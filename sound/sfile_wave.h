// The WAVE walk: RIFF header, then chunks (tag, little-endian size, contents
// padded to an even size) until "fmt " and "data" are both known.
#pragma once

#include <cstdint>

#include "kavutil/kavfile.h"

namespace kav::sfile {

struct WaveFormatInfo {
  uint32_t rate = 0, bits = 0, channels = 0;
  uint32_t dataOffset = 0;  // first data byte
  uint32_t dataBytes = 0;   // whole sample frames only
};

enum class WaveResult {
  NotWave,  // no "RIFF" ... "WAVE" header: some other kind of file
  Ok,
  Bad,      // a WAVE file we cannot play: damaged or an unsupported format
};

// Reads from the start of the file; the position afterwards is undefined.
WaveResult readWaveHeader(KAVFile *file, WaveFormatInfo &out);

}  // namespace kav::sfile
