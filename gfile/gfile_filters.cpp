// The filter chain run on a frame once it is read: unpacking of narrow
// indices, reading rows as 32-bit pixels, scaling and softening through the
// resampler, deinterlacing, gamma, threshold, contrast and brightness, and
// the 24-bit frame the colour analysis reads.
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

void buildAdjust(Adjust &a, uint32_t contrast, int32_t brightness, float gamma, uint32_t threshold) {
  a.useGamma = std::fabs(gamma - 1.0f) > 0.0001f;
  for (uint32_t c = 0; c < 256; ++c) {
    a.gamma[c] = static_cast<uint8_t>(
        a.useGamma ? std::lround(255.0 * std::pow(c / 255.0, static_cast<double>(gamma))) : static_cast<long>(c));
  }
  const uint32_t b = contrast > 128 ? 128 : contrast;
  for (uint32_t c = 0; c < 256; ++c) {
    uint32_t v = c;
    if (b) v = c <= b ? 0 : c >= 255 - b ? 255 : (c - b) * 255 / (255 - 2 * b);
    int64_t bv = int64_t{v} * brightness / 100;
    a.levels[c] = static_cast<uint8_t>(bv < 0 ? 0 : bv > 255 ? 255 : bv);
  }
  a.threshold = threshold;
  a.useLevels = b != 0 || brightness != 100;
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

void setVisible(GFile *g) {
  GFileInternal &s = state(g);
  const GFilePlacement &pl = g->placement;
  const uint32_t bpp = g->frameBits / 8;
  s.visible = s.filtered;
  s.visiblePitch = s.filteredPitch;
  if (pl.visibleWidth > 0 && pl.visibleHeight > 0 && s.filtered)
    s.visible = s.filtered + s.filteredPitch * pl.startRow + static_cast<ptrdiff_t>(pl.startColumn) * bpp;
}

}  // namespace

void runFilters(GFile *g, uint32_t soften, uint32_t contrast, int32_t brightness, float gamma, uint32_t threshold) {
  GFileInternal &s = state(g);
  s.filtered = g->frameBase;
  s.filteredPitch = s.sourcePitch;
  const uint32_t sw = g->kind == GFILE_KIND_LIST ? g->scaledWidth : g->sourceWidth;
  const uint32_t sh = g->kind == GFILE_KIND_LIST ? g->scaledHeight : g->sourceHeight;
  const uint32_t dw = g->scaledWidth, dh = g->scaledHeight;

  if (g->kind != GFILE_KIND_LIST && g->frameBase) {
    if (g->frameBits < 8) {
      if (!ensureBuffer(s.work[2], s.workBytes[2], uint64_t{sw} * sh + 4)) return setVisible(g);
      unpackIndices(s.work[2], s.filtered, s.filteredPitch, sw, sh, g->frameBits);
      s.filtered = s.work[2];
      s.filteredPitch = sw;
      g->frameBits = 8;
    }
    uint32_t softH = soften & 0xFFFF, softV = soften >> 16;
    const uint64_t dW = uint64_t(dw > sw ? dw - sw : sw - dw) * 25600 / sw;
    const uint64_t dH = uint64_t(dh > sh ? dh - sh : sh - dh) * 25600 / sh;
    if (dW >= softH) softH = 0;
    if (s.deinterlace == 8 && softV < 0x3200) softV = 0x3200;
    if (dH >= softV) softV = 0;
    if (softH >= 25600) softH = 25599;
    if (softV >= 25600) softV = 25599;
    const bool resample = softH || softV || dw != sw || dh != sh;
    const bool deint = (s.deinterlace & 3) && dh > 1;
    Adjust adj;
    buildAdjust(adj, contrast, brightness, gamma, threshold);
    const bool any = resample || deint || adj.useGamma || adj.useLevels || threshold;
    if (any) {
      uint32_t iw = sw, ih = sh;
      if (softH || softV) {
        iw = static_cast<uint32_t>(uint64_t{dw} * (25600 - softH) / 25600);
        ih = static_cast<uint32_t>(uint64_t{dh} * (25600 - softV) / 25600);
        if (iw < 1) iw = 1;
        if (ih < 1) ih = 1;
      }
      uint64_t most = uint64_t{sw} * sh;
      if (uint64_t{iw} * ih > most) most = uint64_t{iw} * ih;
      if (uint64_t{dw} * dh > most) most = uint64_t{dw} * dh;
      // Two frames of the largest size the chain passes through.
      for (int i = 0; i < 2; ++i)
        if (!ensureBuffer(s.work[i], s.workBytes[i], most * 4 + 4)) return setVisible(g);
      int next = 0;
      const uint8_t *cur = s.filtered;
      ptrdiff_t curPitch = s.filteredPitch;
      uint32_t cw = sw, ch = sh;
      if (g->frameBits != 32 || !resample) {
        auto *out = reinterpret_cast<uint32_t *>(s.work[next]);
        for (uint32_t y = 0; y < sh; ++y)
          readRow32(out + size_t{y} * sw, cur + curPitch * static_cast<ptrdiff_t>(y), sw, g->frameBits,
                    g->sourcePalette);
        cur = s.work[next];
        curPitch = static_cast<ptrdiff_t>(sw) * 4;
        next = 1 - next;
      }
      if (resample) {
        if (softH || softV) {
          colour::Resampler *r = resamplerFor(s.soften, g->filter, iw, ih, cw, ch);
          if (!r) return setVisible(g);
          colour::resamplerApply(r, reinterpret_cast<uint32_t *>(s.work[next]), cur, curPitch,
                                 colour::resampleFetch32);
          cur = s.work[next];
          curPitch = static_cast<ptrdiff_t>(iw) * 4;
          next = 1 - next;
          cw = iw;
          ch = ih;
        }
        if (cw != dw || ch != dh || !(softH || softV)) {
          colour::Resampler *r = resamplerFor(s.scale, g->filter, dw, dh, cw, ch);
          if (!r) return setVisible(g);
          colour::resamplerApply(r, reinterpret_cast<uint32_t *>(s.work[next]), cur, curPitch,
                                 colour::resampleFetch32);
          cur = s.work[next];
          curPitch = static_cast<ptrdiff_t>(dw) * 4;
          next = 1 - next;
        }
        cw = dw;
        ch = dh;
      }
      if (deint) {
        deinterlace(reinterpret_cast<uint32_t *>(s.work[next]), reinterpret_cast<const uint32_t *>(cur), cw, ch,
                    s.deinterlace & 3, (s.deinterlace & 8) != 0);
        cur = s.work[next];
        next = 1 - next;
      }
      // cur is one of the work frames here, so the adjustments run in place.
      adjust(reinterpret_cast<uint32_t *>(const_cast<uint8_t *>(cur)), size_t{cw} * ch, adj);
      s.filtered = const_cast<uint8_t *>(cur);
      s.filteredPitch = static_cast<ptrdiff_t>(cw) * 4;
      g->frameBits = 32;
      g->workFrames[0] = s.work[0];
      g->workFrames[1] = s.work[1];
      g->scaleFilter = s.scale;
      g->softenFilter = s.soften;
    }
  }
  setVisible(g);

  // The colour analysis reads a 24-bit frame in which smooth areas are
  // dithered, so that gradients gather into few colours.
  const bool dither = s.paletteOption == 1 || (!g->trueColour && s.paletteOption == 0 && g->frameBits > 8 &&
                                               g->frameCount > 9);
  const GFilePlacement &pl = g->placement;
  if (dither && pl.visibleWidth > 0 && pl.visibleHeight > 0 && s.visible) {
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
