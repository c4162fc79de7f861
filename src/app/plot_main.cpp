// kova-plot BASE ... -o FILE.png: a quick-look picture of a run's results, a
// field at one record or a breakthrough curve at one node, drawn by gnuplot.
#include "post/plot_command.h"
#include "run/platform.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    const CPlotOptions options = ParsePlotOptions(std::vector<std::string>(argv + 1, argv + argc));
    return PostToolMain("kova-plot", PLOT_USAGE, options, std::cout, std::cerr,
                        [&] { return RunPlot(options, std::cout, std::cerr); });
}
