// Operating-system files: the few calls the buffered file and the name helpers
// need, each retried on interruption and looped over short transfers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kavutil/kavdefs.h"

namespace kav::os {

enum class Share { None, Read };

// Opens an existing regular file (not a directory) with the sequential-scan
// hint. Files of 4 GiB or more are refused: positions are 32-bit.
KavOsFile openExisting(const char *name, bool writable);
// As openExisting for reading, at any size: for a layer that keeps 64-bit
// positions of its own (the AVI reader).
KavOsFile openExistingAnySize(const char *name);
// Creates or empties a file for reading and writing. With Share::None an
// exclusive advisory lock keeps other creators out; the file is emptied only
// once the lock is held, so a file someone else is writing is never cut.
KavOsFile createAlways(const char *name, Share share);
void close(KavOsFile file);

// Bytes transferred; stops early only at end of file or on an error.
size_t read(KavOsFile file, void *dest, size_t count);
size_t write(KavOsFile file, const void *source, size_t count);
bool seek(KavOsFile file, uint64_t position);
// Where the descriptor stands; false when it has no position (a pipe).
bool currentPosition(KavOsFile file, uint64_t &position);
// Size in bytes, or -1.
int64_t size(KavOsFile file);
bool sync(KavOsFile file);
// Cuts the file (or extends it with zeros) to `size` bytes.
bool truncate(KavOsFile file, uint64_t size);

// Windows file times: 100-ns units since 1601-01-01 UTC.
bool lastWriteTime(KavOsFile file, uint64_t *fileTime);
bool setTimes(KavOsFile file, uint64_t fileTime);

// 0 done, 1 no such file, 2 other failure.
int erase(const char *name);
int rename(const char *existing, const char *newName);

}  // namespace kav::os
