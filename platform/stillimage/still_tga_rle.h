// The TGA run-length encoder's row coder: a map of which pixels equal
// their right-hand neighbour, and the packet writer that works from that
// map.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::still::tgarle {

// The map has one bit per pixel (bit k of word k / 64): set when pixel k
// equals pixel k + 1. The last pixel's bit and those past the row are
// clear, and a spare word follows the row's (the writer reads a word on).
inline size_t equalMapWords(int32_t width) { return (static_cast<size_t>(width) + 63) / 64 + 1; }
// The px-byte pixel at a equals the one after it (the map's bit for a).
inline bool samePixel(const uint8_t *a, size_t px) {
  return px == 1 ? a[0] == a[1] : a[0] == a[3] && a[1] == a[4] && a[2] == a[5];
}
// px is 1 or 3. map holds equalMapWords(width) words.
void equalMap(const uint8_t *row, int32_t width, size_t px, uint64_t *map);

// Most bytes one row can take: one header per pixel at worst.
inline size_t rowWorstBytes(int32_t width, size_t px) { return static_cast<size_t>(width) * (px + 1); }
// Slack past rowWorstBytes that writeRow may scribble on (bulk stores).
inline constexpr size_t kRowSlack = 80;
// Writes the row's packets to out (room: rowWorstBytes + kRowSlack) and
// returns the bytes they take. Repeats of 2 or more pixels become run
// packets, everything else raw packets, at most 128 pixels a packet.
size_t writeRow(const uint8_t *row, int32_t width, size_t px, const uint64_t *map, uint8_t *out);

}  // namespace kav::still::tgarle
