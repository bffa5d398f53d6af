// Coder records, the statistics pass and the coding pass.
#include <cstring>

#include "kavutil/kavbase.h"
#include "sound/huffman_coder.h"
#include "util/kavfile_inline.h"

using namespace kav::huff;

namespace {

HuffCoder *openOne(uint32_t symbolCount) {
  auto *c = static_cast<HuffCoder *>(kavmalloc(sizeof(HuffCoder)));
  if (!c) return nullptr;
  std::memset(c, 0, sizeof *c);
  c->symbolCount = symbolCount;
  // One allocation: the lengths, then the 32-bit codes (kept aligned because
  // the lengths part is a multiple of 32 bytes).
  const uint32_t bytes = symbolCount * 5;
  auto *tables = static_cast<uint8_t *>(kavmalloc(bytes));
  if (!tables) {
    kavfree(c);
    return nullptr;
  }
  std::memset(tables, 0, bytes);
  c->lengths = tables;
  c->codes = reinterpret_cast<uint32_t *>(tables + symbolCount);
  return c;
}

void closeOne(HuffCoder *c) {
  if (!c) return;
  kavfree(c->lengths);
  std::memset(c, 0, sizeof *c);
  kavfree(c);
}

}  // namespace

extern "C" {

KAV_EXPORT HuffCoder *KAVAPI HuffOpen(uint32_t kind) {
  if (kind & 0xFFu) return openOne(256);
  HuffCoder *word = openOne(65536);
  if (!word) return nullptr;
  word->lowCoder = openOne(256);
  word->highCoder = word->lowCoder ? openOne(256) : nullptr;
  if (!word->highCoder) {
    closeOne(word->lowCoder);
    closeOne(word);
    return nullptr;
  }
  return word;
}

KAV_EXPORT void KAVAPI HuffSetOutput(HuffCoder *c, KAVFile *file) {
  if (!c) return;
  c->output = file;
  if (c->lowCoder) c->lowCoder->output = file;
  if (c->highCoder) c->highCoder->output = file;
}

KAV_EXPORT void KAVAPI HuffClose(HuffCoder *c) {
  if (!c) return;
  closeOne(c->lowCoder);
  closeOne(c->highCoder);
  closeOne(c);
}

KAV_EXPORT void KAVAPI HuffInitStats(HuffCoder *c) {
  if (!c) return;
  std::memset(c->codes, 0, c->symbolCount * sizeof(uint32_t));
  c->hasStatistics = 0;
  std::memset(c->recent, 0, sizeof c->recent);
  std::memset(c->escapes, 0, sizeof c->escapes);
}

KAV_EXPORT void KAVAPI HuffInitLasts(HuffCoder *c) {
  if (c) std::memset(c->recent, 0, sizeof c->recent);
}

KAV_EXPORT void KAVAPI HuffAddStat(HuffCoder *c, uint32_t v) {
  if (!c) return;
  c->hasStatistics = 1;
  v &= c->symbolCount - 1;
  if (isWordCoder(c)) {
    for (int i = 0; i < 3; ++i) {
      if (v == c->recent[i]) {
        // The value itself keeps a code: the escape may end up disabled or
        // longer, and then the value is sent as itself.
        if (c->codes[v] == 0) c->codes[v] = 1;
        ++c->escapes[i];
        updateRecent(c, v);
        return;
      }
    }
    ++c->codes[v];
    updateRecent(c, v);
    return;
  }
  ++c->codes[v];
}

KAV_EXPORT void KAVAPI HuffEncode(HuffCoder *c, uint32_t v) {
  if (!c) return;
  v &= c->symbolCount - 1;
  uint32_t chosen = v;
  if (isWordCoder(c)) {
    for (int i = 0; i < 3; ++i) {
      if (v == c->recent[i] && c->escapeUsable[i] && c->lengths[c->escapes[i]] < c->lengths[v]) {
        chosen = c->escapes[i];
        break;
      }
    }
    updateRecent(c, v);
    c->symbolsCoded += 2;
  } else {
    c->symbolsCoded += 1;
  }
  const uint32_t length = c->lengths[chosen];
  c->bits += length;
  kav::putBits(c->output, c->codes[chosen], length);
}

}  // extern "C"
