// Runs gnuplot on a plot job: the script and its data go to a private
// temporary directory, gnuplot (or the program named by KOVA_GNUPLOT, for an
// unusual installation or a stand-in in tests) runs the script without a
// shell, and the picture is checked to be a PNG file.
//
// gnuplot never writes the picture itself: it draws into a temporary file
// beside it, which replaces the picture only once gnuplot has succeeded. A
// gnuplot that fails, or is stopped, leaves an existing picture as it was.
#pragma once

#include "post/plot_scripts.h"
#include "post/replaced_file.h"

#include <string>

// The picture while it is drawn: a fresh temporary file in the picture's own
// folder (see post/replaced_file.h), where gnuplot draws.
class CPictureFile : public CReplacedFile {
public:
    explicit CPictureFile(const std::string& outPath) : CReplacedFile(outPath, "picture file") {}
    const std::string& DrawPath() const { return TempPath(); }
};

// Runs the job, which draws into picture.DrawPath(), and on success puts the
// picture in place. Throws ResultException when gnuplot cannot be started,
// fails, or leaves no PNG file.
void RunGnuplot(const CPlotJob& job, CPictureFile& picture);

// Whether the file starts with the PNG signature.
bool IsPngFile(const std::string& path);
