// The frame reader: a movie's first enabled video track drawn frame by frame
// into a pixel buffer. Frames are found by stepping through the track's
// sample times toward frame number times duration / frame count, so a movie
// whose samples are spaced unevenly repeats or skips samples as it plays.
#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>

#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "kavutil/quicktime.h"
#include "platform/quicktime/qt_audio.h"
#include "platform/quicktime/qt_movie.h"
#include "platform/quicktime/qt_session.h"
#include "platform/quicktime/qt_video.h"

using namespace kav::qt;

namespace {

struct Decoder {
  VideoFormat first;             // of sample description 1: fixes the size and depth
  std::vector<VideoFormat> all;  // per description; codec 0 when not drawable
  std::vector<uint8_t> data;     // the sample being drawn
  uint32_t soundBytesPerFrame = 0;  // stored sound that plays during one frame
};

Movie *movieOf(QTFile *f) { return static_cast<Movie *>(f->movie); }
Track *trackOf(QTFile *f) { return static_cast<Track *>(f->videoTrack); }
Decoder *decoderOf(QTFile *f) { return static_cast<Decoder *>(f->world); }

uint64_t movieTime(const Movie &m, const Track &t, uint64_t mediaTime) {
  return t.timeScale ? mediaTime * m.timeScale / t.timeScale : mediaTime;
}

// Index of the sample showing at movie time `time`.
size_t sampleAt(QTFile *f, uint64_t time) {
  const Movie &m = *movieOf(f);
  const Track &t = *trackOf(f);
  auto it = std::upper_bound(t.sampleTime.begin(), t.sampleTime.end(), time,
                             [&](uint64_t v, uint64_t s) { return v < movieTime(m, t, s); });
  return it == t.sampleTime.begin() ? 0 : static_cast<size_t>(it - t.sampleTime.begin()) - 1;
}

// Movie time of the first sample starting after `time`; UINT64_MAX if none.
uint64_t nextSampleTime(QTFile *f, uint64_t time) {
  const Movie &m = *movieOf(f);
  const Track &t = *trackOf(f);
  auto it = std::upper_bound(t.sampleTime.begin(), t.sampleTime.end(), time,
                             [&](uint64_t v, uint64_t s) { return v < movieTime(m, t, s); });
  return it == t.sampleTime.end() ? UINT64_MAX : movieTime(m, t, *it);
}

void render(QTFile *f) {
  Movie &m = *movieOf(f);
  Track &t = *trackOf(f);
  Decoder &d = *decoderOf(f);
  const size_t i = sampleAt(f, f->currentTime);
  const uint32_t desc = t.sampleDescription[i];
  const VideoFormat &fmt = desc && desc <= d.all.size() ? d.all[desc - 1] : d.first;
  // Samples of another description draw only when they match the picture.
  const bool fits = fmt.codec && fmt.width == d.first.width && fmt.height == d.first.height &&
                    fmt.bitsOut == d.first.bitsOut;
  if (f->bits == 8 && fits) std::memcpy(f->palette, fmt.palette, sizeof f->palette);
  const uint32_t size = t.sampleSize[i];
  try {
    d.data.resize(size);
  } catch (...) {
    return;
  }
  const uint32_t got = m.readAt(t.sampleOffset[i], d.data.data(), size);
  if (fits) drawSample(fmt, d.data.data(), got, f->pixels, f->rowBytes);
  const uint64_t bytes = uint64_t{size} + d.soundBytesPerFrame;
  f->dataSize = static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFF));
}

void release(QTFile *f) {
  delete decoderOf(f);
  delete movieOf(f);
  kavfree(f->pixelBuffer);
  std::memset(f, 0, sizeof *f);
  kavfree(f);
}

}  // namespace

extern "C" {

KAV_EXPORT QTFile *KAVAPI QTFileOpen(const char *name) {
  if (!name || std::strlen(name) >= KAV_NAME_MAX || !connect()) return nullptr;
  char path[KAV_NAME_MAX];
  std::strcpy(path, name);
  if (!ExpandFileName(path)) return nullptr;
  auto *f = static_cast<QTFile *>(kavmalloc(sizeof(QTFile)));
  if (!f) return nullptr;
  std::memset(f, 0, sizeof *f);
  try {
    std::unique_ptr<Movie> m = openMovie(path);
    if (!m) return release(f), nullptr;
    Track *t = m->enabledTrack(kVideo, 1);
    if (!t || t->descriptions.empty()) return release(f), nullptr;
    auto d = std::make_unique<Decoder>();
    if (!parseVideoDescription(t->descriptions[0], d->first)) return release(f), nullptr;
    for (const auto &e : t->descriptions) {
      VideoFormat v;
      if (!parseVideoDescription(e, v)) v.codec = 0;
      d->all.push_back(v);
    }
    resolveVideoSamples(*m, *t);
    if (t->sampleTime.empty()) return release(f), nullptr;
    f->width = d->first.width;
    f->height = d->first.height;
    f->bits = d->first.bitsOut;
    f->frameCount = static_cast<uint32_t>(t->sampleTime.size());
    uint64_t duration = m->duration;
    const uint64_t trackDuration = movieTime(*m, *t, t->sampleEnd);
    if (duration == 0 || duration > trackDuration * 2 + m->timeScale) duration = trackDuration;
    if (duration == 0 || duration > 0xFFFFFFFF) return release(f), nullptr;
    f->duration = static_cast<uint32_t>(duration);
    uint64_t num = uint64_t{m->timeScale} * f->frameCount, den = duration;
    const uint64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    while (num > 0xFFFFFFFF || den > 0xFFFFFFFF) {
      num >>= 1;
      den >>= 1;
    }
    f->rateNumerator = static_cast<uint32_t>(num);
    f->rateDenominator = static_cast<uint32_t>(std::max<uint64_t>(den, 1));
    f->rowBytes = ((f->width * f->bits / 8) + 3) & ~3u;
    const uint64_t bytes = uint64_t{f->rowBytes} * f->height;
    if (bytes > kMaxPictureBytes) return release(f), nullptr;
    f->pixelBuffer = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(bytes)));
    if (!f->pixelBuffer) return release(f), nullptr;
    std::memset(f->pixelBuffer, 0, bytes);
    f->pixels = f->pixelBuffer;
    std::memcpy(f->palette, d->first.palette, sizeof f->palette);
    if (Track *s = m->enabledTrack(kSound, 1)) {
      f->hasSound = 1;
      SoundFormat sf;
      if (!s->descriptions.empty() && parseSoundDescription(s->descriptions[0], sf))
        d->soundBytesPerFrame = static_cast<uint32_t>(std::min<uint64_t>(
            uint64_t{sf.rate} * sf.bytesPerFrame * f->duration / f->frameCount / m->timeScale, 0xFFFFFFFF));
    }
    f->videoTrack = t;
    f->world = d.release();
    f->movie = m.release();
    QTFileGoto(f, 0);
    return f;
  } catch (...) {
    release(f);
    return nullptr;
  }
}

KAV_EXPORT int32_t KAVAPI QTFileGet(QTFile *f) {
  if (!f || !f->movie) return 0;
  const uint64_t target = f->frameCount ? uint64_t{f->frameNumber} * f->duration / f->frameCount : 0;
  uint64_t next = nextSampleTime(f, f->currentTime);
  while (next <= target) {
    f->currentTime = static_cast<uint32_t>(next);
    next = nextSampleTime(f, f->currentTime);
  }
  render(f);
  ++f->frameNumber;
  return 0;
}

KAV_EXPORT void KAVAPI QTFileGoto(QTFile *f, uint32_t frame) {
  if (!f) return;
  f->frameNumber = frame;
  f->currentTime = 0;
}

KAV_EXPORT void KAVAPI QTFileClose(QTFile *f) {
  if (f) release(f);
}

}
