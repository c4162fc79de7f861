// A file the post tools write (a picture, an export) is never written in
// place: it is written as a fresh temporary file in the target's own folder
// and renamed over the target once it is whole. A tool that fails, runs out
// of disk or is stopped leaves the earlier file as it was; a link at the
// target is replaced, not written through; and nothing but a regular file or
// a link is replaced at all, so a device or a FIFO named by mistake stays as
// it is.
#pragma once

#include "post/interrupt_cleanup.h"

#include <memory>
#include <string>

// Throws ResultException when path names something a file must not replace:
// a folder (or a link to one), a device, a FIFO or a socket. what names the
// file that was to be written there ("picture file").
void CheckReplaceable(const std::string& path, const std::string& what);

// The temporary file is removed when the object goes, unless Commit put it
// in place, and by the interrupt handler if the tool is stopped first.
class CReplacedFile {
public:
    // Throws ResultException when outPath cannot be replaced (CheckReplaceable)
    // or its folder takes no new file.
    CReplacedFile(const std::string& outPath, const std::string& what);
    ~CReplacedFile();
    CReplacedFile(const CReplacedFile&) = delete;
    CReplacedFile& operator=(const CReplacedFile&) = delete;

    const std::string& OutPath() const { return m_outPath; }
    // Where the new file is written, by Write or by another library or program.
    const std::string& TempPath() const { return m_tempPath; }

    // Appends to the temporary file, buffered; throws ResultException.
    void Write(const std::string& text);
    // Writes out the buffer, closes the temporary file and renames it over
    // the target; throws ResultException.
    void Commit();
    // Throws ResultException: "OUT: cannot write the WHAT (cause)".
    [[noreturn]] void Fail(const std::string& cause) const;

private:
    void Flush();
    // Closes and removes the temporary file.
    void Discard();

    const std::string m_outPath;
    const std::string m_what;
    std::string m_tempPath;
    std::unique_ptr<CCleanupPath> m_cleanup; // the handler's note of m_tempPath
    CInterruptNote m_note;
    int m_fd = -1;
    std::string m_buffer;
    bool m_committed = false;
};
