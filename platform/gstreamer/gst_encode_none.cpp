// Built without GStreamer: no compressed movie is written, and the refusal
// says why.
#include "platform/gstreamer/gst_encode.h"

namespace kav::gst {

class Encoder {};

Encoder *encoderCreate(const char *, const EncodeSettings &, std::string *message) {
  *message = "this kavutil was built without GStreamer, which writes MP4, WebM and Matroska";
  return nullptr;
}

bool encoderAddSound(Encoder *, uint32_t, uint32_t, uint32_t, std::string *) { return false; }
bool encoderPicture(Encoder *, const uint8_t *, size_t, std::string *) { return false; }
bool encoderSound(Encoder *, const uint8_t *, size_t, std::string *) { return false; }
uint64_t encoderBytes(Encoder *) { return 0; }

bool encoderFinish(Encoder *e, uint64_t *bytes, std::string *) {
  delete e;
  *bytes = 0;
  return false;
}

}  // namespace kav::gst
