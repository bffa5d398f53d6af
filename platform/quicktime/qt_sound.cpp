// The sound reader: a movie's sound track delivered as PCM in stretches of
// at most one second, each converted into the reader's buffer and handed out
// as the caller asks. Times are counted in sample frames.
#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "kavutil/quicktime.h"
#include "platform/quicktime/qt_audio.h"
#include "platform/quicktime/qt_session.h"

using namespace kav::qt;

namespace {

struct Converter {
  SoundFormat format;
  SoundLayout layout;
  std::vector<uint8_t> stored;  // one stretch as the file holds it
};

Movie *movieOf(QTSFile *f) { return static_cast<Movie *>(f->movie); }
Converter *converterOf(QTSFile *f) { return static_cast<Converter *>(f->exporter); }

void release(QTSFile *f) {
  delete converterOf(f);
  delete movieOf(f);
  kavfree(f->buffer);
  std::memset(f, 0, sizeof *f);
  kavfree(f);
}

// Converts the next stretch (at most one second) into the buffer. False on a
// read error; at the end of the track there is nothing to convert.
bool convertStretch(QTSFile *f) {
  Converter &c = *converterOf(f);
  Movie &m = *movieOf(f);
  const uint32_t frames = std::min(f->remaining, f->timeScale);
  f->pending = f->buffer;
  f->pendingBytes = 0;
  if (frames == 0) return true;
  const SoundLayout &l = c.layout;
  const uint32_t storedBytes = c.format.bytesPerFrame;
  c.stored.resize(size_t{frames} * storedBytes);
  uint64_t pos = f->startTime;
  uint32_t done = 0;
  auto it = std::upper_bound(l.framesBefore.begin(), l.framesBefore.end(), pos);
  size_t chunk = static_cast<size_t>(it - l.framesBefore.begin()) - 1;
  while (done < frames && chunk + 1 < l.framesBefore.size()) {
    const uint64_t inChunk = pos - l.framesBefore[chunk];
    const auto take = static_cast<uint32_t>(std::min<uint64_t>(l.framesBefore[chunk + 1] - pos, frames - done));
    const uint32_t bytes = take * storedBytes;
    if (m.readAt(l.offset[chunk] + inChunk * storedBytes, c.stored.data() + size_t{done} * storedBytes, bytes) != bytes)
      return false;
    done += take;
    pos += take;
    ++chunk;
  }
  if (done == 0) return false;
  convertPcm(c.format, c.stored.data(), done, f->buffer);
  f->pendingBytes = done * f->frameBytes;
  f->startTime += done;
  f->remaining -= std::min(f->remaining, done);
  return true;
}

}  // namespace

extern "C" {

KAV_EXPORT QTSFile *KAVAPI QTSFileOpen(const char *name, int32_t track) {
  if (!name || std::strlen(name) >= KAV_NAME_MAX || !connect()) return nullptr;
  char path[KAV_NAME_MAX];
  std::strcpy(path, name);
  if (!ExpandFileName(path)) return nullptr;
  auto *f = static_cast<QTSFile *>(kavmalloc(sizeof(QTSFile)));
  if (!f) return nullptr;
  std::memset(f, 0, sizeof *f);
  try {
    std::unique_ptr<Movie> m = openMovie(path);
    if (!m) return release(f), nullptr;
    Track *t = m->enabledTrack(kSound, track <= 0 ? 1 : static_cast<uint32_t>(track));
    if (!t || t->descriptions.empty()) return release(f), nullptr;
    auto c = std::make_unique<Converter>();
    if (!parseSoundDescription(t->descriptions[0], c->format)) return release(f), nullptr;
    layoutSound(*m, *t, c->format, c->layout);
    const SoundFormat &sf = c->format;
    f->sampleRate = sf.rate;
    f->bits = sf.outBits();
    f->channels = sf.channels;
    f->frameBytes = sf.outBytesPerFrame();
    const uint64_t frames = std::min<uint64_t>(c->layout.framesBefore.back(), 0xFFFFFFFFu / f->frameBytes);
    f->totalBytes = static_cast<uint32_t>(frames * f->frameBytes);
    f->timeScale = sf.rate;
    f->duration = static_cast<uint32_t>(frames);
    f->remaining = f->duration;
    f->buffer = static_cast<uint8_t *>(kavmalloc(sf.rate * f->bits * f->channels * 2 / 8));
    if (!f->buffer) return release(f), nullptr;
    f->soundTrack = t;
    f->exporter = c.release();
    f->movie = m.release();
    if (!convertStretch(f)) return release(f), nullptr;
    return f;
  } catch (...) {
    release(f);
    return nullptr;
  }
}

KAV_EXPORT uint32_t KAVAPI QTSFileGet(QTSFile *f, void *dest, uint32_t count) {
  if (!f || !f->movie || !dest) return 0;
  auto *d = static_cast<uint8_t *>(dest);
  uint32_t done = 0;
  try {
    while (done < count) {
      if (f->pendingBytes) {
        const uint32_t take = std::min(f->pendingBytes, count - done);
        std::memcpy(d + done, f->pending, take);
        f->pending += take;
        f->pendingBytes -= take;
        done += take;
        continue;
      }
      if (f->remaining == 0) break;
      if (!convertStretch(f)) {
        if (done == 0) {
          // Silence keeps a caller that waits for sound moving.
          const uint32_t n = std::min<uint32_t>(16, count);
          std::memset(d, f->bits == 8 ? 0x80 : 0, n);
          return n;
        }
        break;
      }
    }
  } catch (...) {
  }
  return done;
}

KAV_EXPORT void KAVAPI QTSFileGoto(QTSFile *f, uint32_t milliseconds) {
  if (!f) return;
  f->startTime = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{milliseconds} * f->timeScale / 1000, f->duration));
  f->pending = f->buffer;
  f->pendingBytes = 0;
  f->remaining = f->duration - f->startTime;
}

KAV_EXPORT void KAVAPI QTSFileClose(QTSFile *f) {
  if (f) release(f);
}

}
