// The 29-bit packed float that carries a frame's sum and alternating terms.
#include <bit>
#include <cmath>

#include "sound/transform_codec.h"

namespace kav::sound {

namespace {

constexpr uint32_t kMantissaBits = 23;
constexpr uint32_t kMantissaLimit = 1u << kMantissaBits;
constexpr uint32_t kLargestExponent = 31;

}  // namespace

uint32_t transformPackFloat(float value) {
  if (std::isnan(value)) return 0;
  const uint32_t sign = std::signbit(value) && value != 0.0f ? 1u : 0u;
  const double magnitude = std::fabs(static_cast<double>(value));
  // Magnitudes that cannot be held (2^31 and up) saturate; the encoder's
  // own values stay below 2^23.
  if (magnitude >= 2147483647.5) return (sign << 28) | ((kMantissaLimit - 1) << 5) | kLargestExponent;
  const auto rounded = static_cast<uint32_t>(std::nearbyint(magnitude));
  uint32_t exponent = static_cast<uint32_t>(std::bit_width(rounded));
  auto mantissa = static_cast<uint32_t>(std::nearbyint(std::ldexp(magnitude, static_cast<int>(kMantissaBits) -
                                                                                   static_cast<int>(exponent))));
  // Above 2^23 the rounding of the mantissa can carry into bit 23; keep the
  // value by moving one place up instead of spilling into the sign.
  if (mantissa >= kMantissaLimit) {
    mantissa >>= 1;
    ++exponent;
  }
  if (exponent > kLargestExponent) return (sign << 28) | ((kMantissaLimit - 1) << 5) | kLargestExponent;
  return (sign << 28) | (mantissa << 5) | exponent;
}

float transformUnpackFloat(uint32_t bits) {
  const uint32_t exponent = bits & 0x1F;
  const uint32_t mantissa = (bits >> 5) & (kMantissaLimit - 1);
  const float value = std::ldexp(static_cast<float>(mantissa), static_cast<int>(exponent) - static_cast<int>(kMantissaBits));
  return (bits >> 28) & 1 ? -value : value;
}

}  // namespace kav::sound
