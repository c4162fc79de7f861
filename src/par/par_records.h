// BASE.kvo and BASE.kvt of a run over MPI, in the layout of a one-process
// run (io/output_files.h). Rank 0 opens and finishes both files as a
// one-process run does (the refused links, the marker, the time file at the
// end); every rank writes its own nodes of each record with MPI-IO at their
// offset in the record, so the data file is the same byte for byte.
#pragma once

#include "io/output_files.h"
#include "io/run_output.h"
#include "par/mpi_session.h"
#include "par/slab.h"

#include <memory>
#include <string>

class CParComm;
class CSimulation;

class CParRecords {
public:
    CParRecords(const std::string& base, const CParComm& comm);

    // Rank 0: the time and data files join the outputs it opens (opened
    // unchanged, then the marker written and the data file emptied once every
    // file of rank 0 is open). Then every rank: the data file
    // opened for MPI-IO (after rank 0's open has been agreed), each rank on
    // its own (MPI_COMM_SELF), so that a rank that cannot open it leaves no
    // other waiting; the caller agrees on the outcome.
    // Rank 0: adds the time and data files to the outputs it opens.
    void AddRootFiles(CRunOutputList& outputs);
    void OpenShared();
    // Every rank: its nodes of the record at m_currentTime, at their offset;
    // the record counted and its time noted as a one-process run does.
    void Write(CSimulation& s, const CSlab& slab);
    // Every rank (its own file, agreed by the caller), then rank 0: BASE.kvt
    // completed.
    void CloseShared();
    void FinishOnRoot(const CSimulation& s);

private:
    std::string m_dataName;
    std::unique_ptr<COutputFiles> m_files; // rank 0 only
    CMpiFile m_data;
};
