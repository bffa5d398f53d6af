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
  // One allocation: the lengths, then the 32-bit codes, then the 64-bit
  // entries (kept aligned because the lengths part is a multiple of 32 bytes).
  const uint32_t bytes = symbolCount * 13;
  auto *tables = static_cast<uint8_t *>(kavmalloc(bytes));
  if (!tables) {
    kavfree(c);
    return nullptr;
  }
  std::memset(tables, 0, bytes);
  c->lengths = tables;
  c->codes = reinterpret_cast<uint32_t *>(tables + symbolCount);
  c->entries = reinterpret_cast<uint64_t *>(tables + symbolCount * 5);
  for (uint32_t &l : c->escapeLength) l = kUnusableEscape;
  return c;
}

// The value is one of the recent ones: the first position holding it whose
// escape is shorter than the value's own code sends the escape instead.
uint64_t escapeOr(const HuffCoder *c, uint32_t v, uint64_t entry) {
  for (int i = 0; i < 3; ++i)
    if (v == c->recent[i] && c->escapeLength[i] < (entry >> 32)) return c->escapeEntry[i];
  return entry;
}

// Apart from the byte coder's path, which then stays a handful of
// instructions without register saves.
__attribute__((noinline)) void encodeWord(HuffCoder *c, uint32_t v) {
  v &= 0xFFFFu;
  uint64_t entry = c->entries[v];
  const uint32_t r0 = c->recent[0];
  if (v == r0 || v == c->recent[1] || v == c->recent[2]) entry = escapeOr(c, v, entry);
  updateRecent(c, v);
  c->symbolsCoded += 2;
  kav::compilerBarrier();  // as in the byte coder
  const auto length = static_cast<uint32_t>(entry >> 32);
  c->bits += length;
  kav::putCode(c->output, static_cast<uint32_t>(entry), length);
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
  std::memset(c->escapeUsable, 0, sizeof c->escapeUsable);
  for (uint32_t &l : c->escapeLength) l = kUnusableEscape;
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
  if (isWordCoder(c)) {
    encodeWord(c, v);
    return;
  }
  c->symbolsCoded += 1;
  // Kept apart from the next counter: compilers merge two neighbouring
  // counter updates into one vector add, whose store the next call waits for
  // far longer than for two plain ones.
  kav::compilerBarrier();
  const uint64_t entry = c->entries[v & 0xFFu];
  const auto length = static_cast<uint32_t>(entry >> 32);
  c->bits += length;
  kav::putCode(c->output, static_cast<uint32_t>(entry), length);
}

}  // extern "C"
