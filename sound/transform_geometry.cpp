// Frame geometry of the transform coder and the quantiser step scale.
#include <cmath>

#include "sound/transform_codec.h"

namespace kav::sound {

namespace {

constexpr uint32_t kCriticalBandHz[kTransformMaxBands] = {
    0,    100,  200,  300,  400,  510,  630,  770,  920,  1080,  1270,  1480,  1720,
    2000, 2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500};

}  // namespace

bool transformGeometryFor(uint32_t sampleRate, uint32_t channels, TransformGeometry &out) {
  out = TransformGeometry{};
  if (sampleRate == 0 || (channels != 1 && channels != 2)) return false;
  const uint32_t n = static_cast<uint32_t>((static_cast<uint64_t>(sampleRate) * channels + 1) / 2);
  uint32_t length = sampleRate >= 44100 ? 2048 : sampleRate >= 22050 ? 1024 : 512;
  length *= channels;
  const uint32_t half = length / 2;
  out.frameLength = length;
  out.overlap = length / 16;
  uint32_t bands = 0;
  // Edges are monotonic and below half because every frequency taken is
  // below n; half x 15500 stays far inside 32 bits.
  while (bands < kTransformMaxBands && kCriticalBandHz[bands] < n) {
    out.edges[bands] = half * kCriticalBandHz[bands] / n;
    ++bands;
  }
  out.bandCount = bands;  // at least 1: frequency 0 is below any n >= 1
  out.edges[bands] = half;
  return true;
}

float transformStepOfIndex(uint32_t index) {
  return static_cast<float>(std::pow(10.0, static_cast<double>(index & 0xFF) * 0.0664));
}

uint32_t transformIndexOfStep(float step) {
  const double decibels = 10.0 * std::log10(static_cast<double>(step));
  if (!(decibels >= 0.0)) return 0;
  const double index = std::nearbyint(decibels * 1.506024096385542);
  if (!(index < 4294967295.0)) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(index);
}

uint32_t transformMaxFrameBytes(const TransformGeometry &geometry) {
  const uint64_t coefficients = geometry.frameLength - 2;
  const uint64_t groups = (coefficients + 7) / 8;
  // Every group written alone: 1 flag bit and 4 width bits, then up to
  // 15 magnitude bits and a sign bit per coefficient.
  const uint64_t bits = 2ull * kPackedFloatBits + 8ull * geometry.bandCount + groups * 5 + coefficients * 16;
  return static_cast<uint32_t>((bits + 31) / 32 * 4);
}

}  // namespace kav::sound
