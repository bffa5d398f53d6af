#include "support/vorn_file_writer.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sound/transform_codec.h"

namespace kavtest::vornf {

void putLe32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void setLe32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.at(at + i) = uint8_t(v >> (8 * i));
}

uint32_t getLe32(const std::vector<uint8_t> &in, size_t at) {
  return uint32_t(in.at(at)) | uint32_t(in.at(at + 1)) << 8 | uint32_t(in.at(at + 2)) << 16 |
         uint32_t(in.at(at + 3)) << 24;
}

uint32_t descriptor(uint32_t rate, bool stereo, bool sixteenBit, bool readable) {
  return (rate & 0xFFFF) | (stereo ? 0x20000000u : 0) | (sixteenBit ? 0x40000000u : 0) |
         (readable ? 0x80000000u : 0);
}

std::vector<uint8_t> writeFile(const FileDesc &s, Layout *layout) {
  const uint32_t tracks = uint32_t(s.tracks.size());
  const uint32_t frames = uint32_t(s.frames.size());
  const uint32_t entries = frames + 1 + s.extraIndexEntries;
  const uint32_t indexOffset = kHeaderBytes + 12 * tracks;

  std::vector<uint8_t> body;  // the frames
  std::vector<uint32_t> offsets;
  uint32_t largest = 0;
  std::vector<uint32_t> largestSound(tracks, 0);
  uint32_t pos = indexOffset + 4 * entries + s.gapBytes;
  body.resize(s.gapBytes, 0x5A);
  for (const Frame &f : s.frames) {
    offsets.push_back(pos);
    size_t start = body.size();
    for (uint32_t t = 0; t < tracks; ++t) {
      const std::vector<uint8_t> empty;
      const std::vector<uint8_t> &c = t < f.sound.size() ? f.sound[t] : empty;
      putLe32(body, uint32_t(c.size()));
      body.insert(body.end(), c.begin(), c.end());
      if (c.size() >= 4) largestSound[t] = std::max(largestSound[t], getLe32(c, 0));
    }
    body.insert(body.end(), f.video.begin(), f.video.end());
    uint32_t size = uint32_t(body.size() - start);
    largest = std::max(largest, size);
    pos += size;
  }
  offsets.push_back(pos);
  body.resize(body.size() + s.trailingBytes, 0xA5);
  pos += s.trailingBytes;

  std::vector<uint8_t> out;
  out.insert(out.end(), {'V', 'R', 'N', uint8_t(s.version)});
  putLe32(out, s.streamSize.value_or(pos - 8));
  putLe32(out, s.frameCount.value_or(frames));
  putLe32(out, s.largestFrame.value_or(largest));
  putLe32(out, s.lastEntry.value_or(entries - 1));
  putLe32(out, s.width);
  putLe32(out, s.height);
  putLe32(out, s.rateNumerator);
  putLe32(out, s.rateDenominator);
  putLe32(out, s.videoFlags);
  putLe32(out, s.trackCount.value_or(tracks));
  for (uint32_t t = 0; t < tracks; ++t) putLe32(out, s.tracks[t].largestSound.value_or(largestSound[t]));
  for (const Track &t : s.tracks) putLe32(out, t.descriptor);
  for (const Track &t : s.tracks) putLe32(out, t.id);
  for (uint32_t i = 0; i < frames; ++i) putLe32(out, offsets[i] | (s.frames[i].key ? 1u : 0u));
  putLe32(out, offsets[frames]);
  for (uint32_t i = 0; i < s.extraIndexEntries; ++i) putLe32(out, offsets[frames]);
  out.insert(out.end(), body.begin(), body.end());
  if (layout) {
    layout->indexOffset = indexOffset;
    layout->frameOffsets = offsets;
  }
  return out;
}

SoundTrackEncoder::SoundTrackEncoder(uint32_t rate, uint32_t channels, uint32_t seed, uint32_t level)
    : encoder_(kav::sound::transformEncoderCreate(rate, channels)),
      channels_(channels),
      rate_(rate),
      seed_(seed),
      level_(level) {
  if (!encoder_) throw std::runtime_error("transform encoder");
}

SoundTrackEncoder::~SoundTrackEncoder() { kav::sound::transformFree(encoder_); }

uint32_t SoundTrackEncoder::blockBytes() const { return (encoder_->frameLength - encoder_->overlap) * 2; }

std::vector<uint8_t> SoundTrackEncoder::chunk(unsigned blocks, uint32_t cutBytes) {
  std::vector<uint8_t> out;
  putLe32(out, blocks * blockBytes() - cutBytes);
  uint32_t noise = seed_ * 2654435761u + uint32_t(t_);
  for (unsigned b = 0; b < blocks; ++b) {
    kav::sound::TransformInputArea area = kav::sound::transformInputArea(encoder_);
    for (uint32_t i = 0; i < area.bytesWanted / 2; ++i) {
      uint32_t channel = i % channels_;
      double time = double(t_ + i / channels_) / rate_;
      double tone = 9000 * std::sin(2 * M_PI * (220.0 * (channel + 1) + 50.0 * seed_) * time);
      noise = noise * 1664525u + 1013904223u;
      area.samples[i] = int16_t(tone + int32_t(noise >> 24) - 128);
    }
    t_ += area.bytesWanted / 2 / channels_;
    kav::sound::TransformEncodedFrame f = kav::sound::transformEncodeFrame(encoder_, level_, area.bytesWanted);
    out.insert(out.end(), f.bytes, f.bytes + f.byteCount);
  }
  return out;
}

}  // namespace kavtest::vornf
