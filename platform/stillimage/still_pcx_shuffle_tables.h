// Byte-shuffle tables of the PCX vector kernels (SSSE3 and AVX2 alike),
// built at compile time.
#pragma once

#include <cstdint>

namespace kav::still {

struct PcxShuffleTables {
  uint8_t pack[256][8];        // lanes of the set bits, in order
  uint8_t escape[256][16];     // each lane, preceded by lane 8 where its bit is set
  uint8_t toBgr[3][3][16];     // [output vector][plane b, g, r][lane]
  uint8_t toPlanes[3][3][16];  // [plane b, g, r][input vector][lane]
  constexpr PcxShuffleTables() : pack(), escape(), toBgr(), toPlanes() {
    for (int m = 0; m < 256; ++m) {
      int k = 0;
      for (int i = 0; i < 8; ++i)
        if (m & (1 << i)) pack[m][k++] = static_cast<uint8_t>(i);
      for (; k < 8; ++k) pack[m][k] = 0x80;
      k = 0;
      for (int i = 0; i < 8; ++i) {
        if (m & (1 << i)) escape[m][k++] = 8;
        escape[m][k++] = static_cast<uint8_t>(i);
      }
      for (; k < 16; ++k) escape[m][k] = 0x80;
    }
    for (int o = 0; o < 3; ++o)
      for (int lane = 0; lane < 16; ++lane) {
        const int j = 16 * o + lane;
        for (int c = 0; c < 3; ++c) toBgr[o][c][lane] = j % 3 == c ? static_cast<uint8_t>(j / 3) : 0x80;
      }
    for (int c = 0; c < 3; ++c)
      for (int v = 0; v < 3; ++v)
        for (int p = 0; p < 16; ++p) {
          const int j = 3 * p + c;
          toPlanes[c][v][p] = j / 16 == v ? static_cast<uint8_t>(j % 16) : 0x80;
        }
  }
};

inline constexpr PcxShuffleTables kPcxShuffleTables;

}  // namespace kav::still
