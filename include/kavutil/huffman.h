/* Two-pass Huffman coder writing to a KAVFile: count every symbol
   (HuffAddStat), write the code tree (HuffStartEncode), then write the codes
   of the same symbols in the same order (HuffEncode). A byte coder codes 256
   symbols; a word coder codes 65536 and keeps the three most recent values,
   which it may send as short escape codes. The tree layout is the one the
   house video readers and the compressed sound blocks use. */
#ifndef KAVUTIL_HUFFMAN_H
#define KAVUTIL_HUFFMAN_H

#include "kavdefs.h"
#include "kavfile.h"

KAV_BEGIN_DECLS

typedef struct HuffCoder HuffCoder;

/* A byte coder when the low byte of kind is non-zero, else a word coder with
   its two byte coders for the leaf values. Null when memory is short. */
KAV_EXPORT HuffCoder *KAVAPI HuffOpen(uint32_t kind);
/* Sets where the coder (and a word coder's byte coders) write. */
KAV_EXPORT void KAVAPI HuffSetOutput(HuffCoder *coder, KAVFile *file);
/* Closes the byte coders and frees the coder; null is ignored. */
KAV_EXPORT void KAVAPI HuffClose(HuffCoder *coder);
/* Forgets all counts, the recent values and the escape counters. */
KAV_EXPORT void KAVAPI HuffInitStats(HuffCoder *coder);
/* Forgets the recent values, so that the second pass sees the cache the
   first pass saw. */
KAV_EXPORT void KAVAPI HuffInitLasts(HuffCoder *coder);
/* Pass 1: counts one symbol (masked to 8 or 16 bits). */
KAV_EXPORT void KAVAPI HuffAddStat(HuffCoder *coder, uint32_t symbol);
/* Builds the codes and writes the tree. Returns 12 without statistics, 20 for
   a single symbol, else 8 x (leaves - 1) + 16; -1 when a code would pass 30
   bits or the symbols leave no value free for an escape (the stream is then
   unusable). */
KAV_EXPORT int32_t KAVAPI HuffStartEncode(HuffCoder *coder);
/* Pass 2: writes the code of one symbol counted in pass 1. */
KAV_EXPORT void KAVAPI HuffEncode(HuffCoder *coder, uint32_t symbol);

KAV_END_DECLS

#endif
