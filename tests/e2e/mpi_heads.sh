#!/usr/bin/env bash
# kova-compute-mpi --heads distributed on 1, 2 and 3 processes against
# kova-compute --threads 1: on the 300 x 300 heterogeneous model of
# mpi_models.py --heads every head of the first record must lie within 1e-10
# relative of the serial one (a wrong row offset in the assembly, a halo row
# missing in the sweeps or a stopping test not reduced over all ranks moves
# heads far beyond that, or hangs, which the timeout catches), and --timings
# must say the heads are not bit for bit. A model whose head equations have
# no solution must end every rank with the serial run's message and exit
# code, never hang. A value of --heads other than distributed is a usage
# error.
# Usage: tests/e2e/mpi_heads.sh KOVA_COMPUTE KOVA_COMPUTE_MPI SOURCE_DIR
set -euo pipefail
serial=$1 mpi=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mpi_common.sh"

/usr/bin/python3 "$source/tests/e2e/mpi_models.py" --heads "$work/models"
mkdir -p "$work/serial"
cp "$work"/models/* "$work/serial/"
for name in heads_hetero heads_unheld; do
    (cd "$work/serial" && set +e
        "$serial" --no-progress --threads 1 "$name" >"$name.out" 2>"$name.err"
        echo $? >"$name.rc")
done
[ "$(cat "$work/serial/heads_hetero.rc")" = 0 ] || { echo "the serial run failed"; exit 1; }

failures=0
for np in 1 2 3; do
    dir="$work/np$np"
    mkdir -p "$dir"
    cp "$work"/models/* "$dir/"
    for name in heads_hetero heads_unheld; do
        # --threads 1 before --heads: kova-compute-mpi's own option is found
        # behind kova-compute's option with a value.
        timings=()
        [ "$name" = heads_hetero ] && timings=(--timings --threads 1)
        (cd "$dir" && set +e
            timeout 120 mpirun "${mpirun_flags[@]}" -np "$np" "$mpi" --no-progress "${timings[@]}" \
                --heads distributed "$name" >"$name.out" 2>"$name.err"
            echo $? >"$name.rc")
    done
    if ! /usr/bin/python3 - "$work/serial/heads_hetero" "$dir/heads_hetero" "$np" <<'PY'
import struct, sys
import numpy as np
def heads(base):
    n, rows, cols = struct.unpack_from("<iii", open(base + ".kvt", "rb").read())
    raw = np.fromfile(base + ".kvo", dtype="<f8")
    nodes = rows * cols
    assert n > 0 and raw.size % (n * nodes) == 0, base + ": not whole records"
    return raw[: nodes * (raw.size // (n * nodes))].reshape(nodes, -1)[:, 0]
serial, dist = heads(sys.argv[1]), heads(sys.argv[2])
rel = np.abs(dist - serial) / np.abs(serial)
worst = int(np.argmax(rel))
print("np %s: largest relative head difference %.3g (node %d)" % (sys.argv[3], rel[worst], worst))
sys.exit(0 if rel.max() <= 1e-10 else 1)
PY
    then
        echo "DIFFERS: heads_hetero on $np processes, exit $(cat "$dir/heads_hetero.rc")"
        head -c 2000 "$dir/heads_hetero.err"
        failures=$((failures + 1))
    fi
    if ! grep -q 'distributed heads (hypre BoomerAMG-PCG, .*not bit for bit' "$dir/heads_hetero.err" ||
        ! grep -q '^  heads .*(distributed solve, not bit for bit)' "$dir/heads_hetero.err"; then
        echo "MISSING: --timings does not say the heads are not bit for bit (np $np)"
        failures=$((failures + 1))
    fi
    # The unheld model: the serial failure on every rank, no hang (exit 124).
    if [ "$(cat "$dir/heads_unheld.rc")" != "$(cat "$work/serial/heads_unheld.rc")" ] ||
        ! diff <(messages "$work/serial/heads_unheld.err") <(messages "$dir/heads_unheld.err") \
            >/dev/null; then
        echo "DIFFERS: heads_unheld on $np processes: exit $(cat "$work/serial/heads_unheld.rc") and $(cat "$dir/heads_unheld.rc")"
        diff <(messages "$work/serial/heads_unheld.err") <(messages "$dir/heads_unheld.err") | head -20 || true
        failures=$((failures + 1))
    fi
done
[ "$(cat "$work/serial/heads_unheld.rc")" != 0 ] || { echo "the unheld model did not fail"; failures=$((failures + 1)); }

set +e
mpirun "${mpirun_flags[@]}" -np 1 "$mpi" --heads gathered "$work/np1/heads_hetero" >/dev/null 2>"$work/usage.err"
rc=$?
set -e
if [ "$rc" != 2 ] || ! grep -q -- "--heads takes distributed" "$work/usage.err"; then
    echo "DIFFERS: --heads gathered gave exit $rc"
    failures=$((failures + 1))
fi

echo "distributed heads on 1, 2 and 3 processes: $failures failures"
[ "$failures" -eq 0 ]
