#!/usr/bin/env bash
# Installs what is missing, builds kova-compute and runs a shipped example.
# Usage: scripts/run-example.sh [example-name]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
name=${1:-two_nodes}
mkdir -p out
cp "examples/$name.kvi" "out/$name.kvi"
build/release/kova-compute "out/$name"
echo "results: out/$name.kvo (state records) and out/$name.kvt (record times)" >&2
