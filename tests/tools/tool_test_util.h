// What the end-to-end tool tests share: running a built tool as a child
// process, and reading a source's pictures and sound back through our own
// graphics and sound inputs.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/temp_dir.h"

namespace kavtooltest {

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs a tool in a session of its own (so it has no controlling terminal and
// every question takes its default answer), with standard input closed.
inline ToolRun runTool(const char *tool, const std::vector<std::string> &args) {
  char outName[] = "/tmp/kavtool-outXXXXXX";
  const int outFd = mkstemp(outName);
  ToolRun r;
  if (outFd < 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(outFd, 2);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(tool));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(tool, argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  const auto bytes = kavtest::readFile(outName);
  r.output.assign(bytes.begin(), bytes.end());
  close(outFd);
  unlink(outName);
  return r;
}

inline ToolRun kavconv(const std::vector<std::string> &args) { return runTool(KAVCONV_PATH, args); }
inline ToolRun kavinfo(const std::vector<std::string> &args) { return runTool(KAVINFO_PATH, args); }

// A numbered sequence "seq000.png", "seq001.png", ... of 16 x 12 pictures,
// every frame different; returns the name that opens them all.
inline std::string writeSequence(const kavtest::TempDir &dir, uint32_t frames) {
  constexpr uint32_t kW = 16, kH = 12;
  OGFile *o = OGFileCreate(KAV_NO_WINDOW, dir.file("seq.png").c_str(), frames, 10, 1, kW, kH, kW, nullptr,
                           OGFILE_OVERWRITE, 0);
  if (!o) return "";
  std::vector<uint32_t> px(kW * kH);
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t i = 0; i < px.size(); ++i) px[i] = (f * 0x010203u + i * 0x0A0B0Cu) & 0xFFFFFF;
    OGFilePut(o, px.data(), nullptr);
  }
  OGFileClose(o);
  // The writer numbers with as many digits as the last number needs.
  const std::string last = std::to_string(frames - 1);
  return dir.file("seq" + std::string(last.size(), '?') + ".png*0-" + last);
}

inline bool exists(const std::string &name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

struct Pictures {
  uint32_t width = 0, height = 0;
  std::vector<std::vector<uint32_t>> frames;
};

// Every frame of a source as 32-bit pixels 0x00RRGGBB, through our graphics
// input; `flags` as for GFileOpen (1: the first 8-bit mode, as the tool asks
// for Flic targets).
inline Pictures readPictures(const std::string &name, uint32_t flags = 0) {
  Pictures p;
  GFile *g = GFileOpen(name.c_str(), flags, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10000, 0, 256, 0, 0, 0, "", "",
                       nullptr);
  if (!g) return p;
  p.width = g->canvasWidth;
  p.height = g->canvasHeight;
  for (uint32_t f = 0; f < g->outputFrameCount; ++f) {
    if ((GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF) == 0) break;
    std::vector<uint32_t> px(size_t{p.width} * p.height);
    if (g->trueColour) {
      for (uint32_t y = 0; y < p.height; ++y)
        std::memcpy(px.data() + size_t{y} * p.width, g->canvas + size_t{y} * g->canvasPitch, size_t{p.width} * 4);
    } else {
      for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
          const uint8_t i = g->canvas[size_t{y} * g->canvasPitch + x];
          const uint8_t *c = g->palette + i * 3;
          px[size_t{y} * p.width + x] = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
        }
    }
    for (uint32_t &v : px) v &= 0xFFFFFF;
    p.frames.push_back(px);
  }
  GFileClose(g);
  return p;
}

// The whole sound of a source through our sound input, in its own format.
inline std::vector<uint8_t> readSound(const std::string &name) {
  std::vector<uint8_t> out;
  SFile *s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  if (!s) return out;
  uint8_t buf[4096];
  for (;;) {
    const uint32_t n = SFileGet(s, buf, sizeof buf);
    if (!n) break;
    out.insert(out.end(), buf, buf + n);
  }
  SFileClose(s);
  return out;
}

}  // namespace kavtooltest
