// The terminal display of a run: its values and its keys.
#include "app/key_controller.h"
#include "app/progress_view.h"
#include "run/run_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(ProgressView, PercentTruncatesTowardZeroAndIsZeroWithoutSpan) {
    EXPECT_EQ(ProgressPercent(2.0, 0.0, 3.0), 66);
    EXPECT_EQ(ProgressPercent(-1.0, 0.0, 3.0), -33);
    EXPECT_EQ(ProgressPercent(5.0, 5.0, 5.0), 0); // end equals start
    EXPECT_EQ(ProgressPercent(std::numeric_limits<double>::quiet_NaN(), 0.0, 1.0), 0);
    EXPECT_EQ(ProgressPercent(1e300, 0.0, 1e-300), 0); // not finite
}

TEST(ProgressView, RefreshFollowsTheRunControlThroughItsCaches) {
    CRunControl control("models/plume");
    CProgressView view;
    control.SetStatus("Simulating ...");
    control.SetStartTime(0.0);
    control.SetEndTime(10.0);
    control.SetCurrentTime(2.5);
    EXPECT_TRUE(view.Refresh(control));
    EXPECT_EQ(view.m_startText, "0"); // never changed from 0.0: template text
    EXPECT_EQ(view.m_endText, "10");
    EXPECT_EQ(view.m_currentText, "2.5"); // three significant digits
    EXPECT_EQ(view.m_progress, 25);
    EXPECT_EQ(view.m_statusText + " " + view.m_fileText, "Simulating ... models/plume");
    EXPECT_EQ(control.IsChanged(), 0);

    // No change flagged: nothing is read.
    EXPECT_FALSE(view.Refresh(control));

    // The bar moves only with the current time.
    control.SetEndTime(5.0);
    EXPECT_TRUE(view.Refresh(control));
    EXPECT_EQ(view.m_progress, 25);
    control.SetProgress(4.999, 0.0, 3);
    view.Refresh(control);
    EXPECT_EQ(view.m_progress, 99);
    EXPECT_EQ(view.m_reducedText, "3");

    control.SetStatus(nullptr);
    view.Refresh(control);
    EXPECT_EQ(view.m_statusText, "");
}

void IdleWorker(CRunControl* control) {
    while (control->CheckContinue() && !control->IsCancelled())
        control->SetStatus("working");
    control->SetFinished();
}

// p pauses, r resumes; c (or Ctrl-C) asks, and yes wakes a paused worker.
TEST(KeyController, PauseResumeAndACancelThatAsksFirst) {
    CRunControl control("m");
    CKeyController keys(control);
    EXPECT_FALSE(keys.HandleKey('r')); // Resume starts disabled
    EXPECT_TRUE(keys.HandleKey('p'));
    EXPECT_EQ(control.IsPaused(), 1);
    EXPECT_FALSE(keys.HandleKey('p'));
    EXPECT_TRUE(keys.HandleKey('r'));
    EXPECT_EQ(control.IsPaused(), 0);
    EXPECT_FALSE(keys.HandleKey('x'));
    keys.HandleKey('p');
    control.StartWorker(IdleWorker);

    EXPECT_TRUE(keys.HandleKey('c'));
    EXPECT_TRUE(keys.Asking());
    EXPECT_TRUE(keys.HandleKey('n')); // No: nothing changes
    EXPECT_FALSE(keys.Asking());
    EXPECT_EQ(control.IsCancelled(), 0);

    EXPECT_TRUE(keys.HandleKey(KEY_CTRL_C));
    EXPECT_TRUE(keys.HandleKey('y'));
    EXPECT_EQ(control.IsCancelled(), 1);
    control.JoinWorker(); // the paused worker woke up and stopped
    EXPECT_EQ(control.IsRunning(), 0);
    // The buttons keep the states they had.
    EXPECT_FALSE(keys.Buttons().pauseEnabled);
    EXPECT_TRUE(keys.Buttons().resumeEnabled);
    // Nothing to abort any more.
    EXPECT_FALSE(keys.HandleKey('c'));
    // A cancel stays: resuming does not undo it.
    control.Resume();
    EXPECT_EQ(control.CheckContinue(), 0);
}

} // namespace
