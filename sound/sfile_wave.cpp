#include "sound/sfile_wave.h"

#include <cstring>

namespace kav::sfile {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
// The tail of the KSDATAFORMAT_SUBTYPE_PCM GUID after its first two bytes.
constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool readAt(KAVFile *file, uint32_t pos, void *dest, uint32_t count) {
  KAVFileSetPos(file, pos);
  return KAVFileGet(file, dest, count) == count;
}

// Parses a "fmt " chunk's contents; false for anything we cannot play.
bool parseFormat(const uint8_t *c, uint32_t size, WaveFormatInfo &out) {
  if (size < 16) return false;
  const uint16_t tag = le16(c);
  const uint16_t channels = le16(c + 2);
  const uint32_t rate = le32(c + 4);
  const uint16_t bits = le16(c + 14);
  if (tag == kTagExtensible) {
    // cbSize, valid bits, channel mask, then the sub-format GUID.
    if (size < 40 || le16(c + 16) < 22) return false;
    if (le16(c + 24) != kTagPcm || std::memcmp(c + 26, kPcmGuidTail, sizeof kPcmGuidTail) != 0) return false;
  } else if (tag != kTagPcm) {
    return false;
  }
  if (channels < 1 || channels > 2 || rate == 0 || (bits != 8 && bits != 16)) return false;
  out.rate = rate;
  out.bits = bits;
  out.channels = channels;
  return true;
}

}  // namespace

WaveResult readWaveHeader(KAVFile *file, WaveFormatInfo &out) {
  const uint32_t fileSize = KAVFileSize(file);
  uint8_t head[12];
  if (fileSize < 12 || !readAt(file, 0, head, 12)) return WaveResult::NotWave;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return WaveResult::NotWave;

  bool haveFormat = false, haveData = false;
  uint32_t dataOffset = 0, dataBytes = 0;
  uint64_t pos = 12;
  // The RIFF size is not trusted: the walk is bounded by the file itself.
  while (!(haveFormat && haveData)) {
    if (pos + 8 > fileSize) return WaveResult::Bad;  // a chunk we need is missing
    uint8_t chunk[8];
    if (!readAt(file, static_cast<uint32_t>(pos), chunk, 8)) return WaveResult::Bad;
    const uint32_t size = le32(chunk + 4);
    const uint64_t body = pos + 8;
    if (body + size > fileSize) {
      // Only the sound data may be cut short by a damaged size; even there a
      // size past the end means the file is not what it says.
      return WaveResult::Bad;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
      uint8_t fmt[40] = {};
      const uint32_t take = size < sizeof fmt ? size : static_cast<uint32_t>(sizeof fmt);
      if (!readAt(file, static_cast<uint32_t>(body), fmt, take)) return WaveResult::Bad;
      if (!parseFormat(fmt, size, out)) return WaveResult::Bad;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
      dataOffset = static_cast<uint32_t>(body);
      dataBytes = size;
      haveData = true;
    }
    pos = body + size + (size & 1u);
  }
  const uint32_t frame = out.bits / 8 * out.channels;
  out.dataOffset = dataOffset;
  out.dataBytes = dataBytes - dataBytes % frame;
  return WaveResult::Ok;
}

}  // namespace kav::sfile
