// Writes the bundled sample: a two-second 8-bit AVI (128 x 96, 10 frames per
// second) of a ball crossing a moving colour field, with a mono sound track
// of a rising tone that clicks each time the ball touches a wall. It is made
// with the library's own graphics output, so the sample proves the writer
// as much as it feeds the converter.
#include <cmath>
#include <cstdio>
#include <vector>

#include <kavutil/kavutil.h>

namespace {

constexpr uint32_t kWidth = 128, kHeight = 96, kFrames = 20, kRate = 10;
constexpr uint32_t kSampleRate = 11025;

uint32_t KAVAPI report(const char *text, int32_t code) {
  if (code == 2 && text) std::fprintf(stderr, "kav_make_sample: %s\n", text);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kav_make_sample OUTPUT.avi\n");
    return 2;
  }
  OGFile *out = OGFileCreate(KAV_NO_WINDOW, argv[1], kFrames, kRate, 1, kWidth, kHeight, kWidth, report,
                             OGFILE_OVERWRITE, 1);
  if (!out) return 1;

  // Entries 0..239 a colour wheel for the field, 240..255 shades of white
  // for the ball.
  uint8_t palette[768];
  for (int i = 0; i < 240; ++i) {
    const double a = i * 2.0 * M_PI / 240.0;
    palette[i * 3 + 0] = static_cast<uint8_t>(127.5 + 100 * std::cos(a));
    palette[i * 3 + 1] = static_cast<uint8_t>(127.5 + 100 * std::cos(a - 2.0944));
    palette[i * 3 + 2] = static_cast<uint8_t>(127.5 + 100 * std::cos(a + 2.0944));
  }
  for (int i = 240; i < 256; ++i) palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] = static_cast<uint8_t>(i);

  std::vector<uint8_t> frame(kWidth * kHeight);
  std::vector<uint8_t> sound;
  double phase = 0;
  uint32_t sample = 0;
  for (uint32_t f = 0; f < kFrames; ++f) {
    const int bx = static_cast<int>(16 + (kWidth - 32) * (f < kFrames / 2 ? f : kFrames - f) / (kFrames / 2));
    const int by = static_cast<int>(kHeight / 2 + 24 * std::sin(f * 0.6));
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        const int dx = static_cast<int>(x) - bx, dy = static_cast<int>(y) - by;
        const int d2 = dx * dx + dy * dy;
        frame[y * kWidth + x] = d2 < 100 ? static_cast<uint8_t>(255 - d2 / 7)
                                         : static_cast<uint8_t>((x + y * 2 + f * 12) % 240);
      }
    OGFilePut(out, frame.data(), palette);

    const uint32_t bytes = OGFilePutSoundAmount(out, kSampleRate, 8, 1);
    sound.resize(bytes);
    for (uint32_t i = 0; i < bytes; ++i, ++sample) {
      const double t = static_cast<double>(sample) / kSampleRate;
      phase += 2.0 * M_PI * (330.0 + 220.0 * t) / kSampleRate;
      const bool click = (f == 0 || f == kFrames / 2) && i < 200;
      sound[i] = static_cast<uint8_t>(128 + 60 * std::sin(phase) + (click ? 50 * ((i / 20) % 2 ? 1 : -1) : 0));
    }
    OGFilePutSound(out, sound.data(), bytes);
  }
  const bool failed = out->errorFlag != 0;
  OGFileClose(out);
  return failed ? 1 : 0;
}
