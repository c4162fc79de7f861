#!/usr/bin/env bash
# Installs what is missing, builds the release (g++, with kova-compute-mpi) and
# the sanitizer (clang++, ASan+UBSan) configurations, and runs every test under
# both (the release's include the runs over 1, 2 and 3 MPI processes); then the
# tests of the Python package against the release build (Debian's python3,
# whatever python3 comes first on the PATH), after its PEP 8 check. The C++
# sources are checked against clang-format first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
echo "=== C++ format" >&2
scripts/check-format.sh
for config in release sanitize; do
    echo "=== $config build" >&2
    mpi=OFF
    [ "$config" = release ] && mpi=ON
    KOVA_MPI=$mpi scripts/build.sh "$config"
    echo "=== $config tests" >&2
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "build/$config" --output-on-failure --parallel "$(nproc)"
done
echo "=== python style" >&2
/usr/bin/python3 -m pycodestyle --config python/setup.cfg python
echo "=== python tests" >&2
/usr/bin/python3 -m pytest -q python/tests
