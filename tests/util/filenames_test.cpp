#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include "kavutil/kavbase.h"
#include "kavutil/kavnames.h"
#include "support/temp_dir.h"

namespace {

std::string realCwd() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}

struct Name {
  explicit Name(const std::string &s) { std::snprintf(buf, sizeof buf, "%s", s.c_str()); }
  char buf[KAV_NAME_MAX];
};

}  // namespace

TEST(FileNames, ExtensionStopsAtEitherSeparator) {
  EXPECT_EQ(HasExtension("C:\\dir.x\\file"), nullptr);
  EXPECT_EQ(HasExtension("/dir.x/file"), nullptr);
  const char *gz = "file.tar.gz";
  EXPECT_EQ(HasExtension(gz), gz + 8);
  const char *cfg = ".cfg";
  EXPECT_EQ(HasExtension(cfg), cfg);
  EXPECT_EQ(HasExtension(""), nullptr);
}

TEST(FileNames, ExpandNormalisesWithoutTouchingTheFileSystem) {
  kavtest::TempDir tmp;
  kavtest::InDirectory in(tmp.path());
  const std::string cwd = realCwd();
  struct Case {
    const char *in;
    std::string out;
  } cases[] = {
      {"clip.avi", cwd + "/clip.avi"},
      {".\\CLIP.AVI", cwd + "/CLIP.AVI"},
      {"a/./b/../c", cwd + "/a/c"},
      {"/x/../../y", "/y"},
      {"/", "/"},
      {"sub/", cwd + "/sub/"},
      {"//double//slash", "/double/slash"},
  };
  for (const auto &c : cases) {
    Name n(c.in);
    EXPECT_EQ(ExpandFileName(n.buf), 1) << c.in;
    EXPECT_EQ(std::string(n.buf), c.out) << c.in;
  }
}

TEST(FileNames, OverlongNamesAreRefusedNotTruncated) {
  Name n("/" + std::string(KAV_NAME_MAX - 2, 'a'));  // exactly fills the buffer
  EXPECT_EQ(ExpandFileName(n.buf), 1);
  Name rel(std::string(KAV_NAME_MAX - 2, 'b'));  // relative: too long once expanded
  const std::string before = rel.buf;
  EXPECT_EQ(ExpandFileName(rel.buf), 0);
  EXPECT_EQ(std::string(rel.buf), before);
}

TEST(FileNames, DirectoryTestAndStay) {
  kavtest::TempDir tmp;
  const std::string cwd = realCwd();
  Name root("/");
  EXPECT_EQ(IsDirectory(root.buf, 0), 1);
  EXPECT_STREQ(root.buf, "/");
  Name dir(tmp.path() + "/");
  EXPECT_EQ(IsDirectory(dir.buf, 0), 1);
  EXPECT_EQ(std::string(dir.buf), tmp.path());  // expanded, without the trailing separator
  EXPECT_EQ(realCwd(), cwd);
  kavtest::writeFile(tmp.file("f.txt"), {1, 2, 3});
  Name file(tmp.file("f.txt"));
  EXPECT_EQ(IsDirectory(file.buf, 0), 0);
  Name missing(tmp.file("nope"));
  EXPECT_EQ(IsDirectory(missing.buf, 1), 0);
  {
    Name stay(tmp.path());
    EXPECT_EQ(IsDirectory(stay.buf, 1), 1);
    char buf[4096];
    EXPECT_EQ(std::string(getcwd(buf, sizeof buf)), tmp.path());
    EXPECT_EQ(chdir(cwd.c_str()), 0);
  }
}

TEST(FileNames, PiecesOfFilesAndDirectories) {
  kavtest::TempDir tmp;
  kavtest::writeFile(tmp.file("movie.part.LST"), {});
  struct Case {
    int d, f, n, e;
    std::string out;
  } cases[] = {
      {0, 0, 0, 1, ".LST"},
      {0, 0, 1, 1, "movie.part.LST"},
      {0, 0, 1, 0, "movie.part"},
      {1, 1, 0, 0, tmp.path() + "/"},
      {1, 1, 1, 1, tmp.file("movie.part.LST")},
  };
  for (const auto &c : cases) {
    Name p("  " + tmp.file("movie.part.LST") + " ");
    GetFilePieces(p.buf, c.d, c.f, c.n, c.e);
    EXPECT_EQ(std::string(p.buf), c.out);
  }
  Name noExt(tmp.file("README"));
  GetFilePieces(noExt.buf, 0, 0, 0, 1);
  EXPECT_STREQ(noExt.buf, "");
  Name dir(tmp.path());
  GetFilePieces(dir.buf, 1, 1, 1, 1);  // a directory has no name or extension
  EXPECT_EQ(std::string(dir.buf), tmp.path() + "/");
  Name empty("   ");
  GetFilePieces(empty.buf, 1, 1, 1, 1);
  EXPECT_STREQ(empty.buf, "");
  Name drive("x.avi");
  EXPECT_EQ(GetDrive(drive.buf), 0);
}

TEST(FileNames, TemporaryNames) {
  char buf[64];
  EXPECT_STREQ(GetTempName(buf, "/tmp/", "KV", 0x12345678u), "/tmp/KVGFEDCB.AAA");
  EXPECT_STREQ(GetTempName(buf, "", "", 0), "AAAAAAAA.AAA");
  EXPECT_STREQ(GetTempName(buf, "d/", "TOOLONGPREFIXXX", 1), "d/TOOLONGP.EFI");
}

TEST(FileNames, SizeAndLog) {
  kavtest::TempDir tmp;
  EXPECT_EQ(kavfilesize(tmp.file("missing").c_str()), 0u);
  const std::string log = tmp.file("run.log");
  LogString(log.c_str(), "first line\n");
  LogString(log.c_str(), "second");
  const auto bytes = kavtest::readFile(log);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first line\nsecond");
  EXPECT_EQ(kavfilesize(log.c_str()), 17u);
  LogString((tmp.path() + "/no/such/dir/x.log").c_str(), "lost");  // quietly nothing
}

TEST(ElapsedTime, Wording) {
  struct Case {
    uint32_t ms;
    const char *text;
  } cases[] = {
      {0, "0 milliseconds"},         {1, "1 millisecond"},          {999, "999 milliseconds"},
      {1000, "1 second"},            {59999, "59 seconds"},          {60000, "1 minute 0 seconds"},
      {61000, "1 minute 1 second"},  {125000, "2 minutes 5 seconds"}, {3600000, "1 hour 0 minutes"},
      {7260000, "2 hours 1 minute"}, {7200000, "2 hours 0 minutes"}, {4294967295u, "1193 hours 2 minutes"},
  };
  for (const auto &c : cases) {
    char buf[64];
    EXPECT_STREQ(GetElapsedTime(buf, c.ms), c.text);
  }
}

TEST(Timer, StartsNearZeroAndFollowsTheClock) {
  const uint32_t a = KAVTimerRead();
  usleep(100000);
  const uint32_t b = KAVTimerRead();
  EXPECT_GE(b - a, 95u);
  EXPECT_LT(b - a, 2000u);  // loose: the machine may be busy
}
