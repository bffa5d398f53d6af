// The AVI writer. Chunks go out in the order they are written (the caller
// interleaves sound with the pictures); the header list is written last
// into room kept before the movi list. While the file stays below the RIFF
// limit it is a plain AVI 1.0 file with idx1. Once it would pass the limit
// the first RIFF is closed (with its idx1 and standard indexes) and the file
// goes on in "RIFF AVIX" segments, each with its own standard indexes, all
// found through the streams' super indexes, so there is no size cliff.
//
// The books (indexes, stream lengths) are kept by what reached the file.
// The buffer is flushed by us, never on its own, so after each flush the
// file position tells exactly how far the data got. When a write falls
// short (a full disk), nothing more is appended, and the close cuts the
// books back to the chunks that arrived whole and writes the header list,
// sizes and indexes for exactly those: the first RIFF goes without idx1
// when there is no room for it (readers walk its movi list), a later
// segment gives up its last chunks to make room for its standard indexes.
// This is the file's one header writer, after a failure too.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/avi/avi_container.h"
#include "platform/avi/avi_io.h"
#include "platform/avi/avi_jpeg.h"

namespace kav::avi {

namespace {

constexpr int32_t kWriteBufferBytes = 256 * 1024;
constexpr uint32_t kMaxWriterStreams = 4;
constexpr uint32_t kStrhBytes = 56;
constexpr uint32_t kMaxStrfBytes = sizeof(BitmapInfoHeader) + 256 * 4;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kAvihBytes = 56;
// The super indexes' room is fixed when the header room is laid out; at the
// default segment size this many entries reach 256 GiB.
constexpr uint32_t kMaxSuperEntries = 256;
constexpr uint64_t kSuperReachBytes = uint64_t{kMaxSuperEntries} << 30;
constexpr uint32_t kPaletteChangesFlag = 0x10000;  // AVISF_VIDEO_PALCHANGES
constexpr uint32_t kHasIndex = 0x10, kIsInterleaved = 0x100;

void put16(std::vector<uint8_t> &v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t> &v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void put64(std::vector<uint8_t> &v, uint64_t x) {
  put32(v, static_cast<uint32_t>(x));
  put32(v, static_cast<uint32_t>(x >> 32));
}
void set32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

struct ChunkRef {
  uint64_t offset;  // of the data
  uint32_t size;
  bool key;
};

// A chunk of the current segment, in file order, so that the books can be
// cut back to what reached the file.
struct Written {
  uint64_t end;  // just after the chunk (and its pad byte)
  uint32_t stream;
  uint32_t samples;
  bool timed;  // listed in the stream's standard index
};

struct Idx1Entry {
  uint32_t id, flags, offset, size;  // offset of the header, from "movi"
};

struct SuperEntry {
  uint64_t offset;
  uint32_t size, duration;
};

}  // namespace

struct FileStream {
  StreamInfo info{};
  uint32_t number = 0;
  uint32_t dataId = 0, paletteId = 0;
  std::vector<uint8_t> format;   // as the stream header gives it (the first)
  std::vector<uint8_t> current;  // in effect now (after palette changes)
  bool formatSet = false;
  uint32_t length = 0;  // samples written
  uint32_t maxChunk = 0;
  uint32_t blockAlign = 1;
  std::vector<ChunkRef> segmentChunks;  // of the current segment
  uint32_t segmentStartLength = 0;
  std::vector<SuperEntry> super;
  bool paletteChanges = false;
};

struct WriteStream {
  Writer *writer = nullptr;
  FileStream *file = nullptr;
  bool compress = false;
  int quality = 75;
  std::vector<uint8_t> sourceFormat;  // the uncompressed format given to us
  std::vector<uint8_t> bgr, encoded;
};

struct Writer {
  OutFile f;
  WriterOptions options;
  bool error = false;
  std::vector<std::unique_ptr<FileStream>> streams;
  std::vector<std::unique_ptr<WriteStream>> handles;
  bool started = false;
  uint32_t headerRoom = 0;     // bytes between the first RIFF's form type and the movi list
  uint32_t superCapacity = 0;  // entries kept per super index
  uint64_t origin = 0;         // the first RIFF
  uint64_t riffStart = 0;      // current RIFF chunk
  uint64_t moviList = 0;       // current "LIST" of the movi list
  uint64_t pos = 0;            // next byte to write
  uint32_t segments = 1;
  uint32_t chunksInSegment = 0;
  std::vector<Idx1Entry> idx1;  // first RIFF only
  uint32_t firstRiffFrames = 0;
  std::vector<Written> segmentLog;  // the chunks of the current segment
  uint64_t flushedTo = 0;           // pos at the last flush
  bool lost = false;                // some appended bytes never reached the file
  uint64_t arrived = 0;             // with lost: the file holds whole bytes up to here
  bool segmentClosed = false;       // the current segment's trailer reached the file
  bool closing = false;             // the trailer may still be tried after a loss
  bool hasIdx1 = true;
  uint64_t furthest = 0;            // the furthest a flush got: the file holds bytes up to here

  // Flushes what is pending and tells whether all of it reached the file.
  // Only explicit flushes write the buffer (see append), so the position
  // afterwards is exactly where the data that arrived ends.
  bool commit() {
    if (pos == flushedTo) return !lost || closing;
    f.flush();
    const uint64_t reached = f.position();
    furthest = std::max(furthest, reached);
    const bool whole = reached == pos && (lost || !f.writeError());
    if (!whole && !lost) {
      lost = true;
      arrived = std::min(reached, pos);
    }
    flushedTo = pos;
    return whole;
  }
  // Writes over bytes already in the file (sizes, the header list).
  bool patch(uint64_t at, const void *data, uint32_t size) {
    if (pos != flushedTo) commit();
    f.setPosition(at);
    const bool put = f.put(data, size) == size;
    f.flush();
    const bool whole = put && f.position() == at + size;
    if (!whole) error = true;
    return whole;
  }
  bool append(const void *data, uint32_t size) {
    if (lost && !closing) return false;
    // Flush first when the buffer would fill, so it never flushes on its
    // own in the middle of a put (after a short write there the rest would
    // land at the wrong place and the position would tell nothing).
    if (uint64_t{pos - flushedTo} + size >= static_cast<uint64_t>(kWriteBufferBytes) && !commit()) return false;
    if (f.position() != pos) f.setPosition(pos);
    const uint32_t put = f.put(data, size);
    pos += size;
    if (put != size || (!lost && f.writeError())) return commit(), false;
    return true;
  }
  bool appendHeader(uint32_t id, uint32_t size) {
    uint8_t h[8];
    std::memcpy(h, &id, 4);
    std::memcpy(h + 4, &size, 4);
    return append(h, 8);
  }
  bool start();
  uint32_t trailerBytes(uint32_t extraEntries) const;
  bool writeStandardIndexes();
  bool closeSegment(bool last);
  bool openSegment();
  bool writeChunk(FileStream &s, uint32_t id, const void *data, uint32_t size, bool key, uint32_t idx1Flags,
                  uint32_t samples);
  bool writeHeaders();
  void dropLastChunk();
  void cutToArrived();
  bool finish();
};

namespace {

uint32_t listRoomPerStream(uint32_t superCapacity) {
  return 12 + 8 + kStrhBytes + 8 + kMaxStrfBytes + 8 + 24 + 16 * superCapacity;
}

}  // namespace

bool Writer::start() {
  if (started) return !error;
  started = true;
  const uint64_t perSegment = std::max<uint32_t>(options.riffLimitBytes, 4096);
  superCapacity = static_cast<uint32_t>(std::clamp<uint64_t>(kSuperReachBytes / perSegment + 2, 4, kMaxSuperEntries));
  headerRoom = 12 + 8 + kAvihBytes + kMaxWriterStreams * listRoomPerStream(superCapacity) + 12 + 8 + kDmlhBytes + 8;
  pos = origin + 12;
  // Room for the header list, marked as junk until the close fills it.
  std::vector<uint8_t> junk(headerRoom, 0);
  set32(junk, 0, kJunk);
  set32(junk, 4, headerRoom - 8);
  moviList = pos + headerRoom;  // before the append, so a cut inside it is seen as one
  if (!append(junk.data(), headerRoom)) return false;
  return appendHeader(kList, 0) && append("movi", 4);
}

// Bytes that closing the current segment adds: idx1 for the first RIFF and
// the standard indexes (which the first RIFF needs only if more follow).
uint32_t Writer::trailerBytes(uint32_t extraEntries) const {
  uint64_t bytes = 0;
  for (const auto &s : streams) bytes += 32 + 8ull * (s->segmentChunks.size() + 1);
  if (segments == 1) bytes += 8 + 16ull * (idx1.size() + extraEntries);
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
}

bool Writer::writeStandardIndexes() {
  for (auto &s : streams) {
    if (s->segmentChunks.empty()) continue;
    if (s->super.size() >= superCapacity) return error = true, false;
    const uint32_t n = static_cast<uint32_t>(s->segmentChunks.size());
    std::vector<uint8_t> ix;
    ix.reserve(32 + 8 * n);
    put32(ix, fourcc('i', 'x', static_cast<char>('0' + s->number / 10), static_cast<char>('0' + s->number % 10)));
    put32(ix, 24 + 8 * n);
    put16(ix, 2);
    ix.push_back(0);
    ix.push_back(kIndexOfChunks);
    put32(ix, n);
    put32(ix, s->dataId);
    put64(ix, riffStart);
    put32(ix, 0);
    for (const ChunkRef &c : s->segmentChunks) {
      put32(ix, static_cast<uint32_t>(c.offset - riffStart));  // a segment stays below 4 GiB
      put32(ix, c.size | (c.key ? 0u : 0x80000000u));
    }
    s->super.push_back({pos, static_cast<uint32_t>(ix.size()), s->length - s->segmentStartLength});
    if (!append(ix.data(), static_cast<uint32_t>(ix.size()))) return false;
  }
  return true;
}

// Appends the segment's trailer and fills in its sizes. When the trailer
// does not reach the file whole it is left out: the movi list then ends at
// the last chunk, the first RIFF goes without idx1 (readers scan it) and a
// later segment's chunks go unlisted (its frames are not counted).
bool Writer::closeSegment(bool last) {
  uint64_t chunksEnd = pos;
  std::vector<size_t> superBefore;
  for (const auto &s : streams) superBefore.push_back(s->super.size());
  bool whole = commit();
  if (whole && (segments > 1 || !last)) whole = writeStandardIndexes();
  uint32_t moviSize = static_cast<uint32_t>(pos - moviList - 8);
  if (whole && segments == 1) {
    std::vector<uint8_t> raw;
    raw.reserve(8 + idx1.size() * 16);
    put32(raw, kIdx1);
    put32(raw, static_cast<uint32_t>(idx1.size() * 16));
    for (const Idx1Entry &e : idx1) {
      put32(raw, e.id);
      put32(raw, e.flags);
      put32(raw, e.offset);
      put32(raw, e.size);
    }
    whole = append(raw.data(), static_cast<uint32_t>(raw.size()));
  }
  if (whole) whole = commit();
  // A later segment's chunks are found only through its standard indexes.
  // When the file has no room left for them, the last chunks give up theirs,
  // so that every frame the file still holds is listed.
  for (int attempt = 0; !whole && last && segments > 1 && lost && attempt < 4 && !segmentLog.empty(); ++attempt) {
    for (size_t i = 0; i < streams.size(); ++i) streams[i]->super.resize(superBefore[i]);
    do {
      dropLastChunk();
    } while (!segmentLog.empty() && uint64_t{segmentLog.back().end} + trailerBytes(0) > furthest);
    pos = flushedTo = chunksEnd = segmentLog.empty() ? moviList + 12 : segmentLog.back().end;
    whole = writeStandardIndexes() && commit();
    moviSize = static_cast<uint32_t>(pos - moviList - 8);
  }
  if (!whole) {
    for (size_t i = 0; i < streams.size(); ++i) streams[i]->super.resize(superBefore[i]);
    pos = flushedTo = chunksEnd;
    moviSize = static_cast<uint32_t>(pos - moviList - 8);
  }
  if (segments == 1) hasIdx1 = whole;
  if (whole && segments == 1) {
    idx1.clear();
    idx1.shrink_to_fit();
  }
  const uint32_t riffSize = static_cast<uint32_t>(pos - riffStart - 8);
  const bool sized = patch(moviList + 4, &moviSize, 4) && patch(riffStart + 4, &riffSize, 4);
  segmentClosed = whole;
  return whole && sized;
}

bool Writer::openSegment() {
  ++segments;
  riffStart = pos;
  chunksInSegment = 0;
  segmentLog.clear();
  segmentClosed = false;
  for (auto &s : streams) {
    s->segmentChunks.clear();
    s->segmentStartLength = s->length;
  }
  moviList = pos + 12;  // before the appends, so a cut inside them is seen as one
  if (!appendHeader(kRiff, 0) || !append("AVIX", 4)) return false;
  return appendHeader(kList, 0) && append("movi", 4);
}

bool Writer::writeChunk(FileStream &s, uint32_t id, const void *data, uint32_t size, bool key, uint32_t idx1Flags,
                        uint32_t samples) {
  if (!start() || lost) return false;
  const uint64_t total = 8ull + size + (size & 1);
  const uint64_t segmentBytes = pos - riffStart;
  if (segmentBytes + total + trailerBytes(1) > options.riffLimitBytes && chunksInSegment > 0) {
    if (segments == 1) {
      for (auto &t : streams) {
        if (t->info.fccType == kStreamVideo) firstRiffFrames = t->length;
      }
    }
    // A trailer that did not arrive leaves this segment open; the close
    // ends the file with it.
    if (!closeSegment(false)) return false;
    if (!openSegment()) return false;
  }
  const bool timed = !(idx1Flags & kNoTime);
  if (segments == 1) idx1.push_back({id, idx1Flags, static_cast<uint32_t>(pos - moviList - 8), size});
  if (timed) s.segmentChunks.push_back({pos + 8, size, key});
  segmentLog.push_back({pos + total, s.number, samples, timed});
  s.length += samples;
  ++chunksInSegment;
  if (timed) s.maxChunk = std::max(s.maxChunk, size);
  if (!appendHeader(id, size)) return false;
  // A large chunk goes straight from the caller's memory to the file rather
  // than through the buffer.
  if (size >= static_cast<uint32_t>(kWriteBufferBytes) && !commit()) return false;
  if (size && !append(data, size)) return false;
  if (size & 1) {
    const uint8_t zero = 0;
    if (!append(&zero, 1)) return false;
  }
  return true;
}

// After a short write: forgets the chunks of the current segment that did
// not reach the file whole. Earlier segments were checked as they closed.
void Writer::dropLastChunk() {
  const Written &c = segmentLog.back();
  FileStream &s = *streams[c.stream];
  if (segments == 1) idx1.pop_back();
  if (c.timed) s.segmentChunks.pop_back();
  s.length -= c.samples;
  segmentLog.pop_back();
  --chunksInSegment;
}

void Writer::cutToArrived() {
  while (!segmentLog.empty() && segmentLog.back().end > arrived) dropLastChunk();
  pos = flushedTo = segmentLog.empty() ? moviList + 12 : segmentLog.back().end;
}

// Ends the file: the last segment's trailer, then the header list.
bool Writer::finish() {
  if (!started) start();
  closing = true;
  commit();
  if (lost && !segmentClosed) {
    if (arrived < moviList + 12) {
      // The segment's own lists were cut: only the segments before it
      // (closed whole, or there would be no new one) can be described.
      if (segments == 1) return false;
      --segments;
      for (auto &s : streams) s->length = s->segmentStartLength;
      segmentClosed = true;
    } else {
      cutToArrived();
    }
  }
  bool ok = !lost;
  if (!segmentClosed && !closeSegment(true)) ok = false;
  // A later segment whose standard indexes are missing cannot be found.
  if (!segmentClosed && segments > 1) {
    for (auto &s : streams) s->length = s->segmentStartLength;
  }
  if (!writeHeaders()) ok = false;
  return ok && !error;
}

namespace {

void putStreamHeader(std::vector<uint8_t> &v, const FileStream &s) {
  put32(v, kStrh);
  put32(v, kStrhBytes);
  put32(v, s.info.fccType);
  put32(v, s.info.fccHandler);
  put32(v, s.info.dwFlags | (s.paletteChanges ? kPaletteChangesFlag : 0));
  put16(v, s.info.wPriority);
  put16(v, s.info.wLanguage);
  put32(v, s.info.dwInitialFrames);
  put32(v, s.info.dwScale);
  put32(v, s.info.dwRate);
  put32(v, 0);  // start
  put32(v, s.length);
  put32(v, s.maxChunk);
  put32(v, static_cast<uint32_t>(s.info.dwQuality));
  put32(v, s.info.fccType == kStreamAudio ? s.blockAlign : 0);
  put16(v, static_cast<uint32_t>(s.info.rcFrame.left) & 0xFFFF);
  put16(v, static_cast<uint32_t>(s.info.rcFrame.top) & 0xFFFF);
  put16(v, static_cast<uint32_t>(s.info.rcFrame.right) & 0xFFFF);
  put16(v, static_cast<uint32_t>(s.info.rcFrame.bottom) & 0xFFFF);
}

}  // namespace

bool Writer::writeHeaders() {
  const FileStream *video = nullptr;
  uint32_t largest = 0;
  uint64_t bytesPerSec = 0;
  for (const auto &s : streams) {
    if (!video && s->info.fccType == kStreamVideo) video = s.get();
    largest = std::max(largest, s->maxChunk);
    bytesPerSec += streamBytesPerSecond(s->info, s->info.fccType == kStreamAudio ? s->blockAlign : 0, s->maxChunk);
  }
  const bool odml = segments > 1;
  std::vector<uint8_t> h;
  put32(h, kList);
  put32(h, 0);
  put32(h, kListHdrl);
  put32(h, kAvih);
  put32(h, kAvihBytes);
  const uint32_t usPerFrame =
      video && video->info.dwRate
          ? static_cast<uint32_t>(std::min<uint64_t>(1000000ull * video->info.dwScale / video->info.dwRate, 0xFFFFFFFF))
          : 0;
  put32(h, usPerFrame);
  put32(h, static_cast<uint32_t>(std::min<uint64_t>(bytesPerSec, 0xFFFFFFFF)));
  put32(h, 0);
  put32(h, (hasIdx1 || odml ? kHasIndex : 0) | (streams.size() > 1 ? kIsInterleaved : 0));
  put32(h, odml ? firstRiffFrames : (video ? video->length : 0));
  put32(h, 0);
  put32(h, static_cast<uint32_t>(streams.size()));
  put32(h, largest + 8);
  put32(h, video ? static_cast<uint32_t>(video->info.rcFrame.right - video->info.rcFrame.left) : 0);
  put32(h, video ? static_cast<uint32_t>(video->info.rcFrame.bottom - video->info.rcFrame.top) : 0);
  for (int i = 0; i < 4; ++i) put32(h, 0);
  for (const auto &s : streams) {
    const size_t listAt = h.size();
    put32(h, kList);
    put32(h, 0);
    put32(h, kListStrl);
    putStreamHeader(h, *s);
    put32(h, kStrf);
    put32(h, static_cast<uint32_t>(s->format.size()));
    h.insert(h.end(), s->format.begin(), s->format.end());
    if (s->format.size() & 1) h.push_back(0);
    if (odml) {
      put32(h, kIndx);
      put32(h, 24 + 16 * superCapacity);
      put16(h, 4);
      h.push_back(0);
      h.push_back(kIndexOfIndexes);
      put32(h, static_cast<uint32_t>(s->super.size()));
      put32(h, s->dataId);
      for (int i = 0; i < 3; ++i) put32(h, 0);
      for (uint32_t i = 0; i < superCapacity; ++i) {
        const SuperEntry e = i < s->super.size() ? s->super[i] : SuperEntry{0, 0, 0};
        put64(h, e.offset);
        put32(h, e.size);
        put32(h, e.duration);
      }
    }
    set32(h, listAt + 4, static_cast<uint32_t>(h.size() - listAt - 8));
  }
  if (odml) {
    put32(h, kList);
    put32(h, 4 + 8 + kDmlhBytes);
    put32(h, kListOdml);
    put32(h, kDmlh);
    put32(h, kDmlhBytes);
    put32(h, video ? video->length : 0);
    h.resize(h.size() + kDmlhBytes - 4, 0);
  }
  set32(h, 4, static_cast<uint32_t>(h.size() - 8));
  if (h.size() + 8 > headerRoom) return error = true, false;
  put32(h, kJunk);
  put32(h, static_cast<uint32_t>(headerRoom - h.size() - 4));
  h.resize(headerRoom, 0);
  return patch(origin + 12, h.data(), static_cast<uint32_t>(h.size()));
}

Writer *fileCreate(const char *name, const WriterOptions *options) {
  if (!name) return nullptr;
  try {
    auto w = std::make_unique<Writer>();
    if (options) w->options = *options;
    if (!w->f.create(name, kWriteBufferBytes)) return nullptr;
    w->origin = w->riffStart = w->pos = w->flushedTo = w->options.originBytes;
    w->f.setPosition(w->origin);
    const uint8_t head[12] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
    w->append(head, 12);
    return w.release();
  } catch (...) {
    return nullptr;
  }
}

WriteStream *fileCreateStream(Writer *w, const StreamInfo &info) {
  if (!w || w->streams.size() >= kMaxWriterStreams) return nullptr;
  if (info.fccType != kStreamVideo && info.fccType != kStreamAudio) return nullptr;
  if (!info.dwScale || !info.dwRate) return nullptr;
  try {
    auto s = std::make_unique<FileStream>();
    s->info = info;
    s->number = static_cast<uint32_t>(w->streams.size());
    const bool video = info.fccType == kStreamVideo;
    s->dataId = chunkId(s->number, video ? 'd' : 'w', video ? 'b' : 'b');
    s->paletteId = chunkId(s->number, 'p', 'c');
    auto h = std::make_unique<WriteStream>();
    h->writer = w;
    h->file = s.get();
    w->streams.push_back(std::move(s));
    w->handles.push_back(std::move(h));
    return w->handles.back().get();
  } catch (...) {
    return nullptr;
  }
}

WriteStream *makeCompressedStream(WriteStream *source, const Compression &c) {
  if (!source || c.handler != kHandlerMjpeg || source->file->info.fccType != kStreamVideo) return nullptr;
  if (source->file->formatSet) return nullptr;
  try {
    auto h = std::make_unique<WriteStream>();
    h->writer = source->writer;
    h->file = source->file;
    h->compress = true;
    const int32_t q = c.quality <= 0 ? 7500 : std::min(c.quality, 10000);
    h->quality = std::max(1, q / 100);
    h->file->info.fccHandler = kHandlerMjpeg;
    h->file->dataId = chunkId(h->file->number, 'd', 'c');
    source->writer->handles.push_back(std::move(h));
    return source->writer->handles.back().get();
  } catch (...) {
    return nullptr;
  }
}

namespace {

// A usable uncompressed DIB format: a 40-byte header, 8 or 24 bits (8 with
// its colour table), no compression.
bool validDib(const uint8_t *format, int32_t size) {
  if (size < static_cast<int32_t>(sizeof(BitmapInfoHeader))) return false;
  BitmapInfoHeader b;
  std::memcpy(&b, format, sizeof b);
  if (b.biWidth <= 0 || b.biHeight <= 0 || static_cast<uint32_t>(b.biWidth) > kMaxDimension ||
      static_cast<uint32_t>(b.biHeight) > kMaxDimension || b.biCompression != kCompressionRgb)
    return false;
  if (b.biBitCount == 8) return size >= static_cast<int32_t>(sizeof b + 256 * 4);
  return b.biBitCount == 24;
}

}  // namespace

bool streamSetFormat(WriteStream *h, int32_t position, const void *format, int32_t size) {
  if (!h || !format || size <= 0 || static_cast<uint32_t>(size) > kMaxStrfBytes + 64) return false;
  Writer &w = *h->writer;
  FileStream &s = *h->file;
  const auto *f = static_cast<const uint8_t *>(format);
  try {
    if (s.info.fccType == kStreamAudio) {
      if (size < 16) return false;
      std::vector<uint8_t> given(f, f + size);
      if (s.formatSet && s.length) return given == s.format;
      const uint16_t align = le16(f + 12);
      if (!align) return false;
      s.format = std::move(given);
      s.blockAlign = align;
      s.formatSet = true;
      return true;
    }
    if (!validDib(f, size)) return false;
    const uint32_t headerAndTable = le16(f + 14) == 8 ? sizeof(BitmapInfoHeader) + 256 * 4 : sizeof(BitmapInfoHeader);
    std::vector<uint8_t> given(f, f + headerAndTable);
    BitmapInfoHeader b;
    std::memcpy(&b, f, sizeof b);
    b.biSize = sizeof b;
    b.biSizeImage = dibRowBytes(static_cast<uint32_t>(b.biWidth), b.biBitCount) * static_cast<uint32_t>(b.biHeight);
    b.biClrUsed = b.biBitCount == 8 ? 256 : 0;
    b.biClrImportant = 0;
    std::memcpy(given.data(), &b, sizeof b);
    std::vector<uint8_t> stored = given;
    if (h->compress) {
      BitmapInfoHeader c = b;
      c.biBitCount = 24;
      c.biCompression = kHandlerMjpeg;
      c.biSizeImage = static_cast<uint32_t>(b.biWidth) * static_cast<uint32_t>(b.biHeight) * 3;
      c.biClrUsed = 0;
      stored.assign(sizeof c, 0);
      std::memcpy(stored.data(), &c, sizeof c);
    }
    if (!s.formatSet || s.length == 0) {
      s.format = std::move(stored);
      s.current = s.format;
      h->sourceFormat = std::move(given);
      s.formatSet = true;
      return true;
    }
    const std::vector<uint8_t> &before = h->compress ? h->sourceFormat : s.current;
    if (before.size() != given.size() || std::memcmp(before.data(), given.data(), sizeof b) != 0) return false;
    if (given == before) return true;
    if (h->compress) {  // the colour table only shapes how frames are expanded
      h->sourceFormat = std::move(given);
      return true;
    }
    if (position < static_cast<int32_t>(s.length)) return false;
    // Only the entries that changed go into the palette change.
    const uint8_t *oldTable = before.data() + sizeof b, *newTable = given.data() + sizeof b;
    uint32_t first = 0, last = 255;
    while (std::memcmp(oldTable + first * 4, newTable + first * 4, 3) == 0 && first < 255) ++first;
    while (std::memcmp(oldTable + last * 4, newTable + last * 4, 3) == 0 && last > first) --last;
    std::vector<uint8_t> pc;
    const uint32_t count = last - first + 1;
    pc.push_back(static_cast<uint8_t>(first));
    pc.push_back(static_cast<uint8_t>(count & 0xFF));  // 256 is written as 0
    put16(pc, 0);
    for (uint32_t i = first; i <= last; ++i) {
      const uint8_t *q = newTable + i * 4;  // blue, green, red in the DIB
      pc.push_back(q[2]);
      pc.push_back(q[1]);
      pc.push_back(q[0]);
      pc.push_back(0);
    }
    if (!w.writeChunk(s, s.paletteId, pc.data(), static_cast<uint32_t>(pc.size()), false, kNoTime, 0)) return false;
    s.paletteChanges = true;
    s.current = std::move(given);
    return true;
  } catch (...) {
    w.error = true;
    return false;
  }
}

bool streamWrite(WriteStream *h, int32_t start, int32_t samples, const void *data, int32_t bytes, uint32_t flags,
                 int32_t *samplesWritten, int32_t *bytesWritten) {
  if (samplesWritten) *samplesWritten = 0;
  if (bytesWritten) *bytesWritten = 0;
  if (!h || bytes < 0 || (bytes && !data)) return false;
  Writer &w = *h->writer;
  FileStream &s = *h->file;
  if (!s.formatSet || w.error || w.lost) return false;
  try {
    if (s.info.fccType == kStreamAudio) {
      const uint32_t blocks = static_cast<uint32_t>(bytes) / s.blockAlign;
      const uint32_t size = blocks * s.blockAlign;
      if (samples >= 0 && static_cast<uint32_t>(samples) < blocks) return false;
      if (blocks && !w.writeChunk(s, s.dataId, data, size, true, kKeyFrame, blocks)) return false;
      if (samplesWritten) *samplesWritten = static_cast<int32_t>(blocks);
      if (bytesWritten) *bytesWritten = static_cast<int32_t>(size + (blocks ? 8 + (size & 1) : 0));
      return true;
    }
    if (samples != 1) return false;
    BitmapInfoHeader b;
    std::memcpy(&b, (h->compress ? h->sourceFormat : s.format).data(), sizeof b);
    const uint32_t rowBytes = dibRowBytes(static_cast<uint32_t>(b.biWidth), b.biBitCount);
    const uint64_t imageBytes = uint64_t{rowBytes} * static_cast<uint32_t>(b.biHeight);
    // A start beyond the end leaves dropped (empty) frames in between.
    while (start > static_cast<int32_t>(s.length)) {
      if (!w.writeChunk(s, s.dataId, nullptr, 0, false, 0, 1)) return false;
    }
    const void *out = data;
    uint32_t outBytes = static_cast<uint32_t>(bytes);
    if (h->compress) {
      if (static_cast<uint64_t>(bytes) < imageBytes) return false;
      const auto width = static_cast<uint32_t>(b.biWidth), height = static_cast<uint32_t>(b.biHeight);
      const auto *bits = static_cast<const uint8_t *>(data);
      const uint8_t *top = bits + size_t{rowBytes} * (height - 1);
      int64_t pitch = -static_cast<int64_t>(rowBytes);
      if (b.biBitCount == 8) {
        const uint8_t *table = h->sourceFormat.data() + sizeof b;
        h->bgr.resize(size_t{width} * 3 * height);
        for (uint32_t y = 0; y < height; ++y) {
          const uint8_t *src = top + static_cast<int64_t>(y) * pitch;
          uint8_t *dst = h->bgr.data() + size_t{y} * width * 3;
          for (uint32_t x = 0; x < width; ++x) std::memcpy(dst + 3 * x, table + 4 * src[x], 3);
        }
        top = h->bgr.data();
        pitch = int64_t{width} * 3;
      }
      if (!encodeJpegBgr(top, pitch, width, height, h->quality, h->encoded)) return w.error = true, false;
      out = h->encoded.data();
      outBytes = static_cast<uint32_t>(h->encoded.size());
    }
    if (!w.writeChunk(s, s.dataId, out, outBytes, (flags & kKeyFrame) != 0 || h->compress, flags & kKeyFrame, 1))
      return false;
    if (samplesWritten) *samplesWritten = 1;
    if (bytesWritten) *bytesWritten = static_cast<int32_t>(outBytes + 8 + (outBytes & 1));
    return true;
  } catch (...) {
    w.error = true;
    return false;
  }
}

void streamRelease(WriteStream *) {}

bool fileRelease(Writer *w, uint64_t *sizeBytes) {
  if (sizeBytes) *sizeBytes = 0;
  if (!w) return false;
  bool ok = false;
  try {
    ok = w->finish();
    w->f.flush();
    ok = ok && !w->f.writeError();
  } catch (...) {
  }
  if (sizeBytes) *sizeBytes = w->f.sizeOnDisk();
  w->f.close();
  delete w;
  return ok;
}

}  // namespace kav::avi
