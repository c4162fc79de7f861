// The run's progress as one JSON object a line, for programs that follow a
// run (the Python package's progress bar): kova-compute --progress=json.
//
//   {"status":"Simulating ...","time":23.7,"start":0,"end":60,
//    "fraction":0.395,"step":0.0817,"reduced":0}
//
// time is the simulated time reached, fraction (time - start) / (end - start)
// kept within 0..1 (0 while the times are not known or when the run has no
// duration), step the global step the
// run computed (0 when the model gives one), reduced the nodes integrating
// with a reduced local step. Numbers have 17 significant digits.
#pragma once

#include <string>

struct CProgressState {
    std::string status;
    double time = 0.0;
    double start = 0.0;
    double end = 0.0;
    double step = 0.0;
    int reduced = 0;
};

// The line, without its newline.
std::string ProgressJsonLine(const CProgressState& state);

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);
