#include "app/key_controller.h"

#include "run/run_control.h"

bool CKeyController::HandleKey(char key) {
    if (m_asking) {
        // Yes cancels and wakes a paused worker so it sees the cancel; any
        // other key answers No. The buttons keep their states either way.
        m_asking = false;
        if (key == 'y' || key == 'Y') {
            m_runControl.Cancel();
            m_runControl.Resume();
        }
        return true;
    }
    switch (key) {
    case 'p':
    case 'P':
        if (!m_buttons.pauseEnabled)
            return false;
        m_buttons.pauseEnabled = false;
        m_buttons.resumeEnabled = true;
        m_runControl.Pause();
        return true;
    case 'r':
    case 'R':
        if (!m_buttons.resumeEnabled)
            return false;
        m_buttons.pauseEnabled = true;
        m_buttons.resumeEnabled = false;
        m_runControl.Resume();
        return true;
    case 'c':
    case 'C':
    case KEY_CTRL_C:
        // Only a running worker is asked about; after its end there is
        // nothing to abort.
        if (!m_runControl.IsRunning())
            return false;
        m_asking = true;
        return true;
    default:
        return false;
    }
}
