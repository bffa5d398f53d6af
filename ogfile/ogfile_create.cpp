// Creating and closing a graphics output: the target chosen by extension and
// colour mode, the overwrite question, and the calls that hand each frame,
// sound block and the close to the target's own code.
#include <cctype>
#include <cstring>
#include <new>

#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "kavutil/questions.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

constexpr const char *kUnsupported = "Unsupported output file type or color depth.";

struct StillKind {
  const char *extension;
  uint32_t kind;
  bool paletteOnly;
};

constexpr StillKind kStillKinds[] = {
    {".BMP", OGFILE_BMP, false}, {".JPG", OGFILE_JPEG, false}, {".PNG", OGFILE_PNG, false},
    {".TGA", OGFILE_TGA, false}, {".TIF", OGFILE_TIFF, false}, {".PCX", OGFILE_PCX, true},
    {".GIF", OGFILE_GIF, true},
};

// The extension of the name, upper-cased (empty when it has none). An
// extension too long for `out` gives "." alone, which names no target: it
// must not pass for a name without extension (a Flic in 8-bit mode).
void upperExtension(const char *name, char *out, size_t capacity) {
  out[0] = '\0';
  const char *dot = HasExtension(name);
  if (!dot) return;
  const size_t n = std::strlen(dot);
  if (n >= capacity) {
    std::strcpy(out, ".");
    return;
  }
  for (size_t i = 0; i <= n; ++i) out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(dot[i])));
}

struct MovieKind {
  const char *extension;
  uint32_t kind;
};

constexpr MovieKind kMovieKinds[] = {
    {".MP4", OGFILE_MP4}, {".M4V", OGFILE_MP4}, {".WEBM", OGFILE_WEBM}, {".MKV", OGFILE_MATROSKA}};

uint32_t movieKind(const char *ext) {
  for (const MovieKind &k : kMovieKinds)
    if (std::strcmp(ext, k.extension) == 0) return k.kind;
  return 0;
}

}  // namespace

void report(Handle *h, const char *text, int32_t code) {
  if (h->pub.callback) h->pub.callback(text, code);
}

void writeFailed(Handle *h) {
  h->pub.errorFlag = 1;
  if (!h->errorReported) {
    h->errorReported = 1;
    report(h, "Error writing the output file.", 2);
  }
}

OGFile *createWith(const char *name, uint32_t frameCount, uint32_t rateNumerator, uint32_t rateDenominator,
                   uint32_t width, uint32_t height, uint32_t inputPitch, KAVStatusCallback callback, uint32_t options,
                   uint32_t colourMode, const Settings &settings) {
  if (!name || !rateNumerator || !rateDenominator || !width || !height) return nullptr;
  if (inputPitch == 0) inputPitch = width;
  if (inputPitch < width || std::strlen(name) >= KAV_NAME_MAX) return nullptr;
  auto *h = static_cast<Handle *>(kavmalloc(sizeof(Handle)));
  if (!h) return nullptr;
  std::memset(static_cast<void *>(h), 0, sizeof(Handle));
  new (&h->settings) Settings(settings);
  OGFile &o = h->pub;
  o.trueColour = (colourMode & 7) == 0 ? 1 : 0;
  o.width = width;
  o.height = height;
  o.frameCount = frameCount;
  o.rateNumerator = rateNumerator;
  o.rateDenominator = rateDenominator;
  o.inputPitch = inputPitch;
  o.callback = callback;
  o.bits = o.trueColour ? 24 : 8;
  o.image = &h->image;
  std::strcpy(o.name, name);

  char ext[KAV_NAME_MAX];  // holds any extension of a name that fits
  upperExtension(name, ext, sizeof ext);
  bool ok = false;
  bool chosen = false;
  if (!o.trueColour && (ext[0] == '\0' || std::strcmp(ext, ".FLC") == 0)) {
    o.kind = OGFILE_FLIC;
    chosen = true;
  } else if (std::strcmp(ext, ".AVI") == 0) {
    o.kind = OGFILE_AVI;
    chosen = true;
  } else if (const uint32_t movie = movieKind(ext)) {
    o.kind = movie;
    o.bits = 24;
    chosen = true;
  } else {
    for (const StillKind &k : kStillKinds) {
      if (std::strcmp(ext, k.extension) != 0) continue;
      if (k.paletteOnly && o.trueColour) break;
      o.kind = k.kind;
      if (k.kind == OGFILE_TGA) o.bits = 24;
      chosen = true;
      break;
    }
  }
  if (chosen && o.kind == OGFILE_GIF && (options & OGFILE_GIF_ANIMATION)) {
    h->gifAnimation = 1;
    h->gifPlays = OGFILE_GIF_PLAYS_OF(options);
  }
  const bool numbered = o.kind != OGFILE_FLIC && o.kind != OGFILE_AVI && !isMovieKind(o.kind) && !h->gifAnimation;
  if (!chosen) {
    if (!(options & OGFILE_ASK_WITH_DIALOG)) report(h, kUnsupported, 2);
  } else {
    // The target builds the name that will be written first (the Flic's
    // added extension, the first numbered still image), which is the one
    // the user is asked about.
    bool named = true;
    if (o.kind == OGFILE_FLIC && !HasExtension(o.name)) {
      if (std::strlen(o.name) + 4 >= KAV_NAME_MAX) named = false;
      else std::strcat(o.name, ".flc");
    }
    char first[KAV_NAME_MAX];
    std::strcpy(first, o.name);
    if (named && numbered) named = createStill(h) && h->fileName[0];
    if (named && numbered) std::strcpy(first, h->fileName);
    if (!named) {
      if (o.kind == OGFILE_FLIC) report(h, "Error creating the output flic.", 2);
      else if (o.kind == OGFILE_AVI) report(h, "Error creating the output AVI file.", 2);
    } else if (!(options & OGFILE_OVERWRITE) && !overwrite(first, (options & OGFILE_ASK_WITH_DIALOG) ? 1 : 0)) {
      report(h, nullptr, 3);
    } else if (o.kind == OGFILE_FLIC) {
      ok = createFlic(h);
    } else if (o.kind == OGFILE_AVI) {
      ok = createAvi(h);
    } else if (isMovieKind(o.kind)) {
      ok = createMovie(h);
    } else if (h->gifAnimation) {
      ok = createGif(h);
    } else {
      ok = true;  // the image is ready; files are made frame by frame
    }
  }
  if (ok) return &o;
  switch (o.kind) {
    case OGFILE_FLIC: closeFlic(h); break;
    case OGFILE_AVI: closeAvi(h); break;
    case OGFILE_MP4:
    case OGFILE_WEBM:
    case OGFILE_MATROSKA: closeMovie(h); break;
    default: h->gifAnimation ? closeGif(h) : closeStill(h); break;
  }
  h->settings.~Settings();
  std::memset(static_cast<void *>(h), 0, sizeof(Handle));
  kavfree(h);
  return nullptr;
}

}  // namespace kav::og

using namespace kav::og;

extern "C" {

KAV_EXPORT OGFile *KAVAPI OGFileCreateCompressed(KavWindow, const char *name, uint32_t frameCount,
                                                 uint32_t rateNumerator, uint32_t rateDenominator, uint32_t width,
                                                 uint32_t height, uint32_t inputPitch, KAVStatusCallback callback,
                                                 uint32_t options, uint32_t colourMode,
                                                 const OGFileCompressor *compressor) {
  try {
    Settings s;
    if (compressor) s.compressor = *compressor;
    return createWith(name, frameCount, rateNumerator, rateDenominator, width, height, inputPitch, callback, options,
                      colourMode, s);
  } catch (...) {
    return nullptr;
  }
}

KAV_EXPORT OGFile *KAVAPI OGFileCreate(KavWindow window, const char *name, uint32_t frameCount,
                                       uint32_t rateNumerator, uint32_t rateDenominator, uint32_t width,
                                       uint32_t height, uint32_t inputPitch, KAVStatusCallback callback,
                                       uint32_t options, uint32_t colourMode) {
  return OGFileCreateCompressed(window, name, frameCount, rateNumerator, rateDenominator, width, height, inputPitch,
                                callback, options, colourMode, nullptr);
}

KAV_EXPORT void KAVAPI OGFilePut(OGFile *o, const void *pixels, const uint8_t *palette) {
  if (!o || !pixels) return;
  Handle *h = full(o);
  try {
    if (palette) {
      std::memcpy(h->lastPalette, palette, sizeof h->lastPalette);
      h->havePalette = 1;
    }
    switch (o->kind) {
      case OGFILE_FLIC: putFlic(h, pixels, palette); break;
      case OGFILE_AVI: putAvi(h, pixels, palette); break;
      case OGFILE_MP4:
      case OGFILE_WEBM:
      case OGFILE_MATROSKA: putMovie(h, pixels, palette); break;
      default: h->gifAnimation ? putGif(h, pixels, palette) : putStill(h, pixels, palette); break;
    }
  } catch (...) {
    writeFailed(h);
  }
}

KAV_EXPORT uint32_t KAVAPI OGFileClose(OGFile *o) {
  if (!o) return 0;
  Handle *h = full(o);
  uint32_t size = 0;
  try {
    switch (o->kind) {
      case OGFILE_FLIC: size = closeFlic(h); break;
      case OGFILE_AVI: size = closeAvi(h); break;
      case OGFILE_MP4:
      case OGFILE_WEBM:
      case OGFILE_MATROSKA: size = closeMovie(h); break;
      default: size = h->gifAnimation ? closeGif(h) : closeStill(h); break;
    }
  } catch (...) {
  }
  h->settings.~Settings();
  std::memset(static_cast<void *>(h), 0, sizeof(Handle));
  kavfree(h);
  return size;
}

}  // extern "C"
