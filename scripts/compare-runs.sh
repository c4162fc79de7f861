#!/usr/bin/env bash
# Runs every shipped example and every test model with two builds of
# kova-compute and compares what each run leaves: the .kvo and .kvt bytes,
# the mass budget and the observation wells, the exit code, stderr (less the status lines, which the front end samples as
# they come) and the --check summary. For changes that must not change a result.
# Usage: scripts/compare-runs.sh OLD_BIN NEW_BIN [THREADS]
set -euo pipefail
cd "$(dirname "$0")/.."
old=$1 new=$2 threads=${3:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ=0 count=0
status='Initalizing\.\.\.\.|Allocating Arrays \.\.\.|Reading Input Data \.\.\.|Initalizing Hydraulic Heads \.\.\.|Computing Inital Heads \.\.\.|Simulating \.\.\.|Writing Output|Closing Files \.\.\.|Done\.'

for model in examples/*.kvi tests/data/*.kvi; do
    name=$(basename "$model" .kvi)
    for side in old new; do
        dir="$work/$side/$(dirname "$model")"
        mkdir -p "$dir"
        cp "$model" "$dir/"
        bin=$old
        [ "$side" = new ] && bin=$new
        set +e
        (cd "$dir" && "$bin" --no-progress --threads "$threads" "$name" >"$name.out" 2>"$name.err"
            echo $? >"$name.rc"
            grep -v -x -E "$status" "$name.err" >"$name.msg" || true
            "$bin" --check "$name" >"$name.check" 2>"$name.checkerr"
            echo $? >>"$name.rc")
        set -e
    done
    count=$((count + 1))
    for ext in kvo kvt budget.csv obs.csv out msg rc check checkerr; do
        a="$work/old/$(dirname "$model")/$name.$ext"
        b="$work/new/$(dirname "$model")/$name.$ext"
        if [ -e "$a" ] || [ -e "$b" ]; then
            if ! cmp -s "$a" "$b"; then
                echo "DIFFERS: $model .$ext"
                diff <(head -c 2000 "$a" | cat -v) <(head -c 2000 "$b" | cat -v) | head -10 || true
                differ=$((differ + 1))
            fi
        fi
    done
done
echo "$count models, $differ differences"
[ "$differ" -eq 0 ]
