// The encoder's hearing model. Everything runs in 32-bit floats except the
// geometric mean of the tonality, which is taken in double precision.
#include "sound/transform_masking.h"

#include <algorithm>
#include <cmath>

namespace kav::sound {

namespace {

constexpr float kSpread[11] = {3.8e-6f,  0.0010497f, 0.13477010f, 1.0f,   0.07875f, 0.0146941f,
                               0.0052495f, 0.0005273f, 5.07e-5f,  4.8e-6f, 4.0e-7f};

constexpr float kAbsoluteThreshold[kTransformMaxBands] = {
    1000000.0f, 1000.0f,    398.10718f, 251.18864f, 63.095734f, 15.848932f, 10.0f,
    6.3095737f, 5.0118723f, 3.1622777f, 2.5118864f, 1.9952623f, 1.5848932f, 1.2589254f,
    1.2589254f, 1.2589254f, 1.5848932f, 2.5118864f, 6.3095737f, 10.0f,      31.622776f,
    50.118725f, 79.432823f, 100.0f,     1000.0f};

constexpr double kLargestStep = 17592186044416.0;  // 2^44

}  // namespace

float transformSpread(int32_t distance) {
  if (distance < -3 || distance > 7) return 0.0f;
  return kSpread[distance + 3];
}

float transformAbsoluteThreshold(uint32_t band) {
  return band < kTransformMaxBands ? kAbsoluteThreshold[band] : kAbsoluteThreshold[kTransformMaxBands - 1];
}

void transformSpreadNormalisation(uint32_t bandCount, float *norm) {
  for (uint32_t k = 0; k < bandCount; ++k) {
    float sum = 0.0f;
    for (uint32_t i = 0; i < bandCount; ++i)
      sum += transformSpread(static_cast<int32_t>(i) - static_cast<int32_t>(k));
    norm[k] = 1.0f / sum;  // sum holds spread(0) = 1
  }
}

float transformTonality(const float *power, uint32_t count) {
  const double exponent = 1.0 / count;
  double geometric = 1.0;
  double sum = 0.0;
  for (uint32_t k = 0; k < count; ++k) {
    geometric *= std::pow(static_cast<double>(power[k]), exponent);
    sum += power[k];
  }
  const double arithmetic = sum / count;
  // A zero power makes the ratio 0 and the tonality +infinity, so 1.
  double t = 10.0 * std::log10(geometric / arithmetic) * (-1.0 / 60.0) * 5.0;
  if (!(t <= 1.0)) t = 1.0;
  return static_cast<float>(t);
}

void transformMaskingLevels(const float *bandEnergy, uint32_t bandCount, float tonality, const float *norm,
                            float *allowed) {
  for (uint32_t k = 0; k < bandCount; ++k) {
    float spread = 0.0f;
    for (uint32_t j = 0; j < bandCount; ++j)
      spread += bandEnergy[j] * transformSpread(static_cast<int32_t>(k) - static_cast<int32_t>(j));
    const float offset = (static_cast<float>(k) + 14.5f) * tonality + (1.0f - tonality) * 5.5f;
    const float level = 10.0f * std::log10(spread);
    const float noise = level >= offset ? std::pow(10.0f, (level - offset) * 0.1f) : 0.0f;
    allowed[k] = noise * norm[k];
  }
}

float transformStepSearch(const float *a, uint32_t count, float allowed, uint32_t level, float absoluteThreshold) {
  double start = std::pow(static_cast<double>(absoluteThreshold) * 0.5, (static_cast<double>(level) + 1.0) * 0.25);
  if (!(start >= 0.0) || start > kLargestStep) start = kLargestStep;
  if (start < 1.0) start = 1.0;
  float q = static_cast<float>(start);
  float d = q;
  const float smallest = std::max(q * 0.1f, 1.0f);
  float largest = 0.0f;
  for (uint32_t i = 0; i < count; ++i) largest = std::max(largest, std::fabs(a[i]));
  while (!(q > largest)) {
    const float s = q + d;
    const float u = 1.0f / s;
    float error = 0.0f;
    // Adding squares never makes the sum smaller, so the sum can be left as
    // soon as it reaches the allowed noise.
    for (uint32_t i = 0; i < count && error < allowed; ++i) {
      const float e = a[i] - transformRoundAway(a[i] * u) * s;
      error += e * e;
    }
    if (error < allowed) {
      q = s;
      d *= 2.0f;
    } else if (d < smallest) {
      break;
    } else {
      d *= 0.5f;
    }
  }
  return q;
}

}  // namespace kav::sound
