// The terminal display of a run: its values and its keys.
#include "app/key_controller.h"
#include "app/progress_view.h"
#include "run/run_control.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ProgressView, PercentTruncatesTowardZeroAndIsZeroWithoutSpan) {
    EXPECT_EQ(ProgressPercent(2.0, 0.0, 3.0), 66);
    EXPECT_EQ(ProgressPercent(-1.0, 0.0, 3.0), -33);
    EXPECT_EQ(ProgressPercent(5.0, 5.0, 5.0), 0); // end equals start
    EXPECT_EQ(ProgressPercent(std::numeric_limits<double>::quiet_NaN(), 0.0, 1.0), 0);
    EXPECT_EQ(ProgressPercent(1e300, 0.0, 1e-300), 0); // not finite
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
