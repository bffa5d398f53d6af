// The character classes shared by the trimming, token and switch functions.
#pragma once

namespace kav {

// A blank is any byte that, read as a signed byte, is at most 32: the control
// characters, the space, and every byte from 0x80 up. NUL is not a blank.
inline bool isBlank(char c) { return c != '\0' && static_cast<signed char>(c) <= 32; }

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace kav
