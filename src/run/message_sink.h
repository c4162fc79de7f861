// The worker's way of telling the user something: a failure report (a message
// box in a windowed front end) or a diagnostic line for standard output. The
// front end decides how each is shown (a terminal line, a dialog, a test
// recorder); the worker never waits on the user.
#pragma once

class CMessageSink {
public:
    virtual ~CMessageSink() = default;
    // caption and text are the system's own texts; detail says what failed and
    // where (may be empty).
    virtual void ShowMessage(const char* caption, const char* text, const char* detail) = 0;
    // One line meant for standard output, without its newline.
    virtual void WriteDiagnostic(const char* line) = 0;
    // Something the user should know that does not stop the run, one line
    // without its newline. Sinks that show nothing may leave it out.
    virtual void WriteWarning(const char* /*line*/) {}
};
