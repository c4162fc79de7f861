#include "par/mpi_session.h"

CMpiSession::CMpiSession(int* argc, char*** argv) {
    int provided = MPI_THREAD_SINGLE;
    MPI_Init_thread(argc, argv, MPI_THREAD_SERIALIZED, &provided);
    m_threadsServed = provided >= MPI_THREAD_SERIALIZED;
    MPI_Comm_rank(MPI_COMM_WORLD, &m_rank);
    MPI_Comm_size(MPI_COMM_WORLD, &m_size);
}

CMpiSession::~CMpiSession() {
    MPI_Finalize();
}

int CMpiFile::Open(MPI_Comm comm, const char* name, int mode) {
    Close();
    const int code = MPI_File_open(comm, name, mode, MPI_INFO_NULL, &m_file);
    if (code != MPI_SUCCESS)
        m_file = MPI_FILE_NULL;
    return code;
}

int CMpiFile::Close() {
    if (m_file == MPI_FILE_NULL)
        return MPI_SUCCESS;
    return MPI_File_close(&m_file); // sets m_file to MPI_FILE_NULL
}
