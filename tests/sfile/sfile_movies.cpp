#include "sfile/sfile_movies.h"

#include <cstring>

#include "kavutil/vornfile.h"
#include "kavutil/zanther.h"
#include "platform/avi/avi_file.h"
#include "quicktime/qt_builder.h"
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

namespace {
void put16(Bytes &b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes &b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
}  // namespace

Bytes exeWithMovie(const Bytes &movieBytes) {
  // A minimal PE32 image with one ".rsrc" section holding string block 1.
  const uint32_t movieAt = 0x400;
  const std::string s = "\x05Title\x0bmovie:" + std::to_string(movieAt);
  std::u16string text(s.begin(), s.end());
  Bytes b(0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, 0x40);
  put32(b, 0x40, 0x00004550);
  put16(b, 0x44, 0x14C);
  put16(b, 0x46, 1);
  put16(b, 0x54, 224);
  const size_t opt = 0x58;
  put16(b, opt, 0x10B);
  put32(b, opt + 92, 16);
  const uint32_t rsrcSize = 0x58 + static_cast<uint32_t>(text.size() * 2);
  put32(b, opt + 96 + 16, 0x1000);
  put32(b, opt + 96 + 20, rsrcSize);
  const size_t sec = opt + 224;
  std::memcpy(b.data() + sec, ".rsrc\0\0\0", 8);
  put32(b, sec + 8, rsrcSize);
  put32(b, sec + 12, 0x1000);
  put32(b, sec + 16, rsrcSize);
  put32(b, sec + 20, 0x200);
  const size_t r = 0x200;
  put16(b, r + 14, 1);
  put32(b, r + 16, 6);
  put32(b, r + 20, 0x80000000u | 0x18);
  put16(b, r + 0x18 + 14, 1);
  put32(b, r + 0x18 + 16, 1);
  put32(b, r + 0x18 + 20, 0x80000000u | 0x30);
  put16(b, r + 0x30 + 14, 1);
  put32(b, r + 0x30 + 16, 0x409);
  put32(b, r + 0x30 + 20, 0x48);
  put32(b, r + 0x48, 0x1000 + 0x58);
  put32(b, r + 0x48 + 4, static_cast<uint32_t>(text.size() * 2));
  for (size_t i = 0; i < text.size(); ++i) put16(b, r + 0x58 + 2 * i, text[i]);
  b.resize(movieAt, 0xAB);
  b.insert(b.end(), movieBytes.begin(), movieBytes.end());
  return b;
}

}  // namespace sftest
