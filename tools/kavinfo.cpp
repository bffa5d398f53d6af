// kavinfo: describes the sources the graphics and sound inputs open (kind,
// size, frames, rates, colour depth, sound format and length), as text or as
// one JSON object per file. Without file names it says which kavutil this
// is and proves the buffered bit file on this machine with a round trip.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

#include <kavutil/kavutil.h>

#include "tools/argv_split.h"
#include "tools/open_failure.h"

namespace {

const char kUsage[] =
    "usage: kavinfo [--json] FILE...\n"
    "\n"
    "Describes each FILE the graphics or sound input opens: kind, size in bytes,\n"
    "picture size, colour depth, frames, frame rate, duration and sound format.\n"
    "Without FILE, prints the library version, the families built and a check\n"
    "of the buffered bit file.\n"
    "\n"
    "  --json      one JSON object per file, one per line\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Exit status: 0 when every file was described, 1 when one could not be\n"
    "opened, 2 for a wrong command line.\n";

const char *const kFamilies[] = {
    "memory, strings, switches and rationals",
    "file names, elapsed time and timer",
    "buffered bit file (KAVFile)",
    "status window, threaded dialog and file questions",
    "list files, numbered sequences, movies inside .EXE files",
    "colour reduction, resampling and smooth-area dither",
    "Flic reader and writer",
    "Vorn frames, YUV to RGB, Vorn container and sound tracks",
    "Zanther reader and Huffman encoder",
    "transform audio coder",
    "still images: BMP, PCX, TGA, PNG, JPEG, TIFF, GIF",
    "AVI reader and writer, QuickTime reader",
    "graphics input and output, sound input and compressed sound",
#if KAV_WITH_GSTREAMER
    "compressed movies and sound through GStreamer (MP4, Matroska, WebM, Ogg, MP3, FLAC)",
#endif
};

int selfDescription() {
  std::printf("kavutil %s\n", KAVUTIL_VERSION_STRING);
  std::printf("families built:\n");
  for (const char *f : kFamilies) std::printf("  %s\n", f);

  char name[KAV_NAME_MAX];
  const char *tmp = std::getenv("TMPDIR");
  std::snprintf(name, sizeof name, "%s/kavinfo-%ld.bin", tmp && *tmp ? tmp : "/tmp", static_cast<long>(getpid()));
  KAVFile *f = KAVFileCreate(4096, name);
  if (!f) {
    std::fprintf(stderr, "kavinfo: cannot create %s\n", name);
    return 1;
  }
  const uint32_t t0 = KAVTimerRead();
  for (uint32_t i = 0; i < 100000; ++i) KAVFilePutBits(f, i & 0x3FF, 10);
  KAVFileClose(f);
  f = KAVFileOpen(4096, name, KAV_FILE_READ);
  bool ok = f != nullptr;
  for (uint32_t i = 0; ok && i < 100000; ++i) ok = KAVFileGetBits(f, 10) == static_cast<int32_t>(i & 0x3FF);
  const uint32_t size = KAVFileSize(f);
  KAVFileClose(f);
  KAVFileErase(name);
  char elapsed[64], bytes[16];
  GetElapsedTime(elapsed, KAVTimerRead() - t0);
  CommaNum(bytes, size);
  std::printf("bit file round trip: 100,000 fields of 10 bits, %s bytes, %s: %s\n", bytes, elapsed,
              ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

std::string lastError;

uint32_t KAVAPI onStatus(const char *text, int32_t code) {
  // The first error says why; the ones after it only that the open failed.
  if (code == 2 && text && lastError.empty()) lastError = text;
  return 0;
}

std::string jsonString(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char *kindFallback(uint32_t kind) {
  switch (kind) {
    case GFILE_KIND_BMP: return "BMP";
    case GFILE_KIND_GIF: return "GIF";
    case GFILE_KIND_TIF: return "TIFF";
    case GFILE_KIND_JPEG: return "JPEG";
    case GFILE_KIND_TGA: return "TGA";
    case GFILE_KIND_PNG: return "PNG";
    case GFILE_KIND_PCX: return "PCX";
    case GFILE_KIND_AVI: return "AVI";
    case GFILE_KIND_QUICKTIME: return "QuickTime";
    case GFILE_KIND_GSTREAMER: return "GStreamer";
    case GFILE_KIND_GIF_ANIMATION: return "GIF animation";
    case GFILE_KIND_FLIC: return "Flic";
    case GFILE_KIND_ZANTHER: return "Zanther";
    case GFILE_KIND_RAW: return "Raw";
    case GFILE_KIND_VORN: return "Vorn";
    case GFILE_KIND_LIST: return "List";
    case GFILE_KIND_SOUND_ONLY: return "Sound";
    default: return "unknown";
  }
}

struct Description {
  std::string file, kind;
  uint64_t bytes = 0;
  uint32_t kindCode = 0, width = 0, height = 0, depth = 0, frames = 0;
  uint32_t rateNum = 0, rateDen = 0;
  bool hasPictures = false, hasSound = false;
  uint32_t soundRate = 0, soundBits = 0, soundChannels = 0, soundBytes = 0;
  std::string soundKind;
  std::string pictureError;  // why a movie's pictures could not be read while its sound could
};

// The library's file sizes are 32-bit and stop at 4 GiB - 1; a larger file
// (an OpenDML AVI) is measured here, so that its real size is shown.
uint64_t fileBytes(uint32_t reported, const char *name) {
  if (reported != 0xFFFFFFFFu) return reported;
  std::error_code ec;
  const uintmax_t n = std::filesystem::file_size(name, ec);
  return ec ? reported : n;
}

std::string withCommas(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

bool describe(const std::string &name, Description &d) {
  d.file = name;
  lastError.clear();
  GFile *g = GFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10000, 0, 256, 0, 0, 0, "", "Reading",
                       onStatus);
  if (g) {
    d.hasPictures = g->kind != GFILE_KIND_SOUND_ONLY;
    d.kindCode = g->kind;
    d.kind = g->kindName[0] ? g->kindName : kindFallback(g->kind);
    d.bytes = fileBytes(g->fileSize ? g->fileSize : kavfilesize(g->name), g->name);
    d.width = g->sourceWidth;
    d.height = g->sourceHeight;
    d.depth = g->sourceBits;
    d.frames = g->frameCount;
    d.rateNum = g->nativeRateNumerator;
    d.rateDen = g->nativeRateDenominator;
    d.hasSound = g->hasSound != 0;
    GFileClose(g);
  }
  SFile *s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  if (s) {
    d.hasSound = true;
    d.soundKind = s->kindName;
    d.soundRate = s->srcRate;
    d.soundBits = s->srcBits;
    d.soundChannels = s->srcChannels;
    d.soundBytes = s->length;
    if (!g) {
      d.kind = s->kindName[0] ? s->kindName : "Sound";
      d.bytes = fileBytes(kavfilesize(s->name), s->name);
      if (lastError.rfind("Error opening", 0) != 0) d.pictureError = lastError;
    }
    SFileClose(s);
  } else if (g) {
    // A sound-only source whose sound the sound input refuses holds nothing
    // that can be read: it did not open, and the caller says why.
    if (d.kindCode == GFILE_KIND_SOUND_ONLY) return false;
    d.hasSound = false;
  }
  return g || s;
}

double soundSeconds(const Description &d) {
  const uint32_t frameBytes = d.soundBits / 8 * d.soundChannels;
  if (!d.soundRate || !frameBytes) return 0;
  return static_cast<double>(d.soundBytes) / frameBytes / d.soundRate;
}

void printText(const Description &d) {
  std::printf("%s: %s, %s bytes\n", d.file.c_str(), d.kind.c_str(), withCommas(d.bytes).c_str());
  if (d.hasPictures) {
    const double fps = d.rateDen ? static_cast<double>(d.rateNum) / d.rateDen : 0;
    std::printf("  pictures: %u x %u, %u-bit, %u frame%s at %u/%u (%.3f) frames per second", d.width, d.height,
                d.depth, d.frames, d.frames == 1 ? "" : "s", d.rateNum, d.rateDen, fps);
    if (fps > 0) std::printf(", %.2f s", d.frames / fps);
    std::printf("\n");
  }
  if (!d.pictureError.empty()) std::printf("  pictures: %s\n", d.pictureError.c_str());
  if (d.hasSound)
    std::printf("  sound: %u Hz, %u-bit, %s, %u bytes, %.2f s\n", d.soundRate, d.soundBits,
                d.soundChannels == 2 ? "stereo" : "mono", d.soundBytes, soundSeconds(d));
  else
    std::printf("  sound: none\n");
}

void printJson(const Description &d) {
  std::printf("{\"file\":%s,\"kind\":%s,\"kindCode\":%u,\"bytes\":%llu", jsonString(d.file).c_str(),
              jsonString(d.kind).c_str(), d.kindCode, static_cast<unsigned long long>(d.bytes));
  if (d.hasPictures)
    std::printf(",\"width\":%u,\"height\":%u,\"depth\":%u,\"frames\":%u,\"rate\":[%u,%u]", d.width, d.height, d.depth,
                d.frames, d.rateNum, d.rateDen);
  if (!d.pictureError.empty()) std::printf(",\"picturesError\":%s", jsonString(d.pictureError).c_str());
  if (d.hasSound)
    std::printf(",\"sound\":{\"rate\":%u,\"bits\":%u,\"channels\":%u,\"bytes\":%u,\"seconds\":%.3f}", d.soundRate,
                d.soundBits, d.soundChannels, d.soundBytes, soundSeconds(d));
  else
    std::printf(",\"sound\":null");
  std::printf("}\n");
}

}  // namespace

int main(int argc, char **argv) {
  try {
    const kavtool::SplitArgs args = kavtool::splitArgs(argc, argv, {"--json", "--help", "--version"});
    bool json = false;
    for (const std::string &o : args.longOptions) {
      if (o == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
      }
      if (o == "--version") {
        std::printf("kavinfo (kavutil) %s\n", KAVUTIL_VERSION_STRING);
        return 0;
      }
      if (o == "--json") json = true;
    }
    if (!args.unknownOptions.empty()) {
      std::fprintf(stderr, "kavinfo: unknown option %s (see kavinfo --help)\n", args.unknownOptions[0].c_str());
      return 2;
    }
    if (!args.switches.empty()) {
      std::fprintf(stderr, "kavinfo: takes no switches (%s); put -- before names starting with '-'\n",
                   args.switches.c_str());
      return 2;
    }
    if (args.files.empty()) return json ? (std::fputs(kUsage, stderr), 2) : selfDescription();
    int rc = 0;
    for (const std::string &name : args.files) {
      Description d;
      if (!describe(name, d)) {
        const std::string why = kavtool::whyNotOpened(name, lastError.rfind("Error opening", 0) == 0 ? "" : lastError);
        std::fprintf(stderr, "kavinfo: cannot open %s: %s\n", name.c_str(), why.c_str());
        if (json) std::printf("{\"file\":%s,\"error\":%s}\n", jsonString(name).c_str(), jsonString(why).c_str());
        rc = 1;
        continue;
      }
      if (json)
        printJson(d);
      else
        printText(d);
    }
    return rc;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kavinfo: %s\n", e.what());
    return 1;
  }
}
