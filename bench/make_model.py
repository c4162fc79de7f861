#!/usr/bin/env python3
"""Writes a benchmark model file (BASE.kvi) for kova-compute.

The grid is rows x cols nodes, 2 m apart, with flow between fixed heads on the
first column (20 m) and the last column (18 m), conductivity 50 m/d and
porosity 0.3. A contaminant patch near the inflow edge (rows 40-60 %, columns
4-10 % of the grid) becomes a plume. Units: metres and days.

Networks (--network):
  none       mobile tracers, no reactions
  decay      a first-order decay chain through the mobile components
             (0 -> 1 -> ... -> last), rate 0.05 per day
  dualmonod  aerobic degradation of a donor by biomass (dual Monod in donor
             and oxygen), kinetic linear sorption of the donor and a
             mass-action complexation A + B = AB (Keq 10); needs at least 5
             mobile components (donor, oxygen, A, B, AB) and 2 immobile ones
             (biomass, sorbed donor)
Components beyond those the network uses are inert.

Usage: make_model.py BASE --rows R --cols C [--mobile M] [--immobile I]
           [--network none|decay|dualmonod] [--steps N] [--dt DT] [--records K]
           [--opzero E]
The run takes N global steps of DT days and writes K + 1 records.
"""
import argparse
import sys

SLOT_HEAD, SLOT_SOURCE, SLOT_POROSITY, SLOT_KROW, SLOT_KCOL = 0, 1, 2, 3, 4
SLOTS = 7
SPACING = 2.0


def real(x):
    return repr(float(x))


def stoich(n_comp, changes):
    v = [0.0] * n_comp
    for k, c in changes.items():
        v[k] = c
    return " ".join(real(x) for x in v)


def patch(rows, cols):
    """The nodes of the contaminant patch."""
    r0, r1 = int(rows * 0.4), max(int(rows * 0.6), int(rows * 0.4) + 1)
    c0, c1 = int(cols * 0.04), max(int(cols * 0.10), int(cols * 0.04) + 1)
    return [(i, j) for i in range(r0, r1) for j in range(c0, c1)]


def network(kind, n_comp, n_immobile, n_mobile):
    """Returns (defaults of the components, patch values, reaction records,
    equilibrium indices, kinetic indices)."""
    first_mobile = SLOTS + n_immobile
    comp_defaults = [0.0] * (n_immobile + n_mobile)
    patch_values = {}
    records, equi, kinetic = [], [], []
    if kind == "none":
        for m in range(n_mobile):
            patch_values[first_mobile + m] = 1.0
    elif kind == "decay":
        if n_mobile < 1:
            sys.exit("decay needs at least 1 mobile component")
        patch_values[first_mobile] = 1.0
        for m in range(n_mobile):
            k = first_mobile + m
            changes = {k: -1.0}
            if m + 1 < n_mobile:
                changes[k + 1] = 1.0
            kinetic.append(len(records))
            records.append(f"2  {stoich(n_comp, changes)}  1 {k} 0.05")
    elif kind == "dualmonod":
        if n_mobile < 5 or n_immobile < 2:
            sys.exit("dualmonod needs at least 5 mobile and 2 immobile components")
        biomass, sorbed = SLOTS, SLOTS + 1
        donor, oxygen, a, b, ab = (first_mobile + m for m in range(5))
        comp_defaults[biomass - SLOTS] = 0.05
        comp_defaults[oxygen - SLOTS] = 8.0
        comp_defaults[a - SLOTS] = 1.0
        comp_defaults[b - SLOTS] = 1.0
        comp_defaults[ab - SLOTS] = 10.0
        patch_values[donor] = 20.0
        patch_values[a] = 3.0
        # Dual Monod: donor and oxygen consumed, biomass grows.
        kinetic.append(len(records))
        records.append(f"5  {stoich(n_comp, {donor: -1.0, oxygen: -3.1, biomass: 0.4})}  "
                       f"2.0 1.0 0.5  {biomass} {donor} {oxygen}")
        # Kinetic linear sorption of the donor.
        kinetic.append(len(records))
        records.append(f"11  {stoich(n_comp, {donor: -1.0, sorbed: 1.0})}  0.5 0.2  "
                       f"{donor} {sorbed}")
        # Mass action: AB / (A B) = 10.
        exponents = [0] * n_comp
        exponents[ab], exponents[a], exponents[b] = 1, -1, -1
        equi.append(len(records))
        records.append(f"0  {stoich(n_comp, {a: -1.0, b: -1.0, ab: 1.0})}  "
                       f"{' '.join(str(e) for e in exponents)}  10")
    else:
        sys.exit(f"unknown network {kind}")
    return comp_defaults, patch_values, records, equi, kinetic


def model_text(args):
    rows, cols = args.rows, args.cols
    n_comp = SLOTS + args.immobile + args.mobile
    comp_defaults, patch_values, records, equi, kinetic = network(
        args.network, n_comp, args.immobile, args.mobile)
    end = args.steps * args.dt
    interval = end / args.records if args.records > 0 and end > 0 else max(end, 1.0)
    out = [f"{rows} {cols} {args.immobile} {args.mobile} {len(records)} 1",
           f"0 {real(end)} {real(interval)} {real(args.dt)} {real(args.opzero)}",
           " ".join(real(SPACING * i) for i in range(rows)),
           " ".join(real(SPACING * j) for j in range(cols))]
    out += ["2.0 0.2 0.0001"] * args.mobile
    defaults = [0.0, 0.0, 0.3, 50.0, 50.0, 0.0, 0.0] + comp_defaults
    out.append(" ".join(real(x) for x in defaults))
    overrides = [(i, 0, SLOT_HEAD, 20.0) for i in range(rows)]
    overrides += [(i, cols - 1, SLOT_HEAD, 18.0) for i in range(rows)]
    overrides += [(i, j, k, v) for (i, j) in patch(rows, cols) for k, v in patch_values.items()]
    out.append(str(len(overrides)))
    out += [f"{i} {j} {k} {real(v)}" for i, j, k, v in overrides]
    fixed = [(i, 0) for i in range(rows)] + [(i, cols - 1) for i in range(rows)]
    out.append(str(len(fixed)))
    out += [f"{i} {j}" for i, j in fixed]
    out += records
    out += ["0", "0"]  # every node in set 0
    out.append(f"{len(equi)} {' '.join(map(str, equi))}  {len(kinetic)} "
               f"{' '.join(map(str, kinetic))}")
    return "\n".join(out) + "\n"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("base", help="the model is written to BASE.kvi")
    p.add_argument("--rows", type=int, required=True)
    p.add_argument("--cols", type=int, required=True)
    p.add_argument("--mobile", type=int, default=1)
    p.add_argument("--immobile", type=int, default=0)
    p.add_argument("--network", default="none", choices=["none", "decay", "dualmonod"])
    p.add_argument("--steps", type=int, default=100, help="global steps")
    p.add_argument("--dt", type=float, default=0.1, help="global step (days)")
    p.add_argument("--records", type=int, default=4, help="records after the first")
    p.add_argument("--opzero", type=float, default=1e-6)
    args = p.parse_args()
    if args.rows < 2 or args.cols < 2:
        sys.exit("the grid needs at least 2 rows and 2 columns")
    with open(args.base + ".kvi", "w") as f:
        f.write(model_text(args))


if __name__ == "__main__":
    main()
