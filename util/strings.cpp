// In-place editing of NUL-terminated strings. Every function here only ever
// shortens the text it edits (AddBackslash adds its one separator).
#include <cstring>

#include "kavutil/kavbase.h"
#include "util/blank.h"

using kav::isBlank;

namespace {

void trimBoth(char *text) {
  if (!text) return;
  size_t start = 0;
  while (isBlank(text[start])) ++start;
  size_t len = std::strlen(text + start);
  std::memmove(text, text + start, len + 1);
  while (len > 0 && isBlank(text[len - 1])) --len;
  text[len] = '\0';
}

// Length of what GetAndRemoveFirst takes: the token, the blanks after it and
// one comma that follows them.
size_t takenLength(const char *text) {
  size_t i = 0;
  while (text[i] && !isBlank(text[i])) ++i;
  while (isBlank(text[i])) ++i;
  if (text[i] == ',') ++i;
  return i;
}

// Moves text[from..] to the start of text.
void dropPrefix(char *text, size_t from) { std::memmove(text, text + from, std::strlen(text + from) + 1); }

}  // namespace

extern "C" {

KAV_EXPORT void KAVAPI Trim(char *text) { trimBoth(text); }

KAV_EXPORT void KAVAPI TrimAscii(char *text) { trimBoth(text); }

KAV_EXPORT void KAVAPI TrimL(char *text) {
  if (!text) return;
  size_t start = 0;
  while (isBlank(text[start])) ++start;
  if (start) dropPrefix(text, start);
}

KAV_EXPORT void KAVAPI GetAndRemoveFirst(char *dest, char *text) {
  if (!dest) return;
  dest[0] = '\0';
  if (!text) return;
  TrimL(text);
  if (!text[0]) return;
  const size_t taken = takenLength(text);
  std::memcpy(dest, text, taken);
  dest[taken] = '\0';
  Trim(dest);
  dropPrefix(text, taken);
  TrimL(text);
}

KAV_EXPORT void KAVAPI GetAndRemoveFirstQuoted(char *dest, char *text) {
  if (!dest) return;
  dest[0] = '\0';
  if (!text) return;
  TrimL(text);
  if (!text[0]) return;
  if (text[0] == '"') {
    const char *close = std::strchr(text + 1, '"');
    if (close) {
      const size_t inner = static_cast<size_t>(close - (text + 1));
      std::memcpy(dest, text + 1, inner);
      dest[inner] = '\0';
      dropPrefix(text, inner + 2);
    } else {
      // An unclosed quote: the whole text, quote included, is the token.
      std::strcpy(dest, text);
      text[0] = '\0';
    }
  } else {
    const size_t taken = takenLength(text);
    std::memcpy(dest, text, taken);
    dest[taken] = '\0';
    dropPrefix(text, taken);
  }
  Trim(dest);
  Trim(text);
}

KAV_EXPORT void KAVAPI RemoveQuotes(char *text) {
  if (!text) return;
  Trim(text);
  const size_t len = std::strlen(text);
  if (len >= 2 && text[0] == '"' && text[len - 1] == '"') {
    text[len - 1] = '\0';
    dropPrefix(text, 1);
  }
}

KAV_EXPORT void KAVAPI AddBackslash(char *path) {
  if (!path) return;
  Trim(path);
  const size_t len = std::strlen(path);
  if (len == 0) return;
  // On POSIX both separators end a folder and there are no drive letters,
  // so ':' is an ordinary character; the separator added is '/'.
  const char last = path[len - 1];
  if (last == '/' || last == '\\') return;
  path[len] = '/';
  path[len + 1] = '\0';
}

KAV_EXPORT char *KAVAPI findchar(const char *text, int character) {
  if (!text) return nullptr;
  return const_cast<char *>(std::strchr(text, character));
}

}  // extern "C"
