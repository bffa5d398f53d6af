// Opens the input as a Zanther file (by name, and by descriptor at an
// offset), decodes every frame into a target and reads every sound track.
#include <fcntl.h>
#include <kavutil/zanther.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

void run(ZanthHandle *h) {
  if (!h) return;
  std::vector<uint8_t> target;
  if (static_cast<uint64_t>(h->Width) * h->Height <= (1u << 22)) {
    target.assign(static_cast<size_t>(h->Width) * h->Height, 0);
    ZanthSetTarget(h, 0, 0, static_cast<int32_t>(h->Width), h->Height, target.data(), 0);
  }
  std::vector<uint8_t> sound;
  const uint32_t frames = h->FrameCount < 200 ? h->FrameCount + 2 : 202;
  for (uint32_t i = 0; i < frames; ++i) {
    ZanthDecodeFrame(h);
    for (int t = 0; t < 7; ++t) {
      const uint64_t cap = uint64_t{h->TrackInfo[t] & 0xFFFFFF} * 8;
      if (cap > (1u << 22)) continue;
      sound.assign(cap + 1, 0);
      ZanthTrackData(h, sound.data(), ZANTH_TRACK_MASK_0 << t);
    }
    ZanthAdvance(h);
  }
  ZanthSeek(h, 2);
  ZanthDecodeFrame(h);
  ZanthClose(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static kavtest::TempDir dir;
  const std::string name = dir.file("fuzz.znt");
  std::vector<uint8_t> bytes(data, data + size);
  kavtest::writeFile(name, bytes);
  run(ZanthOpen(name.c_str(), KAV_INVALID_OS_FILE, 0, 0));
  // The same stream behind a 100-byte prefix, by descriptor.
  bytes.insert(bytes.begin(), 100, 0);
  kavtest::writeFile(name, bytes);
  const int fd = ::open(name.c_str(), O_RDONLY);
  if (fd >= 0) {
    if (::lseek(fd, 100, SEEK_SET) == 100) run(ZanthOpen(nullptr, fd, ZANTH_OPEN_HANDLE, 0));
    ::close(fd);
  }
  return 0;
}
