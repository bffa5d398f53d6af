// Stream access of the reader: opening a stream of a file, its corrected
// header, its format and sample reads with size queries.
#include <algorithm>
#include <cstring>

#include "platform/avi/avi_container.h"
#include "platform/avi/avi_stream.h"

namespace kav::avi {

namespace {

const uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool isPcm(const std::vector<uint8_t> &f) {
  if (f.size() < 16) return false;
  const uint16_t tag = le16(f.data());
  if (tag == kWaveFormatPcm) return true;
  return tag == kWaveFormatExtensible && f.size() >= 40 && std::memcmp(f.data() + 24, kPcmSubFormat, 16) == 0;
}

}  // namespace

bool Stream::blockAudio() const { return data().type == kStreamAudio && (isPcm(data().format) || data().sampleSize); }

Stream *streamOpenFromFile(const char *name, uint32_t type, int32_t number) {
  return streamOpenFromFileAt(name, 0, type, number);
}

Stream *streamOpenFromFileAt(const char *name, uint64_t origin, uint32_t type, int32_t number) {
  try {
    std::shared_ptr<Container> c = openContainer(name, origin);
    if (!c || number < 0) return nullptr;
    int32_t seen = 0;
    for (size_t i = 0; i < c->streams.size(); ++i) {
      const StreamData &s = c->streams[i];
      if (s.type != type) continue;
      if (type == kStreamVideo && !s.bitmap()) continue;
      if (type == kStreamAudio && s.format.size() < 16) continue;
      if (seen++ == number) return new Stream(std::move(c), i);
    }
  } catch (...) {
  }
  return nullptr;
}

void streamRelease(Stream *stream) { delete stream; }

int32_t streamStart(const Stream *stream) { return stream ? static_cast<int32_t>(stream->data().start) : 0; }

int32_t streamLength(const Stream *stream) { return stream ? static_cast<int32_t>(stream->length()) : 0; }

uint32_t Stream::length() const {
  const StreamData &s = data();
  if (blockAudio()) return s.length();
  return static_cast<uint32_t>(s.entries.size());
}

bool streamInfo(const Stream *stream, StreamInfo *info) {
  if (!stream || !info) return false;
  const StreamData &s = stream->data();
  std::memset(info, 0, sizeof *info);
  info->fccType = s.type;
  info->fccHandler = s.handler;
  info->dwFlags = s.flags;
  info->wPriority = s.priority;
  info->wLanguage = s.language;
  info->dwScale = s.scale;
  info->dwRate = s.rate;
  info->dwStart = s.start;
  info->dwLength = stream->length();
  info->dwInitialFrames = s.initialFrames;
  info->dwQuality = s.quality;
  std::memcpy(info->szName, s.name, sizeof info->szName);
  uint32_t largest = 0;
  for (const Entry &e : s.entries) largest = std::max(largest, e.size);
  info->dwSuggestedBufferSize = largest;
  info->dwFormatChangeCount = static_cast<uint32_t>(s.paletteChanges.size());
  if (const BitmapInfoHeader *b = s.bitmap()) {
    info->rcFrame = {0, 0, b->biWidth, b->biHeight < 0 ? -b->biHeight : b->biHeight};
    if (!info->dwScale || !info->dwRate) {
      // No usable rate in the stream header: the main header's frame time.
      const uint32_t us = stream->container().microSecPerFrame;
      info->dwScale = us ? us : 1;
      info->dwRate = us ? 1000000 : 15;
    }
  } else if (s.type == kStreamAudio) {
    info->dwSampleSize = stream->blockAudio() ? s.blockAlign : 0;
    if (stream->blockAudio() && s.format.size() >= 8) {
      // A PCM stream runs at its sample rate whatever its header claims.
      info->dwScale = s.blockAlign;
      info->dwRate = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{le32(s.format.data() + 4)} * s.blockAlign,
                                                              0xFFFFFFFFu));
    }
    if (!info->dwScale || !info->dwRate) {
      info->dwScale = 1;
      info->dwRate = 1;
    }
  }
  return true;
}

bool streamReadFormat(const Stream *stream, int32_t /*position*/, void *format, int32_t *sizeBytes) {
  if (!stream || !sizeBytes) return false;
  const StreamData &s = stream->data();
  uint8_t pcm[16];
  const uint8_t *src = s.format.data();
  auto size = static_cast<int32_t>(s.format.size());
  if (s.type == kStreamAudio && isPcm(s.format)) {
    std::memcpy(pcm, s.format.data(), 16);
    pcm[0] = 1;
    pcm[1] = 0;
    const uint16_t align = static_cast<uint16_t>(s.blockAlign);
    const uint16_t bits = static_cast<uint16_t>(s.blockAlign / std::max<uint16_t>(le16(pcm + 2), 1) * 8);
    pcm[12] = static_cast<uint8_t>(align);
    pcm[13] = static_cast<uint8_t>(align >> 8);
    pcm[14] = static_cast<uint8_t>(bits);
    pcm[15] = static_cast<uint8_t>(bits >> 8);
    const uint32_t avg = le32(pcm + 4) * s.blockAlign;
    std::memcpy(pcm + 8, &avg, 4);
    src = pcm;
    size = 16;
  }
  if (format) std::memcpy(format, src, static_cast<size_t>(std::clamp(*sizeBytes, 0, size)));
  *sizeBytes = size;
  return true;
}

int32_t streamRead(Stream *stream, int32_t start, int32_t samples, void *buffer, int32_t bufferBytes, int32_t *bytes,
                   int32_t *samplesRead) {
  if (bytes) *bytes = 0;
  if (samplesRead) *samplesRead = 0;
  if (!stream) return 1;
  StreamData &s = stream->data();
  Container &c = stream->container();
  const int64_t index = int64_t{start} - s.start;
  if (index < 0) return 1;
  if (!stream->blockAudio()) {
    if (static_cast<uint64_t>(index) >= s.entries.size()) return 1;
    const Entry &e = s.entries[static_cast<size_t>(index)];
    if (buffer) {
      if (bufferBytes < 0 || e.size > static_cast<uint32_t>(bufferBytes)) return 1;
      if (c.readAt(e.offset, buffer, e.size) != e.size) return 1;
    }
    if (bytes) *bytes = static_cast<int32_t>(e.size);
    if (samplesRead) *samplesRead = 1;
    return 0;
  }
  const uint32_t align = s.blockAlign;
  const uint64_t total = s.length();
  if (static_cast<uint64_t>(index) >= total) return 0;  // the end: nothing more
  uint64_t pos = static_cast<uint64_t>(index) * align;
  auto it = std::upper_bound(s.bytesBefore.begin(), s.bytesBefore.end(), pos);
  size_t chunk = static_cast<size_t>(it - s.bytesBefore.begin()) - 1;
  uint64_t count = total - static_cast<uint64_t>(index);
  if (samples == kReadConvenient) {
    const uint64_t chunkEnd = s.bytesBefore[chunk + 1];
    count = std::max<uint64_t>(1, (chunkEnd - pos) / align);
  } else if (samples >= 0) {
    count = std::min<uint64_t>(count, static_cast<uint64_t>(samples));
  } else {
    return 1;
  }
  if (buffer) {
    if (bufferBytes < static_cast<int32_t>(align)) return 1;
    count = std::min<uint64_t>(count, static_cast<uint64_t>(bufferBytes) / align);
  }
  count = std::min<uint64_t>(count, 0x7FFFFFFFu / align);
  const uint64_t want = count * align;
  if (buffer) {
    auto *d = static_cast<uint8_t *>(buffer);
    uint64_t done = 0;
    while (done < want && chunk < s.entries.size()) {
      const Entry &e = s.entries[chunk];
      const uint64_t inChunk = pos - s.bytesBefore[chunk];
      const auto take = static_cast<uint32_t>(std::min<uint64_t>(e.size - inChunk, want - done));
      if (c.readAt(e.offset + inChunk, d + done, take) != take) return 1;
      done += take;
      pos += take;
      ++chunk;
    }
  }
  if (bytes) *bytes = static_cast<int32_t>(want);
  if (samplesRead) *samplesRead = static_cast<int32_t>(count);
  return 0;
}

}  // namespace kav::avi
