// The Flic writer's encoders. Each writes chunk data (without the chunk
// header) into `out` and returns its size, or kEncodeFailed as soon as the
// output would reach `limit` bytes; a result is therefore always below the
// limit, and out needs room for limit - 1 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::flic {

constexpr size_t kEncodeFailed = SIZE_MAX;
// Largest colour chunk data: the packet count and 256 entries, each in a
// packet of its own at worst.
constexpr size_t kColourDataMax = 2 + 256 * (2 + 3);
// Output limit of the byte-oriented delta, whatever the frame size.
constexpr size_t kByteDeltaLimit = 64000;

// Type 15: every row of the picture, runs and literals of up to 127 bytes.
size_t encodeByteRun(const uint8_t *pixels, uint32_t width, uint32_t height, uint8_t *out, size_t limit);
// Type 7 against the previous frame; width must be even and the frames must
// differ.
size_t encodeWordDelta(const uint8_t *pixels, const uint8_t *previous, uint32_t width, uint32_t height,
                       uint8_t *out, size_t limit);
// Type 12 against the previous frame; the frames must differ.
size_t encodeByteDelta(const uint8_t *pixels, const uint8_t *previous, uint32_t width, uint32_t height,
                       uint8_t *out, size_t limit);
// Type 4 palette packets for the entries of `palette` that differ from
// `stored` (all 256 in one packet on the first frame). out holds
// kColourDataMax bytes.
size_t encodeColourPackets(const uint8_t *palette, const uint8_t *stored, bool firstFrame, uint8_t *out);

}  // namespace kav::flic
