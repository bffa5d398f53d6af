#include "platform/pe/pe_resources.h"

#include <cstring>

#include "kavutil/kavfile.h"
#include "platform/os_file.h"

namespace kav::pe {
namespace {

constexpr uint32_t kRtString = 6;
constexpr uint32_t kMaxSections = 96;       // the PE loader's own limit
constexpr uint32_t kMaxEntries = 4096;      // per resource directory
constexpr uint32_t kMaxBlockBytes = 1u << 20;

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeFile {
 public:
  explicit PeFile(const char *name) : f_(KAVFileOpen(4096, name, KAV_FILE_READ)) {
    if (f_) size_ = KAVFileSize(f_);
  }
  ~PeFile() { KAVFileClose(f_); }
  PeFile(const PeFile &) = delete;
  PeFile &operator=(const PeFile &) = delete;

  bool ok() const { return f_ != nullptr; }

  // Reads `n` bytes at `offset`; false when they are not all in the file.
  bool read(uint64_t offset, void *dest, uint32_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    KAVFileSetPos(f_, static_cast<uint32_t>(offset));
    return KAVFileGetNB(f_, dest, n) == n;
  }
  bool u16(uint64_t offset, uint32_t &v) {
    unsigned char b[2];
    if (!read(offset, b, 2)) return false;
    v = b[0] | (b[1] << 8);
    return true;
  }
  bool u32(uint64_t offset, uint32_t &v) {
    unsigned char b[4];
    if (!read(offset, b, 4)) return false;
    v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
  }

 private:
  KAVFile *f_;
  uint32_t size_ = 0;
};

std::optional<uint64_t> rvaToOffset(const std::vector<Section> &sections, uint32_t rva, uint32_t length) {
  for (const auto &s : sections) {
    const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
    const uint32_t into = rva - s.virtualAddress;
    if (into > s.rawSize || length > s.rawSize - into) return std::nullopt;  // not backed by file bytes
    return static_cast<uint64_t>(s.rawOffset) + into;
  }
  return std::nullopt;
}

// In the resource directory at `dir` (offsets relative to `base`), the entry
// with identifier `id`, or the first entry when id is absent. Returns the
// entry's OffsetToData word.
std::optional<uint32_t> findEntry(PeFile &pe, uint64_t base, uint32_t dir, std::optional<uint32_t> id) {
  uint32_t named, ids;
  if (!pe.u16(base + dir + 12, named) || !pe.u16(base + dir + 14, ids)) return std::nullopt;
  const uint32_t count = named + ids;
  if (count > kMaxEntries) return std::nullopt;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameWord, dataWord;
    const uint64_t at = base + dir + 16 + 8ull * i;
    if (!pe.u32(at, nameWord) || !pe.u32(at + 4, dataWord)) return std::nullopt;
    if (!id || ((nameWord & 0x80000000u) == 0 && nameWord == *id)) return dataWord;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<uint16_t>> readStringBlock1(const char *exeName) {
  PeFile pe(exeName);
  if (!pe.ok()) return std::nullopt;
  unsigned char mz[2];
  uint32_t peOffset, signature;
  if (!pe.read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return std::nullopt;
  if (!pe.u32(0x3C, peOffset) || !pe.u32(peOffset, signature) || signature != 0x00004550u) return std::nullopt;
  const uint64_t coff = static_cast<uint64_t>(peOffset) + 4;
  uint32_t sectionCount, optionalSize, magic;
  if (!pe.u16(coff + 2, sectionCount) || !pe.u16(coff + 16, optionalSize)) return std::nullopt;
  if (sectionCount == 0 || sectionCount > kMaxSections) return std::nullopt;
  const uint64_t opt = coff + 20;
  if (!pe.u16(opt, magic)) return std::nullopt;
  uint32_t dirCountAt, dirsAt;
  if (magic == 0x10B) {
    dirCountAt = 92;
    dirsAt = 96;
  } else if (magic == 0x20B) {
    dirCountAt = 108;
    dirsAt = 112;
  } else {
    return std::nullopt;
  }
  uint32_t dirCount, resourceRva, resourceSize;
  if (!pe.u32(opt + dirCountAt, dirCount) || dirCount < 3 || dirsAt + 3 * 8 > optionalSize) return std::nullopt;
  if (!pe.u32(opt + dirsAt + 16, resourceRva) || !pe.u32(opt + dirsAt + 20, resourceSize)) return std::nullopt;
  if (resourceRva == 0 || resourceSize == 0) return std::nullopt;

  std::vector<Section> sections;
  const uint64_t table = opt + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section s;
    const uint64_t at = table + 40ull * i;
    if (!pe.u32(at + 8, s.virtualSize) || !pe.u32(at + 12, s.virtualAddress) || !pe.u32(at + 16, s.rawSize) ||
        !pe.u32(at + 20, s.rawOffset))
      return std::nullopt;
    sections.push_back(s);
  }
  const auto base = rvaToOffset(sections, resourceRva, 16);
  if (!base) return std::nullopt;

  // Type RT_STRING, then name 1, then the first language: each level's
  // entry must point to a further directory, the last to a data entry.
  auto type = findEntry(pe, *base, 0, kRtString);
  if (!type || !(*type & 0x80000000u)) return std::nullopt;
  auto name = findEntry(pe, *base, *type & 0x7FFFFFFFu, 1u);
  if (!name || !(*name & 0x80000000u)) return std::nullopt;
  auto lang = findEntry(pe, *base, *name & 0x7FFFFFFFu, std::nullopt);
  if (!lang || (*lang & 0x80000000u)) return std::nullopt;
  uint32_t dataRva, dataSize;
  if (!pe.u32(*base + *lang, dataRva) || !pe.u32(*base + *lang + 4, dataSize)) return std::nullopt;
  if (dataSize > kMaxBlockBytes) return std::nullopt;
  const auto dataAt = rvaToOffset(sections, dataRva, dataSize);
  if (!dataAt) return std::nullopt;
  std::vector<unsigned char> bytes(dataSize);
  if (dataSize && !pe.read(*dataAt, bytes.data(), dataSize)) return std::nullopt;
  std::vector<uint16_t> chars(dataSize / 2);
  for (size_t i = 0; i < chars.size(); ++i) chars[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return chars;
}

std::optional<uint32_t> movieOffset(const std::vector<uint16_t> &block) {
  auto digit = [](uint16_t c) { return c >= '0' && c <= '9'; };
  for (size_t i = 0; i + 1 < block.size(); ++i) {
    if (block[i] != ':' || !digit(block[i + 1])) continue;
    uint64_t v = 0;
    for (size_t j = i + 1; j < block.size() && digit(block[j]); ++j) {
      v = v * 10 + (block[j] - '0');
      if (v > 0xFFFFFFFFu) return std::nullopt;  // no offset of a 32-bit file
    }
    return static_cast<uint32_t>(v);
  }
  return std::nullopt;
}

KavOsFile openEmbeddedMovie(const char *exeName, uint32_t *offset) {
  const auto block = readStringBlock1(exeName);
  if (!block) return KAV_INVALID_OS_FILE;
  const auto at = movieOffset(*block);
  if (!at) return KAV_INVALID_OS_FILE;
  const KavOsFile f = kav::os::openExisting(exeName, false);
  if (f == KAV_INVALID_OS_FILE) return f;
  if (!kav::os::seek(f, *at)) {
    kav::os::close(f);
    return KAV_INVALID_OS_FILE;
  }
  if (offset) *offset = *at;
  return f;
}

}  // namespace kav::pe
