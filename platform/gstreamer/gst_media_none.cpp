// Built without GStreamer: no file is read through it, and every other
// source kind works as before.
#include "platform/gstreamer/gst_media.h"

namespace kav::gst {

class Reader {};

bool available() { return false; }

void disable() {}

std::string kindName(const Description &, bool) { return {}; }

Result open(const char *, bool, Description *, Reader **reader, std::string *message) {
  *reader = nullptr;
  message->clear();
  return Result::NotMedia;
}

const uint8_t *frame(Reader *, uint32_t) { return nullptr; }

uint32_t readSound(Reader *, uint8_t *, uint32_t) { return 0; }

bool rewind(Reader *) { return false; }

void close(Reader *r) { delete r; }

}  // namespace kav::gst
