// The palette of 8-bit output: copied from the source, or computed on the
// analysis handle through the best palette, with the window alternation
// that spares the colours on screen, the remap table for paletted frames
// and the colour cache for true-colour frames.
#include <cstdlib>
#include <cstring>

#include "colour/colour_reduce.h"
#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"

namespace kav::gfile {

namespace {

bool openAnalysis(GFile *g) {
  GFileInternal &s = state(g);
  GFile *a = nullptr;
  if (!s.paletteFile.empty()) {
    a = openHandle(s.paletteFile.c_str(), g->flags & ~GFILE_COLOUR_MODE_MASK, s.inputArgNumerator,
                   s.inputArgDenominator, s.outputArgNumerator, s.outputArgDenominator, 0, 0, 0, 0, 0, 0, 0, 0,
                   s.analysisScale, s.firstColour, s.colourCount, 0, s.paletteMethod, s.paletteOption, nullptr,
                   "Analyzing colors in", s.status);
    s.analysisIsPaletteFile = true;
  } else {
    a = openHandle(g->name, s.openFlags, s.inputArgNumerator, s.inputArgDenominator, s.outputArgNumerator,
                   s.outputArgDenominator, g->requestedWidth, g->requestedHeight, g->placement.x, g->placement.y,
                   g->canvasWidth, g->canvasHeight, s.firstIndex + 1, s.firstIndex + g->frameCount,
                   s.analysisScale, s.firstColour, s.colourCount, 0, s.paletteMethod, s.paletteOption, nullptr,
                   "Analyzing colors in", s.status);
    s.analysisIsPaletteFile = false;
  }
  if (!a) {
    report(g, 2, "Error opening palette graphics file.");
    return false;
  }
  s.analysis = a;
  return true;
}

uint32_t distance(const uint8_t *a, const uint8_t *b) {
  const int32_t dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// For every source index the window entry of least (distance x 256 +
// index difference), searched from the index's own place.
void buildRemap(GFile *g) {
  GFileInternal &s = state(g);
  const uint32_t ws = s.firstColour, wn = s.colourCount;
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t startAt = (i >= ws && i < ws + wn) ? i - ws : i % wn;
    uint64_t best = ~uint64_t{0};
    uint32_t bestE = ws + startAt;
    for (uint32_t k = 0; k < wn; ++k) {
      const uint32_t e = ws + (startAt + k) % wn;
      const uint32_t d = distance(g->sourcePalette + i * 3, g->palette + e * 3);
      const uint64_t cost = uint64_t{d} * 256 + static_cast<uint32_t>(std::abs(int32_t(i) - int32_t(e)));
      if (cost < best) {
        best = cost;
        bestE = e;
      }
      if (d == 0) break;
    }
    s.remap[i] = static_cast<uint8_t>(bestE);
  }
}

}  // namespace

void clearColourCache(GFile *g) {
  GFileInternal &s = state(g);
  if (s.colourCache) std::memset(s.colourCache, 0, (1u << 18) * sizeof(uint16_t));
}

bool preparePalette(GFile *g, bool *paletteChanged, const PictureSettings &look) {
  GFileInternal &s = state(g);
  if (g->trueColour) return true;
  const bool computed = !s.paletteFile.empty() || (g->flags & GFILE_COLOUR_MODE_MASK) >= 2 || g->frameBits > 8 ||
                        s.analysisScale < 32000;
  uint8_t previous[768];
  std::memcpy(previous, g->palette, 768);
  if (computed) {
    if (s.countdown == 0 && !s.analysisDone) {
      const uint32_t ws = s.firstColour, we = s.firstColour + s.colourCount;
      for (uint32_t e = 0; e < 256; ++e)
        if (s.firstPalette || e < ws || e >= we) std::memcpy(g->palette + e * 3, g->sourcePalette + e * 3, 3);
      if (s.paletteMethod == 1) kav::colour::writeSystemColours(g->palette);
      if (!s.analysis && !openAnalysis(g)) return false;
      // With a reserve, successive palettes take turns at the two ends of
      // the window so that the colours on screen stay valid meanwhile.
      if (s.reservedColours && s.colourCount < 256) {
        s.firstColour = s.windowToggle ? s.firstColourAsOpened + s.reservedColours : s.firstColourAsOpened;
        s.windowToggle = !s.windowToggle;
        if (!s.analysisIsPaletteFile) state(s.analysis).firstColour = s.firstColour;
      }
      GFileInternal &as = state(s.analysis);
      const bool ownWindow = !s.analysisIsPaletteFile;
      const uint32_t savedFirst = as.firstColour, savedCount = as.colourCount;
      if (s.analysisIsPaletteFile) {
        as.firstColour = s.firstColour;
        as.colourCount = s.colourCount;
      }
      const GFilePlacement &pl = g->placement;
      // A palette file is analysed as it is.
      const PictureSettings a = s.analysisIsPaletteFile ? PictureSettings{} : look;
      const uint32_t r = GFileBestPalette(s.analysis, g->palette, g->canvas, g->canvasWidth, g->canvasHeight,
                                          g->canvasPitch, pl.leftMargin, pl.topMargin, pl.rightBlank,
                                          pl.bottomBlank, a.soften, a.contrast, a.brightness, a.gamma, a.threshold);
      if (!ownWindow) {
        as.firstColour = savedFirst;
        as.colourCount = savedCount;
      }
      s.firstPalette = false;
      if (r == 0) return false;
      s.countdown = r - 1;
      if (s.countdown > 0x7FFF) {
        closeHandle(s.analysis);
        s.analysis = nullptr;
        s.analysisDone = true;
      }
      const uint32_t ws2 = s.firstColour * 3, wn2 = s.colourCount * 3;
      if (std::memcmp(previous + ws2, g->palette + ws2, wn2) != 0) *paletteChanged = true;
    } else if (s.countdown > 0) {
      --s.countdown;
    }
  } else if (*paletteChanged || s.firstPalette) {
    std::memcpy(g->palette, g->sourcePalette, 768);
    if (s.paletteMethod == 1) kav::colour::writeSystemColours(g->palette);
    s.firstPalette = false;
  }
  if (std::memcmp(previous, g->palette, 768) != 0) {
    *paletteChanged = true;
    clearColourCache(g);
  }
  if (g->frameBits > 8) {
    if (!s.colourCache) {
      s.colourCache = static_cast<uint16_t *>(kavmalloc((1u << 18) * sizeof(uint16_t)));
      if (!s.colourCache) return false;
      clearColourCache(g);
    }
    s.remapActive = false;
  } else {
    s.remapActive = computed || s.paletteMethod == 1 || s.firstColour != 0 || s.colourCount != 256;
    if (s.remapActive) buildRemap(g);
  }
  return true;
}

}  // namespace kav::gfile
