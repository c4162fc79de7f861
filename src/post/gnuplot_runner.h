// Runs gnuplot on a plot job: the script and its data go to a private
// temporary directory, gnuplot (or the program named by KOVA_GNUPLOT, for an
// unusual installation or a stand-in in tests) runs the script without a
// shell, and the picture is checked to be a PNG file.
//
// gnuplot never writes the picture itself: it draws into a temporary file
// beside it, which replaces the picture only once gnuplot has succeeded. A
// gnuplot that fails, or is stopped, leaves an existing picture as it was.
#pragma once

#include "post/interrupt_cleanup.h"
#include "post/plot_scripts.h"

#include <memory>
#include <string>

// The picture while it is drawn: a fresh temporary file in the picture's own
// folder, so that putting it in place is one rename on one file system. It
// is removed when the object goes, unless Commit put it in place.
class CPictureFile {
public:
    // Throws ResultException when outPath names a folder or its folder takes
    // no new file.
    explicit CPictureFile(const std::string& outPath);
    ~CPictureFile();
    CPictureFile(const CPictureFile&) = delete;
    CPictureFile& operator=(const CPictureFile&) = delete;

    const std::string& OutPath() const { return m_outPath; }
    // Where gnuplot is to draw.
    const std::string& DrawPath() const { return m_drawPath; }
    // Renames the drawing over the picture; throws ResultException.
    void Commit();

private:
    const std::string m_outPath;
    std::string m_drawPath;
    std::unique_ptr<CCleanupPath> m_cleanup;
    CInterruptNote m_note;
    bool m_committed = false;
};

// Runs the job, which draws into picture.DrawPath(), and on success puts the
// picture in place. Throws ResultException when gnuplot cannot be started,
// fails, or leaves no PNG file.
void RunGnuplot(const CPlotJob& job, CPictureFile& picture);

// Whether the file starts with the PNG signature.
bool IsPngFile(const std::string& path);
