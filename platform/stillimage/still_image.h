// The still-image layer: information query, load, image buffers and save for
// BMP, PCX, PNG, TGA, TIFF, GIF and JPEG, reached through one table.
//
// Images are DIB-shaped: rows bottom-up (memory row 0 is the bottom picture
// row), each row `pitchBytes` apart, pixels at 1, 2, 4 or 8 bits (palette
// indices, left pixel in the most significant bits of a byte), 16 bits
// (x:5:5:5 little-endian words), 24 bits (B, G, R) or 32 bits (B, G, R, 0).
// Every operation returns 0 on success and one of the StillError codes
// otherwise; none throws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::still {

// Larger pictures are refused when read, before anything is allocated for
// them. Saving is bounded only by each format's own fields
// (stillMaxSaveSide) and by memory.
inline constexpr int32_t kMaxSide = 4096;
// Buffers the graphics input allocates may be one pixel wider (and taller)
// than the largest picture it reads, for a spare column.
inline constexpr int32_t kMaxBufferSide = kMaxSide + 1;
// An image buffer holds at most this many bytes (its size is 32-bit).
inline constexpr uint64_t kMaxBufferBytes = 0xFFFFFFFFu;

enum StillError : int {
  kStillOk = 0,
  kStillNotFormat = 1,    // the file is not of this format
  kStillTruncated = 2,    // the file ends before the picture does
  kStillCorrupt = 3,      // a field contradicts the file or itself
  kStillUnsupported = 4,  // a valid variant this layer does not read or write
  kStillTooLarge = 5,     // wider or taller than kMaxSide (read), or than the format or a buffer holds
  kStillNoMemory = 6,
  kStillOpenFailed = 7,   // the file cannot be opened or read
  kStillWriteFailed = 8,  // the file cannot be created or written in full
  kStillBadImage = 9,     // the descriptor cannot hold or describe the picture
};

// One image buffer. Allocated by stillAllocate (kavmalloc) and freed by
// stillRelease; a zeroed record means "no buffer".
struct StillImage {
  uint8_t *buffer;
  int32_t width;         // pixels per row the buffer holds
  int32_t height;        // rows the buffer holds
  int32_t bitsPerPixel;  // 1, 2, 4, 8, 16, 24 or 32
  int32_t pitchBytes;    // distance between rows
  uint32_t sizeBytes;    // bytes at buffer
  uint32_t colours;      // palette entries in use (images of 8 bits or fewer)
  uint8_t palette[256][4];  // B, G, R, 0 per entry; unused entries are 0
  // Filled by a load: the picture's own size, which may be smaller than the
  // buffer's (its bottom row is memory row 0, its left column byte 0).
  int32_t pictureWidth;
  int32_t pictureHeight;
};

// What an information query reports about a file.
struct StillInfo {
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel;  // the file's own depth (colour-map bits for GIF)
  // The format's compression code: the TIFF Compression tag (1 none,
  // 5 LZW, 8 Deflate, 32773 PackBits ...), the BMP biCompression value,
  // the PCX encoding byte, 1 for run-length TGA; 0 otherwise.
  uint32_t compression;
};

enum class Format : int { Bmp = 0, Pcx, Png, Tga, Tiff, Gif, Jpeg };
inline constexpr int kFormatCount = 7;

// One row of the table: the roles of one format.
struct FormatEntry {
  Format format;
  const char *name;       // "BMP", "PCX", ...
  const char *extension;  // ".bmp", ".pcx", ".png", ".tga", ".tif", ".gif", ".jpg"
  int (*info)(const char *fileName, StillInfo *info);
  // Loads into the descriptor's buffer, converting to its depth (see
  // stillLoad below); a descriptor without a buffer gets one at the
  // picture's natural depth.
  int (*load)(const char *fileName, StillImage *image);
  int (*allocate)(StillImage *image, int32_t width, int32_t height, int32_t bitsPerPixel);
  int (*release)(StillImage *image);
  int (*save)(const char *fileName, const StillImage *image, int32_t option);
  // The option the graphics output passes: BMP 0 (uncompressed), JPEG 100
  // (quality), TGA 1 (run-length), TIFF 1 (Deflate), PNG 0 (zlib's default
  // level), PCX and GIF take none.
  int32_t saveOption;
};

// The seven formats, indexed by Format.
const FormatEntry *stillFormats();
const FormatEntry &stillFormat(Format format);
// The largest width or height the format's save writes: what its header
// fields hold (JPEG 65500, PCX 65534 as its even line length is 16-bit,
// TGA and GIF 65535; BMP, PNG and TIFF 2^31 - 1).
int32_t stillMaxSaveSide(Format format);

// A buffer of width x height pixels at the depth, bottom-up, zeroed, with a
// zeroed palette; any buffer the descriptor held is freed first. Any size up
// to kMaxBufferBytes (kStillTooLarge beyond, kStillNoMemory when memory
// runs out). The pitch is
// ((width * bits / 8) + 3) rounded down to a multiple of 4, the pitch the
// graphics input computes. At 4 bits or more that always holds width - 1
// pixels (the input allocates one spare column); at 1 and 2 bits it may not,
// and then the DIB pitch ((width * bits + 31) / 32) * 4 is taken instead.
int stillAllocate(StillImage *image, int32_t width, int32_t height, int32_t bitsPerPixel);
// Frees the buffer and clears the record; a record without one is fine.
int stillRelease(StillImage *image);

// Conversions a load makes into the descriptor's depth:
// - paletted and grey pictures go to 8 bits with their palette, to 1, 2 or 4
//   bits when their indices fit, or to 16/24/32 bits through the palette;
// - true-colour pictures go to 16, 24 or 32 bits (never to a palette).
// Pixels right of the picture and rows above it are zeroed.
}  // namespace kav::still
