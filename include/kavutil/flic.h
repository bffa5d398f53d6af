/* Flic animations (".flc", ".fli"): a reader that decodes frames into an
   8-bit paletted buffer of the caller's, and a writer that makes FLC files
   from 8-bit frames. */
#ifndef KAVUTIL_FLIC_H
#define KAVUTIL_FLIC_H

#include "kavdefs.h"
#include "kavfile.h"

KAV_BEGIN_DECLS

/* Frame durations (rate) follow the library's convention: a positive value
   is milliseconds per frame, a negative one minus the duration in units of
   10 microseconds. The reader always gives a negative value. */

/* An open Flic for reading. The leading fields are read directly by the
   graphics input, so their order is fixed. */
typedef struct KAVFlic {
  uint32_t fileSize;         /* header copy; not checked */
  uint32_t pitch;            /* width rounded up to 4: bytes between rows */
  uint32_t paddedHeight;     /* height rounded up to 4 */
  uint32_t frameCount;       /* frames in the header, ring frame excluded */
  int32_t rate;              /* frame duration, always negative */
  uint32_t width;
  uint32_t height;
  KAVFile *file;             /* null after a failed open */
  uint32_t framesDecoded;    /* since the last rewind; 0 before frame 1 */
  uint32_t frameDataSize;    /* last frame's size minus its 16-byte header */
  uint32_t firstFrameOffset; /* file offset of frame 1 */
  uint8_t palette[768];      /* red, green, blue of 256 entries */
} KAVFlic;

/* Opens an FLI or FLC file. A name without an extension is tried with
   ".flc", then with ".fli". Null on failure. */
KAV_EXPORT KAVFlic *KAVAPI KAVFlicOpen(const char *name);
KAV_EXPORT void KAVAPI KAVFlicClose(KAVFlic *flic);
/* Decodes the next frame into buffer (pitch x paddedHeight bytes, passed
   unchanged from call to call: later frames are deltas). After the last
   frame it starts again from the first. 0 no file, 2 the palette changed,
   1 otherwise. */
KAV_EXPORT uint8_t KAVAPI KAVFlicGetNext(KAVFlic *flic, uint8_t *buffer);
/* Brings buffer to frame number frame (1 is the first; clamped to the frame
   count; 0 rewinds without touching buffer). 0 on failure, 2 if the palette
   changed on the way, else 1. */
KAV_EXPORT uint8_t KAVAPI KAVFlicGoto(KAVFlic *flic, uint32_t frame, uint8_t *buffer);
/* The 768 palette bytes of the handle; valid until KAVFlicClose. */
KAV_EXPORT uint8_t *KAVAPI KAVFlicGetPalette(KAVFlic *flic);
/* Copies the name of the open file (with the extension that was added) to
   out, which holds KAV_NAME_MAX bytes. */
KAV_EXPORT void KAVAPI KAVFlicGetName(KAVFlic *flic, char *out);

/* An FLC being written. The graphics output reads the write error. */
typedef struct KAVOFlic {
  KAVFile *file;              /* null after close */
  uint32_t width;             /* even */
  uint32_t height;
  uint32_t writeError;        /* 1 once the file reported a write error */
  uint32_t framesWritten;     /* ring frame included after close */
  uint8_t *previousFrame;     /* width x height: the last frame written */
  uint8_t *firstFrame;        /* width x height: a copy of frame 1 */
  uint8_t *workBuffer;        /* width x height: chunk data being encoded */
  uint32_t secondFrameOffset; /* file offset just after frame 1 */
  uint8_t palette[768];       /* the palette written so far */
} KAVOFlic;

/* Creates name (".flc" added when it has no extension) for frames of
   width x height pixels; width must be even. Null on failure. */
KAV_EXPORT KAVOFlic *KAVAPI KAVOFlicCreate(const char *name, uint32_t width, uint32_t height, int32_t rate);
/* Writes one frame of width x height bytes (no row padding). palette (768
   bytes) may be null when it does not change. 1 done, 0 no file or the file
   has reported a write error, or the Flic is full: it holds at most
   KAV_FLIC_MAX_FRAMES frames and stays below 4 GiB (then nothing is written
   and writeError stays 0). */
#define KAV_FLIC_MAX_FRAMES 65535u
KAV_EXPORT uint8_t KAVAPI KAVOFlicPutNext(KAVOFlic *oflic, const uint8_t *pixels, const uint8_t *palette);
/* Appends the ring frame (back to frame 1), fixes the header, closes and
   frees. Returns the file size in bytes, 0 without a file. */
KAV_EXPORT uint32_t KAVAPI KAVOFlicClose(KAVOFlic *oflic);

KAV_END_DECLS

#endif
