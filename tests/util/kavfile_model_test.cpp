// A long randomised run of mixed bit fields, bytes, words, seeks and reads,
// checked step by step against a plain in-memory model of the bit stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kavutil/kavfile.h"
#include "support/temp_dir.h"

namespace {

// The file as a byte vector and a bit position. Writing a byte's first bit
// replaces the byte (a partial byte is built up from zero); aligning a write
// pads the byte with zero bits.
class BitModel {
 public:
  void putBits(uint32_t value, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) putBit((value >> i) & 1u);
  }
  uint32_t getBits(uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t byte = bit_ / 8;
      const uint32_t b = byte < bytes_.size() ? (bytes_[byte] >> (bit_ % 8)) & 1u : 0u;
      v |= b << i;
      ++bit_;
    }
    return v;
  }
  void align() { bit_ = (bit_ + 7) / 8 * 8; }
  void seek(uint64_t byte) { bit_ = byte * 8; }
  uint64_t bytePos() const { return bit_ / 8; }
  uint32_t bitPos() const { return bit_ % 8; }
  uint64_t size() const { return bytes_.size(); }
  const std::vector<uint8_t> &bytes() const { return bytes_; }

 private:
  void putBit(uint32_t b) {
    const uint64_t byte = bit_ / 8;
    if (byte >= bytes_.size()) bytes_.resize(byte + 1, 0);
    if (bit_ % 8 == 0) bytes_[byte] = 0;
    bytes_[byte] |= static_cast<uint8_t>(b << (bit_ % 8));
    ++bit_;
  }

  std::vector<uint8_t> bytes_;
  uint64_t bit_ = 0;
};

void runModel(int32_t bufferSize, uint32_t seed, int segments) {
  SCOPED_TRACE(testing::Message() << "buffer " << bufferSize << " seed " << seed);
  kavtest::TempDir tmp;
  const std::string name = tmp.file("model.bin");
  std::mt19937 rng(seed);
  auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };

  KAVFile *f = KAVFileCreate(bufferSize, name.c_str());
  ASSERT_NE(f, nullptr);
  BitModel m;
  std::vector<uint8_t> block;

  for (int s = 0; s < segments; ++s) {
    const uint32_t kind = pick(0, 9);
    if (kind <= 1) {
      // Seek to a byte boundary anywhere in the file, end included.
      KAVFileByteAlign(f);
      m.align();
      const uint32_t p = pick(0, static_cast<uint32_t>(m.size()));
      KAVFileSetPos(f, p);
      m.seek(p);
    } else if (kind <= 5) {
      const int ops = static_cast<int>(pick(1, 40));
      for (int i = 0; i < ops; ++i) {
        switch (pick(0, 5)) {
          case 0:
          case 1: {
            const uint32_t n = pick(1, 32), v = static_cast<uint32_t>(rng());
            KAVFilePutBits(f, v, n);
            m.putBits(v, n);
            break;
          }
          case 2: {
            const uint32_t v = static_cast<uint32_t>(rng());
            const uint32_t w = 1u << pick(0, 2);
            if (w == 1) KAVFilePut8(f, v);
            if (w == 2) KAVFilePut16(f, v);
            if (w == 4) KAVFilePut32(f, v);
            m.putBits(v, 8 * w);
            break;
          }
          default: {
            block.resize(pick(0, 3) == 0 ? pick(60, 300) : pick(1, 9));
            for (auto &b : block) b = static_cast<uint8_t>(rng());
            const bool aligned = m.bitPos() == 0;
            const uint32_t put = aligned && pick(0, 1) ? KAVFilePutNB(f, block.data(), static_cast<uint32_t>(block.size()))
                                                       : KAVFilePut(f, block.data(), static_cast<uint32_t>(block.size()));
            ASSERT_EQ(put, block.size());
            for (uint8_t b : block) m.putBits(b, 8);
            break;
          }
        }
        ASSERT_EQ(KAVFileGetPos(f), m.bytePos());
        ASSERT_EQ(KAVFileBitPos(f), m.bitPos());
      }
      KAVFileByteAlign(f);
      m.align();
      ASSERT_EQ(KAVFileSize(f), m.size());
    } else {
      // Read from here to at most the end of the file.
      const int ops = static_cast<int>(pick(1, 40));
      for (int i = 0; i < ops; ++i) {
        const uint64_t leftBits = m.size() * 8 - (m.bytePos() * 8 + m.bitPos());
        if (leftBits < 40) break;
        switch (pick(0, 5)) {
          case 0:
          case 1: {
            const uint32_t n = pick(1, 32);
            ASSERT_EQ(KAVFileGetBits(f, n), m.getBits(n)) << "bits " << n;
            break;
          }
          case 2: {
            const uint32_t w = 1u << pick(0, 2);
            const uint32_t got = w == 1 ? KAVFileGet8(f) : (w == 2 ? KAVFileGet16(f) : KAVFileGet32(f));
            ASSERT_EQ(got, m.getBits(8 * w)) << "width " << w;
            break;
          }
          default: {
            const uint32_t n = std::min<uint32_t>(pick(0, 3) == 0 ? pick(60, 300) : pick(1, 9),
                                                  static_cast<uint32_t>(leftBits / 8) - 1);
            block.assign(n, 0);
            const bool aligned = m.bitPos() == 0;
            const uint32_t got = aligned && pick(0, 1) ? KAVFileGetNB(f, block.data(), n) : KAVFileGet(f, block.data(), n);
            ASSERT_EQ(got, n);
            for (uint32_t j = 0; j < n; ++j) ASSERT_EQ(block[j], m.getBits(8)) << "byte " << j;
            break;
          }
        }
        ASSERT_EQ(KAVFileGetPos(f), m.bytePos());
        ASSERT_EQ(KAVFileBitPos(f), m.bitPos());
      }
      KAVFileByteAlign(f);
      m.align();
    }
  }
  KAVFileClose(f);
  EXPECT_EQ(kavtest::readFile(name), m.bytes());
}

}  // namespace

TEST(KavFileModel, RandomMixedTrafficMatchesTheModel) {
  const int32_t sizes[] = {0, 1, 3, 16, 61, -256, 4096};
  uint32_t seed = 1234;
  for (int32_t size : sizes) runModel(size, seed++, 600);
}
