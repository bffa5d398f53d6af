// The frame reader: whole 4096-byte blocks at 4096-byte file boundaries,
// direct reads of up to 16384 bytes, and placing the reader on any frame.
#include <algorithm>
#include <cstring>

#include "platform/os_file.h"
#include "zanther/zanther_internal.h"

namespace kav::zanther {
namespace {

uint32_t plainRead(ZanthHandle *h, void *dest, uint32_t count) {
  return static_cast<uint32_t>(os::read(h->File, dest, count));
}

void emptyBlock(ZanthHandle *h) {
  h->BlockRead = h->BlockWrite = h->BlockStart;
  h->BlockHeld = 0;
}

}  // namespace

uint32_t ZanthRead(ZanthHandle *h, void *dest, uint32_t count) {
  if (!h || !dest || count == 0 || h->File == KAV_INVALID_OS_FILE) return 0;
  if (!h->BlockStart) return plainRead(h, dest, count);
  auto *out = static_cast<uint8_t *>(dest);
  uint32_t delivered = 0;
  while (count) {
    if (h->BlockHeld) {
      const uint32_t n = std::min(h->BlockHeld, count);
      std::memcpy(out + delivered, h->BlockRead, n);
      h->BlockRead += n;
      h->BlockHeld -= n;
      h->BlockFileOffset += n;
      delivered += n;
      count -= n;
      continue;
    }
    if (count > kBlockBytes) {
      // The buffer is empty, so the file sits at a block boundary.
      const uint32_t want = count <= kDirectReadMax ? (count & ~(kBlockBytes - 1)) : kDirectReadMax;
      const uint32_t got = plainRead(h, out + delivered, want);
      h->BlockFileOffset += got;
      delivered += got;
      count -= got;
      if (got < want) {
        h->ReadError = 1;
        break;
      }
      continue;
    }
    const uint32_t got = plainRead(h, h->BlockStart, kBlockBytes);
    h->BlockRead = h->BlockStart;
    h->BlockWrite = h->BlockStart + got;
    h->BlockHeld = got;
    if (got < count) {
      h->ReadError = 1;
      // Hand over what did arrive; the request ends short.
      std::memcpy(out + delivered, h->BlockRead, got);
      h->BlockRead += got;
      h->BlockHeld = 0;
      h->BlockFileOffset += got;
      delivered += got;
      break;
    }
  }
  return delivered;
}

void ZanthLoadFrame(ZanthHandle *h) {
  if (!h || h->CurrentFrame >= frameTableEntries(h)) return;
  const uint32_t bytes = frameBytes(h, h->CurrentFrame);
  h->CurrentFrameSize = bytes;
  h->LoadedFrame = h->CurrentFrame;
  if (wholeFileLoaded(h)) return;
  // bytes <= largest entry, so the frame and its slack fit the buffer.
  const uint32_t got = ZanthRead(h, h->FrameBuffer, bytes);
  std::memset(h->FrameBuffer + got, 0, bytes - got + kFrameSlackBytes);
  h->FrameData = h->FrameBuffer;
}

void ZanthPosition(ZanthHandle *h) {
  if (!h) return;
  if (h->CurrentFrame >= frameTableEntries(h)) h->CurrentFrame = 0;
  if (h->CurrentFrame == 0) {
    std::memset(h->Palette, 0, sizeof h->Palette);
    h->PaletteTail = 0;
  }
  uint64_t before = 0;
  for (uint32_t i = 0; i < h->CurrentFrame; ++i) before += frameBytes(h, i);
  // Open checked that all frames lie inside the file, below 4 GiB.
  const auto target = static_cast<uint32_t>(h->FrameZeroOffset + before);

  if (wholeFileLoaded(h)) {
    h->FrameData = h->FrameBuffer + before;
    ZanthLoadFrame(h);
    return;
  }
  if (target >= h->BlockFileOffset && target - h->BlockFileOffset <= h->BlockHeld) {
    const uint32_t skip = target - h->BlockFileOffset;
    h->BlockRead += skip;
    h->BlockHeld -= skip;
    h->BlockFileOffset = target;
  } else {
    emptyBlock(h);
    os::seek(h->File, target);
    h->BlockFileOffset = target;
    if (const uint32_t part = target % kBlockBytes) {
      // Near the end of the file this may come back short; only a frame
      // read that falls short is an error.
      const uint32_t got = plainRead(h, h->BlockStart, kBlockBytes - part);
      h->BlockWrite = h->BlockStart + got;
      h->BlockHeld = got;
    }
  }
  ZanthLoadFrame(h);
}

}  // namespace kav::zanther
