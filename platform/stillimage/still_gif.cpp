// GIF through giflib: the first frame, interlaced or not, placed on the
// logical screen filled with the background colour. Saving writes one
// 8-bit frame with a 256-entry global colour map.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_pixels.h"

namespace kav::still {

namespace {

struct GifInput {
  ByteView in;
  size_t pos;
  bool ranOut;
};

int readBytes(GifFileType *g, GifByteType *dest, int n) {
  auto *s = static_cast<GifInput *>(g->UserData);
  if (n <= 0) return 0;
  const size_t take = std::min<size_t>(static_cast<size_t>(n), s->in.size - s->pos);
  if (take < static_cast<size_t>(n)) s->ranOut = true;
  std::memcpy(dest, s->in.data + s->pos, take);
  s->pos += take;
  return static_cast<int>(take);
}

bool hasSignature(ByteView in) {
  return in.size >= 6 && std::memcmp(in.data, "GIF", 3) == 0 &&
         (std::memcmp(in.data + 3, "87a", 3) == 0 || std::memcmp(in.data + 3, "89a", 3) == 0);
}

class GifReader {
 public:
  explicit GifReader(ByteView in) : input_{in, 0, false} {
    int err = 0;
    gif_ = DGifOpen(&input_, readBytes, &err);
  }
  ~GifReader() {
    int err = 0;
    if (gif_) DGifCloseFile(gif_, &err);
  }
  GifReader(const GifReader &) = delete;
  GifReader &operator=(const GifReader &) = delete;
  GifFileType *get() const { return gif_; }
  int failure() const { return input_.ranOut ? kStillTruncated : kStillCorrupt; }

  // Skips extensions up to the first image descriptor and reads it.
  bool toFirstImage() {
    for (;;) {
      GifRecordType type;
      if (DGifGetRecordType(gif_, &type) == GIF_ERROR) return false;
      if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif_) != GIF_ERROR;
      if (type == TERMINATE_RECORD_TYPE) return false;
      if (type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType *block = nullptr;
        if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR) return false;
        while (block)
          if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR) return false;
      }
    }
  }

 private:
  GifInput input_;
  GifFileType *gif_ = nullptr;
};

// The picture's size: the logical screen, or the first frame's extent when
// the screen claims to be empty.
void canvasOf(const GifFileType *g, int32_t &w, int32_t &h) {
  w = g->SWidth;
  h = g->SHeight;
  if (w <= 0 || h <= 0) {
    w = g->Image.Left + g->Image.Width;
    h = g->Image.Top + g->Image.Height;
  }
}

}  // namespace

int gifInfo(ByteView in, StillInfo *info) {
  if (!hasSignature(in)) return in.size < 6 && in.size >= 3 && std::memcmp(in.data, "GIF", 3) == 0
                                    ? kStillTruncated : kStillNotFormat;
  GifReader gif(in);
  GifFileType *g = gif.get();
  if (!g) return gif.failure();
  if (!gif.toFirstImage()) return gif.failure();
  int32_t w, h;
  canvasOf(g, w, h);
  if (w <= 0 || h <= 0) return kStillCorrupt;
  const ColorMapObject *map = g->SColorMap ? g->SColorMap : g->Image.ColorMap;
  info->width = w;
  info->height = h;
  info->bitsPerPixel = map ? map->BitsPerPixel : 8;
  info->compression = 0;
  return kStillOk;
}

int gifDecode(ByteView in, StillImage *image) {
  if (!hasSignature(in)) return kStillNotFormat;
  if (!image) return kStillBadImage;
  try {
    GifReader gif(in);
    GifFileType *g = gif.get();
    if (!g) return gif.failure();
    if (!gif.toFirstImage()) return gif.failure();
    int32_t w, h;
    canvasOf(g, w, h);
    const GifImageDesc &d = g->Image;
    if (w <= 0 || h <= 0 || d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return kStillCorrupt;
    if (w > kMaxSide || h > kMaxSide || d.Width > kMaxSide || d.Height > kMaxSide) return kStillTooLarge;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : g->SColorMap;
    Palette pal;
    int bits = 8;
    if (map && map->Colors && map->ColorCount > 0) {
      clearPalette(pal);
      const int n = std::min(map->ColorCount, 256);
      for (int i = 0; i < n; ++i) {
        pal.bgrx[i][0] = map->Colors[i].Blue;
        pal.bgrx[i][1] = map->Colors[i].Green;
        pal.bgrx[i][2] = map->Colors[i].Red;
      }
      pal.colours = static_cast<uint32_t>(n);
      bits = std::clamp(map->BitsPerPixel, 1, 8);
    } else {
      greyPalette(pal, 8);
    }
    const unsigned limit = 1u << bits;  // indices past the map become 0
    const auto background = static_cast<uint8_t>(
        static_cast<unsigned>(g->SBackGroundColor) < limit ? g->SBackGroundColor : 0);
    std::vector<uint8_t> canvas(static_cast<size_t>(w) * h, background);
    std::vector<uint8_t> line(static_cast<size_t>(d.Width));
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (int row = start; row < d.Height; row += step) {
        if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) return gif.failure();
        const int32_t y = d.Top + row;
        if (y >= h || d.Left >= w) continue;
        const int32_t n = std::min<int32_t>(d.Width, w - d.Left);
        uint8_t *dst = canvas.data() + static_cast<size_t>(y) * w + d.Left;
        for (int32_t i = 0; i < n; ++i) dst[i] = line[i] < limit ? line[i] : 0;
      }
    }
    RowSink sink;
    const int r = sink.begin(image, w, h, PixelKind::Indexed8, &pal, bits);
    if (r != kStillOk) return r;
    for (int32_t y = 0; y < h; ++y) {
      std::memcpy(sink.row(y), canvas.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w));
      sink.commit(y);
    }
    sink.finish(true);
    return kStillOk;
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

namespace {

int writeBytes(GifFileType *g, const GifByteType *src, int n) {
  auto *out = static_cast<ByteSink *>(g->UserData);
  try {
    out->insert(out->end(), src, src + n);
  } catch (const std::bad_alloc &) {
    return 0;
  }
  return n;
}

}  // namespace

// Only paletted descriptors can be written; others are refused.
int gifEncode(const StillImage &image, int32_t, ByteSink &out) {
  if (image.bitsPerPixel > 8) return kStillUnsupported;
  RowSource rows;
  const int r = rows.begin(image, true);
  if (r != kStillOk) return r;
  const int w = rows.width(), h = rows.height();
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) {
    colours[i].Red = image.palette[i][2];
    colours[i].Green = image.palette[i][1];
    colours[i].Blue = image.palette[i][0];
  }
  ColorMapObject *map = GifMakeMapObject(256, colours);
  if (!map) return kStillNoMemory;
  int err = 0;
  GifFileType *g = EGifOpen(&out, writeBytes, &err);
  if (!g) {
    GifFreeMapObject(map);
    return kStillNoMemory;
  }
  bool ok = EGifPutScreenDesc(g, w, h, 8, 0, map) != GIF_ERROR && EGifPutImageDesc(g, 0, 0, w, h, false, nullptr) != GIF_ERROR;
  // giflib masks the pixels of the line it is given in place.
  std::vector<GifPixelType> line(static_cast<size_t>(w));
  for (int y = 0; ok && y < h; ++y) {
    std::memcpy(line.data(), rows.row(y), static_cast<size_t>(w));
    ok = EGifPutLine(g, line.data(), w) != GIF_ERROR;
  }
  if (EGifCloseFile(g, &err) == GIF_ERROR) ok = false;
  GifFreeMapObject(map);
  return ok ? kStillOk : kStillWriteFailed;
}

}  // namespace kav::still
