#include "run/run_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(RunControl, FreshObjectLetsTheWorkerGoOn) {
    CRunControl control("model");
    EXPECT_EQ(control.CheckContinue(), 1);
    EXPECT_EQ(control.IsRunning(), 0);
    EXPECT_EQ(control.IsChanged(), 1);
    EXPECT_EQ(control.HasError(), 0);
    EXPECT_FALSE(control.GetStatus().has_value());
    EXPECT_STREQ(control.GetFileName(), "model");
}

TEST(RunControl, SettersMarkChangedButSetErrorDoesNot) {
    CRunControl control("m");
    control.ClearChanged();
    control.SetError("Input Error");
    EXPECT_EQ(control.IsChanged(), 0);
    EXPECT_EQ(control.HasError(), 1);
    EXPECT_STREQ(control.GetError(), "Input Error");

    control.SetProgress(3.0, 0.25, 7);
    EXPECT_EQ(control.IsChanged(), 1);
    EXPECT_EQ(control.GetCurrentTime(), 3.0);
    EXPECT_EQ(control.GetMinLocalStep(), 0.25);
    EXPECT_EQ(control.GetReducedNodes(), 7);

    const struct {
        void (CRunControl::*set)(double);
        double (CRunControl::*get)();
    } pairs[] = {{&CRunControl::SetStartTime, &CRunControl::GetStartTime},
                 {&CRunControl::SetCurrentTime, &CRunControl::GetCurrentTime},
                 {&CRunControl::SetEndTime, &CRunControl::GetEndTime},
                 {&CRunControl::SetGlobalStep, &CRunControl::GetGlobalStep},
                 {&CRunControl::SetMinLocalStep, &CRunControl::GetMinLocalStep}};
    double value = 1.5;
    for (const auto& p : pairs) {
        control.ClearChanged();
        (control.*p.set)(value);
        EXPECT_EQ(control.IsChanged(), 1);
        EXPECT_EQ((control.*p.get)(), value);
        value += 1.0;
    }
}

TEST(RunControl, StatusIsCopiedAndNullClearsIt) {
    CRunControl control("m");
    control.SetStatus("Simulating ...");
    EXPECT_EQ(control.GetStatus().value(), "Simulating ...");
    control.SetStatus(nullptr);
    EXPECT_FALSE(control.GetStatus().has_value());
    control.SetError(nullptr);
    EXPECT_EQ(control.HasError(), 0);
}

TEST(RunControl, CancelIsSticky) {
    CRunControl control("m");
    control.Cancel();
    EXPECT_EQ(control.CheckContinue(), 0);
    control.Resume();
    EXPECT_EQ(control.CheckContinue(), 0);
    EXPECT_EQ(control.IsCancelled(), 1);
}

std::atomic<int> g_checkResult{-1};
std::atomic<bool> g_workerInCheck{false};

void PausedWorker(CRunControl* control) {
    g_workerInCheck = true;
    g_checkResult = control->CheckContinue();
    control->SetFinished();
}

TEST(RunControl, CancelThenResumeWakesAPausedWorker) {
    g_checkResult = -1;
    g_workerInCheck = false;
    CRunControl control("m");
    control.Pause();
    EXPECT_EQ(control.IsPaused(), 1);
    control.StartWorker(PausedWorker);
    EXPECT_EQ(control.IsRunning(), 1);
    while (!g_workerInCheck)
        std::this_thread::yield();
    // The worker stays blocked while paused, whatever the cancel flag says.
    control.Cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_checkResult.load(), -1);
    control.Resume();
    control.JoinWorker();
    EXPECT_EQ(g_checkResult.load(), 0);
    EXPECT_EQ(control.IsRunning(), 0);
    EXPECT_EQ(control.IsPaused(), 0);
}

TEST(RunControl, ResumeAfterPauseLetsTheWorkerGoOn) {
    g_checkResult = -1;
    g_workerInCheck = false;
    CRunControl control("m");
    control.Pause();
    control.StartWorker(PausedWorker);
    while (!g_workerInCheck)
        std::this_thread::yield();
    control.Resume();
    control.JoinWorker();
    EXPECT_EQ(g_checkResult.load(), 1);
}

} // namespace
