// One compressed sound block per call: the PCM it covers (lead silence,
// range, repeat and loop), its method, and the size fields and padding that
// let a reader step over it.
#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"
#include "sound/csfile_internal.h"
#include "sound/transform_codec.h"

namespace kav::csfile {

uint32_t readBlockPcm(CSFile *h, uint8_t *area, uint32_t c) {
  SFile *s = h->sound;
  const uint32_t f = s->outFrameSize;
  uint32_t produced = 0;
  bool looped = false;
  for (;;) {
    // Leading silence: the area already holds the fill pattern.
    if (h->leadLeft && produced < c) {
      const uint32_t n = std::min(c - produced, h->leadLeft);
      h->leadLeft -= n;
      h->rangeLeft -= std::min(n, h->rangeLeft);
      produced += n;
    }
    bool justReset = false;
    while (produced < c && h->rangeLeft) {
      const uint32_t want = std::min(c - produced, h->rangeLeft);
      const uint32_t got = SFileGet(s, area + produced, want);
      produced += got;
      h->rangeLeft -= got;
      if (got > 0) justReset = false;
      if (got == want) continue;
      // The input ended before the range did. An input that gives nothing
      // straight after a reset is not repeated forever.
      if (h->repeatInput && !justReset) {
        SFileReset(s);
        justReset = true;
        continue;
      }
      const uint32_t rest = std::min(c - produced, h->rangeLeft);
      produced += rest;  // silence
      h->rangeLeft -= rest;
      break;
    }
    if (h->rangeLeft || produced >= c || !h->loopRange || looped) break;
    // The range is done and the area is not full: start it all again.
    SFileReset(s);
    h->leadLeft = h->lead;
    h->rangeLeft = h->range;
    looped = true;
    c = produced + (c - produced) / f * f;
    if (h->range == 0) break;
  }
  return produced;
}

}  // namespace kav::csfile

using namespace kav::csfile;

namespace {

void fillPattern(uint8_t *p, uint32_t n, uint32_t pattern) {
  std::memset(p, static_cast<int>(pattern & 0xFF), n);
}

bool ensureWork(CSFile *h, uint32_t n) {
  if (h->workBytes >= n) return true;
  kavfree(h->work);
  h->workBytes = 0;
  h->work = static_cast<uint8_t *>(kavmalloc(n));
  if (!h->work) return false;
  h->workBytes = n;
  return true;
}

// Pads from the block start to a multiple of 4, then fills in the size
// fields at the start.
void finishBlock(CSFile *h, uint32_t start, uint8_t padByte, bool secondField) {
  KAVFile *out = h->output;
  while ((KAVFileGetPos(out) - start) & 3u) KAVFilePut8(out, padByte);
  const uint32_t end = KAVFileGetPos(out);
  h->blockSize = end - start;
  h->totalOutput += h->blockSize;
  KAVFileSetPos(out, start);
  KAVFilePut32(out, h->blockSize);
  if (secondField) KAVFilePut32(out, h->blockInput);
  KAVFileSetPos(out, end);
}

void putTransformBlock(CSFile *h, uint32_t n) {
  auto *enc = static_cast<kav::sound::TransformEncoder *>(h->transform);
  KAVFile *out = h->output;
  const uint32_t start = KAVFileGetPos(out);
  KAVFilePut32(out, 0);
  KAVFilePut32(out, 0);
  uint32_t left = n;
  for (;;) {
    const kav::sound::TransformInputArea area = kav::sound::transformInputArea(enc);
    auto *bytes = reinterpret_cast<uint8_t *>(area.samples);
    std::memset(bytes, 0, area.bytesWanted);
    const uint32_t got = readBlockPcm(h, bytes, area.bytesWanted);
    const kav::sound::TransformEncodedFrame fr = kav::sound::transformEncodeFrame(enc, h->level, got);
    KAVFilePut(out, fr.bytes, fr.byteCount);
    h->blockInput += fr.inputBytes;
    h->totalInput += fr.inputBytes;
    // An encoder with nothing left to account for would never reach n.
    if (fr.inputBytes == 0 || fr.inputBytes >= left) break;
    left -= fr.inputBytes;
  }
  finishBlock(h, start, 0, true);
}

}  // namespace

extern "C" {

KAV_EXPORT uint32_t KAVAPI CSFilePut(CSFile *h, uint32_t count) {
  if (!h || !h->sound || !h->output) return 0;
  try {
    const uint32_t f = h->sound->outFrameSize;
    uint32_t n = count - count % f;
    h->blockInput = h->blockSize = 0;
    if (!h->loopRange) n = std::min(n, h->rangeLeft);
    if (h->transform) {
      if (n > 0) putTransformBlock(h, n);
      return 0;
    }
    if (n == 0 || !ensureWork(h, n)) return 0;
    fillPattern(h->work, n, h->silence);
    const uint32_t m = readBlockPcm(h, h->work, n);
    if (m == 0) return 0;
    h->totalInput += m;
    h->blockInput = m;
    KAVFile *out = h->output;
    const uint32_t start = KAVFileGetPos(out);
    KAVFilePut32(out, 0);
    if (h->raw) {
      KAVFilePut(out, h->work, m);
      // Readers play a raw block's padding as sound: pad with silence.
      finishBlock(h, start, static_cast<uint8_t>(h->silence), false);
    } else {
      KAVFilePut32(out, m);
      writeDeltaSamples(h, h->work, m);
      finishBlock(h, start, 0, false);
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
