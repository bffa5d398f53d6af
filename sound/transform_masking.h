// The encoder's hearing model: tonality of a frame, spreading of band
// energy, the allowed noise per band and the search for the largest
// quantiser step that stays under it.
#pragma once

#include <cstdint>

#include "sound/transform_codec.h"

namespace kav::sound {

// Spreading from a source band to a target band d = target - source away
// (0 outside -3..7).
float transformSpread(int32_t distance);

// Absolute threshold of hearing for band j (0..24).
float transformAbsoluteThreshold(uint32_t band);

// norm[k] = 1 / (sum over bands i < bandCount of spread(i - k)).
void transformSpreadNormalisation(uint32_t bandCount, float *norm);

// Tonality from the powers of the n bins of a frame: 0 for noise-like,
// at most 1 for tonal spectra.
float transformTonality(const float *power, uint32_t count);

// Allowed noise per band from the band energies.
void transformMaskingLevels(const float *bandEnergy, uint32_t bandCount, float tonality, const float *norm,
                            float *allowed);

// Largest step for one band's coefficients at a level 0..99.
float transformStepSearch(const float *coefficients, uint32_t count, float allowed, uint32_t level,
                          float absoluteThreshold);

// Rounds halves away from zero; |x| must stay below 2^31.
inline float transformRoundAway(float x) {
  auto i = static_cast<int32_t>(x);  // toward zero
  const float fraction = x - static_cast<float>(i);  // exact below 2^24; 0 above
  if (fraction >= 0.5f) ++i;
  else if (fraction <= -0.5f) --i;
  return static_cast<float>(i);
}

}  // namespace kav::sound
