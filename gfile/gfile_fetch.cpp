// Stepping the source at the output rate and reading one source frame of
// each kind into the handle's frame base, pitch, bits and source palette.
#include <cstring>
#include <vector>

#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"
#include "platform/avi/avi_file.h"

namespace kav::gfile {

namespace {

namespace avi = kav::avi;
namespace still = kav::still;

bool ensureKindFrame(GFile *g, uint32_t bytes) {
  GFileInternal &s = state(g);
  if (s.kindFrame && s.kindFrameBytes >= bytes) return true;
  kavfree(s.kindFrame);
  s.kindFrame = static_cast<uint8_t *>(kavmalloc(bytes));
  s.kindFrameBytes = s.kindFrame ? bytes : 0;
  if (s.kindFrame) std::memset(s.kindFrame, 0, bytes);
  return s.kindFrame != nullptr;
}

// Blue, green, red, reserved entries into the source palette.
void paletteFromQuads(GFile *g, const uint8_t *quads, uint32_t entries) {
  std::memset(g->sourcePalette, 0, sizeof g->sourcePalette);
  if (entries > 256) entries = 256;
  for (uint32_t i = 0; i < entries; ++i) {
    g->sourcePalette[i * 3] = quads[i * 4 + 2];
    g->sourcePalette[i * 3 + 1] = quads[i * 4 + 1];
    g->sourcePalette[i * 3 + 2] = quads[i * 4];
  }
}

// The frames before the first one of the range, reported as they pass;
// a step that returns false ends the skipping (the source has ended).
template <typename Step>
void skipFrames(GFile *g, Step step) {
  GFileInternal &s = state(g);
  if (s.skipDone) return;
  s.skipDone = true;
  for (uint32_t i = 0; i < s.firstIndex; ++i) {
    const uint64_t n = 1 + uint64_t{i} * g->inputRateDenominator * g->outputRateNumerator /
                               (uint64_t{g->inputRateNumerator} * g->outputRateDenominator);
    report(g, i == 0 ? 1 : 0, "Skipping frame %li...", static_cast<long>(n));
    if (!step()) return;
  }
}

// Frame sources that stop delivering end the range with the frames they had.
void endRange(GFile *g) {
  g->endFlag = 1;
  g->frameCount = g->framesRead;
  g->outputFrameCount = g->outputFrameIndex + 1;
}

bool readFlic(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  KAVFlic *f = s.flic;
  if (!ensureKindFrame(g, f->pitch * f->paddedHeight)) return false;
  if (!s.skipDone) *changed = true;
  skipFrames(g, [&] {
    KAVFlicGetNext(f, s.kindFrame);
    return true;
  });
  const uint8_t r = KAVFlicGetNext(f, s.kindFrame);
  if (r == 0) return false;
  if (r == 2) *changed = true;
  if (*changed) std::memcpy(g->sourcePalette, f->palette, 768);
  g->frameBase = s.kindFrame;
  s.sourcePitch = f->pitch;
  g->frameBits = 8;
  g->frameDataSize = f->frameDataSize;
  return true;
}

bool readZanther(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  ZanthHandle *z = s.zanther;
  const uint32_t bytes = z->Width * z->Height;
  if (!s.kindFrame || s.kindFrameBytes < bytes) {
    if (!ensureKindFrame(g, bytes)) return false;
    ZanthSetTarget(z, 0, 0, static_cast<int32_t>(z->Width), z->Height, s.kindFrame, 0);
  }
  if (!s.skipDone) *changed = true;
  skipFrames(g, [&] {
    ZanthDecodeFrame(z);
    ZanthAdvance(z);
    return true;
  });
  if (z->ReadError) return false;
  ZanthDecodeFrame(z);
  if (z->ReadError) return false;
  if (z->PaletteChanged) *changed = true;
  if (*changed) std::memcpy(g->sourcePalette, z->Palette, 768);
  g->frameDataSize = z->CurrentFrameSize;
  ZanthAdvance(z);
  g->frameBase = s.kindFrame;
  s.sourcePitch = static_cast<ptrdiff_t>(z->Width);
  g->frameBits = 8;
  return true;
}

bool readVorn(GFile *g) {
  GFileInternal &s = state(g);
  VornHandle *v = s.vorn;
  if (!ensureKindFrame(g, s.kindPitch * v->height)) return false;
  skipFrames(g, [&] {
    VornDecodeFrame(v);
    VornNextFrame(v);
    return true;
  });
  VornDecodeFrame(v);
  // On the direct path (the canvas is the picture unchanged) the converter
  // writes into the canvas; format 3 clears the fourth byte as the row copy
  // would.
  uint8_t *target = s.directCanvas ? g->canvas : s.kindFrame;
  const uint32_t format = s.directCanvas && !g->preferQuickTime ? 3u : 5u;
  VornCopyToBuffer(v, target, static_cast<int32_t>(s.kindPitch), v->height, 0, 0,
                   format | (s.firstVornFrame ? 0x80000000u : 0));
  s.firstVornFrame = false;
  VornNextFrame(v);
  g->frameBase = target;
  s.sourcePitch = s.kindPitch;
  g->frameBits = 32;
  return true;
}

// One frame of tags: palettes, then the pixels or any other tag that ends
// the frame.
bool readRawFrame(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  for (;;) {
    uint8_t tag[4];
    if (KAVFileGet(s.raw, tag, 4) != 4) return false;
    const uint32_t t = tag[0] | tag[1] << 8 | tag[2] << 16 | static_cast<uint32_t>(tag[3]) << 24;
    if (t == 0) {
      if (KAVFileGet(s.raw, g->sourcePalette, 768) != 768) return false;
      *changed = true;
      continue;
    }
    if (t == 1) {
      // The block holds width x height bytes; each row goes to its padded
      // place so that odd widths keep their rows apart. A short block leaves
      // the previous picture as it was.
      std::vector<uint8_t> block(size_t{s.rawWidth} * s.rawHeight);
      if (KAVFileGet(s.raw, block.data(), static_cast<uint32_t>(block.size())) != block.size()) return false;
      for (uint32_t y = 0; y < s.rawHeight; ++y)
        std::memcpy(s.kindFrame + size_t{y} * s.kindPitch, block.data() + size_t{y} * s.rawWidth, s.rawWidth);
    }
    return true;
  }
}

bool readRaw(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  if (!ensureKindFrame(g, s.kindPitch * s.rawHeight)) return false;
  // The frames before the range are read too: a palette they carry holds
  // for the frames that follow.
  bool ok = true;
  skipFrames(g, [&] { return ok = readRawFrame(g, changed); });
  if (!ok || !readRawFrame(g, changed)) return false;
  g->frameBase = s.kindFrame;
  s.sourcePitch = s.kindPitch;
  g->frameBits = 8;
  g->frameDataSize = s.rawWidth * s.rawHeight;
  return true;
}

bool readAvi(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  const int32_t p = static_cast<int32_t>(s.aviStart + s.firstIndex + g->framesRead);
  int32_t bytes = 0, samples = 0;
  if (avi::streamRead(s.aviStream, p, 1, nullptr, 0, &bytes, &samples) == 0)
    g->frameDataSize = static_cast<uint32_t>(bytes) + s.aviSoundBytesPerFrame;
  const avi::BitmapInfoHeader *b = avi::streamGetFrame(s.aviFrames, p);
  if (!b) return false;
  const uint32_t w = static_cast<uint32_t>(b->biWidth);
  const uint32_t h = static_cast<uint32_t>(b->biHeight < 0 ? -int64_t{b->biHeight} : b->biHeight);
  if (w != g->sourceWidth || h != g->sourceHeight) return false;
  const uint32_t bits = b->biBitCount;
  const uint8_t *table = reinterpret_cast<const uint8_t *>(b) + b->biSize;
  const uint8_t *pixels = table + size_t{b->biClrUsed} * 4;
  if (bits <= 8) {
    paletteFromQuads(g, table, b->biClrUsed);
    *changed = true;
  }
  // Rows are whole 32-bit words; bottom-up unless the height is negative.
  const ptrdiff_t row = static_cast<ptrdiff_t>(avi::dibRowBytes(w, bits));
  if (b->biHeight > 0) {
    g->frameBase = const_cast<uint8_t *>(pixels) + row * (h - 1);
    s.sourcePitch = -row;
  } else {
    g->frameBase = const_cast<uint8_t *>(pixels);
    s.sourcePitch = row;
  }
  g->frameBits = bits;
  return true;
}

bool readQuickTime(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  QTFile *q = s.quickTime;
  if (!s.skipDone) {
    s.skipDone = true;
    QTFileGoto(q, s.firstIndex);
  }
  QTFileGet(q);
  if (!q->pixels) return false;
  g->frameBase = q->pixels;
  s.sourcePitch = q->rowBytes;
  g->frameBits = q->bits;
  g->frameDataSize = q->dataSize;
  if (q->bits <= 8) {
    paletteFromQuads(g, q->palette, 256);
    *changed = true;
  }
  return true;
}

bool readStill(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  const still::FormatEntry &f = still::stillFormat(static_cast<still::Format>(s.stillFormat));
  still::stillRelease(&s.still);
  const int32_t w = static_cast<int32_t>(g->sourceWidth), h = static_cast<int32_t>(g->sourceHeight);
  if (f.allocate(&s.still, w + 1, h, static_cast<int32_t>(g->sourceBits)) != still::kStillOk) {
    report(g, 2, "Out of memory");
    return false;
  }
  if (f.load(g->name, &s.still) != still::kStillOk || s.still.width < w + 1 || s.still.height < h) {
    still::stillRelease(&s.still);
    return false;
  }
  g->frameBase = s.still.buffer + static_cast<ptrdiff_t>(s.still.pitchBytes) * (s.still.height - 1);
  s.sourcePitch = -static_cast<ptrdiff_t>(s.still.pitchBytes);
  g->frameBits = static_cast<uint32_t>(s.still.bitsPerPixel);
  if (g->frameBits <= 8) {
    paletteFromQuads(g, &s.still.palette[0][0], 256);
    *changed = true;
  }
  g->frameDataSize = g->fileSize;
  return true;
}

bool readSoundOnly(GFile *g, bool *changed) {
  GFileInternal &s = state(g);
  if (!ensureKindFrame(g, 16)) return false;
  if (!s.skipDone) *changed = true;
  s.skipDone = true;
  g->frameBase = s.kindFrame;
  s.sourcePitch = 4;
  g->frameBits = 8;
  return true;
}

// The next entry, opened with the list's flags, halving and deinterlacing
// and unplaced; null at the list's end. A missing entry has been reported
// by its open and ends the list.
GFile *openNextEntry(GFile *g) {
  GFileInternal &s = state(g);
  const kav::ListEntry e = s.list->next();
  if (e.name.empty()) return nullptr;
  const uint32_t passed = GFILE_HALVE_WIDTH | GFILE_HALVE_HEIGHT | GFILE_DEINTERLACE_EVEN | GFILE_DEINTERLACE_ODD |
                          GFILE_DEINTERLACE_BLEND;
  return openHandle(e.name.c_str(), g->flags | (s.openFlags & passed), s.inputArgNumerator, s.inputArgDenominator,
                    s.outputArgNumerator, s.outputArgDenominator, g->requestedWidth, g->requestedHeight, 0, 0, 0, 0,
                    static_cast<uint32_t>(e.firstFrame), static_cast<uint32_t>(e.lastFrame), 0x10000, 0, 256, 0, 0,
                    2, nullptr, "", s.status);
}

// An entry is used up once it delivered all its output frames, the
// repeats of its last source frame at a faster output rate included.
bool entryDone(const GFile *c) { return c->outputFrameIndex >= c->outputFrameCount; }

// The blank part of the canvas is cleared when the shown area moves, so a
// smaller entry does not keep the pixels of the one before around it.
void clearCanvasIfMoved(GFile *g, const GFilePlacement &before) {
  if (!g->canvas || std::memcmp(&before, &g->placement, sizeof before) == 0) return;
  std::memset(g->canvas, 0, size_t{g->canvasPitch} * ((g->canvasHeight + 3) & ~3u));
}

// The list's frames before the first one of its range: whole entries are
// passed over by their counts, the rest of the last one frame by frame.
bool skipListFrames(GFile *g, const PictureSettings &look) {
  GFileInternal &s = state(g);
  if (s.skipDone) return true;
  s.skipDone = true;
  uint32_t skip = s.firstIndex;
  while (skip) {
    if (s.child) closeHandle(s.child);
    s.child = openNextEntry(g);
    if (!s.child) return false;
    if (s.child->outputFrameCount <= skip) {
      skip -= s.child->outputFrameCount;
      closeHandle(s.child);
      s.child = nullptr;
      continue;
    }
    bool ignored = false;
    for (; skip; --skip) fetchFrame(s.child, look, &ignored);
  }
  return true;
}

// Fetches the entry's next frame, moving on to the next entry once the
// shown one is used up. The entry shown so far stays open until the next
// one has a picture: the list's frame lies in its buffers, and it is shown
// again when the list ends early (an entry that no longer opens, or
// delivers fewer frames than it promised).
bool fetchEntryFrame(GFile *g, const PictureSettings &look, bool *changed) {
  GFileInternal &s = state(g);
  GFile *previous = nullptr;
  if (!s.child || entryDone(s.child)) {
    GFile *next = openNextEntry(g);
    if (!next) return false;
    previous = s.child;
    s.child = next;
    *changed = true;
  }
  bool entryChanged = false;
  if (!fetchFrame(s.child, look, &entryChanged)) {
    if (previous) {
      closeHandle(s.child);
      s.child = previous;
    }
    return false;
  }
  if (previous) closeHandle(previous);
  if (entryChanged) *changed = true;
  return true;
}

// Entries are opened unplaced (no canvas of their own, at 0, 0), so an
// entry's filtered frame is its whole picture at its own scaled size, and
// its filters have already run. The list places that picture on its canvas
// as it would place a source of that size: it takes the entry's scaled
// size and places it here, and its own filter step (which does not filter
// again) picks the part the placement shows, as for any source.
void placeEntryFrame(GFile *g, GFile *entry, bool *changed) {
  GFileInternal &s = state(g);
  const GFileInternal &es = state(entry);
  g->scaledWidth = entry->scaledWidth;
  g->scaledHeight = entry->scaledHeight;
  const GFilePlacement before = g->placement;
  computePlacement(g);
  clearCanvasIfMoved(g, before);
  g->frameBase = es.filtered;
  s.sourcePitch = es.filteredPitch;
  g->frameBits = entry->frameBits;
  g->frameDataSize = entry->frameDataSize;
  if (std::memcmp(g->sourcePalette, entry->sourcePalette, 768) != 0) {
    *changed = true;
    std::memcpy(g->sourcePalette, entry->sourcePalette, 768);
  }
}

bool readList(GFile *g, const PictureSettings &look, bool *changed) {
  if (!skipListFrames(g, look)) return false;
  if (!fetchEntryFrame(g, look, changed)) return false;
  placeEntryFrame(g, state(g).child, changed);
  return true;
}

bool readOne(GFile *g, const PictureSettings &look, bool *changed) {
  bool ok = false;
  switch (g->kind) {
    case GFILE_KIND_FLIC: ok = readFlic(g, changed); break;
    case GFILE_KIND_ZANTHER: ok = readZanther(g, changed); break;
    case GFILE_KIND_VORN: ok = readVorn(g); break;
    case GFILE_KIND_RAW: ok = readRaw(g, changed); break;
    case GFILE_KIND_AVI: ok = readAvi(g, changed); break;
    case GFILE_KIND_QUICKTIME: ok = readQuickTime(g, changed); break;
    case GFILE_KIND_GSTREAMER: ok = readGStreamer(g); break;
    case GFILE_KIND_GIF_ANIMATION: ok = readGifAnimation(g); break;
    case GFILE_KIND_LIST: ok = readList(g, look, changed); break;
    case GFILE_KIND_SOUND_ONLY: ok = readSoundOnly(g, changed); break;
    default: ok = g->kind < GFILE_KIND_AVI && readStill(g, changed); break;
  }
  if (!ok) return false;
  ++g->framesRead;
  if (g->framesRead >= g->frameCount) g->endFlag = 1;
  return true;
}

}  // namespace

uint64_t outputFrameNumber(const GFile *g, uint64_t sourceFrames) {
  return sourceFrames * g->outputRateNumerator * g->inputRateDenominator /
         (uint64_t{g->inputRateNumerator} * g->outputRateDenominator);
}

namespace {

// Reads the source frames up to the one shown at the current output frame
// (none when the output repeats the last one); *readAny tells whether a
// frame was read. False when not even the first frame could be read.
bool readToOutputFrame(GFile *g, const PictureSettings &look, bool *changed, bool *readAny) {
  auto readStep = [&] {
    if (readOne(g, look, changed)) {
      *readAny = true;
      return true;
    }
    if (g->framesRead == 0 && !g->frameBase) return false;
    endRange(g);
    return false;
  };
  if (g->framesRead == 0 && g->outputFrameIndex == 0) return readStep() || g->frameBase;
  const uint64_t k = g->outputFrameIndex;
  const uint64_t limit = k * g->inputRateNumerator * g->outputRateDenominator /
                             (uint64_t{g->inputRateDenominator} * g->outputRateNumerator) +
                         1;
  while (!g->endFlag && g->framesRead < g->frameCount && g->framesRead < limit)
    if (!readStep()) break;
  return true;
}

void advanceOutputFrame(GFile *g) {
  if (g->outputFrameIndex < 0xFFFFFFFFu) ++g->outputFrameIndex;
  if (g->outputFrameIndex >= g->outputFrameCount) g->endFlag = 1;
}

}  // namespace

bool fetchFrame(GFile *g, const PictureSettings &look, bool *paletteChanged) {
  bool changed = false, readAny = false;
  if (!readToOutputFrame(g, look, &changed, &readAny)) {
    *paletteChanged = false;
    return false;
  }
  advanceOutputFrame(g);
  *paletteChanged = changed;
  // A repeated frame keeps what the filters made of it.
  if (readAny || !state(g).visible) runFilters(g, look);
  return true;
}

}  // namespace kav::gfile
