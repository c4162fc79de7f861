#!/usr/bin/env python3
"""Strong scaling of kova-compute-mpi on this machine: one model on 1 and 2
processes (one thread each) against kova-compute with 1 and 2 threads, best
of N runs, with the phase times of --timings (rank 0's) and a check that
every run wrote the same records.

The model is make_model.py's decay network (3 mobile components, a
first-order chain) on a square grid: transport and reactions at every node,
a halo of one 300-node row (2 400 doubles, 19.2 KB) each way per step on 2
processes.

With --heads: the heads alone on the 300 x 300 heterogeneous model of
tests/e2e/mpi_models.py --heads (conductivities over five orders of
magnitude, one step): the one-process solve (sparse) against --heads
distributed on 1 and 2 processes, the heads phase of --timings (rank 0's),
best of N, and the largest relative difference of a head from the
one-process run's.

Usage: bench/mpi_scaling.py [--size 300] [--steps 200] [--runs 3] [--heads]
       (needs KOVA_MPI=ON scripts/build.sh release)
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BIN = os.path.join(ROOT, "build", "release")


def mpirun():
    flags = ["mpirun", "--oversubscribe", "--bind-to", "none"]
    if os.getuid() == 0:
        flags.append("--allow-run-as-root")
    return flags


def run(command, base):
    start = time.perf_counter()
    done = subprocess.run(command + ["--no-progress", "--timings", os.path.basename(base)],
                          cwd=os.path.dirname(base), capture_output=True, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), done.stderr))
    phases = dict((m.group(1), float(m.group(2)))
                  for m in re.finditer(r"^  (\w[\w ]*?) +([0-9.]+) s", done.stderr, re.M))
    with open(base + ".kvo", "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    return wall, phases, digest


def first_heads(base):
    with open(base + ".kvt", "rb") as f:
        _, rows, cols = struct.unpack_from("<iii", f.read(12))
    nodes = rows * cols
    with open(base + ".kvo", "rb") as f:
        record = f.read(os.path.getsize(base + ".kvo") // max(1, records(base)))
    entries = len(record) // (8 * nodes)
    values = struct.unpack("<%dd" % (nodes * entries), record)
    return values[0::entries]


def records(base):
    with open(base + ".kvt", "rb") as f:
        return struct.unpack_from("<i", f.read(4))[0]


def heads_bench(runs):
    work = tempfile.mkdtemp()
    try:
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tests", "e2e", "mpi_models.py"),
                        "--heads", work], check=True)
        base = os.path.join(work, "heads_hetero")
        serial = os.path.join(BIN, "kova-compute")
        mpi = os.path.join(BIN, "kova-compute-mpi")
        cases = [
            ("kova-compute --threads 1 (sparse solve)", [serial, "--threads", "1"]),
            ("mpirun -np 1 kova-compute-mpi (sparse solve)", mpirun() + ["-np", "1", mpi]),
            ("mpirun -np 1 kova-compute-mpi --heads distributed",
             mpirun() + ["-np", "1", mpi, "--heads", "distributed"]),
            ("mpirun -np 2 kova-compute-mpi --heads distributed",
             mpirun() + ["-np", "2", mpi, "--heads", "distributed"]),
        ]
        print("300 x 300 heterogeneous heads, best of %d; load average %.2f"
              % (runs, os.getloadavg()[0]))
        print("| run | heads s | wall s | largest relative head difference |")
        print("|---|---|---|---|")
        reference = None
        for name, command in cases:
            best = None
            for _ in range(runs):
                wall, phases, _ = run(command, base)
                if best is None or phases["heads"] < best[1]["heads"]:
                    best = (wall, phases)
            heads = first_heads(base)
            reference = reference or heads
            worst = max(abs(h - r) / abs(r) for h, r in zip(heads, reference))
            print("| %s | %.3f | %.2f | %.2g |" % (name, best[1]["heads"], best[0], worst))
    finally:
        shutil.rmtree(work)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--size", type=int, default=300)
    p.add_argument("--steps", type=int, default=200)
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--heads", action="store_true")
    a = p.parse_args()
    if a.heads:
        heads_bench(a.runs)
        return
    work = tempfile.mkdtemp()
    try:
        base = os.path.join(work, "scaling")
        subprocess.run([sys.executable, os.path.join(HERE, "make_model.py"), base,
                        "--rows", str(a.size), "--cols", str(a.size), "--mobile", "3",
                        "--network", "decay", "--steps", str(a.steps), "--records", "2"],
                       check=True)
        serial = os.path.join(BIN, "kova-compute")
        mpi = os.path.join(BIN, "kova-compute-mpi")
        cases = [
            ("kova-compute --threads 1", [serial, "--threads", "1"]),
            ("kova-compute --threads 2", [serial, "--threads", "2"]),
            ("mpirun -np 1 kova-compute-mpi", mpirun() + ["-np", "1", mpi, "--threads", "1"]),
            ("mpirun -np 2 kova-compute-mpi", mpirun() + ["-np", "2", mpi, "--threads", "1"]),
        ]
        print("%d x %d nodes, 3 mobile, %d steps, best of %d; load average %.2f"
              % (a.size, a.size, a.steps, a.runs, os.getloadavg()[0]))
        print("| run | wall s | time loop s (transport + reactions) | same records |")
        print("|---|---|---|---|")
        reference = None
        for name, command in cases:
            best = None
            for _ in range(a.runs):
                result = run(command, base)
                if best is None or result[0] < best[0]:
                    best = result
            wall, phases, digest = best
            reference = reference or digest
            loop = phases.get("transport", 0.0) + phases.get("reactions", 0.0)
            print("| %s | %.2f | %.2f | %s |" % (name, wall, loop,
                                                 "yes" if digest == reference else "NO"))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
