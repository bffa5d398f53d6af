// Lossy delta coding of a block: per channel, each sample's difference from
// the running prediction, masked where the error stays within the level's
// threshold, coded with one Huffman byte coder per channel byte.
#include <cstdlib>

#include "sound/csfile_internal.h"

namespace kav::csfile {
namespace {

struct Layout {
  uint32_t channels;
  bool wide;
  uint32_t frameBytes;
};

inline uint32_t sampleAt(const uint8_t *pcm, const Layout &l, uint32_t frame, uint32_t channel) {
  const uint8_t *p = pcm + frame * l.frameBytes + channel * (l.wide ? 2u : 1u);
  return l.wide ? static_cast<uint32_t>(p[0] | p[1] << 8) : p[0];
}

// The delta sent for sample s against prediction p (both modulo the width).
inline uint32_t deltaFor(uint32_t s, uint32_t p, const Layout &l, uint32_t mask, int32_t threshold) {
  const uint32_t wrap = l.wide ? 0xFFFFu : 0xFFu;
  const uint32_t d = (s - p) & wrap;
  const uint32_t q = d & mask;
  const uint32_t recon = (p + q) & wrap;
  int32_t error;
  if (l.wide)
    error = std::abs(static_cast<int32_t>(static_cast<int16_t>(recon)) - static_cast<int16_t>(s));
  else
    error = std::abs(static_cast<int32_t>(recon) - static_cast<int32_t>(s));
  return error > threshold ? d : q;
}

}  // namespace

void writeDeltaSamples(CSFile *h, const uint8_t *pcm, uint32_t m) {
  const SFile *s = h->sound;
  const Layout l{s->outChannels, s->outBits == 16, s->outFrameSize};
  const uint32_t frames = m / l.frameBytes;
  const uint32_t lanes = l.channels * (l.wide ? 2u : 1u);
  KAVFile *out = h->output;
  const uint32_t mask = h->deltaMask;
  const int32_t threshold = h->deltaThreshold;

  KAVFilePutBits(out, 1u | (l.channels == 2 ? 2u : 0u) | (l.wide ? 4u : 0u), 3);

  // Pass 1: statistics.
  for (uint32_t i = 0; i < lanes; ++i) HuffInitStats(h->coders[i]);
  uint32_t predict[2];
  for (uint32_t c = 0; c < l.channels; ++c) predict[c] = sampleAt(pcm, l, 0, c);
  for (uint32_t k = 1; k < frames; ++k)
    for (uint32_t c = 0; c < l.channels; ++c) {
      const uint32_t q = deltaFor(sampleAt(pcm, l, k, c), predict[c], l, mask, threshold);
      if (l.wide) {
        HuffAddStat(h->coders[2 * c], q & 0xFF);
        HuffAddStat(h->coders[2 * c + 1], q >> 8);
      } else {
        HuffAddStat(h->coders[c], q);
      }
      predict[c] = (predict[c] + q) & (l.wide ? 0xFFFFu : 0xFFu);
    }
  // A block of one frame has no deltas; a coder without statistics would
  // write a tree its reader cannot parse, so each counts the delta 0 once.
  if (frames < 2)
    for (uint32_t i = 0; i < lanes; ++i) HuffAddStat(h->coders[i], 0);

  for (uint32_t i = 0; i < lanes; ++i) HuffStartEncode(h->coders[i]);

  // First samples, right channel first; 16-bit high byte before low byte.
  for (uint32_t c = l.channels; c-- > 0;) {
    const uint32_t v = sampleAt(pcm, l, 0, c);
    if (l.wide) {
      KAVFilePutBits(out, v >> 8, 8);
      KAVFilePutBits(out, v & 0xFF, 8);
    } else {
      KAVFilePutBits(out, v, 8);
    }
  }

  // Pass 2: the codes, with a fresh prediction.
  for (uint32_t i = 0; i < lanes; ++i) HuffInitLasts(h->coders[i]);
  for (uint32_t c = 0; c < l.channels; ++c) predict[c] = sampleAt(pcm, l, 0, c);
  for (uint32_t k = 1; k < frames; ++k)
    for (uint32_t c = 0; c < l.channels; ++c) {
      const uint32_t q = deltaFor(sampleAt(pcm, l, k, c), predict[c], l, mask, threshold);
      if (l.wide) {
        HuffEncode(h->coders[2 * c], q & 0xFF);
        HuffEncode(h->coders[2 * c + 1], q >> 8);
      } else {
        HuffEncode(h->coders[c], q);
      }
      predict[c] = (predict[c] + q) & (l.wide ? 0xFFFFu : 0xFFu);
    }
  KAVFileByteAlign(out);
}

}  // namespace kav::csfile
