// Reading a sound input: refilling the source buffer from the reader of the
// kind, taking source frames as 16-bit pairs, converting the rate and
// writing the output format.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/avi/avi_file.h"
#include "platform/gstreamer/gst_media.h"
#include "sound/sfile_internal.h"

namespace kav::sfile {

uint32_t dropSkip(SFile *h, uint8_t *at, uint32_t got) {
  if (h->startSkip == 0 || got == 0) return got;
  const uint32_t drop = std::min(h->startSkip, got);
  h->startSkip -= drop;
  std::memmove(at, at + drop, got - drop);
  return got - drop;
}

namespace {

// Reads more source bytes into [at, at + room); returns how many, 0 when the
// reader has nothing more.
uint32_t readMore(SFile *h, uint8_t *at, uint32_t room) {
  Private *p = priv(h);
  const uint32_t fs = h->srcFrameSize;
  for (;;) {
    if (p->sourceDone || h->remaining == 0) return 0;
    uint32_t got = 0;
    switch (h->kind) {
      case SFILE_KIND_FILE: {
        const uint32_t want = std::min(room, h->remaining);
        got = KAVFileGet(h->file, at, want);
        if (got < want) p->sourceDone = 1;  // a short read ends the sound
        break;
      }
      case SFILE_KIND_ZANTHER:
      case SFILE_KIND_VORN: {
        if (p->framesLeft == 0) {
          p->sourceDone = 1;
          return 0;
        }
        if (h->kind == SFILE_KIND_ZANTHER) {
          got = ZanthTrackData(h->zanther, at, h->trackMask);
          if (h->zanther->ReadError) p->sourceDone = 1;
          ZanthAdvance(h->zanther);
        } else {
          got = VornTrackRead(h->vornTrack, at);
          VornNextFrame(h->vorn);
        }
        --p->framesLeft;
        // The readers promise at most the buffer's size; anything beyond it
        // would not be ours to keep.
        got = std::min(got, room);
        got = dropSkip(h, at, got);
        break;
      }
      case SFILE_KIND_AVI: {
        const uint32_t frames = std::min(room, h->remaining) / fs;
        if (frames == 0) {
          p->sourceDone = 1;
          return 0;
        }
        int32_t bytes = 0, samples = 0;
        const int32_t rc = avi::streamRead(static_cast<avi::Stream *>(h->aviStream), static_cast<int32_t>(h->aviNext),
                                           static_cast<int32_t>(frames), at, static_cast<int32_t>(frames * fs), &bytes,
                                           &samples);
        if (rc != 0 || bytes <= 0 || samples <= 0) {
          p->sourceDone = 1;
          return 0;
        }
        got = std::min(static_cast<uint32_t>(bytes), frames * fs);
        h->aviNext += static_cast<uint32_t>(samples);
        break;
      }
      case SFILE_KIND_GSTREAMER: {
        // The reader delivers exactly the length it described; the start
        // skip comes off the front.
        got = kav::gst::readSound(
            p->gstreamer, at, static_cast<uint32_t>(std::min<uint64_t>(room, uint64_t{h->remaining} + h->startSkip)));
        if (got == 0) p->sourceDone = 1;
        got = dropSkip(h, at, got);
        break;
      }
      case SFILE_KIND_QUICKTIME: {
        got = QTSFileGet(h->quicktime, at, std::min(room, h->remaining));
        got = std::min(got, room);
        if (got == 0) p->sourceDone = 1;
        break;
      }
      default:
        p->sourceDone = 1;
        return 0;
    }
    got = std::min(got, h->remaining);
    h->remaining -= got;
    if (got > 0 || p->sourceDone) return got;
  }
}

// Makes at least one whole source frame available; false at the end.
bool fill(SFile *h) {
  const uint32_t fs = h->srcFrameSize;
  while (static_cast<uint32_t>(h->bufEnd - h->bufRead) < fs) {
    // Keep a partial frame, then read behind it.
    const uint32_t keep = static_cast<uint32_t>(h->bufEnd - h->bufRead);
    std::memmove(h->bufStart, h->bufRead, keep);
    h->bufRead = h->bufStart;
    h->bufEnd = h->bufStart + keep;
    const uint32_t got = readMore(h, h->bufEnd, h->bufSize);
    if (got == 0) return false;
    h->bufEnd += got;
  }
  return true;
}

inline bool takeFrame(SFile *h, int32_t &left, int32_t &right) {
  if (static_cast<uint32_t>(h->bufEnd - h->bufRead) < h->srcFrameSize && !fill(h)) return false;
  const uint8_t *s = h->bufRead;
  if (h->srcBits == 16) {
    left = static_cast<int16_t>(s[0] | s[1] << 8);
    right = h->srcChannels == 2 ? static_cast<int16_t>(s[2] | s[3] << 8) : left;
  } else {
    left = (s[0] - 128) * 256;
    right = h->srcChannels == 2 ? (s[1] - 128) * 256 : left;
  }
  h->bufRead += h->srcFrameSize;
  ++h->srcSamples;
  return true;
}

// Output position of source frame j when upsampling.
inline uint32_t spanPosition(const SFile *h, uint32_t j) {
  return static_cast<uint32_t>(uint64_t{j} * h->outRate / h->srcRate);
}

void startSpan(SFile *h, int32_t fromLeft, int32_t fromRight, uint32_t fromPos) {
  Private *p = priv(h);
  const int32_t n = static_cast<int32_t>(std::max<uint32_t>(1, h->upNext - fromPos));
  h->upLeft = fromLeft * 1024;
  h->upRight = fromRight * 1024;
  h->upStepLeft = (p->spanLeft - fromLeft) * 1024 / n;
  h->upStepRight = (p->spanRight - fromRight) * 1024 / n;
}

// One frame of a faster output: linear between the last two source frames.
bool upsample(SFile *h, uint32_t index, int32_t &left, int32_t &right) {
  Private *p = priv(h);
  if (index == 0) {
    int32_t l, r;
    if (!takeFrame(h, l, r)) return false;
    if (!takeFrame(h, p->spanLeft, p->spanRight)) {
      p->spanLeft = l;
      p->spanRight = r;
      p->exhausted = 1;
    }
    p->spanIndex = 1;
    h->upNext = spanPosition(h, 1);
    startSpan(h, l, r, 0);
  } else if (index >= h->upNext) {
    if (p->exhausted) return false;
    const int32_t l = p->spanLeft, r = p->spanRight;
    if (!takeFrame(h, p->spanLeft, p->spanRight)) p->exhausted = 1;  // hold the last frame for one span
    const uint32_t from = h->upNext;
    h->upNext = spanPosition(h, ++p->spanIndex);
    startSpan(h, l, r, from);
  }
  left = h->upLeft >> 10;
  right = h->upRight >> 10;
  h->upLeft += h->upStepLeft;
  h->upRight += h->upStepRight;
  return true;
}

// The next output frame as two 16-bit values; false at the end.
inline bool nextFrame(SFile *h, int32_t &left, int32_t &right) {
  const uint32_t k = ++h->outSamples;
  bool ok;
  if (h->outRate == h->srcRate) {
    ok = takeFrame(h, left, right);
  } else if (h->outRate < h->srcRate) {
    const uint64_t target = uint64_t{k} * h->srcRate / h->outRate;
    int64_t sumL = 0, sumR = 0, count = 0;
    do {
      int32_t l, r;
      if (!takeFrame(h, l, r)) break;
      sumL += l;
      sumR += r;
      ++count;
    } while (h->srcSamples < target);
    ok = count > 0;
    if (ok) {
      left = static_cast<int32_t>(sumL / count);
      right = static_cast<int32_t>(sumR / count);
    }
  } else {
    ok = upsample(h, k - 1, left, right);
  }
  if (!ok) --h->outSamples;
  return ok;
}

uint32_t readPcm(SFile *h, uint8_t *out, uint32_t count) {
  uint8_t *o = out;
  const uint32_t frames = count / h->outFrameSize;
  const bool mono = h->outChannels == 1, wide = h->outBits == 16;
  for (uint32_t i = 0; i < frames; ++i) {
    int32_t l, r;
    if (!nextFrame(h, l, r)) {
      h->end = 1;
      break;
    }
    if (mono) {
      const int32_t v = (l + r) / 2;
      if (wide) {
        o[0] = static_cast<uint8_t>(v);
        o[1] = static_cast<uint8_t>(v >> 8);
        o += 2;
      } else {
        *o++ = static_cast<uint8_t>(v / 256 - 128);
      }
    } else if (wide) {
      o[0] = static_cast<uint8_t>(l);
      o[1] = static_cast<uint8_t>(l >> 8);
      o[2] = static_cast<uint8_t>(r);
      o[3] = static_cast<uint8_t>(r >> 8);
      o += 4;
    } else {
      o[0] = static_cast<uint8_t>(l / 256 - 128);
      o[1] = static_cast<uint8_t>(r / 256 - 128);
      o += 2;
    }
  }
  return static_cast<uint32_t>(o - out);
}

void reportProgress(SFile *h) {
  Private *p = priv(h);
  // Progress counts what has been read from the source, buffered or not.
  const uint64_t done = h->length - std::min(h->remaining, h->length);
  const int percent = h->length ? static_cast<int>(done * 100u / h->length) : 100;
  char text[64];
  std::snprintf(text, sizeof text, "Processing sound data (%i%%)...", percent);
  h->callback(text, p->reported ? 0 : 1);
  p->reported = 1;
}

}  // namespace
}  // namespace kav::sfile

using namespace kav::sfile;

extern "C" {

KAV_EXPORT uint32_t KAVAPI SFileGet(SFile *h, void *buffer, uint32_t count) {
  if (!h || !buffer || !h->outFrameSize) return 0;
  try {
    if (h->callback) reportProgress(h);
    count -= count % h->outFrameSize;
    if (h->end || count == 0) return 0;
    auto *out = static_cast<uint8_t *>(buffer);
    if (h->kind == SFILE_KIND_LIST) return readList(h, out, count);
    return readPcm(h, out, count);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
