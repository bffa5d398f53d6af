// The graphics input's own state behind the public fields of GFile, and the
// operations its source files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kavutil/avi.h"
#include "kavutil/flic.h"
#include "kavutil/gfile.h"
#include "kavutil/kavfile.h"
#include "kavutil/quicktime.h"
#include "kavutil/vornfile.h"
#include "kavutil/zanther.h"
#include "platform/stillimage/still_image.h"
#include "util/input_list.h"

namespace kav::avi {
struct Stream;
struct FrameGetter;
}  // namespace kav::avi

namespace kav::colour {
struct Resampler;
}

namespace kav::gst {
class Reader;
}

namespace kav::still {
class GifPlayer;
}

namespace kav::gfile {
constexpr uint32_t kStillFormatNone = 0xFFFFFFFFu;
}

// Declared (incomplete) by the public header, hence outside the namespace.
struct GFileInternal {
  // Arguments kept as given.
  uint32_t openFlags = 0;
  uint32_t inputArgNumerator = 0, inputArgDenominator = 0;
  uint32_t outputArgNumerator = 0, outputArgDenominator = 0;
  uint32_t analysisScale = 0x10000;
  uint32_t firstColour = 0, colourCount = 256, reservedColours = 0;
  uint32_t firstColourAsOpened = 0;
  uint32_t paletteMethod = 0, paletteOption = 0;
  uint32_t colourMode = 0;  // reduction mode for the best palette: colour mode value - 1
  uint32_t deinterlace = 0;  // 1 even, 2 odd, plus 8 for the blend bit
  std::string paletteFile;
  char verb[44] = "Processing";
  KAVStatusCallback status = nullptr;
  uint32_t firstIndex = 0;  // 0-based first frame of the range

  // Readers of the source.
  KAVFlic *flic = nullptr;
  ZanthHandle *zanther = nullptr;
  VornHandle *vorn = nullptr;
  KAVFile *raw = nullptr;
  kav::avi::Stream *aviStream = nullptr;
  kav::avi::FrameGetter *aviFrames = nullptr;
  uint32_t aviStart = 0;
  uint32_t aviSoundBytesPerFrame = 0;
  QTFile *quickTime = nullptr;
  kav::gst::Reader *gstreamer = nullptr;
  kav::still::GifPlayer *gifAnimation = nullptr;  // the images of an animated GIF
  std::vector<uint32_t> gifShown;                   // the GIF frame each movie frame shows
  KavOsFile exeFile = KAV_INVALID_OS_FILE;
  uint32_t stillFormat = kav::gfile::kStillFormatNone;
  kav::still::StillImage still{};
  uint32_t rawWidth = 0, rawHeight = 0;

  // List state.
  kav::InputList *list = nullptr;
  GFile *child = nullptr;
  bool listIsFile = false;
  uint32_t listOutputDone = 0;  // output frames of the entries already closed

  // Frame state of the fetch.
  uint8_t *kindFrame = nullptr;  // Flic, Zanther, raw, Vorn, sound-only
  uint32_t kindFrameBytes = 0;
  uint32_t kindPitch = 0;
  ptrdiff_t sourcePitch = 0;        // of the frame at frameBase
  uint8_t *filtered = nullptr;      // top-left of the frame after the filter chain
  ptrdiff_t filteredPitch = 0;
  const uint8_t *visible = nullptr; // first visible pixel of the frame as converted
  ptrdiff_t visiblePitch = 0;
  bool skipDone = false;
  bool firstVornFrame = true;
  bool directCanvas = false;  // this fetch takes the direct path: the Vorn decoder writes into the canvas

  // Filter chain.
  uint8_t *work[3] = {nullptr, nullptr, nullptr};
  uint32_t workBytes[3] = {0, 0, 0};
  uint8_t *frame24 = nullptr;
  uint32_t frame24Bytes = 0;
  kav::colour::Resampler *scale = nullptr;
  kav::colour::Resampler *soften = nullptr;

  // Palette work for 8-bit output.
  uint8_t remap[256] = {};
  bool remapActive = false;
  uint16_t *colourCache = nullptr;  // 1 << 18 entries
  uint32_t countdown = 0;
  GFile *analysis = nullptr;
  bool analysisIsPaletteFile = false;
  bool analysisDone = false;
  bool windowToggle = false;
  bool palettePending = false;  // best palette: a fetched frame waits for the next call
  bool pendingPaletteChanged = false;
  bool firstPalette = true;
};

namespace kav::gfile {

using ::GFileInternal;

inline GFileInternal &state(GFile *g) { return *g->internal; }

// What GFileGet is asked to do to the picture: soften (across in the low
// word, down in the high word), contrast, brightness (a percentage), gamma
// and threshold. The defaults leave it as it is.
struct PictureSettings {
  uint32_t soften = 0, contrast = 0;
  int32_t brightness = 100;
  float gamma = 1.0f;
  uint32_t threshold = 0;
};

// gfile_open.cpp
GFile *openHandle(const char *name, uint32_t flags, uint32_t inN, uint32_t inD, uint32_t outN, uint32_t outD,
                  int32_t width, int32_t height, int32_t x, int32_t y, uint32_t canvasW, uint32_t canvasH,
                  uint32_t first, uint32_t last, uint32_t scale, uint32_t firstColour, uint32_t colours,
                  uint32_t reserved, uint32_t method, uint32_t option, const char *paletteFile, const char *verb,
                  KAVStatusCallback status);
void closeHandle(GFile *g);
void report(GFile *g, int32_t code, const char *format, ...);
// Placement of one axis (see the common tail).
void placeAxis(int32_t pos, int32_t canvas, int32_t scaled, int32_t scaledHeight, int32_t &start, int32_t &visible,
               int32_t &blank, int32_t &margin);
void computePlacement(GFile *g);

// gfile_kinds.cpp: identification of the source kinds.
bool openKinds(GFile *g, const char *name);
// A fresh copy of the name with `ext` appended when it has none; with
// onlyIfExists the extension is added only when that file is there.
std::string withExtension(const char *name, const char *ext, bool onlyIfExists = false);
// The source's name (false when it is too long for GFile.name) and its kind.
bool setName(GFile *g, const std::string &name);
void setKind(GFile *g, uint32_t kind, const char *kindName);
bool isSoundFile(const char *name, uint64_t *bytes, uint32_t *rate, uint32_t *frameBytes);
// Makes `g` a picture-less source: a small blank picture at 15 frames a
// second for as long as `amount` units of sound at `unitsPerSecond` last.
void becomeSoundOnly(GFile *g, uint64_t amount, uint64_t unitsPerSecond);
void closeReaders(GFile *g);
void rewindReaders(GFile *g);

// gfile_gstreamer.cpp: movies decoded through GStreamer. tryGStreamer
// returns Fatal for a movie it recognises but cannot decode, with the
// reason in *why for the caller to report.
enum class Tried { Opened, NotThisKind, Fatal };
Tried tryGStreamer(GFile *g, const char *name, std::string *why);
bool readGStreamer(GFile *g);

// gfile_gif_animation.cpp: a GIF of two or more images as a movie. Fatal
// (with *why) when it holds more frames than can be composed in memory.
Tried tryGifAnimation(GFile *g, const char *name, std::string *why);
bool readGifAnimation(GFile *g);

// gfile_fetch.cpp: stepping and reading source frames.
// Makes the frame of the next output frame: reads the source frames up to
// the one it shows (none when it repeats the last one; a source that stops
// early ends the range there), counts the output frame, and runs the filter
// chain on a frame just read. False only when not even the first frame
// could be read; *paletteChanged tells whether the source palette changed.
bool fetchFrame(GFile *g, const PictureSettings &look, bool *paletteChanged);
uint64_t outputFrameNumber(const GFile *g, uint64_t sourceFrames);

// gfile_filters.cpp: the filter chain after a frame was read, then the
// visible part as placed, then the frame the colour analysis reads.
void runFilters(GFile *g, const PictureSettings &look);
// One row of 32, 24, 16 (x:5:5:5) or 8-bit (palette) pixels as 32-bit
// pixels, the fourth byte of 32-bit ones kept.
void readRow32(uint32_t *out, const uint8_t *row, uint32_t w, uint32_t bits, const uint8_t *palette);
void releaseFilters(GFile *g);

// gfile_get.cpp: "<verb> frame <n> of <count>..." for the frame about to be
// fetched, with the message code given; false when the user cancels.
bool reportProgress(GFile *g, int32_t code);

// gfile_rows.cpp: row conversions into the canvas.
void convertRows(GFile *g);

// gfile_palette.cpp: palette for 8-bit output.
bool preparePalette(GFile *g, bool *paletteChanged, const PictureSettings &look);
void clearColourCache(GFile *g);

}  // namespace kav::gfile
