// Writing movies through GStreamer: appsrc (pictures) ! videoconvert to 4:2:0
// ! encoder ! queue ! muxer ! filesink, and a second appsrc for the sound
// through audioconvert and audioresample to its encoder and the same muxer.
// The muxer takes no stream once it has started, so the pipeline is built
// when the sound is declared or when the second picture arrives (the first
// waits). Every buffer carries the time its count gives; the pictures block
// when a few frames are queued, so memory stays bounded, while the sound
// never blocks (it is small, and a blocked sound push could wait on a muxer
// that waits for pictures we could not push).
#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/gstreamer/gst_encode.h"
#include "platform/gstreamer/gst_media.h"

namespace kav::gst {

namespace {

// The longest the muxer may take to finish the file after the last buffer:
// the encoders first work through the frames they hold back.
constexpr GstClockTime kFinishWait = 120 * GST_SECOND;

struct Choice {
  const char *element;
  const char *package;
};

bool installed(const char *element) {
  GstElementFactory *f = gst_element_factory_find(element);
  if (f) gst_object_unref(f);
  return f != nullptr;
}

// The first installed element of a list, in order of preference.
const Choice *firstInstalled(const std::vector<Choice> &choices) {
  for (const Choice &c : choices)
    if (installed(c.element)) return &c;
  return nullptr;
}

std::string missingText(const char *what, const std::vector<Choice> &choices) {
  std::string elements, packages;
  for (const Choice &c : choices) {
    elements += (elements.empty() ? "" : " or ") + std::string(c.element);
    if (packages.find(c.package) == std::string::npos) packages += (packages.empty() ? "" : " or ") + std::string(c.package);
  }
  return std::string("no GStreamer ") + what + " is installed (" + elements + ": Debian package " + packages + ")";
}

const std::vector<Choice> kH264 = {{"x264enc", "gstreamer1.0-plugins-ugly"}, {"openh264enc", "gstreamer1.0-plugins-bad"}};
const std::vector<Choice> kVp9 = {{"vp9enc", "gstreamer1.0-plugins-good"}};
const std::vector<Choice> kAac = {{"voaacenc", "gstreamer1.0-plugins-bad"}, {"lamemp3enc", "gstreamer1.0-plugins-good"}};
const std::vector<Choice> kOpus = {{"opusenc", "gstreamer1.0-plugins-base"}};
const std::vector<Choice> kFlac = {{"flacenc", "gstreamer1.0-plugins-good"}};

struct Plan {
  const Choice *video = nullptr, *sound = nullptr, *muxer = nullptr;
};

// The elements a container is written with, or the reason it cannot be.
bool plan(Container c, Plan *p, std::string *message) {
  static const std::vector<Choice> kBase = {{"appsrc", "gstreamer1.0-plugins-base"},
                                            {"videoconvert", "gstreamer1.0-plugins-base"},
                                            {"audioconvert", "gstreamer1.0-plugins-base"},
                                            {"audioresample", "gstreamer1.0-plugins-base"}};
  for (const Choice &b : kBase)
    if (!installed(b.element)) {
      *message = std::string("GStreamer's ") + b.element + " is not installed (Debian package " + b.package + ")";
      return false;
    }
  static const std::vector<Choice> kMp4Mux = {{"mp4mux", "gstreamer1.0-plugins-good"}};
  static const std::vector<Choice> kWebmMux = {{"webmmux", "gstreamer1.0-plugins-good"}};
  static const std::vector<Choice> kMkvMux = {{"matroskamux", "gstreamer1.0-plugins-good"}};
  static const std::vector<Choice> kMkvVideo = [] {
    std::vector<Choice> v = kH264;
    v.insert(v.end(), kVp9.begin(), kVp9.end());
    return v;
  }();
  struct Needs {
    const std::vector<Choice> &video, &sound, &muxer;
    const char *videoWhat, *soundWhat;
  };
  const Needs n = c == Container::Mp4    ? Needs{kH264, kAac, kMp4Mux, "H.264 encoder", "AAC or MP3 encoder"}
                  : c == Container::WebM ? Needs{kVp9, kOpus, kWebmMux, "VP9 encoder", "Opus encoder"}
                                         : Needs{kMkvVideo, kFlac, kMkvMux, "H.264 or VP9 encoder", "FLAC encoder"};
  // The choices live in static tables, so the pointers stay valid.
  p->muxer = firstInstalled(n.muxer);
  p->video = firstInstalled(n.video);
  p->sound = firstInstalled(n.sound);
  if (!p->muxer) *message = missingText("muxer", n.muxer);
  else if (!p->video) *message = missingText(n.videoWhat, n.video);
  else if (!p->sound) *message = missingText(n.soundWhat, n.sound);
  return p->muxer && p->video && p->sound;
}

// A 1..10000 quality onto a scale running from `worst` to `best`.
int scaled(int32_t quality, int worst, int best) {
  return worst + static_cast<int>((static_cast<int64_t>(best - worst) * quality + 5000) / 10000);
}

void setArg(GstElement *e, const char *name, const char *value) { gst_util_set_object_arg(G_OBJECT(e), name, value); }

std::string errorText(GstMessage *m) {
  GError *err = nullptr;
  gst_message_parse_error(m, &err, nullptr);
  std::string s = err && err->message ? err->message : "GStreamer failed";
  if (err) g_error_free(err);
  return s;
}

}  // namespace

class Encoder {
 public:
  EncodeSettings s;
  Plan p;
  std::string path;
  uint32_t codedWidth = 0, codedHeight = 0;  // the size coded, which may be larger
  GstElement *pipeline = nullptr, *videoSrc = nullptr, *soundSrc = nullptr, *sink = nullptr;
  GstBuffer *waiting = nullptr;  // the first picture, until the pipeline is built
  bool started = false, failed = false;
  std::string failure;
  uint64_t pictures = 0;
  // Sound as declared, and the sample frames given so far.
  uint32_t rate = 0, blockAlign = 0, encodedRate = 0, codecFrame = 0;
  uint32_t bits = 0;
  uint64_t samples = 0;

  ~Encoder() {
    if (waiting) gst_buffer_unref(waiting);
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
  }

  bool fail(const std::string &why, std::string *message) {
    if (!failed) {
      failed = true;
      failure = why;
    }
    *message = failure;
    return false;
  }

  // Reads the bus without waiting: an error ends the writing.
  bool healthy(std::string *message) {
    if (failed) return fail(failure, message);
    if (!pipeline) return true;
    GstBus *bus = gst_element_get_bus(pipeline);
    while (GstMessage *m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
      if (!failed) fail(errorText(m), message);
      gst_message_unref(m);
    }
    gst_object_unref(bus);
    if (failed) return fail(failure, message);
    return true;
  }

  GstElement *add(const char *factory) {
    GstElement *e = gst_element_factory_make(factory, nullptr);
    if (e) gst_bin_add(GST_BIN(pipeline), e);
    return e;
  }

  // A queue that holds whatever waits: it decouples an encoder from the
  // muxer, which waits for both streams.
  GstElement *queue() {
    GstElement *q = add("queue");
    if (q) g_object_set(q, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64{0}, nullptr);
    return q;
  }

  GstElement *caps(const std::string &text) {
    GstElement *f = add("capsfilter");
    GstCaps *c = gst_caps_from_string(text.c_str());
    if (f && c) g_object_set(f, "caps", c, nullptr);
    if (c) gst_caps_unref(c);
    return f;
  }

  void configureVideo(GstElement *enc) {
    const char *name = p.video->element;
    const int32_t q = s.quality;
    if (!std::strcmp(name, "x264enc")) {
      // Constant quality (CRF): 23 is x264's own default.
      setArg(enc, "pass", "qual");
      g_object_set(enc, "quantizer", static_cast<guint>(q ? scaled(q, 50, 10) : 23), nullptr);
    } else if (!std::strcmp(name, "openh264enc")) {
      // Bits per pixel from 0.02 to 0.5 (0.1 by default).
      const double bpp = q ? 0.02 + 0.48 * q / 10000.0 : 0.1;
      const double bits = bpp * codedWidth * codedHeight * s.rateNumerator / s.rateDenominator;
      setArg(enc, "rate-control", "bitrate");
      g_object_set(enc, "bitrate", static_cast<guint>(std::clamp(bits, 64000.0, 400e6)), nullptr);
    } else {  // vp9enc
      // Constrained quality: the level sets the quality, and the bit rate is
      // only a ceiling (1.5 bits a pixel, which a picture worth it may
      // reach). libvpx's realtime speed keeps VP9 usable on an ordinary
      // machine, and rows are coded on every core.
      const double ceiling = 1.5 * codedWidth * codedHeight * s.rateNumerator / s.rateDenominator;
      setArg(enc, "end-usage", "cq");
      g_object_set(enc, "cq-level", q ? scaled(q, 63, 10) : 31, "target-bitrate",
                   static_cast<int>(std::clamp(ceiling, 100000.0, 2e9)), "deadline", static_cast<gint64>(1),
                   "cpu-used", 5, "row-mt", TRUE, "threads",
                   static_cast<int>(std::clamp(g_get_num_processors(), 1u, 16u)), "keyframe-max-dist", 250, nullptr);
    }
  }

  bool build(bool withSound, std::string *message) {
    pipeline = gst_pipeline_new(nullptr);
    videoSrc = add("appsrc");
    GstElement *convert = add("videoconvert");
    GstElement *yuv = caps("video/x-raw,format=I420");
    GstElement *enc = add(p.video->element);
    GstElement *vq = queue();
    GstElement *mux = add(p.muxer->element);
    sink = add("filesink");
    if (!videoSrc || !convert || !yuv || !enc || !vq || !mux || !sink)
      return fail("a GStreamer element could not be made", message);
    char capsText[256];
    std::snprintf(capsText, sizeof capsText,
                  "video/x-raw,format=BGRx,width=%u,height=%u,framerate=%u/%u,pixel-aspect-ratio=1/1", codedWidth,
                  codedHeight, s.rateNumerator, s.rateDenominator);
    GstCaps *vc = gst_caps_from_string(capsText);
    g_object_set(videoSrc, "caps", vc, "format", GST_FORMAT_TIME, "block", TRUE, "max-bytes",
                 static_cast<guint64>(codedWidth) * codedHeight * 4 * 4, nullptr);
    gst_caps_unref(vc);
    configureVideo(enc);
    if (s.container == Container::Mp4) {
      // The index goes at the front, in room kept for the whole movie, and is
      // brought up to date every second: a file cut short by a failed write
      // or a killed process still plays up to its last second, and players
      // can start before the whole file has arrived. (Fragmented MP4 would
      // also survive, but GStreamer's own demuxer loses the last frames of
      // fragments holding B-frames.) Frames beyond the room kept still go
      // in; the index then moves to the end as usual.
      const uint64_t length = gst_util_uint64_scale(uint64_t{s.frameCount} * s.rateDenominator, GST_SECOND,
                                                    s.rateNumerator);
      g_object_set(mux, "reserved-max-duration", static_cast<guint64>(length + length / 8 + 2 * GST_SECOND),
                   "reserved-moov-update-period", static_cast<guint64>(GST_SECOND), nullptr);
    }
    g_object_set(sink, "location", path.c_str(), nullptr);
    // openh264enc gives a byte stream, which MP4 and Matroska take only as
    // length-prefixed units: h264parse (of the same plugin set) turns it.
    GstElement *parse = std::strcmp(p.video->element, "openh264enc") ? nullptr : add("h264parse");
    const bool linked = parse ? gst_element_link_many(videoSrc, convert, yuv, enc, parse, vq, mux, sink, nullptr)
                              : gst_element_link_many(videoSrc, convert, yuv, enc, vq, mux, sink, nullptr);
    if (!linked)
      return fail("the GStreamer " + std::string(p.video->element) + " would not take the pictures", message);

    if (withSound) {
      soundSrc = add("appsrc");
      GstElement *aconv = add("audioconvert");
      GstElement *resample = add("audioresample");
      std::string target = "audio/x-raw";
      const std::string codec = p.sound->element;
      if (codec != "flacenc") target += ",channels=[1,2]";
      if (encodedRate) target += ",rate=" + std::to_string(encodedRate);
      GstElement *shape = caps(target);
      GstElement *aenc = add(p.sound->element);
      GstElement *aq = queue();
      if (!soundSrc || !aconv || !resample || !shape || !aenc || !aq)
        return fail("a GStreamer element could not be made", message);
      // The samples go to the encoder as they are: audioconvert's dither
      // would add noise to 8-bit sound that FLAC would then keep.
      g_object_set(aconv, "dithering", 0, "noise-shaping", 0, nullptr);
      GstAudioInfo info;
      gst_audio_info_init(&info);
      const uint32_t channels = blockAlign / (bits / 8);
      const GstAudioFormat format = bits == 8    ? GST_AUDIO_FORMAT_U8
                                    : bits == 16 ? GST_AUDIO_FORMAT_S16LE
                                    : bits == 24 ? GST_AUDIO_FORMAT_S24LE
                                                 : GST_AUDIO_FORMAT_S32LE;
      gst_audio_info_set_format(&info, format, rate, channels, nullptr);
      GstCaps *ac = gst_audio_info_to_caps(&info);
      g_object_set(soundSrc, "caps", ac, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes",
                   static_cast<guint64>(0), nullptr);
      gst_caps_unref(ac);
      if (codec == "voaacenc") g_object_set(aenc, "bitrate", channels > 1 ? 160000 : 96000, nullptr);
      if (codec == "opusenc") g_object_set(aenc, "bitrate", channels > 1 ? 128000 : 64000, nullptr);
      if (!gst_element_link_many(soundSrc, aconv, resample, shape, aenc, aq, mux, nullptr))
        return fail("the GStreamer " + codec + " would not take the sound", message);
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      healthy(message);
      return fail("cannot start writing " + path, message);
    }
    started = true;
    return healthy(message);
  }

  // Hands a picture to the pipeline (which takes it over).
  bool pushPicture(GstBuffer *b, std::string *message) {
    if (gst_app_src_push_buffer(GST_APP_SRC(videoSrc), b) != GST_FLOW_OK)
      return healthy(message) && fail("the pictures were refused", message);
    return healthy(message);
  }

  bool start(bool withSound, std::string *message) {
    if (!build(withSound, message)) return false;
    GstBuffer *b = waiting;
    waiting = nullptr;
    return !b || pushPicture(b, message);
  }
};

Encoder *encoderCreate(const char *path, const EncodeSettings &s, std::string *message) {
  message->clear();
  if (!available()) {
    *message = "GStreamer does not start on this machine";
    return nullptr;
  }
  if (!path || !*path || !s.width || !s.height || !s.rateNumerator || !s.rateDenominator || s.width > 16384 ||
      s.height > 16384) {
    *message = "the movie's size or rate cannot be written";
    return nullptr;
  }
  Plan p;
  if (!plan(s.container, &p, message)) return nullptr;
  // The file is made now, so that a name that cannot be written is refused
  // before any work; the muxer writes it anew from the start.
  FILE *f = g_fopen(path, "wb");
  if (!f) {
    *message = std::string("cannot create ") + path + ": " + g_strerror(errno);
    return nullptr;
  }
  std::fclose(f);
  auto *e = new Encoder;
  e->s = s;
  e->p = p;
  e->path = path;
  // H.264 in 4:2:0 takes even sizes only, and the MP4 and WebM muxers
  // nothing under 16 pixels: the picture is widened to fit.
  const bool evenOnly = std::strcmp(p.video->element, "vp9enc") != 0;
  const uint32_t least = s.container == Container::Matroska ? 1 : 16;
  e->codedWidth = std::max(least, evenOnly ? (s.width + 1) & ~1u : s.width);
  e->codedHeight = std::max(least, evenOnly ? (s.height + 1) & ~1u : s.height);
  return e;
}

bool encoderAddSound(Encoder *e, uint32_t rate, uint32_t bits, uint32_t channels, std::string *message) {
  if (e->started || e->rate) return e->fail("the sound track must be declared before the second picture", message);
  if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels < 1 || channels > 8 || rate < 1000 || rate > 384000)
    return e->fail("the sound format cannot be written", message);
  e->rate = rate;
  e->bits = bits;
  e->blockAlign = channels * bits / 8;
  const std::string codec = e->p.sound->element;
  // AAC and MP3 code in whole frames and drop the last part-filled one, so
  // the end is padded (see encoderFinish). Sound below 44.1 kHz goes up to
  // it: a frame then lasts under a picture's time at any usual rate, and
  // the padding stays shorter than one picture.
  if (codec == "voaacenc" || codec == "lamemp3enc") {
    e->encodedRate = rate > 44100 ? 48000 : 44100;
    e->codecFrame = codec == "voaacenc" ? 1024 : 1152;
  } else if (codec == "opusenc") {
    e->encodedRate = 48000;
  }
  return e->start(true, message);
}

bool encoderPicture(Encoder *e, const uint8_t *bgrx, size_t pitch, std::string *message) {
  if (!e->healthy(message)) return false;
  const size_t row = size_t{e->codedWidth} * 4;
  GstBuffer *b = gst_buffer_new_allocate(nullptr, row * e->codedHeight, nullptr);
  GstMapInfo map;
  if (!b || !gst_buffer_map(b, &map, GST_MAP_WRITE)) {
    if (b) gst_buffer_unref(b);
    return e->fail("out of memory", message);
  }
  const size_t given = size_t{e->s.width} * 4;
  for (uint32_t y = 0; y < e->codedHeight; ++y) {
    // A widened picture repeats its last column and row.
    const uint8_t *src = bgrx + pitch * std::min(y, e->s.height - 1);
    uint8_t *dst = map.data + row * y;
    std::memcpy(dst, src, given);
    for (size_t x = given; x < row; x += 4) std::memcpy(dst + x, src + given - 4, 4);
  }
  gst_buffer_unmap(b, &map);
  const uint64_t n = e->pictures++;
  const uint64_t den = uint64_t{e->s.rateDenominator} * GST_SECOND;
  GST_BUFFER_PTS(b) = gst_util_uint64_scale(n, den, e->s.rateNumerator);
  GST_BUFFER_DURATION(b) = gst_util_uint64_scale(n + 1, den, e->s.rateNumerator) - GST_BUFFER_PTS(b);
  if (!e->started) {
    if (!e->waiting) {
      e->waiting = b;
      return true;
    }
    if (!e->start(false, message)) {
      gst_buffer_unref(b);
      return false;
    }
  }
  return e->pushPicture(b, message);
}

namespace {

bool pushSound(Encoder *e, const uint8_t *pcm, size_t frames, std::string *message) {
  GstBuffer *b = pcm ? gst_buffer_new_memdup(pcm, frames * e->blockAlign)
                     : gst_buffer_new_allocate(nullptr, frames * e->blockAlign, nullptr);
  if (!b) return e->fail("out of memory", message);
  if (!pcm) gst_buffer_memset(b, 0, e->bits == 8 ? 0x80 : 0, frames * e->blockAlign);
  GST_BUFFER_PTS(b) = gst_util_uint64_scale(e->samples, GST_SECOND, e->rate);
  e->samples += frames;
  GST_BUFFER_DURATION(b) = gst_util_uint64_scale(e->samples, GST_SECOND, e->rate) - GST_BUFFER_PTS(b);
  if (gst_app_src_push_buffer(GST_APP_SRC(e->soundSrc), b) != GST_FLOW_OK)
    return e->healthy(message) && e->fail("the sound was refused", message);
  return true;
}

}  // namespace

bool encoderSound(Encoder *e, const uint8_t *pcm, size_t bytes, std::string *message) {
  if (!e->soundSrc) return e->fail("no sound track was declared", message);
  if (!e->healthy(message)) return false;
  const size_t frames = bytes / e->blockAlign;
  if (frames == 0) return true;
  return pushSound(e, pcm, frames, message) && e->healthy(message);
}

uint64_t encoderBytes(Encoder *e) {
  gint64 at = 0;
  if (e->sink && e->started && gst_element_query_position(e->sink, GST_FORMAT_BYTES, &at) && at > 0)
    return static_cast<uint64_t>(at);
  return 0;
}

bool encoderFinish(Encoder *e, uint64_t *bytes, std::string *message) {
  message->clear();
  bool ok = true;
  if (!e->started && !e->failed) ok = e->start(false, message);
  if (ok && e->soundSrc && e->codecFrame && e->samples) {
    // A decoder drops the encoder's first (priming) frame and the encoder the
    // last part-filled one: silence up to the middle of the frame after the
    // one the sound ends in makes the decoded sound cover all that was put.
    const uint64_t coded = gst_util_uint64_scale_ceil(e->samples, e->encodedRate, e->rate);
    const uint64_t frame = e->codecFrame;
    const uint64_t target = ((coded + frame - 1) / frame + 1) * frame + frame / 2;
    const uint64_t pad = gst_util_uint64_scale_ceil(target - coded, e->rate, e->encodedRate);
    ok = pushSound(e, nullptr, pad, message);
  }
  // A pipeline that failed takes nothing more, and posts nothing more to
  // wait for: what reached the file stays as it is.
  if (e->failed) ok = false;
  if (ok && e->started) {
    gst_app_src_end_of_stream(GST_APP_SRC(e->videoSrc));
    if (e->soundSrc) gst_app_src_end_of_stream(GST_APP_SRC(e->soundSrc));
    GstBus *bus = gst_element_get_bus(e->pipeline);
    GstMessage *m = gst_bus_timed_pop_filtered(bus, kFinishWait,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (!m) ok = e->fail("the muxer did not finish " + e->path + " in time", message);
    else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) ok = e->fail(errorText(m), message);
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
  }
  if (!ok && message->empty()) *message = e->failure;
  if (e->pipeline) gst_element_set_state(e->pipeline, GST_STATE_NULL);
  GStatBuf st;
  *bytes = g_stat(e->path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  delete e;
  return ok;
}

}  // namespace kav::gst
