// Animated GIF size and speed: scenes of 8-bit frames go through
// OGFilePut with OGFILE_GIF_ANIMATION, and the same frames, saved as
// single GIF stills, through ImageMagick's "convert stills -layers Optimize"
// (the usual way to make a small animation). Counters: our bytes, its
// bytes, ours / its (below 1 is smaller), and how many of its frames show
// other colours than were put (ImageMagick requantises; ours are checked
// the same way and must show none); the time is ours alone. Without
// /usr/bin/convert only our size is reported.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "platform/stillimage/still_gif_anim.h"

namespace {

constexpr const char *kConvert = "/usr/bin/convert";

struct Scene {
  const char *name;
  uint32_t width, height, frames;
  std::vector<uint8_t> (*frame)(const Scene &, uint32_t n);
  std::vector<uint8_t> (*palette)(uint32_t n);
};

uint32_t noise(uint32_t x, uint32_t y) {
  uint32_t h = x * 374761393u + y * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

std::vector<uint8_t> ramp(uint32_t) {
  std::vector<uint8_t> p(768);
  for (uint32_t i = 0; i < 256; ++i) {
    p[3 * i] = static_cast<uint8_t>(i);
    p[3 * i + 1] = static_cast<uint8_t>((i * 3) & 0xFF);
    p[3 * i + 2] = static_cast<uint8_t>(255 - i);
  }
  return p;
}

// The palette darkens over frames 20..29 (a fade), then comes back.
std::vector<uint8_t> fading(uint32_t n) {
  std::vector<uint8_t> p = ramp(0);
  if (n >= 20 && n < 30)
    for (uint8_t &c : p) c = static_cast<uint8_t>(c * (30 - n) / 10);
  return p;
}

// Sprites: a detailed still background with three moving figures.
std::vector<uint8_t> sprites(const Scene &s, uint32_t n) {
  std::vector<uint8_t> f(size_t{s.width} * s.height);
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x)
      f[y * s.width + x] = static_cast<uint8_t>(((x / 16 + y / 16) & 1) * 32 + (noise(x, y) & 7) + x / 20);
  for (uint32_t k = 0; k < 3; ++k) {
    const uint32_t cx = (40 + n * (3 + k * 2) + k * 90) % (s.width - 24), cy = 30 + k * 60 + (n * (k + 1)) % 20;
    for (uint32_t y = 0; y < 24; ++y)
      for (uint32_t x = 0; x < 24; ++x)
        if ((x - 12) * (x - 12) + (y - 12) * (y - 12) < 144)
          f[(cy + y) * s.width + cx + x] = static_cast<uint8_t>(200 + k * 16 + (x + y + n) % 16);
  }
  return f;
}

// Pan: the whole picture scrolls, every frame changes everywhere.
std::vector<uint8_t> pan(const Scene &s, uint32_t n) {
  std::vector<uint8_t> f(size_t{s.width} * s.height);
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x)
      f[y * s.width + x] = static_cast<uint8_t>((x + 2 * n) / 3 + (y * y) / 97 + (noise((x + 2 * n) / 4, y / 4) & 3));
  return f;
}

// Cartoon: flat areas, a bouncing ball, a blinking light.
std::vector<uint8_t> cartoon(const Scene &s, uint32_t n) {
  std::vector<uint8_t> f(size_t{s.width} * s.height);
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x) f[y * s.width + x] = y < s.height * 2 / 3 ? 20 : 90;
  const uint32_t bx = (n * 7) % (s.width - 30), by = 20 + ((n % 20) < 10 ? n % 10 : 10 - n % 10) * 9;
  for (uint32_t y = 0; y < 30; ++y)
    for (uint32_t x = 0; x < 30; ++x)
      if ((x - 15) * (x - 15) + (y - 15) * (y - 15) < 225) f[(by + y) * s.width + bx + x] = 240;
  if (n % 8 < 4)
    for (uint32_t y = 10; y < 18; ++y)
      for (uint32_t x = s.width - 20; x < s.width - 12; ++x) f[y * s.width + x] = 250;
  return f;
}

const Scene kScenes[] = {
    {"sprites", 320, 240, 60, sprites, ramp},
    {"pan+fade", 160, 120, 40, pan, fading},
    {"cartoon", 200, 150, 60, cartoon, ramp},
};

std::string scratch(const std::string &what) {
  return "/tmp/kav-gif-bench-" + std::to_string(getpid()) + "-" + what;
}

uint32_t writeOurs(const Scene &s, const std::string &name, bool animation,
                   const std::vector<std::vector<uint8_t>> &frames) {
  const uint32_t options = OGFILE_OVERWRITE | (animation ? OGFILE_GIF_ANIMATION : 0u);
  OGFile *o = OGFileCreate(0, name.c_str(), s.frames, 30, 1, s.width, s.height, s.width, nullptr, options, 1);
  if (!o) return 0;
  for (uint32_t n = 0; n < s.frames; ++n) OGFilePut(o, frames[n].data(), s.palette(n).data());
  return OGFileClose(o);
}

// Frames of an animation that do not show the colours put (all of them
// when it cannot be read or holds another number of frames).
uint32_t framesOff(const Scene &s, const std::string &name, const std::vector<std::vector<uint8_t>> &frames) {
  FILE *f = std::fopen(name.c_str(), "rb");
  std::vector<uint8_t> bytes;
  if (f) {
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
  }
  kav::still::GifComposed g;
  if (kav::still::gifAnimRead(bytes.data(), bytes.size(), 100000, &g) != 0 || g.frames.size() != s.frames)
    return s.frames;
  uint32_t off = 0;
  for (uint32_t n = 0; n < s.frames; ++n) {
    const std::vector<uint8_t> pal = s.palette(n);
    for (size_t i = 0; i < frames[n].size(); ++i) {
      const uint8_t *c = &pal[3 * frames[n][i]];
      if (g.frames[n].rgb[i] != (uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2])) {
        ++off;
        break;
      }
    }
  }
  return off;
}

// ImageMagick's optimised animation of the same frames, or 0 without it.
uint32_t imageMagickBytes(const Scene &s, const std::vector<std::vector<uint8_t>> &frames, uint32_t &off) {
  if (access(kConvert, X_OK) != 0) return 0;
  const std::string dir = scratch("stills");
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 0;
  writeOurs(s, dir + "/f.gif", false, frames);  // f00.gif, f01.gif, ...: each frame with its palette
  const std::string out = scratch("im.gif");
  const std::string cmd = std::string(kConvert) + " -delay 3 -loop 0 " + dir + "/f*.gif -layers Optimize " + out;
  uint32_t bytes = 0;
  if (std::system(cmd.c_str()) == 0) bytes = kavfilesize(out.c_str());
  if (bytes) off = framesOff(s, out, frames);
  if (!std::getenv("KAV_GIF_BENCH_KEEP")) std::remove(out.c_str());
  (void)std::system(("rm -rf " + dir).c_str());
  return bytes;
}

void BM_GifAnimation(benchmark::State &state) {
  const Scene &s = kScenes[state.range(0)];
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t n = 0; n < s.frames; ++n) frames.push_back(s.frame(s, n));
  const std::string name = scratch("ours.gif");
  uint32_t ours = 0;
  for (auto _ : state) ours = writeOurs(s, name, true, frames);
  const uint32_t oursOff = framesOff(s, name, frames);
  if (!std::getenv("KAV_GIF_BENCH_KEEP")) std::remove(name.c_str());
  uint32_t theirsOff = 0;
  const uint32_t theirs = imageMagickBytes(s, frames, theirsOff);
  state.SetLabel(std::string(s.name) + (theirs ? "" : " (no ImageMagick)"));
  state.counters["ours_bytes"] = ours;
  state.counters["im_bytes"] = theirs;
  state.counters["ours/im"] = theirs ? double(ours) / theirs : 0;
  state.counters["ours_off"] = oursOff;
  state.counters["im_off"] = theirsOff;
  state.counters["frames/s"] =
      benchmark::Counter(double(state.iterations()) * s.frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GifAnimation)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
