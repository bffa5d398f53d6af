#include "support/vorn_writer.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <sstream>
#include <stdexcept>

namespace kavtest::vornw {
namespace {

[[noreturn]] void fail(const std::string &why) { throw std::runtime_error("vorn writer: " + why); }

// The sixteen prefix codes, one line per tree, indices 0..15.
const char *const kCodeText[16] = {
    "0000 1000 0100 1100 0010 1010 0110 1110 0001 1001 0101 1101 0011 1011 0111 1111",
    "0 1000 11000 10100 11100 10010 11010 10110 11110 11001 10101 11101 10011 11011 10111 11111",
    "00 01 1000 1001 10100 10101 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "00 010 011 1000 1001 1010 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 010 011 1000 1001 1010 1011 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 0100 0101 0110 0111 1000 1001 1010 1011 1100 1101 11100 11101 11110 11111",
    "00 0100 0101 0110 0111 1000 1001 1010 1011 1100 11010 11011 11100 11101 11110 11111",
    "0 100 101 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 10 11000 11001 110100 110101 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 100 1010 1011 11000 11001 11010 11011 111000 111001 111010 111011 111100 111101 111110 111111",
    "00 01 100 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 111111",
    "0 1000 1001 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 111111",
    "00 01 10 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 100 101 110 111000 111001 111010 111011 1111000 1111001 1111010 1111011 1111100 1111101 1111110 1111111",
    "0 100 101 110 11100 111010 1110110 1110111 1111000 1111001 1111010 1111011 1111100 1111101 1111110 1111111",
    "00 01 100 101 110 111000 111001 111010 111011 111100 1111010 1111011 1111100 1111101 1111110 1111111",
};

const char *const kScanText =
    "0 1 8 9 2 3 10 11 4 5 12 13 6 7 14 15 20 21 28 29 22 23 30 31 16 17 24 25 32 33 40 41 34 35 42 43 48 49 56 57 "
    "50 51 58 59 18 19 26 27 36 37 44 45 38 39 46 47 52 53 60 61 54 55 62 63";

const char *const kPatternText[16] = {
    "0 8 16 24 32 40 48 56 57 49 41 33 25 17 9 1 2 10 18 26 34 42 50 58 59 51 43 35 27 19 11 3 4 12 20 28 36 44 52 "
    "60 61 53 45 37 29 21 13 5 6 14 22 30 38 46 54 62 63 55 47 39 31 23 15 7",
    "59 58 57 56 48 49 50 51 43 42 41 40 32 33 34 35 27 26 25 24 16 17 18 19 11 10 9 8 0 1 2 3 4 5 6 7 15 14 13 12 "
    "20 21 22 23 31 30 29 28 36 37 38 39 47 46 45 44 52 53 54 55 63 62 61 60",
    "25 17 18 26 27 19 11 3 2 10 9 1 0 8 16 24 32 40 48 56 57 49 41 42 50 58 59 51 43 35 34 33 29 21 22 30 31 23 15 "
    "7 6 14 13 5 4 12 20 28 36 44 52 60 61 53 45 46 54 62 63 55 47 39 38 37",
    "3 11 2 10 1 9 0 8 16 24 17 25 18 26 19 27 35 43 34 42 33 41 32 40 48 56 49 57 50 58 51 59 60 52 61 53 62 54 63 "
    "55 47 39 46 38 45 37 44 36 28 20 29 21 30 22 31 23 15 7 14 6 13 5 12 4",
    "24 25 16 17 8 9 0 1 2 3 10 11 18 19 26 27 28 29 20 21 12 13 4 5 6 7 14 15 22 23 30 31 39 38 47 46 55 54 63 62 "
    "61 60 53 52 45 44 37 36 35 34 43 42 51 50 59 58 57 56 49 48 41 40 33 32",
    "0 1 2 3 8 9 10 11 16 17 18 19 24 25 26 27 32 33 34 35 40 41 42 43 48 49 50 51 56 57 58 59 4 5 6 7 12 13 14 15 "
    "20 21 22 23 28 29 30 31 36 37 38 39 44 45 46 47 52 53 54 55 60 61 62 63",
    "6 7 15 14 13 5 12 4 3 11 2 10 9 1 0 8 16 24 17 25 18 26 19 27 20 28 21 29 22 30 23 31 39 47 38 46 37 45 36 44 "
    "35 43 34 42 33 41 32 40 49 48 56 57 58 50 59 51 60 52 61 53 54 55 63 62",
    "0 1 2 3 4 5 6 7 15 14 13 12 11 10 9 8 16 17 18 19 20 21 22 23 31 30 29 28 27 26 25 24 32 33 34 35 36 37 38 39 "
    "47 46 45 44 43 42 41 40 48 49 50 51 52 53 54 55 63 62 61 60 59 58 57 56",
    "0 8 9 1 2 3 11 10 18 19 27 26 25 17 16 24 32 40 41 33 34 35 43 42 50 49 48 56 57 58 59 51 52 60 61 62 63 55 54 "
    "53 45 44 36 37 38 46 47 39 31 23 22 30 29 28 20 21 13 12 4 5 6 14 15 7",
    "24 25 16 17 8 9 0 1 2 3 10 11 18 19 26 27 28 29 20 21 12 13 4 5 6 7 14 15 22 23 30 31 38 39 46 47 54 55 62 63 "
    "60 61 52 53 44 45 36 37 34 35 42 43 50 51 58 59 56 57 48 49 40 41 32 33",
    "0 8 1 9 2 10 3 11 19 27 18 26 17 25 16 24 32 40 33 41 34 42 35 43 51 59 50 58 49 57 48 56 60 52 61 53 62 54 63 "
    "55 47 39 46 38 45 37 44 36 31 23 30 22 29 21 28 20 12 4 13 5 14 6 15 7",
    "0 8 16 24 25 26 27 19 11 3 2 1 9 17 18 10 4 12 20 28 29 30 31 23 15 7 6 5 13 21 22 14 36 44 52 60 61 62 63 55 "
    "47 39 38 37 45 53 54 46 32 40 48 56 57 58 59 51 43 35 34 33 41 49 50 42",
    "0 8 9 1 2 3 11 10 19 27 26 18 17 16 24 25 33 32 40 41 42 34 35 43 51 59 58 50 49 57 56 48 52 60 61 53 54 62 63 "
    "55 47 39 38 46 45 44 36 37 29 28 20 21 22 30 31 23 14 15 7 6 5 13 12 4",
    "24 16 8 0 1 2 3 11 19 27 26 25 17 10 9 18 28 20 12 4 5 6 7 15 23 31 30 29 21 14 13 22 60 52 44 36 37 38 39 47 "
    "55 63 62 61 53 46 45 54 56 48 40 32 33 34 35 43 51 59 58 57 49 42 41 50",
    "0 8 9 1 2 10 18 17 16 24 25 26 27 19 11 3 7 6 14 15 23 22 21 13 5 4 12 20 28 29 30 31 63 62 54 55 47 46 45 53 "
    "61 60 52 44 36 37 38 39 56 48 49 57 58 50 42 41 40 32 33 34 35 43 51 59",
    "0 1 8 9 16 17 24 25 32 33 40 41 48 49 56 57 58 59 50 51 42 43 34 35 26 27 18 19 10 11 2 3 4 5 12 13 20 21 28 29 "
    "36 37 44 45 52 53 60 61 62 63 54 55 46 47 38 39 30 31 22 23 14 15 6 7",
};

template <class T>
std::vector<T> split(const char *text) {
  std::istringstream in(text);
  std::vector<T> out;
  T v;
  while (in >> v) out.push_back(v);
  return out;
}

struct Tables {
  std::vector<std::string> codes[16];
  std::vector<unsigned> scan;
  std::vector<unsigned> patterns[16];
  Tables() {
    for (int t = 0; t < 16; ++t) {
      codes[t] = split<std::string>(kCodeText[t]);
      patterns[t] = split<unsigned>(kPatternText[t]);
      if (codes[t].size() != 16 || patterns[t].size() != 64) fail("bad table");
    }
    scan = split<unsigned>(kScanText);
    if (scan.size() != 64) fail("bad scan table");
  }
};

const Tables &tables() {
  static const Tables t;
  return t;
}

unsigned bitsFor(uint32_t v) {
  unsigned n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

// ---- Trees and symbol maps ------------------------------------------------

struct CodedTree {
  unsigned tree = 0;
  std::array<uint8_t, 16> map{};  // index -> symbol value

  void put(BitWriter &w, unsigned value) const {
    for (unsigned i = 0; i < 16; ++i)
      if (map[i] == value) return w.putCode(treeCode(tree, i));
    fail("symbol not in map");
  }
};

CodedTree writeTree(BitWriter &w, const TreeChoice &choice) {
  CodedTree t;
  t.tree = choice.tree;
  if (choice.tree > 15) fail("tree number");
  w.put(choice.tree, 4);
  for (unsigned i = 0; i < 16; ++i) t.map[i] = uint8_t(i);
  if (choice.tree == 0) return t;
  if (choice.form == MapForm::kListed) {
    std::vector<uint8_t> order = choice.order.empty() ? std::vector<uint8_t>{0} : choice.order;
    if (order.size() > 8) fail("listed map too long");
    w.put(1, 1);
    w.put(unsigned(order.size() - 1), 3);
    std::vector<uint8_t> map;
    for (uint8_t v : order) {
      if (v > 15 || std::find(map.begin(), map.end(), v) != map.end()) fail("listed map values");
      w.put(v, 4);
      map.push_back(v);
    }
    for (uint8_t v = 0; v < 16; ++v)
      if (std::find(map.begin(), map.end(), v) == map.end()) map.push_back(v);
    std::copy(map.begin(), map.end(), t.map.begin());
    return t;
  }
  // Merged form: sort 0..15 by each value's wanted position, recording every
  // comparison as the bit the reader takes.
  if (choice.order.size() != 16) fail("merged map needs 16 values");
  unsigned rank[16];
  for (unsigned i = 0; i < 16; ++i) rank[choice.order[i]] = i;
  w.put(0, 1);
  w.put(choice.depth, 2);
  std::vector<std::vector<uint8_t>> runs;
  for (unsigned i = 0; i < 16; i += 2) {
    bool swap = rank[i + 1] < rank[i];
    w.put(swap, 1);
    runs.push_back(swap ? std::vector<uint8_t>{uint8_t(i + 1), uint8_t(i)}
                        : std::vector<uint8_t>{uint8_t(i), uint8_t(i + 1)});
  }
  for (unsigned level = 0; level < choice.depth; ++level) {
    std::vector<std::vector<uint8_t>> next;
    for (size_t r = 0; r < runs.size(); r += 2) {
      const auto &a = runs[r], &b = runs[r + 1];
      std::vector<uint8_t> m;
      size_t i = 0, j = 0;
      while (i < a.size() && j < b.size()) {
        bool fromB = rank[b[j]] < rank[a[i]];
        w.put(fromB, 1);
        m.push_back(fromB ? b[j++] : a[i++]);
      }
      m.insert(m.end(), a.begin() + long(i), a.end());
      m.insert(m.end(), b.begin() + long(j), b.end());
      next.push_back(m);
    }
    runs = next;
  }
  std::vector<uint8_t> map;
  for (auto &r : runs) map.insert(map.end(), r.begin(), r.end());
  for (unsigned i = 0; i < 16; ++i)
    if (map[i] != choice.order[i]) fail("merged map not reachable at this depth");
  std::copy(map.begin(), map.end(), t.map.begin());
  return t;
}

// ---- Coefficient and residue work lists -----------------------------------

struct Entry {
  unsigned c;
  int mode;  // 0..3, or -1 once cleared
};

// The coefficient indices an entry stands for.
bool entryCovers(const Entry &e, unsigned k) {
  switch (e.mode) {
    case 0: return k >= e.c && k < e.c + 20;
    case 1: return k >= e.c && k < e.c + 16;
    case 2: return k >= e.c && k < e.c + 4;
    case 3: return k == e.c;
    default: return false;
  }
}

// Walks the list once. `ready(k)` tells whether coefficient k is coded in
// this walk; `value(k)` writes it and returns false to stop everything.
template <class Ready, class Value>
bool walkList(std::list<Entry> &list, BitWriter &w, Ready ready, Value value) {
  auto anyReady = [&](const Entry &e) {
    for (unsigned k = 0; k < 64; ++k)
      if (entryCovers(e, k) && ready(k)) return true;
    return false;
  };
  auto group = [&](unsigned c) {
    for (unsigned k = c; k < c + 4; ++k) {
      if (ready(k)) {
        w.put(0, 1);
        if (!value(k)) return false;
      } else {
        w.put(1, 1);
        list.push_front(Entry{k, 3});
      }
    }
    return true;
  };
  for (auto it = list.begin(); it != list.end();) {
    if (it->mode < 0) {
      ++it;
      continue;
    }
    bool fire = anyReady(*it);
    w.put(fire, 1);
    if (!fire) {
      ++it;
      continue;
    }
    unsigned c = it->c;
    switch (it->mode) {
      case 0:
        *it = Entry{c + 4, 1};
        if (!group(c)) return false;
        break;
      case 1:
        it->mode = 2;
        list.push_back(Entry{c + 4, 2});
        list.push_back(Entry{c + 8, 2});
        list.push_back(Entry{c + 12, 2});
        break;
      case 2:
        it->mode = -1;
        ++it;
        if (!group(c)) return false;
        break;
      default:
        it->mode = -1;
        ++it;
        if (!value(c)) return false;
        break;
    }
  }
  return true;
}

int planeOf(int32_t v) {
  if (v == 0) return -1;
  return int(bitsFor(uint32_t(v < 0 ? -v : v))) - 1;
}

void writeCoefficients(BitWriter &w, const Block &b) {
  int top = -1;
  for (unsigned k = 1; k < 64; ++k) top = std::max(top, planeOf(b.coef[k]));
  int planes = b.planes >= 0 ? b.planes : top + 1;
  if (planes > 15 || planes <= top) fail("coefficient planes");
  w.put(unsigned(planes), 4);
  if (planes == 0) return;
  std::list<Entry> list{{4, 0}, {24, 0}, {44, 0}, {1, 3}, {2, 3}, {3, 3}};
  for (int p = planes - 1; p >= 0; --p) {
    walkList(
        list, w, [&](unsigned k) { return k > 0 && planeOf(b.coef[k]) >= p; },
        [&](unsigned k) {
          int32_t v = b.coef[k];
          uint32_t mag = uint32_t(v < 0 ? -v : v);
          if (p > 0) {
            w.put(mag - (1u << p), unsigned(p));
            w.put(v < 0, 1);
          } else {
            w.put(v < 0, 1);
          }
          return true;
        });
  }
}

// How one residue value is reached: coded in pass `pass` with `sign`, then
// refined in the later passes whose bit is set.
struct ResiduePlan {
  int pass = -1;  // -1: never coded
  bool sign = false;
  std::vector<bool> refine;
};

int8_t wrap8(int v) { return int8_t(uint8_t(v & 0xFF)); }

ResiduePlan planResidue(int8_t target, unsigned s) {
  ResiduePlan plan;
  if (target == 0) return plan;
  int8_t masks[8];
  for (unsigned p = 0; p <= s; ++p) masks[p] = int8_t(wrap8(1 << s) >> p);
  for (unsigned j = 0; j <= s; ++j)
    for (int sign = 0; sign < 2; ++sign) {
      unsigned later = s - j;
      for (uint32_t pattern = 0; pattern < (1u << later); ++pattern) {
        int8_t v = sign ? wrap8(-masks[j]) : masks[j];
        for (unsigned p = j + 1; p <= s; ++p)
          if (pattern >> (p - j - 1) & 1) v = v >= 0 ? wrap8(v + masks[p]) : wrap8(v - masks[p]);
        if (v == target) {
          plan.pass = int(j);
          plan.sign = sign;
          plan.refine.assign(s + 1, false);
          for (unsigned p = j + 1; p <= s; ++p) plan.refine[p] = pattern >> (p - j - 1) & 1;
          return plan;
        }
      }
    }
  fail("residue value not reachable");
}

void writeResidue(BitWriter &w, const Block &b) {
  if (b.s > 7 || b.budget > 127) fail("residue parameters");
  w.put(b.budget, 7);
  w.put(b.s, 3);
  ResiduePlan plans[64];
  for (unsigned k = 0; k < 64; ++k) plans[k] = planResidue(b.residue[k], b.s);
  unsigned changes = 0;
  bool stopped = false;
  auto change = [&]() {
    if (changes == b.budget) {
      stopped = true;
      return false;
    }
    ++changes;
    return true;
  };
  std::vector<unsigned> coded;
  std::list<Entry> list{{4, 0}, {24, 0}, {44, 0}, {0, 2}};
  for (unsigned pass = 0; pass <= b.s && !stopped; ++pass) {
    for (size_t j = 0; j < coded.size() && !stopped; ++j) {
      bool bit = plans[coded[j]].refine[pass];
      w.put(bit, 1);
      if (bit) change();
    }
    if (stopped) break;
    walkList(
        list, w, [&](unsigned k) { return plans[k].pass >= 0 && unsigned(plans[k].pass) <= pass; },
        [&](unsigned k) {
          coded.push_back(k);
          w.put(plans[k].sign, 1);
          return change();
        });
  }
}

// ---- Bundles ----------------------------------------------------------------

struct RowValues {
  std::vector<int> v[kBundles];
};

const unsigned kPerBlock[kBundles] = {1, 1, 64, 8, 1, 1, 1, 1, 48};

unsigned countBits(Bundle id, uint32_t width) {
  uint32_t across = id == kSubTypes ? (width / 2) / 8 : width / 8;
  uint32_t e = 511 + kPerBlock[id] * across;
  return std::min(15u, bitsFor(e));
}

// Values of one block, by bundle, and its own bits.
void blockContent(const Block &b, unsigned type, RowValues &vals, BitWriter &bits, bool strict) {
  auto colours = [&](size_t n) {
    if (b.colours.size() != n) fail("colour count of block type " + std::to_string(type));
    for (uint8_t c : b.colours) vals.v[kColours].push_back(c);
  };
  switch (type) {
    case 2:
      vals.v[kXOff].push_back(b.dx);
      vals.v[kYOff].push_back(b.dy);
      break;
    case 3: {
      bits.put(b.runPattern, 4);
      unsigned i = 0;
      for (const RunSegment &r : b.runs) {
        if (i >= 63 && strict) fail("run past 63");
        bits.put(r.single, 1);
        if (r.length < 1 || r.length > 16) fail("run length");
        vals.v[kRuns].push_back(int(r.length - 1));
        if (r.colours.size() != (r.single ? 1 : r.length)) fail("run colours");
        for (uint8_t c : r.colours) vals.v[kColours].push_back(c);
        i += r.length;
      }
      if (i == 63) {
        if (b.lastColour < 0) fail("run ends at 63 without a last colour");
        vals.v[kColours].push_back(b.lastColour);
      } else if ((i != 64 || b.lastColour >= 0) && strict) {
        fail("runs must reach 63 or 64");
      }
      break;
    }
    case 4:
      vals.v[kXOff].push_back(b.dx);
      vals.v[kYOff].push_back(b.dy);
      writeResidue(bits, b);
      break;
    case 5:
      vals.v[kIntraDc].push_back(b.dc);
      writeCoefficients(bits, b);
      bits.put(b.q, 4);
      break;
    case 6: colours(1); break;
    case 7:
      vals.v[kXOff].push_back(b.dx);
      vals.v[kYOff].push_back(b.dy);
      vals.v[kInterDc].push_back(b.dc);
      writeCoefficients(bits, b);
      bits.put(b.q, 4);
      break;
    case 8:
      colours(2);
      for (uint8_t p : b.pattern) vals.v[kPatterns].push_back(p);
      break;
    case 9: colours(64); break;
    default: break;
  }
}

class PlaneWriter {
 public:
  explicit PlaneWriter(const PlaneDesc &p) : p_(p) {}

  std::vector<uint8_t> write(size_t *bitCount) {
    if (p_.width % 8 || p_.height % 8 || p_.rows.size() != p_.height / 8) fail("plane geometry");
    for (unsigned i : {kTypes, kSubTypes}) trees_[i] = writeTree(w_, p_.coding[i].tree);
    for (unsigned i = 0; i < 16; ++i) high_[i] = writeTree(w_, p_.highNibble[i]);
    for (unsigned i : {kColours, kPatterns, kXOff, kYOff, kRuns}) trees_[i] = writeTree(w_, p_.coding[i].tree);

    std::vector<RowValues> rowVals(p_.rows.size());
    std::vector<BitWriter> rowBits(p_.rows.size());
    for (size_t r = 0; r < p_.rows.size(); ++r) {
      uint32_t x = 0;
      for (const Block &b : p_.rows[r]) {
        rowVals[r].v[kTypes].push_back(int(b.type));
        if (b.type == 1) {
          if (r % 2 == 0) {
            rowVals[r].v[kSubTypes].push_back(int(b.sub));
            // Only these sub-block types carry a source block.
            if (b.sub == 3 || b.sub == 5 || b.sub == 6 || b.sub == 8 || b.sub == 9)
              blockContent(b, b.sub, rowVals[r], rowBits[r], p_.strict);
          }
          x += 16;
        } else {
          blockContent(b, b.type, rowVals[r], rowBits[r], p_.strict);
          x += 8;
        }
      }
      if (x != p_.width && p_.strict) fail("row " + std::to_string(r) + " does not cover the plane width");
    }

    size_t remaining[kBundles] = {};
    bool finished[kBundles] = {};
    size_t next[kBundles] = {};  // first row whose values are not yet written
    for (size_t r = 0; r < p_.rows.size(); ++r) {
      for (unsigned id = 0; id < kBundles; ++id) {
        if (finished[id] || remaining[id]) continue;
        // Values for at least rowsPerRefill rows, and on until some exist.
        std::vector<int> vals;
        size_t row = next[id];
        size_t stop = row + std::max(1u, p_.coding[id].rowsPerRefill);
        while (row < p_.rows.size() && (row < stop || vals.empty())) {
          const auto &v = rowVals[row].v[id];
          vals.insert(vals.end(), v.begin(), v.end());
          ++row;
        }
        next[id] = row;
        w_.put(uint32_t(vals.size()), countBits(Bundle(id), p_.width));
        if (vals.empty()) {
          finished[id] = true;
          continue;
        }
        if (vals.size() >= (1u << countBits(Bundle(id), p_.width))) fail("refill count too large");
        writeValues(Bundle(id), vals);
        remaining[id] = vals.size();
      }
      for (unsigned id = 0; id < kBundles; ++id) {
        size_t used = rowVals[r].v[id].size();
        if (used > remaining[id]) fail("bundle ran dry");
        remaining[id] -= used;
      }
      w_.append(rowBits[r]);
    }
    if (bitCount) *bitCount = w_.bitCount();
    return w_.words();
  }

 private:
  void writeValues(Bundle id, const std::vector<int> &vals) {
    const BundleCoding &coding = p_.coding[id];
    const CodedTree &tree = trees_[id];
    bool allSame = std::all_of(vals.begin(), vals.end(), [&](int v) { return v == vals[0]; });
    bool fill = coding.allowFill && allSame;
    switch (id) {
      case kTypes:
      case kSubTypes: {
        w_.put(fill, 1);
        if (fill) {
          w_.put(unsigned(vals[0]), 4);
          return;
        }
        int last = 0;
        for (size_t i = 0; i < vals.size();) {
          if (vals[i] >= 12) fail("block types of 12 and more need the fill form");
          if (coding.useRepeats && vals[i] == last) {
            size_t n = 0;
            while (i + n < vals.size() && vals[i + n] == last) ++n;
            static const unsigned kLen[4] = {32, 12, 8, 4};
            bool used = false;
            for (unsigned s = 0; s < 4; ++s)
              if (n >= kLen[s]) {
                tree.put(w_, 15 - s);
                i += kLen[s];
                used = true;
                break;
              }
            if (used) continue;
          }
          tree.put(w_, unsigned(vals[i]));
          last = vals[i];
          ++i;
        }
        return;
      }
      case kColours: {
        w_.put(fill, 1);
        for (size_t i = 0; i < (fill ? 1 : vals.size()); ++i) {
          unsigned v = codeOfColour(unsigned(vals[i]));
          high_[lastHigh_].put(w_, v >> 4);
          tree.put(w_, v & 15);
          lastHigh_ = v >> 4;
        }
        return;
      }
      case kPatterns:
        for (int v : vals) {
          tree.put(w_, unsigned(v) & 15);
          tree.put(w_, unsigned(v) >> 4);
        }
        return;
      case kXOff:
      case kYOff:
        w_.put(fill, 1);
        for (size_t i = 0; i < (fill ? 1 : vals.size()); ++i) {
          int v = vals[i];
          if (v < -15 || v > 15) fail("offset range");
          unsigned m = unsigned(v < 0 ? -v : v);
          if (fill)
            w_.put(m, 4);
          else
            tree.put(w_, m);
          if (m) w_.put(v < 0, 1);
        }
        return;
      case kIntraDc:
      case kInterDc: {
        int cur = vals[0];
        if (id == kIntraDc) {
          if (cur < 0 || cur > 2047) fail("first intra DC");
          w_.put(unsigned(cur), 11);
        } else {
          unsigned m = unsigned(cur < 0 ? -cur : cur);
          if (m > 1023) fail("first inter DC");
          w_.put(m, 10);
          if (m) w_.put(cur < 0, 1);
        }
        for (size_t i = 1; i < vals.size(); i += 8) {
          size_t n = std::min<size_t>(8, vals.size() - i);
          unsigned width = 0;
          for (size_t j = 0; j < n; ++j) {
            int d = vals[i + j] - vals[i + j - 1];
            width = std::max(width, bitsFor(unsigned(d < 0 ? -d : d)));
          }
          if (width > 15) fail("DC step");
          w_.put(width, 4);
          if (!width) continue;
          for (size_t j = 0; j < n; ++j) {
            int d = vals[i + j] - vals[i + j - 1];
            w_.put(unsigned(d < 0 ? -d : d), width);
            if (d) w_.put(d < 0, 1);
          }
        }
        return;
      }
      case kRuns:
        w_.put(fill, 1);
        if (fill) {
          w_.put(unsigned(vals[0]), 4);
          return;
        }
        for (int v : vals) tree.put(w_, unsigned(v));
        return;
      default: return;
    }
  }

  // The code value that stores `colour`; the older revision stores 128 +
  // (v & 0x7f) below 128 and 128 - (v & 0x7f) from 128 on.
  unsigned codeOfColour(unsigned colour) const {
    if (!p_.oldRevision) return colour;
    if (colour >= 128) return colour - 128;
    if (colour == 0) fail("colour 0 cannot be coded in the older revision");
    return 128 + (128 - colour);
  }

  const PlaneDesc &p_;
  BitWriter w_;
  CodedTree trees_[kBundles];
  CodedTree high_[16];
  unsigned lastHigh_ = 0;
};

void putWord(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

void BitWriter::put(uint32_t value, unsigned n) {
  for (unsigned i = 0; i < n; ++i) bits_.push_back(i < 32 && ((value >> i) & 1));
}

void BitWriter::putCode(const std::string &code) {
  for (char c : code) bits_.push_back(c == '1');
}

void BitWriter::append(const BitWriter &other) { bits_.insert(bits_.end(), other.bits_.begin(), other.bits_.end()); }

std::vector<uint8_t> BitWriter::words() const {
  std::vector<uint8_t> out((bits_.size() + 31) / 32 * 4, 0);
  for (size_t i = 0; i < bits_.size(); ++i)
    if (bits_[i]) out[i / 8] |= uint8_t(1u << (i % 8));
  return out;
}

const std::string &treeCode(unsigned tree, unsigned index) { return tables().codes[tree & 15][index & 15]; }
unsigned scanPosition(unsigned k) { return tables().scan[k & 63]; }
unsigned runPatternPosition(unsigned pattern, unsigned i) { return tables().patterns[pattern & 15][i & 63]; }

Block Block::fill(uint8_t colour) {
  Block b;
  b.type = 6;
  b.colours = {colour};
  return b;
}
Block Block::motion(int dx, int dy) {
  Block b;
  b.type = 2;
  b.dx = dx;
  b.dy = dy;
  return b;
}
Block Block::raw(const std::array<uint8_t, 64> &pixels) {
  Block b;
  b.type = 9;
  b.colours.assign(pixels.begin(), pixels.end());
  return b;
}
Block Block::pattern8(uint8_t c0, uint8_t c1, const std::array<uint8_t, 8> &rows) {
  Block b;
  b.type = 8;
  b.colours = {c0, c1};
  b.pattern = rows;
  return b;
}
Block Block::intra(int dc, unsigned q, const std::array<int32_t, 64> &coef) {
  Block b;
  b.type = 5;
  b.dc = dc;
  b.q = q;
  b.coef = coef;
  return b;
}
Block Block::inter(int dx, int dy, int dc, unsigned q, const std::array<int32_t, 64> &coef) {
  Block b = intra(dc, q, coef);
  b.type = 7;
  b.dx = dx;
  b.dy = dy;
  return b;
}
Block Block::residueBlock(int dx, int dy, unsigned s, const std::array<int8_t, 64> &res, unsigned budget) {
  Block b;
  b.type = 4;
  b.dx = dx;
  b.dy = dy;
  b.s = s;
  b.residue = res;
  b.budget = budget;
  return b;
}
Block Block::run(unsigned pattern, std::vector<RunSegment> runs, int lastColour) {
  Block b;
  b.type = 3;
  b.runPattern = pattern;
  b.runs = std::move(runs);
  b.lastColour = lastColour;
  return b;
}
Block Block::scaled(const Block &source) {
  Block b = source;
  b.sub = source.type;
  b.type = 1;
  return b;
}

std::vector<uint8_t> writePlane(const PlaneDesc &plane, size_t *bitCount) { return PlaneWriter(plane).write(bitCount); }

std::vector<uint8_t> writeFrame(const FrameDesc &f) {
  std::vector<uint8_t> out;
  if (f.alphaSection) {
    std::vector<uint8_t> alpha = writePlane(f.alpha);
    out.resize(4);
    putWord(out, 0, uint32_t(4 + alpha.size()));
    out.insert(out.end(), alpha.begin(), alpha.end());
  }
  std::vector<uint8_t> luma = writePlane(f.luma);
  luma.resize(luma.size() + 4 * f.lumaPadWords, 0xA5);
  if (!f.oldRevision) {
    size_t at = out.size();
    out.resize(at + 4);
    putWord(out, at, uint32_t(4 + luma.size()));
  }
  out.insert(out.end(), luma.begin(), luma.end());
  if (!f.grey)
    for (const PlaneDesc &c : f.chroma) {
      std::vector<uint8_t> bytes = writePlane(c);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
  return out;
}

uint32_t modelQuant(bool intra, unsigned q, unsigned k) {
  static const int kIntra[64] = {16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,
                                 27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,
                                 29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,
                                 35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83};
  static const int kInter[64] = {16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,
                                 21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,
                                 23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,
                                 25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33};
  static const double kF[16] = {1, 4.0 / 3, 5.0 / 3, 2, 8.0 / 3, 3.5, 4, 5, 6, 8, 12, 17, 22, 28, 34, 44};
  auto S = [](unsigned i) { return i == 0 ? 1.0 : std::sqrt(2.0) * std::cos(i * 3.14159265358979323846 / 16.0); };
  double v = 65536.0 * S(k / 8) * S(k % 8) * (intra ? kIntra : kInter)[k] / 16.0 * kF[q];
  return uint32_t(std::floor(v + 0.5));
}

std::array<uint8_t, 64> modelTransform(const std::array<int32_t, 64> &coef, bool intra, unsigned q) {
  // 32-bit wrapping arithmetic with arithmetic shifts, spelled with int64
  // and explicit truncation to keep it apart from the expander's code.
  auto t32 = [](int64_t v) { return int32_t(uint32_t(uint64_t(v))); };
  auto mul = [&](int k, int32_t x) { return t32(int64_t(k) * x) >> 11; };
  int32_t m[64];
  for (unsigned k = 0; k < 64; ++k) m[scanPosition(k)] = t32(int64_t(coef[k]) * modelQuant(intra, q, scanPosition(k))) >> 11;
  auto idct = [&](int32_t *s, int stride) {
    int32_t x[8];
    for (int i = 0; i < 8; ++i) x[i] = s[i * stride];
    int32_t a0 = t32(int64_t(x[0]) + x[4]), a1 = t32(int64_t(x[0]) - x[4]), a2 = t32(int64_t(x[2]) + x[6]);
    int32_t a3 = mul(2896, t32(int64_t(x[2]) - x[6]));
    int32_t a4 = t32(int64_t(x[5]) + x[3]), a5 = t32(int64_t(x[5]) - x[3]);
    int32_t a6 = t32(int64_t(x[1]) + x[7]), a7 = t32(int64_t(x[1]) - x[7]);
    int32_t b0 = t32(int64_t(a4) + a6);
    int32_t b1 = mul(3784, t32(int64_t(a5) + a7));
    int32_t b2 = t32(int64_t(mul(-5352, a5)) - b0 + b1);
    int32_t b3 = t32(int64_t(mul(2896, t32(int64_t(a6) - a4))) - b2);
    int32_t b4 = t32(int64_t(mul(2217, a7)) + b3 - b1);
    int32_t o[8] = {t32(int64_t(a0) + a2 + b0), t32(int64_t(a1) + a3 - a2 + b2), t32(int64_t(a1) - a3 + a2 + b3),
                    t32(int64_t(a0) - a2 - b4), t32(int64_t(a0) - a2 + b4), t32(int64_t(a1) - a3 + a2 - b3),
                    t32(int64_t(a1) + a3 - a2 - b2), t32(int64_t(a0) + a2 - b0)};
    for (int i = 0; i < 8; ++i) s[i * stride] = o[i];
  };
  for (int c = 0; c < 8; ++c) idct(m + c, 8);
  for (int r = 0; r < 8; ++r) idct(m + 8 * r, 1);
  std::array<uint8_t, 64> out;
  for (int k = 0; k < 64; ++k) out[k] = uint8_t(t32(int64_t(m[k]) + 127) >> 8);
  return out;
}

}  // namespace kavtest::vornw
