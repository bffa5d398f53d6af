// The animated GIF writer. Two giflib encoders share the work: `stream`
// writes the file's own structure (header, screen, loop count, each frame's
// control block and the trailer) and `coder` encodes image blocks into
// memory, where the variants of a frame are compared by size before the
// smaller one joins the stream. A frame's bytes collect in `pending` and go
// to the file in one write once the frame is complete; `goodEnd` marks where
// the last whole frame ends, which is where a failed write cuts the file
// back to before the trailer is put.
#include "platform/stillimage/still_gif_anim.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "platform/os_file.h"

namespace kav::still {

namespace {

int appendBytes(GifFileType *g, const GifByteType *src, int n) {
  auto *out = static_cast<std::vector<uint8_t> *>(g->UserData);
  try {
    out->insert(out->end(), src, src + n);
  } catch (const std::bad_alloc &) {
    return 0;
  }
  return n;
}

constexpr uint8_t kTrailer = 0x3B;  // ';'

struct MapDeleter {
  void operator()(ColorMapObject *m) const { GifFreeMapObject(m); }
};

ColorMapObject *makeMap(const uint8_t *paletteRgb) {
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) {
    colours[i].Red = paletteRgb[3 * i + 0];
    colours[i].Green = paletteRgb[3 * i + 1];
    colours[i].Blue = paletteRgb[3 * i + 2];
  }
  return GifMakeMapObject(256, colours);
}

void closeGif(GifFileType *&g, std::vector<uint8_t> *sink) {
  if (!g) return;
  g->UserData = sink;
  int err = 0;
  EGifCloseFile(g, &err);
  g = nullptr;
}

}  // namespace

struct GifAnimation {
  KavOsFile file = KAV_INVALID_OS_FILE;
  uint32_t width = 0, height = 0, plays = 0;
  GifFileType *stream = nullptr;
  GifFileType *coder = nullptr;
  std::vector<uint8_t> pending;  // bytes of the frame being built
  std::vector<uint8_t> discard;  // where encoders write what is not kept
  std::vector<uint8_t> block, trial;
  std::vector<uint8_t> pixels;   // the rectangle being coded
  std::vector<uint32_t> screen;  // what a viewer shows after the frames so far, 0x00RRGGBB
  std::vector<GifPixelType> line;
  // The global table's colours (0x00RRGGBB) sorted, each with its index;
  // the slots past the first palette's colours are free until a later
  // frame's new colour takes one (no frame before it refers to them, so
  // the table can still change there).
  std::vector<std::pair<uint32_t, uint8_t>> globalColours;
  uint32_t firstFreeSlot = 256;
  int globalIndexOf(uint32_t colour) const {
    const auto it = std::lower_bound(globalColours.begin(), globalColours.end(), std::make_pair(colour, uint8_t{0}));
    return it != globalColours.end() && it->first == colour ? it->second : -1;
  }
  uint64_t goodEnd = 0;  // end of the last whole frame in the file
  uint32_t frames = 0;
  bool failed = false;
};

namespace {

// Puts the file's header: the screen with the global colour table and,
// unless the animation plays once, the loop count (which counts repeats
// after the first showing).
bool startStream(GifAnimation *a, const uint8_t *tableRgb, uint32_t colours) {
  std::unique_ptr<ColorMapObject, MapDeleter> map(makeMap(tableRgb));
  if (!map) return false;
  a->globalColours.clear();
  a->firstFreeSlot = colours;
  for (uint32_t i = 0; i < colours; ++i)
    a->globalColours.emplace_back(
        uint32_t{tableRgb[3 * i]} << 16 | uint32_t{tableRgb[3 * i + 1]} << 8 | tableRgb[3 * i + 2],
        static_cast<uint8_t>(i));
  // For a colour listed twice, the lower index is found.
  std::sort(a->globalColours.begin(), a->globalColours.end());
  int err = 0;
  a->stream = EGifOpen(&a->pending, appendBytes, &err);
  a->coder = EGifOpen(&a->discard, appendBytes, &err);
  if (!a->stream || !a->coder) return false;
  EGifSetGifVersion(a->stream, true);
  const int w = static_cast<int>(a->width), h = static_cast<int>(a->height);
  if (EGifPutScreenDesc(a->stream, w, h, 8, 0, map.get()) == GIF_ERROR) return false;
  // The coder only encodes image blocks, against the same global table.
  if (EGifPutScreenDesc(a->coder, w, h, 8, 0, map.get()) == GIF_ERROR) return false;
  a->discard.clear();
  if (a->plays != 1) {
    const uint32_t repeats = a->plays == 0 ? 0 : std::min<uint32_t>(a->plays - 1, 0xFFFF);
    const uint8_t loop[3] = {1, static_cast<uint8_t>(repeats), static_cast<uint8_t>(repeats >> 8)};
    if (EGifPutExtensionLeader(a->stream, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(a->stream, 11, "NETSCAPE2.0") == GIF_ERROR ||
        EGifPutExtensionBlock(a->stream, 3, loop) == GIF_ERROR || EGifPutExtensionTrailer(a->stream) == GIF_ERROR)
      return false;
  }
  return true;
}

// One image block (descriptor, local table, coded pixels) into `out`.
// Without a local table the pixels are coded in `globalBits` bits, fewer
// than the global table's 8 when the block uses only its first entries (the
// code size is the block's own; decoders take it from the block).
bool encodeBlock(GifAnimation *a, std::vector<uint8_t> &out, uint32_t left, uint32_t top, uint32_t w, uint32_t h,
                 const ColorMapObject *local, int globalBits = 8) {
  out.clear();
  a->coder->UserData = &out;
  // Some giflib releases forget the previous block's local table when the
  // next block has none.
  if (a->coder->Image.ColorMap) {
    GifFreeMapObject(a->coder->Image.ColorMap);
    a->coder->Image.ColorMap = nullptr;
  }
  // giflib sizes its codes by the table the block uses.
  a->coder->SColorMap->BitsPerPixel = globalBits;
  bool ok = EGifPutImageDesc(a->coder, static_cast<int>(left), static_cast<int>(top), static_cast<int>(w),
                             static_cast<int>(h), false, local) != GIF_ERROR;
  a->coder->SColorMap->BitsPerPixel = 8;
  a->line.resize(w);
  for (uint32_t y = 0; ok && y < h; ++y) {
    // giflib masks the line it is given in place.
    std::memcpy(a->line.data(), a->pixels.data() + size_t{y} * w, w);
    ok = EGifPutLine(a->coder, a->line.data(), static_cast<int>(w)) != GIF_ERROR;
  }
  a->coder->UserData = &a->discard;
  return ok;
}

bool putControl(GifAnimation *a, uint16_t delay, int transparent) {
  GraphicsControlBlock gcb{};
  gcb.DisposalMode = DISPOSE_DO_NOT;
  gcb.UserInputFlag = false;
  gcb.DelayTime = delay;
  gcb.TransparentColor = transparent < 0 ? NO_TRANSPARENT_COLOR : transparent;
  GifByteType bytes[4];
  const size_t n = EGifGCBToExtension(&gcb, bytes);
  return EGifPutExtension(a->stream, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), bytes) != GIF_ERROR;
}

// Cuts the file back to its last whole frame and ends it there.
void abandon(GifAnimation *a) {
  a->failed = true;
  a->pending.clear();
  if (a->file == KAV_INVALID_OS_FILE) return;
  if (a->goodEnd == 0) {
    os::truncate(a->file, 0);  // not even the header made it: nothing is valid
    return;
  }
  if (os::seek(a->file, a->goodEnd) && os::write(a->file, &kTrailer, 1) == 1) {
    os::truncate(a->file, a->goodEnd + 1);
  } else {
    // Without room for the trailer the frames end where the last one did;
    // readers that meet the end of the file there take what came before.
    os::truncate(a->file, a->goodEnd);
  }
}

bool flushPending(GifAnimation *a) {
  if (a->pending.empty()) return true;
  if (os::write(a->file, a->pending.data(), a->pending.size()) != a->pending.size()) {
    abandon(a);
    return false;
  }
  a->goodEnd += a->pending.size();
  a->pending.clear();
  return true;
}

struct Rect {
  uint32_t left, top, width, height;
};

// One way of coding a frame's rectangle.
struct Variant {
  std::vector<uint8_t> bytes;
  int transparent = -1;
  bool ok = false;  // false: this way cannot code the frame
};

// Bits for codes 0 .. count - 1 (at least 1).
int bitsFor(int count) {
  int bits = 1;
  while ((1 << bits) < count) ++bits;
  return bits;
}

// Codes the rectangle against the global table when every colour it needs
// is there, else against a local table of just the colours it needs. Either
// way a colour is one code (a palette listing it twice does not split it),
// and the codes are as few bits as the highest one needs. `needed` marks
// the frame's indices that must show; with `transparent` the other pixels
// become a code none of them uses.
bool codeVariant(GifAnimation *a, const uint8_t *src, size_t pitch, const uint32_t *rgb, const Rect &r,
                 const bool *needed, const int *toGlobal, bool transparent, Variant &out) {
  bool global = true;
  for (int i = 0; i < 256 && global; ++i) global = !needed[i] || toGlobal[i] >= 0;
  uint8_t code[256] = {};
  bool taken[256] = {};
  uint32_t localColours[256];
  int count = 0;  // codes the needed colours take: highest + 1
  for (int i = 0; i < 256; ++i) {
    if (!needed[i]) continue;
    int c = toGlobal[i];
    if (!global) {
      c = static_cast<int>(std::find(localColours, localColours + count, rgb[i]) - localColours);
      if (c == count) localColours[count++] = rgb[i];
    }
    code[i] = static_cast<uint8_t>(c);
    taken[c] = true;
    count = std::max(count, c + 1);
  }
  int spare = -1;
  if (transparent) {
    spare = static_cast<int>(std::find(taken, taken + 256, false) - taken);
    if (spare == 256) return true;  // every code shows a changed colour
    count = std::max(count, spare + 1);
  }
  const int bits = bitsFor(count);
  std::unique_ptr<ColorMapObject, MapDeleter> local;
  if (!global) {
    GifColorType colours[256] = {};
    for (int c = 0; c < count && c < 256; ++c) {
      if (c == spare) continue;
      colours[c].Red = static_cast<GifByteType>(localColours[c] >> 16);
      colours[c].Green = static_cast<GifByteType>(localColours[c] >> 8);
      colours[c].Blue = static_cast<GifByteType>(localColours[c]);
    }
    local.reset(GifMakeMapObject(1 << bits, colours));
    if (!local) return false;
  }
  const uint32_t w = a->width;
  a->pixels.resize(size_t{r.width} * r.height);
  for (uint32_t y = 0; y < r.height; ++y) {
    const uint8_t *s = src + (r.top + y) * pitch + r.left;
    const uint32_t *d = a->screen.data() + size_t{r.top + y} * w + r.left;
    uint8_t *p = a->pixels.data() + size_t{y} * r.width;
    for (uint32_t x = 0; x < r.width; ++x)
      p[x] = spare >= 0 && rgb[s[x]] == d[x] ? static_cast<uint8_t>(spare) : code[s[x]];
  }
  if (!encodeBlock(a, out.bytes, r.left, r.top, r.width, r.height, local.get(), bits)) return false;
  out.transparent = spare;
  out.ok = true;
  return true;
}

// The global table, from the first frame: the colours it shows first (so
// that it codes in as few bits as they need), then the palette's other
// colours (so that later frames with this palette find theirs), then black.
uint32_t globalTableOf(const GifAnimation *a, const uint8_t *src, size_t pitch, const uint32_t *rgb,
                       uint8_t *tableRgb) {
  uint32_t colours[256];
  int count = 0;
  bool seen[256] = {};
  auto add = [&](int i) {
    if (seen[i]) return;
    seen[i] = true;
    if (std::find(colours, colours + count, rgb[i]) == colours + count) colours[count++] = rgb[i];
  };
  for (uint32_t y = 0; y < a->height; ++y)
    for (uint32_t x = 0; x < a->width; ++x) add(src[y * pitch + x]);
  for (int i = 0; i < 256; ++i) add(i);
  std::memset(tableRgb, 0, 768);
  for (int c = 0; c < count; ++c) {
    tableRgb[3 * c] = static_cast<uint8_t>(colours[c] >> 16);
    tableRgb[3 * c + 1] = static_cast<uint8_t>(colours[c] >> 8);
    tableRgb[3 * c + 2] = static_cast<uint8_t>(colours[c]);
  }
  return static_cast<uint32_t>(count);
}

// Gives the colours the rectangle shows that the global table lacks the
// table's free slots, when there are enough, and writes them into the
// file's table. False after a failed write.
constexpr uint64_t kGlobalTableOffset = 13;  // after the signature and the screen descriptor
bool placeNewColours(GifAnimation *a, const uint32_t *rgb, const bool *used, int *toGlobal) {
  uint32_t missing[256];
  uint32_t count = 0;
  for (int i = 0; i < 256; ++i)
    if (used[i] && toGlobal[i] < 0 && std::find(missing, missing + count, rgb[i]) == missing + count)
      missing[count++] = rgb[i];
  if (count == 0 || count > 256 - a->firstFreeSlot || a->goodEnd == 0) return true;
  uint8_t bytes[768];
  for (uint32_t c = 0; c < count; ++c) {
    bytes[3 * c] = static_cast<uint8_t>(missing[c] >> 16);
    bytes[3 * c + 1] = static_cast<uint8_t>(missing[c] >> 8);
    bytes[3 * c + 2] = static_cast<uint8_t>(missing[c]);
  }
  const uint64_t at = kGlobalTableOffset + 3 * uint64_t{a->firstFreeSlot};
  if (!os::seek(a->file, at) || os::write(a->file, bytes, 3 * count) != 3 * count || !os::seek(a->file, a->goodEnd)) {
    abandon(a);
    return false;
  }
  for (uint32_t c = 0; c < count; ++c)
    a->globalColours.emplace_back(missing[c], static_cast<uint8_t>(a->firstFreeSlot + c));
  a->firstFreeSlot += count;
  std::sort(a->globalColours.begin(), a->globalColours.end());
  for (int i = 0; i < 256; ++i)
    if (toGlobal[i] < 0) toGlobal[i] = a->globalIndexOf(rgb[i]);
  return true;
}

int putFrame(GifAnimation *a, const uint8_t *src, size_t pitch, const uint8_t *paletteRgb, uint16_t delay) {
  const uint32_t w = a->width, h = a->height;
  const bool first = a->stream == nullptr;
  uint32_t rgb[256];
  for (int i = 0; i < 256; ++i)
    rgb[i] = uint32_t{paletteRgb[3 * i]} << 16 | uint32_t{paletteRgb[3 * i + 1]} << 8 | paletteRgb[3 * i + 2];
  if (first) {
    uint8_t table[768];
    const uint32_t colours = globalTableOf(a, src, pitch, rgb, table);
    if (!startStream(a, table, colours)) return kStillNoMemory;
    a->screen.assign(size_t{w} * h, 0);
  }

  // The rectangle that holds every pixel whose colour on screen changes.
  uint32_t x0 = w, x1 = 0, y0 = h, y1 = 0;
  if (first) {
    x0 = 0, x1 = w - 1, y0 = 0, y1 = h - 1;
  } else {
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t *s = src + y * pitch;
      const uint32_t *d = a->screen.data() + size_t{y} * w;
      uint32_t x = 0;
      while (x < w && rgb[s[x]] == d[x]) ++x;
      if (x == w) continue;
      uint32_t r = w - 1;
      while (rgb[s[r]] == d[r]) --r;
      x0 = std::min(x0, x), x1 = std::max(x1, r);
      y0 = std::min(y0, y), y1 = y;
    }
  }

  if (x0 > x1) {
    // Nothing changes: one transparent pixel keeps the frame's time.
    a->pixels.assign(1, 0);
    if (!putControl(a, delay, 0) || !encodeBlock(a, a->block, 0, 0, 1, 1, nullptr, 2)) return kStillNoMemory;
  } else {
    const uint32_t rw = x1 - x0 + 1, rh = y1 - y0 + 1;
    const Rect r{x0, y0, rw, rh};
    // Which indices the rectangle uses, all of them and the changed ones.
    bool usedAll[256] = {}, usedChanged[256] = {};
    bool anyUnchanged = false;
    for (uint32_t y = 0; y < rh; ++y) {
      const uint8_t *s = src + (y0 + y) * pitch + x0;
      const uint32_t *d = a->screen.data() + size_t{y0 + y} * w + x0;
      for (uint32_t x = 0; x < rw; ++x) {
        usedAll[s[x]] = true;
        if (rgb[s[x]] != d[x]) usedChanged[s[x]] = true;
        else anyUnchanged = true;
      }
    }
    // Where each of the frame's colours sits in the global table, if at all.
    int toGlobal[256];
    for (int i = 0; i < 256; ++i) toGlobal[i] = a->globalIndexOf(rgb[i]);
    if (!placeNewColours(a, rgb, usedAll, toGlobal)) return kStillWriteFailed;

    // Opaque: every pixel of the rectangle coded.
    Variant best;
    if (!codeVariant(a, src, pitch, rgb, r, usedAll, toGlobal, false, best)) return kStillNoMemory;
    // Transparent: unchanged pixels take an index no changed pixel uses,
    // kept when that codes smaller.
    if (!first && anyUnchanged) {
      Variant trial;
      if (!codeVariant(a, src, pitch, rgb, r, usedChanged, toGlobal, true, trial)) return kStillNoMemory;
      if (trial.ok && trial.bytes.size() < best.bytes.size()) std::swap(best, trial);
    }
    a->block.swap(best.bytes);
    if (!putControl(a, delay, best.transparent)) return kStillNoMemory;
    for (uint32_t y = 0; y < rh; ++y) {
      const uint8_t *s = src + (y0 + y) * pitch + x0;
      uint32_t *d = a->screen.data() + size_t{y0 + y} * w + x0;
      for (uint32_t x = 0; x < rw; ++x) d[x] = rgb[s[x]];
    }
  }
  a->pending.insert(a->pending.end(), a->block.begin(), a->block.end());
  if (!flushPending(a)) return kStillWriteFailed;
  ++a->frames;
  return kStillOk;
}

}  // namespace

GifAnimation *gifAnimCreate(const char *fileName, uint32_t width, uint32_t height, uint32_t plays) {
  if (!fileName || width == 0 || height == 0 || width > kGifMaxSide || height > kGifMaxSide) return nullptr;
  auto *a = new (std::nothrow) GifAnimation;
  if (!a) return nullptr;
  a->file = os::createAlways(fileName, os::Share::None);
  if (a->file == KAV_INVALID_OS_FILE) {
    delete a;
    return nullptr;
  }
  a->width = width;
  a->height = height;
  a->plays = plays;
  return a;
}

int gifAnimPut(GifAnimation *a, const uint8_t *pixels, size_t pitchBytes, const uint8_t *paletteRgb,
               uint16_t delayHundredths) {
  if (!a || !pixels || !paletteRgb || pitchBytes < a->width) return kStillBadImage;
  if (a->failed) return kStillWriteFailed;
  try {
    const int r = putFrame(a, pixels, pitchBytes, paletteRgb, delayHundredths);
    if (r == kStillNoMemory) abandon(a);  // the frame half built is dropped
    return r;
  } catch (const std::bad_alloc &) {
    abandon(a);
    return kStillNoMemory;
  }
}

uint32_t gifAnimFrames(const GifAnimation *a) { return a ? a->frames : 0; }
uint64_t gifAnimBytes(const GifAnimation *a) { return a ? a->goodEnd : 0; }

int gifAnimClose(GifAnimation *a, uint64_t *sizeBytes) {
  if (!a) return kStillBadImage;
  bool ok = !a->failed;
  if (ok) {
    try {
      // An animation closed before its first frame still gets a header, so
      // that the file is a GIF (one without pictures).
      if (!a->stream) {
        const uint8_t black[768] = {};
        ok = startStream(a, black, 1);
      }
      if (ok) {
        a->stream->UserData = &a->pending;
        int err = 0;
        ok = EGifCloseFile(a->stream, &err) != GIF_ERROR;
        a->stream = nullptr;
      }
      ok = ok && flushPending(a);
    } catch (const std::bad_alloc &) {
      ok = false;
    }
    if (!ok && !a->failed) abandon(a);
  }
  closeGif(a->stream, &a->discard);
  closeGif(a->coder, &a->discard);
  if (sizeBytes) *sizeBytes = a->failed ? (a->goodEnd ? a->goodEnd + 1 : 0) : a->goodEnd;
  if (a->file != KAV_INVALID_OS_FILE) {
    const int64_t size = os::size(a->file);
    if (sizeBytes && size >= 0) *sizeBytes = static_cast<uint64_t>(size);
    os::close(a->file);
  }
  delete a;
  return ok ? kStillOk : kStillWriteFailed;
}

}  // namespace kav::still
