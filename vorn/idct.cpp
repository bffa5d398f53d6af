// All arithmetic is 32-bit and wraps, as the format defines it: values are
// carried as uint32_t and reinterpreted as signed only for the arithmetic
// right shifts, so hostile coefficients cannot cause undefined behaviour.
#include "vorn/idct.h"

#include "platform/os_cpu.h"

#include <cstdlib>
#include <cstring>

namespace kav::vorn {
namespace {

inline uint32_t mulShift(int32_t k, uint32_t x) { return uint32_t(int32_t(uint32_t(k) * x) >> 11); }

inline void transform8(const uint32_t s[8], uint32_t o[8]) {
  uint32_t a0 = s[0] + s[4], a1 = s[0] - s[4], a2 = s[2] + s[6];
  uint32_t a3 = mulShift(2896, s[2] - s[6]);
  uint32_t a4 = s[5] + s[3], a5 = s[5] - s[3], a6 = s[1] + s[7], a7 = s[1] - s[7];
  uint32_t b0 = a4 + a6;
  uint32_t b1 = mulShift(3784, a5 + a7);
  uint32_t b2 = mulShift(-5352, a5) - b0 + b1;
  uint32_t b3 = mulShift(2896, a6 - a4) - b2;
  uint32_t b4 = mulShift(2217, a7) + b3 - b1;
  o[0] = a0 + a2 + b0;
  o[1] = a1 + a3 - a2 + b2;
  o[2] = a1 - a3 + a2 + b3;
  o[3] = a0 - a2 - b4;
  o[4] = a0 - a2 + b4;
  o[5] = a1 - a3 + a2 - b3;
  o[6] = a1 + a3 - a2 - b2;
  o[7] = a0 + a2 - b0;
}

}  // namespace

void inverseTransformPortable(const int32_t coef[64], const uint32_t quant[64], uint8_t out[64]) {
  uint32_t blk[64];
  for (int k = 0; k < 64; ++k) blk[k] = uint32_t(int32_t(uint32_t(coef[k]) * quant[k]) >> 11);
  uint32_t mid[64];
  for (int c = 0; c < 8; ++c) {
    uint32_t s[8], o[8];
    bool acZero = true;
    for (int r = 0; r < 8; ++r) {
      s[r] = blk[r * 8 + c];
      if (r && s[r]) acZero = false;
    }
    if (acZero) {
      for (int r = 0; r < 8; ++r) mid[r * 8 + c] = s[0];
      continue;
    }
    transform8(s, o);
    for (int r = 0; r < 8; ++r) mid[r * 8 + c] = o[r];
  }
  for (int r = 0; r < 8; ++r) {
    uint32_t o[8];
    transform8(mid + r * 8, o);
    // Bits 8..15 of o + 127: the same under an arithmetic or a logical shift.
    for (int c = 0; c < 8; ++c) out[r * 8 + c] = uint8_t((o[c] + 127) >> 8);
  }
}

namespace {

InverseTransformFn choose() {
  if (kav::os::simdDisabled()) return inverseTransformPortable;
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return inverseTransformAvx2;
#endif
  return inverseTransformPortable;
}

}  // namespace

// Chosen once per process; the choice never changes afterwards.
InverseTransformFn inverseTransform() {
  static const InverseTransformFn fn = choose();
  return fn;
}

}  // namespace kav::vorn
