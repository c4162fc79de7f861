// The progress display as lines of text, ready for a terminal.
#pragma once

#include "app/progress_view.h"

#include <string>
#include <vector>

constexpr const char* PROGRESS_TITLE = "KOVA Vellum Compute";
constexpr const char* ABORT_QUESTION = "Do you want to abort this simulation? [y/N]";

// The display's lines (always the same number), each cut to `width` columns.
// keysActive: the run can still be paused or cancelled from the keyboard.
std::vector<std::string> RenderProgressLines(const CProgressView& view, const CButtonState& buttons,
                                             bool asking, bool keysActive, int width);
