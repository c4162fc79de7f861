#include "run/run_control.h"

#include "run/message_sink.h"

#include <cstdio>

using Guard = std::lock_guard<std::mutex>;

CRunControl::CRunControl(const char* fileName) : m_fileName(fileName ? fileName : "") {}

CRunControl::~CRunControl() {
    JoinWorker();
}

void CRunControl::StartWorker(WorkerEntry entry) {
    Guard guard(m_lock);
    m_running = 1;
    try {
        m_worker = std::thread(entry, this);
    } catch (...) {
        m_running = 0; // no worker runs: nothing to wait for
        throw;
    }
}

void CRunControl::JoinWorker() {
    if (m_worker.joinable())
        m_worker.join();
}

void CRunControl::Pause() {
    Guard guard(m_lock);
    m_pauseEvent.Reset();
    m_paused = 1;
}

void CRunControl::Resume() {
    Guard guard(m_lock);
    m_pauseEvent.Set();
    m_paused = 0;
}

void CRunControl::Cancel() {
    Guard guard(m_lock);
    m_cancelled = 1;
}

void CRunControl::SetFinished() {
    Guard guard(m_lock);
    m_running = 0;
}

void CRunControl::SetError(const char* text) {
    Guard guard(m_lock);
    if (text)
        m_error = std::string(text);
    else
        m_error.reset();
}

void CRunControl::ClearChanged() {
    Guard guard(m_lock);
    m_changed = 0;
}

int CRunControl::CheckContinue() {
    // The wait is outside the lock so that Resume can take it to wake us.
    m_pauseEvent.Wait();
    Guard guard(m_lock);
    return m_cancelled == 0 ? 1 : 0;
}

void CRunControl::SetAbandonable() {
    Guard guard(m_lock);
    m_abandonable = 1;
}

bool CRunControl::EndAbandonable() {
    Guard guard(m_lock);
    m_abandonable = 0;
    return m_cancelled == 0;
}

bool CRunControl::Abandon() {
    Guard guard(m_lock);
    m_cancelled = 1;
    return m_abandonable != 0;
}

void CRunControl::SetProgress(double currentTime, double minLocalStep, int reducedNodes) {
    Guard guard(m_lock);
    m_currentTime = currentTime;
    m_minLocalStep = minLocalStep;
    m_reducedNodes = reducedNodes;
    m_changed = 1;
}

void CRunControl::SetStartTime(double value) {
    Guard guard(m_lock);
    m_startTime = value;
    m_changed = 1;
}

void CRunControl::SetCurrentTime(double value) {
    Guard guard(m_lock);
    m_currentTime = value;
    m_changed = 1;
}

void CRunControl::SetEndTime(double value) {
    Guard guard(m_lock);
    m_endTime = value;
    m_changed = 1;
}

void CRunControl::SetGlobalStep(double value) {
    Guard guard(m_lock);
    m_globalStep = value;
    m_changed = 1;
}

void CRunControl::SetMinLocalStep(double value) {
    Guard guard(m_lock);
    m_minLocalStep = value;
    m_changed = 1;
}

void CRunControl::LowerMinLocalStep(double value) {
    Guard guard(m_lock);
    m_minLocalStep = m_minLocalStep < value ? m_minLocalStep : value;
    m_changed = 1;
}

void CRunControl::SetStatus(const char* text) {
    Guard guard(m_lock);
    if (text)
        m_status = std::string(text);
    else
        m_status.reset();
    m_changed = 1;
}

double CRunControl::GetStartTime() {
    Guard guard(m_lock);
    return m_startTime;
}

double CRunControl::GetCurrentTime() {
    Guard guard(m_lock);
    return m_currentTime;
}

double CRunControl::GetEndTime() {
    Guard guard(m_lock);
    return m_endTime;
}

double CRunControl::GetGlobalStep() {
    Guard guard(m_lock);
    return m_globalStep;
}

double CRunControl::GetMinLocalStep() {
    Guard guard(m_lock);
    return m_minLocalStep;
}

int CRunControl::GetReducedNodes() {
    Guard guard(m_lock);
    return m_reducedNodes;
}

int CRunControl::IsRunning() {
    Guard guard(m_lock);
    return m_running;
}

int CRunControl::IsChanged() {
    Guard guard(m_lock);
    return m_changed;
}

int CRunControl::IsPaused() {
    Guard guard(m_lock);
    return m_paused;
}

int CRunControl::IsCancelled() {
    Guard guard(m_lock);
    return m_cancelled;
}

int CRunControl::HasError() {
    Guard guard(m_lock);
    return m_error ? 1 : 0;
}

std::optional<std::string> CRunControl::GetStatus() {
    Guard guard(m_lock);
    return m_status;
}

void CRunControl::SetTimingReport(const std::string& text) {
    Guard guard(m_lock);
    m_timingReport = text;
}

std::string CRunControl::GetTimingReport() {
    Guard guard(m_lock);
    return m_timingReport;
}

void CRunControl::SetBudgetSummary(const std::string& text) {
    Guard guard(m_lock);
    m_budgetSummary = text;
}

std::string CRunControl::GetBudgetSummary() {
    Guard guard(m_lock);
    return m_budgetSummary;
}

void CRunControl::WriteDiagnostic(const char* line) {
    if (m_sink) {
        m_sink->WriteDiagnostic(line);
        return;
    }
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
