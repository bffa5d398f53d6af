// The table of the seven formats, image buffers, and the file side of the
// information query, load and save.
#include "platform/stillimage/still_image.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "platform/stillimage/still_codecs.h"

namespace kav::still {

namespace {

// A file's bytes, from kavmalloc.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(const FileBytes &) = delete;
  FileBytes &operator=(const FileBytes &) = delete;
  ~FileBytes() { kavfree(data_); }
  ByteView view() const { return {data_, size_}; }
  // Reads at most maxBytes from the start of the file; fileSize is set to the
  // whole file's size.
  int read(const char *name, size_t maxBytes, size_t *fileSize) {
    if (!name) return kStillOpenFailed;
    KAVFile *f = KAVFileOpen(0, name, KAV_FILE_READ);
    if (!f) return kStillOpenFailed;
    const uint32_t total = KAVFileSize(f);
    *fileSize = total;
    const size_t want = std::min<size_t>(total, maxBytes);
    kavfree(data_);
    data_ = nullptr;
    size_ = 0;
    int result = kStillOk;
    if (want > 0) {
      data_ = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(want)));
      if (!data_) {
        result = kStillNoMemory;
      } else {
        size_ = KAVFileGetNB(f, data_, static_cast<uint32_t>(want));
        if (size_ != want) result = kStillOpenFailed;
      }
    }
    KAVFileClose(f);
    return result;
  }

 private:
  uint8_t *data_ = nullptr;
  size_t size_ = 0;
};

// Files beyond this cannot hold a picture of at most 4096 x 4096 in any of
// the formats read here, short of padding nobody writes.
constexpr size_t kMaxFileBytes = 512u * 1024u * 1024u;

int infoFromFile(Format format, const char *name, StillInfo *info) {
  if (!info) return kStillBadImage;
  std::memset(info, 0, sizeof *info);
  const CodecEntry &codec = stillCodec(format);
  FileBytes bytes;
  size_t fileSize = 0;
  int r = bytes.read(name, kInfoPrefixBytes, &fileSize);
  if (r != kStillOk) return r;
  r = codec.info(bytes.view(), info);
  if (r == kStillTruncated && fileSize > kInfoPrefixBytes) {
    // The answer lies further in (a TIFF directory at the end, a JPEG with
    // large metadata before its frame header): read the whole file.
    if (fileSize > kMaxFileBytes) return kStillTooLarge;
    r = bytes.read(name, fileSize, &fileSize);
    if (r != kStillOk) return r;
    std::memset(info, 0, sizeof *info);
    r = codec.info(bytes.view(), info);
  }
  if (r != kStillOk) std::memset(info, 0, sizeof *info);
  return r;
}

int loadFromFile(Format format, const char *name, StillImage *image) {
  if (!image) return kStillBadImage;
  FileBytes bytes;
  size_t fileSize = 0;
  int r = bytes.read(name, kMaxFileBytes, &fileSize);
  if (r != kStillOk) return r;
  if (fileSize > kMaxFileBytes) return kStillTooLarge;
  return stillCodec(format).decode(bytes.view(), image);
}

int saveToFile(Format format, const char *name, const StillImage *image, int32_t option) {
  if (!image || !name) return kStillBadImage;
  // The picture's size, as the encoders take it, against the format's fields.
  const int32_t most = stillMaxSaveSide(format);
  const bool picture = image->pictureWidth > 0 && image->pictureWidth <= image->width &&
                       image->pictureHeight > 0 && image->pictureHeight <= image->height;
  if ((picture ? image->pictureWidth : image->width) > most || (picture ? image->pictureHeight : image->height) > most)
    return kStillTooLarge;
  ByteSink out;
  try {
    const int r = stillCodec(format).encode(*image, option, out);
    if (r != kStillOk) return r;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  if (out.size() > 0xFFFFFFF0u) return kStillTooLarge;  // past what the file layer and 32-bit offsets reach
  KAVFile *f = KAVFileCreate(0, name);
  if (!f) return kStillWriteFailed;
  const uint32_t n = static_cast<uint32_t>(out.size());
  const uint32_t put = KAVFilePutNB(f, out.data(), n);
  KAVFileFlush(f, 0);
  const bool failed = put != n || KAVFileWriteError(f);
  KAVFileClose(f);
  if (failed) {
    KAVFileErase(name);  // no half-written picture left behind
    return kStillWriteFailed;
  }
  return kStillOk;
}

template <Format F>
int infoOf(const char *name, StillInfo *info) {
  return infoFromFile(F, name, info);
}
template <Format F>
int loadOf(const char *name, StillImage *image) {
  return loadFromFile(F, name, image);
}
template <Format F>
int saveOf(const char *name, const StillImage *image, int32_t option) {
  return saveToFile(F, name, image, option);
}

#define KAV_STILL_ROW(F, label, ext, option) \
  {F, label, ext, infoOf<F>, loadOf<F>, stillAllocate, stillRelease, saveOf<F>, option}

const FormatEntry kFormats[kFormatCount] = {
    KAV_STILL_ROW(Format::Bmp, "BMP", ".bmp", 0),
    KAV_STILL_ROW(Format::Pcx, "PCX", ".pcx", 0),
    KAV_STILL_ROW(Format::Png, "PNG", ".png", 0),
    KAV_STILL_ROW(Format::Tga, "TGA", ".tga", 1),
    KAV_STILL_ROW(Format::Tiff, "TIFF", ".tif", 1),
    KAV_STILL_ROW(Format::Gif, "GIF", ".gif", 0),
    KAV_STILL_ROW(Format::Jpeg, "JPEG", ".jpg", 100),
};
#undef KAV_STILL_ROW

const CodecEntry kCodecs[kFormatCount] = {
    {bmpInfo, bmpDecode, bmpEncode},    {pcxInfo, pcxDecode, pcxEncode},
    {pngInfo, pngDecode, pngEncode},    {tgaInfo, tgaDecode, tgaEncode},
    {tiffInfo, tiffDecode, tiffEncode}, {gifInfo, gifDecode, gifEncode},
    {jpegInfo, jpegDecode, jpegEncode},
};

}  // namespace

const FormatEntry *stillFormats() { return kFormats; }
const FormatEntry &stillFormat(Format format) { return kFormats[static_cast<int>(format)]; }
const CodecEntry &stillCodec(Format format) { return kCodecs[static_cast<int>(format)]; }

int32_t stillMaxSaveSide(Format format) {
  switch (format) {
    case Format::Jpeg: return 65500;  // JPEG_MAX_DIMENSION
    case Format::Pcx: return 65534;   // the line length is even and 16-bit
    case Format::Tga:
    case Format::Gif: return 65535;
    default: return 0x7FFFFFFF;
  }
}

int stillAllocate(StillImage *image, int32_t width, int32_t height, int32_t bitsPerPixel) {
  if (!image) return kStillBadImage;
  stillRelease(image);
  switch (bitsPerPixel) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: return kStillBadImage;
  }
  if (width <= 0 || height <= 0) return kStillBadImage;
  const int64_t bits = static_cast<int64_t>(width) * bitsPerPixel;
  int64_t pitch = ((bits / 8) + 3) & ~int64_t{3};
  const int64_t spareWidthBytes = ((static_cast<int64_t>(width) - 1) * bitsPerPixel + 7) / 8;
  if (pitch < spareWidthBytes) pitch = ((bits + 31) / 32) * 4;
  if (pitch == 0) pitch = 4;
  if (pitch > 0x7FFFFFFF) return kStillTooLarge;  // the pitch is a 32-bit signed field
  const int64_t size = pitch * height;  // below 2^31 * 4 * 2^31: no overflow
  if (static_cast<uint64_t>(size) > kMaxBufferBytes) return kStillTooLarge;
  auto *buffer = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(size)));
  if (!buffer) return kStillNoMemory;
  std::memset(buffer, 0, static_cast<size_t>(size));
  image->buffer = buffer;
  image->width = width;
  image->height = height;
  image->bitsPerPixel = bitsPerPixel;
  image->pitchBytes = static_cast<int32_t>(pitch);
  image->sizeBytes = static_cast<uint32_t>(size);
  image->colours = bitsPerPixel <= 8 ? (1u << bitsPerPixel) : 0;
  image->pictureWidth = width;
  image->pictureHeight = height;
  return kStillOk;
}

int stillRelease(StillImage *image) {
  if (!image) return kStillBadImage;
  kavfree(image->buffer);
  std::memset(image, 0, sizeof *image);
  return kStillOk;
}

}  // namespace kav::still
