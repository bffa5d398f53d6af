#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "kavutil/questions.h"
#include "support/temp_dir.h"
#include "ui/recording_backend.h"

namespace {

const char kDupMessage[] = "Output filename must be different than the input filename.";

}  // namespace

TEST(FileQuestions, OverwriteAsksOnlyForExistingFilesAndDefaultsToNo) {
  kavtest::TempDir tmp;
  kav::ui::RecordingBackend ui;
  EXPECT_EQ(overwrite(tmp.file("new.flc").c_str(), 0), 1);
  EXPECT_TRUE(ui.boxes().empty());
  const std::string old = tmp.file("old.flc");
  kavtest::writeFile(old, {1});
  EXPECT_EQ(overwrite(old.c_str(), 0), 0);  // nobody said yes
  ui.scriptAnswers({kav::ui::kYes, kav::ui::kYes, kav::ui::kCancel});
  EXPECT_EQ(overwrite(old.c_str(), 0), 1);
  EXPECT_EQ(overwrite(old.c_str(), 1), 1);
  EXPECT_EQ(overwrite(old.c_str(), 1), 0);  // only Yes goes ahead
  const auto boxes = ui.boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, "File " + old + " exists, overwrite?");
  EXPECT_EQ(boxes[0].defaultButton, 1);
  EXPECT_EQ(boxes[2].buttons, kav::ui::Buttons::YesNo);
  EXPECT_EQ(boxes[2].defaultButton, 1);
}

TEST(FileQuestions, SameNameIgnoringCaseOrSameFileIsRefused) {
  kavtest::TempDir tmp;
  kavtest::InDirectory in(tmp.path());
  kav::ui::RecordingBackend ui;
  EXPECT_EQ(CheckForDup("clip.avi", "./CLIP.AVI"), 0);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, kDupMessage);
  EXPECT_EQ(ui.boxes()[0].icon, kav::ui::Icon::Error);
  EXPECT_EQ(CheckForDup("clip.avi", "clip.flc"), 1);
  EXPECT_EQ(CheckForDup("sub/../clip.avi", "clip.avi"), 0);

  kavtest::writeFile(tmp.file("movie.avi"), {1, 2, 3});
  ASSERT_EQ(symlink("movie.avi", "soft.avi"), 0);
  ASSERT_EQ(link("movie.avi", "hard.avi"), 0);
  EXPECT_EQ(CheckForDup("movie.avi", "soft.avi"), 0);
  EXPECT_EQ(CheckForDup("hard.avi", "movie.avi"), 0);
  EXPECT_EQ(CheckForDup("movie.avi", "other.avi"), 1);
  EXPECT_EQ(ui.boxes().size(), 4u);
}
