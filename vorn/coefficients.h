// Bit-plane coded DCT coefficients and residues of one 8x8 block.
#pragma once

#include <cstdint>

#include "vorn/bitreader.h"

namespace kav::vorn {

// Reads coefficients 1..63 (coding order) into coef, which the caller has
// zeroed apart from the DC in coef[0].
void readCoefficients(BitReader &br, int32_t coef[64]);

// Reads a residue (coding order, zeroed by the caller) under the change
// budget `budget`: reading ends right after change number budget + 1.
void readResidue(BitReader &br, int8_t residue[64], unsigned budget);

}  // namespace kav::vorn
