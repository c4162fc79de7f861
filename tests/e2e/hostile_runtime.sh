#!/usr/bin/env bash
# Runs kova-compute the way a careless or hostile operator would and checks
# that it never hangs, never reports garbage as success and never loses or
# corrupts results: a FIFO for the model or a result file, closed standard
# streams, a reader that goes away, a second run on the same base, symbolic
# links planted at the result files, an impossible porosity, an end before
# the start.
# Usage: hostile_runtime.sh KOVA_COMPUTE EXAMPLES_DIR
set -uo pipefail
compute=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

fail() { echo "FAIL: $case: $*"; failed=$((failed + 1)); }
ok() { passed=$((passed + 1)); }
fresh() { rm -rf "$work/$1"; mkdir -p "$work/$1"; cp "$examples/two_nodes.kvi" "$work/$1/m.kvi"; echo "$work/$1/m"; }
# The time file of a finished run: 36 bytes and 8 a record.
finished() { [ -f "$1.kvt" ] && [ "$(stat -c %s "$1.kvt")" -ge 44 ]; }

case="a FIFO as the model file is refused, not waited on"
base=$(fresh fifo-model); rm "$base.kvi"; mkfifo "$base.kvi"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "not a regular file" <<<"$err"; then fail "exit $rc: $err"; else ok; fi

case="a FIFO as the data file is refused, not waited on"
base=$(fresh fifo-kvo); mkfifo "$base.kvo"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "is not a regular file" <<<"$err" || ! grep -q "^Input Error$" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi

case="closed stdout and stderr: the run completes"
base=$(fresh closed); timeout -k 5 20 "$compute" --no-progress "$base" >&- 2>&-; rc=$?
if [ $rc -ne 0 ] || ! finished "$base"; then fail "exit $rc"; else ok; fi

case="a reader that goes away (| head -1) neither ends nor cancels the run"
base=$(fresh pipe)
timeout -k 5 20 "$compute" --no-progress "$base" 2>&1 | head -c 1 >/dev/null; rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ] || ! finished "$base"; then fail "exit $rc"; else ok; fi

case="a second run on the same base fails at once naming the first"
base=$(fresh twice); cp "$examples/plume.kvi" "$base.kvi"
"$compute" --no-progress "$base" >/dev/null 2>&1 & first=$!
for _ in $(seq 100); do [ -f "$base.kvt" ] && break; sleep 0.05; done
kill -STOP $first 2>/dev/null
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
kill -CONT $first 2>/dev/null; wait $first; first_rc=$?
if [ $rc -ne 1 ] || ! grep -q "locked by another run (process $first)" <<<"$err"; then fail "exit $rc: $err";
elif [ $first_rc -ne 0 ] || ! finished "$base"; then fail "the first run: exit $first_rc";
else ok; fi

case="a model file replaced by a rename during a run still keeps a second run out"
base=$(fresh renamed); cp "$examples/plume.kvi" "$base.kvi"
"$compute" --no-progress "$base" >/dev/null 2>&1 & first=$!
for _ in $(seq 100); do [ -f "$base.kvt" ] && break; sleep 0.05; done
kill -STOP $first 2>/dev/null
cp "$examples/plume.kvi" "$base.new"; mv "$base.new" "$base.kvi"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
kill -CONT $first 2>/dev/null; wait $first; first_rc=$?
if [ $rc -ne 1 ] || ! grep -q "locked by another run (process $first)" <<<"$err"; then fail "exit $rc: $err";
elif [ $first_rc -ne 0 ] || ! finished "$base"; then fail "the first run: exit $first_rc";
else ok; fi

for table in budget.csv obs.csv; do
    case="a rerun that cannot open its $table leaves the earlier results as they were"
    base=$(fresh "unopened-$table"); cp "$examples/column.kvi" "$base.kvi"
    printf '[[observe]]\nname = "w"\nrow = 0\ncol = 5\n' >"$base.kvx"
    timeout -k 5 20 "$compute" --no-progress "$base" >/dev/null 2>&1
    before=$(md5sum "$base".kv[ot] "$base".*.csv | md5sum)
    rm "$base.$table"; mkdir "$base.$table"; : >"$base.$table/keep"
    after_set=$(md5sum "$base".kv[ot] "$base".*.csv 2>/dev/null | md5sum)
    err=$(timeout -k 5 20 "$compute" --no-progress "$base" 2>&1); rc=$?
    if [ $rc -ne 1 ] || [ "$(md5sum "$base".kv[ot] "$base".*.csv 2>/dev/null | md5sum)" != "$after_set" ]; then
        fail "exit $rc: $err"; else ok; fi
done

case="results hard-linked into a snapshot are replaced; the snapshot keeps the earlier run"
base=$(fresh linked); cp "$examples/column.kvi" "$base.kvi"
timeout -k 5 20 "$compute" --no-progress "$base" >/dev/null 2>&1
mkdir "$work/linked/snap"; ln "$base".kv[ot] "$base.budget.csv" "$work/linked/snap/"
before=$(cd "$work/linked/snap" && md5sum *)
sed -i '2s/^0.0 15.0 /0.0 5.0 /' "$base.kvi"
err=$(timeout -k 5 20 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 0 ] || [ "$(cd "$work/linked/snap" && md5sum *)" != "$before" ] ||
    cmp -s "$base.kvo" "$work/linked/snap/m.kvo" || [ "$(stat -c %h "$base.kvo")" != 1 ]; then
    fail "exit $rc: $err"; else ok; fi

case="a cancelled run ends its status with the cancel and the time reached, not Done."
base=$(fresh cancelled); cp "$examples/plume.kvi" "$base.kvi"
sed -i '2s/^0.0 60.0 /0.0 6000.0 /' "$base.kvi" # a run far longer than the wait below
"$compute" --progress=json "$base" >/dev/null 2>"$work/cancelled/err" & run=$!
for _ in $(seq 200); do [ -s "$base.kvo" ] && break; sleep 0.02; done
sleep 0.3; kill -TERM $run; wait $run; rc=$?
last=$(grep '^{' "$work/cancelled/err" | tail -1)
if [ $rc -ne 130 ] || ! grep -q '^{"status":"Cancelled at time [0-9.e+-]* of 6000",' <<<"$last"; then
    fail "exit $rc: $last"; else ok; fi

case="a symbolic link at the data file is refused and its target untouched"
base=$(fresh link); echo precious >"$work/link/target"; ln -s "$work/link/target" "$base.kvo"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "is a symbolic link" <<<"$err" || [ "$(cat "$work/link/target")" != precious ]; then
    fail "exit $rc: $err"; else ok; fi

case="a dangling symbolic link at the time file creates nothing elsewhere"
base=$(fresh dangling); ln -s "$work/dangling/elsewhere" "$base.kvt"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 1 ] || [ -e "$work/dangling/elsewhere" ] || ! grep -q "is a symbolic link" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi

# porosity 30: a percentage typed as a fraction
for row in "0|porosity 0 of node (0, 0) not above 0" "30|porosity 30 of node (0, 0) above 1"; do
    value=${row%%|*} words=${row#*|}
    case="porosity $value is an Input Error naming node and value, not NaN results"
    base=$(fresh "porosity-$value"); sed -i "s/ 0 0 0.3 1 1 0 0 0 / 0 0 $value 1 1 0 0 0 /" "$base.kvi"
    # stderr alone: the grid's diagnostic line on stdout may reach a shared
    # pipe before or after the report
    err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1 >/dev/null); rc=$?
    if [ $rc -ne 1 ] || ! grep -q "$words" <<<"$err" || [ -e "$base.kvo" ]; then
        fail "exit $rc: $err"; else ok; fi
done

case="a failed run's status lines end with its report: no earlier status after it"
if [ "$(sed -n '/^detail: /,$p' <<<"$err" | sed 1d)" != "Input Error" ]; then fail "$err"; else ok; fi

case="--help, --version and --reaction-types that cannot reach stdout fail"
for option in --help --version --reaction-types; do
    "$compute" $option >/dev/full 2>/dev/null; rc=$?
    [ $rc -eq 1 ] || { fail "$option: exit $rc"; continue; }
    ok
done

case="an end time before the start time runs as before, with a warning in the run and in --check"
base=$(fresh end-before-start); sed -i 's/^1 2 0 1 0 1 0 10 /1 2 0 1 0 1 10 0 /' "$base.kvi"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
check=$(timeout -k 5 10 "$compute" --check "$base" 2>&1); check_rc=$?
words="warning: the end time 0 is before the start time 10"
if [ $rc -ne 0 ] || ! grep -q "$words" <<<"$err" || [ $check_rc -ne 0 ] || ! grep -q "$words" <<<"$check"; then
    fail "exit $rc, --check $check_rc: $err / $check"; else ok; fi

case="a given step far above the stable step is a Computational Error, not garbage with exit 0"
mkdir -p "$work/unstable"; base="$work/unstable/m"
# no flow, diffusion 1, porosity 0.3, 0.01, 0.3: the middle node is stable below 1/31
printf '1 3 0 1 0 1 0 8 1 1 1e-9\n0\n0 1 2\n0 0 1\n0 0 0.3 1 1 0 0 0\n2  0 1 2 0.01  0 0 7 1\n3  0 0  0 1  0 2\n0\n0\n0\n0 0\n' >"$base.kvi"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "^Computational Error$" <<<"$err" ||
    ! grep -q "grown without bound with the global step 1 against the stable step" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi

case="the computed step of a node of low porosity among high ones stays in range"
sed -i 's/^1 3 0 1 0 1 0 8 1 1 /1 3 0 1 0 1 0 8 1 0 /' "$base.kvi"
err=$(timeout -k 5 10 "$compute" --no-progress "$base" 2>&1); rc=$?
range=$(python3 -c "import array,sys; a=array.array('d'); a.frombytes(open(sys.argv[1],'rb').read()); v=a[7::8]; print(min(v) >= -1e-12 and max(v) <= 1 + 1e-12)" "$base.kvo")
if [ $rc -ne 0 ] || [ "$range" != True ]; then fail "exit $rc, in range: $range: $err"; else ok; fi

case="a cancel during a long head solve ends the run at once, writing nothing"
mkdir -p "$work/solve"; base="$work/solve/m"
python3 - "$base.kvi" <<'PY'
import sys
n = 700  # the sparse solve of 490,000 nodes takes seconds
rows = [f"{n} {n} 0 1 0 1 0 10 1 0.1 1e-6", " ".join(map(str, range(n))),
        " ".join(map(str, range(n))), "1 0.1 0", "0 0 0.3 1 1 0 0 0",
        f"{n} " + " ".join(f"{i} 0 0 10" for i in range(n)),
        f"{2 * n} " + " ".join(f"{i} 0 {i} {n - 1}" for i in range(n)), "0", "0", "0 0"]
open(sys.argv[1], "w").write("\n".join(rows) + "\n")
PY
"$compute" --no-progress --threads 1 "$base" >/dev/null 2>"$work/solve/err" & run=$!
for _ in $(seq 400); do grep -q "Initalizing Hydraulic Heads" "$work/solve/err" 2>/dev/null && break; sleep 0.05; done
sleep 0.2
start=$(date +%s%N); kill -TERM $run; wait $run; rc=$?; ms=$(( ($(date +%s%N) - start) / 1000000 ))
if [ $rc -ne 130 ] || [ $ms -gt 1500 ] || [ -e "$base.kvo" ] || [ -e "$base.kvt" ]; then
    fail "exit $rc after $ms ms: $(cat "$work/solve/err")"; else ok; fi

# AddressSanitizer reserves terabytes of address space: no memory limit fits it.
if grep -q __asan_init "$compute"; then
    echo "skipped: the memory-limit cases under AddressSanitizer"
else
case="memory the head solve cannot have is a clean error naming what and its size"
err=$( (ulimit -v 300000; timeout -k 5 60 "$compute" --no-progress --threads 1 "$base") 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "^detail: not enough memory for the \(sparse\|AMG\) solve of the heads of 490000 nodes ([0-9]* MiB)" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi

case="a thread the system will not start is a clean error, not an abort"
base=$(fresh thread)
err=$( (ulimit -v 400000; ulimit -s 1000000; timeout -k 5 20 "$compute" --no-progress --threads 2 "$base") 2>&1); rc=$?
if [ $rc -ne 1 ] || ! grep -q "could not start the worker thread: .* (a failure of the system, not of the model)" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi
fi

case="more threads than cores compute with the cores, and say so"
base=$(fresh many)
err=$(timeout -k 5 20 "$compute" --no-progress --threads 1024 "$base" 2>&1); rc=$?
if [ $rc -ne 0 ] || ! finished "$base" || ! grep -q "^kova-compute: --threads 1024 is more than the" <<<"$err"; then
    fail "exit $rc: $err"; else ok; fi

case="--check exits 1 when its summary cannot be written"
base=$(fresh check)
timeout -k 5 10 "$compute" --check "$base" >/dev/full 2>/dev/null; rc=$?
if [ $rc -ne 1 ]; then fail "exit $rc"; else ok; fi

case="the model file's own name runs its base"
base=$(fresh named)
err=$(timeout -k 5 20 "$compute" --no-progress "$base.kvi" 2>&1); rc=$?
if [ $rc -ne 0 ] || ! finished "$base" || [ -e "$base.kvi.kvo" ]; then fail "exit $rc: $err"; else ok; fi

case="SIGHUP (the terminal closed) cancels like SIGTERM: exit 130, complete files"
case="long implicit steps with fast decay leave no value below zero"
mkdir -p "$work/emptied"; base="$work/emptied/m"
# 5 x 8 nodes, heads 10 and 0 on the first and last column, a unit patch at
# (2, 1), first-order decay 0.1, implicit steps of 80 (the patch leaves its
# nodes within a step)
{ printf '5 8 0 1 1 1\n0 400 80 80 1e-09\n0 1 2 3 4\n0 1 2 3 4 5 6 7\n1 0.1 0\n0 0 0.3 1 1 0 0 0\n11\n'
  for i in 0 1 2 3 4; do printf '%d 0 0 10\n%d 7 0 0\n' $i $i; done
  printf '2 1 7 1\n10\n'
  for i in 0 1 2 3 4; do printf '%d 0\n%d 7\n' $i $i; done
  printf '2 0 0 0 0 0 0 0 -1 1 7 0.1\n0\n0\n0 1 0\n'; } >"$base.kvi"
printf '[transport]\ntime = "implicit"\n' >"$base.kvx"
err=$(timeout -k 5 20 "$compute" --no-progress "$base" 2>&1); rc=$?
low=$(python3 -c "import array,sys; a=array.array('d'); a.frombytes(open(sys.argv[1],'rb').read()); print(min(a[7::8]))" "$base.kvo")
if [ $rc -ne 0 ] || python3 -c "import sys; sys.exit(float(sys.argv[1]) >= -1e-9)" "$low"; then
    fail "exit $rc, lowest value $low: $err"; else ok; fi

base=$(fresh hangup); cp "$examples/plume.kvi" "$base.kvi"
"$compute" --no-progress "$base" >/dev/null 2>&1 & run=$!
for _ in $(seq 200); do [ -s "$base.kvo" ] && break; sleep 0.02; done
kill -HUP $run; wait $run; rc=$?
if [ $rc -ne 130 ] || ! finished "$base"; then fail "exit $rc"; else ok; fi

if command -v script >/dev/null; then
    case="TERM=dumb on a terminal gets plain status lines, no cursor movement"
    base=$(fresh dumb)
    out=$(TERM=dumb timeout -k 5 20 script -qec "'$compute' '$base'" /dev/null 2>&1); rc=$?
    if [ $rc -ne 0 ] || grep -q $'\x1b\[' <<<"$out" || ! grep -q "^Done\." <<<"$(tr -d '\r' <<<"$out")"; then
        fail "exit $rc: $(cat -v <<<"$out" | head -5)"; else ok; fi
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
