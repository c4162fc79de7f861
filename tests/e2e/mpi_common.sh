# What the MPI test scripts share; sourced by mpi_runs.sh and mpi_heads.sh.
# mpirun's flags: more processes than cores, and as root only when root.
mpirun_flags=(--oversubscribe --bind-to none)
[ "$(id -u)" -eq 0 ] && mpirun_flags+=(--allow-run-as-root)
status='Initalizing\.\.\.\.|Allocating Arrays \.\.\.|Reading Input Data \.\.\.|Initalizing Hydraulic Heads \.\.\.|Computing Inital Heads \.\.\.|Simulating \.\.\.|Writing Output|Closing Files \.\.\.|Done\.|Closing \.\.\.'

# stderr less the status lines and mpirun's notes (blocks between rules of dashes).
messages() {
    awk '/^-----+$/ { inside = !inside; next } !inside' "$1" | grep -v -x -E "$status" || true
}
