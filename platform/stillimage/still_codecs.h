// The seven codecs over bytes in memory. The table's file operations read a
// file through KAVFile and hand its bytes here (an information query only a
// prefix, then the whole file when the codec asks for more); saves encode
// into memory and then write the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/stillimage/still_image.h"

namespace kav::still {

struct ByteView {
  const uint8_t *data;
  size_t size;
};
using ByteSink = std::vector<uint8_t>;

// Info: kStillNotFormat when the bytes are not of the format (checked from
// the first bytes, so a prefix suffices), kStillTruncated when the prefix
// ends before the answer. Decode: the whole file, into the descriptor as
// described in still_image.h. Encode: appends the file's bytes to out.
#define KAV_STILL_CODEC(name)                                           \
  int name##Info(ByteView in, StillInfo *info);                         \
  int name##Decode(ByteView in, StillImage *image);                     \
  int name##Encode(const StillImage &image, int32_t option, ByteSink &out);

KAV_STILL_CODEC(bmp)
KAV_STILL_CODEC(pcx)
KAV_STILL_CODEC(png)
KAV_STILL_CODEC(tga)
KAV_STILL_CODEC(tiff)
KAV_STILL_CODEC(gif)
KAV_STILL_CODEC(jpeg)
#undef KAV_STILL_CODEC

// The codecs of one format, for the table, the fuzz target and benchmarks.
struct CodecEntry {
  int (*info)(ByteView, StillInfo *);
  int (*decode)(ByteView, StillImage *);
  int (*encode)(const StillImage &, int32_t, ByteSink &);
};
const CodecEntry &stillCodec(Format format);

// Bytes an information query reads first.
inline constexpr size_t kInfoPrefixBytes = 64 * 1024;

}  // namespace kav::still
