// Fuzz target: every format's information query and load over the same
// bytes, loading both into a buffer of the picture's own size and into one
// shaped as the graphics input allocates it (a spare column, 8 or 24 bits).
#include <cstddef>
#include <cstdint>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_image.h"

using namespace kav::still;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const ByteView in{data, size};
  for (int i = 0; i < kFormatCount; ++i) {
    const CodecEntry &codec = stillCodec(static_cast<Format>(i));
    StillInfo info{};
    if (codec.info(in, &info) != kStillOk) continue;
    // Keep each run quick: the size limit itself is tested elsewhere.
    if (info.width <= 0 || info.height <= 0 || static_cast<int64_t>(info.width) * info.height > (1 << 20)) continue;
    StillImage own{};
    codec.decode(in, &own);
    stillRelease(&own);
    StillImage shaped{};
    if (stillAllocate(&shaped, info.width + 1, info.height, info.bitsPerPixel <= 8 ? 8 : 24) == kStillOk)
      codec.decode(in, &shaped);
    stillRelease(&shaped);
  }
  return 0;
}
