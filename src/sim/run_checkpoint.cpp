#include "sim/run_checkpoint.h"

#include "io/checkpoint_file.h"
#include "io/extension_file.h"
#include "io/model_file.h"
#include "io/run_output.h"
#include "model/exact_sum.h"
#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/mass_budget.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "model/transport_scheme.h"
#include "run/message_sink.h"
#include "run/run_progress.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A digest as the whole number it is stored as.
int64_t AsInt(uint64_t digest) {
    int64_t value = 0;
    std::memcpy(&value, &digest, sizeof value);
    return value;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The budget's interval in progress: what its last record closed (the
// budget file writes from it) and its sums so far, each term's over every
// thread as one exact sum, so that a run may go on with another count.
void WriteBudget(CCheckpointOut& out, const CMassBudget* budget) {
    out.Int(budget ? 1 : 0);
    if (!budget)
        return;
    const CMassBudget& b = *budget;
    out.Int(b.m_started ? 1 : 0);
    out.Int(b.m_intervals);
    out.Double(b.m_timeStart);
    out.Double(b.m_timeEnd);
    for (const std::vector<double>* part :
         {&b.m_storageStart, &b.m_storageEnd, &b.m_change, &b.m_discrepancy})
        out.Doubles(*part);
    out.Int(b.m_nTerms);
    int64_t words[CExactSum::IMAGE_WORDS];
    for (int t = 0; t < b.m_nTerms; ++t) {
        CExactSum total;
        for (int thread = 0; thread < b.m_nThreads; ++thread)
            total.Add(b.m_sums[ToSize(thread * b.m_nTerms + t)]);
        total.Image(words);
        out.Bytes(words, sizeof words);
    }
}

void ReadBudget(CCheckpointIn& in, CMassBudget* budget) {
    const bool kept = in.IntIn(0, 1, "budget") == 1;
    if (kept != (budget != nullptr))
        in.Refuse(kept ? "its run kept a mass budget, which this run (--no-budget) does not"
                       : "its run kept no mass budget (--no-budget), which this run does");
    if (!budget)
        return;
    CMassBudget& b = *budget;
    b.m_started = in.IntIn(0, 1, "budget's start") == 1;
    b.m_intervals = static_cast<int>(in.IntIn(0, OUTPUT_MAX_RECORDS, "budget's intervals"));
    b.m_timeStart = in.Double("budget's interval start");
    b.m_timeEnd = in.Double("budget's interval end");
    for (std::vector<double>* part :
         {&b.m_storageStart, &b.m_storageEnd, &b.m_change, &b.m_discrepancy}) {
        const size_t size = part->size();
        *part = in.Doubles(size, "budget's terms");
        if (part->size() != size)
            in.Refuse("its mass budget has other terms than this model's");
    }
    if (in.Int("budget's term count") != b.m_nTerms)
        in.Refuse("its mass budget has other terms than this model's");
    int64_t words[CExactSum::IMAGE_WORDS];
    for (int t = 0; t < b.m_nTerms; ++t) {
        in.Bytes(words, sizeof words, "budget's sums");
        for (int thread = 0; thread < b.m_nThreads; ++thread)
            b.m_sums[ToSize(thread * b.m_nTerms + t)].Clear();
        if (!b.m_sums[ToSize(t)].FromImage(words))
            in.Refuse("its budget sum of term " + std::to_string(t) + " is not a sum");
    }
}

void ReadClock(CCheckpointIn& in, CSimulation& s) {
    CRunClock clock;
    clock.m_globalStep = in.Double("global step");
    clock.m_currentTime = in.Double("time reached");
    clock.m_rxnBaseTime = in.Double("reactions' clock");
    clock.m_nextRecord = in.Double("next output time");
    if (!(clock.m_globalStep > 0.0) || !std::isfinite(clock.m_globalStep) ||
        !std::isfinite(clock.m_currentTime) || !std::isfinite(clock.m_rxnBaseTime) ||
        !std::isfinite(clock.m_nextRecord) || clock.m_currentTime < s.m_settings.m_startTime)
        in.Refuse("its clock (global step " + ExactText(clock.m_globalStep) + ", time " +
                  ExactText(clock.m_currentTime) + ") is not one of this model's runs");
    clock.m_recordCount = static_cast<int>(in.IntIn(0, OUTPUT_MAX_RECORDS, "record count"));
    clock.m_outputTimes.assign(ToSize(clock.m_recordCount), 0.0);
    in.Doubles(clock.m_outputTimes.data(), clock.m_outputTimes.size(), "record times");
    s.m_clock.TakeBack(std::move(clock));
}

void ReadState(CCheckpointIn& in, CSimulation& s) {
    in.Doubles(s.m_stateNew.get(), ToSize(s.m_nValues), "state");
    in.Doubles(s.m_state, ToSize(s.m_nValues), "state at the last step's start");
    double* fraction = s.m_localFraction.get();
    int* hold = s.m_localHold.get();
    in.Doubles(fraction, ToSize(s.m_nNodes), "local steps");
    in.Ints(hold, ToSize(s.m_nNodes), "local steps' holds");
    for (int n = 0; n < s.m_nNodes; ++n)
        if (!(fraction[n] > 0.0 && fraction[n] <= 1.0) || hold[n] < 0)
            in.Refuse("the local step " + ExactText(fraction[n]) + " (held " +
                      std::to_string(hold[n]) + ") of node " + std::to_string(n) +
                      " is not one a run takes");
}

// Before any output is cut back: every file still holds what the checkpoint
// says it held, so that a refusal leaves every result as it was.
void CheckOutputsWhole(const COutputMarks& marks) {
    for (const COutputMark& mark : marks.All()) {
        struct stat info;
        const bool there = stat(mark.m_file.c_str(), &info) == 0;
        if (!there || static_cast<uint64_t>(info.st_size) < mark.m_length)
            throw InputException(
                mark.m_file +
                (there ? " holds " + std::to_string(info.st_size) + " bytes" : " is gone") +
                ", where it held " + std::to_string(mark.m_length) +
                " at the checkpoint: it was changed since, and the run cannot go on from the "
                "checkpoint");
    }
}

} // namespace

CRunCheckpoint::CRunCheckpoint(std::string base) : m_base(std::move(base)) {}
CRunCheckpoint::~CRunCheckpoint() = default;

bool CRunCheckpoint::OpenToContinue(const CSimulation& s) {
    if (!Exists(CheckpointFileName(m_base)) && !Exists(PreviousCheckpointFileName(m_base))) {
        if (CMessageSink* sink = s.m_progress->GetMessageSink()) {
            const std::string line = "there is no checkpoint " + CheckpointFileName(m_base) +
                                     ": the run starts at the beginning";
            sink->WriteWarning(line.c_str());
        }
        return false;
    }
    m_in = std::make_unique<CCheckpointIn>(m_base);
    CCheckpointIn& in = *m_in;
    const std::string version = in.Text("program version");
    if (version != KOVA_VERSION)
        in.Refuse("it was written by version " + version + " of this program, this is version " +
                  KOVA_VERSION);
    const std::string model = ModelFileName(m_base);
    const std::string extension = ExtensionFileName(m_base);
    if (in.Int("model file's digest") != AsInt(FileDigest(model)))
        in.Refuse("the model file " + model + " has changed since");
    const bool hadExtension = in.IntIn(0, 1, "extension file's presence") == 1;
    const int64_t extensionDigest = in.Int("extension file's digest");
    if (hadExtension != Exists(extension))
        in.Refuse(hadExtension ? "the extension file " + extension + " is gone"
                               : "the extension file " + extension + " is new");
    if (hadExtension && extensionDigest != AsInt(FileDigest(extension)))
        in.Refuse("the extension file " + extension + " has changed since");
    return true;
}

void CRunCheckpoint::Forget() const {
    const std::string name = CheckpointFileName(m_base);
    unlink(name.c_str());
    unlink((name + ".part").c_str());
    unlink(PreviousCheckpointFileName(m_base).c_str());
}

void CRunCheckpoint::Restore(CSimulation& s, CRunOutput& output) {
    CCheckpointIn& in = *m_in;
    const int64_t shape[] = {in.Int("rows"), in.Int("columns"), in.Int("entries"),
                             in.Int("mobile entries")};
    if (shape[0] != s.m_nRows || shape[1] != s.m_nCols || shape[2] != s.m_nComp ||
        shape[3] != s.m_nMobile)
        in.Refuse("it holds a grid of other rows, columns or entries than the model's");
    ReadClock(in, s);
    ReadState(in, s);
    ReadBudget(in, s.m_budget.get());
    const std::vector<double> carried =
        in.Doubles(3 + 2 * ToSize(s.m_nValues), "transport's carried values");
    if (!s.Transport().TakeCarried(carried))
        in.Refuse("what its transport carries does not fit this model's transport");
    COutputMarks marks;
    const int64_t outputs = in.IntIn(0, 64, "output count");
    for (int64_t o = 0; o < outputs; ++o) {
        COutputMark mark;
        mark.m_file = m_base + in.Text("output's file");
        mark.m_length = static_cast<uint64_t>(in.IntIn(0, INT64_MAX, "output's length"));
        mark.m_carried = in.Doubles(1 << 24, "output's carried values");
        marks.Add(std::move(mark));
    }
    in.End();
    m_in.reset();
    CheckOutputsWhole(marks);
    output.Resume(marks, s);
}

bool CheckpointDue(const CSimulation& s, bool cancel, bool last) {
    const int every = s.m_ext.m_checkpointEvery;
    return every > 0 && (cancel || last || s.m_clock.m_recordCount % every == 0);
}

void CRunCheckpoint::BeforeRecord(CSimulation& s, CRunOutput& output, bool cancel, bool last) {
    if (!CheckpointDue(s, cancel, last))
        return;
    // The records are the run's results; a checkpoint only saves time. One
    // that cannot be written (a full disk, a file-size limit) leaves the one
    // before in place, which still describes the files, and the run goes on.
    try {
        Write(s, output);
    } catch (const ComputeException& e) {
        if (m_warned)
            return;
        m_warned = true;
        if (CMessageSink* sink = s.m_progress->GetMessageSink()) {
            const std::string line = "the checkpoint at time " +
                                     ExactText(s.m_clock.m_currentTime) +
                                     " could not be written (" + e.Detail() +
                                     "); the run goes on, and --continue would go on from the "
                                     "last checkpoint written";
            sink->WriteWarning(line.c_str());
        }
    }
}

void CRunCheckpoint::Write(CSimulation& s, CRunOutput& output) {
    if (!m_haveDigests) {
        const std::string extension = ExtensionFileName(m_base);
        m_modelDigest = FileDigest(ModelFileName(m_base));
        m_hasExtension = Exists(extension);
        m_extensionDigest = m_hasExtension ? FileDigest(extension) : 0;
        m_haveDigests = true;
    }
    // The outputs first: what the checkpoint says they hold reaches the
    // system before the checkpoint does.
    COutputMarks marks;
    output.Mark(marks);
    CCheckpointOut out(m_base);
    out.Text(KOVA_VERSION);
    out.Int(AsInt(m_modelDigest));
    out.Int(m_hasExtension ? 1 : 0);
    out.Int(AsInt(m_extensionDigest));
    for (int count : {s.m_nRows, s.m_nCols, s.m_nComp, s.m_nMobile})
        out.Int(count);
    const CRunClock& clock = s.m_clock;
    for (double time :
         {clock.m_globalStep, clock.m_currentTime, clock.m_rxnBaseTime, clock.m_nextRecord})
        out.Double(time);
    out.Int(clock.m_recordCount);
    out.Doubles(clock.m_outputTimes.data(), ToSize(clock.m_recordCount));
    out.Doubles(s.m_stateNew.get(), ToSize(s.m_nValues));
    out.Doubles(s.m_state, ToSize(s.m_nValues));
    out.Doubles(s.m_localFraction.get(), ToSize(s.m_nNodes));
    out.Ints(s.m_localHold.get(), ToSize(s.m_nNodes));
    WriteBudget(out, s.m_budget.get());
    out.Doubles(s.Transport().Carried());
    out.Int(static_cast<int64_t>(marks.All().size()));
    for (const COutputMark& mark : marks.All()) {
        // By its name after the base: a run may go on under another path.
        if (mark.m_file.compare(0, m_base.size(), m_base) != 0)
            throw Exception("the output file " + mark.m_file + " is not named after its base");
        out.Text(mark.m_file.substr(m_base.size()));
        out.Int(static_cast<int64_t>(mark.m_length));
        out.Doubles(mark.m_carried);
    }
    out.Commit();
}
