#!/usr/bin/env bash
# kova-compute-mpi --heads distributed on 1, 2 and 3 processes against
# kova-compute --threads 1: on the 300 x 300 heterogeneous model of
# mpi_models.py --heads every head of the first record must lie within 1e-10
# relative of the serial one (a wrong row offset in the assembly, a halo row
# missing in the sweeps or a stopping test not reduced over all ranks moves
# heads far beyond that, or hangs, which the timeout catches), and --timings
# must say the heads are not bit for bit. A model whose head equations have
# no solution, and one whose injection tables name two nodes without inflow
# (the first table's on the last rank), must end every rank with the serial
# run's message and exit code, never hang. Every rank holds only its rows and computes their flow
# field: every value of every record of heads_plume (the computed stable
# step), heads_tvd (three rows of halo) and heads_implicit (every node sent
# to rank 0, which solves the implicit step) must lie within 1e-9 of the
# entry's largest value of the serial record, and on 3 processes every rank
# must hold less beyond a run of the two-node example than half the model's
# node arrays and 600 bytes per own node for hypre (every rank held the
# whole model before, 80 MiB of heads_plume's 65 MiB of arrays). A value of
# --heads other than distributed is a usage error.
# Usage: tests/e2e/mpi_heads.sh KOVA_COMPUTE KOVA_COMPUTE_MPI SOURCE_DIR
set -euo pipefail
serial=$1 mpi=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mpi_common.sh"

/usr/bin/python3 "$source/tests/e2e/mpi_models.py" --heads "$work/models"
mkdir -p "$work/serial"
cp "$work"/models/* "$work/serial/"
cp "$source/examples/two_nodes.kvi" "$work/models/"
for name in heads_hetero heads_unheld heads_plume heads_tvd heads_implicit heads_inject; do
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
    for name in heads_hetero heads_unheld heads_plume heads_tvd heads_implicit heads_inject; do
        # --threads 1 before --heads: kova-compute-mpi's own option is found
        # behind kova-compute's option with a value.
        timings=()
        case $name in heads_unheld | heads_inject) ;; *) timings=(--timings --threads 1) ;; esac
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
    for name in heads_plume heads_tvd heads_implicit; do
        if ! /usr/bin/python3 - "$work/serial/$name" "$dir/$name" "$np" <<'PY'
import struct, sys
import numpy as np
def records(base):
    n, rows, cols = struct.unpack_from("<iii", open(base + ".kvt", "rb").read())
    raw = np.fromfile(base + ".kvo", dtype="<f8")
    assert n > 0 and raw.size % (n * rows * cols) == 0, base + ": not whole records"
    return raw.reshape(n, rows * cols, -1)
serial, dist = records(sys.argv[1]), records(sys.argv[2])
assert serial.shape == dist.shape, "%s against %s" % (serial.shape, dist.shape)
scale = np.max(np.abs(serial), axis=1, keepdims=True)
diff = np.abs(dist - serial) / np.where(scale > 0, scale, 1.0)
print("np %s: %s, largest difference %.3g of the entry's largest value"
      % (sys.argv[3], sys.argv[2].rsplit("/", 1)[1], diff.max()))
sys.exit(0 if diff.max() <= 1e-9 else 1)
PY
        then
            echo "DIFFERS: $name on $np processes, exit $(cat "$dir/$name.rc")"
            head -c 2000 "$dir/$name.err"
            failures=$((failures + 1))
        fi
    done
    # The failing models: the serial failure on every rank, no hang (exit 124).
    for name in heads_unheld heads_inject; do
        if [ "$(cat "$dir/$name.rc")" != "$(cat "$work/serial/$name.rc")" ] ||
            ! diff <(messages "$work/serial/$name.err") <(messages "$dir/$name.err") \
                >/dev/null; then
            echo "DIFFERS: $name on $np processes: exit $(cat "$work/serial/$name.rc") and $(cat "$dir/$name.rc")"
            diff <(messages "$work/serial/$name.err") <(messages "$dir/$name.err") | head -20 || true
            failures=$((failures + 1))
        fi
    done
done
for name in heads_unheld heads_inject; do
    [ "$(cat "$work/serial/$name.rc")" != 0 ] || { echo "$name did not fail"; failures=$((failures + 1)); }
done

(cd "$work/np3" && mpirun "${mpirun_flags[@]}" -np 3 "$mpi" --no-progress --timings \
    --heads distributed two_nodes >/dev/null 2>two_nodes.timings) || true
if ! /usr/bin/python3 - "$work/np3/heads_plume.err" "$work/np3/two_nodes.timings" \
    "$work/models/heads_plume.kvi" <<'PY'
import re, sys
def peaks(path):
    m = re.search(r"peak resident memory: rank 0 (\d+) MiB, the other ranks at most (\d+) MiB",
                  open(path).read())
    assert m, "no memory line in " + path
    return max(int(m.group(1)), int(m.group(2)))
most, base = peaks(sys.argv[1]), peaks(sys.argv[2])
rows, cols, immobile, mobile = (int(v) for v in open(sys.argv[3]).readline().split()[:4])
nodes = rows * cols
arrays = nodes * 8 * (3 * (7 + immobile + mobile) + 3 * mobile + 2) / 1048576.0
bound = 0.5 * arrays + 600.0 * nodes / 3 / 1048576.0
print("heads_plume on 3 processes: at most %d MiB a rank, %d beyond a small run; node arrays "
      "%.0f MiB, bound %.0f MiB" % (most, most - base, arrays, bound))
sys.exit(0 if most - base < bound else 1)
PY
then
    echo "DIFFERS: a rank holds more than its rows of heads_plume"
    failures=$((failures + 1))
fi

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
