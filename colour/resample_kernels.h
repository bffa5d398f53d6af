// The three filter kernels of the resampler, indexed by the graphics
// input's filter selector: 0 cubic, 1 triangle, 2 box.
#pragma once

#include <cstdint>

namespace kav::colour {

struct ResampleKernel {
  double (*value)(double x);
  double support;  // half-width: the kernel is 0 beyond it
};

constexpr uint32_t kKernelCount = 3;

// The kernel of a selector; selectors past the last kernel give the box.
const ResampleKernel &resampleKernel(uint32_t selector);

double cubicKernel(double x);
double triangleKernel(double x);
double boxKernel(double x);

}  // namespace kav::colour
