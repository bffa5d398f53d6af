// GFileBestPalette: counts the colours of a run of frames of the analysis
// handle into a histogram and reduces it to the palette window.
#include <cstdlib>
#include <cstring>

#include "colour/colour_reduce.h"
#include "colour/histogram.h"
#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"

namespace kav::gfile {

namespace {

namespace colour = kav::colour;

uint32_t magnitude(int32_t v) { return v < 0 ? static_cast<uint32_t>(-int64_t{v}) : static_cast<uint32_t>(v); }

// The visible pixels of the frame the analysis handle holds, and its blank
// and margin area as black.
void countFrame(GFile *a, uint32_t *histogram) {
  GFileInternal &s = state(a);
  const GFilePlacement &p = a->placement;
  if (p.visibleWidth > 0 && p.visibleHeight > 0 && s.visible)
    colour::histogramAddPixels(histogram, s.visible, static_cast<uint32_t>(p.visibleWidth),
                               static_cast<uint32_t>(p.visibleHeight), s.visiblePitch, a->frameBits,
                               a->sourcePalette);
  const uint64_t vw = p.visibleWidth > 0 ? uint32_t(p.visibleWidth) : 0;
  const uint64_t vh = p.visibleHeight > 0 ? uint32_t(p.visibleHeight) : 0;
  const uint64_t blank = (uint64_t{magnitude(p.rightBlank)} + magnitude(p.topMargin)) * vh +
                         (vw + magnitude(p.rightBlank) + magnitude(p.leftMargin)) * magnitude(p.bottomBlank);
  if (blank) colour::histogramAddCount(histogram, 0, blank);
}

uint32_t bestPalette(GFile *a, uint8_t *palette, const uint8_t *picture, uint32_t width, uint32_t height,
                     uint32_t pitch, int32_t leftMargin, int32_t topMargin, int32_t rightBlank, int32_t bottomBlank,
                     const PictureSettings &look) {
  GFileInternal &s = state(a);
  if (!s.palettePending) {
    bool changed = false;
    fetchFrame(a, look, &changed);
    s.pendingPaletteChanged = changed;
    s.palettePending = true;
  }
  const uint32_t f = s.firstColour, n = s.colourCount;
  if (s.analysisScale >= 32000 && s.colourMode == 0 && a->frameBits <= 8) {
    std::memcpy(palette + f * 3, a->sourcePalette + f * 3, size_t{n} * 3);
    if (s.paletteMethod == 1) colour::writeSystemColours(palette);
    s.palettePending = false;
    return a->endFlag ? 0x10000u : 1u;
  }
  auto *histogram = static_cast<uint32_t *>(kavmalloc(colour::kHistogramCells * 4));
  if (!histogram) return 0;
  std::memset(histogram, 0, colour::kHistogramCells * 4);
  uint32_t result = 0;
  for (uint32_t i = 0; i < s.analysisScale; ++i) {
    if (!reportProgress(a, i == 0 ? 1 : 0)) {
      kavfree(histogram);
      return 0;
    }
    bool changed = false;
    if (s.palettePending) {
      s.palettePending = false;
      changed = s.pendingPaletteChanged;
    } else {
      fetchFrame(a, look, &changed);
    }
    if (changed && s.colourMode == 2 && i > 0) {
      s.palettePending = true;
      s.pendingPaletteChanged = changed;
      break;
    }
    countFrame(a, histogram);
    if (a->endFlag) {
      result = 0x10000;
      break;
    }
    result = i + 1;
  }
  colour::PaletteReserve reserve = colour::paletteReserve(s.paletteMethod, f, n);
  if (s.paletteMethod != 2) colour::writeSystemColours(palette);
  uint32_t weights[256];
  const uint32_t pixelBytes = a->trueColour ? 4 : 1;
  const uint32_t startColumnBytes = a->placement.leftMargin < 0 ? magnitude(a->placement.leftMargin) * pixelBytes : 0;
  colour::computeSlotWeights(weights, picture, width, height, static_cast<ptrdiff_t>(pitch), leftMargin, topMargin,
                             rightBlank, bottomBlank, startColumnBytes);
  colour::reduceColours(palette, histogram, f, n, reserve.low, reserve.high, weights, s.status);
  kavfree(histogram);
  return result;
}

}  // namespace

}  // namespace kav::gfile

using namespace kav::gfile;

extern "C" {

KAV_EXPORT uint32_t KAVAPI GFileBestPalette(GFile *analysis, uint8_t *palette, const uint8_t *picture, uint32_t width,
                                            uint32_t height, uint32_t pitch, int32_t left_margin, int32_t top_margin,
                                            int32_t right_blank, int32_t bottom_blank, uint32_t soften,
                                            uint32_t contrast, int32_t brightness, float gamma, uint32_t threshold) {
  if (!analysis || !analysis->internal || !palette) return 0;
  try {
    return bestPalette(analysis, palette, picture, width, height, pitch, left_margin, top_margin, right_blank,
                       bottom_blank, PictureSettings{soften, contrast, brightness, gamma, threshold});
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
