#!/usr/bin/env python3
"""Writes the generated example models examples/column.kvi and examples/plume.kvi.

A model file is a plain list of numbers; this script lays them out one field per
line. Units: metres and days throughout.

  column  a 1-D column of 101 nodes, 1 m apart, between fixed heads 10 m and
          9 m (Darcy flux 1 m/d, pore velocity 4 m/d); a tracer pulse at 5-9 m
          travels and spreads for 15 days.
  plume   a 100 x 100 grid, 2 m spacing, between fixed heads 20 m (first
          column) and 18 m (last column), with a low-conductivity lens and a
          pumping well; a tracer patch near the inflow edge becomes a plume
          over 60 days.

Usage: scripts/make-examples.py [output-directory]   (default: examples)
"""
import os
import sys

SLOT_HEAD, SLOT_SOURCE, SLOT_POROSITY, SLOT_KROW, SLOT_KCOL = 0, 1, 2, 3, 4


def model_text(rows, cols, times, row_coords, col_coords, transport, defaults, overrides,
               fixed_heads):
    """times: start, end, output interval, global step (0: computed), opzero.
    transport: one (alphaL, alphaT, diffusion) per mobile component.
    overrides: (i, j, k, value); fixed_heads: (i, j). No reactions, one empty
    reaction set used by every node."""
    n_mobile = len(transport)
    lines = [f"{rows} {cols} 0 {n_mobile} 0 1",
             " ".join(repr(float(t)) for t in times),
             " ".join(repr(float(x)) for x in row_coords),
             " ".join(repr(float(x)) for x in col_coords)]
    lines += [" ".join(repr(float(x)) for x in t) for t in transport]
    lines.append(" ".join(repr(float(x)) for x in defaults))
    lines.append(str(len(overrides)))
    lines += [f"{i} {j} {k} {float(v)!r}" for i, j, k, v in overrides]
    lines.append(str(len(fixed_heads)))
    lines += [f"{i} {j}" for i, j in fixed_heads]
    lines += ["0", "0", "0 0"]  # default set 0, no overrides; set 0 has no reactions
    return "\n".join(lines) + "\n"


def column():
    cols = 101
    defaults = [0.0, 0.0, 0.25, 100.0, 100.0, 0.0, 0.0, 0.0]
    overrides = [(0, 0, SLOT_HEAD, 10.0), (0, cols - 1, SLOT_HEAD, 9.0)]
    overrides += [(0, j, 7, 1.0) for j in range(5, 10)]
    return model_text(1, cols, (0, 15, 1, 0, 1e-9), [0.0], range(cols),
                      [(0.5, 0.05, 1e-4)], defaults, overrides, [(0, 0), (0, cols - 1)])


def plume():
    n = 100
    coords = [2.0 * k for k in range(n)]
    defaults = [0.0, 0.0, 0.3, 50.0, 50.0, 0.0, 0.0, 0.0]
    overrides = [(i, 0, SLOT_HEAD, 20.0) for i in range(n)]
    overrides += [(i, n - 1, SLOT_HEAD, 18.0) for i in range(n)]
    # A clay lens across the plume's path, conductivity 5 m/d.
    for i in range(36, 48):
        for j in range(30, 42):
            overrides += [(i, j, SLOT_KROW, 5.0), (i, j, SLOT_KCOL, 5.0)]
    # A pumping well downstream: 1 per day of its cell's pore volume.
    overrides.append((60, 70, SLOT_SOURCE, -1.0))
    # The tracer patch.
    overrides += [(i, j, 7, 1.0) for i in range(44, 56) for j in range(4, 10)]
    fixed = [(i, 0) for i in range(n)] + [(i, n - 1) for i in range(n)]
    return model_text(n, n, (0, 60, 10, 0, 1e-9), coords, coords, [(2.0, 0.2, 1e-4)],
                      defaults, overrides, fixed)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..",
                                                              "examples")
    for name, text in (("column", column()), ("plume", plume())):
        with open(os.path.join(out, name + ".kvi"), "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
