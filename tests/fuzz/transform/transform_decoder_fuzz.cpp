// Fuzz target for the transform frame decoder. The first byte picks the
// stream (rate and channels); the rest is decoded frame after frame, each
// frame given only the bytes that remain.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sound/transform_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace kav::sound;
  if (size < 1) return 0;
  static const uint32_t kRates[4] = {11025, 22050, 44100, 16000};
  const uint32_t rate = kRates[data[0] & 3];
  const uint32_t channels = (data[0] & 4) ? 2 : 1;
  TransformDecoder *d = transformDecoderCreate(rate, channels, (data[0] & 8) ? 0 : kTransformDecoderSmall);
  if (!d) return 0;
  // A copy of exactly the remaining size, so any read past it is caught.
  std::vector<uint8_t> rest(data + 1, data + size);
  size_t pos = 0;
  while (pos < rest.size()) {
    const size_t left = rest.size() - pos;
    const TransformDecodedFrame f = transformDecodeFrame(d, rest.data() + pos, left);
    if (f.frameBytes == 0 || f.frameBytes > left || f.next != rest.data() + pos + f.frameBytes) std::abort();
    if (f.sampleBytes != (d->geometry.frameLength - d->geometry.overlap) * 2) std::abort();
    pos += f.frameBytes;
    if (f.truncated) break;
  }
  transformFree(d);
  return 0;
}
