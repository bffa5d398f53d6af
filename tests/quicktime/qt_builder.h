// Byte builders for hand-made QuickTime movies in tests (big-endian atoms).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace qttest {

using Bytes = std::vector<uint8_t>;

inline void be16(Bytes &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void be32(Bytes &b, uint32_t v) {
  be16(b, v >> 16);
  be16(b, v & 0xFFFF);
}
inline void be64(Bytes &b, uint64_t v) {
  be32(b, static_cast<uint32_t>(v >> 32));
  be32(b, static_cast<uint32_t>(v));
}
inline void type(Bytes &b, const char *t) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
}
inline void append(Bytes &b, const Bytes &more) {
  if (more.empty()) return;
  const size_t at = b.size();
  b.resize(at + more.size());
  std::memcpy(b.data() + at, more.data(), more.size());
}

inline Bytes atom(const char *t, const Bytes &payload) {
  Bytes b;
  be32(b, static_cast<uint32_t>(payload.size() + 8));
  type(b, t);
  append(b, payload);
  return b;
}
inline Bytes container(const char *t, const std::vector<Bytes> &children) {
  Bytes p;
  for (const Bytes &c : children) append(p, c);
  return atom(t, p);
}

inline Bytes mvhd(uint32_t timeScale, uint32_t duration) {
  Bytes p(12, 0);
  be32(p, timeScale);
  be32(p, duration);
  p.resize(100, 0);
  return atom("mvhd", p);
}
inline Bytes tkhd(bool enabled) {
  Bytes p = {0, 0, 0, static_cast<uint8_t>(enabled ? 3 : 0)};
  p.resize(84, 0);
  return atom("tkhd", p);
}
inline Bytes mdhd(uint32_t timeScale, uint32_t duration) {
  Bytes p(12, 0);
  be32(p, timeScale);
  be32(p, duration);
  be32(p, 0);
  return atom("mdhd", p);
}
inline Bytes hdlr(const char *sub) {
  Bytes p(4, 0);
  type(p, "mhlr");
  type(p, sub);
  p.resize(24, 0);
  return atom("hdlr", p);
}

// A video sample description entry; `table` holds RGB triples for a colour
// table of the description's own (id 0), or none (id -1).
inline Bytes videoEntry(const char *codec, uint32_t w, uint32_t h, uint32_t depth, const Bytes &table = {}) {
  Bytes e;
  type(e, codec);
  e.resize(e.size() + 6, 0);
  be16(e, 1);  // data reference
  e.resize(e.size() + 16, 0);  // version, revision, vendor, qualities
  be16(e, w);
  be16(e, h);
  be32(e, 72 << 16);
  be32(e, 72 << 16);
  be32(e, 0);
  be16(e, 1);
  e.resize(e.size() + 32, 0);
  be16(e, depth);
  be16(e, table.empty() ? 0xFFFF : 0);
  if (!table.empty()) {
    be32(e, 0);
    be16(e, 0x8000);
    be16(e, static_cast<uint32_t>(table.size() / 3 - 1));
    for (size_t i = 0; i < table.size() / 3; ++i) {
      be16(e, static_cast<uint32_t>(i));
      for (int c = 0; c < 3; ++c) be16(e, table[i * 3 + c] * 0x101u);
    }
  }
  Bytes b;
  be32(b, static_cast<uint32_t>(e.size() + 4));
  append(b, e);
  return b;
}

inline Bytes soundEntry(const char *codec, uint32_t channels, uint32_t bits, uint32_t rate) {
  Bytes e;
  type(e, codec);
  e.resize(e.size() + 6, 0);
  be16(e, 1);
  e.resize(e.size() + 8, 0);  // version 0, revision, vendor
  be16(e, channels);
  be16(e, bits);
  be16(e, 0);
  be16(e, 0);
  be32(e, rate << 16);
  Bytes b;
  be32(b, static_cast<uint32_t>(e.size() + 4));
  append(b, e);
  return b;
}

// Version 2 'lpcm' with its flags (2 big-endian, 4 signed, 1 float).
inline Bytes lpcmEntry(uint32_t channels, uint32_t bits, double rate, uint32_t flags) {
  Bytes e;
  type(e, "lpcm");
  e.resize(e.size() + 6, 0);
  be16(e, 1);
  be16(e, 2);
  e.resize(e.size() + 6, 0);
  be16(e, 3);
  be16(e, 16);
  be16(e, 0xFFFE);
  be16(e, 0);
  be32(e, 0x10000);
  be32(e, 72);
  uint64_t r;
  std::memcpy(&r, &rate, 8);
  be64(e, r);
  be32(e, channels);
  be32(e, 0x7F000000);
  be32(e, bits);
  be32(e, flags);
  be32(e, channels * bits / 8);
  be32(e, 1);
  Bytes b;
  be32(b, static_cast<uint32_t>(e.size() + 4));
  append(b, e);
  return b;
}

inline Bytes stsd(const std::vector<Bytes> &entries) {
  Bytes p(4, 0);
  be32(p, static_cast<uint32_t>(entries.size()));
  for (const Bytes &e : entries) append(p, e);
  return atom("stsd", p);
}
using Runs = std::vector<std::pair<uint32_t, uint32_t>>;
inline Bytes stts(const Runs &runs) {
  Bytes p(4, 0);
  be32(p, static_cast<uint32_t>(runs.size()));
  for (auto [count, delta] : runs) {
    be32(p, count);
    be32(p, delta);
  }
  return atom("stts", p);
}
// first chunk, samples per chunk (description 1)
inline Bytes stsc(const Runs &runs) {
  Bytes p(4, 0);
  be32(p, static_cast<uint32_t>(runs.size()));
  for (auto [first, samples] : runs) {
    be32(p, first);
    be32(p, samples);
    be32(p, 1);
  }
  return atom("stsc", p);
}
inline Bytes stsz(uint32_t uniform, uint32_t count, const std::vector<uint32_t> &sizes = {}) {
  Bytes p(4, 0);
  be32(p, uniform);
  be32(p, count);
  for (uint32_t s : sizes) be32(p, s);
  return atom("stsz", p);
}
inline Bytes chunkOffsets(const std::vector<uint64_t> &offsets, bool wide) {
  Bytes p(4, 0);
  be32(p, static_cast<uint32_t>(offsets.size()));
  for (uint64_t o : offsets) {
    if (wide) be64(p, o); else be32(p, static_cast<uint32_t>(o));
  }
  return atom(wide ? "co64" : "stco", p);
}

struct TrackSpec {
  explicit TrackSpec(const char *h) : handler(h) {}
  const char *handler;  // "vide" or "soun"
  bool enabled = true;
  uint32_t timeScale = 600, duration = 0;
  std::vector<Bytes> entries;
  Runs times, chunkRuns;
  uint32_t uniformSize = 0, sampleCount = 0;
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> offsets;
  bool co64 = false;
};

inline Bytes trak(const TrackSpec &t) {
  return container("trak", {tkhd(t.enabled),
                            container("mdia", {mdhd(t.timeScale, t.duration), hdlr(t.handler),
                                               container("minf", {container("stbl", {stsd(t.entries), stts(t.times),
                                                                                     stsc(t.chunkRuns),
                                                                                     stsz(t.uniformSize, t.sampleCount, t.sizes),
                                                                                     chunkOffsets(t.offsets, t.co64)})})})});
}

// mdat first (its data starts at offset 8), then the movie atom.
inline Bytes movie(const Bytes &mdatData, uint32_t timeScale, uint32_t duration, const std::vector<TrackSpec> &tracks) {
  Bytes file = atom("mdat", mdatData);
  std::vector<Bytes> moov = {mvhd(timeScale, duration)};
  for (const TrackSpec &t : tracks) moov.push_back(trak(t));
  append(file, container("moov", moov));
  return file;
}

}  // namespace qttest
