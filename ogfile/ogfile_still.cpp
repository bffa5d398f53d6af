// The still-image targets: one image file per frame, named from a pattern
// with a number sized by the frame count. Each image is written under a
// temporary name in the same folder and renamed into place, so a file of the
// sequence is either complete or absent (an older file of that name stays as
// it was).
#include <cstdio>
#include <cstring>
#include <string>

#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

still::Format formatOf(uint32_t kind) {
  switch (kind) {
    case OGFILE_JPEG: return still::Format::Jpeg;
    case OGFILE_TGA: return still::Format::Tga;
    case OGFILE_TIFF: return still::Format::Tiff;
    case OGFILE_PCX: return still::Format::Pcx;
    case OGFILE_GIF: return still::Format::Gif;
    case OGFILE_PNG: return still::Format::Png;
    default: return still::Format::Bmp;
  }
}

const char *numberFormat(uint32_t frameCount) {
  if (frameCount >= 10000) return "%05i";
  if (frameCount >= 1000) return "%04i";
  if (frameCount >= 100) return "%03i";
  if (frameCount >= 10) return "%02i";
  if (frameCount >= 2) return "%01i";
  return "";
}

// A piece of a file name as printf text: a '%' in the name stays a '%'.
std::string escaped(const std::string &s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// The name of image `number` from the pattern; false when it would not fit.
bool numberedName(const char *pattern, uint32_t number, char *out) {
  const int n = std::snprintf(out, KAV_NAME_MAX, pattern, static_cast<int>(number));
  return n >= 0 && n < KAV_NAME_MAX;
}

bool exists(const char *name) {
  KAVFile *f = KAVFileOpen(0, name, KAV_FILE_READ);
  if (!f) return false;
  KAVFileClose(f);
  return true;
}

// The name without its folder.
std::string baseName(const char *name) {
  const char *s = name;
  for (const char *p = name; *p; ++p)
    if (*p == '/' || *p == '\\') s = p + 1;
  return s;
}

}  // namespace

bool createStill(Handle *h) {
  OGFile &o = h->pub;
  // Pictures of any size the format holds are written; the limit of 4096
  // pixels a side is the still-image input's, not ours.
  const still::Format format = formatOf(o.kind);
  const auto most = static_cast<uint32_t>(still::stillMaxSaveSide(format));
  if (o.width > most || o.height > most) {
    char text[128];
    std::snprintf(text, sizeof text, "The picture is too large for a %s file: at most %u pixels a side.",
                  still::stillFormat(format).name, most);
    report(h, text, 2);
    return false;
  }
  const int allocated = still::stillAllocate(&h->image, static_cast<int32_t>(o.width), static_cast<int32_t>(o.height),
                                             static_cast<int32_t>(o.bits));
  if (allocated == still::kStillTooLarge) {
    report(h, "The picture is too large: an image in memory holds at most 4 GB.", 2);
    return false;
  }
  if (allocated != still::kStillOk) {
    report(h, "Out of memory.", 2);
    return false;
  }
  h->image.colours = o.bits == 8 ? 256 : 0;
  o.imagePitch = -h->image.pitchBytes;
  o.imageFirstRow = h->image.buffer + size_t(o.height - 1) * static_cast<uint32_t>(h->image.pitchBytes);
  const std::string name = o.name;
  const char *dot = HasExtension(name.c_str());
  const size_t stem = dot ? static_cast<size_t>(dot - name.c_str()) : name.size();
  const std::string pattern =
      escaped(name.substr(0, stem)) + numberFormat(o.frameCount) + escaped(name.substr(stem));
  if (pattern.size() >= KAV_NAME_MAX || !numberedName(pattern.c_str(), 0, h->fileName)) {
    h->fileName[0] = '\0';
    return true;  // the caller reports the unusable name
  }
  std::strcpy(o.name, pattern.c_str());
  return true;
}

void putStill(Handle *h, const void *pixels, const uint8_t *palette) {
  OGFile &o = h->pub;
  if (!h->image.buffer) return;
  char target[KAV_NAME_MAX];
  if (!numberedName(o.name, o.frameNumber, target)) {
    ++o.frameNumber;
    writeFailed(h);
    return;
  }
  ++o.frameNumber;
  copyFrame(h, pixels, palette, o.imageFirstRow, o.imagePitch);
  if (o.bits == 8 && (palette || h->havePalette))
    paletteToTable(palette ? palette : h->lastPalette, &h->image.palette[0][0]);

  // The temporary file sits beside the target so that the rename stays
  // within one file system.
  char temp[KAV_NAME_MAX];
  std::strcpy(temp, target);
  GetFilePieces(temp, 1, 1, 0, 0);
  const size_t folder = std::strlen(temp);
  if (folder + 13 > KAV_NAME_MAX) {
    writeFailed(h);
    return;
  }
  std::string folderName(temp, folder);
  uint32_t tries = 0;
  do {
    GetTempName(temp, folderName.c_str(), "KVO", tries << 12);  // the prefix hides the low digits
  } while (exists(temp) && ++tries < 256);
  if (tries == 256) {
    writeFailed(h);
    return;
  }
  const still::FormatEntry &format = still::stillFormat(formatOf(o.kind));
  const int saved = format.save(temp, &h->image, format.saveOption);
  if (saved != still::kStillOk) {
    KAVFileErase(temp);
    if (saved == still::kStillTooLarge && !h->errorReported) {
      h->errorReported = 1;  // the reason, rather than a write error
      report(h, "The picture is too large: its file would pass 4 GB.", 2);
    }
    writeFailed(h);
    return;
  }
  if (KAVFileRename(target, temp) != 0) {
    KAVFileErase(temp);
    writeFailed(h);
    return;
  }
  o.bytesWritten += kavfilesize(target);
  const std::string latest = baseName(target);
  if (!o.firstName[0]) {
    if (latest.size() >= KAV_NAME_MAX) return;
    std::strcpy(o.firstName, latest.c_str());
    std::strcpy(o.description, latest.c_str());
    return;
  }
  const std::string both = std::string(o.firstName) + " to " + latest;
  if (both.size() < KAV_NAME_MAX) std::strcpy(o.description, both.c_str());
}

uint32_t closeStill(Handle *h) {
  still::stillRelease(&h->image);
  return h->pub.bytesWritten;
}

}  // namespace kav::og
