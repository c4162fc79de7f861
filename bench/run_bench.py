#!/usr/bin/env python3
"""Runs the benchmark models and reports, per model and thread count: the wall
time of every phase (from kova-compute --timings), node-steps per second over
the time loop (transport and reactions) and the peak memory of the process.
With --baseline it also times another build of kova-compute (the one before
a change) against this one, alternating the runs, for the serial speed. With
--pairs N it runs N alternating pairs of 1 and 2 threads instead and reports
the medians of every phase and of the pairs' ratios of whole runs, with the
time a cache line takes between the two CPUs before and after (from
kova_micro_bench, when it is built): on a virtual machine the host moves its
CPUs, and threads that hand work to each other gain with the line's speed.

Usage: bench/run_bench.py [--bin build/release/kova-compute] [--baseline BIN]
           [--only NAME ...] [--skip-big] [--repeat N] [--pairs N]
           [--workdir DIR]
The models are written by bench/make_model.py into the work directory
(default: a fresh directory under /tmp); the shipped examples are copied there.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# name: (make_model.py arguments or an example file, thread counts)
MODELS = {
    "two_nodes": ("examples/two_nodes.kvi", [1, 2]),
    "plume": ("examples/plume.kvi", [1, 2]),
    "none200": (["--rows", "200", "--cols", "200", "--mobile", "1", "--network", "none",
                 "--steps", "200", "--dt", "0.125"], [1, 2]),
    "decay200": (["--rows", "200", "--cols", "200", "--mobile", "3", "--network", "decay",
                  "--steps", "200", "--dt", "0.125"], [1, 2]),
    "dualmonod200": (["--rows", "200", "--cols", "200", "--mobile", "5", "--immobile", "2",
                      "--network", "dualmonod", "--steps", "200", "--dt", "0.125"], [1, 2]),
    "decay1000": (["--rows", "1000", "--cols", "1000", "--mobile", "3", "--network", "decay",
                   "--steps", "100", "--dt", "0.25"], [2]),
}
BIG = {"decay1000"}
PHASES = ["read", "heads", "flow field", "transport", "reactions", "output", "total"]


def prepare(name, workdir):
    source, _ = MODELS[name]
    base = os.path.join(workdir, name)
    if isinstance(source, str):
        shutil.copy(os.path.join(ROOT, source), base + ".kvi")
    else:
        subprocess.run([sys.executable, os.path.join(HERE, "make_model.py"), base] + source,
                       check=True)
    return base


def run(binary, base, threads, timings=True):
    """Runs one model; returns (wall seconds, peak RSS in MiB, stderr text)."""
    args = [binary, "--no-progress"]
    if threads is not None:
        args += ["--threads", str(threads)]
    if timings:
        args.append("--timings")
    args.append(base)
    with open(base + ".out", "w") as out, open(base + ".err", "w") as err:
        start = time.monotonic()
        proc = subprocess.Popen(args, stdout=out, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    with open(base + ".err") as err:
        text = err.read()
    if proc.returncode != 0:
        sys.exit(f"{' '.join(args)} failed ({proc.returncode}):\n{text}")
    return wall, usage.ru_maxrss / 1024.0, text


def parse_timings(text):
    times = {}
    for phase in PHASES:
        m = re.search(r"^  " + re.escape(phase) + r" +([0-9.]+) s(.*)$", text, re.M)
        times[phase] = float(m.group(1)) if m else float("nan")
        if phase == "heads" and m:
            times["path"] = "sparse" if "sparse" in m.group(2) else "band"
    m = re.search(r"timings: (\d+) threads?, (\d+) nodes, (\d+) global steps", text)
    times["nodes"], times["steps"] = (int(m.group(2)), int(m.group(3))) if m else (0, 0)
    return times


def machine():
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    load = os.getloadavg()
    return f"{cpu}, {os.cpu_count()} CPUs, load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}"


def round_trip():
    """ns for a cache line from CPU 0 to CPU 1 and back, or None."""
    micro = os.path.join(ROOT, "build/release/bench/kova_micro_bench")
    if not os.path.exists(micro):
        return None
    out = subprocess.run([micro, "--benchmark_filter=CoreRoundTrip", "--benchmark_format=json"],
                         capture_output=True, text=True)
    m = re.search(r'"ns_per_round_trip": ([0-9.eE+-]+)', out.stdout)
    return float(m.group(1)) * 1e9 if m else None


def pairs(args, names, workdir):
    """Alternating pairs of whole runs with 1 and 2 threads; medians."""
    before = round_trip()
    print(f"{args.pairs} alternating pairs per model (the order turns each pair); "
          f"medians in seconds; core round trip before: "
          f"{'n/a' if before is None else f'{before:.0f} ns'}\n")
    print("| model | threads | " + " | ".join(PHASES) + " |")
    print("|---|---|" + "---|" * len(PHASES))
    ratios = {}
    for name in names:
        if MODELS[name][1] != [1, 2]:
            continue
        base = prepare(name, workdir)
        runs = {1: [], 2: []}
        for i in range(args.pairs):
            for threads in (1, 2) if i % 2 == 0 else (2, 1):
                runs[threads].append(parse_timings(run(args.bin, base, threads)[2]))
        for threads in (1, 2):
            cells = " | ".join(f"{statistics.median(r[p] for r in runs[threads]):.3f}"
                               for p in PHASES)
            print(f"| {name} | {threads} | {cells} |", flush=True)
        ratios[name] = [a["total"] / b["total"] for a, b in zip(runs[1], runs[2])]
    after = round_trip()
    print()
    for name, r in ratios.items():
        print(f"{name}: 2 threads {statistics.median(r):.2f}x the whole run of 1 thread "
              f"(median of {len(r)} pairs; pairs {min(r):.2f}x to {max(r):.2f}x)")
    print(f"core round trip after: {'n/a' if after is None else f'{after:.0f} ns'}")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bin", default=os.path.join(ROOT, "build/release/kova-compute"))
    p.add_argument("--baseline", help="another kova-compute to compare serial speed with")
    p.add_argument("--only", nargs="*", help="model names: " + ", ".join(MODELS))
    p.add_argument("--skip-big", action="store_true", help="leave out the 1000 x 1000 model")
    p.add_argument("--repeat", type=int, default=3, help="runs per model and thread count")
    p.add_argument("--pairs", type=int,
                   help="alternating pairs of 1 and 2 threads per model, medians")
    p.add_argument("--workdir")
    args = p.parse_args()

    workdir = args.workdir or tempfile.mkdtemp(prefix="kova-bench-")
    os.makedirs(workdir, exist_ok=True)
    names = args.only or [n for n in MODELS if not (args.skip_big and n in BIG)]
    print(f"machine: {machine()}")
    if args.pairs:
        print(f"binary: {args.bin}")
        pairs(args, names, workdir)
        return
    print(f"binary: {args.bin}; best of {args.repeat} runs; times in seconds\n")
    print("| model | threads | read | heads | flow field | transport | reactions | output "
          "| total | node-steps/s | peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    best_loop = {}
    for name in names:
        base = prepare(name, workdir)
        for threads in MODELS[name][1]:
            runs = [run(args.bin, base, threads) for _ in range(args.repeat)]
            wall, peak, text = min(runs, key=lambda r: r[0])
            t = parse_timings(text)
            loop = t["transport"] + t["reactions"]
            rate = t["nodes"] * t["steps"] / loop if loop > 0 else float("nan")
            best_loop[(name, threads)] = loop
            print(f"| {name} | {threads} | {t['read']:.3f} | {t['heads']:.3f} ({t['path']}) "
                  f"| {t['flow field']:.3f} | {t['transport']:.3f} | {t['reactions']:.3f} "
                  f"| {t['output']:.3f} | {t['total']:.3f} | {rate:.3g} | {peak:.0f} |",
                  flush=True)
    print()
    for name in names:
        if (name, 1) in best_loop and (name, 2) in best_loop and best_loop[(name, 2)] > 0:
            print(f"{name}: time loop with 2 threads {best_loop[(name, 1)] / best_loop[(name, 2)]:.2f}x "
                  "the speed of 1 thread")

    if args.baseline:
        print("\nserial speed (--threads 1 both), whole run wall time (median, min of "
              f"{max(args.repeat, 10)} alternating runs):")
        for name in ("two_nodes", "plume"):
            if args.only and name not in args.only:
                continue
            base = prepare(name, workdir)
            before, after = [], []
            for _ in range(max(args.repeat, 10)):
                before.append(run(args.baseline, base, 1, timings=False)[0])
                after.append(run(args.bin, base, 1, timings=False)[0])
            print(f"  {name}: before {statistics.median(before):.4f} (min {min(before):.4f}), "
                  f"after {statistics.median(after):.4f} "
                  f"(min {min(after):.4f}): {statistics.median(after) / statistics.median(before):.3f}x")


if __name__ == "__main__":
    main()
