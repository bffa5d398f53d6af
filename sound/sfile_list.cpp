// Lists and numbered patterns as sound sources: each entry is a sound input
// of its own, opened in the list's output format, one after another.
#include <algorithm>
#include <cstring>
#include <new>

#include "kavutil/kavbase.h"
#include "sound/sfile_internal.h"
#include "util/input_list.h"

namespace kav::sfile {
namespace {

constexpr const char *kTooDeep = "List files are nested too deeply.";

bool startWalk(SFile *h) {
  InputList *list = listOf(h);
  if (isListName(h->name)) return list->openListFile(h->name);
  list->openName(h->name);
  return true;
}

// Output bytes of an entry's range in the list's format.
uint32_t entryLength(const SFile *h, const SFile *e) {
  const uint64_t entryBps = uint64_t{e->srcRate} * e->srcFrameSize;
  if (!entryBps) return 0;
  const uint64_t bps = uint64_t{h->outRate} * h->outFrameSize;
  uint64_t bytes = uint64_t{e->length} * bps / entryBps;
  bytes -= bytes % h->outFrameSize;
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu - 3));
}

// Opens the list's next entry that opens; null when the list has ended.
SFile *openNextEntry(SFile *h, OpenContext &ctx) {
  Private *p = priv(h);
  InputList *list = listOf(h);
  for (;;) {
    const ListEntry e = list->next();
    if (e.name.empty()) return nullptr;
    if (e.name.size() >= KAV_NAME_MAX) continue;
    OpenContext inner{ctx.depth + 1, false};
    SFile *s = openSource({e.name.c_str(), p->listRate, p->listBits, p->listChannels, -e.firstFrame, -e.lastFrame,
                           p->listTrack, 0, 0, nullptr},
                          inner);
    if (inner.tooDeep) {
      ctx.tooDeep = true;
      closeSource(s);
      return nullptr;
    }
    if (s) return s;
  }
}

}  // namespace

bool openList(SFile *h, const OpenArgs &a, OpenContext &ctx) {
  if (ctx.depth >= kMaxListDepth) {
    ctx.tooDeep = true;
    return false;
  }
  void *mem = kavmalloc(sizeof(InputList));
  if (!mem) return false;
  h->list = new (mem) InputList();
  h->kind = SFILE_KIND_LIST;
  std::strcpy(h->kindName, "List");
  Private *p = priv(h);
  p->listRate = a.rate;
  p->listBits = a.bits;
  p->listChannels = a.channels;
  p->listTrack = a.track;
  if (!startWalk(h)) {
    report(a.callback, "Error opening the audio input file.");
    return false;
  }
  // Walk the whole list once: the first entry fixes the output format, and
  // the lengths add up to the list's.
  uint64_t total = 0;
  uint32_t entries = 0;
  while (SFile *e = openNextEntry(h, ctx)) {
    if (entries++ == 0) {
      p->listRate = h->outRate = e->outRate;
      p->listBits = h->outBits = e->outBits;
      p->listChannels = h->outChannels = e->outChannels;
      h->outFrameSize = e->outFrameSize;
      h->srcRate = h->outRate;
      h->srcBits = h->outBits;
      h->srcChannels = h->outChannels;
      h->srcFrameSize = h->outFrameSize;
    }
    total += entryLength(h, e);
    closeSource(e);
  }
  if (ctx.tooDeep) {
    if (ctx.depth == 0) report(a.callback, kTooDeep);
    return false;
  }
  if (entries == 0) {
    report(a.callback, "No files in the list file.");
    return false;
  }
  h->length = static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFFu - 3));
  h->length -= h->length % h->outFrameSize;
  return startWalk(h);
}

void resetList(SFile *h) {
  closeSource(h->entry);
  h->entry = nullptr;
  startWalk(h);
}

void closeList(SFile *h) {
  closeSource(h->entry);
  h->entry = nullptr;
  if (h->list) {
    listOf(h)->~InputList();
    kavfree(h->list);
    h->list = nullptr;
  }
}

uint32_t readList(SFile *h, uint8_t *out, uint32_t count) {
  uint32_t done = 0;
  while (done < count && !h->end) {
    if (!h->entry) {
      OpenContext ctx{priv(h)->depth, false};
      h->entry = openNextEntry(h, ctx);
      if (!h->entry) {
        h->end = 1;
        break;
      }
      // The list's own start skip is spent on whole entries first.
      const uint32_t length = entryLength(h, h->entry);
      if (h->startSkip >= length && h->startSkip > 0) {
        h->startSkip -= length;
        closeSource(h->entry);
        h->entry = nullptr;
        continue;
      }
    }
    uint32_t want = std::min(count - done, h->remaining + h->startSkip);
    want -= want % h->outFrameSize;
    if (want == 0) {
      h->end = 1;
      break;
    }
    if (h->startSkip) want = std::min(want, h->startSkip);
    const uint32_t got = SFileGet(h->entry, out + done, want);
    if (got == 0) {
      closeSource(h->entry);
      h->entry = nullptr;
      continue;
    }
    if (h->startSkip) {
      h->startSkip -= std::min(got, h->startSkip);  // dropped: the next read overwrites it
      continue;
    }
    const uint32_t keep = std::min(got, h->remaining);
    done += keep;
    h->remaining -= keep;
    if (h->remaining == 0) h->end = 1;
  }
  return done;
}

}  // namespace kav::sfile
