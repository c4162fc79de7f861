#!/usr/bin/env bash
# Runs the model fuzzer (libFuzzer, ASan + UBSan) for SECONDS seconds.
#
# Usage: scripts/fuzz.sh [--binary FUZZER] [--scratch DIR] SECONDS [libFuzzer options]
#
# Without --binary the sanitizer configuration is built first and its fuzzer
# used. Inputs are read from the committed corpus (fuzz/corpus), the
# regression files (fuzz/regressions) and the model files of the tests and
# examples; new inputs go to the scratch directory (default build/fuzz-corpus),
# crashes and hangs to build/fuzz-artifacts/. To fold the scratch inputs into
# the committed corpus:
#   FUZZER -merge=1 fuzz/corpus build/fuzz-corpus
set -euo pipefail
cd "$(dirname "$0")/.."
binary=""
scratch="build/fuzz-corpus"
while [ $# -gt 0 ]; do
    case "$1" in
    --binary) binary=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    *) break ;;
    esac
done
if [ $# -lt 1 ]; then
    echo "usage: $0 [--binary FUZZER] [--scratch DIR] SECONDS [libFuzzer options]" >&2
    exit 2
fi
seconds=$1
shift
if [ -z "$binary" ]; then
    scripts/build.sh sanitize >&2
    binary=build/sanitize/fuzz/kova_model_fuzzer
fi
artifacts=build/fuzz-artifacts
mkdir -p "$scratch" "$artifacts"
# One input may take long only through the engine's own bounds; -timeout
# turns anything slower into a reported hang.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:abort_on_error=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1
exec "$binary" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict=fuzz/model.dict -artifact_prefix="$artifacts/" "$@" \
    "$scratch" fuzz/corpus fuzz/regressions tests/data examples
