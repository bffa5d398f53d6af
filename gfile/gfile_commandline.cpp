// GFileCommandLine: the graphics switches shared by the suite's tools,
// converted into the encodings GFileOpen and GFileGet take.
#include <cstdlib>
#include <cstring>
#include <string>

#include "kavutil/gfile.h"
#include "kavutil/kavbase.h"

namespace {

constexpr uint32_t kBlendBit = 1u << 8;

uint32_t flagsFrom(int32_t z, int32_t semicolon) {
  uint32_t flags = 0;
  uint32_t v = z < 0 ? 0 : static_cast<uint32_t>(z);
  if (v >= 1000) {
    flags |= GFILE_PREFER_QUICKTIME;
    v %= 1000;
  }
  if (v >= 200) {
    flags |= GFILE_FILTER_2;
    v %= 200;
  } else if (v >= 100) {
    flags |= GFILE_FILTER_1;
    v -= 100;
  }
  flags |= v & GFILE_COLOUR_MODE_MASK;
  // The field is the value modulo 8 and the blend bit 8 of the value (plus
  // 256, as the tools' help and manual say); the open keeps the blend as 8
  // in its own deinterlace setting, which is a different number.
  const uint32_t s = static_cast<uint32_t>(semicolon);
  if (s % 8 == 1) flags |= GFILE_DEINTERLACE_EVEN;
  if (s % 8 == 2) flags |= GFILE_DEINTERLACE_ODD;
  if (s & kBlendBit) flags |= GFILE_DEINTERLACE_BLEND;
  return flags;
}

// A rate switch: negative values are periods (milliseconds, or 1/100000 s
// below -1500) and become frames per second.
void rateFrom(int32_t n, int32_t d, uint32_t *outN, uint32_t *outD) {
  uint32_t rn = static_cast<uint32_t>(n), rd = static_cast<uint32_t>(d);
  if (d != 0 && n != 0) {
    const int32_t q = n / d;
    const uint32_t an = static_cast<uint32_t>(std::llabs(n)), ad = static_cast<uint32_t>(std::llabs(d));
    if (q < -1500) {
      rn = ad * 100000u;
      rd = an;
      GCDNums(&rn, &rd);
    } else if (q < 0) {
      rn = ad * 1000u;
      rd = an;
      GCDNums(&rn, &rd);
    }
  }
  if (outN) *outN = rn;
  if (outD) *outD = rd;
}

int32_t sizeCodeFrom(int32_t n, int32_t d) {
  if ((n < 0 || d < 0) && n + d != 0 && d != 0) return static_cast<int32_t>(int64_t{n} * 1000 / d - 1000);
  if (n != 0 && d != 0) return n / d;
  return 0;
}

void number(char *cmd, int letter, int32_t *dest, int32_t fallback) {
  if (dest) *dest = GetSwitchNum(cmd, letter, fallback);
}

}  // namespace

extern "C" {

KAV_EXPORT void KAVAPI GFileCommandLine(char *cmd, uint32_t *flags, uint32_t *input_numerator,
                                        uint32_t *input_denominator, uint32_t *output_numerator,
                                        uint32_t *output_denominator, int32_t *colon, int32_t *brace_open,
                                        int32_t *brightness, float *gamma, int32_t *brace_close, int32_t *width,
                                        int32_t *height, int32_t *x, int32_t *y, int32_t *canvas_width,
                                        int32_t *canvas_height, int32_t *first_frame, int32_t *last_frame,
                                        uint32_t *analysis_scale, uint32_t *first_colour, uint32_t *colour_count,
                                        int32_t *dollar, uint8_t *d_value, uint8_t *t_value, char *palette_file) {
  if (!cmd) return;
  try {
    number(cmd, 'S', first_frame, 0);
    number(cmd, 'E', last_frame, 0);
    number(cmd, 'X', x, 0);
    number(cmd, 'Y', y, 0);
    number(cmd, 'W', canvas_width, 0);
    number(cmd, 'H', canvas_height, 0);
    int32_t n = 0, d = 1;
    if (width) {
      GetSwitchFractional(cmd, '(', &n, &d, 0, 1);
      *width = sizeCodeFrom(n, d);
    }
    if (height) {
      GetSwitchFractional(cmd, ')', &n, &d, 0, 1);
      *height = sizeCodeFrom(n, d);
    }
    number(cmd, ':', colon, 0);
    number(cmd, '{', brace_open, 0);
    number(cmd, '}', brace_close, 0);
    number(cmd, '[', brightness, 100);
    if (gamma) {
      GetSwitchFractional(cmd, ']', &n, &d, 1, 1);
      *gamma = n ? static_cast<float>(d) / static_cast<float>(n) : 1.0f;
    }
    if (flags) {
      const int32_t z = GetSwitchNum(cmd, 'Z', 0);
      const int32_t s = GetSwitchNum(cmd, ';', 0);
      *flags = flagsFrom(z, s);
    }
    uint32_t q = 256;
    if (colour_count) {
      const int32_t v = GetSwitchNum(cmd, 'Q', 256);
      q = (v <= 0 || v > 256) ? 256 : static_cast<uint32_t>(v);
      *colour_count = q;
    }
    if (first_colour) {
      int32_t v = GetSwitchNum(cmd, 'I', static_cast<int32_t>((256 - q) / 2));
      if (v < 0) v = 0;
      if (static_cast<uint32_t>(v) + q > 256) v = static_cast<int32_t>(256 - q);
      *first_colour = static_cast<uint32_t>(v);
    }
    if (analysis_scale) {
      const int32_t v = GetSwitchNum(cmd, 'U', 0x10000);
      *analysis_scale = (v <= 0 || v > 0x10000) ? 0x10000u : static_cast<uint32_t>(v);
    }
    if (input_numerator || input_denominator) {
      GetSwitchFractional(cmd, 'F', &n, &d, 0, 0);
      rateFrom(n, d, input_numerator, input_denominator);
    }
    if (output_numerator || output_denominator) {
      GetSwitchFractional(cmd, 'A', &n, &d, 0, 0);
      rateFrom(n, d, output_numerator, output_denominator);
    }
    number(cmd, '$', dollar, 0);
    if (t_value) *t_value = static_cast<uint8_t>(GetSwitchNum(cmd, 'T', 0));
    if (d_value) *d_value = static_cast<uint8_t>(GetSwitchNum(cmd, 'D', 0));
    if (palette_file) {
      std::string text(std::strlen(cmd) + 1, '\0');
      GetSwitchStr(cmd, '&', text.data(), "");
      std::strncpy(palette_file, text.c_str(), KAV_NAME_MAX - 1);
      palette_file[KAV_NAME_MAX - 1] = 0;
    }
  } catch (...) {
  }
}

}  // extern "C"
