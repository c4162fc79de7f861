#include "par/par_records.h"

#include "io/output_files.h"
#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "par/par_comm.h"

#include <string>

namespace {

std::string MpiReason(int code) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    MPI_Error_string(code, text, &length);
    return ": " + std::string(text, static_cast<size_t>(length));
}

} // namespace

CParRecords::CParRecords(const std::string& base, const CParComm& comm)
    : m_dataName(base + ".kvo") {
    if (comm.IsRoot())
        m_files = std::make_unique<COutputFiles>(base);
}

void CParRecords::AddRootFiles(CRunOutputList& outputs) {
    if (m_files)
        outputs.Add(*m_files);
}

void CParRecords::OpenShared() {
    // Each rank opens the file on its own: the writes are independent, and an
    // open that fails on some ranks only must not leave the others in a
    // collective open or close (OpenMPI's close waits for every rank of the
    // communicator it was opened on). The ranks then agree on the outcome.
    const int code = m_data.Open(MPI_COMM_SELF, m_dataName.c_str(), MPI_MODE_WRONLY);
    if (code != MPI_SUCCESS)
        throw SystemFailure("Could not open data output file." + MpiReason(code) + " (MPI-IO, " +
                            m_dataName + ")");
    // Each rank's part of a record goes to the system as it is written: an
    // error is returned, not fatal, and reported as a failed run.
    MPI_File_set_errhandler(m_data.Handle(), MPI_ERRORS_RETURN);
}

void CParRecords::Write(CSimulation& s, const CSlab& slab) {
    NoteRecordTime(s);
    const int record = s.m_clock.m_recordCount - 1;
    const int first = slab.m_first * s.m_nComp;
    const int count = (slab.m_end - slab.m_first) * s.m_nComp;
    const MPI_Offset offset = (static_cast<MPI_Offset>(record) * s.m_nValues + first) *
                              static_cast<MPI_Offset>(sizeof(double));
    MPI_Status status;
    int code = MPI_File_write_at(m_data.Handle(), offset, s.m_stateNew.get() + first, count,
                                 MPI_DOUBLE, &status);
    int written = 0;
    if (code == MPI_SUCCESS)
        MPI_Get_count(&status, MPI_DOUBLE, &written);
    if (code != MPI_SUCCESS || written != count)
        throw SystemFailure("could not write record " + std::to_string(record) +
                            " to the data output file" +
                            (code != MPI_SUCCESS ? MpiReason(code) : std::string(": short write")));
}

void CParRecords::CloseShared() {
    const int code = m_data.Close();
    if (code != MPI_SUCCESS)
        throw SystemFailure("could not close the data output file " + m_dataName + MpiReason(code));
}

void CParRecords::FinishOnRoot(const CSimulation& s) {
    if (m_files)
        m_files->Finish(s);
}
