/* Compressed sound writer: reads PCM through a sound input and writes it,
   one block per call, into a caller's bit file, as Huffman-coded deltas
   (the Zanther sound chunks), transform-coded frames or raw PCM. It also
   supplies leading silence, cuts the sound to a length, and can repeat the
   input or loop the whole range. */
#ifndef KAVUTIL_CSFILE_H
#define KAVUTIL_CSFILE_H

#include "kavdefs.h"
#include "kavcallback.h"
#include "kavfile.h"
#include "huffman.h"
#include "sfile.h"

KAV_BEGIN_DECLS

typedef struct CSFile {
  SFile *sound;            /* the PCM source */
  void *transform;         /* transform encoder, or null for the delta and raw methods */
  uint32_t level;          /* method code modulo 100 */
  uint32_t raw;            /* 1: blocks carry the PCM bytes unchanged */
  uint32_t silence;        /* fill pattern: 0 for 16-bit output, 0x80808080 for 8-bit */
  uint32_t leadLeft;       /* bytes of leading silence still to produce */
  uint32_t lead;           /* ... and at the start */
  uint32_t rangeLeft;      /* bytes of the range still to produce */
  uint32_t range;          /* ... and in total */
  uint32_t deltaMask;      /* low 8 or 16 bits used */
  int32_t deltaThreshold;  /* largest reconstruction error a masked delta may cause */
  uint32_t repeatInput;    /* restart the input when it ends before the range does */
  uint32_t loopRange;      /* start the whole range again, lead included, when it is done */
  KAVFile *output;
  HuffCoder *coders[4];    /* left low, left high, right low, right high */
  uint32_t blockInput;     /* PCM bytes consumed by the last block */
  uint32_t blockSize;      /* bytes written by the last block */
  uint32_t totalInput;
  uint32_t totalOutput;
  uint8_t *work;           /* the block's PCM (the writer's own) */
  uint32_t workBytes;
} CSFile;

/* method: hundreds digit non-zero asks for the transform method where it
   applies (16-bit output of at least 16000 Hz); modulo 100 the level.
   silence_ms of leading silence; length_ms 0 for the input's whole range.
   The other arguments go to SFileOpen. Null when the input does not open. */
KAV_EXPORT CSFile *KAVAPI CSFileOpen(const char *name, uint32_t method, uint32_t repeat_input, uint32_t loop_range,
                                     uint32_t silence_ms, uint32_t length_ms, uint32_t rate, uint32_t bits,
                                     uint32_t channels, int32_t start, int32_t end, uint32_t track,
                                     uint32_t raw_format, uint32_t raw_offset, KAVStatusCallback callback);
/* Where the blocks go. */
KAV_EXPORT void KAVAPI CSFileSetOutput(CSFile *handle, KAVFile *file);
/* Writes one block covering up to count bytes of PCM; read blockSize and
   blockInput afterwards. */
KAV_EXPORT uint32_t KAVAPI CSFilePut(CSFile *handle, uint32_t count);
KAV_EXPORT void KAVAPI CSFileClose(CSFile *handle);
/* /L method code (default 104) and the /P flag, then the sound input's
   switches. Null addresses skip their switch. */
KAV_EXPORT int32_t KAVAPI CSFileCommandline(char *cmdline, uint32_t *method, uint32_t *flag, uint32_t *rate,
                                            uint32_t *bits, uint32_t *channels, int32_t *start, int32_t *end,
                                            uint32_t *track, uint32_t *raw_format, uint32_t *raw_offset);

KAV_END_DECLS

#endif
