// The transform audio coder: 16-bit sound cut into frames, each taken
// through a real Fourier transform, quantised per critical band and written
// as run-length grouped bit widths. Shared by the compressed sound writer
// (encoder) and the house-format readers (decoder).
//
// Frame geometry is fixed per stream by the sample rate and channel count;
// channels stay interleaved and are transformed together as one signal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::sound {

constexpr uint32_t kTransformMaxBands = 25;
constexpr uint32_t kTransformMaxFrameLength = 4096;  // 2048 x 2 channels
constexpr uint32_t kTransformRunTable[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};

// --- Frame geometry ------------------------------------------------------

struct TransformGeometry {
  uint32_t frameLength;  // N, samples of all channels together
  uint32_t overlap;      // L = N / 16
  uint32_t bandCount;    // B, 1..25
  uint32_t edges[kTransformMaxBands + 1];  // B + 1 edges in bins; edges[B] = N / 2
};

// False for a rate of 0 or a channel count other than 1 or 2.
bool transformGeometryFor(uint32_t sampleRate, uint32_t channels, TransformGeometry &out);

// Quantiser step of an 8-bit index, 10^(index x 0.0664), as a 32-bit float.
float transformStepOfIndex(uint32_t index);
// Index for a step: round(10 log10(step) x 1.506...) halves to even, 0 for
// steps below 1; only the low 8 bits are meaningful in a frame.
uint32_t transformIndexOfStep(float step);

// --- Packed float (29 bits: exponent 0-4, mantissa 5-27, sign 28) --------

constexpr uint32_t kPackedFloatBits = 29;
uint32_t transformPackFloat(float value);
float transformUnpackFloat(uint32_t bits);

// --- Real transform --------------------------------------------------------

// Work tables for one power-of-two length, built once and kept by the
// coder state. Zero-initialise before the first prepare.
struct TransformTables {
  uint32_t length;       // N, 0 while unbuilt
  uint32_t log2Half;     // log2(N / 2)
  uint32_t *bitReverse;  // N / 2 entries
  float *twiddleRe;      // N / 2: stage of half-size h uses entries h..2h-1
  float *twiddleIm;
  float *rotationCos;    // N / 4 + 1: cos(2 pi k / N)
  float *rotationSin;    //            sin(2 pi k / N)
  float *scratch;        // N floats: split real and imaginary halves
  bool simd;             // vector kernels; cleared by KAV_NO_SIMD=1
  bool wide;             // with simd: 256-bit kernels where the processor has them
};

// Builds (or rebuilds for a new length) the tables; false when the length
// is not a power of two from 8 to 65536 or memory is short.
bool transformTablesPrepare(TransformTables &tables, uint32_t length);
void transformTablesRelease(TransformTables &tables);

// In place on `length` floats. direction +1: a[0] = sum x, a[1] = sum x (-1)^t,
// a[2k] = sum x cos(2 pi t k / N), a[2k+1] = sum x sin(2 pi t k / N).
// direction -1: the inverse scaled by N / 2. Builds the tables when needed;
// false when that fails (data untouched).
bool transformReal(uint32_t length, int direction, float *data, TransformTables &tables);

// --- Decoder ---------------------------------------------------------------

// Flag bit 0: the small state. Without it an extra area of
// kTransformDecoderExtraSamples samples follows the output buffer for the
// caller's use; the decoder never touches it.
constexpr uint32_t kTransformDecoderSmall = 1;
constexpr uint32_t kTransformDecoderExtraSamples = 8192;

struct TransformDecoder {
  TransformGeometry geometry;
  float outputScale;     // 2 / sqrt(N)
  uint32_t overlapShift; // log2 L
  bool firstFrame;
  int16_t *output;       // N samples
  int16_t *extra;        // kTransformDecoderExtraSamples, or null for the small state
  int16_t *tail;         // L samples from the previous frame
  float *coefficients;   // N
  float stepOfIndex[256];
  TransformTables tables;
};

struct TransformDecodedFrame {
  const int16_t *samples;  // (N - L) samples
  uint32_t sampleBytes;    // (N - L) x 2
  const uint8_t *next;     // just past the frame (whole 32-bit words), never past the input
  uint32_t frameBytes;     // bytes of input the frame took
  bool truncated;          // the frame ran past the input; missing bits read as 0
};

TransformDecoder *transformDecoderCreate(uint32_t sampleRate, uint32_t channels, uint32_t flags);
// Reads at most inputBytes from input. A frame that runs past the end is
// decoded as if the missing bits were 0 and reported as truncated.
TransformDecodedFrame transformDecodeFrame(TransformDecoder *decoder, const uint8_t *input, size_t inputBytes);

// --- Encoder ---------------------------------------------------------------

struct TransformEncoder {
  uint32_t frameLength;  // N
  uint32_t channels;
  float inputScale;      // 1 / sqrt(N)
  uint32_t overlap;      // L
  int16_t *input;        // N samples
  uint8_t *output;       // room for the largest frame
  uint32_t outputCapacityBytes;
  bool firstFrame;
  TransformGeometry geometry;
  float spreadNorm[kTransformMaxBands];
  float previousSteps[kTransformMaxBands];
  uint64_t bytesSupplied;
  uint64_t bytesAccounted;
  float *coefficients;   // N
  int32_t *quantised;    // N
  float *power;          // N / 2
  float stepOfIndex[256];
  TransformTables tables;
};

struct TransformInputArea {
  int16_t *samples;      // where the next samples go
  uint32_t bytesWanted;  // N x 2 for the first frame, then (N - L) x 2
};

struct TransformEncodedFrame {
  const uint8_t *bytes;
  uint32_t byteCount;   // a multiple of 4
  uint32_t inputBytes;  // input this frame accounts for
};

TransformEncoder *transformEncoderCreate(uint32_t sampleRate, uint32_t channels);
TransformInputArea transformInputArea(const TransformEncoder *encoder);
// Encodes the input area at level 0..99 (higher is smaller). bytesSupplied
// is what the caller put into the area this time (more than wanted counts
// as wanted).
TransformEncodedFrame transformEncodeFrame(TransformEncoder *encoder, uint32_t level, uint32_t bytesSupplied);

// Largest frame the encoder can write for this geometry, in bytes.
uint32_t transformMaxFrameBytes(const TransformGeometry &geometry);

// --- Shared ----------------------------------------------------------------

void transformFree(TransformDecoder *decoder);
void transformFree(TransformEncoder *encoder);

}  // namespace kav::sound
