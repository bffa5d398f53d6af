/* Sound input: one handle that reads PCM from a WAVE file, a headerless PCM
   file, the sound track of a Zanther or Vorn movie (also one inside an
   .EXE), the audio stream of an AVI file, the sound of a QuickTime movie,
   the sound GStreamer decodes from other files (MP3, FLAC, Ogg, Opus, the
   sound of MP4, Matroska and WebM movies) or a list of any of these, and delivers it in the rate, width and channel
   count the caller asks for. The leading fields of the handle are read
   directly by the tools and by the compressed sound writer. */
#ifndef KAVUTIL_SFILE_H
#define KAVUTIL_SFILE_H

#include "kavdefs.h"
#include "kavcallback.h"
#include "kavfile.h"
#include "quicktime.h"
#include "vornfile.h"
#include "zanther.h"

KAV_BEGIN_DECLS

/* Source kinds. */
#define SFILE_KIND_FILE 1u      /* WAVE or headerless PCM file */
#define SFILE_KIND_ZANTHER 2u
#define SFILE_KIND_AVI 3u
#define SFILE_KIND_LIST 4u
#define SFILE_KIND_QUICKTIME 5u
#define SFILE_KIND_VORN 6u
#define SFILE_KIND_GSTREAMER 7u /* compressed sound decoded through GStreamer */

typedef struct SFile {
  char name[KAV_NAME_MAX];  /* the file opened (".wav" added to a name without extension) */
  char kindName[128];       /* "Wave", "Zanther", "AVI", "QuickTime", "List"; empty for Vorn */
  uint32_t end;             /* set when no more sound is left */
  uint32_t outRate;         /* output sample frames per second */
  uint32_t outBits;         /* 8 or 16 */
  uint32_t outChannels;     /* 1 or 2 */
  uint32_t outFrameSize;    /* bytes per output sample frame */
  uint32_t outSamples;      /* output sample frames delivered so far */
  uint32_t srcRate;
  uint32_t srcBits;
  uint32_t srcChannels;
  uint32_t srcFrameSize;
  uint32_t srcSamples;      /* source sample frames read so far */
  uint8_t *bufStart;        /* source buffer: start, end of valid data, read position */
  uint8_t *bufEnd;
  uint8_t *bufRead;
  uint32_t bufSize;         /* bytes of the source buffer */
  uint32_t trackMask;       /* Zanther: ZANTH_TRACK_MASK_0 shifted left by the track index */
  uint32_t kind;            /* SFILE_KIND_* */
  int32_t upLeft;           /* upsampling: value of the left and right channel, 10-bit fixed point, */
  int32_t upRight;
  int32_t upStepLeft;       /* their steps per output frame, */
  int32_t upStepRight;
  uint32_t upNext;          /* and the output frame at which the next source frame is read */
  KAVStatusCallback callback;
  uint32_t remaining;       /* source bytes still to deliver */
  uint32_t length;          /* source bytes in the selected range */
  KAVFile *file;            /* WAVE or raw file */
  uint32_t dataOffset;      /* its first data byte */
  KavOsFile exeFile;        /* the .EXE holding the movie, or KAV_INVALID_OS_FILE */
  ZanthHandle *zanther;
  VornHandle *vorn;
  VornTrack *vornTrack;
  uint32_t startSkip;       /* source bytes still to drop at the start (movie kinds, lists) */
  uint32_t startSkipGiven;
  void *list;               /* list state */
  struct SFile *entry;      /* the list's current entry */
  void *aviStream;
  uint32_t aviFirst;        /* first and next sample of the AVI audio stream */
  uint32_t aviNext;
  QTSFile *quicktime;
  uint32_t quicktimeStart;  /* milliseconds */
  void *priv;               /* the reader's own state */
} SFile;

/* Opens a sound source. rate 0: the source rate; bits 8 or 16, channels 1
   or 2, else the source's. start in milliseconds (-n: the start of video
   frame n), end in milliseconds from the beginning (0: the end; -n: the end
   of video frame n). track picks the Zanther, Vorn, AVI or QuickTime track.
   raw_format non-zero opens a headerless PCM file: bits 3 and up the rate,
   bit 1 16-bit, bit 0 stereo; raw_offset bytes are skipped at its start.
   Null on failure, reported through the callback with code 2. */
KAV_EXPORT SFile *KAVAPI SFileOpen(const char *name, uint32_t rate, uint32_t bits, uint32_t channels, int32_t start,
                                   int32_t end, uint32_t track, uint32_t raw_format, uint32_t raw_offset,
                                   KAVStatusCallback callback);
/* Fills buffer with up to count bytes, in whole output frames; returns the
   bytes delivered. */
KAV_EXPORT uint32_t KAVAPI SFileGet(SFile *handle, void *buffer, uint32_t count);
/* Back to the start of the range. */
KAV_EXPORT void KAVAPI SFileReset(SFile *handle);
/* Releases everything; null is ignored. */
KAV_EXPORT void KAVAPI SFileClose(SFile *handle);
/* Takes /R rate, /C channels, /B bits, /S start, /E end, /T track and /Y
   raw type (with /D raw rate and /K raw offset for /Y1 to /Y5) out of the
   command line. Null addresses skip their switch. Returns 1. */
KAV_EXPORT int32_t KAVAPI SFileCommandLine(char *cmdline, uint32_t *rate, uint32_t *bits, uint32_t *channels,
                                           int32_t *start, int32_t *end, uint32_t *track, uint32_t *raw_format,
                                           uint32_t *raw_offset);

KAV_END_DECLS

#endif
