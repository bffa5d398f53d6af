// Opening and closing a Zanther file: header, frame tables, tree block and
// the choice between reading the file whole or in 4096-byte blocks.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "kavutil/kavbase.h"
#include "platform/os_file.h"
#include "zanther/zanther_internal.h"
#include "zanther/zanther_os.h"

namespace kav::zanther {
namespace {

// Not printed; it names the format revision this reader follows.
[[maybe_unused]] const char kIdentification[] = "*** Zanther Version: 4.0i***";

int32_t gDebugSetting = 0;
bool gDebugRead = false;

struct OpenState {
  ZanthHandle *h = nullptr;
  KavOsFile fd = KAV_INVALID_OS_FILE;
  bool byHandle = false;
  uint8_t *treeInput = nullptr;
};

void releaseHandle(ZanthHandle *h) {
  releaseSound(h);
  if (h->File != KAV_INVALID_OS_FILE && !(h->OpenFlags & ZANTH_OPEN_HANDLE)) os::close(h->File);
  kavfree(h->Target);
  kavfree(h->Trees);
  kavfree(h->FrameTypes);
  kavfree(h->FrameBuffer);
  kavfree(h->BlockStart);
  std::memset(h, 0, sizeof *h);
  kavfree(h);
}

ZanthHandle *fail(OpenState &s, const char *line) {
  if (line) debugLine(line);
  kavfree(s.treeInput);
  if (s.h) {
    s.h->File = KAV_INVALID_OS_FILE;  // closed below, and only when it is ours
    releaseHandle(s.h);
  }
  if (!s.byHandle) os::close(s.fd);
  return nullptr;
}

const char kDamaged[] = "Damaged Zanther file\r\n";

void parseHeader(ZanthHandle *h, const uint8_t *b) {
  std::memcpy(h->Magic, b, 4);
  uint32_t words[25];
  for (int i = 0; i < 25; ++i) words[i] = load32(b + 4 + 4 * i);
  h->Width = words[0];
  h->Height = words[1];
  h->FrameCount = words[2];
  h->FramePeriod = static_cast<int32_t>(words[3]);
  h->FileFlags = words[4];
  std::memcpy(h->TrackSpare, words + 5, sizeof h->TrackSpare);
  h->TreeBytes = words[12];
  h->MapTreeSize = words[13];
  h->ColourTreeSize = words[14];
  h->FullTreeSize = words[15];
  h->TypeTreeSize = words[16];
  std::memcpy(h->TrackInfo, words + 17, sizeof h->TrackInfo);
  h->Reserved = words[24];
}

ZanthHandle *openStream(OpenState &s, uint64_t streamStart, uint32_t flags, uint32_t bufferRequest) {
  const int64_t fileSize = os::size(s.fd);
  if (fileSize < 0) return fail(s, "Couldn't open the Zanther file\r\n");
  const uint64_t fileBytes = static_cast<uint64_t>(fileSize);
  const uint64_t streamBytes = fileBytes > streamStart ? fileBytes - streamStart : 0;

  s.h = static_cast<ZanthHandle *>(kavmalloc(sizeof(ZanthHandle)));
  if (!s.h) return fail(s, "Couldn't allocate Zanth structure\r\n");
  ZanthHandle *h = s.h;
  std::memset(h, 0, sizeof *h);
  h->LastReportedPalette = -1;
  h->File = s.fd;
  h->OpenFlags = flags;
  h->StreamStart = static_cast<uint32_t>(streamStart);
  h->LoadedFrame = kNoFrame;

  uint8_t header[kHeaderBytes] = {};
  os::read(s.fd, header, kHeaderBytes);
  if (std::memcmp(header, "ZNT2", 4) != 0 && std::memcmp(header, "ZNT4", 4) != 0)
    return fail(s, "Wasn't a Zanther file\r\n");
  parseHeader(h, header);
  h->Version = header[3] == '2' ? 2 : 4;
  h->StoredHeight = h->Height;

  // Every table and the tree block must lie inside the file before anything
  // is sized by them.
  const uint64_t entries = static_cast<uint64_t>(h->FrameCount) + (h->FileFlags & ZANTH_RING_FRAME);
  if (h->FrameCount == 0 || kHeaderBytes + 5 * entries > streamBytes) return fail(s, kDamaged);
  const uint64_t treeEnd = kHeaderBytes + 5 * entries + h->TreeBytes;
  if (treeEnd > streamBytes || streamStart + treeEnd > 0xFFFFFFFFu) return fail(s, kDamaged);
  const auto n = static_cast<uint32_t>(entries);
  const uint32_t modeBits = h->FileFlags & (ZANTH_INTERLACED | ZANTH_DOUBLED);
  const bool doubledHeight = modeBits == ZANTH_INTERLACED || modeBits == ZANTH_DOUBLED;
  if (doubledHeight && h->StoredHeight > 0x7FFFFFFFu) return fail(s, kDamaged);

  const uint32_t typeBytes = (n + 3) & ~3u;
  auto *tables = static_cast<uint8_t *>(kavmalloc(typeBytes + 4 * n + 4));
  if (!tables) return fail(s, "Couldn't allocate track table\r\n");
  std::memset(tables, 0, typeBytes + 4 * n + 4);
  h->FrameTypes = tables;
  h->FrameSizes = reinterpret_cast<uint32_t *>(tables + typeBytes);
  os::read(s.fd, h->FrameSizes, 4 * static_cast<size_t>(n));
  for (uint32_t i = 0; i < n; ++i) h->FrameSizes[i] = load32(reinterpret_cast<const uint8_t *>(h->FrameSizes + i));
  os::read(s.fd, h->FrameTypes, n);

  const uint32_t declared[kTreeCount] = {h->MapTreeSize, h->ColourTreeSize, h->FullTreeSize, h->TypeTreeSize};
  h->Trees = kavmalloc(treesAllocationBytes(declared));
  if (!h->Trees) return fail(s, nullptr);
  s.treeInput = static_cast<uint8_t *>(kavmalloc(std::max<uint32_t>(8192, ((h->TreeBytes + 4099) & ~3u))));
  if (!s.treeInput) return fail(s, "Couldn't allocate input buffer\r\n");
  const size_t treeGot = os::read(s.fd, s.treeInput, h->TreeBytes);
  if (!readTrees(treesOf(h), declared, s.treeInput, static_cast<uint32_t>(treeGot))) return fail(s, kDamaged);
  kavfree(s.treeInput);
  s.treeInput = nullptr;

  h->FrameZeroOffset = static_cast<uint32_t>(streamStart + treeEnd);
  uint64_t total = 0, cleared = 0;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < n; ++i) {
    total += h->FrameSizes[i];
    cleared += frameBytes(h, i);
    largest = std::max(largest, h->FrameSizes[i]);
  }
  // A size table pointing past the file is refused here, so that every
  // frame read later lies inside the file and no buffer is sized by a lie.
  if (h->FrameZeroOffset + cleared > fileBytes) return fail(s, kDamaged);

  const uint64_t request = std::max<uint64_t>(8192, (static_cast<uint64_t>(bufferRequest) + 4095) & ~uint64_t{4095});
  if (total * 4 / 5 > request) {
    if (request + kBlockBytes > 0xFFFFFFF0u) return fail(s, nullptr);
    h->BlockCapacity = static_cast<uint32_t>(request + kBlockBytes);
    h->BlockStart = static_cast<uint8_t *>(kavmalloc(h->BlockCapacity));
    if (!h->BlockStart) return fail(s, nullptr);
    h->BlockRead = h->BlockWrite = h->BlockStart;
    h->BlockWrapEnd = h->BlockStart + h->BlockCapacity;
    h->FrameBufferSize = largest + kFrameSlackBytes;
    h->FrameBuffer = static_cast<uint8_t *>(kavmalloc(h->FrameBufferSize));
    if (!h->FrameBuffer) return fail(s, "Couldn't allocate I/O buffer\r\n");
    std::memset(h->FrameBuffer, 0, h->FrameBufferSize);
    os::seek(s.fd, h->FrameZeroOffset);
    h->BlockFileOffset = h->FrameZeroOffset;
    h->BlockHeld = 0;
    if (const uint32_t part = h->FrameZeroOffset % kBlockBytes) {
      const size_t got = os::read(s.fd, h->BlockStart, kBlockBytes - part);
      h->BlockHeld = static_cast<uint32_t>(got);
      h->BlockWrite = h->BlockStart + got;
    }
    h->CurrentFrame = 0;
    ZanthLoadFrame(h);
  } else {
    // total is at most five fourths of the request here, far below 4 GiB.
    h->FrameBufferSize = static_cast<uint32_t>(total) + kFrameSlackBytes;
    h->FrameBuffer = static_cast<uint8_t *>(kavmalloc(h->FrameBufferSize));
    if (!h->FrameBuffer) return fail(s, "Couldn't allocate I/O buffer\r\n");
    std::memset(h->FrameBuffer, 0, h->FrameBufferSize);
    os::seek(s.fd, h->FrameZeroOffset);
    os::read(s.fd, h->FrameBuffer, static_cast<size_t>(cleared));
    if (!s.byHandle) os::close(s.fd);
    s.fd = KAV_INVALID_OS_FILE;
    h->File = KAV_INVALID_OS_FILE;
    h->FrameData = h->FrameBuffer;
    h->CurrentFrame = 0;
    ZanthLoadFrame(h);
  }

  ZanthPrepareFrame(h);

  // Interlaced or doubled: each stored line fills two display lines.
  if (doubledHeight) {
    h->DrawMode = modeBits == ZANTH_INTERLACED ? kDrawInterlaced : kDrawDoubled;
    h->Height = h->StoredHeight * 2;
  }


  char line[64];
  std::snprintf(line, sizeof line, "ZanthOpen returned: %" PRIuPTR "\r\n", reinterpret_cast<uintptr_t>(h));
  debugLine(line);
  return h;
}

}  // namespace

bool debugSwitchOn() {
  if (!gDebugRead) {
    gDebugSetting = osReadDebugSetting();
    gDebugRead = true;
  }
  return (gDebugSetting & 0xFF) == 1;
}

void debugLine(const char *text) {
  if (debugSwitchOn()) osDebugWrite(text);
}

void resetDebugSwitch() { gDebugRead = false; }

}  // namespace kav::zanther

using namespace kav::zanther;

extern "C" {

KAV_EXPORT ZanthHandle *KAVAPI ZanthOpen(const char *name, KavOsFile file, uint32_t flags, uint32_t bufferRequest) {
  try {
    debugSwitchOn();
    OpenState s;
    uint64_t start = 0;
    if (flags & ZANTH_OPEN_HANDLE) {
      s.byHandle = true;
      s.fd = file;
      char line[64];
      std::snprintf(line, sizeof line, "ZanthOpen - file handle: %d\r\n", file);
      debugLine(line);
      if (!osCurrentPosition(file, start)) return fail(s, "Couldn't open the Zanther file\r\n");
    } else {
      if (debugSwitchOn() && name) {
        osDebugWrite("ZanthOpen - file: ");
        osDebugWrite(name);
        osDebugWrite("\r\n");
      }
      if (!name || std::strlen(name) >= KAV_NAME_MAX) return fail(s, "Couldn't open the Zanther file\r\n");
      s.fd = kav::os::openExisting(name, false);
      if (s.fd == KAV_INVALID_OS_FILE) return fail(s, "Couldn't open the Zanther file\r\n");
    }
    return openStream(s, start, flags, bufferRequest);
  } catch (...) {
    return nullptr;
  }
}

KAV_EXPORT void KAVAPI ZanthClose(ZanthHandle *h) {
  if (!h) return;
  char line[64];
  std::snprintf(line, sizeof line, "ZanthClose: %" PRIuPTR "\r\n", reinterpret_cast<uintptr_t>(h));
  debugLine(line);
  releaseHandle(h);
}

}  // extern "C"
