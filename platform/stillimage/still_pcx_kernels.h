// The PCX codec's hot loops: run-length expansion and packing of one plane
// line, and the split between B, G, R pixels and R, G, B plane lines. Each
// has a portable version (the reference) and, on x86, SSSE3 and AVX2 ones
// that must give the same bytes; pcxKernels() picks one for the processor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::still {

// A run may carry over from one scan line into the next.
struct PcxRunCarry {
  size_t count = 0;
  uint8_t value = 0;
};

struct PcxKernels {
  // Expands run-length data from p[pos] (p[end] is the end of the data)
  // into one line of exactly n bytes at dst; advances pos. False when the
  // data ends first. Reads stay below p + end, writes inside dst[0, n).
  bool (*expandLine)(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, PcxRunCarry &carry);
  // Packs n bytes into out, which has room for 2 * n; returns the bytes
  // written. Runs never cross lines.
  size_t (*packLine)(const uint8_t *s, size_t n, uint8_t *out);
  // w pixels of B, G, R from the red, green and blue plane lines, and back.
  void (*planesToBgr)(const uint8_t *r, const uint8_t *g, const uint8_t *b, uint8_t *dst, size_t w);
  void (*bgrToPlanes)(const uint8_t *src, uint8_t *r, uint8_t *g, uint8_t *b, size_t w);
};

const PcxKernels &pcxPortableKernels();
// Null when the processor (or the build) has no SSSE3.
const PcxKernels *pcxSsse3Kernels();
// Null when the processor (or the build) has no AVX2; members without an
// AVX2 version are the SSSE3 ones.
const PcxKernels *pcxAvx2Kernels();
// The widest vector set unless KAV_NO_SIMD rules it out or the processor lacks it.
const PcxKernels &pcxKernels();

}  // namespace kav::still
