// The switches a fuzz input picks for the graphics input. A few leading
// bytes of the input choose, from small tables, the values a user would
// type (rates, range, size, canvas, placement, colour mode, filters,
// deinterlacing, picture adjustments, palette window); they are written out
// as a command line and read back through GFileCommandLine, as the tools do.
// Every choice is kept small: canvases of at most 64 by 64 and a few frames,
// so that an input costs milliseconds and the fuzzer explores instead of
// waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kavutil/gfile.h"

namespace kavfuzz {

// Whether KAV_FUZZ_SHOW is set: the targets then tell, for each input
// replayed, what it chose and what it reached (the status messages too), the
// way to read a corpus file or a crash.
bool showing();

// Bytes the settings take from the front of an input.
constexpr size_t kSettingsBytes = 13;

struct Settings {
  std::string commandLine;  // the switches as typed, before GFileCommandLine read them
  uint32_t flags = 0;
  uint32_t inputNumerator = 0, inputDenominator = 0, outputNumerator = 0, outputDenominator = 0;
  int32_t soften = 0, contrast = 0, brightness = 100, threshold = 0;
  float gamma = 1.0f;
  int32_t width = 0, height = 0, x = 0, y = 0, canvasWidth = 0, canvasHeight = 0;
  int32_t firstFrame = 0, lastFrame = 0;
  uint32_t analysisScale = 0, firstColour = 0, colourCount = 256;
  int32_t reserved = 0;
  uint8_t paletteMethod = 0, paletteOption = 0;
  char paletteFile[KAV_NAME_MAX] = {};
  uint32_t framesToFetch = 1;  // output frames fetched, 1 to 8
  bool fetchAgain = false;     // reset and fetch the first frame once more
  uint32_t cancelAfter = 0;    // the status callback cancels at this message (0: never)
};

// Reads the settings from the first kSettingsBytes of `bytes` (missing bytes
// count as 0). `paletteFile` is the file the palette switch names when the
// input asks for one.
Settings pickSettings(const uint8_t *bytes, size_t size, const std::string &paletteFile);

// Opens `name` with the settings, as the converter does, or returns null.
GFile *openWith(const std::string &name, const Settings &s);

// Whether `name`, opened as it is, has a small enough picture and few
// enough frames to be decoded whole (a source that does not open counts as
// small: it decodes nothing).
bool smallSource(const char *name);

// Fetches the chosen frames when the handle's sizes stay within the bounds
// (a large canvas or a long unbounded range only costs time), then closes it.
// A list passes whether its entries are small (see smallSource).
void playAndClose(GFile *g, const Settings &s, bool entriesSmall = true);

}  // namespace kavfuzz
