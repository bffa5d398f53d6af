/* The graphics input: one handle that opens any picture or movie source the
   suite reads (Flic, Zanther, Vorn, movies inside .EXE files, AVI,
   QuickTime, still images, raw frame files, sound-only files, lists and
   numbered sequences) and delivers its frames at a chosen rate, size and
   depth, as 32-bit pixels or as 8-bit pixels with a palette. */
#ifndef KAVUTIL_GFILE_H
#define KAVUTIL_GFILE_H

#include "kavcallback.h"
#include "kavdefs.h"

KAV_BEGIN_DECLS

/* Source kinds (GFile.kind). Codes below GFILE_KIND_AVI are still images. */
#define GFILE_KIND_BMP 3u
#define GFILE_KIND_GIF 4u
#define GFILE_KIND_TIF 5u
#define GFILE_KIND_JPEG 6u
#define GFILE_KIND_TGA 7u
#define GFILE_KIND_PNG 8u
#define GFILE_KIND_PCX 9u
#define GFILE_KIND_AVI 32u
#define GFILE_KIND_QUICKTIME 33u
#define GFILE_KIND_GSTREAMER 34u /* a movie decoded through GStreamer */
#define GFILE_KIND_GIF_ANIMATION 35u /* a GIF of two or more images, as the frames a viewer shows */
#define GFILE_KIND_FLIC 128u
#define GFILE_KIND_ZANTHER 129u
#define GFILE_KIND_RAW 130u
#define GFILE_KIND_VORN 131u
#define GFILE_KIND_LIST 256u
#define GFILE_KIND_SOUND_ONLY 512u

/* Open flags (second argument of GFileOpen). */
#define GFILE_COLOUR_MODE_MASK 0x7u    /* 0 true colour, 1..7 8-bit with reduction mode value - 1 */
#define GFILE_PREFER_QUICKTIME 0x100u  /* also keeps the fourth byte of 32-bit sources */
#define GFILE_HALVE_HEIGHT 0x200u
#define GFILE_HALVE_WIDTH 0x400u
#define GFILE_DEINTERLACE_EVEN 0x800u
#define GFILE_DEINTERLACE_ODD 0x1000u
#define GFILE_DEINTERLACE_BLEND 0x2000u
#define GFILE_FILTER_1 0x4000u
#define GFILE_FILTER_2 0x8000u

/* Where the scaled source lies on the canvas. Margins are zero or negative
   (the picture starts that far inside the canvas); blanks are the canvas
   parts right of and below the picture. */
typedef struct GFilePlacement {
  int32_t startColumn;   /* first source column shown, inside the scaled picture */
  int32_t startRow;
  int32_t x;             /* the placement as given */
  int32_t y;
  int32_t visibleWidth;
  int32_t visibleHeight;
  int32_t rightBlank;
  int32_t bottomBlank;
  int32_t leftMargin;
  int32_t topMargin;
} GFilePlacement;

struct GFileInternal;

/* An open graphics input. The leading fields are read directly by the
   tools and by the graphics output, so their order is fixed; the reader's
   own state lies behind `internal`. */
typedef struct GFile {
  char name[KAV_NAME_MAX];   /* the file opened, with the extension that was added */
  char kindName[128];
  uint32_t trueColour;       /* 1: 32-bit frames, 0: 8-bit paletted frames */
  uint32_t preferQuickTime;
  uint32_t kind;
  uint32_t canvasWidth;
  uint32_t canvasHeight;
  uint32_t sourceWidth;
  uint32_t sourceHeight;
  uint32_t hasSound;
  uint32_t flags;            /* the open flags as kept */
  int32_t outputPeriod;      /* minus the output frame period in 1/100000 s */
  uint32_t outputRateNumerator, outputRateDenominator;
  uint32_t inputRateNumerator, inputRateDenominator;
  uint32_t nativeRateNumerator, nativeRateDenominator;
  uint32_t frameCount;       /* source frames in the selected range */
  uint32_t framesRead;
  uint32_t outputFrameCount;
  uint32_t outputFrameIndex;
  uint32_t scaledWidth, scaledHeight;
  int32_t requestedWidth, requestedHeight;
  void *scaleFilter, *softenFilter;
  uint32_t filter;           /* resampling filter selector 0, 1 or 2 */
  void *workFrames[2];
  uint8_t *frameBase;        /* the source frame just decoded */
  uint32_t outputBits;
  uint32_t frameBits;
  uint32_t sourceBits;
  uint8_t *canvas;           /* canvasHeight rows of canvasPitch bytes, top row first */
  uint32_t canvasPitch;      /* pixels after open; bytes once the first GFileGet made a 32-bit canvas */
  uint32_t frameDataSize;
  uint32_t fileSize;
  uint32_t totalFrames;
  uint8_t palette[768];      /* output palette, red, green, blue */
  uint32_t endFlag;
  GFilePlacement placement;
  uint8_t sourcePalette[768];
  struct GFileInternal *internal;
} GFile;

/* Opens a source; null on failure ("Error opening: %s" goes to the
   callback). Arguments: name, flags, input rate (numerator, denominator),
   output rate, requested width and height (size codes), x and y placement,
   canvas width and height, first and last frame (1-based, 0: the ends),
   colour analysis scale, first palette colour, number of palette colours,
   reserved colours, palette method, palette option, palette file name,
   status verb, status callback. */
KAV_EXPORT GFile *KAVAPI GFileOpen(const char *name, uint32_t flags, uint32_t input_numerator,
                                   uint32_t input_denominator, uint32_t output_numerator,
                                   uint32_t output_denominator, int32_t width, int32_t height, int32_t x, int32_t y,
                                   uint32_t canvas_width, uint32_t canvas_height, uint32_t first_frame,
                                   uint32_t last_frame, uint32_t analysis_scale, uint32_t first_colour,
                                   uint32_t colour_count, uint32_t reserved_colours, uint32_t palette_method,
                                   uint32_t palette_option, const char *palette_file, const char *status_verb,
                                   KAVStatusCallback status);
/* Releases everything the handle holds; null is ignored. */
KAV_EXPORT void KAVAPI GFileClose(GFile *file);
/* Back to the first frame of the range. */
KAV_EXPORT void KAVAPI GFileReset(GFile *file);

/* Reads and removes the graphics switches; every result address may be
   null. The results, in order: flags (/Z, /;), input rate (/F), output rate
   (/A), /:, /{, brightness percentage (/[), gamma (/]), /}, width and height
   codes (/(, /)), /X, /Y, /W, /H, first and last frame (/S, /E), colour
   analysis scale (/U), first palette colour (/I), number of palette colours
   (/Q), /$, /D, /T and the palette file (/&, a KAV_NAME_MAX buffer). */
KAV_EXPORT void KAVAPI GFileCommandLine(char *cmdline, uint32_t *flags, uint32_t *input_numerator,
                                        uint32_t *input_denominator, uint32_t *output_numerator,
                                        uint32_t *output_denominator, int32_t *colon, int32_t *brace_open,
                                        int32_t *brightness, float *gamma, int32_t *brace_close, int32_t *width,
                                        int32_t *height, int32_t *x, int32_t *y, int32_t *canvas_width,
                                        int32_t *canvas_height, int32_t *first_frame, int32_t *last_frame,
                                        uint32_t *analysis_scale, uint32_t *first_colour, uint32_t *colour_count,
                                        int32_t *dollar, uint8_t *d_value, uint8_t *t_value, char *palette_file);

/* Delivers the next output frame into file->canvas. Low byte 1 when a frame
   was delivered, 0 when the callback cancelled or the palette could not be
   computed; bit 8 is set when the delivered palette is new (the first
   frame, or a palette that differs from the last); with 32-bit output, when
   the source palette changed. */
KAV_EXPORT uint32_t KAVAPI GFileGet(GFile *file, uint32_t soften, uint32_t contrast, int32_t brightness, float gamma,
                                    uint32_t threshold);

/* Scans frames of the analysis handle and fills the palette range of the
   handle's window (see the description of the graphics input). Returns the
   frames scanned, 1 for a copied palette, 0 on cancel, 0x10000 when the
   source ended. */
KAV_EXPORT uint32_t KAVAPI GFileBestPalette(GFile *analysis, uint8_t *palette, const uint8_t *picture, uint32_t width,
                                            uint32_t height, uint32_t pitch, int32_t left_margin, int32_t top_margin,
                                            int32_t right_blank, int32_t bottom_blank, uint32_t soften,
                                            uint32_t contrast, int32_t brightness, float gamma, uint32_t threshold);

KAV_END_DECLS

#endif
