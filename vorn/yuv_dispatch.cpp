// Dispatch of the YUV converters, done once when YUV_init probes the
// processor: the descriptors start with the portable converters and the
// vector set is then overridden for what the processor offers.
#include "vorn/yuv_dispatch.h"

#include "platform/os_cpu.h"

#include <cstdlib>
#include <cstring>

namespace kav::yuv {
namespace {

FormatDescriptor gPlain;
FormatDescriptor gAlpha;
SimdLevel gLevel = SimdLevel::kNone;
bool gFilled = false;
Strategy gStrategy;

SimdLevel processorLevel() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::kSse2;
#endif
  return SimdLevel::kNone;
}

bool simdRuledOut() { return kav::os::simdDisabled(); }

void fill(FormatDescriptor &d, bool withAlpha, SimdLevel level) {
  d.bytesPerPixel = 4;
  fillPixelConverters(d.portable, Formula::kPortable, withAlpha);
  fillPortableBulk(d.portable, withAlpha);
  if (level == SimdLevel::kNone) {
    d.vector = d.portable;
    return;
  }
  // The vector set's ragged edges follow the vector formula too, so that a
  // pixel's value never depends on which converter reached it.
  fillPixelConverters(d.vector, Formula::kVector, withAlpha);
  bool ok = level == SimdLevel::kAvx2 ? fillAvx2Bulk(d.vector, withAlpha) : fillSse2Bulk(d.vector, withAlpha);
  if (!ok) d.vector = d.portable;
}

void select(SimdLevel level) {
  gLevel = level;
  fill(gPlain, false, level);
  fill(gAlpha, true, level);
  gFilled = true;
}

}  // namespace

void probeProcessor() { select(simdRuledOut() ? SimdLevel::kNone : processorLevel()); }

SimdLevel simdLevel() { return gLevel; }

void limitSimdLevel(SimdLevel level) {
  const SimdLevel best = simdRuledOut() ? SimdLevel::kNone : processorLevel();
  select(static_cast<int>(level) < static_cast<int>(best) ? level : best);
}

const FormatDescriptor &descriptor(bool withAlpha) {
  if (!gFilled) select(SimdLevel::kNone);
  return withAlpha ? gAlpha : gPlain;
}

Strategy strategy() { return gStrategy; }

void setStrategy(const Strategy &s) { gStrategy = s; }

}  // namespace kav::yuv
