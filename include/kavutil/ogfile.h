/* Graphics output: one handle that writes the frames a tool produces, and for
   AVI a PCM sound track, to a Flic animation, an AVI file or a numbered series
   of still images (BMP, JPEG, PNG, TGA, TIFF, PCX, GIF), or through GStreamer
   a compressed movie with compressed sound (MP4, WebM, Matroska). The target
   is chosen by the name's extension and the colour mode. */
#ifndef KAVUTIL_OGFILE_H
#define KAVUTIL_OGFILE_H

#include "kavdefs.h"
#include "kavcallback.h"
#include "flic.h"

KAV_BEGIN_DECLS

/* Kinds of target. */
#define OGFILE_FLIC 0
#define OGFILE_BMP 1
#define OGFILE_JPEG 2
#define OGFILE_TGA 3
#define OGFILE_TIFF 4
#define OGFILE_PCX 5
#define OGFILE_GIF 6
#define OGFILE_PNG 7
#define OGFILE_AVI 128
/* Compressed movies written through GStreamer, from 32-bit or 8-bit frames:
   ".mp4" (or ".m4v"): H.264 (x264enc, else openh264enc) with AAC (voaacenc,
   else MP3 from lamemp3enc), its index at the front in room kept for
   frame_count frames and brought up to date every second, so that a file
   cut short by a failed write or a killed process plays up to its last
   second;
   ".webm": VP9 (vp9enc) with Opus (opusenc);
   ".mkv": H.264 (else VP9) with FLAC, which keeps the sound as it was put.
   The pictures are coded in 4:2:0. H.264 takes even sizes only, and MP4
   and WebM nothing under 16 pixels: such a picture is widened with copies
   of its last column or row. The compressor's
   quality (OGFileCreateCompressed; its handler is not used) runs from 1, the
   smallest file, to 10000, nearly lossless: x264's constant-quality factor
   50..10, VP9's quality level 63..10; 0 or no compressor takes 23 and 31,
   the encoders' usual choices for sharing. A missing encoder or muxer is
   named in the refusal at create time. The sound track (OGFilePutSoundAmount)
   must be declared before the second frame; its amounts cover the frames
   put, and it is padded at the close so that AAC and MP3, which drop part of
   their last frame, still last as long as the pictures. The close finishes
   the file, also after the caller stopped early. frameNumber counts the
   frames given to the encoder. */
#define OGFILE_MP4 129
#define OGFILE_WEBM 130
#define OGFILE_MATROSKA 131

/* Options of OGFileCreate. */
#define OGFILE_ASK_WITH_DIALOG 1  /* ask through the threaded dialog; no unsupported-type message */
#define OGFILE_OVERWRITE 2        /* overwrite existing files without asking */
/* A ".gif" target becomes one animated GIF holding every frame instead of a
   numbered series of stills. Every frame decodes to the colours put: the
   global colour table holds the first frame's palette (reordered), a frame
   brings a table of its own only when its palette changed to colours that
   one lacks and has no room for, and only the part of a frame that changed is stored. Each
   frame shows for its share of the movie's time in hundredths of a second,
   rounded so that the delays add up to the movie's length (30 frames per
   second give 3, 3, 4, ...). The animation plays the number of times given
   with OGFILE_GIF_PLAYS, for ever when none is. frameNumber counts the
   frames the file holds; a failed write or an early close leaves a valid
   GIF of the frames written. */
#define OGFILE_GIF_ANIMATION 4
#define OGFILE_GIF_PLAYS(n) (((uint32_t)(n) & 0xFFFFu) << 16) /* 0: for ever */
#define OGFILE_GIF_PLAYS_OF(options) ((uint32_t)(options) >> 16)

/* The handle. Tools read the leading fields directly, so their order is
   fixed; the implementation keeps more state behind them. */
typedef struct OGFile {
  char name[KAV_NAME_MAX];        /* still images: the numbered-name pattern; else the file written */
  char firstName[KAV_NAME_MAX];   /* still images: first image written, without its folder */
  char description[KAV_NAME_MAX]; /* the file name, or "first to latest" for still images */
  uint32_t trueColour;            /* 1: frames are 32-bit 0x00RRGGBB; 0: 8-bit with a palette */
  uint32_t width;
  uint32_t height;
  uint32_t frameCount;            /* frames the caller will write */
  uint32_t rateNumerator;         /* frames per second */
  uint32_t rateDenominator;
  uint32_t inputPitch;            /* pixels per row of the caller's frames */
  uint32_t frameNumber;           /* next still-image number / next AVI frame index / GIF or movie frames held */
  uint32_t kind;                  /* OGFILE_FLIC ... OGFILE_MATROSKA */
  uint32_t bits;                  /* 8 or 24: the depth written */
  uint32_t bytesWritten;          /* output size so far */
  uint32_t errorFlag;             /* 1 once any write failed; never cleared */
  uint32_t aviReady;              /* 1 once the AVI file is ready */
  KAVStatusCallback callback;     /* may be null */
  KAVOFlic *flic;                 /* the Flic writer */
  void *image;                    /* still-image descriptor, stored inside this record */
  int32_t imagePitch;             /* minus the image row size (bottom-up image) */
  uint8_t *imageFirstRow;         /* top picture row of the image */
  void *aviFile;                  /* the AVI writer */
  void *videoStream;              /* the stream frames go to (compressed when a compressor was chosen) */
  void *uncompressedStream;       /* the plain video stream */
  int32_t dibPitch;               /* minus the DIB row size */
  uint8_t *dibTopRow;             /* top picture row of the DIB bits */
  uint8_t *dibPalette;            /* the DIB colour table (8-bit only) */
  void *dibHeader;                /* BITMAPINFOHEADER, colour table (8-bit), then the bits */
  void *soundStream;              /* AVI audio stream, or null */
  uint32_t soundPosition;         /* samples written to the sound stream */
  uint32_t soundAllowance;        /* sound bytes still expected for the whole movie */
  uint32_t soundBytesWritten;     /* bytes written to the sound stream */
  uint32_t soundCalls;            /* OGFilePutSound calls so far */
  uint32_t soundPreload;          /* bytes of sound kept ahead of the pictures */
  uint8_t soundFormat[18];        /* WAVEFORMATEX: PCM tag 1, channels, rate, bytes/s, align, bits, 0 */
} OGFile;

/* The compressor an AVI target uses, chosen by the program (there is no
   compression dialog): OGFILE_COMPRESS_NONE writes uncompressed DIB frames,
   OGFILE_COMPRESS_MJPEG Motion-JPEG at the quality (1..10000, 0 takes
   9999). */
#define OGFILE_COMPRESS_NONE 0u
#define OGFILE_COMPRESS_MJPEG 0x47504A4Du /* "MJPG" */
typedef struct OGFileCompressor {
  uint32_t handler;
  int32_t quality;
} OGFileCompressor;

/* Creates the output. window: owner window (unused: no compression dialog).
   input_pitch: pixels per row of the frames given to OGFilePut (0: width).
   options: OGFILE_ASK_WITH_DIALOG, OGFILE_OVERWRITE, OGFILE_GIF_ANIMATION with
   OGFILE_GIF_PLAYS. colour_mode: low 3 bits
   0 for 32-bit frames (written as 24-bit), else 8-bit frames with a palette.
   An AVI target is uncompressed. Null on failure, after a message through
   the callback (code 2; code 3 with a null text when the user declined to
   overwrite). */
KAV_EXPORT OGFile *KAVAPI OGFileCreate(KavWindow window, const char *name, uint32_t frame_count,
                                       uint32_t rate_numerator, uint32_t rate_denominator, uint32_t width,
                                       uint32_t height, uint32_t input_pitch, KAVStatusCallback callback,
                                       uint32_t options, uint32_t colour_mode);
/* As OGFileCreate, with the compressor for an AVI target (null: none). */
KAV_EXPORT OGFile *KAVAPI OGFileCreateCompressed(KavWindow window, const char *name, uint32_t frame_count,
                                                 uint32_t rate_numerator, uint32_t rate_denominator, uint32_t width,
                                                 uint32_t height, uint32_t input_pitch, KAVStatusCallback callback,
                                                 uint32_t options, uint32_t colour_mode,
                                                 const OGFileCompressor *compressor);
/* Writes one frame: height rows of input_pitch pixels, top row first.
   palette: 256 RGB triples (8-bit frames). */
KAV_EXPORT void KAVAPI OGFilePut(OGFile *handle, const void *pixels, const uint8_t *palette);
/* Sound bytes to pass with the next OGFilePutSound (whole blocks); the first
   call creates the sound track in this format. 0 for targets other than
   AVI and the compressed movies. */
KAV_EXPORT uint32_t KAVAPI OGFilePutSoundAmount(OGFile *handle, uint32_t sample_rate, uint32_t bits_per_sample,
                                                uint32_t channels);
/* Appends PCM to the sound track of an AVI or a compressed movie (one call
   per frame, also with 0 bytes); does nothing for other targets. */
KAV_EXPORT void KAVAPI OGFilePutSound(OGFile *handle, const void *data, uint32_t bytes);
/* Finishes the output, frees the handle and returns the output size in
   bytes. After a failed write the file is left consistent with the frames
   that reached it, and the error is reported through the callback. */
KAV_EXPORT uint32_t KAVAPI OGFileClose(OGFile *handle);

KAV_END_DECLS

#endif
