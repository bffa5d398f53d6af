// Opening a sound input: the kinds tried in turn, frame-number times,
// trimming and the output format; also reset, close and the switches.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>

#include "kavutil/avi.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "platform/avi/avi_file.h"
#include "platform/gstreamer/gst_media.h"
#include "platform/os_file.h"
#include "platform/pe/pe_resources.h"
#include "sound/sfile_internal.h"
#include "sound/sfile_wave.h"
#include "util/input_list.h"

namespace kav::sfile {
namespace {

constexpr const char *kOpenFailed = "Error opening the audio input file.";

enum class Try { No, Yes, Fail };  // not this kind / opened / this kind, but refused (reported)

bool setName(SFile *h, const char *name) {
  const size_t n = std::strlen(name);
  if (n >= sizeof h->name) return false;
  std::memcpy(h->name, name, n + 1);
  return true;
}

void setKindName(SFile *h, const char *text) {
  std::snprintf(h->kindName, sizeof h->kindName, "%s", text);
}

void setSourceFormat(SFile *h, uint32_t rate, uint32_t bits, uint32_t channels) {
  h->srcRate = rate;
  h->srcBits = bits;
  h->srcChannels = channels;
  h->srcFrameSize = bits / 8 * channels;
}

bool allocBuffer(SFile *h, uint32_t bytes) {
  // Room past the nominal size for a partial sample frame kept from the
  // previous fill and for readers that round up to whole words.
  const uint64_t alloc = uint64_t{bytes} + 64;
  if (bytes == 0 || alloc > 0x40000000u) return false;
  h->bufSize = bytes;
  h->bufStart = static_cast<uint8_t *>(kavmalloc(static_cast<uint32_t>(alloc)));
  if (!h->bufStart) return false;
  priv(h)->allocBytes = static_cast<uint32_t>(alloc);
  h->bufEnd = h->bufRead = h->bufStart;
  return true;
}

// Name with the kind's extension when the caller gave none.
bool kindName(char *dest, const char *base, bool addExtension, const char *ext) {
  const size_t n = std::strlen(base), e = addExtension ? std::strlen(ext) : 0;
  if (n + e >= KAV_NAME_MAX) return false;
  std::memcpy(dest, base, n);
  std::memcpy(dest + n, ext, e);
  dest[n + e] = '\0';
  return true;
}

bool hasExeExtension(const char *name) {
  const char *ext = HasExtension(name);
  return ext && strcasecmp(ext, ".EXE") == 0;
}

// Frame period in 1/100000 second of a Zanther header value (0: none).
uint32_t zantherPeriod(int32_t value) {
  if (value < 0) return static_cast<uint32_t>(-static_cast<int64_t>(value));
  return static_cast<uint32_t>(value) * 100u;
}

uint32_t movieLength(uint32_t bytesPerSecond, uint32_t frames, uint32_t period) {
  const uint64_t bytes = uint64_t{bytesPerSecond} * frames * period / 100000u;
  const uint64_t capped = bytes > 0xFFFFFFFCu ? 0xFFFFFFFCu : bytes;
  return static_cast<uint32_t>(capped & ~uint64_t{3});
}

// --- The kinds -------------------------------------------------------------

Try openFile(SFile *h, const char *name, uint32_t rawFormat, uint32_t rawOffset) {
  KAVFile *f = KAVFileOpen(static_cast<int32_t>(kFileBufferBytes), name, KAV_FILE_READ);
  if (!f) return Try::No;
  if (rawFormat) {
    const uint32_t size = KAVFileSize(f);
    const uint32_t rate = rawFormat >> 3;
    const uint32_t bits = rawFormat & 2u ? 16 : 8, channels = rawFormat & 1u ? 2 : 1;
    if (rate == 0 || size == 0) {
      KAVFileClose(f);
      return Try::No;
    }
    const uint32_t offset = rawOffset < size ? rawOffset : size - 1;
    setSourceFormat(h, rate, bits, channels);
    h->dataOffset = offset;
    h->length = (size - offset) - (size - offset) % h->srcFrameSize;
  } else {
    WaveFormatInfo info;
    if (readWaveHeader(f, info) != WaveResult::Ok) {
      KAVFileClose(f);
      return Try::No;
    }
    setSourceFormat(h, info.rate, info.bits, info.channels);
    h->dataOffset = info.dataOffset;
    h->length = info.dataBytes;
  }
  setKindName(h, "Wave");  // headerless PCM is wave data too
  if (!allocBuffer(h, kFileBufferBytes)) {
    KAVFileClose(f);
    return Try::Fail;
  }
  h->file = f;
  h->kind = SFILE_KIND_FILE;
  KAVFileSetPos(f, h->dataOffset);
  return Try::Yes;
}

Try useZanther(SFile *h, ZanthHandle *z, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  int index = -1;
  if (track) {
    index = static_cast<int>(track > 7 ? 7 : track) - 1;
    if (z->TrackInfo[index] == 0) {
      report(cb, "No sound found in the specified Zanther track.");
      return Try::Fail;
    }
  } else {
    for (int t = 0; t < 7 && index < 0; ++t)
      if (z->TrackInfo[t] != 0) index = t;
    if (index < 0) {
      report(cb, "No sound found in the Zanther file.");
      return Try::Fail;
    }
    setKindName(h, "Zanther");
  }
  const uint32_t word = z->TrackInfo[index];
  const uint32_t rate = word & 0xFFFFFFu;
  if (rate == 0) {
    report(cb, track ? "No sound found in the specified Zanther track." : "No sound found in the Zanther file.");
    return Try::Fail;
  }
  setSourceFormat(h, rate, word & ZANTH_TRACK_16BIT ? 16 : 8, word & ZANTH_TRACK_STEREO ? 2 : 1);
  h->trackMask = ZANTH_TRACK_MASK_0 << index;
  period = zantherPeriod(z->FramePeriod);
  // Bytes of the movie's running time. (Also for uncompressed tracks: their
  // chunks carry the same time's worth of sound.)
  const uint32_t bps = rate * h->srcFrameSize;
  h->length = period ? movieLength(bps, z->FrameCount, period)
                     : static_cast<uint32_t>(std::min<uint64_t>(uint64_t{z->FrameCount} * rate, 0xFFFFFFFCu));
  const uint64_t twoSeconds = uint64_t{bps} * 2;
  if (twoSeconds > 0x10000000u || !allocBuffer(h, static_cast<uint32_t>(twoSeconds))) return Try::Fail;
  priv(h)->framesTotal = priv(h)->framesLeft = z->FrameCount;
  h->zanther = z;
  h->kind = SFILE_KIND_ZANTHER;
  return Try::Yes;
}

Try useVorn(SFile *h, VornHandle *v, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  VornSetVideoDecoding(v, 0);
  VornTrack *t = VornTrackOpen(v, track);
  if (!t || t->sampleRate == 0 || (t->bits != 8 && t->bits != 16) || t->channels < 1 || t->channels > 2) {
    VornTrackClose(t);
    report(cb, "No sound found in the Vorn file.");
    return Try::Fail;
  }
  h->vorn = v;
  h->vornTrack = t;
  setSourceFormat(h, t->sampleRate, t->bits, t->channels);
  period = v->rateNumerator ? static_cast<uint32_t>(
                                  std::min<uint64_t>(uint64_t{100000} * v->rateDenominator / v->rateNumerator, 0xFFFFFFFFu))
                            : 0;
  h->length = movieLength(t->sampleRate * h->srcFrameSize, v->frameCount, period);
  if (!allocBuffer(h, t->bufferBytes)) return Try::Fail;
  priv(h)->framesTotal = priv(h)->framesLeft = v->frameCount;
  h->kind = SFILE_KIND_VORN;
  return Try::Yes;
}

Try openZanther(SFile *h, const char *name, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  ZanthHandle *z = ZanthOpen(name, KAV_INVALID_OS_FILE, 0, 0);
  if (!z) return Try::No;
  const Try r = useZanther(h, z, track, cb, period);
  if (r != Try::Yes) ZanthClose(z);
  return r;
}

Try openVorn(SFile *h, const char *name, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  VornSetPreferredTrack(-1);
  VornHandle *v = VornOpen(name, KAV_INVALID_OS_FILE, 0x8004000u);
  if (!v) return Try::No;
  const Try r = useVorn(h, v, track, cb, period);
  if (r != Try::Yes) {
    h->vorn = nullptr;
    h->vornTrack = nullptr;
    VornClose(v);
  }
  return r;
}

Try openExe(SFile *h, const char *name, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  if (!hasExeExtension(name)) return Try::No;
  uint32_t offset = 0;
  const KavOsFile fd = kav::pe::openEmbeddedMovie(name, &offset);
  if (fd == KAV_INVALID_OS_FILE) return Try::No;
  Try r = Try::No;
  if (ZanthHandle *z = ZanthOpen(name, fd, ZANTH_OPEN_HANDLE, 0)) {
    r = useZanther(h, z, track, cb, period);
    if (r != Try::Yes) ZanthClose(z);
  } else if (kav::os::seek(fd, offset)) {
    VornSetPreferredTrack(-1);
    if (VornHandle *v = VornOpen(name, fd, 0x8804000u)) {
      r = useVorn(h, v, track, cb, period);
      if (r != Try::Yes) {
        h->vorn = nullptr;
        h->vornTrack = nullptr;
        VornClose(v);
      }
    }
  }
  if (r == Try::Yes)
    h->exeFile = fd;
  else
    kav::os::close(fd);
  return r;
}

Try openAvi(SFile *h, const char *name, uint32_t track, KAVStatusCallback cb, uint32_t &period) {
  KAVAVIInit();
  avi::Stream *s = avi::streamOpenFromFile(name, avi::kStreamAudio, static_cast<int32_t>(track));
  if (!s) return Try::No;
  avi::WaveFormat wf{};
  int32_t size = static_cast<int32_t>(sizeof wf);
  if (!avi::streamReadFormat(s, avi::streamStart(s), &wf, &size) || size < 16) {
    avi::streamRelease(s);
    report(cb, "Error reading AVI file.");
    return Try::Fail;
  }
  avi::StreamInfo info{};
  avi::streamInfo(s, &info);
  // The file's picture: the video stream's size and frame period.
  bool picture = false;
  period = 0;
  if (avi::Stream *video = avi::streamOpenFromFile(name, avi::kStreamVideo, 0)) {
    avi::StreamInfo vi{};
    if (avi::streamInfo(video, &vi)) {
      picture = vi.rcFrame.right > vi.rcFrame.left && vi.rcFrame.bottom > vi.rcFrame.top;
      if (vi.dwRate)
        period = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{100000} * vi.dwScale / vi.dwRate, 0xFFFFFFFFu));
    }
    avi::streamRelease(video);
  }
  const bool rateMatches = info.dwScale && info.dwRate / info.dwScale == wf.nSamplesPerSec;
  const uint32_t frame = static_cast<uint32_t>(wf.wBitsPerSample) / 8 * wf.nChannels;
  if (wf.wFormatTag != avi::kWaveFormatPcm || !(picture || rateMatches) || wf.nSamplesPerSec == 0 ||
      (wf.wBitsPerSample != 8 && wf.wBitsPerSample != 16) || wf.nChannels < 1 || wf.nChannels > 2 ||
      wf.nBlockAlign != frame) {
    avi::streamRelease(s);
    return Try::No;
  }
  setSourceFormat(h, wf.nSamplesPerSec, wf.wBitsPerSample, wf.nChannels);
  const int32_t samples = avi::streamLength(s);
  h->length = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{samples > 0 ? static_cast<uint32_t>(samples) : 0u} * frame, 0xFFFFFFFFu - 3));
  h->length -= h->length % frame;
  if (!allocBuffer(h, kFileBufferBytes)) {
    avi::streamRelease(s);
    return Try::Fail;
  }
  h->aviStream = s;
  h->aviFirst = h->aviNext = static_cast<uint32_t>(avi::streamStart(s));
  h->kind = SFILE_KIND_AVI;
  setKindName(h, "AVI");
  return Try::Yes;
}

Try openQuickTime(SFile *h, const char *name, uint32_t track) {
  QTSFile *q = QTSFileOpen(name, static_cast<int32_t>(track));
  if (!q) return Try::No;
  if (q->sampleRate == 0 || (q->bits != 8 && q->bits != 16) || q->channels < 1 || q->channels > 2 ||
      !allocBuffer(h, kFileBufferBytes)) {
    QTSFileClose(q);
    return Try::No;
  }
  setSourceFormat(h, q->sampleRate, q->bits, q->channels);
  h->length = q->totalBytes - q->totalBytes % h->srcFrameSize;
  h->quicktime = q;
  h->kind = SFILE_KIND_QUICKTIME;
  setKindName(h, "QuickTime");
  return Try::Yes;
}

bool isWaveFile(const char *name) {
  KAVFile *f = KAVFileOpen(1024, name, KAV_FILE_READ);
  if (!f) return false;
  uint8_t h[12];
  const bool wave = KAVFileGet(f, h, 12) == 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0;
  KAVFileClose(f);
  return wave;
}

// Sound our own readers do not decode: MP3, FLAC, Ogg and Opus files and the
// compressed sound of movies (AAC in MP4, Vorbis in WebM...). The period is
// the movie's frame period, for starts and ends given in frames.
Try openGStreamer(SFile *h, const char *name, KAVStatusCallback cb, uint32_t &period) {
  // A WAVE file is ours to read or to refuse.
  if (!kav::gst::available() || isWaveFile(name)) return Try::No;
  kav::gst::Description d;
  kav::gst::Reader *r = nullptr;
  std::string message;
  const kav::gst::Result res = kav::gst::open(name, true, &d, &r, &message);
  if (res == kav::gst::Result::NotMedia) return Try::No;
  if (res == kav::gst::Result::Failed) {
    char text[KAV_NAME_MAX + 160];
    std::snprintf(text, sizeof text, "%s: %s", name, message.c_str());
    report(cb, text);
    return Try::Fail;
  }
  const uint64_t frameBytes = uint64_t{d.sound.bits} / 8 * d.sound.channels;
  if (!allocBuffer(h, kFileBufferBytes)) {
    kav::gst::close(r);
    return Try::Fail;
  }
  setSourceFormat(h, d.sound.rate, d.sound.bits, d.sound.channels);
  // The length is counted in 32 bits: longer sound is cut at whole frames.
  const uint64_t bytes = std::min<uint64_t>(d.sound.samples * frameBytes, 0xFFFFFFFCu);
  h->length = static_cast<uint32_t>(bytes - bytes % frameBytes);
  period = d.hasVideo && d.video.rateNumerator
               ? static_cast<uint32_t>(
                     std::min<uint64_t>(uint64_t{100000} * d.video.rateDenominator / d.video.rateNumerator, 0xFFFFFFFFu))
               : 0;
  priv(h)->gstreamer = r;
  h->kind = SFILE_KIND_GSTREAMER;
  setKindName(h, kav::gst::kindName(d, true).c_str());
  return Try::Yes;
}

// Milliseconds of a start (-n: video frame n begins) or end (-n: it ends).
uint32_t toMilliseconds(int32_t value, bool isEnd, uint32_t period) {
  if (value >= 0) return static_cast<uint32_t>(value);
  const uint64_t n = static_cast<uint64_t>(-static_cast<int64_t>(value));
  if (!period) return static_cast<uint32_t>(n);
  const uint64_t ms = (isEnd ? n : n - 1) * period / 100u;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, 0xFFFFFFFFu));
}

// Times that add up to 0 leave the whole sound (a start and end that cancel
// out as well as none at all).
void trim(SFile *h, int32_t start, int32_t end, uint32_t period, bool movieKind) {
  if (int64_t{start} + end == 0) return;
  const uint32_t startMs = toMilliseconds(start, false, period), endMs = toMilliseconds(end, true, period);
  const uint64_t bps = uint64_t{h->srcRate} * h->srcFrameSize;
  uint64_t skip = bps * startMs / 1000u;
  skip -= skip % h->srcFrameSize;
  if (skip < h->length) {
    const uint32_t s = static_cast<uint32_t>(skip);
    if (movieKind) {
      h->startSkip = h->startSkipGiven = s;
    } else if (h->kind == SFILE_KIND_AVI) {
      h->aviFirst = h->aviNext = h->aviFirst + s / h->srcFrameSize;
    } else if (h->kind == SFILE_KIND_QUICKTIME) {
      h->quicktimeStart = startMs;
    } else {
      h->dataOffset += s;
    }
    h->length -= s;
  } else if (skip > 0) {
    // A start at or past the end leaves nothing to play.
    h->length = 0;
  }
  if (endMs >= startMs && end != 0) {
    uint64_t limit = bps * (endMs - startMs) / 1000u;
    limit -= limit % h->srcFrameSize;
    if (limit < h->length) h->length = static_cast<uint32_t>(limit);
  }
}

}  // namespace

void report(KAVStatusCallback callback, const char *text) {
  if (callback) callback(text, 2);
}

void fixOutputFormat(SFile *h, uint32_t rate, uint32_t bits, uint32_t channels) {
  h->outRate = rate ? rate : h->srcRate;
  h->outBits = bits == 8 || bits == 16 ? bits : h->srcBits;
  h->outChannels = channels == 1 || channels == 2 ? channels : h->srcChannels;
  h->outFrameSize = h->outBits / 8 * h->outChannels;
}

SFile *openSource(const OpenArgs &a, OpenContext &ctx) {
  if (!a.name) return nullptr;
  auto *h = static_cast<SFile *>(kavmalloc(sizeof(SFile)));
  if (!h) return nullptr;
  std::memset(static_cast<void *>(h), 0, sizeof *h);
  h->exeFile = KAV_INVALID_OS_FILE;
  h->callback = a.callback;
  void *p = kavmalloc(sizeof(Private));
  if (!p) {
    kavfree(h);
    return nullptr;
  }
  h->priv = new (p) Private();
  priv(h)->depth = ctx.depth;

  const bool noExtension = HasExtension(a.name) == nullptr;
  char base[KAV_NAME_MAX];
  if (!kindName(base, a.name, noExtension, ".wav")) {
    report(a.callback, kOpenFailed);
    closeSource(h);
    return nullptr;
  }
  setName(h, base);

  Try r = Try::No;
  uint32_t period = 0;
  bool movieKind = false;
  if (std::strchr(base, '?') || isListName(base)) {
    if (!openList(h, {base, a.rate, a.bits, a.channels, a.start, a.end, a.track, 0, 0, a.callback}, ctx)) {
      closeSource(h);
      return nullptr;
    }
    r = Try::Yes;
    movieKind = true;
  }
  if (r == Try::No) r = openFile(h, base, a.rawFormat, a.rawOffset);
  if (r == Try::No && !a.rawFormat) {
    struct Kind {
      const char *ext;
      int which;
    };
    const Kind kinds[] = {{".znt", 0}, {".vrn", 1}, {"", 2}, {".avi", 3}, {".mov", 4}};
    for (const Kind &k : kinds) {
      char name[KAV_NAME_MAX];
      if (!kindName(name, a.name, noExtension && k.ext[0], k.ext)) continue;
      switch (k.which) {
        case 0: r = openZanther(h, name, a.track, a.callback, period); break;
        case 1: r = openVorn(h, name, a.track, a.callback, period); break;
        case 2: r = openExe(h, name, a.track, a.callback, period); break;
        case 3: r = openAvi(h, name, a.track, a.callback, period); break;
        default: r = openQuickTime(h, name, a.track); break;
      }
      if (r == Try::Yes) setName(h, name);
      if (r != Try::No) break;
    }
    if (r == Try::No) {
      r = openGStreamer(h, a.name, a.callback, period);
      if (r == Try::Yes) setName(h, a.name);
    }
    movieKind = h->kind == SFILE_KIND_ZANTHER || h->kind == SFILE_KIND_VORN || h->kind == SFILE_KIND_GSTREAMER;
  }
  if (r != Try::Yes) {
    if (r == Try::No) report(a.callback, kOpenFailed);
    closeSource(h);
    return nullptr;
  }
  // A list's own format is its output format, fixed by its first entry.
  trim(h, a.start, a.end, period, movieKind);
  if (h->kind != SFILE_KIND_LIST) fixOutputFormat(h, a.rate, a.bits, a.channels);
  SFileReset(h);
  return h;
}

void closeSource(SFile *h) {
  if (!h) return;
  closeList(h);
  KAVFileClose(h->file);
  if (h->vornTrack) VornTrackClose(h->vornTrack);
  if (h->vorn) VornClose(h->vorn);
  if (h->zanther) ZanthClose(h->zanther);
  if (h->exeFile != KAV_INVALID_OS_FILE) kav::os::close(h->exeFile);
  if (h->aviStream) avi::streamRelease(static_cast<avi::Stream *>(h->aviStream));
  if (h->quicktime) QTSFileClose(h->quicktime);
  kavfree(h->bufStart);
  if (h->priv) {
    kav::gst::close(priv(h)->gstreamer);
    priv(h)->~Private();
    kavfree(h->priv);
  }
  std::memset(static_cast<void *>(h), 0, sizeof *h);
  kavfree(h);
}

}  // namespace kav::sfile

using namespace kav::sfile;

extern "C" {

KAV_EXPORT SFile *KAVAPI SFileOpen(const char *name, uint32_t rate, uint32_t bits, uint32_t channels, int32_t start,
                                   int32_t end, uint32_t track, uint32_t raw_format, uint32_t raw_offset,
                                   KAVStatusCallback callback) {
  try {
    OpenContext ctx;
    return openSource({name, rate, bits, channels, start, end, track, raw_format, raw_offset, callback}, ctx);
  } catch (...) {
    return nullptr;
  }
}

KAV_EXPORT void KAVAPI SFileReset(SFile *h) {
  if (!h) return;
  try {
    Private *p = priv(h);
    h->bufEnd = h->bufRead = h->bufStart;
    h->outSamples = h->srcSamples = 0;
    h->upLeft = h->upRight = h->upStepLeft = h->upStepRight = 0;
    h->upNext = 0;
    p->spanIndex = p->exhausted = 0;
    p->sourceDone = 0;
    p->framesLeft = p->framesTotal;
    switch (h->kind) {
      case SFILE_KIND_FILE: KAVFileSetPos(h->file, h->dataOffset); break;
      case SFILE_KIND_ZANTHER: ZanthSeek(h->zanther, 1); break;
      case SFILE_KIND_AVI: h->aviNext = h->aviFirst; break;
      case SFILE_KIND_LIST: resetList(h); break;
      case SFILE_KIND_QUICKTIME: QTSFileGoto(h->quicktime, h->quicktimeStart); break;
      case SFILE_KIND_GSTREAMER:
        if (!kav::gst::rewind(p->gstreamer)) h->length = 0;
        break;
      case SFILE_KIND_VORN: {
        VornGoto(h->vorn, 0, 1);
        // A fresh track reader: its decoder carries the overlap of the last
        // frame it decoded, which would colour the first frame again.
        const uint32_t index = h->vornTrack->track;
        VornTrackClose(h->vornTrack);
        h->vornTrack = VornTrackOpen(h->vorn, index);
        if (!h->vornTrack) h->length = 0;
        break;
      }
      default: break;
    }
    h->remaining = h->length;
    h->startSkip = h->startSkipGiven;
    h->end = h->length == 0;
  } catch (...) {
  }
}

KAV_EXPORT void KAVAPI SFileClose(SFile *h) {
  try {
    closeSource(h);
  } catch (...) {
  }
}

KAV_EXPORT int32_t KAVAPI SFileCommandLine(char *cmdline, uint32_t *rate, uint32_t *bits, uint32_t *channels,
                                           int32_t *start, int32_t *end, uint32_t *track, uint32_t *raw_format,
                                           uint32_t *raw_offset) {
  if (!cmdline) return 0;
  if (rate) *rate = static_cast<uint32_t>(GetSwitchNum(cmdline, 'R', 0));
  if (channels) *channels = static_cast<uint32_t>(GetSwitchNum(cmdline, 'C', 0));
  if (bits) *bits = static_cast<uint32_t>(GetSwitchNum(cmdline, 'B', 0));
  if (start) *start = GetSwitchNum(cmdline, 'S', 0);
  if (end) *end = GetSwitchNum(cmdline, 'E', 0);
  if (track) *track = static_cast<uint32_t>(GetSwitchNum(cmdline, 'T', 0));
  if (raw_format) {
    const int32_t type = GetSwitchNum(cmdline, 'Y', 0);
    if (type >= 1 && type <= 5) {
      const int32_t rawRate = GetSwitchNum(cmdline, 'D', 11025);
      *raw_format = static_cast<uint32_t>(rawRate) * 8u + static_cast<uint32_t>(type - 1);
      if (raw_offset) *raw_offset = static_cast<uint32_t>(GetSwitchNum(cmdline, 'K', 0));
    } else {
      *raw_format = static_cast<uint32_t>(type);
      if (raw_offset) *raw_offset = 0;
    }
  } else if (raw_offset) {
    *raw_offset = 0;
  }
  return 1;
}

}  // extern "C"
