// Writing result files safely: never through a symbolic link, never into
// a FIFO or a device, every write and close checked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// ": reason" from errno, or nothing.
std::string Reason();

// Opens name for writing without changing it: never through a symbolic
// link, never blocking (a FIFO would wait for a reader for ever), and only if
// it is a regular file. A file that does not exist is created (mode 0666 less
// the umask) and *created says so. text is the failure's message.
std::FILE* OpenUnchanged(const std::string& name, const char* text, bool* created);
// Empties an open file and starts writing it from the beginning.
void Truncate(std::FILE* file, const std::string& what);
// Truncate, for a result file name open as *file; a file with other hard
// links (a snapshot taken with cp -al, say) is not emptied but replaced by a
// new empty file under name, so that the other links keep what they hold.
void Renew(std::FILE*& file, const std::string& name, const std::string& what);
// The bytes of an open file, what the stream holds handed to the system first.
uint64_t LengthOf(std::FILE* file, const std::string& what);
// A run that goes on from a checkpoint: the open file name cut back to its
// first length bytes and written on from there. A file shorter than that
// has been changed since the checkpoint (InputException).
void CutTo(std::FILE* file, uint64_t length, const std::string& name);
void WriteChecked(std::FILE* file, const void* data, size_t size, size_t count,
                  const std::string& what);
void FlushChecked(std::FILE* file, const std::string& what);
// Closes *file and forgets it whatever the outcome: a failed close has
// released the stream too.
void CloseChecked(std::FILE*& file, const std::string& what);

// A text result file (a table), open from Open to Close; the destructor
// closes it with what was written.
class CTextResultFile {
public:
    explicit CTextResultFile(std::string name) : m_name(std::move(name)) {}
    ~CTextResultFile();
    CTextResultFile(const CTextResultFile&) = delete;
    CTextResultFile& operator=(const CTextResultFile&) = delete;

    // Opens the file without changing it; a failure leaves no file of its own.
    void OpenFile();
    // Empties it (Renew).
    void Start();
    // The bytes written so far (Flush first).
    uint64_t Length();
    // Instead of Start: CutTo.
    void CutTo(uint64_t length);
    // Closes it unchanged and removes it if OpenFile created it.
    void Discard();
    // OpenFile, then Start.
    void Open();
    // The stream to print into, between Open and Close; borrowed, not freed.
    std::FILE* Stream() const { return m_file; }
    // Hands what was printed to the system; a failed write is a
    // ComputeException naming the file.
    void Flush();
    void Close();
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    std::FILE* m_file = nullptr; // owned between Open and Close
    bool m_created = false;      // OpenFile created the file
};
