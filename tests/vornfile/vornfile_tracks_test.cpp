// Sound tracks: the tables, which tracks open, and the decoded sound of
// each track equal to the transform decoder's output for its chunks, as
// 16-bit and as 8-bit samples; chunks that are empty or do not fit.
#include <gtest/gtest.h>

#include <memory>

#include "movie_model.h"
#include "sound/transform_codec.h"

using namespace kavtest;

namespace {

struct TrackCase {
  uint32_t rate, channels;
  bool sixteen;
};

const TrackCase kTracks[] = {{22050, 1, true}, {44100, 2, true}, {11025, 1, false}, {8000, 2, false}};

// Reference: a fresh decoder over the track's chunks, frame after frame,
// each cut at its count word.
std::vector<std::vector<uint8_t>> referenceSound(const TrackCase &t, const std::vector<vornf::Frame> &frames,
                                                 size_t track) {
  kav::sound::TransformDecoder *d = kav::sound::transformDecoderCreate(t.rate, t.channels, 1);
  std::vector<std::vector<uint8_t>> out;
  for (const vornf::Frame &f : frames) {
    const std::vector<uint8_t> &c = f.sound[track];
    std::vector<int16_t> pcm;
    if (c.size() >= 4) {
      uint32_t want = vornf::getLe32(c, 0) / 2;
      size_t pos = 4;
      while (pcm.size() < want && pos < c.size()) {
        auto r = kav::sound::transformDecodeFrame(d, c.data() + pos, c.size() - pos);
        pcm.insert(pcm.end(), r.samples, r.samples + r.sampleBytes / 2);
        pos += r.frameBytes;
      }
      pcm.resize(std::min<size_t>(pcm.size(), want));
    }
    std::vector<uint8_t> bytes;
    for (int16_t s : pcm) {
      if (t.sixteen) {
        bytes.push_back(uint8_t(s));
        bytes.push_back(uint8_t(uint16_t(s) >> 8));
      } else {
        bytes.push_back(uint8_t((s >> 8) + 128));
      }
    }
    out.push_back(bytes);
  }
  kav::sound::transformFree(d);
  return out;
}

struct SoundMovie {
  vornf::FileDesc desc;
  std::vector<std::vector<uint8_t>> planes;
};

// Frames with 1 to 3 blocks per chunk, some chunks cut short, one chunk
// empty; a last track that is not transform-coded.
SoundMovie soundMovie(uint32_t frames) {
  SoundMovie m;
  MovieModel video({});
  m.desc.width = 40;
  m.desc.height = 24;
  std::vector<std::unique_ptr<vornf::SoundTrackEncoder>> enc;
  for (size_t t = 0; t < std::size(kTracks); ++t) {
    const TrackCase &c = kTracks[t];
    m.desc.tracks.push_back({vornf::descriptor(c.rate, c.channels == 2, c.sixteen), uint32_t(50 + t), {}});
    enc.push_back(std::make_unique<vornf::SoundTrackEncoder>(c.rate, c.channels, uint32_t(t + 1)));
  }
  m.desc.tracks.push_back({vornf::descriptor(22050, false, true, false), 99, 4000});
  for (uint32_t i = 0; i < frames; ++i) {
    vornf::Frame f;
    f.key = i == 0;
    for (size_t t = 0; t < enc.size(); ++t) {
      if (t == 1 && i == 2) {
        f.sound.push_back({});  // no sound for this track in this frame
        continue;
      }
      f.sound.push_back(enc[t]->chunk(1 + (i + t) % 3, (i % 2) ? 2 * uint32_t(37 * t + 5) : 0));
    }
    f.sound.push_back({1, 2, 3, 4, 5, 6, 7, 8});  // the unreadable track's bytes
    f.video = video.frame(f.key, i + 1);
    m.desc.frames.push_back(std::move(f));
    m.planes.push_back(video.planes);
  }
  return m;
}

}  // namespace

TEST(VornTracks, TablesAndWhichTracksOpen) {
  TempDir dir;
  SoundMovie m = soundMovie(2);
  VornHandle *h = openBytes(dir, vornf::writeFile(m.desc), kSoundFlags);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->trackCount, 5u);
  for (uint32_t t = 0; t < 5; ++t) {
    EXPECT_EQ(VornTrackInfo(h, t), m.desc.tracks[t].descriptor);
    EXPECT_EQ(VornTrackId(h, t), m.desc.tracks[t].id);
  }
  EXPECT_EQ(VornTrackInfo(h, 5), 0u);
  EXPECT_EQ(VornTrackOpen(h, 4), nullptr);  // bit 31 clear
  EXPECT_EQ(VornTrackOpen(h, 5), nullptr);
  VornTrack *t = VornTrackOpen(h, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->sampleRate, 44100u);
  EXPECT_EQ(t->channels, 2u);
  EXPECT_EQ(t->bits, 16u);
  EXPECT_EQ(t->bufferBytes, (h->trackLargestSound[1] + 3) & ~3u);
  VornTrackClose(t);
  t = VornTrackOpen(h, 2);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->bits, 8u);
  EXPECT_EQ(t->bufferBytes, ((h->trackLargestSound[2] + 3) & ~3u) / 2);
  VornTrackClose(t);
  VornClose(h);
}

TEST(VornTracks, EachTrackGivesTheDecodersOutputForItsChunks) {
  TempDir dir;
  const uint32_t frames = 5;
  SoundMovie m = soundMovie(frames);
  for (uint32_t rate : {1u, 30u}) {  // ring and whole-stream
    m.desc.rateNumerator = rate;
    VornHandle *h = openBytes(dir, vornf::writeFile(m.desc), kSoundFlags);
    ASSERT_NE(h, nullptr);
    VornSetVideoDecoding(h, 0);
    std::vector<VornTrack *> readers;
    std::vector<std::vector<std::vector<uint8_t>>> want;
    for (uint32_t t = 0; t < std::size(kTracks); ++t) {
      readers.push_back(VornTrackOpen(h, t));
      want.push_back(referenceSound(kTracks[t], m.desc.frames, t));
    }
    for (uint32_t i = 0; i < frames; ++i) {
      for (uint32_t t = 0; t < readers.size(); ++t) {
        // The destination is exactly the announced size.
        std::vector<uint8_t> out(readers[t]->bufferBytes);
        uint32_t n = VornTrackRead(readers[t], out.data());
        out.resize(n);
        ASSERT_EQ(out, want[t][i]) << "track " << t << " frame " << i + 1 << " rate " << rate;
      }
      VornDecodeFrame(h);
      VornNextFrame(h);
    }
    EXPECT_EQ(rec(h).framesExpanded, 0u);  // video decoding was off
    for (VornTrack *r : readers) VornTrackClose(r);
    VornClose(h);
  }
}

TEST(VornTracks, ChunksThatOverrunTheFrameGiveNoSoundAndNoPicture) {
  TempDir dir;
  SoundMovie m = soundMovie(3);
  vornf::Layout layout;
  std::vector<uint8_t> bytes = vornf::writeFile(m.desc, &layout);
  // Frame 2's second chunk claims to run past the frame.
  const uint32_t f2 = layout.frameOffsets[1];
  const uint32_t len0 = vornf::getLe32(bytes, f2);
  vornf::setLe32(bytes, f2 + 4 + len0, layout.frameOffsets[2] - f2);
  VornHandle *h = openBytes(dir, bytes, kGraphicsFlags);
  ASSERT_NE(h, nullptr);
  VornTrack *first = VornTrackOpen(h, 0), *second = VornTrackOpen(h, 1);
  std::vector<uint8_t> out(std::max(first->bufferBytes, second->bufferBytes));
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[0]);
  VornNextFrame(h);
  EXPECT_GT(VornTrackRead(first, out.data()), 0u);  // the chunk before still fits
  EXPECT_EQ(VornTrackRead(second, out.data()), 0u);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[0]);  // frame 2 has no video: the picture stays
  VornNextFrame(h);
  VornDecodeFrame(h);
  EXPECT_EQ(h->currentFrame, 3);
  VornTrackClose(first);
  VornTrackClose(second);
  VornClose(h);
}

TEST(VornTracks, ACountWordBeyondTheLargestSoundIsCutToTheBuffer) {
  TempDir dir;
  SoundMovie m = soundMovie(2);
  m.desc.tracks[0].largestSound = 1000;  // far less than a chunk yields
  VornHandle *h = openBytes(dir, vornf::writeFile(m.desc), kSoundFlags);
  ASSERT_NE(h, nullptr);
  VornTrack *t = VornTrackOpen(h, 0);
  ASSERT_EQ(t->bufferBytes, 1000u);
  std::vector<uint8_t> out(1000);
  EXPECT_EQ(VornTrackRead(t, out.data()), 1000u);
  VornTrackClose(t);
  VornClose(h);
}
