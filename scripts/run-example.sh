#!/usr/bin/env bash
# Installs what is missing, builds kova-compute (nothing else) and runs a shipped example
# (default: plume, a 100 x 100 tracer plume), then writes its report and says where
# the results are.
# Usage: scripts/run-example.sh [plume|column|hydrocarbon_plume|decay_chain|complexation|two_nodes]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release kova-compute
name=${1:-plume}
if [ ! -f "examples/$name.kvi" ]; then
    echo "no example '$name'; the examples are:" $(cd examples && ls *.kvi | sed 's/\.kvi$//') >&2
    exit 2
fi
mkdir -p out
cp "examples/$name.kvi" "out/$name.kvi"
# The extension file names the entries and places the observation wells.
if [ -f "examples/$name.kvx" ]; then cp "examples/$name.kvx" "out/$name.kvx"; fi
# What the run says on stderr (warnings, budget summary, timings) is kept in
# out/NAME.log for the report; with stderr taken, the run prints status lines
# instead of drawing its display.
{ build/release/kova-compute --timings "out/$name" 2>&1 1>&3 3>&- | tee "out/$name.log" >&2; } 3>&1
if command -v python3 >/dev/null; then
    python3 scripts/summarize-output.py "out/$name"
fi
echo "results: $PWD/out/$name.kvo (state records) and $PWD/out/$name.kvt (record times)"
echo "         $PWD/out/$name.budget.csv (mass budget)"
echo "         $PWD/out/$name.water.csv (water balance)"
if [ -f "out/$name.obs.csv" ]; then
    echo "         $PWD/out/$name.obs.csv (observation wells)"
fi
echo "         $PWD/out/$name.kvr (checkpoint: build/release/kova-compute --continue out/$name" \
    "goes on from it after a kill, or --continue --until T to a later end time T)"
# Debian's python3: the report needs numpy, pandas, xarray and matplotlib.
PYTHONPATH=python /usr/bin/python3 -m kova.run_report "out/$name" >/dev/null
echo "report: $PWD/out/$name.report.html"
