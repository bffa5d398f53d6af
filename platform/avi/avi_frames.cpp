// The frame getter: every frame of a video stream as a packed bottom-up DIB.
// Uncompressed frames keep their depth (top-down files are turned over),
// paletted frames carry the colour table in effect at that frame (the
// format's table with the stream's palette changes applied in file order),
// and Motion-JPEG frames come out as 24 bits.
#include <algorithm>
#include <cstring>

#include "platform/avi/avi_jpeg.h"
#include "platform/avi/avi_stream.h"

namespace kav::avi {

namespace {

bool isJpeg(uint32_t compression) {
  return compression == kHandlerMjpeg || compression == fourcc('m', 'j', 'p', 'g') ||
         compression == fourcc('J', 'P', 'E', 'G') || compression == fourcc('j', 'p', 'e', 'g');
}

bool isRgbDepth(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

struct FrameGetter {
  Stream *stream = nullptr;
  BitmapInfoHeader source{};
  bool jpeg = false, topDown = false;
  uint32_t width = 0, height = 0, bits = 0, rowBytes = 0, tableEntries = 0;
  std::vector<uint8_t> dib;      // header, table, bits
  std::vector<uint8_t> scratch;  // chunk data that is not read in place
  std::vector<RgbQuad> basePalette;
  size_t palettesApplied = 0;
  int64_t decodedEntry = -1;

  BitmapInfoHeader *header() { return reinterpret_cast<BitmapInfoHeader *>(dib.data()); }
  RgbQuad *table() { return reinterpret_cast<RgbQuad *>(dib.data() + sizeof(BitmapInfoHeader)); }
  uint8_t *pixels() { return dib.data() + sizeof(BitmapInfoHeader) + tableEntries * 4; }

  void applyPalettes(uint32_t frame);
  void decode(const Entry &e);
};

void FrameGetter::applyPalettes(uint32_t frame) {
  const StreamData &s = stream->data();
  if (!tableEntries || s.paletteChanges.empty()) return;
  // Going back in time starts again from the format's table.
  if (palettesApplied && s.paletteChanges[palettesApplied - 1].beforeFrame > frame) {
    std::memcpy(table(), basePalette.data(), tableEntries * 4);
    palettesApplied = 0;
  }
  while (palettesApplied < s.paletteChanges.size() && s.paletteChanges[palettesApplied].beforeFrame <= frame) {
    const PaletteChange &p = s.paletteChanges[palettesApplied++];
    uint8_t change[4 + 256 * 4];
    const uint32_t got = stream->container().readAt(p.offset, change, std::min<uint32_t>(p.size, sizeof change));
    if (got < 4) continue;
    const uint32_t first = change[0];
    uint32_t count = change[1] ? change[1] : 256;
    count = std::min({count, 256 - first, (got - 4) / 4});
    if (first >= tableEntries) continue;
    count = std::min(count, tableEntries - first);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t *e = change + 4 + i * 4;  // red, green, blue, flags
      table()[first + i] = {e[2], e[1], e[0], 0};
    }
  }
}

void FrameGetter::decode(const Entry &e) {
  uint8_t *bottom = pixels();
  const size_t imageBytes = size_t{rowBytes} * height;
  Container &c = stream->container();
  if (jpeg) {
    scratch.resize(e.size);
    const uint32_t got = c.readAt(e.offset, scratch.data(), e.size);
    uint8_t *top = bottom + size_t{rowBytes} * (height - 1);
    decodeJpegBgr(scratch.data(), got, top, -static_cast<int64_t>(rowBytes), width, height);
    return;
  }
  const auto take = static_cast<uint32_t>(std::min<uint64_t>(e.size, imageBytes));
  if (!topDown) {
    const uint32_t got = c.readAt(e.offset, bottom, take);
    std::memset(bottom + got, 0, imageBytes - got);
    return;
  }
  scratch.assign(imageBytes, 0);
  c.readAt(e.offset, scratch.data(), take);
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(bottom + size_t{y} * rowBytes, scratch.data() + size_t{height - 1 - y} * rowBytes, rowBytes);
}

FrameGetter *streamGetFrameOpen(Stream *stream) {
  if (!stream) return nullptr;
  const BitmapInfoHeader *b = stream->data().bitmap();
  if (!b) return nullptr;
  try {
    auto g = std::make_unique<FrameGetter>();
    g->stream = stream;
    g->source = *b;
    g->width = static_cast<uint32_t>(b->biWidth);
    g->topDown = b->biHeight < 0;
    g->height = g->topDown ? 0u - static_cast<uint32_t>(b->biHeight) : static_cast<uint32_t>(b->biHeight);
    if (isJpeg(b->biCompression)) {
      g->jpeg = true;
      g->topDown = false;
      g->bits = 24;
    } else if (b->biCompression == kCompressionRgb && isRgbDepth(b->biBitCount)) {
      g->bits = b->biBitCount;
    } else {
      return nullptr;
    }
    g->rowBytes = dibRowBytes(g->width, g->bits);
    const uint64_t imageBytes = uint64_t{g->rowBytes} * g->height;
    if (imageBytes > kMaxFrameBytes) return nullptr;
    g->tableEntries = g->bits <= 8 ? 1u << g->bits : 0;
    g->dib.assign(sizeof(BitmapInfoHeader) + g->tableEntries * 4 + imageBytes, 0);
    BitmapInfoHeader *h = g->header();
    *h = *b;
    h->biSize = sizeof *h;
    h->biHeight = static_cast<int32_t>(g->height);
    h->biPlanes = 1;
    h->biBitCount = static_cast<uint16_t>(g->bits);
    h->biCompression = kCompressionRgb;
    h->biSizeImage = static_cast<uint32_t>(imageBytes);
    h->biClrUsed = g->tableEntries;
    h->biClrImportant = 0;
    if (g->tableEntries) {
      g->basePalette.resize(g->tableEntries);
      std::memcpy(g->basePalette.data(), stream->data().format.data() + sizeof *b, g->tableEntries * 4);
      std::memcpy(g->table(), g->basePalette.data(), g->tableEntries * 4);
    }
    return g.release();
  } catch (...) {
    return nullptr;
  }
}

const BitmapInfoHeader *streamGetFrame(FrameGetter *g, int32_t position) {
  if (!g) return nullptr;
  const StreamData &s = g->stream->data();
  const int64_t index = int64_t{position} - s.start;
  if (index < 0 || static_cast<uint64_t>(index) >= s.entries.size()) return nullptr;
  try {
    // An empty chunk is a dropped frame: the picture before it stays.
    int64_t j = index;
    while (j >= 0 && s.entries[static_cast<size_t>(j)].size == 0) --j;
    if (j != g->decodedEntry) {
      if (j < 0) {
        std::memset(g->pixels(), 0, size_t{g->rowBytes} * g->height);
      } else {
        g->decode(s.entries[static_cast<size_t>(j)]);
      }
      g->decodedEntry = j;
    }
    g->applyPalettes(static_cast<uint32_t>(index));
  } catch (...) {
    return nullptr;
  }
  return g->header();
}

void streamGetFrameClose(FrameGetter *g) { delete g; }

}  // namespace kav::avi
