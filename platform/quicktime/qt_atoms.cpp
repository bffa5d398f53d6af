// Walking the atoms of a movie file. Every atom is limited to its parent
// and to the file; tables are read only as far as their atom holds them, so
// counts in a damaged file cannot reach beyond what is there.
#include <algorithm>
#include <cstring>

#include "platform/quicktime/qt_movie.h"

namespace kav::qt {

namespace {

constexpr int32_t kReadBufferBytes = 64 * 1024;
constexpr uint32_t kMaxTableBytes = 64u << 20;
constexpr int kMaxDepth = 8;
constexpr uint32_t kMaxVideoSamples = 1u << 22;  // over 38 hours at 30 frames a second

struct Atom {
  uint32_t type;
  uint64_t data;  // first byte after the header
  uint64_t size;  // of the data
};

// Calls f(atom) for each atom of [pos, end). An atom that claims more than
// its parent holds is cut to the parent and ends the walk.
template <class F>
void walkAtoms(Movie &m, uint64_t pos, uint64_t end, F f) {
  while (pos + 8 <= end) {
    uint8_t h[16];
    if (m.readAt(pos, h, 8) != 8) return;
    uint64_t size = be32(h);
    uint64_t header = 8;
    if (size == 1) {
      if (pos + 16 > end || m.readAt(pos + 8, h + 8, 8) != 8) return;
      size = be64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = end - pos;  // runs to the end of its parent
    }
    if (size < header) return;
    const bool cut = size > end - pos;
    if (cut) size = end - pos;
    f(Atom{be32(h + 4), pos + header, size - header});
    if (cut) return;
    pos += size;
  }
}

bool readTable(Movie &m, const Atom &a, std::vector<uint8_t> &out) {
  if (a.size > kMaxTableBytes) return false;
  out.resize(static_cast<size_t>(a.size));
  out.resize(m.readAt(a.data, out.data(), static_cast<uint32_t>(a.size)));
  return true;
}

void readSampleTable(Movie &m, Track &t, const Atom &stbl) {
  std::vector<uint8_t> b;
  std::vector<std::pair<uint32_t, std::pair<uint32_t, uint32_t>>> runs;  // first chunk, samples, description
  std::vector<uint64_t> offsets;
  walkAtoms(m, stbl.data, stbl.data + stbl.size, [&](const Atom &a) {
    if (!readTable(m, a, b) || b.size() < 8) return;
    const uint32_t count = be32(b.data() + 4);
    const uint8_t *p = b.data() + 8;
    const size_t room = b.size() - 8;
    switch (a.type) {
      case atomType('s', 't', 's', 'd'): {
        size_t at = 0;
        for (uint32_t i = 0; i < count && at + 16 <= room; ++i) {
          const uint32_t size = be32(p + at);
          if (size < 16 || size > room - at) break;
          t.descriptions.emplace_back(p + at, p + at + size);
          at += size;
        }
        break;
      }
      case atomType('s', 't', 't', 's'):
        for (uint32_t i = 0; i < count && i < room / 8; ++i) t.timeRuns.emplace_back(be32(p + 8 * i), be32(p + 8 * i + 4));
        break;
      case atomType('s', 't', 's', 'c'):
        for (uint32_t i = 0; i < count && i < room / 12; ++i)
          runs.push_back({be32(p + 12 * i), {be32(p + 12 * i + 4), be32(p + 12 * i + 8)}});
        break;
      case atomType('s', 't', 's', 'z'): {
        // Here the count follows the uniform size.
        if (b.size() < 12) break;
        t.uniformSize = be32(b.data() + 4);
        t.sampleCount = be32(b.data() + 8);
        if (t.uniformSize == 0) {
          const size_t n = std::min<size_t>(t.sampleCount, (b.size() - 12) / 4);
          t.sizes.resize(n);
          for (size_t i = 0; i < n; ++i) t.sizes[i] = be32(b.data() + 12 + 4 * i);
          t.sampleCount = static_cast<uint32_t>(n);
        }
        break;
      }
      case atomType('s', 't', 'c', 'o'):
        for (uint32_t i = 0; i < count && i < room / 4; ++i) offsets.push_back(be32(p + 4 * i));
        break;
      case atomType('c', 'o', '6', '4'):
        for (uint32_t i = 0; i < count && i < room / 8; ++i) offsets.push_back(be64(p + 8 * i));
        break;
      default:
        break;
    }
  });
  // Chunk runs: each covers the chunks from its first up to the next run's.
  size_t run = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const uint64_t number = i + 1;
    while (run + 1 < runs.size() && runs[run + 1].first <= number) ++run;
    if (runs.empty() || runs[run].first > number) break;  // no run covers it
    t.chunks.push_back({offsets[i], runs[run].second.first, runs[run].second.second});
  }
}

void readMediaHeader(Movie &m, Track &t, const Atom &a) {
  uint8_t h[32];
  const uint32_t got = m.readAt(a.data, h, static_cast<uint32_t>(std::min<uint64_t>(a.size, sizeof h)));
  if (got < 24) return;
  if (h[0] == 1) {
    if (got < 32) return;
    t.timeScale = be32(h + 20);
    t.duration = be64(h + 24);
  } else {
    t.timeScale = be32(h + 12);
    t.duration = be32(h + 16);
  }
}

void readMedia(Movie &m, Track &t, const Atom &mdia, int depth) {
  walkAtoms(m, mdia.data, mdia.data + mdia.size, [&](const Atom &a) {
    if (a.type == atomType('m', 'd', 'h', 'd')) {
      readMediaHeader(m, t, a);
    } else if (a.type == atomType('h', 'd', 'l', 'r') && depth == 0) {
      // Only the media's own handler names the track's kind. The one inside
      // 'minf' is the data handler (component type 'dhlr', subtype 'alis'
      // or 'url '), which QuickTime writers put there as well.
      uint8_t h[12];
      if (m.readAt(a.data, h, 12) == 12 && be32(h + 4) != atomType('d', 'h', 'l', 'r')) t.handler = be32(h + 8);
    } else if (a.type == atomType('m', 'i', 'n', 'f') && depth < kMaxDepth) {
      readMedia(m, t, a, depth + 1);
    } else if (a.type == atomType('s', 't', 'b', 'l')) {
      readSampleTable(m, t, a);
    }
  });
}

void readTrack(Movie &m, const Atom &trak) {
  Track t;
  walkAtoms(m, trak.data, trak.data + trak.size, [&](const Atom &a) {
    if (a.type == atomType('t', 'k', 'h', 'd')) {
      uint8_t h[4];
      if (m.readAt(a.data, h, 4) == 4) t.enabled = (h[3] & 1) != 0;
    } else if (a.type == atomType('m', 'd', 'i', 'a')) {
      readMedia(m, t, a, 0);
    }
  });
  m.tracks.push_back(std::move(t));
}

void readMovieAtom(Movie &m, const Atom &moov) {
  walkAtoms(m, moov.data, moov.data + moov.size, [&](const Atom &a) {
    if (a.type == atomType('m', 'v', 'h', 'd')) {
      uint8_t h[32];
      const uint32_t got = m.readAt(a.data, h, static_cast<uint32_t>(std::min<uint64_t>(a.size, sizeof h)));
      if (got >= 20 && h[0] == 0) {
        m.timeScale = be32(h + 12);
        m.duration = be32(h + 16);
      } else if (got >= 32 && h[0] == 1) {
        m.timeScale = be32(h + 20);
        m.duration = be64(h + 24);
      }
    } else if (a.type == atomType('t', 'r', 'a', 'k') && m.tracks.size() < 64) {
      readTrack(m, a);
    }
  });
}

}  // namespace

Movie::~Movie() { KAVFileClose(file); }

uint32_t Movie::readAt(uint64_t pos, void *dest, uint32_t count) {
  if (pos >= fileSize || count == 0) return 0;
  count = static_cast<uint32_t>(std::min<uint64_t>(count, fileSize - pos));
  if (KAVFileGetPos(file) != pos) KAVFileSetPos(file, static_cast<uint32_t>(pos));
  return KAVFileGetNB(file, dest, count);
}

Track *Movie::enabledTrack(uint32_t handler, uint32_t n) {
  for (Track &t : tracks) {
    if (t.handler == handler && t.enabled && --n == 0) return &t;
  }
  return nullptr;
}

uint32_t Track::format(uint32_t description) const {
  if (description == 0 || description > descriptions.size()) return 0;
  return be32(descriptions[description - 1].data() + 4);
}

std::unique_ptr<Movie> openMovie(const char *name) {
  auto m = std::make_unique<Movie>();
  m->file = KAVFileOpen(kReadBufferBytes, name, KAV_FILE_READ);
  if (!m->file) return nullptr;
  m->fileSize = KAVFileSize(m->file);
  bool found = false;
  walkAtoms(*m, 0, m->fileSize, [&](const Atom &a) {
    if (a.type == atomType('m', 'o', 'o', 'v') && !found) {
      found = true;
      readMovieAtom(*m, a);
    }
  });
  if (!found || m->tracks.empty()) return nullptr;
  if (m->timeScale == 0) m->timeScale = 600;
  return m;
}

void resolveVideoSamples(const Movie &m, Track &t) {
  t.sampleOffset.clear();
  t.sampleSize.clear();
  t.sampleDescription.clear();
  t.sampleTime.clear();
  uint32_t sample = 0;
  size_t run = 0;
  uint32_t leftInRun = t.timeRuns.empty() ? 0 : t.timeRuns[0].first;
  uint64_t time = 0;
  for (const Chunk &c : t.chunks) {
    uint64_t at = c.offset;
    for (uint32_t k = 0; k < c.samples && sample < t.sampleCount && sample < kMaxVideoSamples; ++k, ++sample) {
      const uint32_t size = t.uniformSize ? t.uniformSize : t.sizes[sample];
      if (at > m.fileSize || size > m.fileSize - at) return;  // the file ends inside this sample
      while (leftInRun == 0 && run + 1 < t.timeRuns.size()) leftInRun = t.timeRuns[++run].first;
      const uint32_t delta = t.timeRuns.empty() ? 1 : t.timeRuns[run].second;
      if (leftInRun) --leftInRun;
      t.sampleOffset.push_back(at);
      t.sampleSize.push_back(size);
      t.sampleDescription.push_back(c.description);
      t.sampleTime.push_back(time);
      time += delta;
      t.sampleEnd = time;
      at += size;
    }
    if (sample >= t.sampleCount || sample >= kMaxVideoSamples) return;
  }
}

}  // namespace kav::qt
