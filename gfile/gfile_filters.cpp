// The filter chain run on a frame once it is read: unpacking of narrow
// indices, reading rows as 32-bit pixels, softening and scaling through the
// resampler, deinterlacing, gamma, threshold, contrast and brightness, and
// the 24-bit frame the colour analysis reads.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "colour/resample.h"
#include "colour/smooth_dither.h"
#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"

namespace kav::gfile {

namespace {

namespace colour = kav::colour;

bool ensureBuffer(uint8_t *&buf, uint32_t &have, uint64_t bytes) {
  if (bytes > 0xFFFFFFF0u) return false;
  if (buf && have >= bytes) return true;
  kavfree(buf);
  buf = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(bytes)));
  have = buf ? static_cast<uint32_t>(bytes) : 0;
  return buf != nullptr;
}

// Indices of 1, 2 and 4 bits are unpacked to one byte each, leftmost pixel
// from the most significant bits, as DIBs, still images and QuickTime store
// them.
void unpackIndices(uint8_t *out, const uint8_t *in, ptrdiff_t pitch, uint32_t w, uint32_t h, uint32_t bits) {
  const uint32_t perByte = 8 / bits, mask = (1u << bits) - 1;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t *row = in + pitch * static_cast<ptrdiff_t>(y);
    uint8_t *o = out + size_t{y} * w;
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t shift = 8 - bits * (x % perByte + 1);
      o[x] = static_cast<uint8_t>((row[x / perByte] >> shift) & mask);
    }
  }
}

// Creates or re-creates a resampler when its sizes change.
colour::Resampler *resamplerFor(colour::Resampler *&r, uint32_t selector, uint32_t dw, uint32_t dh, uint32_t sw,
                                uint32_t sh) {
  if (r && r->destWidth == dw && r->destHeight == dh && r->sourceWidth == sw && r->sourceHeight == sh) return r;
  colour::resamplerFree(r);
  r = colour::resamplerCreate(selector, dw, dh, sw, sh);
  return r;
}

inline uint32_t average(uint32_t a, uint32_t b) {
  // Channel-wise (a + b) / 2 on all four bytes.
  return ((a & 0xFEFEFEFEu) >> 1) + ((b & 0xFEFEFEFEu) >> 1) + (a & b & 0x01010101u);
}

inline uint32_t blend31(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int s = 0; s < 32; s += 8) r |= ((3 * ((a >> s) & 0xFF) + ((b >> s) & 0xFF)) / 4) << s;
  return r;
}

// Keeps the even (mode 1) or odd (mode 2) lines and rebuilds the others as
// the average of their neighbours.
void deinterlace(uint32_t *out, const uint32_t *in, uint32_t w, uint32_t h, uint32_t mode, bool blend) {
  const uint32_t firstKept = mode == 2 ? 1 : 0;
  const uint32_t kept = (h - firstKept + 1) / 2;
  auto keptLine = [&](uint32_t k, uint32_t *dst) {
    const uint32_t src = firstKept + 2 * k;
    const uint32_t *a = in + size_t{src} * w;
    if (blend && src + 1 < h) {
      const uint32_t *b = a + w;
      for (uint32_t x = 0; x < w; ++x) dst[x] = blend31(a[x], b[x]);
    } else {
      std::memcpy(dst, a, size_t{w} * 4);
    }
  };
  uint32_t written = 0;
  for (uint32_t k = 0; k < kept && 2 * k < h; ++k) {
    uint32_t *line = out + size_t{2 * k} * w;
    keptLine(k, line);
    written = 2 * k + 1;
    if (2 * k + 1 < h && k + 1 < kept) {
      uint32_t *mid = line + w;
      uint32_t *next = out + size_t{2 * k + 2} * w;
      if (2 * k + 2 < h) {
        keptLine(k + 1, next);
        for (uint32_t x = 0; x < w; ++x) mid[x] = average(line[x], next[x]);
        written = 2 * k + 2;
      }
    }
  }
  for (uint32_t y = written; y < h; ++y) std::memcpy(out + size_t{y} * w, out + size_t{written - 1} * w, size_t{w} * 4);
}

struct Adjust {
  uint8_t gamma[256];
  uint8_t levels[256];  // contrast, then brightness
  uint32_t threshold;
  bool useGamma, useLevels;
};

void buildAdjust(Adjust &a, const PictureSettings &look) {
  a.useGamma = std::fabs(look.gamma - 1.0f) > 0.0001f;
  for (uint32_t c = 0; c < 256; ++c) {
    a.gamma[c] = static_cast<uint8_t>(
        a.useGamma ? std::lround(255.0 * std::pow(c / 255.0, static_cast<double>(look.gamma))) : static_cast<long>(c));
  }
  const uint32_t b = look.contrast > 128 ? 128 : look.contrast;
  for (uint32_t c = 0; c < 256; ++c) {
    uint32_t v = c;
    if (b) v = c <= b ? 0 : c >= 255 - b ? 255 : (c - b) * 255 / (255 - 2 * b);
    int64_t bv = int64_t{v} * look.brightness / 100;
    a.levels[c] = static_cast<uint8_t>(bv < 0 ? 0 : bv > 255 ? 255 : bv);
  }
  a.threshold = look.threshold;
  a.useLevels = b != 0 || look.brightness != 100;
}

void adjust(uint32_t *p, size_t n, const Adjust &a) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t v = p[i];
    uint32_t c0 = v & 0xFF, c1 = (v >> 8) & 0xFF, c2 = (v >> 16) & 0xFF;
    const uint32_t top = v & 0xFF000000u;
    if (a.useGamma) {
      c0 = a.gamma[c0];
      c1 = a.gamma[c1];
      c2 = a.gamma[c2];
    }
    if (a.threshold && c0 <= a.threshold && c1 <= a.threshold && c2 <= a.threshold) c0 = c1 = c2 = 0;
    if (a.useLevels) {
      c0 = a.levels[c0];
      c1 = a.levels[c1];
      c2 = a.levels[c2];
    }
    p[i] = top | c2 << 16 | c1 << 8 | c0;
  }
}

// What the chain does to one frame of the source, worked out before any of
// it runs.
struct ChainPlan {
  uint32_t sw, sh;        // the frame as read
  uint32_t dw, dh;        // its scaled size
  uint32_t softH, softV;  // softening across and down, on the scale where 25600 is the whole frame
  uint32_t iw, ih;        // the size softening shrinks the frame to before it is scaled
  bool deinterlace;
  Adjust adjust;

  bool softens() const { return softH || softV; }
  bool resamples() const { return softens() || dw != sw || dh != sh; }
  bool any() const { return resamples() || deinterlace || adjust.useGamma || adjust.useLevels || adjust.threshold; }
};

ChainPlan planChain(GFile *g, const PictureSettings &look) {
  const uint32_t deinterlaceMode = state(g).deinterlace;
  ChainPlan c;
  c.sw = g->sourceWidth;
  c.sh = g->sourceHeight;
  c.dw = g->scaledWidth;
  c.dh = g->scaledHeight;
  // Softening no stronger than the scaling itself is left to the scaling;
  // blending without keeping even or odd lines is a vertical softening.
  uint32_t softH = look.soften & 0xFFFF, softV = look.soften >> 16;
  const uint64_t dW = uint64_t(c.dw > c.sw ? c.dw - c.sw : c.sw - c.dw) * 25600 / c.sw;
  const uint64_t dH = uint64_t(c.dh > c.sh ? c.dh - c.sh : c.sh - c.dh) * 25600 / c.sh;
  if (dW >= softH) softH = 0;
  if (deinterlaceMode == 8 && softV < 0x3200) softV = 0x3200;
  if (dH >= softV) softV = 0;
  c.softH = softH >= 25600 ? 25599 : softH;
  c.softV = softV >= 25600 ? 25599 : softV;
  c.iw = c.sw;
  c.ih = c.sh;
  if (c.softens()) {
    c.iw = std::max<uint32_t>(1, static_cast<uint32_t>(uint64_t{c.dw} * (25600 - c.softH) / 25600));
    c.ih = std::max<uint32_t>(1, static_cast<uint32_t>(uint64_t{c.dh} * (25600 - c.softV) / 25600));
  }
  c.deinterlace = (deinterlaceMode & 3) && c.dh > 1;
  buildAdjust(c.adjust, look);
  return c;
}

// The frame between two steps of the chain.
struct Stage {
  const uint8_t *pixels;
  ptrdiff_t pitch;
  uint32_t width, height;
};

// The work frame a step writes to: the one the frame is not in.
uint32_t *spareFrame(GFileInternal &s, const Stage &in) {
  return reinterpret_cast<uint32_t *>(in.pixels == s.work[0] ? s.work[1] : s.work[0]);
}

// Indices of 1, 2 and 4 bits to one byte each.
bool unpackNarrowIndices(GFile *g) {
  GFileInternal &s = state(g);
  if (g->frameBits >= 8) return true;
  const uint32_t w = g->sourceWidth, h = g->sourceHeight;
  if (!ensureBuffer(s.work[2], s.workBytes[2], uint64_t{w} * h + 4)) return false;
  unpackIndices(s.work[2], s.filtered, s.filteredPitch, w, h, g->frameBits);
  s.filtered = s.work[2];
  s.filteredPitch = w;
  g->frameBits = 8;
  return true;
}

// Two work frames of the largest size the chain passes through.
bool ensureWorkFrames(GFileInternal &s, const ChainPlan &c) {
  const uint64_t most = std::max({uint64_t{c.sw} * c.sh, uint64_t{c.iw} * c.ih, uint64_t{c.dw} * c.dh});
  return ensureBuffer(s.work[0], s.workBytes[0], most * 4 + 4) && ensureBuffer(s.work[1], s.workBytes[1], most * 4 + 4);
}

// The frame as 32-bit pixels in a work frame.
void toPixels32(GFile *g, Stage &st) {
  uint32_t *out = spareFrame(state(g), st);
  for (uint32_t y = 0; y < st.height; ++y)
    readRow32(out + size_t{y} * st.width, st.pixels + st.pitch * static_cast<ptrdiff_t>(y), st.width, g->frameBits,
              g->sourcePalette);
  st = {reinterpret_cast<uint8_t *>(out), static_cast<ptrdiff_t>(st.width) * 4, st.width, st.height};
}

// Softening or scaling: the frame resampled to w x h by the resampler kept
// in r.
bool resampleTo(GFile *g, colour::Resampler *&r, uint32_t w, uint32_t h, Stage &st) {
  if (!resamplerFor(r, g->filter, w, h, st.width, st.height)) return false;
  uint32_t *out = spareFrame(state(g), st);
  colour::resamplerApply(r, out, st.pixels, st.pitch, colour::resampleFetch32);
  st = {reinterpret_cast<uint8_t *>(out), static_cast<ptrdiff_t>(w) * 4, w, h};
  return true;
}

// Even or odd lines kept, the others rebuilt.
void deinterlaceFrame(GFile *g, Stage &st) {
  GFileInternal &s = state(g);
  uint32_t *out = spareFrame(s, st);
  deinterlace(out, reinterpret_cast<const uint32_t *>(st.pixels), st.width, st.height, s.deinterlace & 3,
              (s.deinterlace & 8) != 0);
  st.pixels = reinterpret_cast<uint8_t *>(out);
}

// Runs the chain on a frame of the source; false when a buffer or a
// resampler could not be had (the frame is then shown as far as it got).
bool filterSourceFrame(GFile *g, const PictureSettings &look) {
  GFileInternal &s = state(g);
  if (!unpackNarrowIndices(g)) return false;
  const ChainPlan c = planChain(g, look);
  if (!c.any()) return true;
  if (!ensureWorkFrames(s, c)) return false;
  Stage st{s.filtered, s.filteredPitch, c.sw, c.sh};
  // The adjustments work in place, so a frame no resampling copies into a
  // work frame is copied there first.
  if (g->frameBits != 32 || !c.resamples()) toPixels32(g, st);
  if (c.softens() && !resampleTo(g, s.soften, c.iw, c.ih, st)) return false;
  const bool scaled = c.softens() && st.width == c.dw && st.height == c.dh;
  if (c.resamples() && !scaled && !resampleTo(g, s.scale, c.dw, c.dh, st)) return false;
  if (c.deinterlace) deinterlaceFrame(g, st);
  adjust(reinterpret_cast<uint32_t *>(const_cast<uint8_t *>(st.pixels)), size_t{st.width} * st.height, c.adjust);
  s.filtered = const_cast<uint8_t *>(st.pixels);
  s.filteredPitch = st.pitch;
  g->frameBits = 32;
  g->workFrames[0] = s.work[0];
  g->workFrames[1] = s.work[1];
  g->scaleFilter = s.scale;
  g->softenFilter = s.soften;
  return true;
}

// The first visible pixel of the filtered frame, as the placement shows it.
void setVisible(GFile *g) {
  GFileInternal &s = state(g);
  const GFilePlacement &pl = g->placement;
  const uint32_t bpp = g->frameBits / 8;
  s.visible = s.filtered;
  s.visiblePitch = s.filteredPitch;
  if (pl.visibleWidth > 0 && pl.visibleHeight > 0 && s.filtered)
    s.visible = s.filtered + s.filteredPitch * pl.startRow + static_cast<ptrdiff_t>(pl.startColumn) * bpp;
}

// The colour analysis reads a 24-bit frame in which smooth areas are
// dithered, so that gradients gather into few colours.
void ditherForAnalysis(GFile *g) {
  GFileInternal &s = state(g);
  const bool dither = s.paletteOption == 1 || (!g->trueColour && s.paletteOption == 0 && g->frameBits > 8 &&
                                               g->frameCount > 9);
  const GFilePlacement &pl = g->placement;
  if (!dither || pl.visibleWidth <= 0 || pl.visibleHeight <= 0 || !s.visible) return;
  const uint32_t vw = static_cast<uint32_t>(pl.visibleWidth), vh = static_cast<uint32_t>(pl.visibleHeight);
  if (!ensureBuffer(s.frame24, s.frame24Bytes, uint64_t{vw} * vh * 3 + 4)) return;
  switch (g->frameBits) {
    case 32: colour::smoothDither32(s.frame24, s.visible, vw, vh, s.visiblePitch); break;
    case 24: colour::smoothDither24(s.frame24, s.visible, vw, vh, s.visiblePitch); break;
    case 16: colour::smoothDither16(s.frame24, s.visible, vw, vh, s.visiblePitch); break;
    default: colour::smoothDither8(s.frame24, s.visible, vw, vh, s.visiblePitch, g->sourcePalette); break;
  }
  s.visible = s.frame24;
  s.visiblePitch = static_cast<ptrdiff_t>(vw) * 3;
  g->frameBits = 24;
}

}  // namespace

// One source row as 32-bit pixels (the fourth byte of 32-bit sources kept).
void readRow32(uint32_t *out, const uint8_t *row, uint32_t w, uint32_t bits, const uint8_t *palette) {
  switch (bits) {
    case 32:
      std::memcpy(out, row, size_t{w} * 4);
      break;
    case 24:
      for (uint32_t x = 0; x < w; ++x)
        out[x] = row[x * 3] | row[x * 3 + 1] << 8 | static_cast<uint32_t>(row[x * 3 + 2]) << 16;
      break;
    case 16:
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t p = row[x * 2] | row[x * 2 + 1] << 8;
        out[x] = (p & 0x1F) << 3 | ((p >> 5) & 0x1F) << 11 | ((p >> 10) & 0x1F) << 19;
      }
      break;
    default:
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *c = palette + row[x] * 3;
        out[x] = c[2] | c[1] << 8 | static_cast<uint32_t>(c[0]) << 16;
      }
      break;
  }
}

void runFilters(GFile *g, const PictureSettings &look) {
  GFileInternal &s = state(g);
  s.filtered = g->frameBase;
  s.filteredPitch = s.sourcePitch;
  // A list's frame is its entry's, filtered there already.
  const bool source = g->kind != GFILE_KIND_LIST && g->frameBase;
  if (source && !filterSourceFrame(g, look)) return setVisible(g);
  setVisible(g);
  ditherForAnalysis(g);
}

void releaseFilters(GFile *g) {
  GFileInternal &s = state(g);
  colour::resamplerFree(s.scale);
  colour::resamplerFree(s.soften);
  s.scale = s.soften = nullptr;
  for (uint8_t *&w : s.work) {
    kavfree(w);
    w = nullptr;
  }
  kavfree(s.frame24);
  s.frame24 = nullptr;
  s.workBytes[0] = s.workBytes[1] = s.workBytes[2] = s.frame24Bytes = 0;
  g->workFrames[0] = g->workFrames[1] = nullptr;
  g->scaleFilter = g->softenFilter = nullptr;
}

}  // namespace kav::gfile
