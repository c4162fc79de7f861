// A checkpoint file (BASE.kvr): what a run needs to go on, as a sequence of
// little-endian values behind a signature and a format version, closed by
// a 64-bit XXH3 digest of every byte before it. What the values are, and
// in which order, is the business of the run that writes and reads them
// (sim/run_checkpoint.cpp); this file keeps the container sound:
//
// - a checkpoint replaces the one before without a moment when neither is
//   whole: it is written whole into BASE.kvr.part and handed to the system;
//   then the checkpoint before is renamed BASE.kvr.prev and the new one
//   BASE.kvr. A run killed at any instant leaves the new checkpoint in
//   BASE.kvr or the one before in BASE.kvr or BASE.kvr.prev, never a part of
//   either. (Renaming over BASE.kvr would do in one step, but ext4 then
//   starts writing the new file out at once, which took some 3 ms of every
//   record's time.)
// - a checkpoint is read only once its digest matches: a damaged or cut
//   file is refused before any of its values is used, and every value read
//   is checked against what the reader expects, naming it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct XXH3_state_s;

// The checkpoint file of a base, and where the one before waits while a new
// one takes its name.
std::string CheckpointFileName(const std::string& base);
std::string PreviousCheckpointFileName(const std::string& base);

// Bumped whenever what a checkpoint holds changes: a checkpoint of another
// format is refused, never read as this one.
constexpr uint32_t CHECKPOINT_FORMAT = 1;

// The 64-bit XXH3 digest of a whole file's bytes (a model file or an
// extension file, to tell whether it changed since a checkpoint).
uint64_t FileDigest(const std::string& path);

// One checkpoint being written. Commit makes it BASE.kvr; a writer that is
// destroyed before Commit removes what it wrote and leaves BASE.kvr as it
// was. A failure to write is a ComputeException naming the file.
class CCheckpointOut {
public:
    explicit CCheckpointOut(const std::string& base);
    ~CCheckpointOut();
    CCheckpointOut(const CCheckpointOut&) = delete;
    CCheckpointOut& operator=(const CCheckpointOut&) = delete;

    void Bytes(const void* data, size_t size);
    void Int(int64_t value) { Bytes(&value, sizeof value); }
    void Double(double value) { Bytes(&value, sizeof value); }
    void Text(const std::string& text);
    void Doubles(const double* values, size_t count) { Bytes(values, count * sizeof(double)); }
    void Doubles(const std::vector<double>& values);
    void Ints(const int* values, size_t count) { Bytes(values, count * sizeof(int)); }

    // The digest, then the file handed to the system and renamed over BASE.kvr.
    void Commit();

private:
    std::string m_name;     // BASE.kvr
    std::string m_part;     // BASE.kvr.part, written first
    std::string m_previous; // BASE.kvr.prev
    std::FILE* m_file = nullptr;
    XXH3_state_s* m_digest = nullptr; // owned
};

// A checkpoint being read (BASE.kvr, or BASE.kvr.prev when a run was killed
// between the renames): opened only when its signature, format and digest
// are sound (InputException otherwise, naming the file and why).
// Each value is taken in the order it was written; a read past the end or
// a count beyond what the reader allows is an InputException naming what.
class CCheckpointIn {
public:
    explicit CCheckpointIn(const std::string& base);
    ~CCheckpointIn();
    CCheckpointIn(const CCheckpointIn&) = delete;
    CCheckpointIn& operator=(const CCheckpointIn&) = delete;

    void Bytes(void* data, size_t size, const char* what);
    int64_t Int(const char* what);
    // A whole number in low..high.
    int64_t IntIn(int64_t low, int64_t high, const char* what);
    double Double(const char* what);
    std::string Text(const char* what);
    void Doubles(double* values, size_t count, const char* what);
    // A count in 0..most, then that many values.
    std::vector<double> Doubles(size_t most, const char* what);
    void Ints(int* values, size_t count, const char* what);
    // Every value has been taken: bytes left over are refused.
    void End();

    const std::string& Name() const { return m_name; }
    // A refusal of the checkpoint: its name and why.
    [[noreturn]] void Refuse(const std::string& why) const;

private:
    std::string m_name;
    std::FILE* m_file = nullptr;
    uint64_t m_left = 0; // bytes before the digest not yet taken
};
