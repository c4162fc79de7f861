#!/usr/bin/env bash
# Builds one configuration: release (g++, -O2) or sanitize (clang++, ASan+UBSan,
# with the model fuzzer).
# Usage: scripts/build.sh release|sanitize [TARGET...]   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
release)
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_COMPILER=g++ >/dev/null ;;
sanitize)
    cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DKOVA_SANITIZE=ON -DKOVA_FUZZ=ON >/dev/null ;;
*)
    echo "usage: $0 release|sanitize" >&2
    exit 2 ;;
esac
shift || true
targets=()
for target in "$@"; do
    targets+=(--target "$target")
done
cmake --build "build/$config" --parallel "$(nproc)" "${targets[@]}"
