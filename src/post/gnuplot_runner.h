// Runs gnuplot on a plot job: the script and its data go to a private
// temporary directory, gnuplot (or the program named by KOVA_GNUPLOT) runs
// the script without a shell, and the picture is checked to be a PNG file.
#pragma once

#include "post/plot_scripts.h"

#include <string>

// Throws ResultException when gnuplot cannot be started, fails, or leaves no
// PNG at outPath.
void RunGnuplot(const CPlotJob& job, const std::string& outPath);

// Whether the file starts with the PNG signature.
bool IsPngFile(const std::string& path);
