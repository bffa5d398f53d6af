#include "fuzz_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kavfuzz {
namespace {

constexpr uint64_t kMaxCanvasPixels = 64 * 64;
constexpr uint64_t kMaxScaledPixels = 64 * 64;
constexpr uint64_t kMaxSourcePixels = 128 * 128;
constexpr uint32_t kMaxRangeFrames = 64;

// Rates as typed: frames per second, fractions ("30;1.001"), and periods in
// milliseconds or in 1/100000 second (negative).
const char *const kRates[16] = {"",    "10",  "15",      "5",     "20",    "25", "29.97", "30;1.001",
                                "7.5", "-100", "-40", "-200000", "-3333", "12", "1",     "60"};
// Size codes as typed: pixels, -1 (keep the aspect), multiples and fractions.
const char *const kSizes[16] = {"",   "-1",   "16",    "33", "64", "1", "7",  "-0.5",
                                "-2", "-3", "-1.5", "-0.25", "48", "-1", "0", "2"};
const char *const kGammas[8] = {"", "1", "2", "0.5", "1;2.2", "3", "0", "1.00005"};
const int32_t kFirstFrames[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 100, -1, 0, 2};
const int32_t kSoften[8] = {0, 0, 0x1000, 0x3200, 25600, 30000, 100, 6400};
const int32_t kThresholds[4] = {0, 0, 64, 300};
const int32_t kContrasts[8] = {0, 0, 10, 60, 127, 128, 200, 5};
const int32_t kBrightness[8] = {100, 100, 50, 150, 0, 255, 1000, -20};
const int32_t kScales[4] = {0, 1000, 31999, 40000};
// Colour modes for /Z: true colour for half the inputs, as 8-bit output with
// a computed palette costs the most. /Z1 keeps the palette of an 8-bit
// source, /Z3 makes one palette per run of frames, and /Z2 and /Z4 to /Z7
// reduce colours alike.
const int32_t kModes[8] = {0, 0, 0, 0, 1, 2, 3, 7};
// Palette windows for /Q, at most 64 colours, never the full 256 (the
// default): placing a computed palette into the one in use costs time cubic
// in the window (half a second per frame under the fuzz build for 256
// colours, a few milliseconds for 64), and a window starting at /I 200
// reaches the end of the palette all the same.
const int32_t kColours[8] = {16, 64, 2, 1, 8, 32, 48, 4};
const int32_t kFirstColours[4] = {-1, 0, 10, 200};  // -1: switch left out
const int32_t kReserved[4] = {0, 4, 20, 255};
const uint32_t kCancelAt[4] = {0, 1, 3, 7};
const int32_t kZFilter[4] = {0, 100, 200, 300};

uint32_t g_messages = 0;
uint32_t g_cancelAt = 0;

uint32_t KAVAPI onStatus(const char *text, int32_t code) {
  // Read the text as a tool would print it.
  volatile size_t n = std::strlen(text);
  (void)n;
  if (showing()) std::printf("  [%d] %s\n", static_cast<int>(code), text);
  return (g_cancelAt && ++g_messages == g_cancelAt) ? 1u : 0u;
}

void add(std::string &cmd, const char *format, long value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  cmd += text;
}

void addText(std::string &cmd, const char *letter, const char *value) {
  if (!*value) return;
  cmd += ' ';
  cmd += letter;
  cmd += value;
}

// A canvas or placement value, or 0 (the switch is left out) for half the
// byte values.
int32_t pickCanvas(uint8_t b) { return b < 128 ? 0 : (b & 63) + 1; }
int32_t pickOffset(uint8_t b) { return b < 128 ? 0 : (b & 63) - 32; }

}  // namespace

bool showing() {
  // Line-buffered, so that what was shown survives a crash.
  static const bool show = std::getenv("KAV_FUZZ_SHOW") != nullptr && setvbuf(stdout, nullptr, _IOLBF, 0) == 0;
  return show;
}

Settings pickSettings(const uint8_t *bytes, size_t size, const std::string &paletteFile) {
  uint8_t b[kSettingsBytes] = {};
  std::memcpy(b, bytes, size < kSettingsBytes ? size : kSettingsBytes);
  Settings s;
  std::string &cmd = s.commandLine;

  add(cmd, "/Z%ld", kModes[b[0] & 7] + kZFilter[(b[0] >> 3) & 3] + ((b[0] & 0x20) ? 1000 : 0));
  if (b[1] & 3) add(cmd, " /;%ld", b[1] & 3);
  if (const int32_t v = kSoften[(b[1] >> 3) & 7]) add(cmd, " /:%ld", v);
  if (const int32_t v = kThresholds[b[1] >> 6]) add(cmd, " /}%ld", v);
  addText(cmd, "/F", kRates[b[2] & 15]);
  addText(cmd, "/A", kRates[b[2] >> 4]);
  const int32_t first = kFirstFrames[b[3] & 15];
  if (first) add(cmd, " /S%ld", first);
  const uint32_t span = b[3] >> 4;
  if (span >= 1 && span <= 12) add(cmd, " /E%ld", (first > 0 ? first : 1) + static_cast<int32_t>(span) - 1);
  if (span == 13) add(cmd, " /E%ld", first - 1);
  if (span == 14) add(cmd, " /E%ld", 1000);
  if (span == 15) add(cmd, " /E%ld", -1);
  addText(cmd, "/(", kSizes[b[4] & 15]);
  addText(cmd, "/)", kSizes[b[4] >> 4]);
  if (const int32_t v = pickCanvas(b[5])) add(cmd, " /W%ld", v);
  if (const int32_t v = pickCanvas(b[6])) add(cmd, " /H%ld", v);
  if (const int32_t v = pickOffset(b[7])) add(cmd, " /X%ld", v);
  if (const int32_t v = pickOffset(b[8])) add(cmd, " /Y%ld", v);
  if (const int32_t v = kContrasts[b[9] & 7]) add(cmd, " /{%ld", v);
  if (const int32_t v = kBrightness[(b[9] >> 3) & 7]; v != 100) add(cmd, " /[%ld", v);
  addText(cmd, "/]", kGammas[b[10] & 7]);
  if ((b[10] >> 3) & 3) add(cmd, " /D%ld", (b[10] >> 3) & 3);
  if ((b[10] >> 5) & 3) add(cmd, " /T%ld", (b[10] >> 5) & 3);
  if ((b[10] & 0x80) && !paletteFile.empty()) cmd += " /&\"" + paletteFile + "\"";
  if (const int32_t v = kScales[b[11] & 3]) add(cmd, " /U%ld", v);
  add(cmd, " /Q%ld", kColours[(b[11] >> 2) & 7]);
  if (const int32_t v = kFirstColours[(b[11] >> 5) & 3]; v >= 0) add(cmd, " /I%ld", v);
  if (const int32_t v = kReserved[(b[11] >> 7) | ((b[12] >> 6) & 2)]) add(cmd, " /$%ld", v);
  s.framesToFetch = (b[12] & 7) + 1;
  s.fetchAgain = (b[12] & 8) != 0;
  s.cancelAfter = kCancelAt[(b[12] >> 4) & 3];

  std::vector<char> text(cmd.begin(), cmd.end());
  text.push_back('\0');
  uint8_t method = 0, option = 0;
  GFileCommandLine(text.data(), &s.flags, &s.inputNumerator, &s.inputDenominator, &s.outputNumerator,
                   &s.outputDenominator, &s.soften, &s.contrast, &s.brightness, &s.gamma, &s.threshold, &s.width,
                   &s.height, &s.x, &s.y, &s.canvasWidth, &s.canvasHeight, &s.firstFrame, &s.lastFrame,
                   &s.analysisScale, &s.firstColour, &s.colourCount, &s.reserved, &method, &option, s.paletteFile);
  s.paletteMethod = method;
  s.paletteOption = option;
  // The halving and blending bits are set directly: the converter's own
  // switches for them lie outside the shared switch reader.
  if (b[0] & 0x40) s.flags |= GFILE_HALVE_WIDTH;
  if (b[0] & 0x80) s.flags |= GFILE_HALVE_HEIGHT;
  if (b[1] & 4) s.flags |= GFILE_DEINTERLACE_BLEND;
  return s;
}

GFile *openWith(const std::string &name, const Settings &s) {
  g_messages = 0;
  g_cancelAt = s.cancelAfter;
  return GFileOpen(name.c_str(), s.flags, s.inputNumerator, s.inputDenominator, s.outputNumerator,
                   s.outputDenominator, s.width, s.height, s.x, s.y, static_cast<uint32_t>(s.canvasWidth),
                   static_cast<uint32_t>(s.canvasHeight), static_cast<uint32_t>(s.firstFrame),
                   static_cast<uint32_t>(s.lastFrame), s.analysisScale, s.firstColour, s.colourCount,
                   static_cast<uint32_t>(s.reserved), s.paletteMethod, s.paletteOption, s.paletteFile, "Reading",
                   onStatus);
}

bool smallSource(const char *name) {
  GFile *g = GFileOpen(name, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 0, 0, 0, nullptr, nullptr, nullptr);
  if (!g) return true;  // nothing to decode
  const bool small =
      uint64_t{g->sourceWidth} * g->sourceHeight <= kMaxSourcePixels && g->totalFrames <= kMaxRangeFrames;
  GFileClose(g);
  return small;
}

void playAndClose(GFile *g, const Settings &s, bool entriesSmall) {
  const bool show = showing();
  if (show) {
    std::printf("%s\n", s.commandLine.c_str());
    if (g)
      std::printf("  %s %ux%u -> %ux%u canvas %ux%u, %u bits, %u of %u frames -> %u at %u/%u\n", g->kindName,
                  g->sourceWidth, g->sourceHeight, g->scaledWidth, g->scaledHeight, g->canvasWidth,
                  g->canvasHeight, g->sourceBits, g->frameCount, g->totalFrames, g->outputFrameCount,
                  g->outputRateNumerator, g->outputRateDenominator);
    else
      std::printf("  not opened\n");
  }
  if (!g) return;
  // A palette file is scanned whole, whatever the range.
  const bool small = entriesSmall && uint64_t{g->canvasWidth} * g->canvasHeight <= kMaxCanvasPixels &&
                     uint64_t{g->scaledWidth} * g->scaledHeight <= kMaxScaledPixels &&
                     uint64_t{g->sourceWidth} * g->sourceHeight <= kMaxSourcePixels &&
                     g->frameCount <= kMaxRangeFrames && (!s.paletteFile[0] || smallSource(s.paletteFile));
  if (small) {
    const uint32_t frames = g->outputFrameCount < s.framesToFetch ? g->outputFrameCount : s.framesToFetch;
    uint32_t fetched = 0;
    for (; fetched < frames; ++fetched)
      if ((GFileGet(g, static_cast<uint32_t>(s.soften), static_cast<uint32_t>(s.contrast), s.brightness, s.gamma,
                    static_cast<uint32_t>(s.threshold)) &
           0xFF) == 0)
        break;
    if (show) std::printf("  fetched %u of %u\n", fetched, frames);
    if (s.fetchAgain) {
      GFileReset(g);  // and the first frame again
      GFileGet(g, static_cast<uint32_t>(s.soften), static_cast<uint32_t>(s.contrast), s.brightness, s.gamma,
               static_cast<uint32_t>(s.threshold));
    }
  }
  GFileClose(g);
}

}  // namespace kavfuzz
