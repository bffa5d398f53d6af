#include <gtest/gtest.h>

#include "ui/terminal_layout.h"

using namespace kav::ui;

TEST(TerminalLayout, LongTextsLoseTheirMiddleAndNeverSplitACharacter) {
  EXPECT_EQ(fitWidth("/home/me/clip.avi", 40), "/home/me/clip.avi");
  EXPECT_EQ(fitWidth("/home/someone/videos/clip.avi", 15), "/home/...ip.avi");
  // "é" is two bytes and one column.
  EXPECT_EQ(fitWidth("été/été/été/été", 9), "été...été");
  EXPECT_EQ(columnsOf(fitWidth("été/été/été/été", 9)), 9u);
  EXPECT_EQ(fitWidth("a\tb\x1b[2Kc", 10), "ab[2Kc");  // control bytes would move the cursor
  EXPECT_EQ(rowsAt(79, 40), 2u);
  EXPECT_EQ(rowsAt(80, 40), 2u);
  EXPECT_EQ(rowsAt(0, 40), 1u);
  EXPECT_EQ(foldKey("Reading frame 7 of 300..."), foldKey("Reading frame 123 of 300..."));
  EXPECT_NE(foldKey("Reading frame 7 of 300..."), foldKey("Writing frame 7 of 300..."));
}

// Whatever the width, no line of the block is wider than it.
TEST(TerminalLayout, EveryLineOfTheBlockFitsEveryWidth) {
  const StatusView v{"kavconv", "Analyzing colors in frame 2999 of 300000 (99%)...",
                     "/home/someone/videos/holiday/beach.avi -> /home/someone/out/beach-final.flc", "&Cancel"};
  Progress p;
  p.perMille = 999;
  p.done = 2999;
  p.total = 300000;
  const Pace pace{1234.5, 359999};
  for (size_t width = 1; width <= 200; ++width) {
    const auto lines = statusBlock(v, p, pace, width);
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string &l : lines) ASSERT_LE(columnsOf(l), width) << width << ": " << l;
  }
  EXPECT_EQ(statusBlock(v, p, pace, 200)[2],
            "[" + std::string(49, '#') + "-] 2999/300000  99%  1234 fps  99:59:59 left");
}
