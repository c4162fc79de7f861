// The display's keys: p pauses, r resumes, c (or Ctrl-C) asks whether to abort.
// Pause and Resume behave like two buttons that enable each other; a key whose
// button is disabled does nothing.
#pragma once

#include "app/progress_view.h"

class CRunControl;

constexpr char KEY_CTRL_C = 0x03;

class CKeyController {
public:
    explicit CKeyController(CRunControl& runControl) : m_runControl(runControl) {}

    // Acts on one key; returns true when the display must be redrawn.
    bool HandleKey(char key);

    const CButtonState& Buttons() const { return m_buttons; }
    // The abort question is waiting for its answer.
    bool Asking() const { return m_asking; }
    // Forgets an unanswered question (the run has ended meanwhile).
    void DropQuestion() { m_asking = false; }

private:
    CRunControl& m_runControl;
    CButtonState m_buttons;
    bool m_asking = false;
};
