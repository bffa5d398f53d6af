// Whole files with random damage: every operation on whatever opens must
// stay inside its buffers (run under the sanitizers).
#include <gtest/gtest.h>

#include <random>

#include "movie_model.h"

using namespace kavtest;

namespace {

// Opens the bytes and drives every operation a caller has.
void exercise(const TempDir &dir, const std::vector<uint8_t> &bytes, std::mt19937 &rng) {
  VornHandle *h = openBytes(dir, bytes, kGraphicsFlags);
  if (!h) return;
  std::vector<VornTrack *> tracks;
  for (uint32_t t = 0; t < h->trackCount && t < 4; ++t)
    if (VornTrack *r = VornTrackOpen(h, t)) tracks.push_back(r);
  const uint32_t w = std::min(h->width, 200u), ht = std::min(h->height, 200u);
  std::vector<uint8_t> picture(size_t(w) * ht * 4);
  std::vector<uint8_t> sound;
  for (uint32_t i = 0; i < std::min(h->frameCount, 12u) + 2; ++i) {
    if (i == 5) VornGoto(h, rng() % (h->frameCount + 2), rng() % 2);
    VornDecodeFrame(h);
    VornCopyToBuffer(h, picture.data(), int32_t(w * 4), ht, 0, 0, i % 2 ? 5 : 3);
    for (VornTrack *r : tracks) {
      sound.resize(std::min(r->bufferBytes, 1u << 20));
      if (sound.size() == r->bufferBytes) VornTrackRead(r, sound.data());
    }
    VornNextFrame(h);
  }
  for (VornTrack *r : tracks) VornTrackClose(r);
  VornClose(h);
}

}  // namespace

TEST(VornMutation, RandomDamageToWholeFilesNeverLeavesTheBuffers) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> seeds;
  vornf::SoundTrackEncoder a(22050, 1, 1), b(11025, 2, 2);
  MovieOptions o;
  o.alpha = true;
  Movie m = makeMovie(o, 6, 3, {&a, &b});
  m.desc.tracks[0].descriptor = vornf::descriptor(22050, false, true);
  m.desc.tracks[1].descriptor = vornf::descriptor(11025, true, false);
  for (uint32_t rate : {1u, 30u}) {
    m.desc.rateNumerator = rate;
    seeds.push_back(vornf::writeFile(m.desc));
  }
  MovieOptions g;
  g.grey = true;
  g.version = 'h';
  g.width = 23;
  g.height = 17;
  Movie grey = makeMovie(g, 5, 5);
  grey.desc.rateNumerator = 1;
  seeds.push_back(vornf::writeFile(grey.desc));

  std::mt19937 rng(12345);
  for (int iteration = 0; iteration < 600; ++iteration) {
    std::vector<uint8_t> bytes = seeds[iteration % seeds.size()];
    switch (rng() % 4) {
      case 0:  // a few random bytes anywhere
        for (int k = 0, n = 1 + rng() % 6; k < n; ++k) bytes[rng() % bytes.size()] = uint8_t(rng());
        break;
      case 1:  // damage in the header and tables
        for (int k = 0, n = 1 + rng() % 3; k < n; ++k) bytes[rng() % std::min<size_t>(bytes.size(), 120)] ^= uint8_t(1u << (rng() % 8));
        break;
      case 2:  // a whole 32-bit word in the frames
        vornf::setLe32(bytes, 120 + rng() % (bytes.size() - 124), rng());
        break;
      default:  // cut short
        bytes.resize(rng() % bytes.size());
        break;
    }
    // Keep the picture small: a damaged size field may ask for planes of
    // hundreds of megabytes, which is allowed but slow.
    if (bytes.size() >= 28 && (vornf::getLe32(bytes, 20) > 1024 || vornf::getLe32(bytes, 24) > 1024)) continue;
    exercise(dir, bytes, rng);
  }
}
