#include "platform/os_profile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kav::os {
namespace {

// Like the Windows profile reader: optional sign, then decimal digits; the
// rest is ignored, and no digits give the default.
bool parseInteger(const char *text, int32_t &value) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  uint32_t v = 0;
  while (std::isdigit(static_cast<unsigned char>(*text))) v = v * 10 + static_cast<uint32_t>(*text++ - '0');
  value = static_cast<int32_t>(negative ? 0u - v : v);
  return true;
}

std::string trimmed(const std::string &s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool equalNoCase(const std::string &a, const char *b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool readIniValue(const std::string &path, const char *section, const char *key, int32_t &value) {
  std::FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  bool inSection = false, found = false;
  char line[1024];
  while (!found && std::fgets(line, sizeof line, f)) {
    std::string s = trimmed(line);
    if (s.empty() || s[0] == ';' || s[0] == '#') continue;
    if (s[0] == '[') {
      const size_t close = s.find(']');
      inSection = close != std::string::npos && equalNoCase(trimmed(s.substr(1, close - 1)), section);
      continue;
    }
    const size_t eq = s.find('=');
    if (!inSection || eq == std::string::npos || !equalNoCase(trimmed(s.substr(0, eq)), key)) continue;
    found = parseInteger(s.c_str() + eq + 1, value);
    if (!found) {
      value = 0;
      found = true;
    }
  }
  std::fclose(f);
  return found;
}

}  // namespace

int32_t profileInteger(const char *section, const char *key, const char *environmentName, int32_t fallback) {
  try {
    int32_t value = 0;
    if (const char *env = environmentName ? std::getenv(environmentName) : nullptr)
      return parseInteger(env, value) ? value : fallback;
    std::string dir;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
      dir = xdg;
    else if (const char *home = std::getenv("HOME"); home && *home)
      dir = std::string(home) + "/.config";
    else
      return fallback;
    return readIniValue(dir + "/kavutil.ini", section, key, value) ? value : fallback;
  } catch (...) {
    return fallback;
  }
}

void debugOutput(const char *text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace kav::os
