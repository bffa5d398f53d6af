// A Vorn movie for tests that need one to read, not the coder's corners:
// `frames` key frames of fill blocks whose levels move from frame to frame,
// ten a second, no sound.
#pragma once

#include <cstdint>
#include <vector>

#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"

namespace kavtest::vornf {

inline std::vector<uint8_t> fillMovie(uint32_t w, uint32_t h, int frames) {
  using vornw::fillPlane;
  FileDesc d;
  d.width = w;
  d.height = h;
  d.rateNumerator = 10;
  for (int n = 0; n < frames; ++n) {
    vornw::FrameDesc f;
    f.luma = fillPlane(w, h, static_cast<uint8_t>(40 + n * 20));
    f.chroma[0] = fillPlane(w / 2, h / 2, 100);
    f.chroma[1] = fillPlane(w / 2, h / 2, static_cast<uint8_t>(150 - n * 10));
    Frame fr;
    fr.key = true;
    fr.video = vornw::writeFrame(f);
    d.frames.push_back(fr);
  }
  return writeFile(d);
}

}  // namespace kavtest::vornf
