// The worker's way of telling the user about a failure. The front end decides
// how a message is shown (a terminal line, a dialog, a test recorder); the
// worker never blocks on it beyond the call itself.
#pragma once

class CMessageSink {
public:
    virtual ~CMessageSink() = default;
    // caption and text are the system's own texts; detail says what failed and
    // where (may be empty).
    virtual void ShowMessage(const char* caption, const char* text, const char* detail) = 0;
};
