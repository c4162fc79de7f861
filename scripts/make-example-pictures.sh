#!/usr/bin/env bash
# Runs the examples in out/ and draws the quick-look picture of each into
# examples/NAME.png with kova-plot (see examples/README.md). Run it after
# changing an example or the engine, and look at the pictures before
# committing them.
# Usage: scripts/make-example-pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release >/dev/null
mkdir -p out

# name and kova-plot arguments of its picture
pictures=(
    "column --node 0,40 --entry tracer"
    "plume --entry tracer"
    "hydrocarbon_plume --entry benzene"
    "decay_chain --node 14,20"
    "complexation --entry ZnCit"
)
for picture in "${pictures[@]}"; do
    read -r name args <<<"$picture"
    cp "examples/$name.kvi" "out/$name.kvi"
    cp "examples/$name.kvx" "out/$name.kvx"
    build/release/kova-compute --no-progress "out/$name" >/dev/null 2>&1
    # shellcheck disable=SC2086 # the arguments are split on purpose
    build/release/kova-plot "out/$name" $args -o "examples/$name.png"
done
