#include <gtest/gtest.h>

#include <string>

#include "fresh_process.h"
#include "kavutil/status.h"
#include "ui/recording_backend.h"
#include "ui/status_internal.h"

using kav::ui::Event;
using kav::ui::EventKind;
using kav::ui::RecordingBackend;

namespace {

int cancels = 0;
void KAVAPI onCancel() { ++cancels; }

const Event kPress{EventKind::Command, 2};

}  // namespace

TEST(StatusWindow, ClassNameCarriesTheInstanceAndOwnerStandsInWithoutAWindow) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(reinterpret_cast<void *>(uintptr_t{0x51A2F}), 9, 0);
    EXPECT_EQ(StatusGetHWND(), 9);
    StatusMessage("before", 0);  // no window: owned by the owner, no caption
    ASSERT_EQ(StatusOpen("Cap", "Second", nullptr), 1);
    EXPECT_EQ(kav::ui::statusClassName(), "KAVSTATUSBKCP");
    EXPECT_EQ(StatusOpen("Again", "x", nullptr), 0);  // the class is taken
    EXPECT_EQ(StatusGetHWND(), 9);                    // hidden until the first StatusSet
    StatusSet("Working");
    EXPECT_EQ(StatusGetHWND(), KAV_STATUS_WINDOW);
    StatusMessage("during", 1);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, 9);
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].icon, kav::ui::Icon::Information);
    EXPECT_EQ(boxes[1].owner, KAV_STATUS_WINDOW);
    EXPECT_EQ(boxes[1].caption, "Cap");
    EXPECT_EQ(boxes[1].icon, kav::ui::Icon::Error);
    EXPECT_EQ(StatusClose(0), 1);
    EXPECT_EQ(StatusClose(0), 0);  // nothing registered any more
  });
}

TEST(StatusWindow, CancelAnsweredNoLeavesTheJobRunning) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    ASSERT_EQ(StatusOpen("Cap", "Second", onCancel), 1);
    StatusSet("Frame 1");
    ui.scriptEvents({kPress});
    ui.scriptAnswers({kav::ui::kNo});
    EXPECT_EQ(StatusCheck(), 0);
    EXPECT_EQ(kav::ui::statusLine(), "Do you want to cancel? No.");
    EXPECT_EQ(cancels, 0);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Do you want to cancel?");
    EXPECT_EQ(boxes[0].buttons, kav::ui::Buttons::YesNo);
    EXPECT_EQ(boxes[0].defaultButton, 1);  // No is the default
    EXPECT_EQ(boxes[0].icon, kav::ui::Icon::Question);
    EXPECT_EQ(ui.statusViews().back().status, "Do you want to cancel? No.");
    StatusClose(0);
  });
}

TEST(StatusWindow, ConfirmedCancelCallsTheRoutineOnceAndAsksNoMore) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    ASSERT_EQ(StatusOpen("Cap", "Second", onCancel), 1);
    StatusSet("Frame 1");
    ui.scriptEvents({kPress});
    ui.scriptAnswers({kav::ui::kYes});
    StatusCheck();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(kav::ui::statusLine(), "Do you want to cancel? Yes.");
    ui.scriptEvents({kPress, {EventKind::EndSession, 0}, kPress});
    EXPECT_EQ(StatusCheck(), 0);
    EXPECT_EQ(StatusDoCancel(), 1);
    EXPECT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(cancels, 1);
    // A close box after a confirmed cancel destroys the window at once; the
    // pump then sees the quit message.
    ui.scriptEvents({{EventKind::Close, 0}});
    EXPECT_NE(StatusCheck(), 0);
    EXPECT_EQ(StatusGetHWND(), KAV_NO_WINDOW);
    StatusClose(1);
    EXPECT_EQ(ui.waits(), 0);
  });
}

TEST(StatusWindow, CloseSendsTheRecordAndWaitsOnlyForAShownWindow) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, 5, 0);
    ASSERT_EQ(StatusOpen("Converting", "a.avi to b.flc", nullptr), 1);
    StatusSet("Frame 300 of 300");
    ui.scriptEvents({kPress});  // the user presses Done
    EXPECT_EQ(StatusClose(1), 1);
    EXPECT_EQ(ui.waits(), 1);
    EXPECT_EQ(ui.statusViews().back().button, "&Done");
    EXPECT_TRUE(ui.boxes().empty());  // Done asks nothing
    const auto records = ui.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].owner, 5);
    EXPECT_EQ(records[0].tag, 0x1234u);
    std::string expected = "Converting - a.avi to b.flc\r\n  Frame 300 of 300";
    expected.push_back('\0');  // the length counts the terminator
    EXPECT_EQ(records[0].data, expected);
  });
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    ASSERT_EQ(StatusOpen("Cap", "x", nullptr), 1);
    StatusClose(1);  // never shown: no wait
    EXPECT_EQ(ui.waits(), 0);
    EXPECT_TRUE(ui.records().empty());  // no owner, no record
    ASSERT_EQ(StatusOpen("Cap", "x", nullptr), 1);
    StatusSet("shown");
    StatusClose(0);  // at once
    EXPECT_EQ(ui.waits(), 0);
    StatusInit(nullptr, KAV_NO_WINDOW, 1);
    ASSERT_EQ(StatusOpen("Cap", "x", nullptr), 1);
    StatusSet("shown");
    StatusClose(1);  // the no-wait flag wins
    EXPECT_EQ(ui.waits(), 0);
    ASSERT_EQ(StatusOpen("Cap", "x", nullptr), 1);
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    StatusSet("shown");
    StatusClose(1);  // nobody can press Done: the wait ends by itself
    EXPECT_EQ(ui.waits(), 1);
  });
}

// The quit of a terminate or hang-up also cancels the job, without a
// question: nobody is there to answer it.
TEST(StatusWindow, QuitMessageMakesThePumpForgetTheWindow) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, 3, 0);
    ASSERT_EQ(StatusOpen("Cap", "x", onCancel), 1);
    StatusSet("shown");
    ui.scriptEvents({{EventKind::Quit, 0}, {EventKind::Quit, 0}});
    EXPECT_NE(StatusCheck(), 0);
    EXPECT_NE(StatusCheck(), 0);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(StatusDoCancel(), 1);
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(StatusGetHWND(), 3);
    StatusSet("ignored");
    EXPECT_EQ(ui.statusViews().back().status, "shown");
    StatusClose(1);
    EXPECT_EQ(ui.waits(), 0);
    EXPECT_TRUE(ui.records().empty());  // no window any more: no record
  });
}

TEST(StatusWindow, OverlongTextsAreCutNotOverrun) {
  KAV_IN_FRESH_PROCESS([] {
    RecordingBackend ui;
    StatusInit(nullptr, KAV_NO_WINDOW, 0);
    ASSERT_EQ(StatusOpen("Cap", std::string(300, 's').c_str(), nullptr), 1);
    StatusSet(std::string(500, 'x').c_str());
    EXPECT_EQ(kav::ui::statusLine().size(), 95u);
    ui.scriptAnswers({kav::ui::kYes});
    EXPECT_EQ(StatusAsk(std::string(200, 'q').c_str(), 0), 1);
    EXPECT_EQ(kav::ui::statusLine().size(), 95u);
    EXPECT_EQ(kav::ui::statusLine().substr(90), " Yes.");
    EXPECT_EQ(ui.boxes().back().text.size(), 200u);  // the box shows it whole
    StatusClose(0);
  });
}
