#!/usr/bin/env bash
# Installs what is missing, builds kova-compute (nothing else) and runs a shipped example
# (default: plume, a 100 x 100 tracer plume), then says where the results are.
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
build/release/kova-compute "out/$name"
if command -v python3 >/dev/null; then
    python3 scripts/summarize-output.py "out/$name"
fi
echo "results: $PWD/out/$name.kvo (state records) and $PWD/out/$name.kvt (record times)"
echo "         $PWD/out/$name.budget.csv (mass budget)"
if [ -f "out/$name.obs.csv" ]; then
    echo "         $PWD/out/$name.obs.csv (observation wells)"
fi
