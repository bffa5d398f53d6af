// Filter kernels. The cubic is Mitchell-Netravali with B = C = 1/3; its
// coefficients are kept as the decimal constants the tables were always
// built from, so that every table comes out bit for bit the same.
#include "colour/resample_kernels.h"

#include <cmath>

namespace kav::colour {

double cubicKernel(double x) {
  const double b = std::fabs(x);
  const double b2 = b * b;
  if (b < 1.0) return 1.1666666666666667 * b2 * b - 2.0 * b2 + 0.8888888888888888;
  if (b < 2.0) return -0.3888888888888889 * b2 * b + 2.0 * b2 - 3.3333333333333335 * b + 1.7777777777777777;
  return 0.0;
}

double triangleKernel(double x) {
  const double b = std::fabs(x);
  return b < 1.0 ? 1.0 - b : 0.0;
}

// Half-open so that a sample exactly between two pixels belongs to one.
double boxKernel(double x) { return (x > -0.5 && x <= 0.5) ? 1.0 : 0.0; }

const ResampleKernel &resampleKernel(uint32_t selector) {
  static const ResampleKernel kernels[kKernelCount] = {
      {cubicKernel, 2.0},
      {triangleKernel, 1.0},
      {boxKernel, 0.5},
  };
  return kernels[selector < kKernelCount ? selector : kKernelCount - 1];
}

}  // namespace kav::colour
