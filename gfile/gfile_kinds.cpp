// Identifying the source: the kinds are tried in a fixed order, each on a
// fresh copy of the name with its default extension, and the first that
// opens decides. Also closing and rewinding the readers of each kind.
#include <strings.h>

#include <cstring>
#include <string>

#include "gfile/gfile_internal.h"
#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "platform/avi/avi_file.h"
#include "platform/gstreamer/gst_media.h"
#include "platform/stillimage/still_gif_anim.h"
#include "platform/os_file.h"
#include "platform/pe/pe_resources.h"

namespace kav::gfile {

namespace {

namespace still = kav::still;
namespace avi = kav::avi;

bool fileExists(const std::string &name) {
  const KavOsFile f = kav::os::openExisting(name.c_str(), false);
  if (f == KAV_INVALID_OS_FILE) return false;
  kav::os::close(f);
  return true;
}

}  // namespace

std::string withExtension(const char *name, const char *ext, bool onlyIfExists) {
  std::string n = name;
  if (HasExtension(name)) return n;
  std::string e = n + ext;
  if (onlyIfExists && !fileExists(e)) return n;
  return e;
}

bool setName(GFile *g, const std::string &name) {
  if (name.size() >= KAV_NAME_MAX) return false;
  std::strcpy(g->name, name.c_str());
  return true;
}

void setKind(GFile *g, uint32_t kind, const char *kindName) {
  g->kind = kind;
  std::strncpy(g->kindName, kindName, sizeof g->kindName - 1);
}

namespace {

// Native rate of a Flic, Zanther or raw period value.
void rateFromPeriod(GFile *g, int32_t v) {
  if (v > 0) {
    g->nativeRateNumerator = 1000;
    g->nativeRateDenominator = static_cast<uint32_t>(v);
  } else if (v < 0) {
    g->nativeRateNumerator = 100000;
    g->nativeRateDenominator = static_cast<uint32_t>(-int64_t{v});
  } else {  // no period recorded: the still-image rate
    g->nativeRateNumerator = 15;
    g->nativeRateDenominator = 1;
  }
}

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

bool tryFlic(GFile *g, const char *name) {
  KAVFlic *f = KAVFlicOpen(name);
  if (!f) return false;
  GFileInternal &s = state(g);
  s.flic = f;
  setKind(g, GFILE_KIND_FLIC, "Flic");
  g->sourceBits = 8;
  g->totalFrames = f->frameCount;
  g->sourceWidth = f->width;
  g->sourceHeight = f->height;
  rateFromPeriod(g, f->rate);
  char n[KAV_NAME_MAX];
  KAVFlicGetName(f, n);
  n[KAV_NAME_MAX - 1] = 0;
  setName(g, n);
  return true;
}

void takeZanther(GFile *g, ZanthHandle *z) {
  state(g).zanther = z;
  setKind(g, GFILE_KIND_ZANTHER, "Zanther");
  g->sourceBits = 8;
  g->totalFrames = z->FrameCount;
  g->sourceWidth = z->Width;
  g->sourceHeight = z->Height;
  rateFromPeriod(g, z->FramePeriod);
  for (uint32_t w : z->TrackInfo)
    if (w) g->hasSound = 1;
}

void takeVorn(GFile *g, VornHandle *v) {
  state(g).vorn = v;
  setKind(g, GFILE_KIND_VORN, "Vorn");
  g->sourceBits = 32;
  g->sourceWidth = v->width;
  g->sourceHeight = v->height;
  g->totalFrames = v->frameCount;
  g->nativeRateNumerator = v->rateNumerator;
  g->nativeRateDenominator = v->rateDenominator;
  state(g).kindPitch = v->width * 4;
  if (v->trackCount) g->hasSound = 1;
}

bool tryZanther(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".znt");
  ZanthHandle *z = ZanthOpen(n.c_str(), KAV_INVALID_OS_FILE, 0, 0);
  if (!z) return false;
  takeZanther(g, z);
  setName(g, n);
  return true;
}

bool tryVorn(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".vrn");
  VornSetPreferredTrack(-1);
  VornHandle *v = VornOpen(n.c_str(), KAV_INVALID_OS_FILE, 0x8104000u);
  if (!v) return false;
  takeVorn(g, v);
  setName(g, n);
  return true;
}

bool tryExe(GFile *g, const char *name) {
  const char *ext = HasExtension(name);
  if (!ext || strcasecmp(ext, ".EXE") != 0) return false;
  uint32_t offset = 0;
  const KavOsFile f = kav::pe::openEmbeddedMovie(name, &offset);
  if (f == KAV_INVALID_OS_FILE) return false;
  if (ZanthHandle *z = ZanthOpen(name, f, ZANTH_OPEN_HANDLE, 0)) {
    takeZanther(g, z);
  } else {
    VornHandle *v = nullptr;
    if (kav::os::seek(f, offset)) {
      VornSetPreferredTrack(-1);
      v = VornOpen(name, f, 0x8804000u);
    }
    if (!v) {
      kav::os::close(f);
      return false;
    }
    takeVorn(g, v);
  }
  state(g).exeFile = f;
  return true;
}

bool tryQuickTime(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".mov", true);
  QTFile *q = QTFileOpen(n.c_str());
  if (!q) return false;
  state(g).quickTime = q;
  setKind(g, GFILE_KIND_QUICKTIME, "QuickTime");
  g->sourceWidth = q->width;
  g->sourceHeight = q->height;
  g->nativeRateNumerator = q->rateNumerator;
  g->nativeRateDenominator = q->rateDenominator;
  g->totalFrames = q->frameCount;
  g->sourceBits = q->bits;
  g->hasSound = q->hasSound ? 1 : 0;
  setName(g, n);
  return true;
}

struct StillKind {
  still::Format format;
  uint32_t kind;
  const char *kindName;
};

bool tryStill(GFile *g, const char *name, const StillKind &k) {
  const still::FormatEntry &f = still::stillFormat(k.format);
  const std::string n = withExtension(name, f.extension);
  still::StillInfo info{};
  if (f.info(n.c_str(), &info) != still::kStillOk) return false;
  if (info.width <= 0 || info.height <= 0 || info.width > 4096 || info.height > 4096) return false;
  // LZW-compressed TIFF files are left to the movie readers.
  if (k.format == still::Format::Tiff && info.compression == 5) return false;
  setKind(g, k.kind, k.kindName);
  g->sourceWidth = static_cast<uint32_t>(info.width);
  g->sourceHeight = static_cast<uint32_t>(info.height);
  g->sourceBits = info.bitsPerPixel <= 8 ? 8 : 24;
  g->nativeRateNumerator = 15;
  g->nativeRateDenominator = 1;
  g->totalFrames = 1;
  state(g).stillFormat = static_cast<uint32_t>(k.format);
  setName(g, n);
  return true;
}

Tried tryAvi(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".avi", true);
  KAVAVIInit();
  avi::Stream *video = avi::streamOpenFromFile(n.c_str(), avi::kStreamVideo, 0);
  if (!video) return Tried::NotThisKind;
  avi::FrameGetter *frames = avi::streamGetFrameOpen(video);
  if (!frames) {
    avi::streamRelease(video);
    return Tried::Fatal;
  }
  GFileInternal &s = state(g);
  s.aviStream = video;
  s.aviFrames = frames;
  avi::StreamInfo info{};
  avi::streamInfo(video, &info);
  setKind(g, GFILE_KIND_AVI, "AVI");
  g->nativeRateNumerator = info.dwRate;
  g->nativeRateDenominator = info.dwScale;
  s.aviStart = info.dwStart;
  g->totalFrames = info.dwLength;
  if (avi::Stream *audio = avi::streamOpenFromFile(n.c_str(), avi::kStreamAudio, 0)) {
    g->hasSound = 1;
    avi::WaveFormat wf{};
    int32_t size = sizeof wf;
    if (avi::streamReadFormat(audio, avi::streamStart(audio), &wf, &size) && size == 16 && g->totalFrames) {
      const uint64_t bytes = uint64_t(uint32_t(avi::streamLength(audio))) * wf.wBitsPerSample * wf.nChannels / 8 /
                             g->totalFrames;
      s.aviSoundBytesPerFrame = static_cast<uint32_t>(bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : bytes);
    }
    avi::streamRelease(audio);
  }
  const avi::BitmapInfoHeader *b = avi::streamGetFrame(frames, static_cast<int32_t>(s.aviStart));
  if (!b) return Tried::Fatal;
  g->sourceBits = b->biBitCount;
  // The picture actually delivered decides the geometry: a frame rectangle
  // that disagrees with the format would make rows be read past their end.
  g->sourceWidth = static_cast<uint32_t>(b->biWidth);
  g->sourceHeight = static_cast<uint32_t>(b->biHeight < 0 ? -int64_t{b->biHeight} : b->biHeight);
  setName(g, n);
  return Tried::Opened;
}

bool tryRaw(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".raw");
  KAVFile *f = KAVFileOpen(16384, n.c_str(), KAV_FILE_READ);
  if (!f) return false;
  uint8_t h[20];
  if (KAVFileGet(f, h, 20) != 20 || std::memcmp(h, "RAWB", 4) != 0) {
    KAVFileClose(f);
    return false;
  }
  const uint32_t count = le32(h + 4), w = le32(h + 8), ht = le32(h + 12);
  const int32_t period = static_cast<int32_t>(le32(h + 16));
  // Frames are read into one buffer of pitch x height bytes.
  if (w == 0 || ht == 0 || w > 32768 || ht > 32768 || uint64_t{(w + 3) & ~3u} * ht > (1u << 28)) {
    KAVFileClose(f);
    return false;
  }
  GFileInternal &s = state(g);
  s.raw = f;
  s.rawWidth = w;
  s.rawHeight = ht;
  s.kindPitch = (w + 3) & ~3u;
  g->kind = GFILE_KIND_RAW;
  g->kindName[0] = 0;
  g->sourceBits = 8;
  g->sourceWidth = w;
  g->sourceHeight = ht;
  g->totalFrames = count;
  rateFromPeriod(g, period == INT32_MIN ? INT32_MAX : -period);
  setName(g, n);
  return true;
}

bool trySoundOnly(GFile *g, const char *name) {
  const std::string n = withExtension(name, ".wav");
  uint64_t bytes = 0;
  uint32_t rate = 0, frameBytes = 0;
  if (!isSoundFile(n.c_str(), &bytes, &rate, &frameBytes)) return false;
  becomeSoundOnly(g, bytes, uint64_t{rate} * frameBytes);
  setName(g, n);
  return true;
}

bool isWave(const char *name) {
  KAVFile *f = KAVFileOpen(1024, withExtension(name, ".wav").c_str(), KAV_FILE_READ);
  if (!f) return false;
  uint8_t h[12];
  const bool wave = KAVFileGet(f, h, 12) == 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0;
  KAVFileClose(f);
  return wave;
}

}  // namespace

void becomeSoundOnly(GFile *g, uint64_t amount, uint64_t unitsPerSecond) {
  setKind(g, GFILE_KIND_SOUND_ONLY, "Sound-only");
  g->sourceWidth = g->sourceHeight = 4;
  g->sourceBits = 8;
  state(g).kindPitch = 4;
  g->hasSound = 1;
  g->nativeRateNumerator = 15;
  g->nativeRateDenominator = 1;
  const uint64_t frames = amount * 15 / unitsPerSecond + 1;
  g->totalFrames = frames > 0xFFFFFFu ? 0xFFFFFFu : static_cast<uint32_t>(frames);
}

// A WAVE file the sound input reads: PCM "fmt " then "data".
bool isSoundFile(const char *name, uint64_t *bytes, uint32_t *rate, uint32_t *frameBytes) {
  KAVFile *f = KAVFileOpen(16384, name, KAV_FILE_READ);
  if (!f) return false;
  bool ok = false, haveFormat = false;
  uint8_t h[12];
  if (KAVFileGet(f, h, 12) == 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0) {
    uint32_t pos = 12;
    const uint32_t size = KAVFileSize(f);
    for (;;) {
      uint8_t c[8];
      if (KAVFileGet(f, c, 8) != 8) break;
      const uint32_t len = le32(c + 4);
      pos += 8;
      if (std::memcmp(c, "fmt ", 4) == 0) {
        uint8_t fmt[16];
        if (len < 16 || KAVFileGet(f, fmt, 16) != 16) break;
        const uint32_t tag = fmt[0] | fmt[1] << 8, channels = fmt[2] | fmt[3] << 8, bits = fmt[14] | fmt[15] << 8;
        if (tag != 1 || channels == 0 || bits == 0) break;
        *rate = le32(fmt + 4);
        *frameBytes = channels * ((bits + 7) / 8);
        if (*rate == 0) break;
        haveFormat = true;
      } else if (std::memcmp(c, "data", 4) == 0) {
        if (!haveFormat) break;
        *bytes = len > size - pos ? size - pos : len;
        ok = true;
        break;
      }
      if (len > size - pos) break;
      pos += len + (len & 1);
      KAVFileSetPos(f, pos);
    }
  }
  KAVFileClose(f);
  return ok;
}

bool openKinds(GFile *g, const char *name) {
  if (isWave(name)) return trySoundOnly(g, name);
  if (tryFlic(g, name) || tryZanther(g, name) || tryVorn(g, name) || tryExe(g, name)) return true;
  if ((g->flags & GFILE_PREFER_QUICKTIME) && tryQuickTime(g, name)) return true;
  static const StillKind first[] = {{still::Format::Bmp, GFILE_KIND_BMP, "BMP still image"},
                                    {still::Format::Pcx, GFILE_KIND_PCX, "PCX still image"},
                                    {still::Format::Png, GFILE_KIND_PNG, "PNG still image"},
                                    {still::Format::Tga, GFILE_KIND_TGA, "TGA still image"}};
  for (const StillKind &k : first)
    if (tryStill(g, name, k)) return true;
  switch (tryAvi(g, name)) {
    case Tried::Opened:
      return true;
    case Tried::Fatal:
      // Our AVI reader does not decode this codec: GStreamer may.
      closeReaders(g);
      {
        std::string why;
        if (tryGStreamer(g, name, &why) == Tried::Opened) return true;
        if (!why.empty()) report(g, 2, "%s", why.c_str());
      }
      return false;
    case Tried::NotThisKind:
      break;
  }
  if (tryQuickTime(g, name)) return true;
  {
    std::string why;
    switch (tryGifAnimation(g, name, &why)) {
      case Tried::Opened:
        return true;
      case Tried::Fatal:
        report(g, 2, "%s", why.c_str());
        return false;
      case Tried::NotThisKind:
        break;
    }
  }
  static const StillKind more[] = {{still::Format::Tiff, GFILE_KIND_TIF, "TIF still image"},
                                   {still::Format::Gif, GFILE_KIND_GIF, "GIF still image"},
                                   {still::Format::Jpeg, GFILE_KIND_JPEG, "JPEG still image"}};
  for (const StillKind &k : more)
    if (tryStill(g, name, k)) return true;
  if (trySoundOnly(g, name)) return true;
  // A file GStreamer takes for a movie it cannot read may still be one of
  // our raw frame files; only when it is not is GStreamer's reason told.
  std::string why;
  if (tryGStreamer(g, name, &why) == Tried::Opened || tryRaw(g, name)) return true;
  if (!why.empty()) report(g, 2, "%s", why.c_str());
  return false;
}

void closeReaders(GFile *g) {
  GFileInternal &s = state(g);
  if (s.flic) KAVFlicClose(s.flic);
  if (s.zanther) ZanthClose(s.zanther);
  if (s.vorn) VornClose(s.vorn);
  if (s.exeFile != KAV_INVALID_OS_FILE) kav::os::close(s.exeFile);
  if (s.raw) KAVFileClose(s.raw);
  if (s.aviFrames) avi::streamGetFrameClose(s.aviFrames);
  if (s.aviStream) avi::streamRelease(s.aviStream);
  if (s.quickTime) QTFileClose(s.quickTime);
  kav::gst::close(s.gstreamer);
  delete s.gifAnimation;
  s.gifAnimation = nullptr;
  s.gifShown.clear();
  still::stillRelease(&s.still);
  s.flic = nullptr;
  s.zanther = nullptr;
  s.vorn = nullptr;
  s.exeFile = KAV_INVALID_OS_FILE;
  s.raw = nullptr;
  s.aviFrames = nullptr;
  s.aviStream = nullptr;
  s.quickTime = nullptr;
  s.gstreamer = nullptr;
}

void rewindReaders(GFile *g) {
  GFileInternal &s = state(g);
  if (s.flic) KAVFlicGoto(s.flic, 0, nullptr);
  if (s.zanther) ZanthSeek(s.zanther, 0);
  if (s.vorn) VornGoto(s.vorn, 1, 1);
  if (s.raw) KAVFileSetPos(s.raw, 20);
  if (s.quickTime) QTFileGoto(s.quickTime, 0);
  if (s.gstreamer) kav::gst::rewind(s.gstreamer);
}

}  // namespace kav::gfile
