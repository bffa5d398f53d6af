/* Vorn movies (".vrn"): opening a file or an embedded stream, stepping and
   seeking through its frames, converting the decoded picture to 32-bit
   pixels and reading its transform-coded sound tracks. */
#ifndef KAVUTIL_VORNFILE_H
#define KAVUTIL_VORNFILE_H

#include "kavdefs.h"
#include "vorn.h"

KAV_BEGIN_DECLS

/* Open flags. */
#define VORN_OPEN_BY_HANDLE 0x00800000u   /* the source is the descriptor, at the stream start */
#define VORN_OPEN_ALPHA 0x00100000u       /* decode the alpha plane (kept only when the file has one) */
#define VORN_OPEN_CALLER_THREAD 0x08000000u /* every operation runs on the caller's thread */
#define VORN_OPEN_PREFERRED_TRACK 0x00004000u /* playback track by the preferred identifier */
#define VORN_OPEN_SCALE_MASK 0x70000000u  /* scaling mode; all three bits: none at all */

/* Track descriptor bits (the low 16 bits are the sample rate in Hz). */
#define VORN_TRACK_STEREO 0x20000000u
#define VORN_TRACK_16BIT 0x40000000u
#define VORN_TRACK_READABLE 0x80000000u

/* An open Vorn stream. The leading fields are read directly by the graphics
   and sound inputs, so their order is fixed; the reader's private state
   follows them. */
typedef struct VornHandle {
  uint32_t width;            /* displayed width (after the scaling mode) */
  uint32_t height;           /* displayed height */
  uint32_t frameCount;
  int32_t currentFrame;      /* 1-based; -1 until the open loads frame 1 */
  int32_t previousFrame;
  uint32_t rateNumerator;    /* frames per second = numerator / denominator */
  uint32_t rateDenominator;
  uint32_t flags;            /* handle flags: open flags, grey, scaling mode, revision bits */
  uint32_t videoFlags;       /* header video flags */
  uint32_t streamSize;       /* header: size of the stream minus 8 */
  uint32_t largestFrame;     /* header: largest frame in bytes */
  uint32_t indexEntries;     /* F: frame index entries minus one */
  uint32_t trackCount;
  uint32_t chromaWidth;      /* cw: half width rounded up to 8 */
  uint32_t chromaHeight;     /* ch */
  uint32_t lumaWidth;        /* 2 cw: row length of the luma plane */
  uint32_t lumaHeight;       /* 2 ch */
  uint8_t *planeSets[2];     /* luma, then the two chroma planes of cw x ch */
  uint8_t *alphaPlanes[2];   /* luma geometry; null without alpha */
  uint32_t currentSet;       /* index of the set holding the current picture */
  uint8_t *blockMap;         /* one byte per 16 x 16 block */
  void *bundles[VORN_BUNDLE_COUNT];
  uint32_t *trackLargestSound; /* per track: largest decoded sound of one frame, bytes */
  uint32_t *trackDescriptors;  /* per track: VORN_TRACK_* bits and the sample rate */
  uint32_t *trackIds;          /* per track: identifier */
  uint32_t *frameIndex;        /* F + 1 entries: stream offset, bit 0 key frame */
} VornHandle;

/* A reader of one sound track, to be closed before its handle. The sound
   input reads the leading fields. */
typedef struct VornTrack {
  uint32_t sampleRate;
  uint32_t bits;             /* 16 or 8 */
  uint32_t channels;         /* 1 or 2 */
  uint32_t bufferBytes;      /* largest result of VornTrackRead */
  uint32_t track;            /* index in the handle's tables */
} VornTrack;

/* Sets the process-wide preferred track identifier (-1: none) that the
   next VornOpen with VORN_OPEN_PREFERRED_TRACK uses; every open resets it
   to -1. */
KAV_EXPORT void KAVAPI VornSetPreferredTrack(int32_t id);

/* Opens the named file, or with VORN_OPEN_BY_HANDLE the stream at the
   current position of `file` (which stays the caller's). Loads frame 1.
   Null on failure. */
KAV_EXPORT VornHandle *KAVAPI VornOpen(const char *name, KavOsFile file, uint32_t flags);
/* Releases everything; null is ignored. */
KAV_EXPORT void KAVAPI VornClose(VornHandle *handle);

/* Decodes the loaded frame unless it is already decoded. Returns 0. */
KAV_EXPORT int32_t KAVAPI VornDecodeFrame(VornHandle *handle);
/* Converts the current picture to 32-bit pixels at (x, y) of buffer
   (pitch bytes per row, height rows; a negative pitch writes bottom-up,
   row height - y - 1 first). Format 3 gives B, G, R, 0; format 5 also keeps
   the alpha plane when there is one. Bit 31 of format travels to the
   converters untouched. What would fall outside the buffer is not drawn.
   Returns 0. */
KAV_EXPORT int32_t KAVAPI VornCopyToBuffer(VornHandle *handle, uint8_t *buffer, int32_t pitch, uint32_t height,
                                           int32_t x, int32_t y, uint32_t format);
/* Loads the next frame, or frame 1 after the last. */
KAV_EXPORT void KAVAPI VornNextFrame(VornHandle *handle);
/* Brings the handle to frame (1-based, clamped to the frame count; 0 counts
   as 1). Mode bit 0: only load it. Otherwise the frames from the key frame
   at or before it are decoded up to the one before it; the target is loaded
   but not decoded. */
KAV_EXPORT void KAVAPI VornGoto(VornHandle *handle, uint32_t frame, uint32_t mode);

/* Descriptor and identifier of track i (0 for a null handle or no such
   track). */
KAV_EXPORT uint32_t KAVAPI VornTrackInfo(VornHandle *handle, uint32_t i);
KAV_EXPORT uint32_t KAVAPI VornTrackId(VornHandle *handle, uint32_t i);
/* A reader for track i, or null when the track is not transform-coded. */
KAV_EXPORT VornTrack *KAVAPI VornTrackOpen(VornHandle *handle, uint32_t i);
KAV_EXPORT void KAVAPI VornTrackClose(VornTrack *track);
/* Decodes the current frame's sound chunk of the track into destination
   (bufferBytes bytes) and returns the bytes written; 0 when the frame has
   no sound for the track. */
KAV_EXPORT uint32_t KAVAPI VornTrackRead(VornTrack *track, void *destination);

/* Video decoding on (non-zero) or off; with it off VornDecodeFrame only
   records the frame as decoded. */
KAV_EXPORT void KAVAPI VornSetVideoDecoding(VornHandle *handle, int32_t on);

KAV_END_DECLS

#endif
