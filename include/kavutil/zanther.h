/* Zanther (".znt"): the house 8-bit paletted video format with up to seven
   sound tracks. A ZanthHandle is an open file positioned on one frame; the
   graphics and sound inputs read its leading fields directly. */
#ifndef KAVUTIL_ZANTHER_H
#define KAVUTIL_ZANTHER_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* Open flag: read the stream from the given descriptor (positioned at its
   first byte; it stays the caller's) instead of opening the named file. */
#define ZANTH_OPEN_HANDLE 0x1000u

/* FileFlags bits. */
#define ZANTH_RING_FRAME 0x1u
#define ZANTH_INTERLACED 0x2u
#define ZANTH_DOUBLED 0x4u

/* TrackInfo bits; bits 0-23 are the sample rate in Hz. */
#define ZANTH_TRACK_TRANSFORM 0x08000000u
#define ZANTH_TRACK_STEREO 0x10000000u
#define ZANTH_TRACK_16BIT 0x20000000u
#define ZANTH_TRACK_PRESENT 0x40000000u
#define ZANTH_TRACK_COMPRESSED 0x80000000u

/* Mask bit of track 0 for ZanthTrackData; track t is this shifted left by t. */
#define ZANTH_TRACK_MASK_0 0x2000u

typedef struct ZanthHandle {
  /* The 104 header bytes as stored (Height doubled in interlaced and doubled
     modes). */
  uint8_t Magic[4];
  uint32_t Width;
  uint32_t Height;
  uint32_t FrameCount;
  int32_t FramePeriod; /* > 0 ms per frame, < 0 minus 1/100000 s units, 0 none */
  uint32_t FileFlags;
  uint32_t TrackSpare[7];
  uint32_t TreeBytes;
  uint32_t MapTreeSize;
  uint32_t ColourTreeSize;
  uint32_t FullTreeSize;
  uint32_t TypeTreeSize;
  uint32_t TrackInfo[7];
  uint32_t Reserved;

  uint32_t PaletteChanged;  /* the palette changed since it was last reported */
  uint8_t Palette[768];     /* red, green, blue per entry, 8 bits each */
  uint32_t PaletteTail;     /* cleared with the palette */
  uint32_t CurrentFrame;    /* 0-based */
  uint32_t CurrentFrameSize;/* bytes */
  uint32_t PaletteChunkSize;
  uint32_t OpenFlags;
  uint32_t ReadError;       /* set once a read came back short; stays set */
  KavOsFile File;           /* KAV_INVALID_OS_FILE after a whole-file load */
  uint32_t FrameBufferSize;
  void *Trees;
  void *Target;
  uint32_t TargetSize;
  uint32_t FrameZeroOffset; /* file offset of frame 0's data */
  uint8_t *FrameBuffer;
  const uint8_t *FrameData; /* the current frame's bytes */
  int32_t LastReportedPalette; /* frame number, -1 for none */
  uint8_t *FrameTypes;       /* N bytes */
  uint32_t *FrameSizes;      /* N entries, two low bits are flags */

  /* The current frame's chunks, set when it is prepared. */
  const uint8_t *FrameStart;
  const uint8_t *SoundChunk[7]; /* null when the frame has none for the track */
  const uint8_t *VideoData;
  void *SoundDecoder[7];        /* per-track transform decoders, made on first use */

  /* Block reader (4096-byte aligned reads). */
  uint8_t *BlockStart;
  uint8_t *BlockWrapEnd;
  uint8_t *BlockRead;
  uint8_t *BlockWrite;
  uint32_t BlockHeld;
  uint32_t BlockCapacity;
  uint32_t BlockFileOffset; /* file offset of the next unconsumed byte */

  /* Kept by the reader for its own use. */
  uint32_t StoredHeight;
  uint32_t DrawMode;        /* 0 normal, 1 interlaced, 2 doubled */
  uint32_t Version;         /* 2 or 4 */
  uint32_t VideoBytes;      /* bytes of the current frame's video data */
  uint32_t SoundChunkBytes[7];
  uint32_t LoadedFrame;     /* frame whose bytes the frame buffer holds */
  uint32_t StreamStart;     /* file offset of the magic */
  void *SoundWork;          /* shared delta-tree work area */
} ZanthHandle;

/* Opens the named file, or with ZANTH_OPEN_HANDLE the stream at the current
   position of `file`. Loads the tables and trees and prepares frame 0.
   buffer_request sizes the block reader (0 for the usual 8192 bytes); files
   whose frame data fits are read whole. Null when the file is not a usable
   Zanther file. */
KAV_EXPORT ZanthHandle *KAVAPI ZanthOpen(const char *name, KavOsFile file, uint32_t flags, uint32_t buffer_request);
/* Releases everything; null is ignored. A descriptor given by the caller is
   left open. */
KAV_EXPORT void KAVAPI ZanthClose(ZanthHandle *handle);

/* Describes the 8-bit target: frame pixel (x, y) goes to
   buffer + (top + y) * pitch + left + x (interlaced: line top + 2y; doubled:
   lines top + 2y and top + 2y + 1). Mode 0 is the only mode. A null buffer
   releases the description. */
KAV_EXPORT void KAVAPI ZanthSetTarget(ZanthHandle *handle, int32_t left, int32_t top, int32_t pitch, uint32_t height,
                                      uint8_t *buffer, uint32_t mode);
/* Decodes the current frame into the target (palette bookkeeping only
   without one). Always 0. */
KAV_EXPORT int32_t KAVAPI ZanthDecodeFrame(ZanthHandle *handle);
/* Next frame (the last wraps to the first, through the ring frame if any). */
KAV_EXPORT void KAVAPI ZanthAdvance(ZanthHandle *handle);
/* frame is 1-based; 0 and 1 both mean the first frame. */
KAV_EXPORT void KAVAPI ZanthSeek(ZanthHandle *handle, uint32_t frame);
/* The current frame's sound for the track named by the lowest of mask bits
   13-19, as PCM; returns the bytes written. dest must hold two seconds of the
   track's sound as its TrackInfo word describes it (rate x channels x bytes
   per sample x 2): no chunk delivers more. */
KAV_EXPORT uint32_t KAVAPI ZanthTrackData(ZanthHandle *handle, void *dest, uint32_t mask);

KAV_END_DECLS

#endif
