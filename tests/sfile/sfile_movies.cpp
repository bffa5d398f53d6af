#include "sfile/sfile_movies.h"

#include <cstring>

#include "kavutil/vornfile.h"
#include "kavutil/zanther.h"
#include "platform/avi/avi_file.h"
#include "quicktime/qt_builder.h"
#include "support/pe_builder.h"
#include "support/vorn_file_writer.h"
#include "support/zanther_writer.h"
#include "vornfile/movie_model.h"

namespace sftest {

namespace zw = kavtest::zantw;
namespace vf = kavtest::vornf;

Bytes zantherMovie(int32_t framePeriod, const std::vector<uint32_t> &trackWords,
                   const std::vector<std::vector<Bytes>> &sound, uint32_t frames) {
  zw::Movie m;
  m.width = 16;
  m.height = 16;
  m.framePeriod = framePeriod;
  for (size_t t = 0; t < trackWords.size() && t < 7; ++t) m.trackInfo[t] = trackWords[t];
  for (uint32_t f = 0; f < frames; ++f) {
    zw::Frame fr;
    fr.pixels.assign(256, static_cast<uint8_t>(f * 7));
    for (size_t t = 0; t < sound.size() && t < 7; ++t)
      if (f < sound[t].size()) fr.sound[t] = sound[t][f];
    m.frames.push_back(fr);
  }
  return zw::writeMovie(m);
}

Bytes rawChunk(const Bytes &pcm) { return zw::rawSoundChunk(pcm); }
Bytes deltaChunk(const Bytes &pcm, bool stereo, bool wide) { return zw::deltaSoundChunk(pcm, stereo, wide); }
uint32_t zantherTrackWord(uint32_t rate, bool stereo, bool wide, bool compressed) {
  return zw::trackWord(rate, stereo, wide, compressed, false);
}

Bytes vornMovie(uint32_t rate, uint32_t channels, bool sixteen, const std::vector<unsigned> &blocks,
                uint32_t rateNumerator, uint32_t rateDenominator) {
  vf::FileDesc d;
  d.width = 40;
  d.height = 24;
  d.rateNumerator = rateNumerator;
  d.rateDenominator = rateDenominator;
  d.tracks.push_back({vf::descriptor(rate, channels == 2, sixteen), 5, {}});
  vf::SoundTrackEncoder enc(rate, channels, 3);
  kavtest::MovieModel video({});
  for (size_t i = 0; i < blocks.size(); ++i) {
    vf::Frame f;
    f.key = i == 0;
    f.sound.push_back(blocks[i] ? enc.chunk(blocks[i]) : Bytes{});
    f.video = video.frame(f.key, static_cast<uint32_t>(i + 1));
    d.frames.push_back(std::move(f));
  }
  return vf::writeFile(d);
}

Bytes zantherTrackPcm(const std::string &name, uint32_t track) {
  ZanthHandle *z = ZanthOpen(name.c_str(), KAV_INVALID_OS_FILE, 0, 0);
  if (!z) return {};
  Bytes out, buf(1 << 20);
  for (uint32_t f = 0; f < z->FrameCount; ++f) {
    const uint32_t n = ZanthTrackData(z, buf.data(), ZANTH_TRACK_MASK_0 << track);
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    ZanthAdvance(z);
  }
  ZanthClose(z);
  return out;
}

Bytes vornTrackPcm(const std::string &name, uint32_t track) {
  VornSetPreferredTrack(-1);
  VornHandle *v = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, 0x8004000u);
  if (!v) return {};
  VornTrack *t = VornTrackOpen(v, track);
  Bytes out, buf(t ? t->bufferBytes + 16 : 0);
  for (uint32_t f = 0; t && f < v->frameCount; ++f) {
    const uint32_t n = VornTrackRead(t, buf.data());
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    VornNextFrame(v);
  }
  VornTrackClose(t);
  VornClose(v);
  return out;
}

void writeAvi(const std::string &name, uint32_t fps, uint32_t frames, uint32_t rate, uint16_t bits, uint16_t channels,
              const Bytes &pcm, bool withVideo) {
  namespace avi = kav::avi;
  avi::Writer *w = avi::fileCreate(name.c_str());
  avi::WriteStream *v = nullptr;
  const uint32_t width = 8, height = 4;
  if (withVideo) {
    avi::StreamInfo vi{};
    vi.fccType = avi::kStreamVideo;
    vi.dwScale = 1;
    vi.dwRate = fps;
    vi.dwQuality = -1;
    vi.rcFrame = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    v = avi::fileCreateStream(w, vi);
    avi::BitmapInfoHeader b{};
    b.biSize = 40;
    b.biWidth = width;
    b.biHeight = height;
    b.biPlanes = 1;
    b.biBitCount = 24;
    b.biSizeImage = avi::dibRowBytes(width, 24) * height;
    avi::streamSetFormat(v, 0, &b, sizeof b);
  }
  avi::WaveFormat wf{};
  wf.wFormatTag = 1;
  wf.nChannels = channels;
  wf.nSamplesPerSec = rate;
  wf.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
  wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
  wf.wBitsPerSample = bits;
  avi::StreamInfo ai{};
  ai.fccType = avi::kStreamAudio;
  ai.dwScale = wf.nBlockAlign;
  ai.dwRate = wf.nAvgBytesPerSec;
  ai.dwSampleSize = wf.nBlockAlign;
  ai.dwQuality = -1;
  avi::WriteStream *a = avi::fileCreateStream(w, ai);
  avi::streamSetFormat(a, 0, &wf, sizeof wf);
  const size_t per = pcm.size() / wf.nBlockAlign / frames * wf.nBlockAlign;
  Bytes pic(avi::dibRowBytes(width, 24) * height, 0x40);
  for (uint32_t f = 0; f < frames; ++f) {
    if (v) avi::streamWrite(v, static_cast<int32_t>(f), 1, pic.data(), static_cast<int32_t>(pic.size()), avi::kKeyFrame,
                            nullptr, nullptr);
    const size_t from = f * per, to = f + 1 == frames ? pcm.size() : from + per;
    avi::streamWrite(a, 0, static_cast<int32_t>((to - from) / wf.nBlockAlign), pcm.data() + from,
                     static_cast<int32_t>(to - from), 0, nullptr, nullptr);
  }
  avi::fileRelease(w);
}

Bytes quickTimeSound(uint32_t rate, uint32_t channels, const Bytes &pcm) {
  using namespace qttest;
  const uint32_t frames = static_cast<uint32_t>(pcm.size() / (2 * channels));
  TrackSpec s{"soun"};
  s.timeScale = rate;
  s.duration = frames;
  s.entries = {soundEntry("sowt", channels, 16, rate)};
  s.times = {{frames, 1}};
  s.chunkRuns = {{1, frames}};
  s.uniformSize = 1;
  s.sampleCount = frames;
  s.offsets = {8};
  return movie(pcm, rate, frames, {s});
}

Bytes exeWithMovie(const Bytes &movieBytes) {
  // A minimal PE image whose string block 1 says where the movie starts.
  const uint32_t movieAt = 0x400;
  const std::string s = "\x05Title\x0bmovie:" + std::to_string(movieAt);
  std::u16string text(s.begin(), s.end());
  Bytes b = kavtest::buildPeWithStrings(text);
  b.resize(movieAt, 0xAB);
  b.insert(b.end(), movieBytes.begin(), movieBytes.end());
  return b;
}

}  // namespace sftest
