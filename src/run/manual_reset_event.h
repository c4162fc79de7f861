// A manual-reset event: once set it stays set and releases every waiter until
// it is reset. The run control uses it as the pause gate (set = may run).
#pragma once

#include <condition_variable>
#include <mutex>

class CManualResetEvent {
public:
    explicit CManualResetEvent(bool initiallySet) : m_set(initiallySet) {}
    CManualResetEvent(const CManualResetEvent&) = delete;
    CManualResetEvent& operator=(const CManualResetEvent&) = delete;

    void Set() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_set = true;
        }
        m_changed.notify_all();
    }

    void Reset() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_set = false;
    }

    // Blocks without a time-out until the event is set.
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set;
};
