// The sound input's own state beside the public handle record, and the
// pieces its open, reading and list files share.
#pragma once

#include <cstdint>

#include "kavutil/sfile.h"

namespace kav {
class InputList;
}

namespace kav::gst {
class Reader;
}

namespace kav::sfile {

// Lists may name lists; a list that names itself (or a ring of lists) is
// refused once the nesting passes this depth.
constexpr int kMaxListDepth = 8;

constexpr uint32_t kFileBufferBytes = 0x4000;

// Carried down through nested list opens.
struct OpenContext {
  int depth = 0;
  bool tooDeep = false;  // a list nested too deeply: every level gives up
};

struct OpenArgs {
  const char *name;
  uint32_t rate, bits, channels;
  int32_t start, end;
  uint32_t track, rawFormat, rawOffset;
  KAVStatusCallback callback;
};

struct Private {
  uint32_t framesTotal = 0;   // movie frames in the track (Zanther, Vorn)
  uint32_t framesLeft = 0;    // movie frames still to read
  uint32_t reported = 0;      // the first progress message has gone out
  uint32_t sourceDone = 0;    // the reader has nothing more
  uint32_t allocBytes = 0;    // bytes of the source buffer's allocation
  // Upsampling: the source frame the current span runs to, its index, and
  // whether the source ran out (the last frame is then held for one span).
  int32_t spanLeft = 0, spanRight = 0;
  uint32_t spanIndex = 0;
  uint32_t exhausted = 0;
  // Lists: the arguments entries are opened with, and the nesting depth.
  uint32_t listRate = 0, listBits = 0, listChannels = 0, listTrack = 0;
  int depth = 0;
  // Sound decoded through GStreamer.
  kav::gst::Reader *gstreamer = nullptr;
};

inline Private *priv(SFile *h) { return static_cast<Private *>(h->priv); }
inline InputList *listOf(SFile *h) { return static_cast<InputList *>(h->list); }

// Drops what is left of the start skip from the front of `got` new bytes at
// `at`; returns the bytes that stay.
uint32_t dropSkip(SFile *h, uint8_t *at, uint32_t got);

// Reports a failure (code 2) when a callback is set.
void report(KAVStatusCallback callback, const char *text);

// Opens any source; null on failure (already reported when it should be).
SFile *openSource(const OpenArgs &args, OpenContext &ctx);
// Releases the handle and everything it owns; null is ignored.
void closeSource(SFile *h);

// Lists: fills in a handle whose name is a list or a pattern; false when
// the list has no sound.
bool openList(SFile *h, const OpenArgs &args, OpenContext &ctx);
void resetList(SFile *h);
void closeList(SFile *h);
uint32_t readList(SFile *h, uint8_t *out, uint32_t count);

// Sets the output format from the arguments and the source format.
void fixOutputFormat(SFile *h, uint32_t rate, uint32_t bits, uint32_t channels);

}  // namespace kav::sfile
