// File-name helpers. Names are edited in place in buffers of KAV_NAME_MAX
// bytes; a result that would not fit is refused and the name left as it was.
#include <algorithm>
#include <cstring>
#include <string>

#include "kavutil/kavbase.h"
#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "platform/os_file.h"
#include "platform/os_path.h"
#include "util/path_normalize.h"

using kav::isSeparator;

namespace {

bool storeName(char *name, const std::string &value) {
  if (value.size() + 1 > KAV_NAME_MAX) return false;
  std::memcpy(name, value.c_str(), value.size() + 1);
  return true;
}

// The expanded form IsDirectory leaves behind: no trailing separator, except
// for the root itself.
std::string directoryForm(std::string path) {
  while (path.size() > 1 && isSeparator(path.back())) path.pop_back();
  return path;
}

}  // namespace

extern "C" {

KAV_EXPORT char *KAVAPI HasExtension(const char *name) {
  if (!name) return nullptr;
  for (size_t i = std::strlen(name); i > 0; --i) {
    const char c = name[i - 1];
    if (c == '.') return const_cast<char *>(name + i - 1);
    if (isSeparator(c)) return nullptr;
  }
  return nullptr;
}

KAV_EXPORT int32_t KAVAPI ExpandFileName(char *name) {
  if (!name) return 0;
  const std::string full = kav::absolutePath(name);
  if (full.empty()) return 0;
  return storeName(name, full) ? 1 : 0;
}

KAV_EXPORT int32_t KAVAPI IsDirectory(char *path, int32_t stay) {
  if (!path) return 0;
  std::string full = kav::absolutePath(path);
  std::string test = full.empty() ? std::string(path) : directoryForm(full);
  if (!full.empty()) storeName(path, test);
  if (!kav::os::isDirectory(test.c_str())) return 0;
  if (stay & 0xFF) return kav::os::changeDirectory(test.c_str()) ? 1 : 0;
  return 1;
}

KAV_EXPORT void KAVAPI GetFilePieces(char *path, int32_t drive, int32_t folder, int32_t name, int32_t extension) {
  (void)drive;  // POSIX names have no drive piece
  if (!path) return;
  Trim(path);
  if (!path[0]) return;
  ExpandFileName(path);
  std::string full = path;
  const bool isDir = IsDirectory(path, 0) != 0;
  if (isDir) {
    full = path;
    if (full.empty() || !isSeparator(full.back())) full += '/';
  }

  size_t slash = full.find_last_of("/\\");
  size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  std::string folderPiece = full.substr(0, fileStart);
  std::string file = full.substr(fileStart);
  size_t dot = file.rfind('.');
  std::string namePiece = dot == std::string::npos ? file : file.substr(0, dot);
  std::string extPiece = dot == std::string::npos ? std::string() : file.substr(dot);

  std::string out;
  if (folder) out += folderPiece;
  if (!isDir) {
    if (name) out += namePiece;
    if (extension) out += extPiece;
  }
  storeName(path, out);
}

KAV_EXPORT int32_t KAVAPI GetDrive(char *name) {
  if (name) ExpandFileName(name);
  return 0;
}

KAV_EXPORT char *KAVAPI GetTempName(char *dest, const char *folder, const char *prefix, uint32_t number) {
  if (!dest) return dest;
  char shortName[13];
  for (int i = 0; i < 12; ++i) shortName[i] = static_cast<char>('A' + (i < 8 ? (number >> (4 * i)) & 0xF : 0));
  if (prefix) {
    size_t n = std::strlen(prefix);
    if (n > 12) n = 12;
    std::memcpy(shortName, prefix, n);
  }
  shortName[8] = '.';
  shortName[12] = '\0';
  size_t f = folder ? std::strlen(folder) : 0;
  if (f) std::memmove(dest, folder, f);
  std::memcpy(dest + f, shortName, 13);
  return dest;
}

// A file past the 32-bit result (an OpenDML AVI) gives the largest value,
// not 0: the bit file would refuse to open it.
KAV_EXPORT uint32_t KAVAPI kavfilesize(const char *name) {
  if (!name) return 0;
  const KavOsFile f = kav::os::openExistingAnySize(name);
  if (f == KAV_INVALID_OS_FILE) return 0;
  const int64_t size = kav::os::size(f);
  kav::os::close(f);
  return size < 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(size, 0xFFFFFFFF));
}

KAV_EXPORT void KAVAPI LogString(const char *file, const char *text) {
  if (!file || !text) return;
  KAVFile *f = KAVFileOpen(1024, file, KAV_FILE_READWRITE);
  if (f) {
    KAVFileSetPos(f, KAVFileSize(f));
  } else {
    f = KAVFileCreate(1024, file);
    if (!f) return;
  }
  KAVFilePut(f, text, static_cast<uint32_t>(std::strlen(text)));
  KAVFileClose(f);
}

}  // extern "C"
