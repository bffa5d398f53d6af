// The TGA decoder's bulk path for 24-bit run-length rows (an AVX2 version,
// chosen at run time; the decoder's own packet loop is the portable twin
// and finishes every row).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::still::tgaunpack {

// True when the AVX2 version may be used: the processor has it and the
// vector paths are not ruled out (probe once per picture).
bool useAvx2();

// Fills row[filled, rowBytes) from the 3-byte-pixel packets at src[at] on:
// whole packets while each fits the row and the input with room to spare
// for full-width stores and loads, then through a scratch block those near
// the row's end that still end in it. What is left to the caller's
// byte-exact loop is a packet that crosses into the next row or one the
// input ends near. Reads stay below src + avail, writes below
// row + rowBytes. Returns the new filled and leaves at on the first packet
// not taken.
size_t unpack24RowAvx2(const uint8_t *src, size_t avail, size_t &at, uint8_t *row, size_t filled, size_t rowBytes);

}  // namespace kav::still::tgaunpack
