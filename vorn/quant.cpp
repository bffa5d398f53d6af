// Dequantisation tables. The tables the format was built with are not
// reproduced here entry for entry: these are the values of the generating
// formula, 65536 x S(r) x S(c) x M[k] / 16 x F(q) evaluated in double
// precision and rounded half up, which agrees with the original tables to
// within one unit in every entry (and exactly in all but a few dozen).
#include <array>
#include <cmath>

#include "vorn/tables.h"

namespace kav::vorn {
namespace {

const uint8_t kIntraWeights[64] = {16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,
                                   27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,
                                   29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,
                                   35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83};
const uint8_t kInterWeights[64] = {16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,
                                   21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,
                                   23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,
                                   25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33};
// F(q): quantiser step factors.
const double kStep[16] = {1.0,       4.0 / 3.0, 5.0 / 3.0, 2.0,  8.0 / 3.0, 7.0 / 2.0, 4.0,  5.0,
                          6.0,       8.0,       12.0,      17.0, 22.0,      28.0,      34.0, 44.0};

using Table = std::array<uint32_t, 16 * 64>;

Table build(const uint8_t *weights) {
  const double pi = 3.14159265358979323846;
  double scale[8];
  scale[0] = 1.0;
  for (int i = 1; i < 8; ++i) scale[i] = std::sqrt(2.0) * std::cos(i * pi / 16.0);
  Table t{};
  for (int q = 0; q < 16; ++q)
    for (int k = 0; k < 64; ++k) {
      double v = 65536.0 * scale[k / 8] * scale[k % 8] * weights[k] / 16.0 * kStep[q];
      t[q * 64 + k] = uint32_t(std::floor(v + 0.5));
    }
  return t;
}

// Built once on first use; C++ guarantees a thread-safe initialisation, and
// the tables are never written afterwards.
const Table &intraTable() {
  static const Table t = build(kIntraWeights);
  return t;
}
const Table &interTable() {
  static const Table t = build(kInterWeights);
  return t;
}

}  // namespace

const uint32_t *intraQuant(unsigned q) { return intraTable().data() + (q & 15) * 64; }
const uint32_t *interQuant(unsigned q) { return interTable().data() + (q & 15) * 64; }

}  // namespace kav::vorn
