#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "util/input_list.h"

namespace {

struct Yield {
  std::string name;
  int32_t first, last;
  bool operator==(const Yield &o) const { return name == o.name && first == o.first && last == o.last; }
};

std::ostream &operator<<(std::ostream &os, const Yield &y) {
  return os << "{" << y.name << "," << y.first << "," << y.last << "}";
}

// Walks the list until it ends (at most `limit` entries).
std::vector<Yield> walk(kav::InputList &list, int limit = 100) {
  std::vector<Yield> out;
  for (int i = 0; i < limit; ++i) {
    const kav::ListEntry e = list.next();
    if (e.name.empty()) break;
    out.push_back({e.name, e.firstFrame, e.lastFrame});
  }
  return out;
}

void writeText(const std::string &name, const std::string &text) {
  kavtest::writeFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

TEST(InputList, FillsPatternsFromTheRight) {
  EXPECT_EQ(kav::fillPattern("pic????.bmp", 12), "pic0012.bmp");
  EXPECT_EQ(kav::fillPattern("f??.tga", 123), "f23.tga");
  EXPECT_EQ(kav::fillPattern("a?b?c", 47), "a4b7c");
  EXPECT_EQ(kav::fillPattern("plain", 5), "plain");
  EXPECT_TRUE(kav::isListName("/x/MOVIES.lst"));
  EXPECT_FALSE(kav::isListName("lst"));
  EXPECT_FALSE(kav::isListName(nullptr));
}

TEST(InputList, LinesSwitchesCommentsRepeatsAndPatterns) {
  kavtest::TempDir tmp;
  const std::string lst = tmp.file("show.LST");
  writeText(lst,
            "#intro.avi\r\n"
            "a.avi /L3\r\n"
            "\r\n"
            "  b.flc /S5 /E9  \n"
            "f??.tga*1-3\n"
            "one.bmp?*7 /L2\n"
            "g?.tga /S2 /E3\n"
            "last.avi\n"
            "/clips/s5/e2 cut.avi /L2\n"
            "/l1/p?.png*4\n"
            "\n\n");
  kav::InputList list;
  ASSERT_TRUE(list.openListFile(lst.c_str()));
  const std::vector<Yield> expected = {
      {"a.avi", 0, 0},   {"a.avi", 0, 0},   {"a.avi", 0, 0},   {"b.flc", 5, 9},  {"f01.tga", 0, 0},
      {"f02.tga", 0, 0}, {"f03.tga", 0, 0}, {"one.bmp7", 0, 0}, {"g2.tga", 0, 0}, {"g3.tga", 0, 0},
      {"last.avi", 0, 0},  {"/clips/s5/e2 cut.avi", 0, 0}, {"/clips/s5/e2 cut.avi", 0, 0},
      {"/l1/p4.png", 0, 0},
  };
  EXPECT_EQ(walk(list), expected);
  EXPECT_EQ(walk(list), expected);  // rewound: the next walk starts again
  EXPECT_FALSE(list.openListFile(tmp.file("missing.lst").c_str()));
}

TEST(InputList, DirectPatternsEndAfterTheirRun) {
  kav::InputList list;
  list.openName("pic????.bmp*5-7");
  EXPECT_EQ(walk(list), (std::vector<Yield>{{"pic0005.bmp", 0, 0}, {"pic0006.bmp", 0, 0}, {"pic0007.bmp", 0, 0}}));
  EXPECT_EQ(walk(list).size(), 3u);  // and may be walked again
  list.openName("frame??.png");      // no range at all: the number 0, then the end
  EXPECT_EQ(walk(list), (std::vector<Yield>{{"frame00.png", 0, 0}}));
  list.openName("clip.avi /S2 /E4");  // a plain name of its own: once per walk
  EXPECT_EQ(walk(list), (std::vector<Yield>{{"clip.avi", 2, 4}}));
  list.openName("/tmp/s5/p??.png*0-1");  // folders that look like switches stay in the name
  EXPECT_EQ(walk(list), (std::vector<Yield>{{"/tmp/s5/p00.png", 0, 0}, {"/tmp/s5/p01.png", 0, 0}}));
}

TEST(InputList, LongLinesStayWhole) {
  kavtest::TempDir tmp;
  const std::string lst = tmp.file("long.lst");
  const std::string longName(KAV_NAME_MAX + 50, 'n');
  writeText(lst, longName + "\nshort.avi\n");
  kav::InputList list;
  ASSERT_TRUE(list.openListFile(lst.c_str()));
  const auto got = walk(list);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].name, longName);  // never cut into pieces that look like entries
  EXPECT_EQ(got[1].name, "short.avi");
}
