#!/usr/bin/env bash
# kova-compute-mpi on 1, 2 and 3 processes against kova-compute --threads 1:
# every shipped example, every test model and the models of mpi_models.py
# (slab boundaries that cut rows, a rank's share shorter than a row, two
# failing nodes on two ranks) must leave the same BASE.kvo, BASE.kvt,
# BASE.budget.csv, BASE.water.csv and BASE.obs.csv byte for byte, the same exit code, the
# same stdout and the same messages on stderr (less the status lines, which
# the front end samples, and mpirun's own notes). Models of one chunk run on
# the last rank alone, so rank 0 computes nothing there and every failure of
# such a model travels to it. Then a run cancelled by SIGUSR1 to mpirun must
# leave a complete time file and records, wells and budget that agree with
# the serial run's up to the time reached, and a run whose rank 1 is killed
# must end (no rank left waiting) with the files of a killed run. A data
# file that one rank cannot open ends every rank with the failure. Last,
# the ranks other than 0 must hold only their part of the node arrays and
# stay well below rank 0's peak memory on a model with sparse heads, which
# rank 0 alone solves.
# Usage: tests/e2e/mpi_runs.sh KOVA_COMPUTE KOVA_COMPUTE_MPI SOURCE_DIR
set -euo pipefail
serial=$1 mpi=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mpi_common.sh"

mkdir -p "$work/models"
cp "$source"/examples/*.kvi "$source"/examples/*.kvx "$source"/tests/data/*.kvi "$work/models/"
/usr/bin/python3 "$source/tests/e2e/mpi_models.py" "$work/models"

failures=0
compare() { # compare MODEL_NAME SERIAL_DIR MPI_DIR WHAT
    local name=$1 a=$2 b=$3 what=$4
    for ext in kvo kvt budget.csv water.csv obs.csv out rc; do
        if [ -e "$a/$name.$ext" ] || [ -e "$b/$name.$ext" ]; then
            if ! cmp -s "$a/$name.$ext" "$b/$name.$ext"; then
                echo "DIFFERS: $name.$ext ($what)"
                failures=$((failures + 1))
            fi
        fi
    done
    if ! diff <(messages "$a/$name.err") <(messages "$b/$name.err") >/dev/null; then
        echo "DIFFERS: $name messages ($what)"
        diff <(messages "$a/$name.err") <(messages "$b/$name.err") | head -20 || true
        echo "exit codes: $(cat "$a/$name.rc") and $(cat "$b/$name.rc"); stderr of the MPI run:"
        head -c 3000 "$b/$name.err"
        failures=$((failures + 1))
    fi
}

models=()
for model in "$work"/models/*.kvi; do
    models+=("$(basename "$model" .kvi)")
done

mkdir -p "$work/serial"
cp "$work"/models/* "$work/serial/"
for name in "${models[@]}"; do
    (cd "$work/serial" && set +e
        "$serial" --no-progress --threads 1 "$name" >"$name.out" 2>"$name.err"
        echo $? >"$name.rc")
done

# mpi_run DIR NP NAME [OPTION...]: one run, its stdout, stderr and exit code
# kept beside the model. KOVA_MPI_TEST_JOBS runs go side by side (mpirun
# waits ~2 s after a process ends with a code other than 0); one by default:
# in one of a dozen runs of this script with three side by side, one run
# ended without its summary, which was not seen again.
mpi_run() {
    local dir=$1 np=$2 name=$3
    shift 3
    (cd "$dir" && set +e
        timeout 120 mpirun "${mpirun_flags[@]}" -np "$np" "$mpi" --no-progress "$@" "$name" \
            >"$name.out" 2>"$name.err"
        echo $? >"$name.rc")
}
throttle() {
    while [ "$(jobs -rp | wc -l)" -ge "${KOVA_MPI_TEST_JOBS:-1}" ]; do
        wait -n || true
    done
}

for np in 1 2 3; do
    mkdir -p "$work/np$np"
    cp "$work"/models/* "$work/np$np/"
    for name in "${models[@]}"; do
        throttle
        mpi_run "$work/np$np" "$np" "$name" &
    done
done
# Two threads in each of two processes: the same bits again.
mkdir -p "$work/threads"
cp "$work"/models/* "$work/threads/"
for name in mpi_wide decay_chain; do
    throttle
    mpi_run "$work/threads" 2 "$name" --threads 2 &
done
wait
for np in 1 2 3; do
    for name in "${models[@]}"; do
        compare "$name" "$work/serial" "$work/np$np" "np $np"
    done
done
for name in mpi_wide decay_chain; do
    compare "$name" "$work/serial" "$work/threads" "np 2, threads 2"
done

# A cancel: SIGUSR1 to mpirun reaches rank 0, which cancels at its next check.
dir="$work/cancel"
mkdir -p "$dir"
/usr/bin/python3 - "$dir" "$source" <<'EOF'
import os, sys
sys.path.insert(0, os.path.join(sys.argv[2], "tests", "e2e"))
import mpi_models
mpi_models.wide(end=20000.0, interval=1000.0).write(os.path.join(sys.argv[1], "long"))
EOF
cp "$dir"/long.* "$work/serial/"
(cd "$work/serial" && "$serial" --no-progress --threads 1 long >/dev/null 2>&1)
(cd "$dir" && set +e
    mpirun "${mpirun_flags[@]}" -np 3 "$mpi" --no-progress long >long.out 2>long.err &
    pid=$!
    for _ in $(seq 100); do
        grep -q -x 'Simulating \.\.\.' long.err && break
        sleep 0.1
    done
    sleep 0.5
    kill -USR1 "$pid"
    wait "$pid"
    echo $? >long.rc)
if ! /usr/bin/python3 - "$work/serial/long" "$dir/long" <<'EOF'
import struct, sys
serial, cancelled = sys.argv[1], sys.argv[2]
def times(base):
    data = open(base + ".kvt", "rb").read()
    n, rows, cols = struct.unpack_from("<iii", data)
    assert len(data) == 36 + 8 * n, "the time file is not complete"
    return rows * cols, list(struct.unpack_from("<%dd" % n, data, 36))
rc = open(cancelled + ".rc").read().strip()
assert rc == "130", "exit code " + rc
nodes, full = times(serial)
nodes, cut = times(cancelled)
assert 1 < len(cut) < len(full), "%d records of %d: the cancel did not stop the run" % (len(cut), len(full))
assert cut[:-1] == full[:len(cut) - 1], "record times differ"
size = len(open(serial + ".kvo", "rb").read()) // len(full)
records = open(cancelled + ".kvo", "rb").read()
assert len(records) == size * len(cut), "the data file does not hold the records listed"
assert records[:-size] == open(serial + ".kvo", "rb").read()[:size * (len(cut) - 1)], "records differ"
wells = open(cancelled + ".obs.csv").read().splitlines()
assert open(serial + ".obs.csv").read().splitlines()[:len(wells)] == wells, "wells differ"
assert float(wells[-1].split(",")[0]) == cut[-1], "the wells' last row is not at the last record"
budget = [l for l in open(cancelled + ".budget.csv").read().splitlines()
          if l.startswith("time_start") or float(l.split(",")[1]) in full]
assert open(serial + ".budget.csv").read().splitlines()[:len(budget)] == budget, "budget differs"
print("cancel: %d of %d records, stopped at %g" % (len(cut), len(full), cut[-1]))
EOF
then
    echo "DIFFERS: the cancelled run"
    failures=$((failures + 1))
fi

# A rank that dies ends the run: mpirun ends the others (no rank waits for
# it), and the files are those of a killed run: the marker in the time file,
# whole records in the data file.
(cd "$dir" && rm -f long.kvo long.kvt && set +e
    mpirun "${mpirun_flags[@]}" -np 3 "$mpi" --no-progress long >killed.out 2>killed.err &
    pid=$!
    for _ in $(seq 100); do
        grep -q -x 'Simulating \.\.\.' killed.err && break
        sleep 0.1
    done
    sleep 0.5
    for child in $(pgrep -P "$pid"); do
        tr '\0' '\n' <"/proc/$child/environ" | grep -q -x OMPI_COMM_WORLD_RANK=1 && kill -9 "$child"
    done
    for _ in $(seq 300); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        echo hang >killed.rc
    else
        wait "$pid"
        echo $? >killed.rc
    fi)
record=$((3 * 700 * (7 + 2) * 8))
if [ "$(cat "$dir/killed.rc")" = 0 ] || [ "$(cat "$dir/killed.rc")" = hang ] ||
    [ "$(od -A n -t d4 "$dir/long.kvt" | tr -d ' ')" != 0 ] ||
    [ $(($(stat -c %s "$dir/long.kvo") % record)) -ne 0 ]; then
    echo "DIFFERS: the run with a killed rank (exit $(cat "$dir/killed.rc"))"
    failures=$((failures + 1))
else
    echo "killed rank: exit $(cat "$dir/killed.rc"), $(($(stat -c %s "$dir/long.kvo") / record)) whole records"
fi

# The data file that only rank 1 cannot open (its working directory holds a
# directory of that name, as a node that does not see the file would): every
# rank must end with the failure, exit 1, never wait in a collective open or
# close, and rank 0's time file keeps the failure's marker.
mkdir -p "$work/open/a" "$work/open/b/plume.kvo"
cp "$source"/examples/plume.kvi "$work/open/a/"
cp "$source"/examples/plume.kvi "$work/open/b/"
set +e
timeout 60 mpirun "${mpirun_flags[@]}" -np 1 --wdir "$work/open/a" "$mpi" --no-progress plume : \
    -np 1 --wdir "$work/open/b" "$mpi" --no-progress plume >"$work/open/out" 2>"$work/open/err"
rc=$?
set -e
if [ "$rc" != 1 ] || ! grep -q -x 'detail: Could not open data output file.*(MPI-IO, plume.kvo) (a failure of the system, not of the model)' "$work/open/err" ||
    [ "$(od -A n -t d4 "$work/open/a/plume.kvt" | tr -d ' ')" != 0 ]; then
    echo "DIFFERS: the data file rank 1 cannot open (exit $rc, 124: a hang)"
    head -c 2000 "$work/open/err"
    failures=$((failures + 1))
else
    echo "data file not opened on rank 1: exit $rc"
fi

# Rank 0 alone solves the sparse heads and holds the whole model; each other
# rank holds only the nodes it reads (its rows and their halo). On three
# processes the other ranks' peak stays well below rank 0's, and what they
# hold beyond a process that runs the two-node example stays below 0.6 of
# the model's node arrays (m_work, m_stateNew and the dispersion
# coefficients: 8 x (3 x entries + 3 x mobile + 2) bytes a node), a third
# of them and the halo rows where each rank holds its part.
peak_line() {
    (cd "$work/np3" && mpirun "${mpirun_flags[@]}" -np 3 "$mpi" --no-progress --timings \
        "$1" >/dev/null 2>"$1.timings") || true
    cat "$work/np3/$1.timings"
}
if ! /usr/bin/python3 - "$(peak_line mpi_sparse_heads)" "$(peak_line two_nodes)" \
    "$work/models/mpi_sparse_heads.kvi" <<'EOF'
import re, sys
def peaks(text):
    m = re.search(r"peak resident memory: rank 0 (\d+) MiB, the other ranks at most (\d+) MiB", text)
    assert m, "no memory line in --timings"
    return int(m.group(1)), int(m.group(2))
root, others = peaks(sys.argv[1])
_, base = peaks(sys.argv[2])
rows, cols, immobile, mobile = (int(v) for v in open(sys.argv[3]).readline().split()[:4])
arrays = rows * cols * 8 * (3 * (7 + immobile + mobile) + 3 * mobile + 2) / 1048576.0
assert others < 0.75 * root, "rank 0 %d MiB, the others %d MiB" % (root, others)
assert others - base < 0.6 * arrays, \
    "the others hold %d MiB beyond %d, the node arrays are %.0f MiB" % (others - base, base, arrays)
print("sparse heads on rank 0 alone: rank 0 %d MiB, the others %d MiB (%d beyond a small run; "
      "node arrays %.0f MiB)" % (root, others, others - base, arrays))
EOF
then
    echo "DIFFERS: the other ranks' memory"
    failures=$((failures + 1))
fi

echo "${#models[@]} models on 1, 2 and 3 processes, $failures differences"
[ "$failures" -eq 0 ]
