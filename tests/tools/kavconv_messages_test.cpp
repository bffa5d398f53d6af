// What kavconv says, tried through the built tool as a user meets it: every
// refusal names its cause (the system's reason, the switch as it was typed,
// the folder that is missing) and is printed once; a wrong switch value ends
// with status 2 before anything is opened or written; the log of a long run
// stays short; the last line names what was written, with its folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/temp_dir.h"
#include "support/wave_writer.h"
#include "tests/tools/tool_test_util.h"

namespace {

using namespace kavtooltest;

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

size_t lines(const std::string &text) { return count(text, "\n"); }

TEST(KavconvMessages, EveryRefusalSaysWhyOnceAndWritesNothing) {
  kavtest::TempDir dir;
  const std::string in = writeSequence(dir, 6);
  const std::string out = dir.file("out.avi");
  kavtest::writeFile(dir.file("deep.wav"),
                     kavtest::wave::simple(11025, 24, 1, std::vector<uint8_t>(3 * 1000, 0x40)));
  kavtest::writeFile(dir.file("noise.avi"), std::vector<uint8_t>(64, 0x5A));
  // A 1 x 1 grey TIFF whose one strip is LZW-coded (the code for "clear,
  // 0, end").
  kavtest::writeFile(dir.file("lzw.tif"),
                     std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 6, 0,      //
                                          0, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,     // width 1
                                          1, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,     // height 1
                                          3, 1, 3, 0, 1, 0, 0, 0, 5, 0, 0, 0,     // compression 5, LZW
                                          6, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,     // black is zero
                                          17, 1, 4, 0, 1, 0, 0, 0, 86, 0, 0, 0,   // the strip at 86
                                          23, 1, 4, 0, 1, 0, 0, 0, 4, 0, 0, 0,    // 4 bytes long
                                          0, 0, 0, 0, 0x80, 0x00, 0x20, 0x20});
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{dir.file("nosuch.avi"), out}, 1, "cannot open " + dir.file("nosuch.avi") + ": No such file or directory"},
      {{dir.path(), out}, 1, "cannot open " + dir.path() + ": Is a directory"},
      {{dir.file("noise.avi"), out}, 1, "cannot open " + dir.file("noise.avi") + ": no reader recognised it"},
      {{dir.file("deep.wav"), out}, 1, "WAVE with 24-bit samples is not supported"},
      {{dir.file("lzw.tif"), out}, 1, "cannot open " + dir.file("lzw.tif") + ": TIFF with LZW compression is not supported"},
      {{in, dir.file("no/such/folder/out.flc")}, 1, "the folder " + dir.file("no/such/folder") + " does not exist"},
      // Switch values: status 2, the switch quoted as typed.
      {{"-S100", in, out}, 2, "-S100: " + in + " has only 6 frames"},
      {{"-S5", "-E3", in, out}, 2, "-S5: the first frame comes after the last (-E3)"},
      {{"-B12", in, out}, 2, "-B12: sound bits must be 8 or 16"},
      {{"/C3", in, out}, 2, "/C3: sound channels must be 1 or 2"},
      {{"-R7", in, out}, 2, "-R7: the sound rate must be from 4000"},
      {{"-Fabc", in, out}, 2, "cannot make sense of -Fabc"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.says);
    const ToolRun r = kavconv(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_EQ(count(r.output, c.says), 1u) << r.output;
    EXPECT_EQ(count("\n" + r.output, "\nkavconv: "), 1u) << r.output;  // one message
    EXPECT_FALSE(exists(out));
    if (c.status == 1 && c.args.size() == 2 && c.says.find("folder") == std::string::npos) {
      // kavinfo refuses the same inputs for the same reason.
      const ToolRun info = kavinfo({c.args[0]});
      EXPECT_EQ(info.status, 1) << info.output;
      EXPECT_NE(info.output.find(c.says), std::string::npos) << info.output;
    }
  }
  if (geteuid() != 0) {  // root reads what it likes
    kavtest::writeFile(dir.file("locked.avi"), std::vector<uint8_t>(64, 0));
    ASSERT_EQ(chmod(dir.file("locked.avi").c_str(), 0), 0);
    const ToolRun r = kavconv({dir.file("locked.avi"), out});
    EXPECT_NE(r.output.find("locked.avi: Permission denied"), std::string::npos) << r.output;
  }
}

#ifdef KAV_GST_PLUGINS_DIR
// A machine with GStreamer's muxers but none of its encoders: each movie
// target is refused before anything is written, naming the encoders it
// could use and the Debian packages that bring them.
TEST(KavconvMessages, AMissingEncoderIsNamedWithItsPackage) {
  kavtest::TempDir dir;
  const std::string in = writeSequence(dir, 3);
  const std::string plugins = dir.file("plugins");
  ASSERT_EQ(mkdir(plugins.c_str(), 0755), 0);
  for (const char *p : {"coreelements", "app", "videoconvertscale", "audioconvert", "audioresample", "isomp4",
                        "matroska"}) {
    const std::string so = std::string("libgst") + p + ".so";
    ASSERT_EQ(symlink((std::string(KAV_GST_PLUGINS_DIR) + "/" + so).c_str(), (plugins + "/" + so).c_str()), 0);
  }
  setenv("GST_PLUGIN_SYSTEM_PATH_1_0", plugins.c_str(), 1);
  setenv("GST_REGISTRY_1_0", dir.file("registry.bin").c_str(), 1);
  const struct {
    const char *name, *says;
  } cases[] = {
      {"out.mp4", "no GStreamer H.264 encoder is installed (x264enc or openh264enc: Debian package "
                  "gstreamer1.0-plugins-ugly or gstreamer1.0-plugins-bad)"},
      {"out.webm", "no GStreamer VP9 encoder is installed (vp9enc: Debian package gstreamer1.0-plugins-good)"},
  };
  for (const auto &c : cases) {
    const ToolRun r = kavconv({in, dir.file(c.name)});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(count(r.output, "kavconv: cannot create " + dir.file(c.name) + ": "), 1u) << r.output;
    EXPECT_EQ(count(r.output, c.says), 1u) << r.output;
    EXPECT_FALSE(exists(dir.file(c.name)));
  }
  unsetenv("GST_PLUGIN_SYSTEM_PATH_1_0");
  unsetenv("GST_REGISTRY_1_0");
}
#endif

// 300 frames into a Flic: the log holds the caption, the first text of
// each kind, at most a line a second, the last progress and the last line;
// --quiet holds nothing on success, --verbose every text.
TEST(KavconvMessages, ALongRunLogsAFewLines) {
  kavtest::TempDir dir;
  const std::string in = writeSequence(dir, 300);
  const std::string out = dir.file("anim.flc");
  ToolRun r = kavconv({in, out});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_LE(lines(r.output), 20u) << r.output;
  EXPECT_NE(r.output.find("Writing frame 300 of 300 (100%)...\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("kavconv: Done: " + out + ", 300 frames, "), std::string::npos) << r.output;

  r = kavconv({"--quiet", "--overwrite", in, out});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "");

  r = kavconv({"--verbose", "--overwrite", in, out});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_GE(count(r.output, "Opening "), 300u);
  EXPECT_GE(count(r.output, "Writing frame "), 100u);
}

// A PCX target is 8-bit without -Z; a name without extension is a Flic,
// and the last line names the file written, in words that count right.
TEST(KavconvMessages, TargetsWithoutAColourModeAndTheLastLine) {
  kavtest::TempDir dir;
  const std::string in = writeSequence(dir, 6);
  ToolRun r = kavconv({in, dir.file("pic.pcx")});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Done: " + dir.file("pic0.pcx") + " to pic5.pcx, 6 frames"), std::string::npos)
      << r.output;
  EXPECT_EQ(readPictures(dir.file("pic?.pcx*0-5")).frames.size(), 6u);

  r = kavconv({"-S6", in, dir.file("last")});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Done: " + dir.file("last.flc") + ", 1 frame, "), std::string::npos) << r.output;
  EXPECT_EQ(readPictures(dir.file("last.flc"), 1).frames.size(), 1u);
}

}  // namespace
