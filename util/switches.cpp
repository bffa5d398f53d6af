// The command-line switch parser shared by every tool: "/" and one letter,
// the value written directly after the letter. Each parser cuts out what it
// reads, so after all of them only the file names remain.
#include <cctype>
#include <climits>
#include <cstring>

#include "kavutil/kavbase.h"
#include "util/blank.h"

using kav::isBlank;
using kav::isDigit;

namespace {

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

// Callers pass the letter in upper case; a letter given as a (possibly
// negative) char compares by its byte value.
bool letterMatches(char typed, int letter) { return upper(typed) == (letter & 0xFF); }

// Finds the first "/X" whose letter matches and whose value passes the test;
// returns the address of the "/", or null. The test sees the text after the
// letter. A "/" at the very end has no letter and never matches.
template <typename ValueTest>
char *findSwitch(char *cmdline, int letter, ValueTest test) {
  if (!cmdline) return nullptr;
  for (char *p = std::strchr(cmdline, '/'); p; p = std::strchr(p + 1, '/')) {
    if (p[1] == '\0') return nullptr;
    if (letterMatches(p[1], letter) && test(p + 2)) return p;
  }
  return nullptr;
}

// Cuts [from, to) out of the string.
void cut(char *from, const char *to) { std::memmove(from, to, std::strlen(to) + 1); }

bool numberFollows(const char *v) { return isDigit(v[0]) || (v[0] == '-' && isDigit(v[1])); }

// End of a switch value as the cancelling switch skips it: through the
// closing quote of a quoted value, else to the first blank, "/" or NUL.
const char *valueEnd(const char *v) {
  if (*v == '"') {
    const char *close = std::strchr(v + 1, '"');
    return close ? close + 1 : v + std::strlen(v);
  }
  while (*v && !isBlank(*v) && *v != '/') ++v;
  return v;
}

}  // namespace

extern "C" {

KAV_EXPORT int32_t KAVAPI GetSwitch(char *cmdline, int letter) {
  // A flag stands alone: a letter or digit directly after it makes it some
  // other switch's value ("/L5" is not the flag /L).
  char *p = findSwitch(cmdline, letter, [](const char *v) { return static_cast<signed char>(*v) <= '/'; });
  if (!p) return 0;
  cut(p, p + 2);
  return 1;
}

KAV_EXPORT int32_t KAVAPI GetSwitchStr(char *cmdline, int letter, char *dest, const char *default_text) {
  char *p = findSwitch(cmdline, letter, [](const char *v) { return *v != '\0' && !isBlank(*v); });
  if (!p) {
    if (dest) {
      if (default_text)
        std::memmove(dest, default_text, std::strlen(default_text) + 1);
      else
        dest[0] = '\0';
    }
    return 0;
  }
  const char *v = p + 2;
  const char *start, *stop, *end;
  if (*v == '"') {
    start = v + 1;
    const char *close = std::strchr(start, '"');
    stop = close ? close : start + std::strlen(start);
    end = close ? close + 1 : stop;
  } else {
    start = v;
    stop = v;
    while (*stop && !isBlank(*stop) && *stop != '/') ++stop;
    end = stop;
  }
  const size_t len = static_cast<size_t>(stop - start);
  if (dest) {
    std::memmove(dest, start, len);
    dest[len] = '\0';
  }
  cut(p, end);
  return 1;
}

KAV_EXPORT int32_t KAVAPI GetSwitchNum(char *cmdline, int letter, int32_t default_value) {
  char *p = findSwitch(cmdline, letter, numberFollows);
  if (!p) return default_value;
  const char *v = p + 2;
  const bool negative = *v == '-';
  if (negative) ++v;
  // Digits beyond the 32-bit range saturate instead of wrapping.
  long long magnitude = 0;
  while (isDigit(*v)) {
    if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (*v - '0');
    ++v;
  }
  long long value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  cut(p, v);
  return static_cast<int32_t>(value);
}

KAV_EXPORT void KAVAPI GetSwitchFractional(char *cmdline, int letter, int32_t *numerator, int32_t *denominator,
                                           int32_t default_numerator, int32_t default_denominator) {
  char *p = findSwitch(cmdline, letter, numberFollows);
  int32_t num = default_numerator, den = default_denominator;
  if (p) {
    const char *end = atofr(p + 2, &num, &den);
    cut(p, end);
  }
  if (numerator) *numerator = num;
  if (denominator) *denominator = den;
}

KAV_EXPORT void KAVAPI RemoveMinusSwitches(char *cmdline) {
  if (!cmdline) return;
  char *scan = cmdline;
  for (;;) {
    char *m = std::strstr(scan, "/-");
    if (!m) return;
    if (m[2] == '\0') {
      *m = '\0';
      return;
    }
    const int x = upper(m[2]);
    // Remove every earlier switch with that letter, value and all. A value
    // is never allowed to run into the cancelling switch itself.
    for (char *p = std::strchr(cmdline, '/'); p && p < m;) {
      if (upper(p[1]) == x) {
        const char *end = valueEnd(p + 2);
        if (end > m) end = m;
        const size_t removed = static_cast<size_t>(end - p);
        cut(p, end);
        m -= removed;
        p = std::strchr(p, '/');
      } else {
        p = std::strchr(p + 1, '/');
      }
    }
    cut(m, m + 3);
    scan = m;
  }
}

}  // extern "C"
