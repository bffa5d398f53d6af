// Encoding of 16-bit frames into transform frames: analysis, quantiser
// choice, smoothing over time and the run-length grouped bit widths.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "kavutil/kavbase.h"
#include "sound/transform_bits.h"
#include "sound/transform_codec.h"
#include "sound/transform_masking.h"

namespace kav::sound {

namespace {

constexpr int32_t kLargestQuantised = 32767;
constexpr uint32_t kLargestLevel = 99;

// Every group's width from index 2 on, 8 coefficients a group (the last
// one shorter).
uint32_t groupWidths(const int32_t *values, uint32_t length, uint8_t *widths) {
  uint32_t groups = 0;
  for (uint32_t start = 2; start < length; start += 8) {
    const uint32_t end = std::min(length, start + 8);
    uint32_t largest = 0;
    for (uint32_t i = start; i < end; ++i) largest |= static_cast<uint32_t>(std::abs(values[i]));
    // OR keeps the highest set bit of the largest magnitude.
    widths[groups++] = static_cast<uint8_t>(std::bit_width(largest));
  }
  return groups;
}

// Longest run table entry for the groups from `first`, or -1 for a group
// written alone. A length that reaches past the last group counts when all
// remaining groups share the first one's width.
int runIndexAt(const uint8_t *widths, uint32_t groups, uint32_t first) {
  int accepted = -1;
  uint32_t same = 1;  // groups from first known to share its width
  while (first + same < groups && widths[first + same] == widths[first]) ++same;
  for (int t = 0; t < 16; ++t) {
    const uint32_t wanted = std::min(kTransformRunTable[t], groups - first);
    if (same < wanted) break;
    accepted = t;
  }
  return accepted;
}

void writeRuns(TransformBitWriter &writer, const int32_t *values, uint32_t length, const uint8_t *widths,
               uint32_t groups) {
  uint32_t group = 0;
  while (group < groups) {
    const int t = runIndexAt(widths, groups, group);
    uint32_t runGroups = 1;
    if (t < 0) {
      writer.put(0, 1);
    } else {
      writer.put(1 | (static_cast<uint32_t>(t) << 1), 5);
      runGroups = kTransformRunTable[t];
    }
    const uint32_t width = widths[group];
    writer.put(width, 4);
    const uint32_t start = 2 + group * 8;
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(length, start + 8ull * runGroups));
    if (width != 0) {
      for (uint32_t i = start; i < end; ++i) {
        const int32_t v = values[i];
        const auto magnitude = static_cast<uint32_t>(std::abs(v));
        if (magnitude == 0) {
          writer.put(0, width);
        } else {
          writer.put(magnitude | (v < 0 ? 1u << width : 0u), width + 1);
        }
      }
    }
    group += runGroups;
  }
}

}  // namespace

TransformEncoder *transformEncoderCreate(uint32_t sampleRate, uint32_t channels) {
  TransformGeometry geometry;
  if (!transformGeometryFor(sampleRate, channels, geometry)) return nullptr;
  auto *e = static_cast<TransformEncoder *>(kavmalloc(sizeof(TransformEncoder)));
  if (!e) return nullptr;
  new (e) TransformEncoder{};
  const uint32_t n = geometry.frameLength;
  e->frameLength = n;
  e->channels = channels;
  e->inputScale = static_cast<float>(1.0 / std::sqrt(static_cast<double>(n)));
  e->overlap = geometry.overlap;
  e->geometry = geometry;
  e->firstFrame = true;
  e->outputCapacityBytes = transformMaxFrameBytes(geometry);
  e->input = static_cast<int16_t *>(kavmalloc(n * 2));
  e->output = static_cast<uint8_t *>(kavmalloc(e->outputCapacityBytes));
  e->coefficients = static_cast<float *>(kavmalloc(n * 4));
  e->quantised = static_cast<int32_t *>(kavmalloc(n * 4));
  e->power = static_cast<float *>(kavmalloc(n / 2 * 4));
  if (!e->input || !e->output || !e->coefficients || !e->quantised || !e->power ||
      !transformTablesPrepare(e->tables, n)) {
    transformFree(e);
    return nullptr;
  }
  std::memset(e->input, 0, n * 2);
  transformSpreadNormalisation(geometry.bandCount, e->spreadNorm);
  for (uint32_t i = 0; i < 256; ++i) e->stepOfIndex[i] = transformStepOfIndex(i);
  return e;
}

TransformInputArea transformInputArea(const TransformEncoder *e) {
  if (!e) return {};
  if (e->firstFrame) return {e->input, e->frameLength * 2};
  return {e->input + e->overlap, (e->frameLength - e->overlap) * 2};
}

TransformEncodedFrame transformEncodeFrame(TransformEncoder *e, uint32_t level, uint32_t bytesSupplied) {
  if (!e) return {};
  const TransformGeometry &g = e->geometry;
  const uint32_t n = e->frameLength, l = e->overlap, half = n / 2;
  level = std::min(level, kLargestLevel);
  const TransformInputArea area = transformInputArea(e);
  bytesSupplied = std::min(bytesSupplied, area.bytesWanted);
  e->bytesSupplied += bytesSupplied;

  // 1. Samples to floats; a short frame repeats its last sample.
  const uint32_t carried = e->firstFrame ? 0 : l;
  const uint32_t present = carried + bytesSupplied / 2;
  float *a = e->coefficients;
  for (uint32_t i = 0; i < present; ++i) a[i] = static_cast<float>(e->input[i]);
  const int16_t last = present > 0 ? e->input[present - 1] : 0;
  for (uint32_t i = present; i < n; ++i) {
    e->input[i] = last;
    a[i] = static_cast<float>(last);
  }

  // 2. and 3. Spectrum, the two real terms written as they are.
  transformReal(n, +1, a, e->tables);  // tables were built at creation
  const float scale = e->inputScale;
  for (uint32_t i = 0; i < n; ++i) a[i] *= scale;
  TransformBitWriter writer(e->output);
  writer.put(transformPackFloat(a[0]), kPackedFloatBits);
  writer.put(transformPackFloat(a[1]), kPackedFloatBits);
  a[0] = 1.0f;
  a[1] = 1.0f;

  // 4. and 5. Powers, band energies and tonality.
  float *power = e->power;
  for (uint32_t k = 0; k < half; ++k) power[k] = a[2 * k] * a[2 * k] + a[2 * k + 1] * a[2 * k + 1];
  float energy[kTransformMaxBands] = {};
  for (uint32_t j = 0; j < g.bandCount; ++j)
    for (uint32_t k = g.edges[j]; k < g.edges[j + 1]; ++k) energy[j] += power[k];
  const float tonality = transformTonality(power, half);

  // 6. to 8. Allowed noise and the step search.
  float allowed[kTransformMaxBands] = {};
  transformMaskingLevels(energy, g.bandCount, tonality, e->spreadNorm, allowed);
  float steps[kTransformMaxBands] = {};
  for (uint32_t j = 0; j < g.bandCount; ++j) {
    const uint32_t first = 2 * g.edges[j], count = 2 * (g.edges[j + 1] - g.edges[j]);
    steps[j] = transformStepSearch(a + first, count, allowed[j], level, transformAbsoluteThreshold(j));
  }

  // 9. Smoothing: a step never falls below 0.8 times the last frame's step.
  for (uint32_t j = 0; j < kTransformMaxBands; ++j) {
    const float found = steps[j];
    steps[j] = std::max(found, e->previousSteps[j]);
    e->previousSteps[j] = found * 0.8f;
  }

  // 10. and 11. Indices, then every bin quantised with its band's used step.
  int32_t *values = e->quantised;
  for (uint32_t j = 0; j < g.bandCount; ++j) {
    const uint32_t index = transformIndexOfStep(steps[j]) & 0xFF;
    writer.put(index, 8);
    const float inverse = 1.0f / e->stepOfIndex[index];
    for (uint32_t i = 2 * g.edges[j]; i < 2 * g.edges[j + 1]; ++i) {
      const float v = std::clamp(a[i] * inverse, -32768.0f, 32768.0f);
      values[i] = std::clamp(static_cast<int32_t>(transformRoundAway(v)), -kLargestQuantised, kLargestQuantised);
    }
  }

  // 12. to 15. Widths, runs, padding.
  uint8_t widths[kTransformMaxFrameLength / 8];
  const uint32_t groups = groupWidths(values, n, widths);
  writeRuns(writer, values, n, widths, groups);
  const uint32_t frameBytes = writer.finish();

  const uint64_t unaccounted = e->bytesSupplied - e->bytesAccounted;
  const auto inputBytes = static_cast<uint32_t>(std::min<uint64_t>((n - l) * 2ull, unaccounted));
  e->bytesAccounted += inputBytes;
  std::memmove(e->input, e->input + (n - l), l * 2);
  e->firstFrame = false;
  return {e->output, frameBytes, inputBytes};
}

void transformFree(TransformEncoder *e) {
  if (!e) return;
  transformTablesRelease(e->tables);
  kavfree(e->input);
  kavfree(e->output);
  kavfree(e->coefficients);
  kavfree(e->quantised);
  kavfree(e->power);
  std::memset(static_cast<void *>(e), 0, sizeof(*e));
  kavfree(e);
}

}  // namespace kav::sound
