// Reading an animated GIF back as whole pictures: each image block is drawn
// over what the screen showed, after the previous frame's disposal, the way
// a viewer plays it. The images are decoded once and kept as indices; the
// frames are composed one after another as they are asked for. Every size
// is checked before anything is allocated for it, and parts of a frame
// outside the screen are dropped.
#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/stillimage/still_gif_anim.h"

namespace kav::still {

namespace {

struct MemoryInput {
  const uint8_t *data;
  size_t size, pos;
  bool ranOut;
};

int readMemory(GifFileType *g, GifByteType *dest, int n) {
  auto *s = static_cast<MemoryInput *>(g->UserData);
  if (n <= 0) return 0;
  const size_t take = std::min<size_t>(static_cast<size_t>(n), s->size - s->pos);
  if (take < static_cast<size_t>(n)) s->ranOut = true;
  std::memcpy(dest, s->data + s->pos, take);
  s->pos += take;
  return static_cast<int>(take);
}

struct Closer {
  void operator()(GifFileType *g) const {
    int err = 0;
    DGifCloseFile(g, &err);
  }
};

struct Control {
  uint16_t delay = 0;
  int disposal = DISPOSAL_UNSPECIFIED;
  int transparent = NO_TRANSPARENT_COLOR;
};

int readImages(GifFileType *g, const MemoryInput &input, uint32_t maxFrames, uint64_t maxImageBytes, GifPlayer *out) {
  auto failure = [&] { return input.ranOut ? kStillTruncated : kStillCorrupt; };
  if (g->SWidth <= 0 || g->SHeight <= 0) return kStillCorrupt;
  if (g->SWidth > kMaxSide || g->SHeight > kMaxSide) return kStillTooLarge;
  const uint32_t w = static_cast<uint32_t>(g->SWidth), h = static_cast<uint32_t>(g->SHeight);
  out->width = w;
  out->height = h;
  out->globalTable = g->SColorMap != nullptr;
  std::vector<GifPixelType> line;
  Control next;
  uint64_t bytes = 0;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(g, &type) == GIF_ERROR) return failure();
    if (type == TERMINATE_RECORD_TYPE) return kStillOk;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType *block = nullptr;
      if (DGifGetExtension(g, &code, &block) == GIF_ERROR) return failure();
      if (code == GRAPHICS_EXT_FUNC_CODE && block) {
        GraphicsControlBlock gcb{};
        if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_ERROR) return kStillCorrupt;
        next.delay = static_cast<uint16_t>(gcb.DelayTime);
        next.disposal = gcb.DisposalMode;
        next.transparent = gcb.TransparentColor;
      }
      const bool netscape =
          code == APPLICATION_EXT_FUNC_CODE && block && block[0] == 11 && std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0;
      while (block) {
        if (DGifGetExtensionNext(g, &block) == GIF_ERROR) return failure();
        if (netscape && block && block[0] >= 3 && block[1] == 1) out->loopCount = block[2] | block[3] << 8;
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) return kStillCorrupt;
    if (DGifGetImageDesc(g) == GIF_ERROR) return failure();
    if (out->images.size() >= maxFrames) return kStillTooLarge;
    const GifImageDesc &d = g->Image;
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return kStillCorrupt;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : g->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return kStillCorrupt;
    GifImage image;
    image.left = static_cast<uint32_t>(d.Left);
    image.top = static_cast<uint32_t>(d.Top);
    image.width = static_cast<uint32_t>(d.Width);
    image.height = static_cast<uint32_t>(d.Height);
    // Parts outside the screen are dropped.
    image.clipLeft = std::min(image.left, w);
    image.clipTop = std::min(image.top, h);
    image.clipRight = std::min(image.clipLeft + image.width, w);
    image.clipBottom = std::min(image.clipTop + image.height, h);
    const size_t across = image.clipRight - image.clipLeft;
    bytes += sizeof image + across * (image.clipBottom - image.clipTop);
    if (bytes > maxImageBytes) return kStillTooLarge;
    image.indices.resize(across * (image.clipBottom - image.clipTop));
    for (int i = 0; i < 256; ++i) {
      const GifColorType &c = map->Colors[i < map->ColorCount ? i : 0];
      image.colours[i] = uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
    }
    image.transparentIndex = next.transparent;
    image.disposal = next.disposal;
    image.delayHundredths = next.delay;
    image.localTable = d.ColorMap != nullptr;
    line.resize(static_cast<size_t>(d.Width));
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (int row = start; row < d.Height; row += step) {
        if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) return failure();
        const uint32_t y = image.top + static_cast<uint32_t>(row);
        if (y >= image.clipBottom || across == 0) continue;
        std::memcpy(image.indices.data() + (y - image.clipTop) * across, line.data() + (image.clipLeft - image.left),
                    across);
      }
    }
    out->images.push_back(std::move(image));
    next = Control{};
  }
}
}  // namespace

int GifPlayer::read(const uint8_t *data, size_t size, uint32_t maxFrames, uint64_t maxImageBytes) {
  *this = GifPlayer{};
  if (!data) return kStillBadImage;
  if (size < 6 || std::memcmp(data, "GIF", 3) != 0) return kStillNotFormat;
  MemoryInput input{data, size, 0, false};
  try {
    int err = 0;
    std::unique_ptr<GifFileType, Closer> g(DGifOpen(&input, readMemory, &err));
    if (!g) return input.ranOut ? kStillTruncated : kStillCorrupt;
    return readImages(g.get(), input, maxFrames, maxImageBytes, this);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

int GifPlayer::readFile(const char *path, uint32_t maxFrames, uint64_t maxImageBytes) {
  *this = GifPlayer{};
  if (!path) return kStillBadImage;
  std::FILE *f = std::fopen(path, "rb");
  if (!f) return kStillOpenFailed;
  std::vector<uint8_t> data;
  char head[3] = {};
  bool ok = std::fread(head, 1, 3, f) == 3 && std::memcmp(head, "GIF", 3) == 0;
  if (!ok) {
    std::fclose(f);
    return kStillNotFormat;
  }
  try {
    ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = size > 0 && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) data.resize(static_cast<size_t>(size));
    ok = ok && std::fread(data.data(), 1, data.size(), f) == data.size();
  } catch (const std::bad_alloc &) {
    std::fclose(f);
    return kStillNoMemory;
  }
  std::fclose(f);
  if (!ok) return kStillOpenFailed;
  return read(data.data(), data.size(), maxFrames, maxImageBytes);
}

void GifPlayer::draw(size_t index) {
  const uint32_t w = width;
  // The previous image's disposal, then this image over the result.
  if (index > 0) {
    const GifImage &last = images[index - 1];
    if (last.disposal == DISPOSE_BACKGROUND) {
      for (uint32_t y = last.clipTop; y < last.clipBottom; ++y)
        std::fill(screen_.begin() + y * w + last.clipLeft, screen_.begin() + y * w + last.clipRight, 0u);
    } else if (last.disposal == DISPOSE_PREVIOUS && !saved_.empty()) {
      screen_ = saved_;
    }
  }
  const GifImage &image = images[index];
  if (image.disposal == DISPOSE_PREVIOUS) saved_ = screen_;
  const size_t across = image.clipRight - image.clipLeft;
  for (uint32_t y = image.clipTop; y < image.clipBottom; ++y) {
    const uint8_t *src = image.indices.data() + (y - image.clipTop) * across;
    uint32_t *dst = screen_.data() + size_t{y} * w + image.clipLeft;
    for (size_t x = 0; x < across; ++x)
      if (src[x] != image.transparentIndex) dst[x] = image.colours[src[x]];
  }
}

const uint32_t *GifPlayer::frame(size_t index) {
  if (index >= images.size()) return nullptr;
  if (drawn_ > index + 1 || screen_.empty()) {
    screen_.assign(size_t{width} * height, 0);
    saved_.clear();
    drawn_ = 0;
  }
  while (drawn_ <= index) draw(drawn_++);
  return screen_.data();
}

int gifAnimRead(const uint8_t *data, size_t size, uint32_t maxFrames, GifComposed *out) {
  if (!data || !out) return kStillBadImage;
  *out = GifComposed{};
  GifPlayer player;
  const int r = player.read(data, size, maxFrames, ~uint64_t{0});
  try {
    out->width = player.width;
    out->height = player.height;
    out->loopCount = player.loopCount;
    out->globalTable = player.globalTable;
    for (size_t i = 0; i < player.images.size(); ++i) {
      const GifImage &image = player.images[i];
      const uint32_t *screen = player.frame(i);
      GifComposedFrame frame;
      frame.rgb.assign(screen, screen + size_t{player.width} * player.height);
      frame.delayHundredths = image.delayHundredths;
      frame.localTable = image.localTable;
      frame.left = image.left;
      frame.top = image.top;
      frame.width = image.width;
      frame.height = image.height;
      frame.transparentIndex = image.transparentIndex;
      out->frames.push_back(std::move(frame));
    }
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  return r;
}

}  // namespace kav::still
