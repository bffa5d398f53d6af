#include <gtest/gtest.h>

#include "ui/progress_text.h"

TEST(ProgressText, PercentInParenthesesOrCountOfTotal) {
  using kav::ui::progressPerMille;
  EXPECT_EQ(progressPerMille("Palette (45%)"), 450);
  EXPECT_EQ(progressPerMille("Writing frame 12 of 300..."), 40);
  EXPECT_EQ(progressPerMille("frame 300 of 300"), 1000);
  EXPECT_EQ(progressPerMille("100% sure"), std::nullopt);  // not in parentheses
  EXPECT_EQ(progressPerMille("(250%)"), std::nullopt);
  EXPECT_EQ(progressPerMille("frame 5 of 0"), std::nullopt);
  EXPECT_EQ(progressPerMille("frame 9 of 3"), std::nullopt);
  EXPECT_EQ(progressPerMille("one of many"), std::nullopt);
  EXPECT_EQ(progressPerMille(""), std::nullopt);
}
