#include "vorn/vorn_io.h"

#include <algorithm>
#include <cstring>

#include "platform/os_clock.h"
#include "platform/os_file.h"

namespace kav::vorn {
namespace {

// The file layer offers no "where am I" call, so the position of a caller's
// descriptor is found as its size minus the bytes that remain to be read;
// the descriptor is then put back. This costs one pass over the rest of the
// file, once per open by descriptor.
uint32_t timedRead(VornIo &io, void *destination, uint32_t count) {
  uint64_t t0 = kav::os::monotonicNanoseconds();
  size_t got = kav::os::read(io.file, destination, count);
  io.readTicks += kav::os::monotonicNanoseconds() - t0;
  io.bytesRead += got;
  ++io.fileReads;
  return uint32_t(got);
}

bool moveFile(VornIo &io, uint32_t position) {
  if (!kav::os::seek(io.file, io.streamStart + position)) return false;
  io.filePosition = position;
  return true;
}

void emptyRing(VornIo &io) {
  io.readPointer = io.writePointer = io.ringStart;
  io.held = 0;
  io.freeBytes = io.capacity;
  io.logicalPosition = io.filePosition;
}

// Drops `count` held bytes at the front of the ring (count <= held).
void dropFront(VornIo &io, uint32_t count) {
  uint32_t toEnd = uint32_t(io.ringEnd - io.readPointer);
  io.readPointer = count < toEnd ? io.readPointer + count : io.ringStart + (count - toEnd);
  io.held -= count;
  io.freeBytes += count;
  io.logicalPosition += count;
}

}  // namespace

int VornIoOpen(VornIo &io, const char *name, KavOsFile file, uint32_t flags) {
  std::memset(&io, 0, sizeof io);
  io.file = KAV_INVALID_OS_FILE;
  io.ops = VornIoOps{VornIoReadAt, VornIoRead, VornIoBufferSize, VornIoSetBuffer, VornIoFill, VornIoClose};
  if (flags & kVornIoByHandle) {
    if (file == KAV_INVALID_OS_FILE) return 0;
    if (!kav::os::currentPosition(file, io.streamStart)) return 0;
    io.file = file;
    io.callersFile = true;
  } else {
    if (!name) return 0;
    // Sharing modes have no meaning here: one attempt covers both.
    io.file = kav::os::openExisting(name, false);
    if (io.file == KAV_INVALID_OS_FILE) return 0;
    io.streamStart = 0;
  }
  io.open = true;
  return 1;
}

uint32_t VornIoReadAt(VornIo &io, uint32_t position, void *destination, uint32_t count) {
  if (!io.open) return 0;
  if (position != kVornIoCurrent && position != io.filePosition && !moveFile(io, position)) return 0;
  uint32_t got = timedRead(io, destination, count);
  io.filePosition += got;
  emptyRing(io);
  return got;
}

uint32_t VornIoRead(VornIo &io, uint32_t position, void *destination, uint32_t count) {
  if (!io.open || io.error) return 0;
  auto *out = static_cast<uint8_t *>(destination);
  if (position != kVornIoCurrent && position != io.logicalPosition) {
    if (position < io.logicalPosition || position > io.filePosition) {
      if (!moveFile(io, position)) {
        io.error = true;
        return 0;
      }
      emptyRing(io);
    } else {
      dropFront(io, position - io.logicalPosition);
    }
  }
  uint32_t delivered = 0;
  uint32_t fromRing = std::min(io.held, count);
  if (fromRing) {
    uint32_t toEnd = uint32_t(io.ringEnd - io.readPointer);
    uint32_t first = std::min(fromRing, toEnd);
    std::memcpy(out, io.readPointer, first);
    if (fromRing > first) std::memcpy(out + first, io.ringStart, fromRing - first);
    dropFront(io, fromRing);
    delivered = fromRing;
  }
  if (delivered < count) {
    uint32_t want = count - delivered;
    uint32_t got = timedRead(io, out + delivered, want);
    if (got < want) io.error = true;
    io.filePosition += got;
    io.logicalPosition += got;
    delivered += got;
  }
  uint32_t left = io.streamEnd > io.logicalPosition ? io.streamEnd - io.logicalPosition : 0;
  io.room = std::min(left, io.capacity);
  if (uint64_t(io.room) < uint64_t(io.held) + kVornIoBlock) io.room = io.held;
  return delivered;
}

uint32_t VornIoBufferSize(VornIo &, uint32_t request) {
  constexpr uint32_t kLargest = 0xFFFFFFFFu & ~(kVornIoBlock - 1);
  if (request > kLargest) return kLargest;
  return (request + kVornIoBlock - 1) & ~(kVornIoBlock - 1);
}

void VornIoSetBuffer(VornIo &io, uint8_t *ring, uint32_t size, uint32_t streamEnd, uint32_t rate) {
  io.capacity = ring ? size & ~(kVornIoBlock - 1) : 0;
  io.ringStart = io.capacity ? ring : nullptr;
  io.ringEnd = io.ringStart ? io.ringStart + io.capacity : nullptr;
  io.streamEnd = streamEnd;
  io.rate = rate;
  emptyRing(io);
  io.room = std::min(streamEnd > io.logicalPosition ? streamEnd - io.logicalPosition : 0u, io.capacity);
}

uint32_t VornIoFill(VornIo &io) {
  if (!io.open || io.error || io.freeBytes < kVornIoBlock) return 0;
  if (io.streamEnd < io.filePosition || io.streamEnd - io.filePosition < kVornIoBlock) {
    io.room = io.held;  // the last partial block is never read ahead
    return 0;
  }
  uint32_t got = timedRead(io, io.writePointer, kVornIoBlock);
  if (got < kVornIoBlock) {
    // The ring must hold exactly the bytes up to the file position, so a
    // partial block is not kept, and the file is put back to where the
    // record says it stands.
    io.error = true;
    moveFile(io, io.filePosition);
    return 0;
  }
  io.filePosition += got;
  io.writePointer += got;
  if (io.writePointer == io.ringEnd) io.writePointer = io.ringStart;
  io.held += got;
  io.freeBytes -= got;
  io.largestHeld = std::max(io.largestHeld, io.held);
  return got;
}

void VornIoClose(VornIo &io) {
  if (io.open && !io.callersFile) kav::os::close(io.file);
  io.open = false;
  io.file = KAV_INVALID_OS_FILE;
}

}  // namespace kav::vorn
