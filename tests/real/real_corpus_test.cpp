// Files other programs wrote (Pillow, ImageMagick, GStreamer, sox), read
// through the graphics and sound inputs and compared with what independent
// decoders made of them. tests/data/real/make_corpus.py made the files and
// manifest.tsv, which also describes the checks and the frame hash.
#include <gtest/gtest.h>
#include <kavutil/gfile.h>
#include <kavutil/sfile.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

const std::string kDir = KAV_REAL_DATA_DIR;

struct Entry {
  std::vector<std::string> fields;  // the manifest line, split at tabs
  const std::string &kind() const { return fields[0]; }
  const std::string &file() const { return fields[1]; }
  std::string path() const { return kDir + "/" + file(); }
  uint32_t number(size_t i) const { return static_cast<uint32_t>(std::stoul(fields.at(i))); }
};

void PrintTo(const Entry &e, std::ostream *os) { *os << e.kind() << ' ' << e.file(); }

std::vector<Entry> loadManifest() {
  std::vector<Entry> list;
  std::ifstream in(kDir + "/manifest.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    Entry e;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, '\t')) e.fields.push_back(field);
    if (e.fields.size() >= 3) list.push_back(e);
  }
  return list;
}

const std::vector<Entry> &manifest() {
  static const std::vector<Entry> list = loadManifest();
  return list;
}

uint64_t fnv1a(const std::vector<uint8_t> &bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001B3ull;
  }
  return h;
}

std::string hex(uint64_t h) {
  char s[17];
  std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(h));
  return s;
}

std::vector<std::string> split(const std::string &text, char at) {
  std::vector<std::string> parts;
  std::stringstream s(text);
  std::string part;
  while (std::getline(s, part, at)) parts.push_back(part);
  return parts;
}

std::vector<std::pair<std::string, int32_t>> &messages() {
  static std::vector<std::pair<std::string, int32_t>> list;
  return list;
}
uint32_t KAVAPI record(const char *text, int32_t code) {
  messages().emplace_back(text, code);
  return 0;
}

std::string fill(const std::string &message, const std::string &name) {
  const size_t at = message.find("%s");
  return at == std::string::npos ? message : message.substr(0, at) + name + message.substr(at + 2);
}

// The delivered frame as R, G, B bytes, top row first.
std::vector<uint8_t> rgbOf(const GFile *g) {
  std::vector<uint8_t> rgb;
  rgb.reserve(size_t{g->canvasWidth} * g->canvasHeight * 3);
  for (uint32_t y = 0; y < g->canvasHeight; ++y) {
    const uint8_t *row = g->canvas + size_t{y} * g->canvasPitch;
    for (uint32_t x = 0; x < g->canvasWidth; ++x) {
      rgb.push_back(row[4 * x + 2]);
      rgb.push_back(row[4 * x + 1]);
      rgb.push_back(row[4 * x]);
    }
  }
  return rgb;
}

// The kind a file must open as, by its extension.
std::string kindFor(const std::string &file) {
  static const std::pair<const char *, const char *> kinds[] = {
      {".bmp", "BMP still image"}, {".gif", "GIF still image"}, {".tif", "TIF still image"},
      {".jpg", "JPEG still image"}, {".tga", "TGA still image"}, {".png", "PNG still image"},
      {".pcx", "PCX still image"}, {".avi", "AVI"}, {".mov", "QuickTime"}};
  // Our AVI reader does not decode grey 'Y800' video: GStreamer does.
  if (file == "avi_y800.avi") return "GStreamer: uncompressed video in AVI";
  // GIFs of more than one image are movies.
  if (file == "gif_animated.gif" || file == "gif_magick_delays.gif") return "GIF animation";
  const std::string ext = file.substr(file.rfind('.'));
  for (const auto &k : kinds)
    if (ext == k.first) return k.second;
  return "?";
}

void checkPicture(const Entry &e) {
  const uint32_t width = e.number(2), height = e.number(3), frames = e.number(4), bits = e.number(6);
  const std::vector<std::string> rate = split(e.fields.at(5), '/');
  const std::string &expect = e.fields.at(7), &tolerance = e.fields.at(8);
  messages().clear();
  GFile *g = GFileOpen(e.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 0, 0, 2, nullptr, nullptr,
                       record);
  ASSERT_NE(g, nullptr) << (messages().empty() ? "" : messages().back().first);
  EXPECT_EQ(g->kindName, kindFor(e.file()));
  EXPECT_EQ(g->sourceWidth, width);
  EXPECT_EQ(g->sourceHeight, height);
  EXPECT_EQ(g->frameCount, frames);
  EXPECT_EQ(g->nativeRateNumerator, std::stoul(rate.at(0)));
  EXPECT_EQ(g->nativeRateDenominator, std::stoul(rate.at(1)));
  EXPECT_EQ(g->sourceBits, bits);
  std::vector<std::vector<uint8_t>> got;
  for (uint32_t i = 0; i < frames && g->sourceWidth == width && g->sourceHeight == height; ++i) {
    ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
    got.push_back(rgbOf(g));
  }
  GFileClose(g);
  if (got.size() != frames) return;
  if (tolerance == "-") {
    const std::vector<std::string> hashes = split(expect, ',');
    ASSERT_EQ(hashes.size(), frames);
    for (uint32_t i = 0; i < frames; ++i) EXPECT_EQ(hex(fnv1a(got[i])), hashes[i]) << "frame " << i;
    return;
  }
  ASSERT_EQ(expect.rfind("ref:", 0), 0u);
  const std::vector<uint8_t> ref = kavtest::readFile(kDir + "/" + expect.substr(4));
  const size_t frameBytes = size_t{width} * height * 3;
  ASSERT_EQ(ref.size(), frameBytes * frames);
  const std::vector<std::string> limits = split(tolerance, '/');
  const int maxLimit = std::stoi(limits.at(0));
  const double meanLimit = std::stod(limits.at(1));
  for (uint32_t i = 0; i < frames; ++i) {
    int largest = 0;
    double sum = 0;
    for (size_t k = 0; k < frameBytes; ++k) {
      const int d = std::abs(int{got[i][k]} - int{ref[i * frameBytes + k]});
      largest = std::max(largest, d);
      sum += d;
    }
    EXPECT_LE(largest, maxLimit) << "frame " << i;
    EXPECT_LE(sum / static_cast<double>(frameBytes), meanLimit) << "frame " << i;
  }
}

void checkSound(const Entry &e) {
  messages().clear();
  SFile *s = SFileOpen(e.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, record);
  ASSERT_NE(s, nullptr) << (messages().empty() ? "" : messages().back().first);
  EXPECT_EQ(s->srcRate, e.number(2));
  EXPECT_EQ(s->srcBits, e.number(3));
  EXPECT_EQ(s->srcChannels, e.number(4));
  std::vector<uint8_t> pcm;
  std::vector<uint8_t> buffer(4000);
  for (;;) {
    const uint32_t n = SFileGet(s, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (n == 0 || pcm.size() > 1u << 24) break;
    pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + n);
  }
  SFileClose(s);
  EXPECT_EQ(pcm.size(), e.number(5));
  EXPECT_EQ(hex(fnv1a(pcm)), e.fields.at(6));
}

bool reported(const std::string &text) {
  for (const auto &m : messages())
    if (m.first == text && m.second == 2) return true;
  return false;
}

void checkRefusal(const Entry &e) {
  messages().clear();
  const std::string name = e.path();
  if (e.kind() == "refuse-picture") {
    GFile *g = GFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 0, 0, 2, nullptr, nullptr,
                         record);
    EXPECT_EQ(g, nullptr);
    GFileClose(g);
  } else {
    SFile *s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, record);
    EXPECT_EQ(s, nullptr);
    SFileClose(s);
  }
  EXPECT_TRUE(reported(fill(e.fields.at(2), name))) << fill(e.fields.at(2), name);
}

class RealCorpus : public testing::TestWithParam<Entry> {};

TEST_P(RealCorpus, DecodesAsTheManifestSays) {
  const Entry &e = GetParam();
  if (e.kind() == "picture") checkPicture(e);
  else if (e.kind() == "sound") checkSound(e);
  else if (e.kind() == "refuse-picture" || e.kind() == "refuse-sound") checkRefusal(e);
  else FAIL() << "unknown check " << e.kind();
}

std::string nameOf(const testing::TestParamInfo<Entry> &info) {
  std::string n = info.param.kind() + "_" + info.param.file();
  for (char &c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(Files, RealCorpus, testing::ValuesIn(manifest()), nameOf);

// An empty or missing manifest would otherwise pass without a test.
TEST(RealCorpusManifest, ListsEveryKindOfCheck) {
  size_t pictures = 0, sounds = 0, refusals = 0;
  for (const Entry &e : manifest()) {
    pictures += e.kind() == "picture";
    sounds += e.kind() == "sound";
    refusals += e.kind().rfind("refuse-", 0) == 0;
  }
  EXPECT_GE(pictures, 50u);
  EXPECT_GE(sounds, 10u);
  EXPECT_GE(refusals, 3u);
}

}  // namespace
