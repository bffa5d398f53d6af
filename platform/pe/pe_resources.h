// Movies inside .EXE files: the PE resource directory is read from the file
// itself (no loader), and string-table block 1 says where the movie starts.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kavutil/kavdefs.h"

namespace kav::pe {

// The 16-bit characters of string-table block 1 (type RT_STRING, name 1,
// first language), or nothing when the file has none or is no PE file.
std::optional<std::vector<uint16_t>> readStringBlock1(const char *exeName);

// The byte offset written after the first ':' that is followed by a digit.
std::optional<uint32_t> movieOffset(const std::vector<uint16_t> &block);

// Opens the .EXE positioned at its movie; KAV_INVALID_OS_FILE when it
// carries none. The offset is returned too, for a second try.
KavOsFile openEmbeddedMovie(const char *exeName, uint32_t *offset);

}  // namespace kav::pe
