#include "platform/stillimage/still_pixels.h"

#include <algorithm>
#include <new>

namespace kav::still {

void clearPalette(Palette &p) {
  std::memset(p.bgrx, 0, sizeof p.bgrx);
  p.colours = 0;
}

void greyPalette(Palette &p, int bits) {
  clearPalette(p);
  const int levels = 1 << bits;
  for (int i = 0; i < levels; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
    p.bgrx[i][0] = p.bgrx[i][1] = p.bgrx[i][2] = v;
  }
  p.colours = static_cast<uint32_t>(levels);
}

int32_t rowCapacity(const StillImage &image) {
  if (image.bitsPerPixel <= 0 || image.pitchBytes <= 0) return 0;
  const int64_t fit = static_cast<int64_t>(image.pitchBytes) * 8 / image.bitsPerPixel;
  return static_cast<int32_t>(std::min<int64_t>(image.width, fit));
}

bool validDescriptor(const StillImage &image) {
  switch (image.bitsPerPixel) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
  }
  if (!image.buffer || image.width <= 0 || image.height <= 0 || image.pitchBytes <= 0) return false;
  const uint64_t need = static_cast<uint64_t>(image.pitchBytes) * static_cast<uint64_t>(image.height);
  return need <= image.sizeBytes;
}

void unpackIndices(const uint8_t *src, int bits, int32_t count, uint8_t *dst) {
  switch (bits) {
    case 8:
      std::memcpy(dst, src, static_cast<size_t>(count));
      return;
    case 4:
      for (int32_t i = 0; i < count; ++i) dst[i] = (src[i >> 1] >> ((i & 1) ? 0 : 4)) & 0x0F;
      return;
    case 2:
      for (int32_t i = 0; i < count; ++i) dst[i] = (src[i >> 2] >> (6 - 2 * (i & 3))) & 0x03;
      return;
    default:
      for (int32_t i = 0; i < count; ++i) dst[i] = (src[i >> 3] >> (7 - (i & 7))) & 0x01;
      return;
  }
}

namespace {

void packIndices(const uint8_t *src, int bits, int32_t count, uint8_t *dst) {
  const size_t bytes = packedRowBytes(count, bits);
  std::memset(dst, 0, bytes);
  const int perByte = 8 / bits;
  for (int32_t i = 0; i < count; ++i) {
    const int shift = 8 - bits * (1 + i % perByte);
    dst[i / perByte] |= static_cast<uint8_t>(src[i] << shift);
  }
}

inline uint16_t to555(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
}

}  // namespace

RowSink::~RowSink() {
  if (allocated_ && !finished_ && img_) stillRelease(img_);
}

int RowSink::begin(StillImage *image, int32_t width, int32_t height, PixelKind kind,
                   const Palette *palette, int indexBits) {
  if (!image) return kStillBadImage;
  if (width <= 0 || height <= 0) return kStillCorrupt;
  if (width > kMaxSide || height > kMaxSide) return kStillTooLarge;
  if (!image->buffer) {
    const int natural = kind == PixelKind::Indexed8 ? 8 : kind == PixelKind::Rgb555 ? 16 : 24;
    const int r = stillAllocate(image, width, height, natural);
    if (r != kStillOk) return r;
    allocated_ = true;
    img_ = image;
  }
  if (!validDescriptor(*image)) return kStillBadImage;
  const int bits = image->bitsPerPixel;
  if (width > rowCapacity(*image) || height > image->height) return kStillBadImage;
  if (kind == PixelKind::Indexed8) {
    if (indexBits < 1 || indexBits > 8 || !palette) return kStillBadImage;
    if (bits < 8 && indexBits > bits) return kStillBadImage;
  } else if (bits <= 8) {
    return kStillBadImage;  // no colour reduction here
  }
  img_ = image;
  w_ = width;
  h_ = height;
  kind_ = kind;
  direct_ = (kind == PixelKind::Indexed8 && bits == 8) || (kind == PixelKind::Bgr24 && bits == 24) ||
            (kind == PixelKind::Bgrx32 && bits == 32) || (kind == PixelKind::Rgb555 && bits == 16);
  if (kind == PixelKind::Indexed8) {
    std::memcpy(lut_, palette->bgrx, sizeof lut_);
    for (auto &e : lut_) e[3] = 0;
    if (bits <= 8) {
      std::memcpy(image->palette, lut_, sizeof lut_);
      image->colours = std::min<uint32_t>(palette->colours, 256u);
    }
  }
  if (bits > 8) {
    std::memset(image->palette, 0, sizeof image->palette);
    image->colours = 0;
  }
  image->pictureWidth = width;
  image->pictureHeight = height;
  try {
    if (!direct_) {
      const size_t bpp = kind == PixelKind::Indexed8 ? 1 : kind == PixelKind::Rgb555 ? 2
                         : kind == PixelKind::Bgr24 ? 3 : 4;
      scratch_.assign(static_cast<size_t>(width) * bpp + 4, 0);
    }
    written_.assign(static_cast<size_t>(height), 0);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  return kStillOk;
}

uint8_t *RowSink::row(int32_t y) {
  if (direct_) return img_->buffer + static_cast<size_t>(h_ - 1 - y) * static_cast<size_t>(img_->pitchBytes);
  return scratch_.data();
}

void RowSink::commit(int32_t y) {
  uint8_t *dst = img_->buffer + static_cast<size_t>(h_ - 1 - y) * static_cast<size_t>(img_->pitchBytes);
  const int bits = img_->bitsPerPixel;
  const uint8_t *src = scratch_.data();
  const int32_t n = w_;
  switch (kind_) {
    case PixelKind::Indexed8:
      if (direct_) break;
      if (bits < 8) {
        packIndices(src, bits, n, dst);
      } else if (bits == 16) {
        for (int32_t i = 0; i < n; ++i) {
          const uint8_t *c = lut_[src[i]];
          const uint16_t v = to555(c[0], c[1], c[2]);
          dst[2 * i] = static_cast<uint8_t>(v);
          dst[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
      } else if (bits == 24) {
        for (int32_t i = 0; i < n; ++i) std::memcpy(dst + 3 * i, lut_[src[i]], 3);
      } else {
        for (int32_t i = 0; i < n; ++i) std::memcpy(dst + 4 * i, lut_[src[i]], 4);
      }
      break;
    case PixelKind::Bgr24:
      if (direct_) break;
      if (bits == 32) {
        for (int32_t i = 0; i < n; ++i) {
          dst[4 * i] = src[3 * i];
          dst[4 * i + 1] = src[3 * i + 1];
          dst[4 * i + 2] = src[3 * i + 2];
          dst[4 * i + 3] = 0;
        }
      } else {
        for (int32_t i = 0; i < n; ++i) {
          const uint16_t v = to555(src[3 * i], src[3 * i + 1], src[3 * i + 2]);
          dst[2 * i] = static_cast<uint8_t>(v);
          dst[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
      }
      break;
    case PixelKind::Bgrx32:
      if (direct_) {
        for (int32_t i = 0; i < n; ++i) dst[4 * i + 3] = 0;
      } else if (bits == 24) {
        for (int32_t i = 0; i < n; ++i) std::memcpy(dst + 3 * i, src + 4 * i, 3);
      } else {
        for (int32_t i = 0; i < n; ++i) {
          const uint16_t v = to555(src[4 * i], src[4 * i + 1], src[4 * i + 2]);
          dst[2 * i] = static_cast<uint8_t>(v);
          dst[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
      }
      break;
    case PixelKind::Rgb555:
      if (direct_) {
        for (int32_t i = 0; i < n; ++i) dst[2 * i + 1] &= 0x7F;
        break;
      }
      for (int32_t i = 0; i < n; ++i) {
        const uint16_t v = rd16le(src + 2 * i);
        uint8_t *d = dst + static_cast<size_t>(i) * (bits == 24 ? 3 : 4);
        d[0] = static_cast<uint8_t>((v & 0x1F) << 3);
        d[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
        d[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
        if (bits == 32) d[3] = 0;
      }
      break;
  }
  const size_t used = packedRowBytes(n, bits);
  if (used < static_cast<size_t>(img_->pitchBytes)) std::memset(dst + used, 0, img_->pitchBytes - used);
  written_[static_cast<size_t>(y)] = 1;
}

void RowSink::finish(bool allRowsWritten) {
  finished_ = true;
  const size_t pitch = static_cast<size_t>(img_->pitchBytes);
  if (!allRowsWritten) {
    for (int32_t y = 0; y < h_; ++y)
      if (!written_[static_cast<size_t>(y)])
        std::memset(img_->buffer + static_cast<size_t>(h_ - 1 - y) * pitch, 0, pitch);
  }
  for (int32_t r = h_; r < img_->height; ++r) std::memset(img_->buffer + static_cast<size_t>(r) * pitch, 0, pitch);
}

int RowSource::begin(const StillImage &image, bool indexed) {
  if (!validDescriptor(image)) return kStillBadImage;
  if (indexed && image.bitsPerPixel > 8) return kStillBadImage;
  img_ = &image;
  w_ = image.pictureWidth > 0 && image.pictureWidth <= image.width ? image.pictureWidth : image.width;
  h_ = image.pictureHeight > 0 && image.pictureHeight <= image.height ? image.pictureHeight : image.height;
  w_ = std::min(w_, rowCapacity(image));
  if (w_ <= 0 || h_ <= 0) return kStillBadImage;  // each encoder checks its format's limits
  indexed_ = indexed;
  try {
    scratch_.assign(static_cast<size_t>(w_) * 3 + 4, 0);
  } catch (const std::bad_alloc &) {
    return kStillNoMemory;
  }
  return kStillOk;
}

uint32_t RowSource::colours() const {
  const uint32_t c = img_->colours;
  if (c == 0 || c > 256) return img_->bitsPerPixel <= 8 ? (1u << img_->bitsPerPixel) : 256u;
  return c;
}

const uint8_t *RowSource::row(int32_t y) {
  const uint8_t *src = img_->buffer + static_cast<size_t>(h_ - 1 - y) * static_cast<size_t>(img_->pitchBytes);
  const int bits = img_->bitsPerPixel;
  uint8_t *d = scratch_.data();
  const int32_t n = w_;
  if (bits <= 8) {
    if (indexed_) {
      if (bits == 8) return src;
      unpackIndices(src, bits, n, d);
      return d;
    }
    if (bits == 8) {
      for (int32_t i = 0; i < n; ++i) std::memcpy(d + 3 * i, img_->palette[src[i]], 3);
    } else {
      // Unpack in place from the back so the indices are not overwritten.
      uint8_t *idx = d + 2 * static_cast<size_t>(n);
      unpackIndices(src, bits, n, idx);
      for (int32_t i = 0; i < n; ++i) {
        const uint8_t *c = img_->palette[idx[i]];
        d[3 * i] = c[0];
        d[3 * i + 1] = c[1];
        d[3 * i + 2] = c[2];
      }
    }
    return d;
  }
  switch (bits) {
    case 24:
      return src;
    case 32:
      for (int32_t i = 0; i < n; ++i) std::memcpy(d + 3 * i, src + 4 * i, 3);
      return d;
    default:
      for (int32_t i = 0; i < n; ++i) {
        const uint16_t v = rd16le(src + 2 * i);
        d[3 * i] = static_cast<uint8_t>((v & 0x1F) << 3);
        d[3 * i + 1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
        d[3 * i + 2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
      }
      return d;
  }
}

}  // namespace kav::still
