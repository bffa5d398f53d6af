// Opening and closing the compressed sound writer, its level tables and its
// switches.
#include <cstring>

#include "kavutil/kavbase.h"
#include "sound/csfile_internal.h"
#include "sound/transform_codec.h"

namespace kav::csfile {
namespace {

constexpr uint32_t kMask8[10] = {0xFF, 0xFE, 0xFE, 0xFC, 0xFC, 0xF8, 0xF8, 0xF0, 0xF0, 0xE0};
constexpr uint32_t kMask16[10] = {0xFFFF, 0xFFFC, 0xFFF8, 0xFFF0, 0xFFC0, 0xFF80, 0xFF00, 0xFE00, 0xFC00, 0xF800};
constexpr int32_t kThreshold8[11] = {0, 1, 2, 2, 3, 6, 8, 12, 16, 24, 32};
constexpr int32_t kThreshold16[11] = {0, 4, 8, 16, 64, 128, 256, 512, 1024, 2048, 3072};

uint32_t roundUp(uint64_t v, uint32_t f) {
  const uint64_t r = (v + f - 1) / f * f;
  return static_cast<uint32_t>(r > 0xFFFFFFFFu - 3 ? (0xFFFFFFFFu - 3) / f * f : r);
}

}  // namespace

LevelParams levelParams(uint32_t level, bool wide) {
  const uint32_t i = level / 10 % 10, f = level % 10;
  const int32_t *t = wide ? kThreshold16 : kThreshold8;
  return {wide ? kMask16[i] : kMask8[i], t[i] + (t[i + 1] - t[i]) * static_cast<int32_t>(f) / 10};
}

}  // namespace kav::csfile

using namespace kav::csfile;

extern "C" {

KAV_EXPORT CSFile *KAVAPI CSFileOpen(const char *name, uint32_t method, uint32_t repeat_input, uint32_t loop_range,
                                     uint32_t silence_ms, uint32_t length_ms, uint32_t rate, uint32_t bits,
                                     uint32_t channels, int32_t start, int32_t end, uint32_t track,
                                     uint32_t raw_format, uint32_t raw_offset, KAVStatusCallback callback) {
  try {
    auto *h = static_cast<CSFile *>(kavmalloc(sizeof(CSFile)));
    if (!h) return nullptr;
    std::memset(static_cast<void *>(h), 0, sizeof *h);
    if (raw_format) {
      rate = raw_format / 8;
      bits = channels = 0;
      if (raw_format >= 4) h->raw = 1;
    }
    h->sound = SFileOpen(name, rate, bits, channels, start, end, track, raw_format, raw_offset, callback);
    if (!h->sound) {
      kavfree(h);
      return nullptr;
    }
    const SFile *s = h->sound;
    const uint32_t r = s->outRate, f = s->outFrameSize;
    const uint64_t bps = uint64_t{r} * f;
    h->lead = h->leadLeft = roundUp(bps * silence_ms / 1000u, f);
    if (length_ms && !h->raw) {
      h->range = roundUp(bps * length_ms / 1000u, f);
    } else {
      const uint64_t srcBps = uint64_t{s->srcRate} * s->srcFrameSize;
      uint64_t bytes = srcBps ? uint64_t{s->length} * bps / srcBps : 0;
      bytes = bytes > 0xFFFFFFFFu - 3 ? 0xFFFFFFFFu - 3 : bytes;
      h->range = static_cast<uint32_t>(bytes - bytes % f);
    }
    h->rangeLeft = h->range;
    h->level = method % 100;
    const bool wide = s->outBits == 16;
    const LevelParams lp = levelParams(h->level, wide);
    h->deltaMask = lp.mask;
    h->deltaThreshold = lp.threshold;
    h->silence = wide ? 0 : 0x80808080u;
    h->repeatInput = repeat_input;
    h->loopRange = loop_range;
    bool ok = true;
    if (!h->raw && method >= 100 && wide && r >= 16000) {
      h->transform = kav::sound::transformEncoderCreate(r, s->outChannels);
      ok = h->transform != nullptr;
    } else {
      for (HuffCoder *&c : h->coders) {
        c = HuffOpen(1);
        ok = ok && c;
      }
    }
    if (!ok) {
      CSFileClose(h);
      return nullptr;
    }
    return h;
  } catch (...) {
    return nullptr;
  }
}

KAV_EXPORT void KAVAPI CSFileSetOutput(CSFile *h, KAVFile *file) {
  if (!h) return;
  h->output = file;
  for (HuffCoder *c : h->coders)
    if (c) HuffSetOutput(c, file);
}

KAV_EXPORT void KAVAPI CSFileClose(CSFile *h) {
  if (!h) return;
  try {
    SFileClose(h->sound);
    for (HuffCoder *c : h->coders) HuffClose(c);
    if (h->transform) kav::sound::transformFree(static_cast<kav::sound::TransformEncoder *>(h->transform));
    kavfree(h->work);
    std::memset(static_cast<void *>(h), 0, sizeof *h);
    kavfree(h);
  } catch (...) {
  }
}

KAV_EXPORT int32_t KAVAPI CSFileCommandline(char *cmdline, uint32_t *method, uint32_t *flag, uint32_t *rate,
                                            uint32_t *bits, uint32_t *channels, int32_t *start, int32_t *end,
                                            uint32_t *track, uint32_t *raw_format, uint32_t *raw_offset) {
  if (!cmdline) return 0;
  if (method) *method = static_cast<uint32_t>(GetSwitchNum(cmdline, 'L', 104));
  if (flag) *flag = GetSwitch(cmdline, 'P') ? 1u : 0u;
  return SFileCommandLine(cmdline, rate, bits, channels, start, end, track, raw_format, raw_offset);
}

}  // extern "C"
