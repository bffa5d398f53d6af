// The one wrapper for the last pixels of a bulk span that do not fill a
// vector: they are staged through scratch rows of a full vector's width, so
// a kernel that always converts kWidth pixels never reads or writes past the
// caller's rows (which may end exactly at the end of an allocation).
#pragma once

#include <cassert>
#include <cstring>

#include "vorn/yuv_rows.h"

namespace kav::yuv {

template <int kWidth>
class TailStage {
 public:
  // Copies in what pixels [offset, offset + count) of s read, and returns a
  // span over the scratch rows with the same phase.
  Span stage(const Span &s, int32_t offset, int32_t count) {
    assert(count > 0 && count < kWidth && offset % 2 == 0);
    const int32_t chromaCount = ((s.phase + count - 1) >> 1) + 1;
    Span t{};
    for (int r = 0; r < 2; ++r) {
      std::memcpy(luma_[r], s.luma[r] + offset, static_cast<size_t>(count));
      t.luma[r] = luma_[r];
      if (s.alpha[0]) {
        std::memcpy(alpha_[r], s.alpha[r] + offset, static_cast<size_t>(count));
        t.alpha[r] = alpha_[r];
      }
      t.dst[r] = dst_[r];
    }
    std::memcpy(chroma1_, s.chroma1 + offset / 2, static_cast<size_t>(chromaCount));
    std::memcpy(chroma2_, s.chroma2 + offset / 2, static_cast<size_t>(chromaCount));
    t.chroma1 = chroma1_;
    t.chroma2 = chroma2_;
    t.n = kWidth;
    t.phase = s.phase;
    return t;
  }

  // Copies the converted pixels out to both rows of s.
  void unstage(const Span &s, int32_t offset, int32_t count, int32_t bytesPerPixel) const {
    for (int r = 0; r < 2; ++r) {
      std::memcpy(s.dst[r] + offset * bytesPerPixel, dst_[r], static_cast<size_t>(count * bytesPerPixel));
    }
  }

 private:
  // Zero-filled so that the unused lanes convert defined values.
  alignas(32) uint8_t luma_[2][kWidth] = {};
  alignas(32) uint8_t alpha_[2][kWidth] = {};
  alignas(32) uint8_t chroma1_[kWidth] = {};
  alignas(32) uint8_t chroma2_[kWidth] = {};
  alignas(32) uint8_t dst_[2][kWidth * 8];
};

}  // namespace kav::yuv
