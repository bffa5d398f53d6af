// Reading an animated GIF back as whole pictures: each image block is drawn
// over what the screen showed, after the previous frame's disposal, the way
// a viewer plays it. Every size is checked before anything is allocated for
// it, and parts of a frame outside the screen are dropped.
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

int readFrames(GifFileType *g, const MemoryInput &input, uint32_t maxFrames, GifComposed *out) {
  auto failure = [&] { return input.ranOut ? kStillTruncated : kStillCorrupt; };
  if (g->SWidth <= 0 || g->SHeight <= 0) return kStillCorrupt;
  if (g->SWidth > kMaxSide || g->SHeight > kMaxSide) return kStillTooLarge;
  const uint32_t w = static_cast<uint32_t>(g->SWidth), h = static_cast<uint32_t>(g->SHeight);
  out->width = w;
  out->height = h;
  out->globalTable = g->SColorMap != nullptr;
  std::vector<uint32_t> screen(size_t{w} * h, 0), saved;
  std::vector<GifPixelType> line;
  Control next, last;
  uint32_t lastLeft = 0, lastTop = 0, lastRight = 0, lastBottom = 0;  // clipped, exclusive ends
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
    if (out->frames.size() >= maxFrames) return kStillTooLarge;
    const GifImageDesc &d = g->Image;
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return kStillCorrupt;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : g->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return kStillCorrupt;

    // The previous frame's disposal, then this frame over the result.
    if (last.disposal == DISPOSE_BACKGROUND) {
      for (uint32_t y = lastTop; y < lastBottom; ++y)
        std::fill(screen.begin() + y * w + lastLeft, screen.begin() + y * w + lastRight, 0u);
    } else if (last.disposal == DISPOSE_PREVIOUS && !saved.empty()) {
      screen = saved;
    }
    if (next.disposal == DISPOSE_PREVIOUS) saved = screen;
    const uint32_t left = std::min<uint32_t>(static_cast<uint32_t>(d.Left), w);
    const uint32_t top = std::min<uint32_t>(static_cast<uint32_t>(d.Top), h);
    const uint32_t right = std::min<uint32_t>(left + static_cast<uint32_t>(d.Width), w);
    const uint32_t bottom = std::min<uint32_t>(top + static_cast<uint32_t>(d.Height), h);
    line.resize(static_cast<size_t>(d.Width));
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (int row = start; row < d.Height; row += step) {
        if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) return failure();
        const uint32_t y = static_cast<uint32_t>(d.Top) + static_cast<uint32_t>(row);
        if (y >= bottom) continue;
        for (uint32_t x = left; x < right; ++x) {
          const int index = line[x - static_cast<uint32_t>(d.Left)];
          if (index == next.transparent) continue;
          const GifColorType &c = map->Colors[index < map->ColorCount ? index : 0];
          screen[size_t{y} * w + x] = uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
        }
      }
    }
    GifComposedFrame frame;
    frame.rgb = screen;
    frame.delayHundredths = next.delay;
    frame.localTable = d.ColorMap != nullptr;
    frame.left = static_cast<uint32_t>(d.Left);
    frame.top = static_cast<uint32_t>(d.Top);
    frame.width = static_cast<uint32_t>(d.Width);
    frame.height = static_cast<uint32_t>(d.Height);
    frame.transparentIndex = next.transparent;
    out->frames.push_back(std::move(frame));
    last = next;
    lastLeft = left, lastTop = top, lastRight = right, lastBottom = bottom;
    next = Control{};
  }
}

}  // namespace

int gifAnimRead(const uint8_t *data, size_t size, uint32_t maxFrames, GifComposed *out) {
  if (!data || !out) return kStillBadImage;
  if (size < 6 || std::memcmp(data, "GIF", 3) != 0) return kStillNotFormat;
  *out = GifComposed{};
  MemoryInput input{data, size, 0, false};
  try {
    int err = 0;
    std::unique_ptr<GifFileType, Closer> g(DGifOpen(&input, readMemory, &err));
    if (!g) return input.ranOut ? kStillTruncated : kStillCorrupt;
    return readFrames(g.get(), input, maxFrames, out);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
}

int gifAnimReadFile(const char *path, uint32_t maxSide, uint64_t maxPictureBytes, GifComposed *out) {
  if (!path || !out) return kStillBadImage;
  *out = GifComposed{};
  std::FILE *f = std::fopen(path, "rb");
  if (!f) return kStillOpenFailed;
  uint8_t head[10];
  const size_t got = std::fread(head, 1, sizeof head, f);
  if (got < sizeof head || std::memcmp(head, "GIF", 3) != 0) {
    std::fclose(f);
    return kStillNotFormat;
  }
  // The screen's size bounds how many composed frames the memory allows.
  const uint64_t width = std::max(1, head[6] | head[7] << 8), height = std::max(1, head[8] | head[9] << 8);
  const uint64_t screen = width * height * 4;
  if (width > maxSide || height > maxSide || screen > maxPictureBytes / 2) {
    std::fclose(f);
    return kStillTooLarge;
  }
  const uint64_t frames = std::clamp<uint64_t>(maxPictureBytes / screen, 1, 0xFFFFFFFFu);
  std::vector<uint8_t> data;
  try {
    if (std::fseek(f, 0, SEEK_END) != 0) throw std::bad_alloc();
    const long size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) throw std::bad_alloc();
    data.resize(static_cast<size_t>(size));
    if (std::fread(data.data(), 1, data.size(), f) != data.size()) data.clear();
  } catch (const std::bad_alloc &) {
    std::fclose(f);
    return kStillNoMemory;
  }
  std::fclose(f);
  if (data.empty()) return kStillOpenFailed;
  return gifAnimRead(data.data(), data.size(), static_cast<uint32_t>(frames), out);
}

}  // namespace kav::still
