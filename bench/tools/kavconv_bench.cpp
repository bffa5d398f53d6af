// The whole tool: kavconv (the built program, run as a child process)
// converting a 640 x 480, 300-frame Vorn movie with sound into an AVI and
// into a Flic, one conversion per iteration. Beside it, in the same run, the
// graphics input's own speed on the same movie: GFileOpen, GFileGet for
// every frame, GFileClose, with the switches' defaults the tool uses (true
// colour for the AVI, the first 8-bit mode for the Flic). The ratio of the
// two is the tool's overhead: writing, sound, status and process start.
// Times and rates are wall-clock (the child's work is not this process's
// CPU time).
//
// Last, the same movie as an uncompressed AVI without sound, made once by
// kavconv, into a PNG series: by kavconv, and by GStreamer's pngenc
// (gst-launch-1.0 ... ! pngenc ! multifilesink) as the pace to keep. Each
// reports the bytes of its series; the files must be no larger than
// GStreamer's.
#include <benchmark/benchmark.h>
#include <kavutil/gfile.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "bench/support/vorn_bench_plane.h"
#include "support/temp_dir.h"
#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"

namespace {

using namespace kavtest;

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 300, kRate = 30;
constexpr uint32_t kSoundRate = 22050;

using kavbench::keyOrRefillFrame;

TempDir &dir() {
  static TempDir d;
  return d;
}

// Written once per run: the movie with one 16-bit mono sound track whose
// chunks keep up with the pictures.
const std::string &movie() {
  static std::string name;
  if (!name.empty()) return name;
  vornf::FileDesc d;
  d.width = kWidth;
  d.height = kHeight;
  d.rateNumerator = kRate;
  d.tracks.push_back({vornf::descriptor(kSoundRate, false, true), 5, {}});
  vornf::SoundTrackEncoder enc(kSoundRate, 1, 7);
  uint64_t soundBytes = 0;
  for (uint32_t i = 0; i < kFrames; ++i) {
    const bool key = i % 30 == 0;
    const vornw::FrameDesc f = keyOrRefillFrame(kWidth, kHeight, key, i);
    vornf::Frame fr;
    fr.key = key;
    const uint64_t want = uint64_t(i + 1) * kSoundRate / kRate * 2;
    unsigned blocks = 0;
    while (soundBytes + uint64_t(blocks) * enc.blockBytes() < want) ++blocks;
    soundBytes += uint64_t(blocks) * enc.blockBytes();
    fr.sound.push_back(blocks ? enc.chunk(blocks) : std::vector<uint8_t>{});
    fr.video = vornw::writeFrame(f);
    d.frames.push_back(std::move(fr));
  }
  name = dir().file("bench.vrn");
  writeFile(name, vornf::writeFile(d));
  return name;
}

// Runs a program with its output thrown away; its exit status.
int run(const std::vector<std::string> &args) {
  std::vector<const char *> argv;
  for (const auto &a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], const_cast<char *const *>(argv.data()));
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128;
}

int runKavconv(const std::string &in, const std::string &out) {
  return run({KAVCONV_PATH, "--overwrite", in, out});
}

void convert(benchmark::State &state, const char *outName) {
  const std::string in = movie();
  const std::string out = dir().file(outName);
  for (auto _ : state) {
    if (runKavconv(in, out) != 0) {
      state.SkipWithError("kavconv failed");
      break;
    }
    state.PauseTiming();
    std::remove(out.c_str());
    state.ResumeTiming();
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

// One whole pass of the graphics input over the movie, with the tool's
// defaults for every switch (an empty switch line) and the colour mode
// given.
void fetch(benchmark::State &state, uint32_t colourMode) {
  const std::string in = movie();
  uint32_t flags = 0, inNum = 0, inDen = 0, outNum = 0, outDen = 0;
  int32_t soften = 0, contrast = 0, brightness = 100, threshold = 0;
  float gamma = 1.0f;
  int32_t w = 0, h = 0, x = 0, y = 0, cw = 0, ch = 0, first = 0, last = 0, reserved = 0;
  uint32_t scale = 0, firstColour = 0, colours = 0;
  uint8_t method = 0, option = 0;
  char paletteFile[KAV_NAME_MAX] = {};
  char line[] = "";
  GFileCommandLine(line, &flags, &inNum, &inDen, &outNum, &outDen, &soften, &contrast, &brightness, &gamma,
                   &threshold, &w, &h, &x, &y, &cw, &ch, &first, &last, &scale, &firstColour, &colours, &reserved,
                   &method, &option, paletteFile);
  flags |= colourMode;
  for (auto _ : state) {
    GFile *g = GFileOpen(in.c_str(), flags, inNum, inDen, outNum, outDen, w, h, x, y, uint32_t(cw), uint32_t(ch),
                         uint32_t(first), uint32_t(last), scale, firstColour, colours, uint32_t(reserved), method,
                         option, paletteFile, "Reading", nullptr);
    if (!g) {
      state.SkipWithError("GFileOpen failed");
      break;
    }
    uint32_t got = 0;
    while (got < g->outputFrameCount &&
           (GFileGet(g, uint32_t(soften), uint32_t(contrast), brightness, gamma, uint32_t(threshold)) & 0xFF))
      ++got;
    benchmark::DoNotOptimize(g->canvas);
    GFileClose(g);
    if (got != kFrames) {
      state.SkipWithError("the movie did not read whole");
      break;
    }
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

// The movie as an uncompressed AVI without sound; empty when kavconv failed.
const std::string &aviMovie() {
  static std::string name;
  if (!name.empty()) return name;
  const std::string avi = dir().file("bench-series.avi");
  if (run({KAVCONV_PATH, "--overwrite", "--no-sound", movie(), avi}) == 0) name = avi;
  return name;
}

// Bytes of every file in `folder`, which is then emptied.
uint64_t seriesBytes(const std::string &folder) {
  uint64_t total = 0;
  for (const auto &e : std::filesystem::directory_iterator(folder)) total += e.file_size();
  for (const auto &e : std::filesystem::directory_iterator(folder)) std::filesystem::remove(e.path());
  return total;
}

// One PNG series per iteration, written by the command that `command`
// makes from the AVI and the folder.
template <class Command>
void pngSeries(benchmark::State &state, const char *folderName, Command command) {
  const std::string &avi = aviMovie();
  if (avi.empty()) {
    state.SkipWithError("the AVI could not be made");
    return;
  }
  const std::string folder = dir().file(folderName);
  std::filesystem::create_directories(folder);
  uint64_t bytes = 0;
  for (auto _ : state) {
    if (run(command(avi, folder)) != 0) {
      state.SkipWithError("the PNG series failed");
      break;
    }
    state.PauseTiming();
    bytes = seriesBytes(folder);
    state.ResumeTiming();
  }
  state.counters["bytes"] = benchmark::Counter(double(bytes));
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_KavconvAviToPng(benchmark::State &s) {
  pngSeries(s, "kav-png", [](const std::string &avi, const std::string &folder) {
    return std::vector<std::string>{KAVCONV_PATH, "--overwrite", avi, folder + "/frame.png"};
  });
}
void BM_GstreamerAviToPng(benchmark::State &s) {
  pngSeries(s, "gst-png", [](const std::string &avi, const std::string &folder) {
    return std::vector<std::string>{"gst-launch-1.0", "-q", "filesrc", "location=" + avi, "!", "avidemux", "!",
                                    "videoconvert", "!", "pngenc", "!", "multifilesink",
                                    "location=" + folder + "/frame%05d.png"};
  });
}

void BM_FetchTrueColour(benchmark::State &s) { fetch(s, 0); }
void BM_Fetch8Bit(benchmark::State &s) { fetch(s, 1); }
void BM_KavconvToAvi(benchmark::State &s) { convert(s, "bench-out.avi"); }
void BM_KavconvToFlic(benchmark::State &s) { convert(s, "bench-out.flc"); }

BENCHMARK(BM_FetchTrueColour)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KavconvToAvi)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fetch8Bit)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KavconvToFlic)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GstreamerAviToPng)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KavconvAviToPng)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  movie();  // written before anything is timed
  kavbench::RatioReporter reporter;
  reporter.pair("BM_KavconvToAvi/iterations:2/real_time", "BM_FetchTrueColour/iterations:2/real_time");
  reporter.pair("BM_KavconvToFlic/iterations:2/real_time", "BM_Fetch8Bit/iterations:2/real_time");
  reporter.pair("BM_KavconvToFlic/iterations:2/real_time", "BM_FetchTrueColour/iterations:2/real_time");
  reporter.pair("BM_KavconvAviToPng/iterations:2/real_time", "BM_GstreamerAviToPng/iterations:2/real_time",
                ">= 1.0, bytes no more than GStreamer's");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
