#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fresh_process.h"
#include "kavutil/dialog.h"
#include "ui/recording_backend.h"

using kav::ui::Event;
using kav::ui::EventKind;
using kav::ui::RecordingBackend;

namespace {

std::vector<int> commands;
std::atomic<int> closeSeen{0};
std::atomic<int> ticks{0};
int keepOpenFor = -1;  // the command the control callback keeps the dialog open for

int32_t KAVAPI control(int32_t command, void *) {
  commands.push_back(command);
  if (command == 2) closeSeen = 1;
  return command == keepOpenFor ? 1 : 0;
}

int32_t KAVAPI jobReturning0(int32_t, void *) { return 0; }
int32_t KAVAPI jobReturning5(int32_t value, void *) { return value; }

int32_t KAVAPI jobWaitingForClose(int32_t, void *) {
  for (int i = 0; i < 500 && !closeSeen; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return 7;
}

void KAVAPI onTick(void *) { ++ticks; }

int32_t KAVAPI jobWithTimer(int32_t, void *) {
  KAVDialogSetTimer(onTick, 5);
  for (int i = 0; i < 400 && ticks < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return 1;
}

const KAVDialogControl kControls[] = {{1, "&Start"}, {2, "&Cancel"}};
const KAVDialogTemplate kTemplate = {"Encoder", 2, kControls};

}  // namespace

TEST(ThreadedDialog, JobReturningZeroWaitsWithDoneThenTheButtonCloses) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    EXPECT_EQ(KAVDialogInit(&kTemplate, 4, 0, 1, 0, jobReturning0, control), 0);
    const auto views = ui.dialogViews();
    ASSERT_GE(views.size(), 2u);
    EXPECT_EQ(views.front().caption, "Encoder");
    EXPECT_EQ(views.back().caption, "Encoder - Done!");
    EXPECT_EQ(views.back().controls[1].second, "&Done");
    EXPECT_EQ(views.back().controls[0].second, "&Start");
    // Nobody at a terminal: Done is pressed for them.
    EXPECT_EQ(commands, std::vector<int>{2});
    EXPECT_EQ(ui.attached(), 0);
  });
}

TEST(ThreadedDialog, NonZeroResultOrAutoCloseEndsTheDialogByItself) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    EXPECT_EQ(KAVDialogInit(&kTemplate, KAV_NO_WINDOW, 5, 1, 0, jobReturning5, control), 5);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(ui.dialogViews().back().caption, "Encoder");  // no "Done" marking
    EXPECT_EQ(KAVDialogInit(&kTemplate, KAV_NO_WINDOW, 0, 1, 1, jobReturning0, control), 0);
    EXPECT_TRUE(commands.empty());
  });
}

TEST(ThreadedDialog, ClosingWhileTheJobRunsOnlyTellsTheControlCallback) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    keepOpenFor = 2;  // the callback keeps the dialog, so only the job's end closes it
    ui.scriptEvents({{EventKind::Close, 0}});
    EXPECT_EQ(KAVDialogInit(nullptr, KAV_NO_WINDOW, 0, 1, 0, jobWaitingForClose, control), 7);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), 2);
    // The default template: the program's name and one Cancel button.
    const auto first = ui.dialogViews().front();
    ASSERT_EQ(first.controls.size(), 1u);
    EXPECT_EQ(first.controls[0], (std::pair<int, std::string>{2, "&Cancel"}));
    EXPECT_FALSE(first.caption.empty());
  });
}

TEST(ThreadedDialog, CommandsReachTheCallbackAndTheTimerTicks) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    keepOpenFor = 1;
    ui.scriptEvents({{EventKind::Command, 1}});
    EXPECT_EQ(KAVDialogInit(&kTemplate, KAV_NO_WINDOW, 0, 1, 0, jobWithTimer, control), 1);
    EXPECT_GE(ticks.load(), 3);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), 1);
    EXPECT_EQ(KAVDialogSetTimer(onTick, 5), 0);  // no dialog any more
  });
}

TEST(ThreadedDialog, BadTemplateReportsAndStartsNoJob) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    const KAVDialogTemplate bad = {"x", -1, nullptr};
    EXPECT_EQ(KAVDialogInit(&bad, 8, 0, 1, 0, jobReturning5, control), 0);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Couldn't create window.");
    EXPECT_EQ(boxes[0].owner, 8);  // without a dialog, the parent owns the box
  });
}

TEST(ThreadedDialog, QuestionAndMessageButtonSets) {
  RecordingBackend ui;
  ui.scriptAnswers({kav::ui::kCancel, kav::ui::kYes, kav::ui::kNo, kav::ui::kCancel, kav::ui::kOk});
  EXPECT_EQ(KAVDialogAsk("q1", 0x20), 2);
  EXPECT_EQ(KAVDialogAsk("q2", 1), 1);
  EXPECT_EQ(KAVDialogAsk("q3", 0), 0);
  EXPECT_EQ(KAVDialogMessage("m1", 0x22), 2);
  EXPECT_EQ(KAVDialogMessage("m2", 0), 0);
  const auto b = ui.boxes();
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(b[0].buttons, kav::ui::Buttons::YesNoCancel);
  EXPECT_EQ(b[0].defaultButton, 1);  // No
  EXPECT_EQ(b[0].icon, kav::ui::Icon::Question);
  EXPECT_EQ(b[1].buttons, kav::ui::Buttons::YesNo);
  EXPECT_EQ(b[1].defaultButton, 0);  // Yes
  EXPECT_EQ(b[2].defaultButton, 1);
  EXPECT_EQ(b[3].buttons, kav::ui::Buttons::OkCancel);
  EXPECT_EQ(b[3].defaultButton, 1);  // Cancel
  EXPECT_EQ(b[3].icon, kav::ui::Icon::Information);
  EXPECT_EQ(b[4].buttons, kav::ui::Buttons::Ok);
}
