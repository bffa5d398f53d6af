// Reading movies and sound files through GStreamer: filesrc ! decodebin, the
// wanted stream converted into an appsink, every other stream left
// undecoded into a fakesink so that no unlinked pad stalls the demuxer. The
// same pipeline describes the file: decodebin tells the container and codecs
// as it plugs elements, and the codecs it finds no decoder for. We never run a main loop: every wait is a bounded
// pull or a bounded state change, and the bus is read for errors between.
#include <gst/app/gstappsink.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <numeric>
#include <vector>

#include "platform/gstreamer/gst_media.h"

namespace kav::gst {

namespace {

// The longest any single wait on a pipeline may take.
constexpr GstClockTime kWait = 10 * GST_SECOND;
// Pulls are cut into slices so that a pipeline error ends the wait at once.
constexpr GstClockTime kSlice = 50 * GST_MSECOND;

void quietLog(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

bool start() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    // GStreamer and its plugins report through GLib's log and their own
    // debug log; the library speaks only through its callbacks.
    g_log_set_default_handler(quietLog, nullptr);
    if (!gst_init_check(nullptr, nullptr, nullptr)) return;
    gst_debug_remove_log_function(gst_debug_log_default);
    gst_debug_set_active(FALSE);
    gst_debug_set_default_threshold(GST_LEVEL_NONE);
    ok = true;
  });
  return ok;
}

template <typename T>
struct Unref {
  void operator()(T *p) const {
    if (p) g_object_unref(p);
  }
};

std::string stripProfile(std::string s) {
  const size_t p = s.find(" (");
  if (p != std::string::npos) s.erase(p);
  return s;
}

bool named(const GstStructure *s, const char *name) { return gst_structure_has_name(s, name); }

// Short names of the codecs people know; GStreamer's own description otherwise.
std::string codecName(const GstCaps *caps) {
  if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return "an unknown codec";
  const GstStructure *s = gst_caps_get_structure(caps, 0);
  static const struct {
    const char *caps, *name;
  } names[] = {{"video/x-h264", "H.264"},   {"video/x-h265", "H.265"},     {"video/x-vp8", "VP8"},
               {"video/x-vp9", "VP9"},      {"video/x-av1", "AV1"},        {"video/x-theora", "Theora"},
               {"video/x-dv", "DV"},        {"image/jpeg", "Motion JPEG"}, {"image/png", "PNG"},
               {"audio/x-vorbis", "Vorbis"}, {"audio/x-opus", "Opus"},     {"audio/x-flac", "FLAC"},
               {"audio/x-ac3", "AC-3"},     {"audio/x-raw", "PCM"},        {"video/x-raw", "uncompressed video"}};
  for (const auto &n : names)
    if (named(s, n.caps)) return n.name;
  if (named(s, "audio/mpeg")) {
    int version = 0, layer = 0;
    gst_structure_get_int(s, "mpegversion", &version);
    gst_structure_get_int(s, "layer", &layer);
    if (version == 1 && layer == 3) return "MP3";
    if (version == 1) return "MPEG-1 Layer " + std::to_string(layer ? layer : 2);
    return "AAC";
  }
  if (named(s, "video/mpeg")) {
    int version = 0;
    gst_structure_get_int(s, "mpegversion", &version);
    if (version == 4) return "MPEG-4 Video";
    return "MPEG-" + std::to_string(version ? version : 1) + " Video";
  }
  gchar *d = gst_pb_utils_get_codec_description(caps);
  std::string r = d ? stripProfile(d) : gst_structure_get_name(s);
  g_free(d);
  return r;
}

// The Debian package whose plugins decode the codec, where one of the plugin
// sets we use has a decoder for it.
const char *decoderPackage(const GstCaps *caps) {
  if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return nullptr;
  const GstStructure *s = gst_caps_get_structure(caps, 0);
  static const struct {
    const char *caps, *package;
  } packages[] = {{"video/x-h264", "gstreamer1.0-plugins-bad"},  {"video/x-h265", "gstreamer1.0-plugins-bad"},
                  {"video/x-av1", "gstreamer1.0-plugins-bad"},   {"video/x-vp8", "gstreamer1.0-plugins-good"},
                  {"video/x-vp9", "gstreamer1.0-plugins-good"},  {"video/x-dv", "gstreamer1.0-plugins-good"},
                  {"image/jpeg", "gstreamer1.0-plugins-good"},   {"image/png", "gstreamer1.0-plugins-good"},
                  {"audio/x-flac", "gstreamer1.0-plugins-good"}, {"video/x-theora", "gstreamer1.0-plugins-base"},
                  {"audio/x-vorbis", "gstreamer1.0-plugins-base"}, {"audio/x-opus", "gstreamer1.0-plugins-base"},
                  {"audio/x-ac3", "gstreamer1.0-plugins-ugly"}};
  for (const auto &p : packages)
    if (named(s, p.caps)) return p.package;
  if (named(s, "audio/mpeg")) {
    int version = 0;
    gst_structure_get_int(s, "mpegversion", &version);
    return version == 1 ? "gstreamer1.0-plugins-good" : "gstreamer1.0-plugins-bad";
  }
  if (named(s, "video/mpeg")) {
    int version = 0;
    gst_structure_get_int(s, "mpegversion", &version);
    if (version == 1 || version == 2) return "gstreamer1.0-plugins-ugly";
  }
  return nullptr;
}

std::string containerName(const GstCaps *caps) {
  if (!caps || gst_caps_is_empty(caps)) return {};
  const GstStructure *s = gst_caps_get_structure(caps, 0);
  if (named(s, "video/quicktime")) {
    const char *variant = gst_structure_get_string(s, "variant");
    return variant && std::strcmp(variant, "apple") == 0 ? "QuickTime" : "MP4";
  }
  static const struct {
    const char *caps, *name;
  } names[] = {{"video/x-matroska", "Matroska"}, {"audio/x-matroska", "Matroska"}, {"video/webm", "WebM"},
               {"audio/webm", "WebM"},           {"application/ogg", "Ogg"},       {"video/ogg", "Ogg"},
               {"audio/ogg", "Ogg"},             {"video/x-msvideo", "AVI"},       {"video/mpegts", "MPEG-TS"},
               {"video/x-flv", "FLV"},           {"video/x-ms-asf", "ASF"},        {"audio/x-m4a", "MP4"},
               {"video/mpeg", "MPEG-PS"},        {"video/x-dv", "DV"}};
  for (const auto &n : names)
    if (named(s, n.caps)) return n.name;
  gchar *d = gst_pb_utils_get_codec_description(caps);
  std::string r = d ? stripProfile(d) : gst_structure_get_name(s);
  g_free(d);
  return r;
}

// Elements decodebin may never plug: emulators and players of tracker, chip
// and MIDI music run the file's own data as a program or a score; they are no
// movie or sound decoder a converter wants, and libgme crashes on damaged
// input, which would take the whole converter down with it.
gint skipEmulators(GstElement *, GstPad *, GstCaps *, GstElementFactory *factory, gpointer) {
  static const char *const refused[] = {"gmedec", "siddec", "modplug", "openmptdec", "wildmididec",
                                        "fluiddec", "xmpdec", "timidity", "spcdec", "nsfdec"};
  const char *name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
  for (const char *r : refused)
    if (name && std::strcmp(name, r) == 0) return 2;  // GST_AUTOPLUG_SELECT_SKIP
  return 0;                                            // GST_AUTOPLUG_SELECT_TRY
}

// The music those elements would play, turned away before a pipeline is built.
bool isEmulatedMusic(const char *type) {
  static const char *const types[] = {"audio/x-gbs", "audio/x-gym", "audio/x-hes", "audio/x-kss", "audio/x-nsf",
                                      "audio/x-sap", "audio/x-spc", "audio/x-vgm", "audio/x-ay",  "audio/x-sid",
                                      "audio/x-mod", "audio/x-xm",  "audio/x-it",  "audio/x-s3m", "audio/midi",
                                      "audio/x-midi-event", "audio/x-gme"};
  for (const char *t : types)
    if (std::strcmp(type, t) == 0) return true;
  return false;
}

// Types that hold other streams: decodebin must go on into them whatever
// stream is wanted.
bool isContainer(const GstStructure *s) {
  gboolean system = FALSE;
  if (gst_structure_get_boolean(s, "systemstream", &system) && system) return true;
  static const char *const containers[] = {"video/quicktime", "video/x-matroska", "audio/x-matroska",
                                           "video/webm",      "audio/webm",       "video/ogg",
                                           "audio/ogg",       "video/x-msvideo",  "video/mpegts",
                                           "video/x-flv",     "video/x-ms-asf",   "audio/x-m4a"};
  for (const char *c : containers)
    if (named(s, c)) return true;
  return false;
}

uint64_t scaleRound(uint64_t v, uint64_t num, uint64_t den) {
  return den ? gst_util_uint64_scale_round(v, num, den) : 0;
}

// --- Missing decoders ------------------------------------------------------

struct Missing {
  std::string codec;
  const char *package = nullptr;
  bool video = false;
};

Missing missingFor(const GstCaps *caps) {
  Missing m;
  // The profile matters: openh264 decodes most H.264 but not High 4:4:4.
  m.codec = codecName(caps);
  if (gchar *full = gst_pb_utils_get_codec_description(caps)) {
    if (const char *profile = std::strstr(full, " (")) m.codec += profile;
    g_free(full);
  }
  m.package = decoderPackage(caps);
  const GstStructure *s = gst_caps_is_empty(caps) ? nullptr : gst_caps_get_structure(caps, 0);
  m.video = s && (g_str_has_prefix(gst_structure_get_name(s), "video/") ||
                  g_str_has_prefix(gst_structure_get_name(s), "image/"));
  return m;
}

std::string missingMessage(const Missing &m) {
  std::string t = "no decoder for " + m.codec + " is installed";
  if (m.package) t += std::string(" (Debian package ") + m.package + ")";
  return t;
}

}  // namespace

// --- The reading pipeline --------------------------------------------------

class Reader {
 public:
  std::string path;
  bool sound = false;
  Description d;

  GstElement *pipeline = nullptr;
  GstElement *sink = nullptr;
  GstElement *convert = nullptr;
  std::atomic<bool> linked{false};  // the wanted stream reached the appsink
  bool ended = false;   // the appsink saw the end of the stream
  bool broken = false;  // an error or a time-out: nothing more comes
  bool absent = false;  // every stream is out and none is the wanted one
  std::string error;

  // What decodebin met on its way, written from its streaming threads.
  std::mutex lock;
  bool typeFound = false, noMorePads = false;
  std::string container, videoCaps, soundCaps;  // codec names
  bool imageOnly = false;                       // a still picture, not a movie
  uint32_t codedRateNumerator = 0, codedRateDenominator = 0;
  std::vector<Missing> unknown;

  // Pictures: the frame shown, the one decoded after it, the first time.
  GstSample *current = nullptr, *pending = nullptr;
  GstClockTime origin = GST_CLOCK_TIME_NONE;
  uint32_t shown = UINT32_MAX;  // index whose picture is on show
  std::vector<uint8_t> picture;  // a copy, when the decoded rows are not in our layout
  // The decoded picture on show, mapped in place when its rows are ours.
  // It outlives restarts: the caller may still hold its pixels.
  GstVideoFrame view{};
  bool viewMapped = false;
  GstSample *viewSample = nullptr;
  const uint8_t *shownPixels = nullptr;

  // Sound: bytes delivered so far, bytes of the whole length, what is left
  // of the last buffer pulled.
  uint64_t delivered = 0, total = 0;
  std::vector<uint8_t> rest;
  size_t restAt = 0;
  uint32_t frameBytes = 0;
  // The time of a movie's first picture: its sound is delivered from there,
  // so that it keeps in step with the frames (MP4 files from mp4mux with
  // B-frames start their pictures 80 ms after their sound).
  GstClockTime soundOrigin = 0;

  ~Reader() {
    stop();
    unview();
  }

  void unview() {
    if (viewMapped) gst_video_frame_unmap(&view);
    viewMapped = false;
    if (viewSample) gst_sample_unref(viewSample);
    viewSample = nullptr;
  }

  void stop() {
    if (current) gst_sample_unref(current);
    if (pending) gst_sample_unref(pending);
    current = pending = nullptr;
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
    pipeline = sink = convert = nullptr;
    linked = false;
    ended = broken = absent = false;
    {
      std::lock_guard<std::mutex> hold(lock);
      typeFound = noMorePads = false;
      unknown.clear();
    }
    origin = GST_CLOCK_TIME_NONE;
    shown = UINT32_MAX;
    delivered = 0;
    rest.clear();
    restAt = 0;
  }

  // Errors and missing decoders posted since the last look.
  void readBus() {
    if (!pipeline) return;
    GstBus *bus = gst_element_get_bus(pipeline);
    while (GstMessage *m = gst_bus_pop(bus)) {
      if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        broken = true;
        if (error.empty()) error = "the file is damaged or cannot be decoded";
      } else if (gst_is_missing_plugin_message(m) && !linked) {
        gchar *desc = gst_missing_plugin_message_get_description(m);
        if (error.empty() && desc) error = std::string("no decoder is installed: ") + desc;
        g_free(desc);
      }
      gst_message_unref(m);
    }
    gst_object_unref(bus);
  }

  static gboolean onContinue(GstElement *, GstPad *, GstCaps *caps, gpointer self) {
    Reader *r = static_cast<Reader *>(self);
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return TRUE;
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const char *n = gst_structure_get_name(s);
    const bool container = isContainer(s);
    const bool isVideo = !container && (g_str_has_prefix(n, "video/") || g_str_has_prefix(n, "image/"));
    const bool isAudio = !container && g_str_has_prefix(n, "audio/");
    {
      std::lock_guard<std::mutex> hold(r->lock);
      // The type found first is the container, when it is one.
      if (!r->typeFound && container) r->container = containerName(caps);
      if (!r->typeFound && g_str_has_prefix(n, "image/")) r->imageOnly = true;
      r->typeFound = true;
      if (isVideo && r->videoCaps.empty()) {
        r->videoCaps = codecName(caps);
        int num = 0, den = 0;
        if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
          r->codedRateNumerator = static_cast<uint32_t>(num);
          r->codedRateDenominator = static_cast<uint32_t>(den);
        }
      }
      if (isAudio && r->soundCaps.empty()) r->soundCaps = codecName(caps);
    }
    // The stream not wanted is left undecoded: its pad goes to a fakesink as
    // it comes out of the demuxer.
    if (r->sound) return !isVideo;
    return !isAudio;
  }

  static void onUnknown(GstElement *, GstPad *, GstCaps *caps, gpointer self) {
    Reader *r = static_cast<Reader *>(self);
    if (!caps) return;
    std::lock_guard<std::mutex> hold(r->lock);
    r->unknown.push_back(missingFor(caps));
  }

  static void onNoMorePads(GstElement *, gpointer self) {
    Reader *r = static_cast<Reader *>(self);
    std::lock_guard<std::mutex> hold(r->lock);
    r->noMorePads = true;
  }

  bool allPadsOut() {
    std::lock_guard<std::mutex> hold(lock);
    return noMorePads;
  }

  static void onPad(GstElement *, GstPad *pad, gpointer self) {
    Reader *r = static_cast<Reader *>(self);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure *s = caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    const bool wanted = s && gst_structure_has_name(s, r->sound ? "audio/x-raw" : "video/x-raw");
    if (caps) gst_caps_unref(caps);
    if (wanted && !r->linked) {
      GstPad *in = gst_element_get_static_pad(r->convert, "sink");
      if (gst_pad_link(pad, in) == GST_PAD_LINK_OK) r->linked = true;
      gst_object_unref(in);
      if (r->linked) return;
    }
    GstElement *fake = gst_element_factory_make("fakesink", nullptr);
    if (!fake) return;
    g_object_set(fake, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(r->pipeline), fake);
    gst_element_sync_state_with_parent(fake);
    GstPad *in = gst_element_get_static_pad(fake, "sink");
    gst_pad_link(pad, in);
    gst_object_unref(in);
  }

  bool build() {
    pipeline = gst_pipeline_new(nullptr);
    GstElement *src = gst_element_factory_make("filesrc", nullptr);
    GstElement *dec = gst_element_factory_make("decodebin", nullptr);
    convert = gst_element_factory_make(sound ? "audioconvert" : "videoconvert", nullptr);
    sink = gst_element_factory_make("appsink", nullptr);
    if (!pipeline || !src || !dec || !convert || !sink) {
      for (GstElement *e : {src, dec, convert, sink})
        if (e) gst_object_unref(gst_object_ref_sink(e));
      error = "GStreamer lacks its base plugins";
      return false;
    }
    gst_bin_add_many(GST_BIN(pipeline), src, dec, convert, sink, nullptr);
    g_object_set(src, "location", path.c_str(), nullptr);
    // Plain truncation from wider samples: the same file always gives the
    // same bytes (dither would add noise that differs from run to run).
    if (sound) g_object_set(convert, "dithering", 0, "noise-shaping", 0, nullptr);
    // The colour conversion to 32-bit pixels is what we add to decoding:
    // spread it over the processors.
    if (!sound) g_object_set(convert, "n-threads", 0u, nullptr);
    GstCaps *caps = sound ? gst_caps_from_string("audio/x-raw,format=(string){S16LE,U8},layout=interleaved,"
                                                 "channels=(int)[1,2]")
                          : gst_caps_from_string("video/x-raw,format=BGRx");
    g_object_set(sink, "caps", caps, "sync", FALSE, "max-buffers", 4u, "drop", FALSE, "enable-last-sample", FALSE,
                 nullptr);
    gst_caps_unref(caps);
    if (!gst_element_link(src, dec) || !gst_element_link(convert, sink)) {
      error = "GStreamer could not build the pipeline";
      return false;
    }
    g_signal_connect(dec, "autoplug-continue", G_CALLBACK(onContinue), this);
    g_signal_connect(dec, "autoplug-select", G_CALLBACK(skipEmulators), nullptr);
    g_signal_connect(dec, "pad-added", G_CALLBACK(onPad), this);
    g_signal_connect(dec, "unknown-type", G_CALLBACK(onUnknown), this);
    g_signal_connect(dec, "no-more-pads", G_CALLBACK(onNoMorePads), this);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      readBus();
      if (error.empty()) error = "GStreamer could not start reading the file";
      return false;
    }
    return true;
  }

  // The next decoded sample; null at the end or on failure (then `broken`).
  GstSample *pull() {
    if (!pipeline || ended || broken) return nullptr;
    for (GstClockTime waited = 0; waited < kWait; waited += kSlice) {
      GstSample *s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kSlice);
      if (s) return s;
      if (gst_app_sink_is_eos(GST_APP_SINK(sink))) {
        ended = true;
        return nullptr;
      }
      readBus();
      if (broken) return nullptr;
      // Every stream is out and none came our way: no need to wait.
      if (!linked && allPadsOut()) {
        absent = broken = true;
        return nullptr;
      }
    }
    broken = true;
    if (error.empty()) error = "GStreamer did not deliver in time";
    return nullptr;
  }

  // --- Pictures ---

  GstClockTime frameTime(uint32_t index) const {
    return origin + gst_util_uint64_scale(index, GST_SECOND * uint64_t{d.video.rateDenominator},
                                          d.video.rateNumerator);
  }

  // Moves on until `current` is the picture on show at frame `index`: the
  // last one that starts no later than half a frame after the frame's time.
  // Frames a decoder leaves out show the picture before them; extra ones are
  // passed over, so one lost picture never shifts the rest of the movie.
  bool advanceTo(uint32_t index) {
    if (!pending && !current) {
      pending = pull();
      if (!pending) return false;
      GstBuffer *b = gst_sample_get_buffer(pending);
      origin = b && GST_BUFFER_PTS_IS_VALID(b) ? GST_BUFFER_PTS(b) : 0;
    }
    if (d.video.rateNumerator == 0 || d.video.rateDenominator == 0) return current != nullptr;
    const GstClockTime limit = frameTime(index) + gst_util_uint64_scale(GST_SECOND / 2, d.video.rateDenominator,
                                                                        d.video.rateNumerator);
    for (;;) {
      if (!pending) break;
      GstBuffer *b = gst_sample_get_buffer(pending);
      const GstClockTime pts = b && GST_BUFFER_PTS_IS_VALID(b) ? GST_BUFFER_PTS(b) : GST_CLOCK_TIME_NONE;
      // Without time stamps each picture is the next frame.
      if (current && pts != GST_CLOCK_TIME_NONE && pts > limit) break;
      if (current && pts == GST_CLOCK_TIME_NONE && shown != UINT32_MAX && shown >= index) break;
      if (current) gst_sample_unref(current);
      current = pending;
      pending = pull();
      shown = UINT32_MAX;
    }
    return current != nullptr;
  }

  // Makes `current` the picture on show: in place when its rows are laid
  // out as ours, else copied.
  bool showCurrent() {
    if (viewSample == current && shownPixels) return true;
    unview();
    shownPixels = nullptr;
    GstCaps *caps = gst_sample_get_caps(current);
    GstBuffer *buffer = gst_sample_get_buffer(current);
    GstVideoInfo vi;
    if (!caps || !buffer || !gst_video_info_from_caps(&vi, caps)) return false;
    GstVideoFrame f;
    if (!gst_video_frame_map(&f, &vi, buffer, GST_MAP_READ)) return false;
    const uint32_t w = d.video.width, h = d.video.height;
    const size_t pitch = size_t{w} * 4;
    if (GST_VIDEO_FRAME_WIDTH(&f) == static_cast<int>(w) && GST_VIDEO_FRAME_HEIGHT(&f) == static_cast<int>(h) &&
        GST_VIDEO_FRAME_PLANE_STRIDE(&f, 0) == static_cast<int>(pitch)) {
      view = f;
      viewMapped = true;
      viewSample = gst_sample_ref(current);
      shownPixels = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&view, 0));
      return true;
    }
    picture.assign(pitch * h, 0);
    // A stream that changes its size midway is cropped or padded to the
    // size it started with.
    const uint32_t cw = std::min<uint32_t>(w, GST_VIDEO_FRAME_WIDTH(&f));
    const uint32_t ch = std::min<uint32_t>(h, GST_VIDEO_FRAME_HEIGHT(&f));
    const uint8_t *src = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&f, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&f, 0);
    for (uint32_t y = 0; y < ch; ++y) std::memcpy(picture.data() + y * pitch, src + ptrdiff_t{stride} * y, size_t{cw} * 4);
    gst_video_frame_unmap(&f);
    shownPixels = picture.data();
    return true;
  }

  // The first picture tells the size the frames are delivered in.
  bool prerollVideo() {
    if (!pending) pending = pull();
    if (!pending) return false;
    GstBuffer *first = gst_sample_get_buffer(pending);
    origin = first && GST_BUFFER_PTS_IS_VALID(first) ? GST_BUFFER_PTS(first) : 0;
    GstCaps *caps = gst_sample_get_caps(pending);
    GstVideoInfo vi;
    if (!caps || !gst_video_info_from_caps(&vi, caps) || vi.width <= 0 || vi.height <= 0) return false;
    // Pictures are copied whole into one buffer of ours.
    if (vi.width > 16384 || vi.height > 16384 || int64_t{vi.width} * vi.height > (int64_t{1} << 26)) {
      error = "the picture is too large";
      return false;
    }
    d.video.width = static_cast<uint32_t>(vi.width);
    d.video.height = static_cast<uint32_t>(vi.height);
    d.video.rateNumerator = d.video.rateDenominator = 0;
    if (vi.fps_n > 0 && vi.fps_d > 0) {
      d.video.rateNumerator = static_cast<uint32_t>(vi.fps_n);
      d.video.rateDenominator = static_cast<uint32_t>(vi.fps_d);
      return advanceTo(0);
    }
    // No rate: the first picture is frame 1 until the frames are counted.
    current = pending;
    pending = pull();
    return true;
  }

  const uint8_t *frame(uint32_t index) {
    if (index >= d.video.frameCount) return nullptr;
    if (shown == index) return shownPixels;
    // Going back starts the stream over.
    if (current && (shown != UINT32_MAX && index < shown)) {
      if (!restart()) return nullptr;
    }
    // Frames ahead are reached by decoding every picture before them, never
    // by seeking: after an accurate seek openh264 gives the key frame in
    // place of the B-frames before it, and other decoders may too.
    if (!advanceTo(index)) return nullptr;
    if (!showCurrent()) return nullptr;
    shown = index;
    return shownPixels;
  }

  bool restart() {
    const Description keep = d;
    const std::string keepPath = path;
    stop();
    d = keep;
    if (!build()) return false;
    if (sound) return true;
    return advanceTo(0);
  }

  // --- Sound ---

  uint32_t read(uint8_t *out, uint32_t bytes) {
    bytes -= bytes % frameBytes;
    uint32_t done = 0;
    while (done < bytes && delivered < total) {
      const uint32_t room = static_cast<uint32_t>(std::min<uint64_t>(bytes - done, total - delivered));
      if (restAt < rest.size()) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(room, rest.size() - restAt));
        std::memcpy(out + done, rest.data() + restAt, n);
        restAt += n;
        done += n;
        delivered += n;
        continue;
      }
      GstSample *s = pull();
      if (!s) {
        // The stream ended early: silence for the rest of its length.
        std::memset(out + done, d.sound.bits == 8 ? 0x80 : 0, room);
        done += room;
        delivered += room;
        continue;
      }
      takeSound(s);
      gst_sample_unref(s);
    }
    return done;
  }

  // The buffer's samples go where its time stamp puts them: a gap is filled
  // with silence and an overlap dropped, so the sound stays in step with the
  // pictures whatever the decoder leaves out.
  void takeSound(GstSample *s) {
    GstBuffer *b = gst_sample_get_buffer(s);
    rest.clear();
    restAt = 0;
    if (!b) return;
    GstMapInfo map;
    if (!gst_buffer_map(b, &map, GST_MAP_READ)) return;
    size_t skip = 0;
    if (GST_BUFFER_PTS_IS_VALID(b)) {
      const GstClockTime pts = GST_BUFFER_PTS(b);
      const int64_t samples = pts >= soundOrigin ? static_cast<int64_t>(scaleRound(pts - soundOrigin, d.sound.rate, GST_SECOND))
                                                 : -static_cast<int64_t>(scaleRound(soundOrigin - pts, d.sound.rate, GST_SECOND));
      const int64_t at = samples * frameBytes, done = static_cast<int64_t>(delivered);
      // Small differences are the rounding of time stamps, not gaps.
      const int64_t slack = int64_t{d.sound.rate} / 50 * frameBytes;
      if (at > done + slack) {
        rest.assign(static_cast<size_t>(std::min<int64_t>(at - done, 1 << 26)), d.sound.bits == 8 ? 0x80 : 0);
      } else if (at + slack < done) {
        skip = static_cast<size_t>(std::min<int64_t>(done - at, static_cast<int64_t>(map.size)));
        skip -= skip % frameBytes;
      }
    }
    rest.insert(rest.end(), map.data + skip, map.data + map.size);
    gst_buffer_unmap(b, &map);
  }

  bool prerollSound() {
    GstSample *s = pull();
    if (!s) return false;
    GstCaps *caps = gst_sample_get_caps(s);
    GstAudioInfo ai;
    if (!caps || !gst_audio_info_from_caps(&ai, caps) || ai.rate <= 0 || ai.channels < 1 || ai.channels > 2) {
      gst_sample_unref(s);
      return false;
    }
    d.sound.rate = static_cast<uint32_t>(ai.rate);
    d.sound.channels = static_cast<uint32_t>(ai.channels);
    d.sound.bits = GST_AUDIO_INFO_WIDTH(&ai) == 8 ? 8 : 16;
    frameBytes = d.sound.channels * d.sound.bits / 8;
    takeSound(s);
    gst_sample_unref(s);
    return true;
  }
};

namespace {

// Counts the decoded pictures of a stream that names no frame rate, and
// takes their average rate over the time they cover.
bool measureVariableRate(Reader &r) {
  uint32_t count = 0;
  GstClockTime first = GST_CLOCK_TIME_NONE, end = 0;
  auto note = [&](GstSample *s) {
    GstBuffer *b = gst_sample_get_buffer(s);
    ++count;
    if (b && GST_BUFFER_PTS_IS_VALID(b)) {
      const GstClockTime pts = GST_BUFFER_PTS(b);
      if (first == GST_CLOCK_TIME_NONE || pts < first) first = pts;
      const GstClockTime stop = pts + (GST_BUFFER_DURATION_IS_VALID(b) ? GST_BUFFER_DURATION(b) : 0);
      end = std::max(end, stop);
    }
  };
  if (r.current) note(r.current);
  if (r.pending) note(r.pending);
  while (GstSample *s = r.pull()) {
    note(s);
    gst_sample_unref(s);
    if (count >= 0xFFFFFFu) break;
  }
  if (r.broken || count == 0) return false;
  const GstClockTime span = first != GST_CLOCK_TIME_NONE && end > first ? end - first : 0;
  // The average in thousandths of a frame a second, reduced.
  uint64_t num = span ? scaleRound(uint64_t{count} * 1000, GST_SECOND, span) : 15000;
  if (num == 0) num = 1;
  uint64_t den = 1000;
  const uint64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  r.d.video.rateNumerator = static_cast<uint32_t>(std::min<uint64_t>(num, 0xFFFFFFFFu));
  r.d.video.rateDenominator = static_cast<uint32_t>(den);
  r.d.video.frameCount = count;
  r.d.video.variableRate = true;
  return r.restart();
}

// Counts the decoded sound of a stream that tells no duration.
bool measureSoundLength(Reader &r) {
  uint64_t bytes = r.rest.size() - r.restAt;
  while (GstSample *s = r.pull()) {
    if (GstBuffer *b = gst_sample_get_buffer(s)) bytes += gst_buffer_get_size(b);
    gst_sample_unref(s);
  }
  if (r.broken || bytes == 0 || !r.frameBytes) return false;
  r.d.sound.samples = bytes / r.frameBytes;
  if (!r.restart() || !r.prerollSound()) return false;
  r.total = r.d.sound.samples * r.frameBytes;
  return true;
}

}  // namespace

bool available() { return start(); }

std::string kindName(const Description &d, bool sound) {
  std::string t = "GStreamer: " + (sound || !d.hasVideo ? d.soundCodec : d.videoCodec);
  if (!d.container.empty()) t += " in " + d.container;
  return t;
}

// Counts the coded pictures of a movie's video stream as its container
// holds them, without decoding: each is one frame (headers aside). The
// container's duration is that of its longest stream, often the sound, so
// it cannot tell the number of frames. 0 when they cannot be counted.
struct CodedFrames {
  uint64_t count = 0;
  GstClockTime first = GST_CLOCK_TIME_NONE, end = 0;
  bool linked = false;
  std::mutex lock;
};

GstPadProbeReturn countFrame(GstPad *, GstPadProbeInfo *info, gpointer data) {
  auto *c = static_cast<CodedFrames *>(data);
  GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!b || GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_HEADER)) return GST_PAD_PROBE_OK;
  std::lock_guard<std::mutex> hold(c->lock);
  ++c->count;
  if (GST_BUFFER_PTS_IS_VALID(b)) {
    const GstClockTime pts = GST_BUFFER_PTS(b);
    if (c->first == GST_CLOCK_TIME_NONE || pts < c->first) c->first = pts;
    c->end = std::max(c->end, pts + (GST_BUFFER_DURATION_IS_VALID(b) ? GST_BUFFER_DURATION(b) : 0));
  }
  return GST_PAD_PROBE_OK;
}

gboolean stopAtStreams(GstElement *, GstPad *, GstCaps *caps, gpointer) {
  return caps && !gst_caps_is_empty(caps) && isContainer(gst_caps_get_structure(caps, 0));
}

void countOnPad(GstElement *dec, GstPad *pad, gpointer data) {
  auto *c = static_cast<CodedFrames *>(data);
  GstElement *pipeline = GST_ELEMENT(gst_element_get_parent(dec));
  if (!pipeline) return;
  GstElement *fake = gst_element_factory_make("fakesink", nullptr);
  if (fake) {
    g_object_set(fake, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), fake);
    gst_element_sync_state_with_parent(fake);
    GstPad *in = gst_element_get_static_pad(fake, "sink");
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const char *n = caps && !gst_caps_is_empty(caps) ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
    bool video = g_str_has_prefix(n, "video/") || g_str_has_prefix(n, "image/");
    if (caps) gst_caps_unref(caps);
    {
      std::lock_guard<std::mutex> hold(c->lock);
      if (video && c->linked) video = false;
      if (video) c->linked = true;
    }
    if (video) gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, countFrame, c, nullptr);
    gst_pad_link(pad, in);
    gst_object_unref(in);
  }
  gst_object_unref(pipeline);
}

bool countCodedFrames(const char *path, CodedFrames *c) {
  GstElement *pipeline = gst_pipeline_new(nullptr);
  GstElement *src = gst_element_factory_make("filesrc", nullptr);
  GstElement *dec = gst_element_factory_make("decodebin", nullptr);
  if (!pipeline || !src || !dec) {
    for (GstElement *e : {pipeline, src, dec})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    return false;
  }
  gst_bin_add_many(GST_BIN(pipeline), src, dec, nullptr);
  g_object_set(src, "location", path, nullptr);
  gst_element_link(src, dec);
  g_signal_connect(dec, "autoplug-continue", G_CALLBACK(stopAtStreams), nullptr);
  g_signal_connect(dec, "autoplug-select", G_CALLBACK(skipEmulators), nullptr);
  g_signal_connect(dec, "pad-added", G_CALLBACK(countOnPad), c);
  bool ok = false;
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
    GstBus *bus = gst_element_get_bus(pipeline);
    // Reading a file without decoding it is quick; the wait is bounded all
    // the same.
    GstMessage *m = gst_bus_timed_pop_filtered(bus, 6 * kWait,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  std::lock_guard<std::mutex> hold(c->lock);
  return ok && c->count > 0;
}

// GStreamer's type finders on the start of the file: most files that are no
// movie or sound are told apart here, without starting a pipeline.
bool looksLikeMedia(const char *path) {
  FILE *f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<guint8> head(64 * 1024);
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  if (head.empty()) return false;
  GstTypeFindProbability probability = GST_TYPE_FIND_NONE;
  GstCaps *caps = gst_type_find_helper_for_data(nullptr, head.data(), head.size(), &probability);
  if (!caps) return false;
  bool media = false;
  if (!gst_caps_is_empty(caps)) {
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const char *n = gst_structure_get_name(s);
    media = !isEmulatedMusic(n) && (isContainer(s) || g_str_has_prefix(n, "video/") || g_str_has_prefix(n, "audio/") ||
            std::strcmp(n, "application/ogg") == 0 || std::strcmp(n, "application/x-id3") == 0 ||
            std::strcmp(n, "application/x-apetag") == 0 || std::strcmp(n, "application/mxf") == 0);
  }
  gst_caps_unref(caps);
  return media;
}

// What the pipeline found out about the file, once its first sample is in
// (or it failed).
void collect(Reader &r, Description *d) {
  // The demuxer may announce the last of its streams after the first one
  // already delivered: wait for it a little, never long.
  for (GstClockTime waited = 0; !r.allPadsOut() && !r.broken && waited < GST_SECOND; waited += kSlice)
    std::this_thread::sleep_for(std::chrono::nanoseconds(kSlice));
  std::lock_guard<std::mutex> hold(r.lock);
  d->container = r.container;
  d->videoCodec = r.videoCaps;
  d->soundCodec = r.soundCaps;
  d->hasVideo = !r.videoCaps.empty() && !r.imageOnly;
  d->hasSound = !r.soundCaps.empty();
}

namespace {
std::atomic<bool> disabled{false};
}  // namespace

void disable() { disabled = true; }

Result open(const char *path, bool forSound, Description *d, Reader **reader, std::string *message) {
  *reader = nullptr;
  message->clear();
  *d = Description{};
  if (disabled || !path || !*path || !start()) return Result::NotMedia;
  // GStreamer would wait on a fifo or a device; only plain files are read.
  GStatBuf st;
  if (g_stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return Result::NotMedia;
  if (!looksLikeMedia(path)) return Result::NotMedia;

  auto *r = new Reader;
  r->path = path;
  r->sound = forSound;
  bool ok = r->build();
  if (ok) ok = forSound ? r->prerollSound() : r->prerollVideo();
  r->readBus();
  collect(*r, d);
  Result result = Result::Opened;
  if (!ok) {
    std::lock_guard<std::mutex> hold(r->lock);
    for (const Missing &m : r->unknown)
      if (m.video != forSound) *message = missingMessage(m);
    if (!message->empty()) {
      result = Result::Failed;
    } else if (r->linked && r->ended && !forSound) {
      // openh264 gives nothing for a one-frame High-profile H.264 file: the
      // movie is refused rather than opened with a frame it cannot show.
      *message = "the " + r->videoCaps + " decoder gave no picture";
      result = Result::Failed;
    } else if (!r->typeFound || r->imageOnly || (r->absent && r->unknown.empty())) {
      // Not a movie or sound file, or not one with the stream wanted.
      result = Result::NotMedia;
    } else {
      *message = r->error.empty() ? "the file is damaged or cannot be decoded" : r->error;
      result = Result::Failed;
    }
  }
  if (result == Result::Opened) {
    // Parsers of bare streams (MP3) may know the duration only after a few
    // frames.
    gint64 duration = 0;
    for (GstClockTime waited = 0;; waited += kSlice) {
      if (gst_element_query_duration(r->pipeline, GST_FORMAT_TIME, &duration) && duration > 0) break;
      duration = 0;
      if (waited >= GST_SECOND / 4) break;
      std::this_thread::sleep_for(std::chrono::nanoseconds(kSlice));
    }
    d->durationNs = static_cast<uint64_t>(duration);
    r->d.durationNs = d->durationNs;
    if (forSound) {
      CodedFrames coded;
      if (d->hasVideo && !d->container.empty() && countCodedFrames(path, &coded) &&
          coded.first != GST_CLOCK_TIME_NONE && coded.first > 0 && coded.first < std::min<uint64_t>(GST_SECOND, d->durationNs)) {
        r->soundOrigin = coded.first;
        // The pictures may end after the container's duration by as much.
        d->durationNs = std::max<uint64_t>(d->durationNs, coded.end);
        // The sound already taken in is placed again from the new origin.
        if (!r->restart() || !r->prerollSound()) ok = false;
      }
      if (!ok) {
      } else if (d->durationNs) {
        r->d.sound.samples = scaleRound(d->durationNs - r->soundOrigin, r->d.sound.rate, GST_SECOND);
        r->total = r->d.sound.samples * r->frameBytes;
      } else {
        ok = measureSoundLength(*r);
      }
      // The movie's frame rate, for starts and ends given in frames.
      std::lock_guard<std::mutex> hold(r->lock);
      r->d.video.rateNumerator = r->codedRateNumerator;
      r->d.video.rateDenominator = r->codedRateDenominator;
    } else if (CodedFrames coded; !d->container.empty() && countCodedFrames(path, &coded)) {
      r->d.video.frameCount = static_cast<uint32_t>(std::min<uint64_t>(coded.count, 0xFFFFFFu));
      if (r->d.video.rateNumerator == 0 && coded.end > coded.first && coded.first != GST_CLOCK_TIME_NONE) {
        // No rate in the stream: the average over the time its frames cover,
        // in thousandths of a frame a second.
        uint64_t num = scaleRound(coded.count * 1000, GST_SECOND, coded.end - coded.first), den = 1000;
        const uint64_t g = std::gcd(num, den);
        r->d.video.rateNumerator = static_cast<uint32_t>(std::min<uint64_t>(num / g, 0xFFFFFFFFu));
        r->d.video.rateDenominator = static_cast<uint32_t>(den / g);
        r->d.video.variableRate = true;
        ok = r->restart();
      } else if (r->d.video.rateNumerator == 0) {
        ok = measureVariableRate(*r);
      } else {
        const uint64_t g = std::gcd(uint64_t{r->d.video.rateNumerator}, uint64_t{r->d.video.rateDenominator});
        r->d.video.rateNumerator = static_cast<uint32_t>(r->d.video.rateNumerator / g);
        r->d.video.rateDenominator = static_cast<uint32_t>(r->d.video.rateDenominator / g);
      }
    } else if (r->d.video.rateNumerator == 0 || d->durationNs == 0) {
      ok = measureVariableRate(*r);
    } else {
      const uint64_t g = std::gcd(uint64_t{r->d.video.rateNumerator}, uint64_t{r->d.video.rateDenominator});
      r->d.video.rateNumerator = static_cast<uint32_t>(r->d.video.rateNumerator / g);
      r->d.video.rateDenominator = static_cast<uint32_t>(r->d.video.rateDenominator / g);
      // Frames of the stream from its first picture to its end. A first
      // picture a few frames late is the encoder's reordering delay (MP4
      // files from mp4mux and x264enc with B-frames start at 80 ms and
      // still last the whole duration); a later one is a stream that truly
      // starts late.
      const GstClockTime delay =
          gst_util_uint64_scale(10 * GST_SECOND, r->d.video.rateDenominator, r->d.video.rateNumerator);
      const GstClockTime span =
          r->origin > delay && d->durationNs > r->origin ? d->durationNs - r->origin : d->durationNs;
      const uint64_t frames =
          scaleRound(span, r->d.video.rateNumerator, uint64_t{GST_SECOND} * r->d.video.rateDenominator);
      r->d.video.frameCount = static_cast<uint32_t>(std::clamp<uint64_t>(frames, 1, 0xFFFFFFu));
    }
    if (!ok) {
      *message = r->error.empty() ? "the file is damaged or cannot be decoded" : r->error;
      result = Result::Failed;
    }
  }
  if (result != Result::Opened) {
    delete r;
    return result;
  }
  // The stream is described as it will be delivered.
  d->video = r->d.video;
  d->sound = r->d.sound;
  r->d = *d;
  *reader = r;
  return Result::Opened;
}

const uint8_t *frame(Reader *r, uint32_t index) { return r ? r->frame(index) : nullptr; }

uint32_t readSound(Reader *r, uint8_t *out, uint32_t bytes) {
  return r && r->sound && r->frameBytes ? r->read(out, bytes) : 0;
}

bool rewind(Reader *r) {
  if (!r) return false;
  if (r->sound) {
    if (r->delivered == 0) return true;  // nothing handed out yet
    if (!r->restart()) return false;
    const uint64_t total = r->total;
    if (!r->prerollSound()) return false;
    r->total = total;
    return true;
  }
  if (r->shown == 0) return true;
  return r->restart();
}

void close(Reader *r) { delete r; }

}  // namespace kav::gst
