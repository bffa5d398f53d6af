// Animated GIFs as movies: a GIF of more than one image is read as the
// frames a viewer shows, each image drawn over the screen after the previous
// one's disposal. A GIF gives every frame its own delay; the movie's rate
// follows them. Delays that differ by at most a hundredth (how a writer
// rounds a steady rate: 3, 3, 4 for 30 per second) give one movie frame an
// image at the average rate. Other delays are kept as times: the movie runs
// at the rate of the shortest delay and shows each image for as many frames
// as its delay covers. Delays of 0 or 1 count as a tenth of a second, as
// browsers play them. The images are decoded at the open and each frame is
// composed as it is read.
#include <algorithm>
#include <memory>
#include <numeric>

#include "gfile/gfile_internal.h"
#include "platform/stillimage/still_gif_anim.h"

namespace kav::gfile {

namespace {

// The images are kept decoded, about a byte a pixel of what each covers:
// an animation may take this much memory.
constexpr uint64_t kMostImageBytes = uint64_t{1} << 30;
constexpr uint32_t kMostImages = 0xFFFFFFu;

uint32_t shownDelay(uint16_t d) { return d < 2 ? 10 : d; }

}  // namespace

Tried tryGifAnimation(GFile *g, const char *name, std::string *why) {
  const std::string n = withExtension(name, ".gif");
  if (n.size() >= KAV_NAME_MAX) return Tried::NotThisKind;
  auto anim = std::make_unique<still::GifPlayer>();
  const int r = anim->readFile(n.c_str(), kMostImages, kMostImageBytes);
  if (r == still::kStillTooLarge && anim->images.size() > 1) {
    *why = n + ": the GIF animation holds more than " + std::to_string(anim->images.size()) + " images of " +
           std::to_string(anim->width) + " x " + std::to_string(anim->height) + ", more than can be read";
    return Tried::Fatal;
  }
  // One image is a still picture; a damaged file that still holds two or
  // more plays them, as a viewer would.
  if (anim->images.size() < 2) return Tried::NotThisKind;

  std::vector<uint32_t> delays;
  for (const still::GifImage &image : anim->images) delays.push_back(shownDelay(image.delayHundredths));
  const auto [shortest, longest] = std::minmax_element(delays.begin(), delays.end());
  GFileInternal &s = state(g);
  s.gifShown.clear();
  uint64_t num = 100, den = *shortest;
  if (*longest - *shortest <= 1) {
    for (uint32_t i = 0; i < delays.size(); ++i) s.gifShown.push_back(i);
    num = uint64_t{delays.size()} * 100;
    den = std::accumulate(delays.begin(), delays.end(), uint64_t{0});
  } else {
    // Frame i shows the image under way at i times the shortest delay; every
    // image lasts at least that long, so each is shown at least once.
    uint64_t end = 0;
    for (uint32_t i = 0; i < delays.size(); ++i) {
      end += delays[i];
      while (uint64_t{s.gifShown.size()} * *shortest < end) s.gifShown.push_back(i);
    }
  }
  const uint64_t common = std::gcd(num, den);
  setName(g, n);
  setKind(g, GFILE_KIND_GIF_ANIMATION, "GIF animation");
  g->sourceWidth = anim->width;
  g->sourceHeight = anim->height;
  g->sourceBits = 32;
  g->nativeRateNumerator = static_cast<uint32_t>(num / common);
  g->nativeRateDenominator = static_cast<uint32_t>(den / common);
  g->totalFrames = static_cast<uint32_t>(s.gifShown.size());
  g->hasSound = 0;
  s.kindPitch = anim->width * 4;
  s.gifAnimation = anim.release();
  return Tried::Opened;
}

bool readGifAnimation(GFile *g) {
  GFileInternal &s = state(g);
  if (!s.skipDone) {
    s.skipDone = true;
    if (s.firstIndex) report(g, 1, "Skipping frame %li...", 1L);
  }
  const uint64_t index = uint64_t{s.firstIndex} + g->framesRead;
  if (!s.gifAnimation || index >= s.gifShown.size()) return false;
  // 0x00RRGGBB in memory is blue, green, red, unused: the 32-bit layout.
  const uint32_t *pixels = s.gifAnimation->frame(s.gifShown[index]);
  if (!pixels) return false;
  g->frameBase = reinterpret_cast<uint8_t *>(const_cast<uint32_t *>(pixels));
  s.sourcePitch = s.kindPitch;
  g->frameBits = 32;
  g->frameDataSize = g->fileSize / static_cast<uint32_t>(s.gifAnimation->images.size());
  return true;
}

}  // namespace kav::gfile
