// The sound track of an AVI or a compressed movie. The first amount query
// creates the track in the caller's PCM format; from then on each frame asks
// how many bytes to pass, so that the sound ends exactly at the movie's
// length. An AVI's sound runs three quarters of a second ahead of the
// pictures, which is how its players like it interleaved; a compressed
// movie's muxer interleaves by time itself, so its sound only covers the
// frames put (a movie cut short then ends with its pictures). Every figure is computed
// from the start of the movie (not added up frame by frame) and in whole
// blocks, so no rounding accumulates over a long movie.
#include <algorithm>
#include <cstring>

#include "ogfile/ogfile_internal.h"

namespace kav::og {

namespace {

void put16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

// The figures every amount is computed from.
void setPacing(Handle *h, uint64_t block, uint64_t perSecond, uint64_t preload) {
  OGFile &o = h->pub;
  h->soundBlockAlign = static_cast<uint32_t>(block);
  h->soundBytesPerSecond = static_cast<uint32_t>(perSecond);
  o.soundPreload = static_cast<uint32_t>(preload);
  const uint64_t total = perSecond * o.frameCount * o.rateDenominator / o.rateNumerator;
  const uint64_t most = 0xFFFFFFFFu - 0xFFFFFFFFu % block;
  o.soundAllowance = static_cast<uint32_t>(std::min<uint64_t>(total - total % block, most));
}

bool createSound(Handle *h, uint32_t rate, uint32_t bits, uint32_t channels) {
  OGFile &o = h->pub;
  const uint64_t block = uint64_t{bits} * channels / 8;
  const uint64_t perSecond = uint64_t{rate} * block;
  if (bits == 0 || bits % 8 != 0 || bits > 32 || channels == 0 || channels > 8 || rate == 0 ||
      perSecond > 0xFFFFFFFFu)
    return false;
  if (isMovieKind(o.kind)) {
    if (!createMovieSound(h, rate, bits, channels)) return false;
    setPacing(h, block, perSecond, 0);
    return true;
  }
  avi::StreamInfo info{};
  info.fccType = avi::kStreamAudio;
  info.dwScale = static_cast<uint32_t>(block);
  info.dwRate = static_cast<uint32_t>(perSecond);
  info.dwInitialFrames = static_cast<uint32_t>((uint64_t{rate} * 3 / 4 + 3) & ~uint64_t{3});
  info.dwSampleSize = static_cast<uint32_t>(block);
  info.dwQuality = -1;
  auto *stream = avi::fileCreateStream(static_cast<avi::Writer *>(o.aviFile), info);
  if (!stream) return false;
  uint8_t *f = o.soundFormat;
  put16(f + 0, avi::kWaveFormatPcm);
  put16(f + 2, channels);
  put32(f + 4, rate);
  put32(f + 8, static_cast<uint32_t>(perSecond));
  put16(f + 12, static_cast<uint32_t>(block));
  put16(f + 14, bits);
  put16(f + 16, 0);
  if (!avi::streamSetFormat(stream, 0, f, sizeof o.soundFormat)) return false;
  o.soundStream = stream;
  setPacing(h, block, perSecond, uint64_t{info.dwInitialFrames} * block);
  return true;
}

}  // namespace

}  // namespace kav::og

using namespace kav::og;

extern "C" {

KAV_EXPORT uint32_t KAVAPI OGFilePutSoundAmount(OGFile *o, uint32_t rate, uint32_t bits, uint32_t channels) {
  if (!o) return 0;
  Handle *h = full(o);
  const bool movie = isMovieKind(o->kind);
  if (movie ? !h->movie : o->kind != OGFILE_AVI || !o->aviReady) return 0;
  try {
    if (movie ? !h->movieSound : !o->soundStream) {
      if (h->soundBlockAlign == 0xFFFFFFFFu) return 0;  // creating it failed before
      if (!createSound(h, rate, bits, channels)) {
        h->soundBlockAlign = 0xFFFFFFFFu;
        report(h, "Error creating the output sound track.", 2);
        return 0;
      }
    }
    // A movie's sound reaches to the end of the frame just put.
    const uint64_t upTo = o->soundCalls + (movie ? 1 : 0);
    const uint64_t due =
        uint64_t{h->soundBytesPerSecond} * upTo * o->rateDenominator / o->rateNumerator + o->soundPreload;
    const uint64_t owed = due > o->soundBytesWritten ? due - o->soundBytesWritten : 0;
    const uint64_t amount = std::min<uint64_t>(o->soundAllowance, owed);
    return static_cast<uint32_t>(amount - amount % h->soundBlockAlign);
  } catch (...) {
    return 0;
  }
}

KAV_EXPORT void KAVAPI OGFilePutSound(OGFile *o, const void *data, uint32_t bytes) {
  if (!o) return;
  Handle *h = full(o);
  const bool movie = isMovieKind(o->kind);
  if (movie ? !h->movieSound : o->kind != OGFILE_AVI || !o->soundStream) return;
  const uint32_t samples = bytes / h->soundBlockAlign;
  const uint32_t whole = samples * h->soundBlockAlign;  // a broken block at the end is not sound
  if (samples) {
    if (movie) {
      putMovieSound(h, data, whole);  // the movie's size is the file's, read as it grows
    } else {
      auto *stream = static_cast<kav::avi::WriteStream *>(o->soundStream);
      int32_t written = 0, fileBytes = 0;
      bool ok = data && whole <= 0x7FFFFFFFu;
      ok = ok && kav::avi::streamSetFormat(stream, static_cast<int32_t>(o->soundPosition), o->soundFormat,
                                           sizeof o->soundFormat);
      ok = ok && kav::avi::streamWrite(stream, static_cast<int32_t>(o->soundPosition), static_cast<int32_t>(samples),
                                       data, static_cast<int32_t>(whole), 0, &written, &fileBytes);
      if (!ok) writeFailed(h);
      o->bytesWritten = addBytes(o->bytesWritten, whole);
    }
    o->soundPosition += samples;
    o->soundBytesWritten = addBytes(o->soundBytesWritten, whole);
    o->soundAllowance -= std::min(o->soundAllowance, whole);
  }
  ++o->soundCalls;
}

}  // extern "C"
