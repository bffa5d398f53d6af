// Buffers for expanding test frames: plane sets, alpha planes, block map and
// bundle buffers, each allocated to its exact size so that the sanitizers see
// any access past them.
#pragma once

#include <kavutil/vorn.h>

#include <cstdint>
#include <vector>

#include "support/vorn_writer.h"
#include "vorn/expand.h"

namespace kavtest {

struct VornFrameBuffers {
  uint32_t width, height, cw, ch, pitch, planeHeight;
  std::vector<uint8_t> cur, prev, alphaCur, alphaPrev, map;
  std::vector<std::vector<uint8_t>> bundles;
  void *bundlePtrs[VORN_BUNDLE_COUNT];

  VornFrameBuffers(uint32_t w, uint32_t h) : width(w), height(h) {
    cw = (((w + 1) / 2) + 7) & ~7u;
    ch = (((h + 1) / 2) + 7) & ~7u;
    pitch = 2 * cw;
    planeHeight = 2 * ch;
    size_t setBytes = size_t(pitch) * planeHeight + 2 * size_t(cw) * ch;
    cur.resize(setBytes);
    prev.resize(setBytes);
    alphaCur.resize(size_t(pitch) * planeHeight);
    alphaPrev.resize(size_t(pitch) * planeHeight);
    // The previous frame holds a position pattern, the current one the stale
    // frame from two frames back.
    for (size_t i = 0; i < setBytes; ++i) {
      prev[i] = uint8_t(i * 7 + (i >> 8) * 3);
      cur[i] = uint8_t(0xC3 ^ (i * 13));
    }
    for (size_t i = 0; i < alphaCur.size(); ++i) {
      alphaPrev[i] = uint8_t(i * 5 + 1);
      alphaCur[i] = uint8_t(0x3C ^ (i * 11));
    }
    map.assign(size_t(pitch / 16) * (planeHeight / 16), 0);
    uint32_t sizes[VORN_BUNDLE_COUNT];
    ExpandBundleSizes(sizes, pitch);
    bundles.resize(VORN_BUNDLE_COUNT);
    for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) {
      bundles[i].assign(sizes[i], 0xEE);
      bundlePtrs[i] = bundles[i].data();
    }
  }

  // Plane 0 luma, 1 and 2 chroma, 3 alpha.
  uint8_t *plane(int p) {
    if (p == 3) return alphaCur.data();
    return cur.data() + (p ? size_t(pitch) * planeHeight + (p - 1) * size_t(cw) * ch : 0);
  }
  const uint8_t *prevPlane(int p) {
    if (p == 3) return alphaPrev.data();
    return prev.data() + (p ? size_t(pitch) * planeHeight + (p - 1) * size_t(cw) * ch : 0);
  }
  uint32_t rowBytes(int p) const { return p == 1 || p == 2 ? cw : pitch; }

  kav::vorn::ExpandStatus expand(const std::vector<uint8_t> &data, uint32_t flags = 0, uint32_t headerFlags = 0) {
    kav::vorn::FrameArgs a;
    a.cur = cur.data();
    a.prev = prev.data();
    a.alphaCur = alphaCur.data();
    a.alphaPrev = alphaPrev.data();
    a.changedMap = map.data();
    a.width = width;
    a.height = height;
    a.pitch = pitch;
    a.planeHeight = planeHeight;
    a.bundles = bundlePtrs;
    a.flags = flags;
    a.headerFlags = headerFlags;
    return kav::vorn::expandFrame(a, data.data(), data.size());
  }
};

// A plane description whose rows are all skips, to be edited by a test.
inline vornw::PlaneDesc skipPlane(uint32_t w, uint32_t h) {
  vornw::PlaneDesc p;
  p.width = (w + 7) & ~7u;
  p.height = (h + 7) & ~7u;
  p.rows.assign(p.height / 8, std::vector<vornw::Block>(p.width / 8, vornw::Block::skip()));
  return p;
}

// A frame of skip planes for buffers b.
inline vornw::FrameDesc skipFrame(const VornFrameBuffers &b) {
  vornw::FrameDesc f;
  f.luma = skipPlane(b.width, b.height);
  f.alpha = f.luma;
  f.chroma[0] = skipPlane((b.width + 1) / 2, (b.height + 1) / 2);
  f.chroma[1] = f.chroma[0];
  return f;
}

}  // namespace kavtest
