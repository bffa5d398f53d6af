// Dequantisation and the 8x8 inverse transform.
#pragma once

#include <cstdint>

namespace kav::vorn {

// coef: 64 coefficients in raster order (row = vertical frequency); quant: a
// row of 64 dequantisation factors; out: the 64 wrapped 8-bit results.
using InverseTransformFn = void (*)(const int32_t coef[64], const uint32_t quant[64], uint8_t out[64]);

// The reference, in the format's own 32-bit wrapping arithmetic.
void inverseTransformPortable(const int32_t coef[64], const uint32_t quant[64], uint8_t out[64]);
#if defined(__x86_64__) || defined(__i386__)
// AVX2 twin; call only where the processor has AVX2.
void inverseTransformAvx2(const int32_t coef[64], const uint32_t quant[64], uint8_t out[64]);
#endif
// The fastest variant this processor runs (the reference when KAV_NO_SIMD=1).
InverseTransformFn inverseTransform();

}  // namespace kav::vorn
