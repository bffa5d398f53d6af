// Fuzz target for the AVI reader: the input is written to a scratch file and
// every stream is opened, its frames decoded and its samples read.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/avi/avi_file.h"

namespace avi = kav::avi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string name = "/tmp/kav-avi-fuzz-" + std::to_string(getpid()) + ".avi";
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  for (uint32_t type : {avi::kStreamVideo, avi::kStreamAudio}) {
    for (int32_t number = 0; number < 2; ++number) {
      avi::Stream *s = avi::streamOpenFromFile(name.c_str(), type, number);
      if (!s) break;
      avi::StreamInfo info;
      avi::streamInfo(s, &info);
      const int32_t start = avi::streamStart(s), length = std::min(avi::streamLength(s), 32);
      if (avi::FrameGetter *g = avi::streamGetFrameOpen(s)) {
        for (int32_t n = start; n < start + length; ++n) avi::streamGetFrame(g, n);
        avi::streamGetFrame(g, start);
        avi::streamGetFrameClose(g);
      }
      std::vector<uint8_t> buf(1 << 16);
      for (int32_t n = start; n < start + length; ++n) {
        int32_t bytes = 0, samples = 0;
        avi::streamRead(s, n, avi::kReadConvenient, buf.data(), static_cast<int32_t>(buf.size()), &bytes, &samples);
      }
      avi::streamRelease(s);
    }
  }
  std::remove(name.c_str());
  return 0;
}
