#!/usr/bin/env python3
"""Times the AMG solve of the heads set up once and solved per step.

Runs build/release/bench/kova_amg_bench (one process per grid, so that each
peak memory is its own) on square grids of 10^4, 10^5 and 10^6 nodes, and
10^7 with --big, for the uniform field of bench/make_model.py and the rough
field of tests/e2e/mpi_models.py --heads, and prints a Markdown table: the
assembly, the setup of the hierarchy (once per matrix), the median time of a
solve from heads of 0 to the engine's residual, the iterations and the peak
memory.

Usage: amg_heads.py [--big] [--solves N] [--bin PATH]
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIDES = [(100, 100), (316, 316), (1000, 1000)]
BIG = (3162, 3162)
LINE = re.compile(r"(?P<nodes>\d+) nodes, assembly (?P<assembly>[\d.]+) s, "
                  r"setup (?P<setup>[\d.]+) s, solve (?P<solve>[\d.]+) s .*"
                  r"iterations <= (?P<iterations>\d+), residual <= (?P<residual>\S+), "
                  r"peak (?P<peak>\d+) MiB \((?P<per_node>\d+) bytes/node\)")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--big", action="store_true", help="also 3162 x 3162 (10^7 nodes)")
    p.add_argument("--solves", type=int, default=5)
    p.add_argument("--bin", default=os.path.join(HERE, "..", "build", "release", "bench",
                                                 "kova_amg_bench"))
    args = p.parse_args()
    sides = SIDES + ([BIG] if args.big else [])
    print("| grid | field | nodes | assembly (s) | setup (s) | solve (s) | iterations "
          "| peak (MiB) | bytes/node |")
    print("|---|---|---|---|---|---|---|---|---|")
    for rows, cols in sides:
        for field in ("uniform", "rough"):
            out = subprocess.run([args.bin, str(rows), str(cols), field, str(args.solves)],
                                 check=True, capture_output=True, text=True).stdout
            m = LINE.search(out)
            if not m:
                sys.exit("unexpected output: " + out)
            print(f"| {rows} x {cols} | {field} | {m['nodes']} | {m['assembly']} | "
                  f"{m['setup']} | {m['solve']} | {m['iterations']} | {m['peak']} "
                  f"| {m['per_node']} |", flush=True)


if __name__ == "__main__":
    main()
