#include "tools/open_failure.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavtool {
namespace {

uint32_t le16(const unsigned char *p) { return p[0] | p[1] << 8; }
uint32_t le32(const unsigned char *p) { return le16(p) | le16(p + 2) << 16; }

// A WAVE file's "fmt " chunk, when the first 4 KiB hold it: the sound input
// takes 8 and 16-bit integer PCM only.
std::string waveDetail(const unsigned char *b, size_t n) {
  for (size_t at = 12; at + 8 <= n;) {
    const uint32_t size = le32(b + at + 4);
    if (std::memcmp(b + at, "fmt ", 4) == 0) {
      if (size < 16 || at + 8 + 16 > n) return "";
      const unsigned char *f = b + at + 8;
      const uint32_t tag = le16(f), bits = le16(f + 14);
      const bool extensible = tag == 0xFFFE;
      if (tag != 1 && !extensible) return "WAVE with sound coded as format " + std::to_string(tag) + " is not supported";
      if (bits != 8 && bits != 16) return "WAVE with " + std::to_string(bits) + "-bit samples is not supported";
      return "";
    }
    if (size > n) return "";
    at += 8 + size + (size & 1);
  }
  return "";
}

// A TIFF's first picture, when its directory lies in the first 4 KiB: the
// graphics input refuses LZW compression.
std::string tiffDetail(const unsigned char *b, size_t n) {
  const bool little = b[0] == 'I';
  auto u16 = [&](size_t at) -> uint32_t { return little ? le16(b + at) : (b[at] << 8 | b[at + 1]); };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? le32(b + at) : (u16(at) << 16 | u16(at + 2));
  };
  if (n < 8) return "";
  const uint32_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return "";
  const uint32_t entries = u16(ifd);
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t at = ifd + 2 + size_t{12} * i;
    if (at + 12 > n) return "";
    if (u16(at) == 259 && u16(at + 2) == 3 && u16(at + 8) == 5) return "TIFF with LZW compression is not supported";
  }
  return "";
}

// What the first bytes say the file is; empty when they say nothing known.
std::string looksLike(const unsigned char *b, size_t n) {
  auto starts = [&](const char *magic, size_t len, size_t at = 0) {
    return n >= at + len && std::memcmp(b + at, magic, len) == 0;
  };
  if (starts("RIFF", 4) && starts("WAVE", 4, 8)) {
    const std::string detail = waveDetail(b, n);
    return detail.empty() ? "it looks like a WAVE file" : detail;
  }
  if (starts("RIFF", 4) && starts("AVI ", 4, 8)) return "it looks like an AVI movie";
  if (starts("II*\0", 4) || starts("MM\0*", 4)) {
    const std::string detail = tiffDetail(b, n);
    return detail.empty() ? "it looks like a TIFF picture" : detail;
  }
  if (starts("\x89PNG", 4)) return "it looks like a PNG picture";
  if (starts("\xFF\xD8\xFF", 3)) return "it looks like a JPEG picture";
  if (starts("GIF8", 4)) return "it looks like a GIF picture";
  if (starts("BM", 2)) return "it looks like a BMP picture";
  if (starts("ftyp", 4, 4) || starts("moov", 4, 4) || starts("mdat", 4, 4)) return "it looks like a QuickTime or MP4 movie";
  if (starts("\x1A\x45\xDF\xA3", 4)) return "it looks like a Matroska or WebM movie";
  if (starts("OggS", 4)) return "it looks like an Ogg file";
  return "";
}

bool isListOrSequence(const std::string &name) {
  if (name.find('?') != std::string::npos) return true;
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char &c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".lst";
}

}  // namespace

std::string whyNotOpened(const std::string &name, const std::string &libraryText) {
  if (isListOrSequence(name)) return libraryText.empty() ? "no reader recognised it" : libraryText;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::strerror(EISDIR);
  }
  unsigned char head[4096];
  const ssize_t n = ::read(fd, head, sizeof head);
  const int readErrno = errno;
  ::close(fd);
  if (n < 0) return std::strerror(readErrno);
  if (n == 0) return "the file is empty";
  const std::string kind = looksLike(head, static_cast<size_t>(n));
  if (kind.find("not supported") != std::string::npos) return kind;
  // A reader that took the file and then refused it knows best why ("no
  // decoder for H.264 is installed"); its text may start with the name.
  if (!libraryText.empty()) {
    const std::string prefix = name + ": ";
    return libraryText.rfind(prefix, 0) == 0 ? libraryText.substr(prefix.size()) : libraryText;
  }
  return "no reader recognised it" + (kind.empty() ? "" : " (" + kind + ")");
}

std::string outputFolderProblem(const std::string &name) {
  const size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return "";
  const std::string folder = slash == 0 ? "/" : name.substr(0, slash);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0)
    return errno == ENOENT ? "the folder " + folder + " does not exist" : folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (access(folder.c_str(), W_OK) != 0) return "the folder " + folder + " cannot be written to (" + std::strerror(errno) + ")";
  return "";
}

}  // namespace kavtool
