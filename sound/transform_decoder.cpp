// Decoding of transform frames to 16-bit samples, with the cross-fade that
// joins each frame to the tail of the one before.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "kavutil/kavbase.h"
#include "sound/transform_bits.h"
#include "sound/transform_codec.h"

namespace kav::sound {

namespace {

// Adding and taking away 1.5 x 2^23 leaves a float rounded to an integer,
// halves to even, for any |v| up to 2^22.
constexpr float kRoundingBias = 12582912.0f;

inline int16_t toSample(float v) {
  if (!(v >= -32768.0f)) v = -32768.0f;  // also catches NaN
  if (v > 32767.0f) v = 32767.0f;
  const float rounded = (v + kRoundingBias) - kRoundingBias;
  return static_cast<int16_t>(rounded);
}

// Reads the runs into a[2..N-1]. Stops at the end of the input, leaving the
// remaining coefficients 0.
void readRuns(TransformBitReader &reader, float *a, uint32_t length) {
  uint32_t i = 2;
  while (i < length) {
    uint32_t count = 8;
    if (reader.get(1)) count = 8 * kTransformRunTable[reader.get(4)];
    const uint32_t end = std::min(length, i + count);
    const uint32_t width = reader.get(4);
    if (width == 0) {
      std::fill(a + i, a + end, 0.0f);
    } else {
      for (; i < end; ++i) {
        const auto magnitude = static_cast<int32_t>(reader.get(width));
        a[i] = static_cast<float>(magnitude != 0 && reader.get(1) ? -magnitude : magnitude);
      }
    }
    i = end;
    if (reader.overrun()) break;
  }
  if (i < length) std::fill(a + i, a + length, 0.0f);
}

}  // namespace

TransformDecoder *transformDecoderCreate(uint32_t sampleRate, uint32_t channels, uint32_t flags) {
  TransformGeometry geometry;
  if (!transformGeometryFor(sampleRate, channels, geometry)) return nullptr;
  auto *d = static_cast<TransformDecoder *>(kavmalloc(sizeof(TransformDecoder)));
  if (!d) return nullptr;
  new (d) TransformDecoder{};
  const uint32_t n = geometry.frameLength;
  const uint32_t l = geometry.overlap;
  d->geometry = geometry;
  d->outputScale = static_cast<float>(2.0 / std::sqrt(static_cast<double>(n)));
  d->overlapShift = static_cast<uint32_t>(std::countr_zero(l));
  d->firstFrame = true;
  const bool small = (flags & kTransformDecoderSmall) != 0;
  const uint32_t outputSamples = n + (small ? 0 : kTransformDecoderExtraSamples);
  d->output = static_cast<int16_t *>(kavmalloc(outputSamples * 2));
  d->tail = static_cast<int16_t *>(kavmalloc(l * 2));
  d->coefficients = static_cast<float *>(kavmalloc(n * 4));
  if (!d->output || !d->tail || !d->coefficients || !transformTablesPrepare(d->tables, n)) {
    transformFree(d);
    return nullptr;
  }
  std::memset(d->output, 0, outputSamples * 2);
  std::memset(d->tail, 0, l * 2);
  if (!small) d->extra = d->output + n;
  for (uint32_t i = 0; i < 256; ++i) d->stepOfIndex[i] = transformStepOfIndex(i);
  return d;
}

TransformDecodedFrame transformDecodeFrame(TransformDecoder *d, const uint8_t *input, size_t inputBytes) {
  TransformDecodedFrame result{};
  if (!d) return result;
  if (!input) inputBytes = 0;
  const TransformGeometry &g = d->geometry;
  const uint32_t n = g.frameLength, l = g.overlap;
  float *a = d->coefficients;
  TransformBitReader reader(input, inputBytes);

  a[0] = transformUnpackFloat(reader.get(kPackedFloatBits));
  a[1] = transformUnpackFloat(reader.get(kPackedFloatBits));
  uint32_t index[kTransformMaxBands];
  for (uint32_t j = 0; j < g.bandCount; ++j) index[j] = reader.get(8);
  readRuns(reader, a, n);

  // Bin 0 (a[0], a[1]) keeps its value; the other bins take their band's step.
  for (uint32_t j = 0; j < g.bandCount; ++j) {
    const float q = d->stepOfIndex[index[j]];
    for (uint32_t k = std::max<uint32_t>(g.edges[j], 1); k < g.edges[j + 1]; ++k) {
      a[2 * k] *= q;
      a[2 * k + 1] *= q;
    }
  }
  transformReal(n, -1, a, d->tables);  // tables were built at creation

  int16_t *out = d->output;
  const float scale = d->outputScale;
  for (uint32_t i = 0; i < n; ++i) out[i] = toSample(a[i] * scale);
  if (!d->firstFrame) {
    const int16_t *tail = d->tail;
    for (uint32_t i = 0; i < l; ++i) {
      const int32_t mixed = static_cast<int32_t>(tail[i]) * static_cast<int32_t>(l - i) +
                            static_cast<int32_t>(out[i]) * static_cast<int32_t>(i);
      out[i] = static_cast<int16_t>(mixed >> d->overlapShift);  // floor: arithmetic shift
    }
  }
  d->firstFrame = false;
  std::memcpy(d->tail, out + (n - l), l * 2);

  const uint64_t frameBytes = (reader.bitsRead() + 31) / 32 * 4;
  result.frameBytes = static_cast<uint32_t>(std::min<uint64_t>(frameBytes, inputBytes));
  result.next = input ? input + result.frameBytes : nullptr;
  result.truncated = reader.overrun();
  result.samples = out;
  result.sampleBytes = (n - l) * 2;
  return result;
}

void transformFree(TransformDecoder *d) {
  if (!d) return;
  transformTablesRelease(d->tables);
  kavfree(d->output);
  kavfree(d->tail);
  kavfree(d->coefficients);
  std::memset(static_cast<void *>(d), 0, sizeof(*d));
  kavfree(d);
}

}  // namespace kav::sound
