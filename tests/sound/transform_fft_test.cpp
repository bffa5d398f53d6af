// The real transform against a direct O(N^2) evaluation in double
// precision, both directions, and the vector kernels against the portable ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "sound/transform_codec.h"

using namespace kav::sound;

namespace {

const double kPi = 3.14159265358979323846;

std::vector<double> directForward(const std::vector<float> &x) {
  const size_t n = x.size();
  std::vector<double> a(n, 0.0);
  for (size_t t = 0; t < n; ++t) {
    a[0] += x[t];
    a[1] += (t % 2 ? -1.0 : 1.0) * x[t];
  }
  for (size_t k = 1; k < n / 2; ++k)
    for (size_t t = 0; t < n; ++t) {
      const double angle = 2.0 * kPi * static_cast<double>((t * k) % n) / n;
      a[2 * k] += x[t] * std::cos(angle);
      a[2 * k + 1] += x[t] * std::sin(angle);
    }
  return a;
}

std::vector<double> directInverse(const std::vector<float> &a) {
  const size_t n = a.size();
  std::vector<double> x(n);
  for (size_t t = 0; t < n; ++t) {
    double v = a[0] / 2.0 + (t % 2 ? -1.0 : 1.0) * a[1] / 2.0;
    for (size_t k = 1; k < n / 2; ++k) {
      const double angle = 2.0 * kPi * static_cast<double>((t * k) % n) / n;
      v += a[2 * k] * std::cos(angle) + a[2 * k + 1] * std::sin(angle);
    }
    x[t] = v;
  }
  return x;
}

std::vector<float> randomSignal(size_t n, uint32_t seed, float scale) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-scale, scale);
  std::vector<float> x(n);
  for (float &v : x) v = u(rng);
  return x;
}

double maxError(const std::vector<float> &got, const std::vector<double> &want) {
  double e = 0.0;
  for (size_t i = 0; i < got.size(); ++i) e = std::max(e, std::fabs(got[i] - want[i]));
  return e;
}

class TransformLengths : public ::testing::TestWithParam<uint32_t> {};

TEST_P(TransformLengths, ForwardAndInverseMatchTheDirectSums) {
  const uint32_t n = GetParam();
  TransformTables tables{};
  for (bool simd : {true, false}) {
    ASSERT_TRUE(transformTablesPrepare(tables, n));
    tables.simd = tables.simd && simd;
    std::vector<float> x = randomSignal(n, n, 32768.0f);
    const std::vector<double> want = directForward(x);
    std::vector<float> a = x;
    ASSERT_TRUE(transformReal(n, +1, a.data(), tables));
    // Float rounding grows with log N; the sums themselves reach ~ sqrt(N) x 32768.
    const double bound = 32768.0 * std::sqrt(static_cast<double>(n)) * 2e-6 * std::log2(n);
    EXPECT_LT(maxError(a, want), bound) << n;

    std::vector<float> spectrum = randomSignal(n, n + 1, 1000.0f);
    const std::vector<double> back = directInverse(spectrum);
    std::vector<float> y = spectrum;
    ASSERT_TRUE(transformReal(n, -1, y.data(), tables));
    EXPECT_LT(maxError(y, back), 1000.0 * std::sqrt(static_cast<double>(n)) * 2e-6 * std::log2(n)) << n;

    // Forward then inverse gives N / 2 times the input.
    std::vector<double> scaled(n);
    for (uint32_t i = 0; i < n; ++i) scaled[i] = x[i] * (n / 2.0);
    ASSERT_TRUE(transformReal(n, -1, a.data(), tables));
    EXPECT_LT(maxError(a, scaled), 32768.0 * n / 2.0 * 4e-6 * std::log2(n)) << n;
  }
  transformTablesRelease(tables);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, TransformLengths, ::testing::Values(8u, 16u, 32u, 64u, 512u, 1024u, 2048u, 4096u));

TEST(TransformReal, SineLandsInTheOddCoefficientWithPositiveSign) {
  const uint32_t n = 64;
  TransformTables tables{};
  std::vector<float> x(n);
  for (uint32_t t = 0; t < n; ++t) x[t] = static_cast<float>(std::sin(2.0 * kPi * 3 * t / n) + std::cos(2.0 * kPi * 5 * t / n));
  ASSERT_TRUE(transformReal(n, +1, x.data(), tables));
  EXPECT_NEAR(x[2 * 3 + 1], n / 2.0, 1e-4);  // + sum x sin: the negative of the usual imaginary part
  EXPECT_NEAR(x[2 * 3], 0.0, 1e-4);
  EXPECT_NEAR(x[2 * 5], n / 2.0, 1e-4);
  EXPECT_NEAR(x[0], 0.0, 1e-4);
  EXPECT_NEAR(x[1], 0.0, 1e-4);
  transformTablesRelease(tables);
}

TEST(TransformReal, VectorKernelsAreBitIdenticalToPortable) {
  for (uint32_t n : {8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}) {
    TransformTables wide{}, narrow{}, slow{};
    ASSERT_TRUE(transformTablesPrepare(wide, n));
    ASSERT_TRUE(transformTablesPrepare(narrow, n));
    ASSERT_TRUE(transformTablesPrepare(slow, n));
    narrow.wide = false;
    slow.simd = false;
    for (int direction : {+1, -1}) {
      std::vector<float> a = randomSignal(n, 99 + n, 30000.0f), b = a, c = a;
      transformReal(n, direction, a.data(), wide);
      transformReal(n, direction, b.data(), narrow);
      transformReal(n, direction, c.data(), slow);
      EXPECT_EQ(0, std::memcmp(a.data(), c.data(), n * sizeof(float))) << n << " " << direction;
      EXPECT_EQ(0, std::memcmp(b.data(), c.data(), n * sizeof(float))) << n << " " << direction;
    }
    transformTablesRelease(wide);
    transformTablesRelease(narrow);
    transformTablesRelease(slow);
  }
}

TEST(TransformReal, RefusesLengthsThatAreNotPowersOfTwo) {
  TransformTables tables{};
  float data[16] = {1.0f};
  EXPECT_FALSE(transformReal(0, +1, data, tables));
  EXPECT_FALSE(transformReal(4, +1, data, tables));
  EXPECT_FALSE(transformReal(12, +1, data, tables));
  EXPECT_FALSE(transformReal(131072, +1, data, tables));
  EXPECT_EQ(data[0], 1.0f);
  // A new length rebuilds the tables.
  EXPECT_TRUE(transformReal(16, +1, data, tables));
  EXPECT_EQ(tables.length, 16u);
  EXPECT_TRUE(transformReal(8, +1, data, tables));
  EXPECT_EQ(tables.length, 8u);
  transformTablesRelease(tables);
}

}  // namespace
