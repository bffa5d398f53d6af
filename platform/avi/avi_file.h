// Our RIFF AVI reader and writer: the operations the graphics input, the
// graphics output and the sound input need from an AVI file library. The
// names follow the Video for Windows calls they replace (stream open, info,
// format, read, frame getter, create, set format, write, release), so callers
// read like the code they were written for.
//
// Sample positions are absolute stream positions: the first sample of a
// stream is at its dwStart. One video sample is one frame; one audio sample
// is one block (nBlockAlign bytes) of PCM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::avi {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kStreamVideo = fourcc('v', 'i', 'd', 's');
constexpr uint32_t kStreamAudio = fourcc('a', 'u', 'd', 's');
constexpr uint32_t kHandlerMjpeg = fourcc('M', 'J', 'P', 'G');
// The handler of a stream of uncompressed DIBs. Players that find BI_RGB in
// the format choose their decoder by the stream header's handler, so it must
// name no codec.
constexpr uint32_t kHandlerDib = fourcc('D', 'I', 'B', ' ');
constexpr uint32_t kCompressionRgb = 0;  // BI_RGB
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Flags of a written or indexed chunk (the idx1 values).
constexpr uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME

// Sample count asking read() for "whatever is convenient": one chunk.
constexpr int32_t kReadConvenient = -1;

// A RIFF segment of the writer is closed before it would pass this size;
// files that stay below it are plain AVI 1.0 files with idx1 only.
constexpr uint32_t kDefaultRiffLimitBytes = 1u << 30;

// Largest picture either side accepts, and largest frame in bytes.
constexpr uint32_t kMaxDimension = 32768;
constexpr uint32_t kMaxFrameBytes = 1u << 28;

// Windows records, byte for byte as stored in the file (little-endian).
struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // negative: rows stored top-down
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
  uint8_t blue, green, red, reserved;
};

#pragma pack(push, 2)
struct WaveFormat {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18);

struct Rect {
  int32_t left, top, right, bottom;
};

// What the stream header says, corrected where the file disagrees with
// itself: dwLength counts what the index holds, rcFrame is the picture of
// the format, dwSuggestedBufferSize is the largest chunk actually present.
struct StreamInfo {
  uint32_t fccType;
  uint32_t fccHandler;
  uint32_t dwFlags;
  uint32_t dwCaps;
  uint16_t wPriority;
  uint16_t wLanguage;
  uint32_t dwScale;
  uint32_t dwRate;
  uint32_t dwStart;
  uint32_t dwLength;
  uint32_t dwInitialFrames;
  uint32_t dwSuggestedBufferSize;
  int32_t dwQuality;
  uint32_t dwSampleSize;
  Rect rcFrame;
  uint32_t dwEditCount;
  uint32_t dwFormatChangeCount;
  char szName[64];
};

// Rows of a DIB are padded to whole 32-bit words.
inline uint32_t dibRowBytes(uint32_t width, uint32_t bits) {
  return static_cast<uint32_t>(((static_cast<uint64_t>(width) * bits + 31) / 32) * 4);
}

// Bytes per second a stream asks of a player, for the main header's maximum
// data rate: fixed-size samples (sound blocks of sampleBytes) at the stream's
// rate; frames, whose sizes vary, as if every one were the largest.
inline uint64_t streamBytesPerSecond(const StreamInfo &info, uint32_t sampleBytes, uint32_t largestChunk) {
  if (!info.dwScale) return 0;
  return uint64_t{sampleBytes ? sampleBytes : largestChunk} * info.dwRate / info.dwScale;
}

// --- Reading ---------------------------------------------------------------

struct Stream;       // one stream of an open file (holds the file open)
struct FrameGetter;  // decodes the frames of a video stream into DIBs

// Opens the file and its `number`-th (0-based) stream of the given type.
// Null when the file is no AVI file or has no such stream.
Stream *streamOpenFromFile(const char *name, uint32_t type, int32_t number);
// The same for a movie stored from `origin` on (WriterOptions::originBytes).
Stream *streamOpenFromFileAt(const char *name, uint64_t origin, uint32_t type, int32_t number);
void streamRelease(Stream *stream);

bool streamInfo(const Stream *stream, StreamInfo *info);
int32_t streamStart(const Stream *stream);
int32_t streamLength(const Stream *stream);

// Copies up to *sizeBytes bytes of the format in effect at `position` into
// format and sets *sizeBytes to the full size; with a null format only the
// size is reported. PCM audio (also WAVE_FORMAT_EXTENSIBLE PCM) is reported
// as the 16-byte PCMWAVEFORMAT with tag 1, so callers see one PCM form.
bool streamReadFormat(const Stream *stream, int32_t position, void *format, int32_t *sizeBytes);

// Reads `samples` samples from `start` (kReadConvenient: one chunk) into
// buffer. With a null buffer nothing is read and *bytes / *samplesRead tell
// what a read would deliver. Returns 0 on success, non-zero on failure (a
// buffer too small for one sample, a position outside the stream, a read
// error). Audio reads stop at the buffer's capacity in whole blocks.
int32_t streamRead(Stream *stream, int32_t start, int32_t samples, void *buffer, int32_t bufferBytes, int32_t *bytes,
                   int32_t *samplesRead);

// Null when the stream's frames cannot be decoded (unknown compression).
FrameGetter *streamGetFrameOpen(Stream *stream);
// The frame at `position` as a packed DIB: the header, biClrUsed colour
// table entries (bits 8 and fewer), then bottom-up rows padded to 32 bits.
// Uncompressed frames keep their depth; Motion-JPEG frames come as 24 bits.
// Valid until the next call or the close. Null for a position outside the
// stream; a chunk that is damaged or missing gives the picture as far as it
// was read, the rest black.
const BitmapInfoHeader *streamGetFrame(FrameGetter *getter, int32_t position);
void streamGetFrameClose(FrameGetter *getter);

// --- Writing ---------------------------------------------------------------

struct Writer;
struct WriteStream;

struct WriterOptions {
  // Size a RIFF segment may reach; beyond it the file continues in "AVIX"
  // segments with OpenDML indexes. Tests set small values.
  uint32_t riffLimitBytes = kDefaultRiffLimitBytes;
  // Where the movie starts in the file; the bytes before are left alone (a
  // hole in a new file). Tests start past 4 GiB in a sparse file, so that
  // every position and index offset needs its 64 bits.
  uint64_t originBytes = 0;
};

// The compressor a program picks for a video stream in place of the
// compression dialog: kCompressionRgb (none) or kHandlerMjpeg.
struct Compression {
  uint32_t handler;
  int32_t quality;  // 0..10000, as the dialog's quality; 0 means 7500
};

// Creates (or empties) the file. Null when it cannot be created.
Writer *fileCreate(const char *name, const WriterOptions *options = nullptr);
// Adds a stream; the info's type, handler, scale, rate, initial frames,
// sample size, quality and frame rectangle are used. Null when the file has
// no room for another stream or the info is unusable.
WriteStream *fileCreateStream(Writer *writer, const StreamInfo &info);
// A stream that takes uncompressed DIBs (and their formats) and writes them
// to `source` compressed; only kHandlerMjpeg is offered. Null otherwise.
WriteStream *makeCompressedStream(WriteStream *source, const Compression &compression);

// Sets the format at `position`. The first call fixes the stream format; a
// later call for a video stream that changes only the colour table of an
// 8-bit format is written as a palette change before the frame at
// `position`; any other change after data was written fails.
bool streamSetFormat(WriteStream *stream, int32_t position, const void *format, int32_t sizeBytes);
// Appends samples (video: one frame of DIB bits; audio: whole blocks).
// Returns false on a write error or for data that does not fit the format.
bool streamWrite(WriteStream *stream, int32_t start, int32_t samples, const void *data, int32_t bytes, uint32_t flags,
                 int32_t *samplesWritten, int32_t *bytesWritten);
// Streams belong to their file; releasing one only ends its use.
void streamRelease(WriteStream *stream);
// Writes the indexes and headers and closes the file. False when anything
// failed since the file was created. *sizeBytes, when asked for, gets the
// file's size (64-bit: OpenDML files pass 4 GiB).
bool fileRelease(Writer *writer, uint64_t *sizeBytes = nullptr);

}  // namespace kav::avi
