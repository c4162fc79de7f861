// What a run over MPI writes: the records (par/par_records.h) on every
// rank; the mass budget and the wells' table on rank 0 alone, from the
// budget's sums and the wells' values gathered there.
#pragma once

#include "io/run_output.h"
#include "par/par_records.h"

#include <string>

class CParComm;

class CParOutput {
public:
    CParOutput(const std::string& base, const CParComm& comm) : m_records(base, comm) {}

    CParRecords m_records;
    CRunOutputList m_rootTables; // rank 0: budget and wells (borrowed), empty elsewhere
    // Rank 0: every file it writes (the records' time and data files, then
    // the tables), opened or resumed as one; empty elsewhere.
    CRunOutputList m_rootFiles;
};
