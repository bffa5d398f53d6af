// Rationals, frame periods and number formatting.
#include <climits>
#include <cstring>

#include "kavutil/kavbase.h"
#include "util/blank.h"

using kav::isDigit;

namespace {

// One unsigned decimal with an optional fraction, accumulated in 32 bits as
// the format defines (wrapping beyond that range rather than overflowing).
const char *parseDecimal(const char *p, uint32_t &num, uint32_t &den) {
  num = 0;
  den = 1;
  while (isDigit(*p)) num = num * 10u + static_cast<uint32_t>(*p++ - '0');
  if (*p == '.') {
    ++p;
    while (isDigit(*p)) {
      num = num * 10u + static_cast<uint32_t>(*p++ - '0');
      den *= 10u;
    }
  }
  GCDNums(&num, &den);
  return p;
}

}  // namespace

extern "C" {

KAV_EXPORT void KAVAPI GCDNums(uint32_t *a, uint32_t *b) {
  if (!a || !b || *a == 0 || *b == 0) return;
  for (;;) {
    uint32_t x = *a > *b ? *a : *b;
    uint32_t y = *a > *b ? *b : *a;
    while (y) {
      uint32_t r = x % y;
      x = y;
      y = r;
    }
    if (x <= 1) return;
    *a /= x;
    *b /= x;
  }
}

KAV_EXPORT const char *KAVAPI atofr(const char *text, int32_t *numerator, int32_t *denominator) {
  uint32_t num = 0, den = 1;
  const char *p = text ? text : "";
  if (isDigit(*p) || *p == '.' || *p == '-') {
    const bool negative = *p == '-';
    if (negative) ++p;
    p = parseDecimal(p, num, den);
    if (*p == ';') {
      ++p;
      if (isDigit(*p)) {
        uint32_t dn, dd;
        p = parseDecimal(p, dn, dd);
        // (num/den) / (dn/dd)
        num *= dd;
        den *= dn;
        GCDNums(&num, &den);
      }
    }
    if (negative) num = 0u - num;
  }
  if (den == 0) den = 1;
  if (numerator) *numerator = static_cast<int32_t>(num);
  if (denominator) *denominator = static_cast<int32_t>(den);
  return p;
}

KAV_EXPORT char *KAVAPI u32toa(char *dest, int32_t value) {
  if (!dest) return nullptr;
  char digits[12];
  int n = 0;
  uint32_t v = static_cast<uint32_t>(value);
  if (value < 0) {
    *dest++ = '-';
    v = 0u - v;
  }
  do {
    digits[n++] = static_cast<char>('0' + v % 10u);
    v /= 10u;
  } while (v);
  while (n) *dest++ = digits[--n];
  *dest = '\0';
  return dest;
}

KAV_EXPORT int32_t KAVAPI atou32(const char *text) {
  if (!text) return 0;
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulated modulo 2^32, as the 32-bit conversion it stands for.
  uint32_t v = 0;
  while (isDigit(*p)) v = v * 10u + static_cast<uint32_t>(*p++ - '0');
  return static_cast<int32_t>(negative ? 0u - v : v);
}

KAV_EXPORT void KAVAPI CommaNum(char *dest, uint32_t value) {
  if (!dest) return;
  int digits = 1;
  for (uint32_t v = value; v >= 10u; v /= 10u) ++digits;
  int len = digits + (digits - 1) / 3;
  dest[len] = '\0';
  int inGroup = 0;
  uint32_t v = value;
  for (int i = len - 1; i >= 0; --i) {
    if (inGroup == 3) {
      dest[i] = ',';
      inGroup = 0;
      continue;
    }
    dest[i] = static_cast<char>('0' + v % 10u);
    v /= 10u;
    ++inGroup;
  }
}

KAV_EXPORT int32_t KAVAPI MakeFrameRate(int32_t rate) {
  int64_t period;
  if (rate == 0) return 0;
  if (rate > 0)
    period = 100000 / rate;
  else if (rate >= -1500)
    period = -static_cast<int64_t>(rate) * 100;
  else
    period = -static_cast<int64_t>(rate);
  if (period > INT32_MAX) period = INT32_MAX;  // only -2^31 gets here
  if (period != 0 && period < 5) period = 5;
  return static_cast<int32_t>(period);
}

}  // extern "C"
