#include "platform/stillimage/still_pcx_expand_avx2.h"

namespace kav::still {

bool pcxExpandLineAvx2(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, PcxRunCarry &carry) {
  return pcxSsse3Kernels()->expandLine(p, pos, end, dst, n, carry);
}

}  // namespace kav::still
