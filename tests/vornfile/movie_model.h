// Test movies: video frames written with the frame writer together with the
// plane set they must decode to, and a builder of whole files around them.
#pragma once

#include <kavutil/vornfile.h>
#include <kavutil/yuv.h>

#include <array>
#include <cstdint>
#include <vector>

#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"

namespace kavtest {

struct MovieOptions {
  uint32_t width = 40, height = 24;
  bool alpha = false, grey = false;
  char version = 'i';
};

// Key frames are raw blocks of pseudo-random pixels; inter frames keep the
// previous picture (skips) and fill a few blocks.
class MovieModel {
 public:
  explicit MovieModel(const MovieOptions &o) : o_(o) {
    cw = (((o.width + 1) / 2) + 7) & ~7u;
    ch = (((o.height + 1) / 2) + 7) & ~7u;
    pitch = 2 * cw;
    planeHeight = 2 * ch;
    planes.assign(size_t(pitch) * planeHeight + 2 * size_t(cw) * ch, 0);
    alpha.assign(size_t(pitch) * planeHeight, 0);
  }

  std::vector<uint8_t> frame(bool key, uint32_t seed) {
    const bool old = o_.version != 'i';
    vornw::FrameDesc f;
    f.oldRevision = old;
    f.grey = o_.grey;
    f.alphaSection = o_.alpha;
    f.luma = plane(o_.width, o_.height, key, seed, planes.data(), pitch);
    if (o_.alpha) f.alpha = plane(o_.width, o_.height, key, seed ^ 0xA1FA, alpha.data(), pitch);
    if (!o_.grey)
      for (int p = 0; p < 2; ++p)
        f.chroma[p] = plane((o_.width + 1) / 2, (o_.height + 1) / 2, key, seed * 3 + p + 1,
                            planes.data() + size_t(pitch) * planeHeight + p * size_t(cw) * ch, cw);
    f.luma.oldRevision = f.alpha.oldRevision = f.chroma[0].oldRevision = f.chroma[1].oldRevision = old;
    return vornw::writeFrame(f);
  }

  uint32_t cw, ch, pitch, planeHeight;
  std::vector<uint8_t> planes, alpha;  // the picture after the last frame made

 private:
  static uint32_t next(uint32_t &s) {
    s = s * 1103515245u + 12345u;
    return s >> 16;
  }

  // Writes the plane's description and applies it to `pixels`.
  // Colours avoid 0, which the older revision's sign-and-magnitude values
  // cannot express.
  uint8_t colour(uint32_t &s) { return o_.version == 'i' ? uint8_t(next(s)) : uint8_t(1 + next(s) % 255); }

  vornw::PlaneDesc plane(uint32_t w, uint32_t h, bool key, uint32_t seed, uint8_t *pixels, uint32_t rowBytes) {
    vornw::PlaneDesc p;
    p.width = (w + 7) & ~7u;
    p.height = (h + 7) & ~7u;
    uint32_t s = seed * 7919u + 17;
    p.rows.assign(p.height / 8, {});
    for (uint32_t by = 0; by < p.height / 8; ++by)
      for (uint32_t bx = 0; bx < p.width / 8; ++bx) {
        uint8_t *at = pixels + size_t(by) * 8 * rowBytes + bx * 8;
        if (key) {
          std::array<uint8_t, 64> px;
          for (auto &v : px) v = colour(s);
          p.rows[by].push_back(vornw::Block::raw(px));
          for (int j = 0; j < 8; ++j)
            for (int k = 0; k < 8; ++k) at[j * rowBytes + k] = px[j * 8 + k];
        } else if (next(s) % 5 == 0) {
          uint8_t c = colour(s);
          p.rows[by].push_back(vornw::Block::fill(c));
          for (int j = 0; j < 8; ++j)
            for (int k = 0; k < 8; ++k) at[j * rowBytes + k] = c;
        } else {
          p.rows[by].push_back(vornw::Block::skip());
        }
      }
    return p;
  }

  MovieOptions o_;
};

// A whole movie: frames (key every `keyEvery`), their expected plane sets
// and alpha planes, and the file bytes.
struct Movie {
  vornf::FileDesc desc;
  std::vector<std::vector<uint8_t>> planes, alpha;
  std::vector<uint8_t> bytes;
  uint32_t cw = 0, ch = 0, pitch = 0, planeHeight = 0;
};

inline Movie makeMovie(const MovieOptions &o, uint32_t frames, uint32_t keyEvery,
                       std::vector<vornf::SoundTrackEncoder *> tracks = {}, unsigned blocksPerFrame = 1) {
  Movie m;
  MovieModel model(o);
  m.cw = model.cw, m.ch = model.ch, m.pitch = model.pitch, m.planeHeight = model.planeHeight;
  m.desc.version = o.version;
  m.desc.width = o.width;
  m.desc.height = o.height;
  m.desc.videoFlags = (o.alpha ? 0x100000u : 0) | (o.grey ? 0x20000u : 0);
  for (size_t t = 0; t < tracks.size(); ++t) m.desc.tracks.push_back({0, uint32_t(100 + t), {}});
  for (uint32_t i = 0; i < frames; ++i) {
    vornf::Frame f;
    f.key = i % keyEvery == 0;
    for (auto *t : tracks) f.sound.push_back(t->chunk(blocksPerFrame));
    f.video = model.frame(f.key, i + 1);
    m.desc.frames.push_back(std::move(f));
    m.planes.push_back(model.planes);
    m.alpha.push_back(model.alpha);
  }
  m.bytes = vornf::writeFile(m.desc);
  return m;
}

}  // namespace kavtest

#include "support/temp_dir.h"
#include "vorn/vorn_handle.h"

namespace kavtest {

constexpr uint32_t kGraphicsFlags = 0x8104000;  // as the graphics input opens
constexpr uint32_t kSoundFlags = 0x8004000;

// Writes the bytes to a scratch file and opens it by name.
inline VornHandle *openBytes(const TempDir &dir, const std::vector<uint8_t> &bytes, uint32_t flags = kGraphicsFlags,
                             const char *name = "movie.vrn") {
  writeFile(dir.file(name), bytes);
  VornSetPreferredTrack(-1);
  return VornOpen(dir.file(name).c_str(), KAV_INVALID_OS_FILE, flags);
}

inline kav::vorn::VornHandleRecord &rec(VornHandle *h) { return *kav::vorn::record(h); }

// The current picture as the plane set the handle shows.
inline std::vector<uint8_t> currentPlanes(VornHandle *h) {
  size_t bytes = size_t(h->lumaWidth) * h->lumaHeight + 2 * size_t(h->chromaWidth) * h->chromaHeight;
  const uint8_t *p = h->planeSets[h->currentSet];
  return std::vector<uint8_t>(p, p + bytes);
}

// The converter's output for a plane set, the reference for copies.
inline std::vector<uint8_t> blitPlanes(const std::vector<uint8_t> &planes, const std::vector<uint8_t> *alpha,
                                       uint32_t w, uint32_t h, uint32_t pitch, uint32_t planeHeight,
                                       uint32_t flags) {
  std::vector<uint8_t> out(size_t(w) * h * 4, 0xCD);
  YUV_init(int32_t(flags & 15));
  if (alpha)
    YUV_blit_32abpp(out.data(), 0, 0, int32_t(w * 4), planes.data(), 0, 0, int32_t(w), int32_t(h), int32_t(pitch),
                    int32_t(planeHeight), alpha->data(), flags);
  else
    YUV_blit_32bpp(out.data(), 0, 0, int32_t(w * 4), planes.data(), 0, 0, int32_t(w), int32_t(h), int32_t(pitch),
                   int32_t(planeHeight), flags);
  return out;
}

}  // namespace kavtest
