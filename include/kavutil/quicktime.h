/* QuickTime movies: frames for the graphics input and sound for the sound
   input. A movie whose video or sound codec is not one of ours does not open,
   and the caller goes on as it would without QuickTime. */
#ifndef KAVUTIL_QUICKTIME_H
#define KAVUTIL_QUICKTIME_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* An open movie's pictures. The fields up to the palette are read by the
   graphics input; the rest belong to the reader. */
typedef struct QTFile {
  uint32_t width;
  uint32_t height;
  uint32_t rowBytes;        /* of the pixel buffer, a multiple of 4 */
  uint32_t bits;            /* 8 (indexes into the palette) or 32 (blue, green, red, alpha) */
  uint32_t frameCount;
  uint32_t rateNumerator;   /* movie time scale times frame count ... */
  uint32_t rateDenominator; /* ... over the movie duration (reduced) */
  uint32_t dataSize;        /* bytes the last rendered frame took in the file */
  uint32_t hasSound;
  uint8_t palette[256 * 4]; /* blue, green, red, 0 per entry (8-bit movies) */
  void *movie;              /* the parsed movie */
  void *videoTrack;
  void *world;              /* the decoder drawing into the pixel buffer */
  void *savedPort;          /* unused here: always null */
  void *savedDevice;        /* unused here: always null */
  uint8_t *pixels;          /* top row of the picture; rows follow at rowBytes */
  uint32_t duration;        /* movie duration, in the movie time scale */
  uint32_t currentTime;     /* movie time of the picture shown */
  uint32_t frameNumber;     /* the next frame QTFileGet delivers */
  uint8_t *pixelBuffer;     /* height times rowBytes */
} QTFile;

/* An open movie's sound track, delivered as PCM: 8-bit unsigned or 16-bit
   signed little-endian samples, channels interleaved. */
typedef struct QTSFile {
  uint32_t sampleRate;
  uint32_t bits;       /* 8 or 16 (wider sources are delivered as 16) */
  uint32_t channels;   /* 1 or 2 */
  uint32_t totalBytes; /* PCM bytes of the whole track */
  uint32_t frameBytes; /* bytes per sample frame */
  void *movie;
  void *soundTrack;
  void *exporter;      /* the converter of the track's samples */
  uint8_t *buffer;     /* converted stretches: at most one second each */
  uint32_t startTime;  /* sample frame of the next stretch */
  uint8_t *pending;    /* converted bytes not yet handed out */
  uint32_t pendingBytes;
  uint32_t timeScale;  /* sample frames per second: times are counted in frames */
  uint32_t duration;   /* sample frames of the track */
  uint32_t remaining;  /* sample frames after startTime */
} QTSFile;

/* Releases the QuickTime layer's process-wide state; 1 when it had been set
   up by an open, else 0. Readers opened later set it up again. */
KAV_EXPORT int32_t KAVAPI KAVQTShutdown(void);

/* The movie's first enabled video track, at frame 0; null on failure. */
KAV_EXPORT QTFile *KAVAPI QTFileOpen(const char *name);
/* Renders the frame numbered frameNumber into the pixel buffer (stepping by
   the track's sample times) and counts frameNumber up. Returns 0. */
KAV_EXPORT int32_t KAVAPI QTFileGet(QTFile *file);
/* The next QTFileGet delivers `frame`; stepping starts again from time 0. */
KAV_EXPORT void KAVAPI QTFileGoto(QTFile *file, uint32_t frame);
KAV_EXPORT void KAVAPI QTFileClose(QTFile *file);

/* The movie's track-th enabled sound track (0 means 1); null on failure. */
KAV_EXPORT QTSFile *KAVAPI QTSFileOpen(const char *name, int32_t track);
/* Up to count bytes of PCM; the bytes delivered. When the very first
   conversion of a call fails, 16 bytes of silence (fewer when count is
   smaller) are delivered instead. 0 at the end of the track. */
KAV_EXPORT uint32_t KAVAPI QTSFileGet(QTSFile *file, void *dest, uint32_t count);
/* Moves to the given time from the start of the track. */
KAV_EXPORT void KAVAPI QTSFileGoto(QTSFile *file, uint32_t milliseconds);
KAV_EXPORT void KAVAPI QTSFileClose(QTSFile *file);

KAV_END_DECLS

#endif
