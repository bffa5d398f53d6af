#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/argv_split.h"

namespace {

kavtool::SplitArgs split(std::vector<std::string> args) {
  std::vector<const char *> argv = {"tool"};
  for (const auto &a : args) argv.push_back(a.c_str());
  return kavtool::splitArgs(static_cast<int>(argv.size()), argv.data(), {"--help", "--json", "--version"});
}

}  // namespace

TEST(ArgvSplit, DashSwitchesSlashSwitchesAndPaths) {
  kavtest::TempDir tmp;
  const std::string existing = "/" + tmp.path().substr(1);  // holds further slashes anyway
  const auto r = split({"-S5", "/Q236", "-F30;1.001", "/home/me/clip.avi", "/tmp/out.flc", "in.avi", "-",
                        "-&/home/me/pal.bmp", "/tmp"});
  EXPECT_EQ(r.switches, "/S5 /Q236 /F30;1.001 /&/home/me/pal.bmp");
  EXPECT_EQ(r.files, (std::vector<std::string>{"/home/me/clip.avi", "/tmp/out.flc", "in.avi", "-", "/tmp"}));
}

TEST(ArgvSplit, DoubleDashEndsSwitchesAndLongOptionsComeFirst) {
  const auto r = split({"--json", "-L", "--", "-odd name.avi", "/S5", "--help"});
  EXPECT_EQ(r.longOptions, std::vector<std::string>{"--json"});
  EXPECT_EQ(r.switches, "/L");
  EXPECT_EQ(r.files, (std::vector<std::string>{"-odd name.avi", "/S5", "--help"}));
}

TEST(ArgvSplit, ValuesWithBlanksAreQuotedForTheParsers) {
  const auto r = split({"-Omy out.flc", "-T\"already quoted\"", "--L", "--unknown"});
  EXPECT_EQ(r.switches, "/O\"my out.flc\" /T\"already quoted\" /-L");  // "--L" cancels /L
  EXPECT_EQ(r.unknownOptions, std::vector<std::string>{"--unknown"});
  EXPECT_TRUE(r.files.empty());
}
