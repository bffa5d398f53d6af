// An independent writer of Vorn video frames for the tests: it emits every
// construct the expander reads, from a description of each block, without
// sharing any code with the expander.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kavtest::vornw {

class BitWriter {
 public:
  // n bits of value, least significant bit first (bits past 31 are zero).
  void put(uint32_t value, unsigned n);
  // A code written as its bits in reading order ("0110").
  void putCode(const std::string &code);
  void append(const BitWriter &other);
  size_t bitCount() const { return bits_.size(); }
  // Whole little-endian 32-bit words; the last word is padded with zeros.
  std::vector<uint8_t> words() const;

 private:
  std::vector<bool> bits_;
};

// The fixed prefix code of tree t for index i, in reading order.
const std::string &treeCode(unsigned tree, unsigned index);
// Raster position of coding index k, and the fill orders of run blocks.
unsigned scanPosition(unsigned k);
unsigned runPatternPosition(unsigned pattern, unsigned i);

enum class MapForm { kListed, kMerged };

// A tree and its symbol map. Tree 0 always has the identity map. kListed puts
// `order` (1..8 distinct values) first, the rest ascending; kMerged codes the
// permutation `order` (16 values) by pair swaps and merges up to `depth`
// (which must be able to produce it).
struct TreeChoice {
  unsigned tree = 0;
  MapForm form = MapForm::kListed;
  std::vector<uint8_t> order;
  unsigned depth = 3;
};

// How one bundle is coded.
struct BundleCoding {
  TreeChoice tree;
  bool allowFill = true;      // a refill of equal values uses the fill form
  bool useRepeats = true;     // block and sub-block types: repeat symbols 12..15
  unsigned rowsPerRefill = 1;  // rows one refill serves (at least)
};

enum Bundle { kTypes, kSubTypes, kColours, kPatterns, kXOff, kYOff, kIntraDc, kInterDc, kRuns, kBundles };

struct RunSegment {
  bool single = true;            // one colour for the whole run
  unsigned length = 1;           // 1..16 positions
  std::vector<uint8_t> colours;  // 1 when single, else `length`
};

struct Block {
  unsigned type = 0;  // 0..15
  unsigned sub = 0;   // scaled blocks on even rows: the sub-block type
  // Values drawn from bundles.
  std::vector<uint8_t> colours;  // fill 1, pattern c0 c1, raw 64 (row by row)
  std::array<uint8_t, 8> pattern{};
  int dx = 0, dy = 0;
  int dc = 0;
  // Run blocks.
  unsigned runPattern = 0;
  std::vector<RunSegment> runs;
  int lastColour = -1;  // when the runs end at 63
  // Intra and inter blocks: coefficients 1..63 in coding order.
  std::array<int32_t, 64> coef{};
  int planes = -1;  // -1: as many as the largest coefficient needs
  unsigned q = 0;
  // Residue blocks: the residue in coding order.
  std::array<int8_t, 64> residue{};
  unsigned s = 0;
  unsigned budget = 127;

  static Block skip() { return Block{}; }
  static Block none(unsigned type) {
    Block b;
    b.type = type;
    return b;
  }
  static Block fill(uint8_t colour);
  static Block motion(int dx, int dy);
  static Block raw(const std::array<uint8_t, 64> &pixels);
  static Block pattern8(uint8_t c0, uint8_t c1, const std::array<uint8_t, 8> &rows);
  static Block intra(int dc, unsigned q, const std::array<int32_t, 64> &coef = {});
  static Block inter(int dx, int dy, int dc, unsigned q, const std::array<int32_t, 64> &coef = {});
  static Block residueBlock(int dx, int dy, unsigned s, const std::array<int8_t, 64> &res, unsigned budget = 127);
  static Block run(unsigned pattern, std::vector<RunSegment> runs, int lastColour = -1);
  // Type 1 on an even row drawing the 16x16 area from `source` (whose type
  // becomes the sub-block type); scaledLower() is its partner on the odd row.
  static Block scaled(const Block &source);
  static Block scaledLower() { return none(1); }
};

struct PlaneDesc {
  uint32_t width = 0, height = 0;       // decoded area, multiples of 8
  std::vector<std::vector<Block>> rows;  // height / 8 rows of blocks
  std::array<BundleCoding, kBundles> coding{};
  std::array<TreeChoice, 16> highNibble{};
  bool oldRevision = false;  // colours as sign and magnitude around 128
  bool strict = true;        // false: also write rows and runs that break the format's limits
};

// The plane's bits, padded to whole words (bitCount, when given, receives the
// number of bits before the padding). Throws std::runtime_error when the
// description cannot be coded.
std::vector<uint8_t> writePlane(const PlaneDesc &plane, size_t *bitCount = nullptr);

struct FrameDesc {
  bool alphaSection = false;  // frame data starts with an alpha plane
  PlaneDesc alpha;
  PlaneDesc luma;
  bool grey = false;  // no chroma planes
  PlaneDesc chroma[2];
  bool oldRevision = false;     // no plane-size word
  unsigned lumaPadWords = 0;    // words between the luma plane and the chroma start
};

std::vector<uint8_t> writeFrame(const FrameDesc &frame);

// A plane of fill blocks whose levels step by 9 across and 5 down from
// `base` (wrapping at 8 bits): for tests that need a movie to read, not the
// coder's corners.
inline PlaneDesc fillPlane(uint32_t w, uint32_t h, uint8_t base) {
  PlaneDesc p;
  p.width = (w + 7) & ~7u;
  p.height = (h + 7) & ~7u;
  p.rows.assign(p.height / 8, {});
  for (uint32_t by = 0; by < p.height / 8; ++by)
    for (uint32_t bx = 0; bx < p.width / 8; ++bx)
      p.rows[by].push_back(Block::fill(static_cast<uint8_t>(base + bx * 9 + by * 5)));
  return p;
}

// Reference arithmetic for expected pixels: the dequantised inverse transform
// of coefficients in coding order, wrapped to 8 bits, in raster order.
std::array<uint8_t, 64> modelTransform(const std::array<int32_t, 64> &coef, bool intra, unsigned q);
uint32_t modelQuant(bool intra, unsigned q, unsigned k);

}  // namespace kavtest::vornw
