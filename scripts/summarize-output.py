#!/usr/bin/env python3
"""Prints what a run wrote: the record times from BASE.kvt and, for every
component after the seven hydraulic slots, its smallest, largest and summed
value over all nodes in each record of BASE.kvo.

Usage: scripts/summarize-output.py BASE
"""
import struct
import sys


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    base = sys.argv[1]
    with open(base + ".kvt", "rb") as f:
        kvt = f.read()
    if len(kvt) < 36:
        sys.exit(f"{base}.kvt holds only the start marker: the run did not finish")
    n, rows, cols = struct.unpack_from("<3i", kvt, 0)
    start, last, interval = struct.unpack_from("<3d", kvt, 12)
    times = struct.unpack_from(f"<{n}d", kvt, 36)
    with open(base + ".kvo", "rb") as f:
        kvo = f.read()
    nodes = rows * cols
    n_comp = len(kvo) // (8 * n * nodes) if n and nodes else 0
    print(f"{n} records of {rows} x {cols} nodes, {n_comp} values per node; "
          f"start {start:g}, last record {last:g}, output interval {interval:g}")
    values = nodes * n_comp
    for r, t in enumerate(times):
        record = struct.unpack_from(f"<{values}d", kvo, 8 * values * r)
        parts = []
        for k in range(7, n_comp):
            column = record[k::n_comp]
            parts.append(f"[{k}] min {min(column):.4g} max {max(column):.4g} "
                         f"sum {sum(column):.6g}")
        print(f"  t = {t:<10.6g} " + "  ".join(parts))


if __name__ == "__main__":
    main()
