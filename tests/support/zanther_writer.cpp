#include "support/zanther_writer.h"

#include <kavutil/huffman.h>
#include <kavutil/kavfile.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"

namespace kavtest::zantw {
namespace {

BlockCounts gCounts;

void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A bit stream collected in a scratch KAVFile.
class BitSink {
 public:
  BitSink() : name_(dir_.file("bits")), file_(KAVFileCreate(4096, name_.c_str())) {
    if (!file_) throw std::runtime_error("cannot create scratch file");
  }
  ~BitSink() {
    if (file_) KAVFileClose(file_);
  }
  KAVFile *file() { return file_; }
  void bits(uint32_t v, uint32_t n) { KAVFilePutBits(file_, v, n); }
  // Pads to a multiple of four bytes and returns everything written.
  std::vector<uint8_t> finish() {
    KAVFileAlign(file_, 4);
    KAVFileClose(file_);
    file_ = nullptr;
    return readFile(name_);
  }

 private:
  TempDir dir_;
  std::string name_;
  KAVFile *file_;
};

enum Tree { kMap = 0, kColour = 1, kFull = 2, kType = 3 };

// One frame's video as the coder sees it: tree values and raw bits in order.
struct Event {
  int tree;  // -1: raw bits
  uint32_t value, bits;
};

constexpr uint32_t kRuns[64] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,  17,  18,  19,  20,  21,
                                22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37,  38,  39,  40,  41,  42,
                                43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58,  59,  128, 256, 512, 1024,
                                2048};

struct BlockCode {
  uint32_t type;    // 0 two-colour, 1 full, 2 unchanged, 3 solid
  uint32_t colour;  // solid colour
  std::vector<Event> data;
};

BlockCode classify(const Movie &m, const uint8_t *cur, const uint8_t *prev, uint32_t bx, uint32_t by) {
  uint8_t px[16], old[16];
  for (uint32_t r = 0; r < 4; ++r)
    for (uint32_t c = 0; c < 4; ++c) {
      const size_t at = static_cast<size_t>(by * 4 + r) * m.width + bx * 4 + c;
      px[4 * r + c] = cur[at];
      old[4 * r + c] = prev ? prev[at] : 0;
    }
  BlockCode b;
  if (prev && std::memcmp(px, old, 16) == 0) {
    b.type = 2;
    ++gCounts.unchanged;
    return b;
  }
  const uint8_t c0 = px[0];
  int c1 = -1;
  bool two = true;
  for (uint8_t p : px) {
    if (p == c0) continue;
    if (c1 < 0) c1 = p;
    else if (p != c1) two = false;
  }
  if (c1 < 0) {
    b.type = 3;
    b.colour = c0;
    ++gCounts.solid;
    return b;
  }
  if (two) {
    b.type = 0;
    uint32_t map = 0;
    for (int i = 0; i < 16; ++i)
      if (px[i] == c1) map |= 1u << i;
    b.data.push_back({kColour, static_cast<uint32_t>(c1) << 8 | c0, 0});
    b.data.push_back({kMap, map, 0});
    ++gCounts.twoColour;
    return b;
  }
  b.type = 1;
  auto pair = [&](uint32_t r, uint32_t c) { return static_cast<uint32_t>(px[4 * r + c + 1]) << 8 | px[4 * r + c]; };
  if (m.version == 4 && m.useQuarters) {
    bool quarters = true;
    for (uint32_t q = 0; q < 4; ++q) {
      const uint32_t r = q / 2 * 2, c = q % 2 * 2;
      const uint8_t v = px[4 * r + c];
      if (px[4 * r + c + 1] != v || px[4 * (r + 1) + c] != v || px[4 * (r + 1) + c + 1] != v) quarters = false;
    }
    if (quarters) {
      b.data.push_back({-1, 1, 1});
      b.data.push_back({kFull, static_cast<uint32_t>(px[2]) << 8 | px[0], 0});
      b.data.push_back({kFull, static_cast<uint32_t>(px[10]) << 8 | px[8], 0});
      ++gCounts.quarters;
      return b;
    }
    if (std::memcmp(px, px + 4, 4) == 0 && std::memcmp(px + 8, px + 12, 4) == 0) {
      b.data.push_back({-1, 2, 2});  // bits 0 then 1
      for (uint32_t r : {0u, 2u}) {
        b.data.push_back({kFull, pair(r, 2), 0});
        b.data.push_back({kFull, pair(r, 0), 0});
      }
      ++gCounts.halfRows;
      return b;
    }
    b.data.push_back({-1, 0, 2});
  }
  for (uint32_t r = 0; r < 4; ++r) {
    b.data.push_back({kFull, pair(r, 2), 0});
    b.data.push_back({kFull, pair(r, 0), 0});
  }
  ++gCounts.full;
  return b;
}

std::vector<Event> encodePicture(const Movie &m, const uint8_t *cur, const uint8_t *prev) {
  const uint32_t bw = m.width / 4, bh = m.height / 4;
  std::vector<BlockCode> blocks;
  blocks.reserve(static_cast<size_t>(bw) * bh);
  for (uint32_t by = 0; by < bh; ++by)
    for (uint32_t bx = 0; bx < bw; ++bx) blocks.push_back(classify(m, cur, prev, bx, by));
  std::vector<Event> events;
  for (size_t i = 0; i < blocks.size();) {
    size_t j = i + 1;
    while (j < blocks.size() && blocks[j].type == blocks[i].type &&
           (blocks[i].type != 3 || blocks[j].colour == blocks[i].colour))
      ++j;
    size_t left = j - i;
    while (left) {
      uint32_t idx = 63;
      while (kRuns[idx] > left) --idx;
      const uint32_t n = kRuns[idx];
      events.push_back({kType, blocks[i].type | idx << 2 | (blocks[i].type == 3 ? blocks[i].colour << 8 : 0), 0});
      for (uint32_t k = 0; k < n; ++k)
        for (const Event &e : blocks[i + k].data) events.push_back(e);
      i += n;
      left -= n;
    }
  }
  return events;
}

uint32_t treeStorageBytes(int32_t figure) {
  if (figure <= 12) return 0;
  const uint32_t leaves = figure == 20 ? 1 : static_cast<uint32_t>(figure - 16) / 8 + 1;
  return 4 * (2 * leaves - 1);
}

struct Coders {
  HuffCoder *c[4] = {};
  Coders() {
    for (auto &x : c) {
      x = HuffOpen(0);
      HuffInitStats(x);
    }
  }
  ~Coders() {
    for (auto *x : c) HuffClose(x);
  }
  void initLasts() {
    for (auto *x : c) HuffInitLasts(x);
  }
};

}  // namespace

BlockCounts lastBlockCounts() { return gCounts; }

std::vector<uint8_t> paletteChunk(const std::vector<PaletteCommand> &commands) {
  std::vector<uint8_t> out{0};
  for (const auto &c : commands) {
    switch (c.kind) {
      case PaletteCommand::Keep: out.push_back(static_cast<uint8_t>(0x80 | (c.count - 1))); break;
      case PaletteCommand::Copy:
        out.push_back(static_cast<uint8_t>(0x40 | (c.count - 1)));
        out.push_back(static_cast<uint8_t>(c.from));
        break;
      case PaletteCommand::Literal:
        out.push_back(c.red);
        out.push_back(c.green);
        out.push_back(c.blue);
        break;
    }
  }
  while (out.size() % 4) out.push_back(0);
  out[0] = static_cast<uint8_t>(out.size() / 4);
  return out;
}

std::vector<uint8_t> writeMovie(const Movie &m) {
  gCounts = {};
  const bool ring = m.fileFlags & 1;
  const size_t n = m.frames.size();
  const size_t picture = static_cast<size_t>(m.width) * m.height;

  // Each frame's picture, and the one it is coded against.
  std::vector<std::vector<uint8_t>> pictures(n);
  for (size_t f = 0; f < n; ++f) pictures[f] = m.frames[f].pixels.empty() && f ? pictures[f - 1] : m.frames[f].pixels;
  std::vector<std::vector<Event>> events(n);
  for (size_t f = 0; f < n; ++f) {
    if (!m.frames[f].rawVideo.empty()) continue;
    if (pictures[f].size() != picture) throw std::runtime_error("picture size");
    const uint8_t *prev = f && m.useUnchanged ? pictures[f - 1].data() : nullptr;
    events[f] = encodePicture(m, pictures[f].data(), prev);
  }

  Coders coders;
  for (size_t f = 0; f < n; ++f) {
    coders.initLasts();
    for (const Event &e : events[f])
      if (e.tree >= 0) HuffAddStat(coders.c[e.tree], e.value);
  }
  BitSink treeSink;
  uint32_t treeSizes[4];
  for (int t = 0; t < 4; ++t) {
    HuffSetOutput(coders.c[t], treeSink.file());
    const int32_t figure = HuffStartEncode(coders.c[t]);
    if (figure < 0) throw std::runtime_error("tree too deep");
    treeSizes[t] = treeStorageBytes(figure);
  }
  const std::vector<uint8_t> treeBlock = treeSink.finish();

  std::vector<std::vector<uint8_t>> frameBytes(n);
  for (size_t f = 0; f < n; ++f) {
    const Frame &fr = m.frames[f];
    std::vector<uint8_t> &out = frameBytes[f];
    if (fr.hasPalette) {
      const auto chunk = fr.paletteChunkBytes.empty() ? paletteChunk(fr.palette) : fr.paletteChunkBytes;
      out.insert(out.end(), chunk.begin(), chunk.end());
    }
    for (const auto &s : fr.sound) out.insert(out.end(), s.begin(), s.end());
    if (!fr.rawVideo.empty()) {
      out.insert(out.end(), fr.rawVideo.begin(), fr.rawVideo.end());
    } else {
      BitSink video;
      for (auto *c : coders.c) HuffSetOutput(c, video.file());
      coders.initLasts();
      for (const Event &e : events[f]) {
        if (e.tree >= 0)
          HuffEncode(coders.c[e.tree], e.value);
        else
          video.bits(e.value, e.bits);
      }
      const auto bytes = video.finish();
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    while (out.size() % 4) out.push_back(0);
  }

  std::vector<uint8_t> file = {'Z', 'N', 'T', static_cast<uint8_t>(m.version == 2 ? '2' : '4')};
  put32(file, m.width);
  put32(file, m.height);
  put32(file, static_cast<uint32_t>(n - (ring ? 1 : 0)));
  put32(file, static_cast<uint32_t>(m.framePeriod));
  put32(file, m.fileFlags);
  for (int i = 0; i < 7; ++i) put32(file, 0);
  put32(file, static_cast<uint32_t>(treeBlock.size()));
  for (uint32_t s : treeSizes) put32(file, s);
  for (uint32_t t : m.trackInfo) put32(file, t);
  put32(file, 0);
  for (const auto &fb : frameBytes) put32(file, static_cast<uint32_t>(fb.size()));
  for (size_t f = 0; f < n; ++f) {
    uint8_t type = m.frames[f].hasPalette ? 1 : 0;
    for (int t = 0; t < 7; ++t)
      if (!m.frames[f].sound[t].empty()) type |= static_cast<uint8_t>(2u << t);
    file.push_back(type);
  }
  file.insert(file.end(), treeBlock.begin(), treeBlock.end());
  for (const auto &fb : frameBytes) file.insert(file.end(), fb.begin(), fb.end());
  return file;
}

std::vector<uint8_t> rawSoundChunk(const std::vector<uint8_t> &pcm) {
  std::vector<uint8_t> out;
  put32(out, static_cast<uint32_t>(pcm.size() + 4));
  out.insert(out.end(), pcm.begin(), pcm.end());
  return out;
}

std::vector<uint8_t> deltaSoundChunk(const std::vector<uint8_t> &pcm, bool stereo, bool wide) {
  const uint32_t lanes = (stereo ? 2 : 1) * (wide ? 2 : 1);
  const size_t frames = pcm.size() / lanes;
  if (frames < 2) throw std::runtime_error("need two sample frames");
  // Lane order of the coders: channel 0 (low, high), then channel 1.
  HuffCoder *coder[4] = {};
  for (uint32_t i = 0; i < lanes; ++i) {
    coder[i] = HuffOpen(1);
    HuffInitStats(coder[i]);
  }
  const uint32_t channels = stereo ? 2 : 1;
  auto sample = [&](size_t f, uint32_t ch) -> uint32_t {
    const size_t at = f * lanes + ch * (wide ? 2 : 1);
    return wide ? static_cast<uint32_t>(pcm[at] | pcm[at + 1] << 8) : pcm[at];
  };
  auto deltas = [&](size_t f, uint32_t ch) {
    const uint32_t mask = wide ? 0xFFFF : 0xFF;
    return (sample(f, ch) - sample(f - 1, ch)) & mask;
  };
  for (size_t f = 1; f < frames; ++f)
    for (uint32_t ch = 0; ch < channels; ++ch) {
      const uint32_t d = deltas(f, ch);
      if (wide) {
        HuffAddStat(coder[2 * ch], d & 0xFF);
        HuffAddStat(coder[2 * ch + 1], d >> 8);
      } else {
        HuffAddStat(coder[ch], d);
      }
    }
  BitSink sink;
  sink.bits(1, 1);
  sink.bits(stereo, 1);
  sink.bits(wide, 1);
  for (uint32_t i = 0; i < lanes; ++i) {
    HuffSetOutput(coder[i], sink.file());
    HuffStartEncode(coder[i]);
  }
  for (int ch = static_cast<int>(channels) - 1; ch >= 0; --ch) {
    const uint32_t s = sample(0, static_cast<uint32_t>(ch));
    if (wide) sink.bits(s >> 8, 8);
    sink.bits(s & 0xFF, 8);
  }
  for (size_t f = 1; f < frames; ++f)
    for (uint32_t ch = 0; ch < channels; ++ch) {
      const uint32_t d = deltas(f, ch);
      if (wide) {
        HuffEncode(coder[2 * ch], d & 0xFF);
        HuffEncode(coder[2 * ch + 1], d >> 8);
      } else {
        HuffEncode(coder[ch], d);
      }
    }
  for (uint32_t i = 0; i < lanes; ++i) HuffClose(coder[i]);
  const auto bits = sink.finish();
  std::vector<uint8_t> out;
  put32(out, static_cast<uint32_t>(bits.size() + 8));
  put32(out, static_cast<uint32_t>(frames * lanes));
  out.insert(out.end(), bits.begin(), bits.end());
  return out;
}

std::vector<uint8_t> transformSoundChunk(const std::vector<std::vector<uint8_t>> &frames, uint32_t unpacked) {
  std::vector<uint8_t> body;
  for (const auto &f : frames) body.insert(body.end(), f.begin(), f.end());
  std::vector<uint8_t> out;
  put32(out, static_cast<uint32_t>(body.size() + 8));
  put32(out, unpacked);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

uint32_t trackWord(uint32_t rate, bool stereo, bool wide, bool compressed, bool transform) {
  return (rate & 0xFFFFFF) | (transform ? 0x08000000u : 0) | (stereo ? 0x10000000u : 0) | (wide ? 0x20000000u : 0) |
         0x40000000u | (compressed ? 0x80000000u : 0);
}

}  // namespace kavtest::zantw
