#!/usr/bin/env bash
# Runs over MPI that go on from their checkpoint: kova-compute-mpi on 2
# processes killed (SIGKILL to every process of the job) at random instants,
# then continued on 3 processes, must leave BASE.kvo, BASE.kvt, the budget,
# the water balance and the wells' file byte for byte as one uninterrupted
# kova-compute --threads 1 run; so must a one-process --continue from the
# checkpoint of an MPI run, whose checkpoint is the one-process run's file.
# The models: the kinetic plume (nodes at reduced local steps) and the same
# with the implicit transport and records at given times. --heads
# distributed keeps no checkpoint and refuses --continue.
# Usage: tests/e2e/mpi_continue.sh KOVA_COMPUTE KOVA_COMPUTE_MPI SOURCE_DIR
set -euo pipefail
serial=$1 mpi=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mpi_common.sh"

RANDOM=37 # the instants are the same at every run of the test
kills=${KILLS:-8}
failures=0
checkpointed=0 # kills that came after a checkpoint
results=(kvo kvt budget.csv water.csv obs.csv)

same_as_reference() { # same_as_reference DIR WHAT
    for ext in "${results[@]}"; do
        if ! cmp -s "$work/ref/model.$ext" "$1/model.$ext"; then
            echo "DIFFERS: model.$ext ($2)"
            failures=$((failures + 1))
        fi
    done
}

for case in kinetic implicit_times; do
    rm -rf "$work/ref" && mkdir -p "$work/ref"
    cp "$source/examples/hydrocarbon_plume.kvi" "$work/ref/model.kvi"
    cp "$source/examples/hydrocarbon_plume.kvx" "$work/ref/model.kvx"
    if [ "$case" = implicit_times ]; then
        printf '\n[transport]\ntime = "implicit"\n[output]\ntimes = [1.5, 60, 100, 200]\n' \
            >>"$work/ref/model.kvx"
    fi
    start=$(date +%s%N)
    (cd "$work/ref" && "$serial" --no-progress --threads 1 model >/dev/null 2>&1)
    # An MPI run takes longer than one process: the kills spread over twice that.
    span=$((($(date +%s%N) - start) / 500000))
    for k in $(seq 1 "$kills"); do
        dir="$work/$case-$k"
        mkdir -p "$dir" && cp "$work/ref/model.kvi" "$work/ref/model.kvx" "$dir/"
        ms=$((RANDOM % (span + 1)))
        (cd "$dir" && exec setsid mpirun "${mpirun_flags[@]}" -np 2 "$mpi" --no-progress model \
            >/dev/null 2>&1) &
        job=$!
        sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
        kill -KILL -- "-$job" 2>/dev/null || true
        wait "$job" 2>/dev/null || true
        # A rank that outlived mpirun would hold the base.
        pkill -KILL -f "$mpi --no-progress model" 2>/dev/null || true
        sleep 0.2
        [ -e "$dir/model.kvr" ] && checkpointed=$((checkpointed + 1))
        if ! (cd "$dir" && mpirun "${mpirun_flags[@]}" -np 3 "$mpi" --no-progress --continue model \
            >out.txt 2>err.txt); then
            echo "FAILED: --continue on 3 processes after a kill at ${ms} ms ($case)"
            head -c 2000 "$dir/err.txt"
            failures=$((failures + 1))
            continue
        fi
        same_as_reference "$dir" "$case, killed at ${ms} ms, continued on 3 processes"
    done
    # The finished MPI run's checkpoint serves one process.
    dir="$work/$case-1"
    (cd "$dir" && "$serial" --no-progress --continue model >/dev/null 2>&1) ||
        { echo "FAILED: one-process --continue from an MPI checkpoint ($case)"; failures=$((failures + 1)); }
    same_as_reference "$dir" "$case, one process from an MPI checkpoint"
done

dir="$work/kinetic-1"
if (cd "$dir" && mpirun "${mpirun_flags[@]}" -np 2 "$mpi" --no-progress --heads distributed \
    --continue model >out.txt 2>err.txt); then
    echo "FAILED: --heads distributed went on from a checkpoint"
    failures=$((failures + 1))
elif ! grep -q "keeps no checkpoint to go on from" "$dir/err.txt"; then
    echo "FAILED: --heads distributed --continue did not say why"
    head -c 2000 "$dir/err.txt"
    failures=$((failures + 1))
fi

if [ "$checkpointed" -eq 0 ]; then
    echo "FAILED: no kill came after a checkpoint: the runs end too soon to test"
    failures=$((failures + 1))
fi
echo "$checkpointed of $((2 * kills)) kills after a checkpoint; $failures failures"
[ "$failures" -eq 0 ]
