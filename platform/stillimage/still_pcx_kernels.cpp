// Portable PCX kernels (the reference for the vector ones) and the choice
// between them.
#include "platform/stillimage/still_pcx_kernels.h"
#include "platform/stillimage/still_pcx_expand_common.h"

#include <algorithm>
#include <cstring>

#include "platform/os_cpu.h"

namespace kav::still {

namespace {

// Kept apart, with its cursors in locals, so they stay in registers.
bool expandLinePortable(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, PcxRunCarry &carry) {
  uint8_t *d = dst;
  uint8_t *const dEnd = dst + n;
  const uint8_t *s = p + pos;
  const uint8_t *const sEnd = p + end;
  resumeRun(d, n, carry);
  while (d < dEnd) {
    // Eight bytes at a time while none of them is a run count (top two bits
    // set); the copy may write past the literals, which later bytes replace.
    if (dEnd - d >= 8 && sEnd - s >= 8) {
      uint64_t v;
      std::memcpy(&v, s, 8);
      const uint64_t counts = v & (v << 1) & 0x8080808080808080ull;
      std::memcpy(d, &v, 8);
      if (!counts) {
        d += 8;
        s += 8;
        continue;
      }
      const size_t plain = static_cast<size_t>(__builtin_ctzll(counts)) / 8;
      d += plain;
      s += plain;
    }
    if (s >= sEnd) return false;
    const uint8_t b = *s++;
    if ((b & 0xC0) != 0xC0) {
      *d++ = b;
      continue;
    }
    if (s >= sEnd) return false;
    const size_t count = b & 0x3Fu;
    const uint8_t v = *s++;
    const size_t room = static_cast<size_t>(dEnd - d);
    if (count == 1) {
      *d++ = v;
    } else if (count <= room) {
      std::memset(d, v, count);
      d += count;
    } else {
      std::memset(d, v, room);
      d += room;
      carry.count = count - room;
      carry.value = v;
    }
  }
  pos = static_cast<size_t>(s - p);
  return true;
}

size_t packLinePortable(const uint8_t *s, size_t n, uint8_t *out) {
  uint8_t *o = out;
  size_t i = 0;
  while (i < n) {
    const uint8_t v = s[i];
    if (i + 1 < n && s[i + 1] == v) {
      size_t run = 2;
      while (i + run < n && run < 63 && s[i + run] == v) ++run;
      *o++ = static_cast<uint8_t>(0xC0 | run);
      *o++ = v;
      i += run;
      continue;
    }
    if ((v & 0xC0) == 0xC0) *o++ = 0xC1;
    *o++ = v;
    ++i;
  }
  return static_cast<size_t>(o - out);
}

void planesToBgrPortable(const uint8_t *r, const uint8_t *g, const uint8_t *b, uint8_t *dst, size_t w) {
  for (size_t i = 0; i < w; ++i) {
    dst[3 * i] = b[i];
    dst[3 * i + 1] = g[i];
    dst[3 * i + 2] = r[i];
  }
}

void bgrToPlanesPortable(const uint8_t *src, uint8_t *r, uint8_t *g, uint8_t *b, size_t w) {
  for (size_t i = 0; i < w; ++i) {
    b[i] = src[3 * i];
    g[i] = src[3 * i + 1];
    r[i] = src[3 * i + 2];
  }
}

const PcxKernels kPortable = {expandLinePortable, packLinePortable, planesToBgrPortable, bgrToPlanesPortable};

}  // namespace

const PcxKernels &pcxPortableKernels() { return kPortable; }

const PcxKernels &pcxKernels() {
  static const PcxKernels *const vector = pcxAvx2Kernels() ? pcxAvx2Kernels() : pcxSsse3Kernels();
  if (vector && !kav::os::simdDisabled()) return *vector;
  return kPortable;
}

}  // namespace kav::still
