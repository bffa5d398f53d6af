// GFileOpen, GFileClose and GFileReset: the handle's life, the list
// measurement and the common tail that fixes range, size, placement and
// rates once the source kind is known.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"

namespace kav::gfile {

void report(GFile *g, int32_t code, const char *format, ...) {
  KAVStatusCallback status = g->internal ? g->internal->status : nullptr;
  if (!status) return;
  char text[KAV_NAME_MAX + 64];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  status(text, code);
}

namespace {

void reportWith(KAVStatusCallback status, int32_t code, const char *format, const char *arg) {
  if (!status) return;
  char text[KAV_NAME_MAX + 64];
  std::snprintf(text, sizeof text, format, arg);
  status(text, code);
}

// One dimension of a size code against the source size.
int64_t decodeSize(int32_t code, uint32_t source) {
  if (code == 0) return source;
  if (code > 0) return code;
  if (code >= -1000) return int64_t{source} * -int64_t{code};  // -1 is handled by the caller
  return int64_t{source} * (-int64_t{code} - 1000) / 1000;
}

uint32_t clampSize(int64_t v) {
  if (v < 1) return 1;
  if (v > 32768) return 32768;  // larger canvases could not be allocated by a 32-bit size
  return static_cast<uint32_t>(v);
}

void reduce(uint32_t &n, uint32_t &d) {
  if (n == 0 || d == 0) {
    n = 15;
    d = 1;
  }
  GCDNums(&n, &d);
}

}  // namespace

void placeAxis(int32_t pos, int32_t canvas, int32_t scaled, int32_t scaledHeight, int32_t &start, int32_t &visible,
               int32_t &blank, int32_t &margin) {
  const int64_t end = int64_t{pos} + canvas;
  if (pos < 0 && end < 0) {
    margin = -scaledHeight;
    blank = 0;
    start = 0;
    visible = 0;
  } else if (pos < 0 && end > scaled) {
    margin = pos;
    blank = static_cast<int32_t>(end - scaled);
    visible = scaled;
    start = 0;
  } else if (pos < 0) {
    margin = pos;
    blank = 0;
    visible = static_cast<int32_t>(end);
    start = 0;
  } else if (end > scaled) {
    if (pos > scaled) {
      blank = scaled;
      visible = 0;
    } else {
      blank = static_cast<int32_t>(end - scaled);
      visible = scaled - pos;
    }
    margin = 0;
    start = pos;
  } else {
    start = pos;
    visible = canvas;
    blank = 0;
    margin = 0;
  }
}

void computePlacement(GFile *g) {
  GFilePlacement &p = g->placement;
  const int32_t sw = static_cast<int32_t>(g->scaledWidth), sh = static_cast<int32_t>(g->scaledHeight);
  placeAxis(p.x, static_cast<int32_t>(g->canvasWidth), sw, sh, p.startColumn, p.visibleWidth, p.rightBlank,
            p.leftMargin);
  placeAxis(p.y, static_cast<int32_t>(g->canvasHeight), sh, sh, p.startRow, p.visibleHeight, p.bottomBlank,
            p.topMargin);
}

namespace {

// Range, size, placement, bits and rates (the end of every open).
bool commonTail(GFile *g, bool halve, int32_t x, int32_t y, uint32_t canvasW, uint32_t canvasH, uint32_t first,
                uint32_t last, const char *verb) {
  GFileInternal &s = state(g);
  if (g->kind != GFILE_KIND_LIST) g->fileSize = kavfilesize(g->name);
  // A source without a frame has nothing to deliver; refusing it keeps the
  // first-frame index from wrapping.
  if (g->totalFrames == 0 || g->sourceWidth == 0 || g->sourceHeight == 0) return false;
  uint32_t f = first ? first : 1, l = last ? last : 0xFFFFFFu;
  if (f > g->totalFrames) f = g->totalFrames;
  if (l > g->totalFrames) l = g->totalFrames;
  if (l < f) l = f;
  s.firstIndex = f - 1;
  g->frameCount = l - f + 1;

  const uint32_t srcW = g->sourceWidth, srcH = g->sourceHeight;
  // A list's entries apply the size codes themselves.
  const bool list = g->kind == GFILE_KIND_LIST;
  const int32_t cw = list ? 0 : g->requestedWidth, ch = list ? 0 : g->requestedHeight;
  int64_t w, h;
  if (cw == -1 && ch == -1) {
    w = srcW;
    h = srcH;
  } else if (cw == -1) {
    h = decodeSize(ch, srcH);
    w = int64_t{srcW} * h / srcH;
  } else if (ch == -1) {
    w = decodeSize(cw, srcW);
    h = int64_t{srcH} * w / srcW;
  } else {
    w = decodeSize(cw, srcW);
    h = decodeSize(ch, srcH);
  }
  if (halve && (s.openFlags & GFILE_HALVE_WIDTH)) w /= 2;
  if (halve && (s.openFlags & GFILE_HALVE_HEIGHT)) h /= 2;
  g->scaledWidth = clampSize(w);
  g->scaledHeight = clampSize(h);
  g->canvasWidth = canvasW ? clampSize(canvasW) : g->scaledWidth;
  g->canvasHeight = canvasH ? clampSize(canvasH) : g->scaledHeight;
  g->canvasPitch = (g->canvasWidth + 3) & ~3u;
  g->placement.x = x;
  g->placement.y = y;
  computePlacement(g);

  g->outputBits = g->sourceBits;
  if (g->scaledWidth != srcW || g->scaledHeight != srcH) g->outputBits = 32;

  reduce(g->nativeRateNumerator, g->nativeRateDenominator);
  if (s.inputArgNumerator && s.inputArgDenominator && g->kind != GFILE_KIND_LIST) {
    g->inputRateNumerator = s.inputArgNumerator;
    g->inputRateDenominator = s.inputArgDenominator;
  } else {
    g->inputRateNumerator = g->nativeRateNumerator;
    g->inputRateDenominator = g->nativeRateDenominator;
  }
  reduce(g->inputRateNumerator, g->inputRateDenominator);
  if (s.outputArgNumerator && s.outputArgDenominator && g->kind != GFILE_KIND_LIST) {
    g->outputRateNumerator = s.outputArgNumerator;
    g->outputRateDenominator = s.outputArgDenominator;
  } else {
    g->outputRateNumerator = g->inputRateNumerator;
    g->outputRateDenominator = g->inputRateDenominator;
  }
  reduce(g->outputRateNumerator, g->outputRateDenominator);
  g->outputPeriod = -static_cast<int32_t>(uint64_t{100000} * g->outputRateDenominator / g->outputRateNumerator);
  const uint64_t out = uint64_t{g->frameCount} * g->outputRateNumerator * g->inputRateDenominator /
                       (uint64_t{g->inputRateNumerator} * g->outputRateDenominator);
  g->outputFrameCount = out == 0 ? 1 : (out > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(out));
  if (verb) {
    std::strncpy(s.verb, verb, sizeof s.verb - 1);
    s.verb[sizeof s.verb - 1] = 0;
  }
  return true;
}

GFile *openEntry(GFile *list, const kav::ListEntry &entry) {
  GFileInternal &s = state(list);
  // The halving bits travel to the entries, which scale themselves; the
  // list shows their frames unscaled.
  return openHandle(entry.name.c_str(), list->flags | (s.openFlags & (GFILE_HALVE_WIDTH | GFILE_HALVE_HEIGHT)),
                    s.inputArgNumerator, s.inputArgDenominator, s.outputArgNumerator, s.outputArgDenominator,
                    list->requestedWidth, list->requestedHeight, 0, 0, 0, 0, static_cast<uint32_t>(entry.firstFrame),
                    static_cast<uint32_t>(entry.lastFrame), 0x10000, 0, 256, 0, 0, 2, nullptr, "", s.status);
}

bool restartList(GFile *g) {
  GFileInternal &s = state(g);
  delete s.list;
  s.list = new (std::nothrow) kav::InputList;
  if (!s.list) return false;
  if (s.listIsFile) return s.list->openListFile(g->name);
  s.list->openName(g->name);
  return true;
}

// Opens every entry once for the list's size, depth, rate and length.
bool measureList(GFile *g) {
  GFileInternal &s = state(g);
  uint32_t bits = 0, w = 0, h = 0;
  uint64_t frames = 0, bytes = 0;
  bool haveRate = false;
  for (;;) {
    const kav::ListEntry e = s.list->next();
    if (e.name.empty()) break;
    report(g, 0, "Opening %s...", e.name.c_str());
    GFile *c = openEntry(g, e);
    if (!c) return false;
    if (c->outputBits > bits) bits = c->outputBits;
    if (c->scaledWidth > w) w = c->scaledWidth;
    if (c->scaledHeight > h) h = c->scaledHeight;
    if (!haveRate) {
      g->nativeRateNumerator = c->outputRateNumerator;
      g->nativeRateDenominator = c->outputRateDenominator;
      haveRate = true;
    }
    if (c->hasSound) g->hasSound = 1;
    frames += c->outputFrameCount;
    bytes += c->fileSize;
    closeHandle(c);
  }
  if (frames == 0) {
    report(g, 2, "No files in the list file.");
    return false;
  }
  g->sourceBits = bits;
  g->sourceWidth = w;
  g->sourceHeight = h;
  g->totalFrames = frames > 0xFFFFFFu ? 0xFFFFFFu : static_cast<uint32_t>(frames);
  g->fileSize = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
  s.deinterlace = 0;
  g->flags &= ~(GFILE_DEINTERLACE_EVEN | GFILE_DEINTERLACE_ODD | GFILE_DEINTERLACE_BLEND);
  return restartList(g);
}

}  // namespace

GFile *openHandle(const char *name, uint32_t flags, uint32_t inN, uint32_t inD, uint32_t outN, uint32_t outD,
                  int32_t width, int32_t height, int32_t x, int32_t y, uint32_t canvasW, uint32_t canvasH,
                  uint32_t first, uint32_t last, uint32_t scale, uint32_t firstColour, uint32_t colours,
                  uint32_t reserved, uint32_t method, uint32_t option, const char *paletteFile, const char *verb,
                  KAVStatusCallback status) {
  const char *given = name ? name : "";
  auto fail = [&](GFile *g) -> GFile * {
    reportWith(status, 2, "Error opening: %s", given);
    closeHandle(g);
    return nullptr;
  };
  if (std::strlen(given) >= KAV_NAME_MAX || !*given) return fail(nullptr);
  auto *g = static_cast<GFile *>(kavmalloc(sizeof(GFile)));
  if (!g) return fail(nullptr);
  std::memset(g, 0, sizeof *g);
  void *mem = kavmalloc(sizeof(GFileInternal));
  if (!mem) {
    kavfree(g);
    return fail(nullptr);
  }
  g->internal = new (mem) GFileInternal;
  GFileInternal &s = state(g);
  s.status = status;
  s.openFlags = flags;
  s.inputArgNumerator = inN;
  s.inputArgDenominator = inD;
  s.outputArgNumerator = outN;
  s.outputArgDenominator = outD;
  s.analysisScale = scale ? scale : 0x10000;
  if (colours == 0 || colours > 256) colours = 256;
  if (firstColour > 255) firstColour = 0;
  if (firstColour + colours > 256) colours = 256 - firstColour;
  if (reserved > (colours + 1) / 2) reserved = (colours + 1) / 2;
  // At least one colour stays in the window: with one colour the rule above
  // would reserve it, and every remap would search an empty window.
  if (reserved >= colours) reserved = colours - 1;
  s.firstColour = s.firstColourAsOpened = firstColour;
  s.colourCount = colours - reserved;
  s.reservedColours = reserved;
  s.paletteMethod = method;
  s.paletteOption = option;
  if (paletteFile && *paletteFile) s.paletteFile = paletteFile;
  g->requestedWidth = width;
  g->requestedHeight = height;

  const uint32_t mode = flags & GFILE_COLOUR_MODE_MASK;
  g->trueColour = mode == 0;
  s.colourMode = mode ? mode - 1 : 0;
  g->preferQuickTime = (flags & GFILE_PREFER_QUICKTIME) ? 1 : 0;
  g->filter = (flags & GFILE_FILTER_1) ? 1 : (flags & GFILE_FILTER_2) ? 2 : 0;
  s.deinterlace = (flags & GFILE_DEINTERLACE_ODD) ? 2 : (flags & GFILE_DEINTERLACE_EVEN) ? 1 : 0;
  if (flags & GFILE_DEINTERLACE_BLEND) s.deinterlace |= 8;
  g->flags = (g->filter == 2 ? GFILE_FILTER_2 : 0) | (g->filter == 1 ? GFILE_FILTER_1 : 0) |
             (g->preferQuickTime ? GFILE_PREFER_QUICKTIME : 0) | (flags & 0x3800u) | mode;
  std::strcpy(g->name, given);

  bool halve = true;
  if (std::strchr(given, '?') || kav::isListName(given)) {
    g->kind = GFILE_KIND_LIST;
    std::strcpy(g->kindName, "List");
    s.listIsFile = !std::strchr(given, '?');
    if (!restartList(g)) return fail(g);
    if (!measureList(g)) return fail(g);
    halve = false;
  } else if (!openKinds(g, given)) {
    return fail(g);
  }
  if (!commonTail(g, halve, x, y, canvasW, canvasH, first, last, verb)) return fail(g);
  return g;
}

void closeHandle(GFile *g) {
  if (!g) return;
  if (g->internal) {
    GFileInternal &s = state(g);
    closeReaders(g);
    releaseFilters(g);
    if (s.analysis) closeHandle(s.analysis);
    if (s.child) closeHandle(s.child);
    delete s.list;
    kavfree(s.kindFrame);
    kavfree(s.colourCache);
    s.~GFileInternal();
    kavfree(g->internal);
  }
  kavfree(g->canvas);
  std::memset(g, 0, sizeof *g);
  kavfree(g);
}

}  // namespace kav::gfile

using namespace kav::gfile;

extern "C" {

KAV_EXPORT GFile *KAVAPI GFileOpen(const char *name, uint32_t flags, uint32_t input_numerator,
                                   uint32_t input_denominator, uint32_t output_numerator,
                                   uint32_t output_denominator, int32_t width, int32_t height, int32_t x, int32_t y,
                                   uint32_t canvas_width, uint32_t canvas_height, uint32_t first_frame,
                                   uint32_t last_frame, uint32_t analysis_scale, uint32_t first_colour,
                                   uint32_t colour_count, uint32_t reserved_colours, uint32_t palette_method,
                                   uint32_t palette_option, const char *palette_file, const char *status_verb,
                                   KAVStatusCallback status) {
  try {
    return openHandle(name, flags, input_numerator, input_denominator, output_numerator, output_denominator, width,
                      height, x, y, canvas_width, canvas_height, first_frame, last_frame, analysis_scale,
                      first_colour, colour_count, reserved_colours, palette_method, palette_option, palette_file,
                      status_verb, status);
  } catch (...) {
    return nullptr;
  }
}

KAV_EXPORT void KAVAPI GFileClose(GFile *file) {
  try {
    closeHandle(file);
  } catch (...) {
  }
}

KAV_EXPORT void KAVAPI GFileReset(GFile *g) {
  if (!g || !g->internal) return;
  try {
    GFileInternal &s = state(g);
    g->framesRead = 0;
    g->outputFrameIndex = 0;
    g->endFlag = 0;
    s.skipDone = false;
    s.firstVornFrame = true;
    std::memset(g->palette, 0, sizeof g->palette);
    std::memset(g->sourcePalette, 0, sizeof g->sourcePalette);
    if (s.kindFrame) std::memset(s.kindFrame, 0, s.kindFrameBytes);
    rewindReaders(g);
    if (s.analysis) closeHandle(s.analysis);
    s.analysis = nullptr;
    s.analysisDone = false;
    s.countdown = 0;
    s.palettePending = false;
    s.firstPalette = true;
    s.windowToggle = false;
    s.firstColour = s.firstColourAsOpened;
    clearColourCache(g);
    if (s.child) closeHandle(s.child);
    s.child = nullptr;
    if (g->kind == GFILE_KIND_LIST) {
      // The list's frame lay in the entry just closed.
      g->frameBase = nullptr;
      s.filtered = nullptr;
      s.visible = nullptr;
      restartList(g);
    }
  } catch (...) {
  }
}

}  // extern "C"
