// The Vorn reader's file layer: the file (by name or a caller's descriptor
// with its stream start), a read-ahead ring filled in whole 4096-byte blocks,
// and buffered frame reads that take what the ring holds and read the rest
// straight into the destination. Used on one thread only.
#pragma once

#include <cstdint>

#include "kavutil/kavdefs.h"

namespace kav::vorn {

constexpr uint32_t kVornIoBlock = 4096;
constexpr uint32_t kVornIoByHandle = 0x800000;  // open flag: the source is a descriptor
constexpr uint32_t kVornIoCurrent = 0xFFFFFFFFu;  // position: wherever the file is

struct VornIo;

// The six operations, in their fixed order.
struct VornIoOps {
  uint32_t (*readAt)(VornIo &io, uint32_t position, void *destination, uint32_t count);
  uint32_t (*read)(VornIo &io, uint32_t position, void *destination, uint32_t count);
  uint32_t (*bufferSize)(VornIo &io, uint32_t request);
  void (*setBuffer)(VornIo &io, uint8_t *ring, uint32_t size, uint32_t streamEnd, uint32_t rate);
  uint32_t (*fill)(VornIo &io);
  void (*close)(VornIo &io);
};

struct VornIo {
  VornIoOps ops;
  KavOsFile file;
  bool callersFile;      // came by descriptor: never closed here
  bool open;
  uint64_t streamStart;  // file offset of stream offset 0
  uint32_t streamEnd;    // stream size field + 8
  // Invariant: the ring holds exactly the stream bytes from logicalPosition
  // up to filePosition.
  uint32_t filePosition;     // stream offset of the next byte the file delivers
  uint32_t logicalPosition;  // stream offset of the next byte the reader takes
  uint8_t *ringStart;
  uint8_t *ringEnd;
  uint32_t capacity;  // a multiple of kVornIoBlock; 0: no ring
  uint8_t *readPointer;
  uint8_t *writePointer;  // always a whole number of blocks from ringStart
  uint32_t held;
  uint32_t freeBytes;
  uint32_t room;  // how much more the ring could usefully take
  uint32_t rate;  // byte-rate throttle; 0 (none) for every caller
  bool error;     // a short read happened; never cleared
  // Statistics.
  uint64_t bytesRead;
  uint64_t readTicks;
  uint32_t largestHeld;
  uint32_t fileReads;  // calls that reached the file
};

// Clears the record and opens the name, or with kVornIoByHandle takes
// `file` at its current position as the stream start. 1 on success.
int VornIoOpen(VornIo &io, const char *name, KavOsFile file, uint32_t flags);

uint32_t VornIoReadAt(VornIo &io, uint32_t position, void *destination, uint32_t count);
uint32_t VornIoRead(VornIo &io, uint32_t position, void *destination, uint32_t count);
uint32_t VornIoBufferSize(VornIo &io, uint32_t request);
void VornIoSetBuffer(VornIo &io, uint8_t *ring, uint32_t size, uint32_t streamEnd, uint32_t rate);
uint32_t VornIoFill(VornIo &io);
void VornIoClose(VornIo &io);

}  // namespace kav::vorn
