// kavconv: converts any source the graphics input opens into a Flic, an AVI
// (with the source's sound) or a numbered series of still images. The work
// is the library's usual order: parse the switches, open the input, check the
// names, create the output, fetch and write every frame (with sound for AVI),
// close both. Progress, messages and questions go through the status window,
// whose Cancel button is Ctrl-C on a terminal.
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "tools/argv_split.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the conversion could not be done
constexpr int kExitUsage = 2;       // the command line was wrong
constexpr int kExitCancelled = 3;   // the user cancelled; the partial output is closed

const char kUsage[] =
    "usage: kavconv [switches] INPUT OUTPUT\n"
    "\n"
    "Converts INPUT (Flic, Zanther, Vorn, AVI, QuickTime, still images, numbered\n"
    "sequences, raw frame files, list files, movies inside .EXE files) into OUTPUT,\n"
    "chosen by its extension: .flc (8-bit Flic), .avi (with the input's sound),\n"
    ".gif (one animated GIF when the input has more than one frame), or\n"
    ".bmp .jpg .png .tga .tif .pcx (a numbered series of still images).\n"
    "\n"
    "Switches are written -X<value> (or /X<value> when no '/' follows); a value\n"
    "holding '/' must use the '-' form. -- ends the switches.\n"
    "\n"
    "Graphics:\n"
    "  -Z<n>        colour mode and filters: 0 true colour, 1..7 8-bit with\n"
    "               reduction mode n-1; +100 filter 1, +200 filter 2,\n"
    "               +1000 prefer QuickTime (Flic and GIF targets default to 1)\n"
    "  -;<n>        deinterlace: 1 even field, 2 odd field, +256 blend\n"
    "  -F<rate>     input frame rate (30;1.001 is 30/1.001; negative: period in ms)\n"
    "  -A<rate>     output frame rate\n"
    "  -(<n> -)<n>  output width and height in pixels\n"
    "  -X<n> -Y<n>  picture placement on the canvas\n"
    "  -W<n> -H<n>  canvas width and height\n"
    "  -S<n> -E<n>  first and last frame (1-based; 0 the ends)\n"
    "  -U<n>        colour analysis scale\n"
    "  -Q<n>        number of palette colours (8-bit output)\n"
    "  -I<n>        first palette colour\n"
    "  -&<file>     palette file\n"
    "  -[<n>        brightness percentage (100 unchanged)\n"
    "  -]<rate>     gamma\n"
    "  -:<n> -{<n> -}<n>  soften, contrast and threshold\n"
    "  -$<n> -D<n> -T<n>  reserved colours, palette method and palette option\n"
    "Sound (AVI targets):\n"
    "  -R<n>        sample rate (0: the source's)\n"
    "  -B<n>        bits per sample, 8 or 16\n"
    "  -C<n>        channels, 1 or 2\n"
    "  -T<n>        sound track of the input\n"
    "Tool:\n"
    "  --overwrite        overwrite existing output files without asking\n"
    "  --dialog           ask questions through the threaded dialog\n"
    "  --compressor=NAME  AVI compressor: none (default) or mjpeg\n"
    "  --quality=N        compressor quality, 1..10000 (default 9999)\n"
    "  --no-sound         write an AVI without a sound track\n"
    "  --series           write .gif as a numbered series of stills, not an animation\n"
    "  --loop=N           an animated GIF plays N times (default 0: for ever)\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 wrong command line, 3 cancelled (the\n"
    "frames written so far are kept in a properly closed output; an output\n"
    "without frames is removed). SIGTERM, SIGHUP, and SIGINT without a\n"
    "terminal, cancel without asking.\n";

// What the callbacks learn while the library works.
struct RunState {
  bool cancelRequested = false;
  bool errorReported = false;
  unsigned errors = 0;  // error messages so far, to tell which step reported one
  bool declined = false;
  std::string lastError;
};
RunState g_run;

void KAVAPI onCancel(void) { g_run.cancelRequested = true; }

// Progress goes to the status line; errors to a message box (printed on
// standard error without a terminal). A non-zero answer cancels a fetch.
uint32_t KAVAPI onStatus(const char *text, int32_t code) {
  if (code == 3) {
    g_run.declined = true;
    return 0;
  }
  if (code == 2) {
    g_run.errorReported = true;
    ++g_run.errors;
    g_run.lastError = text ? text : "";
    if (text) StatusMessage(text, 1);
    return 0;
  }
  if (text) StatusSet(text);
  if (StatusCheck()) g_run.cancelRequested = true;  // the quit: a terminate or hang-up
  return g_run.cancelRequested ? 1u : 0u;
}

std::string lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string extensionOf(const std::string &name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return lower(name.substr(dot));
}

struct Options {
  bool overwrite = false;
  bool dialog = false;
  bool noSound = false;
  bool series = false;   // .gif as numbered stills
  uint32_t plays = 0;    // times an animated GIF plays, 0 for ever
  OGFileCompressor compressor{OGFILE_COMPRESS_NONE, 0};
};

// Reads the tool's own long options; false after a message on a bad one.
bool readOptions(const std::vector<std::string> &longOptions, Options &opt, bool &help, bool &version) {
  for (const std::string &o : longOptions) {
    const size_t eq = o.find('=');
    const std::string name = o.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : o.substr(eq + 1);
    if (name == "--help") {
      help = true;
    } else if (name == "--version") {
      version = true;
    } else if (name == "--overwrite") {
      opt.overwrite = true;
    } else if (name == "--dialog") {
      opt.dialog = true;
    } else if (name == "--no-sound") {
      opt.noSound = true;
    } else if (name == "--series") {
      opt.series = true;
    } else if (name == "--loop") {
      char *end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 0 || n > 65535) {
        std::fprintf(stderr, "kavconv: --loop takes a number from 0 (for ever) to 65535\n");
        return false;
      }
      opt.plays = static_cast<uint32_t>(n);
    } else if (name == "--compressor") {
      const std::string v = lower(value);
      if (v == "none") {
        opt.compressor.handler = OGFILE_COMPRESS_NONE;
      } else if (v == "mjpeg" || v == "mjpg") {
        opt.compressor.handler = OGFILE_COMPRESS_MJPEG;
      } else {
        std::fprintf(stderr, "kavconv: unknown compressor \"%s\" (none or mjpeg)\n", value.c_str());
        return false;
      }
    } else if (name == "--quality") {
      char *end = nullptr;
      const long q = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || q < 1 || q > 10000) {
        std::fprintf(stderr, "kavconv: --quality takes a number from 1 to 10000\n");
        return false;
      }
      opt.compressor.quality = static_cast<int32_t>(q);
    }
  }
  return true;
}

// Every switch the library understands, read from the switch line.
struct Switches {
  uint32_t flags = 0, inNum = 0, inDen = 0, outNum = 0, outDen = 0;
  int32_t soften = 0, contrast = 0, brightness = 100, threshold = 0;
  float gamma = 1.0f;
  int32_t width = 0, height = 0, x = 0, y = 0, canvasWidth = 0, canvasHeight = 0;
  int32_t firstFrame = 0, lastFrame = 0;
  uint32_t analysisScale = 0, firstColour = 0, colourCount = 0;
  int32_t reserved = 0;
  uint8_t paletteMethod = 0, paletteOption = 0;
  char paletteFile[KAV_NAME_MAX] = {};
  uint32_t soundRate = 0, soundBits = 0, soundChannels = 0, soundTrack = 0;
  bool colourModeGiven = false;
};

// The graphics switches and the sound switches share letters (/S, /E, /T,
// /Y, /D): the sound parser reads its format from a copy first, then the
// graphics parser and the sound parser take everything they know from the
// line itself. Whatever is left is a switch nobody knows.
bool readSwitches(const std::string &line, Switches &sw, std::string &leftOver) {
  std::vector<char> copy(line.begin(), line.end());
  copy.push_back('\0');
  SFileCommandLine(copy.data(), &sw.soundRate, &sw.soundBits, &sw.soundChannels, nullptr, nullptr, &sw.soundTrack,
                   nullptr, nullptr);

  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  std::vector<char> probe(line.begin(), line.end());
  probe.push_back('\0');
  sw.colourModeGiven = GetSwitchNum(probe.data(), 'Z', -1) >= 0;
  GFileCommandLine(buf.data(), &sw.flags, &sw.inNum, &sw.inDen, &sw.outNum, &sw.outDen, &sw.soften, &sw.contrast,
                   &sw.brightness, &sw.gamma, &sw.threshold, &sw.width, &sw.height, &sw.x, &sw.y, &sw.canvasWidth,
                   &sw.canvasHeight, &sw.firstFrame, &sw.lastFrame, &sw.analysisScale, &sw.firstColour,
                   &sw.colourCount, &sw.reserved, &sw.paletteMethod, &sw.paletteOption, sw.paletteFile);
  SFileCommandLine(buf.data(), &sw.soundRate, &sw.soundBits, &sw.soundChannels, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RemoveMinusSwitches(buf.data());
  Trim(buf.data());
  leftOver = buf.data();
  return leftOver.empty();
}

bool isEightBitOnlyTarget(const std::string &ext) { return ext.empty() || ext == ".flc" || ext == ".fli" || ext == ".gif"; }

struct Handles {
  GFile *in = nullptr;
  OGFile *out = nullptr;
  SFile *sound = nullptr;
  ~Handles() {
    SFileClose(sound);
    GFileClose(in);
  }
};

// Reports a failure: on the status window and on standard error (so a
// script's log holds it too, whatever the backend drew).
int fail(const std::string &text) {
  std::fprintf(stderr, "kavconv: %s\n", text.c_str());
  return kExitFailed;
}

int cancelled(const char *text) {
  StatusSet(text);
  std::fprintf(stderr, "kavconv: %s\n", text);
  return kExitCancelled;
}

// The whole frames a movie output holds, read back: after a failed write
// the close keeps only the frames that reached the file in full.
uint32_t framesHeld(const std::string &name) {
  GFile *g = GFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", "", nullptr);
  if (!g) return 0;
  const uint32_t frames = g->outputFrameCount;
  GFileClose(g);
  return frames;
}

constexpr char kCancelledBeforeFirst[] = "Cancelled before the first frame was written.";

int convert(const std::string &input, const std::string &output, const Switches &sw, const Options &opt) {
  const std::string ext = extensionOf(output);
  uint32_t flags = sw.flags;
  // Flic and GIF hold only 8-bit pictures: without a colour mode of their
  // own they get the first 8-bit mode instead of a refusal.
  if (!sw.colourModeGiven && isEightBitOnlyTarget(ext) && (flags & GFILE_COLOUR_MODE_MASK) == 0) flags |= 1u;

  Handles h;
  h.in = GFileOpen(input.c_str(), flags, sw.inNum, sw.inDen, sw.outNum, sw.outDen, sw.width, sw.height, sw.x, sw.y,
                   static_cast<uint32_t>(sw.canvasWidth), static_cast<uint32_t>(sw.canvasHeight),
                   static_cast<uint32_t>(sw.firstFrame), static_cast<uint32_t>(sw.lastFrame), sw.analysisScale,
                   sw.firstColour, sw.colourCount, static_cast<uint32_t>(sw.reserved), sw.paletteMethod,
                   sw.paletteOption, sw.paletteFile, "Reading", onStatus);
  if (g_run.cancelRequested) return cancelled(kCancelledBeforeFirst);
  if (!h.in) return fail("cannot open the input " + input);
  GFile *g = h.in;
  if (g->outputFrameCount == 0) return fail("the input " + input + " holds no frames");

  if (!CheckForDup(g->name, output.c_str())) return fail("the output must be a different file than the input");

  uint32_t options = 0;
  if (opt.overwrite) options |= OGFILE_OVERWRITE;
  if (opt.dialog) options |= OGFILE_ASK_WITH_DIALOG;
  // A moving input makes one animated GIF unless stills were asked for.
  const bool gifAnimation = ext == ".gif" && g->outputFrameCount > 1 && !opt.series;
  if (gifAnimation) options |= OGFILE_GIF_ANIMATION | OGFILE_GIF_PLAYS(opt.plays);
  const uint32_t colourMode = g->trueColour ? 0u : 1u;
  if (g_run.cancelRequested) return cancelled(kCancelledBeforeFirst);  // nothing created yet
  g_run.errorReported = false;
  h.out = OGFileCreateCompressed(KAV_NO_WINDOW, output.c_str(), g->outputFrameCount, g->outputRateNumerator,
                                 g->outputRateDenominator, g->canvasWidth, g->canvasHeight, g->canvasPitch, onStatus,
                                 options, colourMode, &opt.compressor);
  if (!h.out) {
    if (g_run.declined) return fail("not overwriting " + output + " (use --overwrite)");
    if (opt.dialog && !g_run.errorReported) return fail("unsupported output file type or colour depth: " + output);
    return fail("cannot create " + output + (g_run.lastError.empty() ? "" : ": " + g_run.lastError));
  }
  OGFile *o = h.out;

  std::vector<uint8_t> soundBuf;
  if (o->kind == OGFILE_AVI && g->hasSound && !opt.noSound) {
    const int32_t start = sw.firstFrame > 0 ? -sw.firstFrame : 0;
    const int32_t end = sw.lastFrame > 0 ? -sw.lastFrame : 0;
    h.sound = SFileOpen(input.c_str(), sw.soundRate, sw.soundBits, sw.soundChannels, start, end, sw.soundTrack, 0, 0,
                        nullptr);
    if (!h.sound) std::fprintf(stderr, "kavconv: the sound of %s could not be opened; writing pictures only\n",
                               input.c_str());
  }

  const uint32_t total = g->outputFrameCount;
  uint32_t written = 0;
  uint32_t lastPercent = 101;
  const uint32_t t0 = KAVTimerRead();
  while (written < total && !g_run.cancelRequested) {
    const uint32_t got = GFileGet(g, static_cast<uint32_t>(sw.soften), static_cast<uint32_t>(sw.contrast),
                                  sw.brightness, sw.gamma, static_cast<uint32_t>(sw.threshold));
    if ((got & 0xFF) == 0) break;
    OGFilePut(o, g->canvas, g->palette);
    if (h.sound) {
      const uint32_t amount = OGFilePutSoundAmount(o, h.sound->outRate, h.sound->outBits, h.sound->outChannels);
      if (soundBuf.size() < amount) soundBuf.resize(amount);
      uint32_t bytes = amount ? SFileGet(h.sound, soundBuf.data(), amount) : 0;
      // A track shorter than the pictures is padded with silence so the
      // two stay in step.
      if (bytes < amount) {
        std::memset(soundBuf.data() + bytes, h.sound->outBits == 8 ? 0x80 : 0, amount - bytes);
        bytes = amount;
      }
      OGFilePutSound(o, soundBuf.data(), bytes);
    }
    ++written;
    // The status line follows the frames written, once per percent of
    // a long run (a plain log gets at most a hundred lines of it).
    const uint32_t percent = static_cast<uint32_t>(static_cast<uint64_t>(written) * 100 / total);
    if (total <= 100 || percent != lastPercent) {
      lastPercent = percent;
      char line[96];
      std::snprintf(line, sizeof line, "Writing frame %u of %u (%u%%)...", written, total, percent);
      StatusSet(line);
    }
    if (StatusCheck()) g_run.cancelRequested = true;
    if (o->errorFlag) break;
  }

  const bool failedBeforeClose = o->errorFlag != 0;
  const std::string description = o->description;
  // Still images are a file per frame; the rest one file. An animated GIF
  // counts the frames it holds, and the close keeps them all.
  const bool oneFile = o->kind == OGFILE_FLIC || o->kind == OGFILE_AVI || gifAnimation;
  const uint32_t gifFramesHeld = o->frameNumber;
  const std::string fileName = o->name;
  const unsigned errorsBefore = g_run.errors;
  h.out = nullptr;
  const uint32_t size = OGFileClose(o);
  // The close writes what was still buffered and the final headers: an
  // error it reports is a failed write as much as one during the frames.
  const bool writeError = failedBeforeClose || g_run.errors != errorsBefore;
  // A movie without a single whole frame opens nowhere (a Flic needs one),
  // so it is not left behind.
  const uint32_t held = !oneFile ? written : !writeError ? written : gifAnimation ? gifFramesHeld : framesHeld(fileName);
  const bool removed = held == 0 && oneFile && KAVFileErase(fileName.c_str()) == 0;
  char bytes[16], elapsed[64];
  CommaNum(bytes, size);
  GetElapsedTime(elapsed, KAVTimerRead() - t0);

  if (writeError) {
    if (!oneFile) return fail("writing " + description + " failed at frame " + std::to_string(written));
    if (removed) return fail("writing " + description + " failed before a whole frame reached it; it was removed");
    return fail("writing " + description + " failed; it holds " + std::to_string(held) + " of " +
                std::to_string(total) + " frames");
  }
  if (g_run.cancelRequested || written < total) {
    if (!g_run.cancelRequested) {
      return fail("reading " + input + " failed at frame " + std::to_string(written + 1) + "; " + description +
                  (removed ? " held no frame and was removed" : " holds the " + std::to_string(written) +
                                                                   " frames written"));
    }
    char text[KAV_NAME_MAX + 160];
    if (written == 0 && removed) {
      std::snprintf(text, sizeof text, "Cancelled before the first frame was written; %s was removed.",
                    description.c_str());
    } else if (written == 0) {
      std::snprintf(text, sizeof text, "%s", kCancelledBeforeFirst);
    } else {
      std::snprintf(text, sizeof text, "Cancelled: %s holds %u of %u frames (%s bytes).", description.c_str(),
                    written, total, bytes);
    }
    return cancelled(text);
  }
  char text[KAV_NAME_MAX + 160];
  std::snprintf(text, sizeof text, "Done: %s, %u frames, %s bytes, %s.", description.c_str(), written, bytes, elapsed);
  StatusSet(text);
  return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
  // Messages go to standard error, often a pipe into tee or head: when its
  // reader goes away first, the write fails and the text is lost, but the
  // conversion goes on (or is cancelled) and closes its output properly.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const std::vector<std::string> longNames = {"--help",       "--version", "--overwrite", "--dialog",
                                                "--compressor", "--quality", "--no-sound", "--series", "--loop"};
    const kavtool::SplitArgs args = kavtool::splitArgs(argc, argv, longNames);
    Options opt;
    bool help = false, version = false;
    if (!readOptions(args.longOptions, opt, help, version)) return kExitUsage;
    if (help) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (version) {
      std::printf("kavconv (kavutil) %s\n", KAVUTIL_VERSION_STRING);
      return kExitOk;
    }
    if (!args.unknownOptions.empty()) {
      std::fprintf(stderr, "kavconv: unknown option %s (see kavconv --help)\n", args.unknownOptions[0].c_str());
      return kExitUsage;
    }
    if (args.files.size() != 2) {
      std::fprintf(stderr, "kavconv: expected INPUT and OUTPUT, got %zu file name%s (see kavconv --help)\n",
                   args.files.size(), args.files.size() == 1 ? "" : "s");
      return kExitUsage;
    }
    Switches sw;
    std::string leftOver;
    if (!readSwitches(args.switches, sw, leftOver)) {
      std::fprintf(stderr, "kavconv: unknown switch %s (see kavconv --help)\n", leftOver.c_str());
      return kExitUsage;
    }

    StatusInit(nullptr, KAV_NO_WINDOW, 1);
    const std::string second = args.files[0] + " -> " + args.files[1];
    if (!StatusOpen("kavconv", second.c_str(), onCancel)) {
      std::fprintf(stderr, "kavconv: cannot open the status window\n");
      return kExitFailed;
    }
    const int rc = convert(args.files[0], args.files[1], sw, opt);
    StatusClose(0);
    return rc;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kavconv: %s\n", e.what());
    return kExitFailed;
  }
}
