// The AVX2 run-length expansion of PCX plane lines, kept in its own file
// beside the other AVX2 kernels; same contract as PcxKernels::expandLine.
#pragma once

#include "platform/stillimage/still_pcx_kernels.h"

namespace kav::still {

// Only called once the processor is known to have AVX2, BMI1 and POPCNT.
bool pcxExpandLineAvx2(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, PcxRunCarry &carry);

}  // namespace kav::still
