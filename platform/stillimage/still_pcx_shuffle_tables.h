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
  // Interleaving 16 pixels by one shuffle a plane and blends: lane j of
  // vector k of the 48 interleaved bytes holds channel (k + j) % 3, so a
  // plane's 16 bytes, each moved to the lane it takes in its own vector,
  // fill the 16 lanes once (16 and 3 have no common factor); and the other
  // way round.
  uint8_t spreadBgr[3][16];      // [plane b, g, r][lane]: the pixel that lane takes
  uint8_t pickBgr[3][2][16];     // [output vector][g, r][lane]: 0xFF where it takes that plane
  uint8_t gatherPlanes[3][16];   // [plane b, g, r][pixel]: its lane after the blends
  uint8_t pickPlanes[3][2][16];  // [plane b, g, r][input vector 1, 2][lane]: 0xFF where it takes that vector
  constexpr PcxShuffleTables()
      : pack(), escape(), toBgr(), toPlanes(), spreadBgr(), pickBgr(), gatherPlanes(), pickPlanes() {
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
    for (int lane = 0; lane < 16; ++lane)
      for (int c = 0; c < 3; ++c) {
        // The vector whose lane holds channel c: (k + lane) % 3 == c.
        const int k = ((c - lane) % 3 + 3) % 3;
        spreadBgr[c][lane] = static_cast<uint8_t>((16 * k + lane) / 3);
        pickPlanes[c][0][lane] = k == 1 ? 0xFF : 0;
        pickPlanes[c][1][lane] = k == 2 ? 0xFF : 0;
        const int v = c;  // (the same loop, read as the output vector)
        pickBgr[v][0][lane] = (v + lane) % 3 == 1 ? 0xFF : 0;
        pickBgr[v][1][lane] = (v + lane) % 3 == 2 ? 0xFF : 0;
      }
    for (int c = 0; c < 3; ++c)
      for (int p = 0; p < 16; ++p) gatherPlanes[c][p] = static_cast<uint8_t>((3 * p + c) % 16);
  }
};

inline constexpr PcxShuffleTables kPcxShuffleTables;

}  // namespace kav::still
