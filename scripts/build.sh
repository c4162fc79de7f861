#!/usr/bin/env bash
# Builds one configuration: release (g++, -O2) or sanitize (clang++, ASan+UBSan,
# with the model fuzzer). KOVA_MPI=ON in the environment adds kova-compute-mpi
# and its test to the release configuration (OpenMPI; see docs/scaling.md).
# Usage: scripts/build.sh release|sanitize [TARGET...]   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
release)
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_COMPILER=g++ -DKOVA_MPI="${KOVA_MPI:-OFF}" >/dev/null ;;
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
