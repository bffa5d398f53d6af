// kavconv: converts any source the graphics input opens into a Flic, an AVI
// or an MP4, WebM or Matroska movie (with the source's sound), an animated
// GIF or a numbered series of still images. The work
// is the library's usual order: parse the switches, open the input, check the
// names, create the output, fetch and write every frame (with sound for AVI),
// close both. Progress and questions go through the status window, whose
// Cancel button is Ctrl-C on a terminal; the tool's own messages, and the
// library's errors folded into them, are printed once the window is gone,
// so each is printed once and none lands inside the window's block.
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <kavutil/kavutil.h>

#include "tools/argv_split.h"
#include "tools/open_failure.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the conversion could not be done
constexpr int kExitUsage = 2;       // the command line was wrong
constexpr int kExitCancelled = 3;   // the user cancelled; the partial output is closed

const char kUsage[] =
    "usage: kavconv [switches] INPUT OUTPUT\n"
    "\n"
    "Converts INPUT (Flic, Zanther, Vorn, AVI, QuickTime, still images, animated\n"
    "GIFs, numbered sequences, raw frame files, list files, movies inside .EXE\n"
    "files, and what GStreamer decodes: MP4, WebM, Matroska, Ogg, MP3, FLAC...)\n"
    "into OUTPUT,\n"
    "chosen by its extension: .flc (8-bit Flic), .avi (with the input's sound),\n"
    ".mp4 (H.264 and AAC), .webm (VP9 and Opus), .mkv (H.264 and FLAC), all\n"
    "with the input's sound and written by GStreamer,\n"
    ".gif (one animated GIF when the input has more than one frame), or\n"
    ".bmp .jpg .png .tga .tif .pcx (a numbered series of still images).\n"
    "Flic, GIF and PCX targets get 8-bit pictures unless -Z says otherwise.\n"
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
    "Sound (AVI, MP4, WebM and Matroska targets):\n"
    "  -R<n>        sample rate, 4000..192000 (0: the source's)\n"
    "  -B<n>        bits per sample, 8 or 16\n"
    "  -C<n>        channels, 1 or 2\n"
    "  -T<n>        sound track of the input\n"
    "Tool:\n"
    "  --overwrite        overwrite existing output files without asking\n"
    "  --dialog           ask questions through the threaded dialog\n"
    "  --compressor=NAME  AVI compressor: none (default) or mjpeg\n"
    "  --quality=N        quality, 1 (smallest) to 10000: of the AVI compressor\n"
    "                     (default 9999), or of an MP4, WebM or Matroska movie\n"
    "                     (default: the encoder's usual choice for sharing)\n"
    "  --no-sound         write a movie without a sound track\n"
    "  --series           write .gif as a numbered series of stills, not an animation\n"
    "  --loop=N           an animated GIF plays N times (default 0: for ever)\n"
    "  --quiet            print errors only\n"
    "  --verbose          print every progress text of the library as a line\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 wrong command line or switch value,\n"
    "3 cancelled (the frames written so far are kept in a properly closed\n"
    "output; an output without frames is removed). SIGTERM, SIGHUP, and\n"
    "SIGINT without a terminal, cancel without asking.\n";

enum class Verbosity { Quiet, Normal, Verbose };

// What the callbacks learn while the library works.
struct RunState {
  Verbosity verbosity = Verbosity::Normal;
  bool cancelRequested = false;
  bool errorReported = false;
  unsigned errors = 0;  // error messages so far, to tell which step reported one
  bool declined = false;
  std::string lastError;
  // The library's errors, told in the tool's last message or, when that
  // does not cover them, just before it.
  std::vector<std::string> libraryErrors;
  std::vector<std::string> notes;  // warnings, printed once the window is gone
  uint32_t waitedMs = 0;           // time spent waiting for a person's answer
};
RunState g_run;

void KAVAPI onCancel(void) { g_run.cancelRequested = true; }

// A pump of the status window normally takes well under a millisecond;
// one that takes longer waited for an answer (a question, Ctrl-C's
// "Do you want to cancel?"), and that wait is no time the work took.
constexpr uint32_t kAnswerMs = 50;

void pump(const char *text) {
  const uint32_t t = KAVTimerRead();
  if (text) StatusSet(text);
  if (StatusCheck()) g_run.cancelRequested = true;  // the quit: a terminate or hang-up
  const uint32_t spent = KAVTimerRead() - t;
  if (spent >= kAnswerMs) g_run.waitedMs += spent;
}

// Progress goes to the status line (every text as a line with --verbose,
// none with --quiet); errors are kept for the last message. A non-zero
// answer cancels a fetch.
uint32_t KAVAPI onStatus(const char *text, int32_t code) {
  if (code == 3) {
    g_run.declined = true;
    return 0;
  }
  if (code == 2) {
    g_run.errorReported = true;
    ++g_run.errors;
    g_run.lastError = text ? text : "";
    if (text && (g_run.libraryErrors.empty() || g_run.libraryErrors.back() != text))
      g_run.libraryErrors.push_back(text);
    return 0;
  }
  if (text && g_run.verbosity == Verbosity::Verbose) std::fprintf(stderr, "%s\n", text);
  pump(text && g_run.verbosity == Verbosity::Normal ? text : nullptr);
  return g_run.cancelRequested ? 1u : 0u;
}

// Takes a library error out of those still to be told; true if it was there.
bool tell(const std::string &text) {
  for (auto it = g_run.libraryErrors.begin(); it != g_run.libraryErrors.end(); ++it)
    if (*it == text) {
      g_run.libraryErrors.erase(it);
      return true;
    }
  return false;
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
  Verbosity verbosity = Verbosity::Normal;
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
    } else if (name == "--quiet") {
      opt.verbosity = Verbosity::Quiet;
    } else if (name == "--verbose") {
      opt.verbosity = Verbosity::Verbose;
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

// A name for the status window's second line, which holds 95 characters
// for both names: a long one loses the middle of its folders, not its end.
std::string shortName(const std::string &name) {
  constexpr size_t kMost = 45;
  if (name.size() <= kMost) return name;
  return name.substr(0, 12) + "..." + name.substr(name.size() - (kMost - 15));
}

// Flic, GIF and PCX hold 8-bit pictures only (a name without extension
// becomes a Flic).
bool isEightBitOnlyTarget(const std::string &ext) {
  return ext.empty() || ext == ".flc" || ext == ".fli" || ext == ".gif" || ext == ".pcx";
}

// The switch as the user typed it ("-S100", "/B12"): the last one given
// for the letter wins, as in the parsers.
std::string typed(const std::vector<std::string> &words, char letter) {
  std::string found = std::string("-") + letter;
  for (const std::string &w : words)
    if (w.size() > 1 && std::toupper(static_cast<unsigned char>(w[1])) == letter) found = w;
  return found;
}

// Values no reader or writer takes, refused before anything is opened.
// Empty when all are fine, else the message.
std::string checkSwitches(const Switches &sw, const std::vector<std::string> &words) {
  if (sw.soundBits != 0 && sw.soundBits != 8 && sw.soundBits != 16)
    return typed(words, 'B') + ": sound bits must be 8 or 16";
  if (sw.soundChannels != 0 && sw.soundChannels != 1 && sw.soundChannels != 2)
    return typed(words, 'C') + ": sound channels must be 1 or 2";
  if (sw.soundRate != 0 && (sw.soundRate < 4000 || sw.soundRate > 192000))
    return typed(words, 'R') + ": the sound rate must be from 4000 to 192000 (or 0, the source's)";
  if (sw.firstFrame < 0) return typed(words, 'S') + ": frames are counted from 1";
  if (sw.lastFrame < 0) return typed(words, 'E') + ": frames are counted from 1";
  if (sw.firstFrame > 0 && sw.lastFrame > 0 && sw.firstFrame > sw.lastFrame)
    return typed(words, 'S') + ": the first frame comes after the last (" + typed(words, 'E') + ")";
  return "";
}

struct Handles {
  GFile *in = nullptr;
  OGFile *out = nullptr;
  SFile *sound = nullptr;
  ~Handles() {
    SFileClose(sound);
    GFileClose(in);
  }
};

// How a run ended: the exit status and the one line that says so, printed
// once the status window is gone.
struct Outcome {
  int status = kExitOk;
  std::string line;
};

Outcome fail(const std::string &text) { return {kExitFailed, text}; }
Outcome cancelled(const std::string &text) { return {kExitCancelled, text}; }

std::string plural(uint64_t n, const char *word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// The targets that carry the input's sound.
bool takesSound(const std::string &ext) {
  return ext == ".avi" || ext == ".mp4" || ext == ".m4v" || ext == ".webm" || ext == ".mkv";
}

bool isMovie(uint32_t kind) { return kind == OGFILE_MP4 || kind == OGFILE_WEBM || kind == OGFILE_MATROSKA; }

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

Outcome convert(const std::string &input, const std::string &output, const Switches &sw, const Options &opt,
                const std::vector<std::string> &switchWords) {
  const uint32_t started = KAVTimerRead();
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
  if (!h.in && sw.firstFrame > 0) {
    // A first frame past the end makes some sources refuse to open: opened
    // again whole, they say how many frames there are.
    GFile *whole = GFileOpen(input.c_str(), flags, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10000, 0, 256, 0, 0, 0, "",
                             "", nullptr);
    const uint32_t frames = whole ? whole->totalFrames : 0;
    GFileClose(whole);
    if (frames && static_cast<uint32_t>(sw.firstFrame) > frames) {
      g_run.libraryErrors.clear();
      return {kExitUsage, typed(switchWords, 'S') + ": " + input + " has only " + plural(frames, "frame")};
    }
  }
  if (!h.in) {
    std::string library;
    for (const std::string &e : g_run.libraryErrors)
      if (e.rfind("Error opening", 0) != 0) library = e;  // a reason, not the bare "Error opening: NAME"
    g_run.libraryErrors.clear();
    return fail("cannot open " + input + ": " + kavtool::whyNotOpened(input, library));
  }
  GFile *g = h.in;
  if (sw.firstFrame > 0 && g->totalFrames && static_cast<uint32_t>(sw.firstFrame) > g->totalFrames)
    return {kExitUsage, typed(switchWords, 'S') + ": " + input + " has only " + plural(g->totalFrames, "frame")};
  if (g->outputFrameCount == 0) return fail("the input " + input + " holds no frames");

  // The library has said why (its message is the only one).
  if (!CheckForDup(g->name, output.c_str())) return {kExitFailed, ""};

  // The sound is opened before the output is made: a source that is
  // nothing but a sound the sound input refuses gives no output at all.
  if (takesSound(ext) && g->hasSound && !opt.noSound) {
    const int32_t start = sw.firstFrame > 0 ? -sw.firstFrame : 0;
    const int32_t end = sw.lastFrame > 0 ? -sw.lastFrame : 0;
    h.sound = SFileOpen(input.c_str(), sw.soundRate, sw.soundBits, sw.soundChannels, start, end, sw.soundTrack, 0, 0,
                        nullptr);
    if (!h.sound) {
      const std::string why = kavtool::whyNotOpened(input, "");
      const bool known = why.find("not supported") != std::string::npos;
      if (g->kind == GFILE_KIND_SOUND_ONLY) return fail("cannot open " + input + ": " + (known ? why : "the sound input refuses it"));
      g_run.notes.push_back("the sound of " + input + " could not be opened" + (known ? " (" + why + ")" : "") +
                            "; writing pictures only");
    }
  }

  uint32_t options = 0;
  if (opt.overwrite) options |= OGFILE_OVERWRITE;
  if (opt.dialog) options |= OGFILE_ASK_WITH_DIALOG;
  // A moving input makes one animated GIF unless stills were asked for.
  const bool gifAnimation = ext == ".gif" && g->outputFrameCount > 1 && !opt.series;
  if (gifAnimation) options |= OGFILE_GIF_ANIMATION | OGFILE_GIF_PLAYS(opt.plays);
  const uint32_t colourMode = g->trueColour ? 0u : 1u;
  if (g_run.cancelRequested) return cancelled(kCancelledBeforeFirst);  // nothing created yet
  g_run.errorReported = false;
  // An existing output is asked about (without --overwrite): that wait is
  // no time the work took.
  const bool mayAsk = !opt.overwrite && access(output.c_str(), F_OK) == 0;
  const uint32_t createStarted = KAVTimerRead();
  h.out = OGFileCreateCompressed(KAV_NO_WINDOW, output.c_str(), g->outputFrameCount, g->outputRateNumerator,
                                 g->outputRateDenominator, g->canvasWidth, g->canvasHeight, g->canvasPitch, onStatus,
                                 options, colourMode, &opt.compressor);
  if (mayAsk) g_run.waitedMs += KAVTimerRead() - createStarted;
  if (!h.out) {
    if (g_run.declined) return fail("not overwriting " + output + " (use --overwrite)");
    if (opt.dialog && !g_run.errorReported) return fail("unsupported output file type or colour depth: " + output);
    tell(g_run.lastError);
    return fail("cannot create " + output + (g_run.lastError.empty() ? "" : ": " + g_run.lastError));
  }
  OGFile *o = h.out;
  if (o->kind == OGFILE_FLIC && g->outputFrameCount > KAV_FLIC_MAX_FRAMES) {
    // Shown in the status block before the first frame, and repeated after
    // the window is gone so that it is not lost to the redraws.
    const std::string warning = "warning: a Flic holds at most " + std::to_string(KAV_FLIC_MAX_FRAMES) +
                                " frames; " + o->description + " will stop after frame " +
                                std::to_string(KAV_FLIC_MAX_FRAMES) + " of " + std::to_string(g->outputFrameCount);
    StatusSet(warning.c_str());
    g_run.notes.push_back(warning);
  }

  std::vector<uint8_t> soundBuf;
  if (o->kind != OGFILE_AVI && !isMovie(o->kind)) {
    SFileClose(h.sound);
    h.sound = nullptr;
  }

  const uint32_t total = g->outputFrameCount;
  uint32_t written = 0;
  uint32_t lastPercent = 101;
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
      if (g_run.verbosity == Verbosity::Verbose) std::fprintf(stderr, "%s\n", line);
      pump(g_run.verbosity == Verbosity::Normal ? line : nullptr);
    } else {
      pump(nullptr);
    }
    if (o->errorFlag) break;
  }

  const bool failedBeforeClose = o->errorFlag != 0;
  // A still series is described by its file names alone; the output's
  // folder goes in front, so the line says where they are.
  std::string description = o->description;
  const size_t slash = output.find_last_of('/');
  if (description.find('/') == std::string::npos && slash != std::string::npos)
    description = output.substr(0, slash + 1) + description;
  // Still images are a file per frame; the rest one file. An animated GIF
  // counts the frames it holds, and the close keeps them all.
  const bool oneFile = o->kind == OGFILE_FLIC || o->kind == OGFILE_AVI || isMovie(o->kind) || gifAnimation;
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
  const uint32_t took = KAVTimerRead() - started;
  GetElapsedTime(elapsed, took > g_run.waitedMs ? took - g_run.waitedMs : 0);

  if (writeError) {
    // The library's words for the failure close the line.
    std::string why;
    for (const std::string &e : g_run.libraryErrors) why += " (" + e + ")";
    g_run.libraryErrors.clear();
    if (!oneFile) return fail("writing " + description + " failed at frame " + std::to_string(written) + why);
    if (removed)
      return fail("writing " + description + " failed before a whole frame reached it; it was removed" + why);
    return fail("writing " + description + " failed; it holds " + std::to_string(held) + " of " +
                plural(total, "frame") + why);
  }
  if (g_run.cancelRequested || written < total) {
    if (!g_run.cancelRequested) {
      return fail("reading " + input + " failed at frame " + std::to_string(written + 1) + "; " + description +
                  (removed ? " held no frame and was removed" : " holds the " + plural(written, "frame") + " written"));
    }
    if (written == 0 && removed)
      return cancelled("Cancelled before the first frame was written; " + description + " was removed.");
    if (written == 0) return cancelled(kCancelledBeforeFirst);
    return cancelled("Cancelled: " + description + " holds " + std::to_string(written) + " of " +
                     plural(total, "frame") + " (" + bytes + " bytes).");
  }
  return {kExitOk, "Done: " + description + ", " + plural(written, "frame") + ", " + bytes + " bytes, " + elapsed + "."};
}

}  // namespace

int main(int argc, char **argv) {
  // Messages go to standard error, often a pipe into tee or head: when its
  // reader goes away first, the write fails and the text is lost, but the
  // conversion goes on (or is cancelled) and closes its output properly.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const std::vector<std::string> longNames = {"--help",     "--version", "--overwrite", "--dialog", "--compressor",
                                                "--quality",  "--no-sound", "--series",   "--loop",   "--quiet",
                                                "--verbose"};
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
      // Named as typed: the parsers saw "-X" as "/X".
      std::string word = leftOver.substr(0, leftOver.find(' '));
      for (const std::string &w : args.switchWords)
        if (w.size() > 1 && word.size() > 1 && w.compare(1, std::string::npos, word, 1) == 0) word = w;
      std::fprintf(stderr, "kavconv: cannot make sense of %s (see kavconv --help)\n", word.c_str());
      return kExitUsage;
    }
    const std::string wrong = checkSwitches(sw, args.switchWords);
    if (!wrong.empty()) {
      std::fprintf(stderr, "kavconv: %s\n", wrong.c_str());
      return kExitUsage;
    }
    const std::string folder = kavtool::outputFolderProblem(args.files[1]);
    if (!folder.empty()) {
      std::fprintf(stderr, "kavconv: cannot create %s: %s\n", args.files[1].c_str(), folder.c_str());
      return kExitFailed;
    }
    g_run.verbosity = opt.verbosity;

    // The window is opened even when it shows nothing (--quiet, --verbose):
    // it is what makes Ctrl-C the Cancel button.
    StatusInit(nullptr, KAV_NO_WINDOW, 1);
    std::string second = args.files[0] + " -> " + args.files[1];
    if (second.size() > 95) second = shortName(args.files[0]) + " -> " + shortName(args.files[1]);
    if (!StatusOpen("kavconv", second.c_str(), onCancel)) {
      std::fprintf(stderr, "kavconv: cannot open the status window\n");
      return kExitFailed;
    }
    const Outcome outcome = convert(args.files[0], args.files[1], sw, opt, args.switchWords);
    StatusClose(0);
    for (const std::string &e : g_run.libraryErrors) std::fprintf(stderr, "kavconv: %s\n", e.c_str());
    for (const std::string &n : g_run.notes) std::fprintf(stderr, "kavconv: %s\n", n.c_str());
    const bool say = !outcome.line.empty() && (outcome.status != kExitOk || opt.verbosity != Verbosity::Quiet);
    if (say) std::fprintf(stderr, "kavconv: %s\n", outcome.line.c_str());
    return outcome.status;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kavconv: %s\n", e.what());
    return kExitFailed;
  }
}
