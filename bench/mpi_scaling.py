#!/usr/bin/env python3
"""Strong scaling of kova-compute-mpi on this machine.

Each model of make_model.py runs on 1 and 2 processes (`--threads 1` each)
and, for comparison, in one process with 1 and 2 threads (kova-compute).
The cases alternate (one run of every case, then the next round), and the
figures are the medians over the rounds of the phase times of `--timings`
(rank 0's under MPI) and of the wall time around the run (mpirun's start
included). The script also reports:

- the halo traffic per global step, from the last line of kova-compute-mpi's
  `--timings` (messages and bytes over all ranks);
- the record I/O: bytes per record (the size of BASE.kvo over the records in
  BASE.kvt) and the output phase per record (the output phase also holds the
  opening and closing of the files, the budget's gather and the wells' rows);
- the time loop's cost per node and global step (transport, reactions);
- whether every run wrote the same records (SHA-256 of BASE.kvo).

The models (`--models`, default all three):
  decay200      200 x 200, 3 mobile, first-order chain, 200 steps of 0.125 d
  dualmonod200  200 x 200, 5 mobile, 2 immobile, dual Monod, 200 steps
  decay1000     1000 x 1000, 3 mobile, first-order chain, 20 steps of 0.25 d
                (also on 2 processes with --heads distributed)

With --heads: the heads alone on the 300 x 300 heterogeneous model of
tests/e2e/mpi_models.py --heads (conductivities over five orders of
magnitude, one step): the one-process solve (sparse) against --heads
distributed on 1 and 2 processes, the heads phase of --timings (rank 0's),
best of N, and the largest relative difference of a head from the
one-process run's.

Usage: bench/mpi_scaling.py [--models decay200 dualmonod200 decay1000]
                            [--runs 3] [--json FILE]
       bench/mpi_scaling.py --heads [--runs 3]
       (needs KOVA_MPI=ON scripts/build.sh release; docs/scaling.md)
"""
import argparse
import hashlib
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import statistics
import tempfile
import time
from typing import Dict, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BIN = os.path.join(ROOT, "build", "release")


def mpirun() -> List[str]:
    """mpirun with the options this machine needs (2 cores, maybe root)."""
    flags = ["mpirun", "--oversubscribe", "--bind-to", "none"]
    if os.getuid() == 0:
        flags.append("--allow-run-as-root")
    return flags


def run(command: List[str], base: str) -> Tuple[float, Dict[str, float], str]:
    """Runs one case with --timings: wall seconds, phase times, SHA-256 of BASE.kvo."""
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


def first_heads(base: str) -> Tuple[float, ...]:
    """The heads of the first record of BASE.kvo."""
    with open(base + ".kvt", "rb") as f:
        _, rows, cols = struct.unpack_from("<iii", f.read(12))
    nodes = rows * cols
    with open(base + ".kvo", "rb") as f:
        record = f.read(os.path.getsize(base + ".kvo") // max(1, records(base)))
    entries = len(record) // (8 * nodes)
    values = struct.unpack("<%dd" % (nodes * entries), record)
    return values[0::entries]


def records(base: str) -> int:
    """The number of records BASE.kvt counts."""
    with open(base + ".kvt", "rb") as f:
        return struct.unpack_from("<i", f.read(4))[0]


def heads_bench(runs: int) -> None:
    """Times the heads alone: one-process solve against --heads distributed."""
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


# name: (make_model.py arguments, extra cases of kova-compute-mpi options)
MODELS: Dict[str, Tuple[List[str], List[List[str]]]] = {
    "decay200": (["--rows", "200", "--cols", "200", "--mobile", "3", "--network", "decay",
                  "--steps", "200", "--dt", "0.125", "--records", "4"], []),
    "dualmonod200": (["--rows", "200", "--cols", "200", "--mobile", "5", "--immobile", "2",
                      "--network", "dualmonod", "--steps", "200", "--dt", "0.125",
                      "--records", "4"], []),
    "decay1000": (["--rows", "1000", "--cols", "1000", "--mobile", "3", "--network", "decay",
                   "--steps", "20", "--dt", "0.25", "--records", "2"],
                  [["--heads", "distributed"]]),
}
PHASES = ["read", "heads", "flow field", "transport", "reactions", "output", "total"]


def parse(text: str) -> Dict[str, float]:
    """Reads the figures of one run's --timings.

    Parameters
    ----------
    text : str
        The run's standard error.

    Returns
    -------
    dict
        Phase times in seconds by phase name, and "nodes", "steps",
        "messages" and "halo bytes" (the last two 0 for kova-compute).
    """
    figures: Dict[str, float] = {}
    for phase in PHASES:
        m = re.search(r"^  " + re.escape(phase) + r" +([0-9.]+) s", text, re.M)
        figures[phase] = float(m.group(1)) if m else float("nan")
    m = re.search(r"timings: (\d+) threads?, (\d+) nodes, (\d+) global steps", text)
    figures["nodes"], figures["steps"] = (float(m.group(2)), float(m.group(3))) if m else (0, 0)
    m = re.search(r"per global step (\d+) halo messages, (\d+) bytes", text)
    figures["messages"], figures["halo bytes"] = \
        (float(m.group(1)), float(m.group(2))) if m else (0.0, 0.0)
    return figures


def timed_run(command: List[str], base: str) -> Tuple[float, Dict[str, float], str]:
    """Runs one case with --timings.

    Parameters
    ----------
    command : list of str
        The program and its options, without the model.
    base : str
        The model's base name (BASE.kvi); the run's directory is its own.

    Returns
    -------
    tuple
        Wall seconds, the figures of `parse` with "peak MiB" (the largest
        process's peak resident memory), the SHA-256 of BASE.kvo.
    """
    err_name = base + ".err"
    with open(base + ".out", "w") as out, open(err_name, "w") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(command + ["--no-progress", "--timings",
                                           os.path.basename(base)],
                                cwd=os.path.dirname(base), stdout=out, stderr=err)
        # The usage of mpirun includes the ranks it waited for: ru_maxrss
        # is then the largest process's peak.
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    with open(err_name) as err:
        text = err.read()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), text))
    with open(base + ".kvo", "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    figures = parse(text)
    figures["peak MiB"] = usage.ru_maxrss / 1024.0
    return wall, figures, digest


def cases(extra: List[List[str]]) -> List[Tuple[str, List[str]]]:
    """The runs of one model: 1 and 2 threads in one process, 1 and 2
    processes of 1 thread, and the model's extra kova-compute-mpi options on
    2 processes."""
    serial = os.path.join(BIN, "kova-compute")
    mpi = os.path.join(BIN, "kova-compute-mpi")
    runs = [
        ("1 process, 1 thread (kova-compute)", [serial, "--threads", "1"]),
        ("1 process, 2 threads (kova-compute)", [serial, "--threads", "2"]),
        ("np 1, 1 thread (kova-compute-mpi)", mpirun() + ["-np", "1", mpi, "--threads", "1"]),
        ("np 2, 1 thread each (kova-compute-mpi)",
         mpirun() + ["-np", "2", mpi, "--threads", "1"]),
    ]
    for options in extra:
        runs.append(("np 2, 1 thread each, " + " ".join(options),
                     mpirun() + ["-np", "2", mpi, "--threads", "1"] + options))
    return runs


def same_text(row: Dict[str, object]) -> str:
    """"yes" when a run wrote the first run's records; the distributed heads
    are not bit for bit, so their records differ by design."""
    if row["same records"]:
        return "yes"
    if "--heads distributed" in str(row["case"]):
        return "no (not bit for bit, by design)"
    return "NO"


def bench_model(name: str, rounds: int, work: str) -> List[Dict[str, object]]:
    """Writes one model, runs its cases alternately and prints its tables.

    Parameters
    ----------
    name : str
        A key of MODELS.
    rounds : int
        Runs per case; one run of every case per round.
    work : str
        The directory the model is written to.

    Returns
    -------
    list of dict
        Per case: its name, the median figures, the wall medians, whether
        its records are those of the first case.
    """
    arguments, extra = MODELS[name]
    base = os.path.join(work, name)
    subprocess.run([sys.executable, os.path.join(HERE, "make_model.py"), base] + arguments,
                   check=True)
    runs = cases(extra)
    results: List[List[Tuple[float, Dict[str, float], str]]] = [[] for _ in runs]
    for _ in range(rounds):
        for i, (_, command) in enumerate(runs):
            results[i].append(timed_run(command, base))
    with open(base + ".kvo", "rb") as f:
        kvo_bytes = len(f.read())
    per_record = kvo_bytes / records(base)
    rows: List[Dict[str, object]] = []
    reference: Optional[str] = None
    for (label, _), got in zip(runs, results):
        figures = {k: statistics.median(r[1][k] for r in got) for k in got[0][1]}
        digest = got[0][2]
        same = all(r[2] == digest for r in got)
        reference = reference or digest
        rows.append({"model": name, "case": label,
                     "wall": statistics.median(r[0] for r in got),
                     "figures": figures, "same records": same and digest == reference,
                     "record bytes": per_record, "records": records(base)})
    print("\n%s: %d nodes, %d global steps, %d records of %d bytes; median of %d "
          "alternating runs, seconds; load average %.2f"
          % (name, rows[0]["figures"]["nodes"], rows[0]["figures"]["steps"], records(base),
             per_record, rounds, os.getloadavg()[0]))
    print("| run | read | heads | transport | reactions | output | total | wall "
          "| time loop vs 1 thread | vs np 1 | same records |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    loop1 = rows[0]["figures"]["transport"] + rows[0]["figures"]["reactions"]
    loop_np1 = rows[2]["figures"]["transport"] + rows[2]["figures"]["reactions"]
    for row in rows:
        f = row["figures"]
        loop = f["transport"] + f["reactions"]
        print("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f | %.2fx | %.2fx | %s |"
              % (row["case"], f["read"], f["heads"], f["transport"], f["reactions"],
                 f["output"], f["total"], row["wall"], loop1 / loop, loop_np1 / loop,
                 same_text(row)))
    print("\n| run | transport ns per node-step | reactions ns per node-step "
          "| halo messages per step | halo bytes per step | output s per record "
          "| peak MiB per process |")
    print("|---|---|---|---|---|---|---|")
    for row in rows:
        f = row["figures"]
        node_steps = f["nodes"] * f["steps"]
        print("| %s | %.1f | %.1f | %d | %d | %.4f | %.0f |"
              % (row["case"], 1e9 * f["transport"] / node_steps,
                 1e9 * f["reactions"] / node_steps, f["messages"], f["halo bytes"],
                 f["output"] / row["records"], f["peak MiB"]))
    return rows


# The cluster model's assumptions (docs/scaling.md, "What a cluster would
# take"): none of these is measured here.
LATENCY = 2e-6            # s, one point-to-point message (InfiniBand, MPI)
COLLECTIVE = 3e-6         # s per tree level of a small allreduce or broadcast
LINK = 5e9                # bytes/s a halo message moves at (a share of a 25 GB/s link)
FILE_SYSTEM = 10e9        # bytes/s the job writes to a parallel file system
STEPS = 10_000            # global steps of the run
RECORDS = 100             # records of the run
SPARSE_EXPONENT = 1.5     # the one-process sparse heads' time grows as nodes^1.5
AMG_GROWTH = 3.0          # hypre's iterations on a large, rough field against 2 ranks here
HYPRE_BYTES = 1000.0      # bytes per own node of hypre's matrix and hierarchy (540 seen here)
CLUSTER = [(10**7, 64), (10**7, 256), (10**8, 256), (10**8, 1024),
           (10**9, 1024), (10**9, 8192)]


def node_bytes(entries: int, mobile: int) -> float:
    """Bytes per node of the model's arrays (simulation.cpp, AllocateArrays,
    default scheme, sparse heads): m_work (m_state and m_transportDelta, 2 E
    doubles), m_stateNew (E), m_dispCoef (3 per mobile entry), the budget's
    m_volume (1), m_localFraction (8 bytes), m_localHold (4), m_nodeRxnSet and
    m_nodeType (1 each). Rank 0 holds them for every node; the other ranks
    (default heads) for the nodes they read, but m_nodeRxnSet and m_nodeType
    (WHOLE_GRID_BYTES) for every node."""
    return 8.0 * (3 * entries + 3 * mobile + 1) + 14.0


WHOLE_GRID_BYTES = 2.0    # per node of the grid on every rank: m_nodeRxnSet, m_nodeType
ROOT_CHECK_BYTES = 7.0    # per node on rank 0 with --heads distributed: the coupling check
HELD_ROWS = 5             # SLAB_HELD_ROWS: the rows beyond its own a rank holds (--heads)


def sparse_bytes(nodes: float) -> float:
    """The sparse head solve's bytes (SparseHeadBytes: 100 + 40 log2 n per
    node)."""
    return nodes * (100.0 + 40.0 * math.log2(nodes))


def cluster(json_path: str) -> None:
    """Prints the expected time and memory of 10^7 to 10^9 nodes on a
    cluster from the medians a run of this script wrote with --json.

    Parameters
    ----------
    json_path : str
        The file of --json (all three models).
    """
    with open(json_path) as f:
        rows = json.load(f)

    def row(model: str, case: str) -> Dict[str, float]:
        for r in rows:
            if r["model"] == model and r["case"].startswith(case):
                return dict(r["figures"], records=r["records"])
        raise SystemExit("no %s / %s in %s" % (model, case, json_path))

    big1 = row("decay1000", "np 1,")
    big2 = row("decay1000", "np 2, 1 thread each (")
    dist = row("decay1000", "np 2, 1 thread each, --heads")
    n_big = big1["nodes"]
    read_per_node = big2["read"] / n_big
    flow_per_node = big2["flow field"] / n_big
    # rank 0's output phase per record over its own half of the nodes: its
    # share of the record and the storage of its nodes
    record_per_node = 2.0 * big2["output"] / big2["records"] / n_big
    print("measured: read %.3g s, flow field %.3g s per node (every rank); sparse heads "
          "%.3f s at %d nodes (np 1), distributed %.3f s on 2 ranks; output %.3g s per "
          "record and own node" % (read_per_node, flow_per_node, big1["heads"],
                                   n_big, dist["heads"], record_per_node))
    # the per-node cost from the largest model of each kind measured
    for model, entries, mobile in (("decay1000", 10, 3), ("dualmonod200", 14, 5)):
        np2 = row(model, "np 2, 1 thread each (")
        # per rank and own node: the rank's time over its half of the nodes
        step_node = 2.0 * (np2["transport"] + np2["reactions"]) / (np2["nodes"] * np2["steps"])
        b_node = node_bytes(entries, mobile)
        print("\n%s (%d entries a node): %.0f ns per own node and step on a rank, "
              "%.0f bytes per node of the model's arrays; %d steps, %d records"
              % (model, entries, 1e9 * step_node, b_node, STEPS, RECORDS))
        print("| nodes | ranks | memory of rank 0 | of each other rank "
              "| of a rank with --heads distributed "
              "| halo per rank and step | step | time loop | heads today "
              "| heads distributed | read + flow field | records | total today "
              "| total, distributed heads |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        for nodes, ranks in CLUSTER:
            width = math.sqrt(nodes)
            own = nodes / ranks
            # received per inner rank: one message from each side of one row
            # and part of a cut row (1.5 rows on average, as measured here)
            halo = 2 * 1.5 * width * entries * 8.0
            t_halo = 2 * LATENCY + halo / LINK
            t_step = own * step_node + t_halo + 2 * COLLECTIVE * math.log2(ranks)
            loop = STEPS * t_step
            heads = big1["heads"] * (nodes / n_big) ** SPARSE_EXPONENT
            # and the heads and sources of the held rows beyond a rank's own
            heads_dist = dist["heads"] * (own / (n_big / 2)) * AMG_GROWTH + \
                2 * HELD_ROWS * width * 16.0 / LINK
            setup = nodes * (read_per_node + flow_per_node)
            # every rank reads the file, and computes its held rows' flow field
            setup_dist = nodes * read_per_node + (own + 2 * HELD_ROWS * width) * flow_per_node
            record = nodes * entries * 8.0
            t_records = RECORDS * (record / FILE_SYSTEM + own * record_per_node)
            today = nodes * b_node + sparse_bytes(nodes)
            held = own + 2 * width                    # own nodes and a row each side
            others = held * b_node + WHOLE_GRID_BYTES * nodes
            # rank 0's: its held rows, hypre's share and the coupling check
            with_dist = (own + 2 * HELD_ROWS * width) * b_node + HYPRE_BYTES * own + \
                (WHOLE_GRID_BYTES + ROOT_CHECK_BYTES) * nodes
            total = setup + heads + loop + t_records
            total_dist = setup_dist + heads_dist + loop + t_records
            print("| 10^%d | %d | %s | %s | %s | %s | %.3g s | %s | %s | %s | %s | %s | %s "
                  "| %s |"
                  % (round(math.log10(nodes)), ranks, size(today), size(others), size(with_dist),
                     size(halo), t_step, duration(loop), duration(heads),
                     duration(heads_dist), duration(setup), duration(t_records),
                     duration(total), duration(total_dist)))


def size(bytes_: float) -> str:
    """Bytes as MB, GB or TB (powers of 10)."""
    for unit, scale in (("TB", 1e12), ("GB", 1e9), ("MB", 1e6), ("KB", 1e3)):
        if bytes_ >= scale:
            return "%.3g %s" % (bytes_ / scale, unit)
    return "%.0f B" % bytes_


def duration(seconds: float) -> str:
    """Seconds as s, min, h or d."""
    for unit, scale in (("d", 86400.0), ("h", 3600.0), ("min", 60.0)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g s" % seconds


def main() -> None:
    """Parses the options and runs the benchmark."""
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--models", nargs="*", default=list(MODELS), choices=list(MODELS))
    p.add_argument("--runs", type=int, default=3, help="alternating runs per case")
    p.add_argument("--json", help="also write the medians to this file")
    p.add_argument("--heads", action="store_true")
    p.add_argument("--cluster", metavar="JSON",
                   help="print the cluster model from the medians of --json")
    a = p.parse_args()
    if a.cluster:
        cluster(a.cluster)
        return
    if a.heads:
        heads_bench(a.runs)
        return
    load = os.getloadavg()
    print("%s UTC; load average before %.2f %.2f %.2f"
          % (time.strftime("%Y-%m-%d %H:%M", time.gmtime()), *load))
    work = tempfile.mkdtemp()
    rows: List[Dict[str, object]] = []
    try:
        for name in a.models:
            rows += bench_model(name, a.runs, work)
    finally:
        shutil.rmtree(work)
    load = os.getloadavg()
    print("\n%s UTC; load average after %.2f %.2f %.2f"
          % (time.strftime("%Y-%m-%d %H:%M", time.gmtime()), *load))
    if a.json:
        with open(a.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
