#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

# gnuplot-nox draws kova-plot's pictures; python3-vtk9 and python3-numpy let the
# tests read exported VTK files back with VTK's own reader; Eigen solves the head
# systems of large grids; toml++ reads the extension file; libnetcdf writes
# kova-export's NetCDF files; Google Benchmark runs the micro-benchmarks;
# python3-xarray, python3-pandas and python3-pytest run the tests of the Python
# package (python/), which reads the results of runs; python3-tqdm draws its
# progress bar, python3-matplotlib the pictures of its guide (docs/python.md) and
# python3-netcdf4 reads kova-export's NetCDF files back in its tests;
# python3-pycodestyle checks the package's PEP 8 and clang-format the C++
# layout; python3-venv, python3-pip and python3-setuptools let a test install
# the package into a venv, offline.
# chromium (headless) opens the run report kova-report writes, as a reader's
# browser would, so its test sees that every section and picture renders.
# libopenmpi-dev (with openmpi-bin, mpirun) builds and runs kova-compute-mpi,
# the run over several processes: Debian's OpenMPI, the MPI of the field.
# libhypre-dev solves its distributed heads (kova-compute-mpi --heads
# distributed: conjugate gradients with BoomerAMG); only the MPI build links
# it, and it brings far fewer packages than PETSc would.
# libxxhash-dev digests the checkpoints (BASE.kvr) and the model files they
# name, at memory speed.
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev gnuplot-nox python3-vtk9
    python3-numpy libeigen3-dev libtomlplusplus-dev libnetcdf-dev libbenchmark-dev
    python3-xarray python3-pandas python3-pytest python3-tqdm python3-matplotlib
    python3-netcdf4 libopenmpi-dev openmpi-bin libhypre-dev python3-pycodestyle python3-venv
    python3-pip python3-setuptools clang-format chromium libxxhash-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}" >&2
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# The sanitizer and fuzzer runtimes of the installed clang (only recommended by
# Debian's clang package): the sanitize configuration builds the model fuzzer.
fuzzer_lib=$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null || true)
if [ ! -f "$fuzzer_lib" ]; then
    major=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
    echo "installing: libclang-rt-$major-dev" >&2
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "libclang-rt-$major-dev"
fi
