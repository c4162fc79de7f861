#!/usr/bin/env python3
"""Writes the generated example models into examples/ (see examples/README.md).

A model file is a plain list of numbers; this script lays them out one field per
line. Units: metres and days throughout; concentrations in mg/L, except the
complexation example, which counts in micromoles per litre (umol/L) as mass
action needs.

  column             1-D column, 0-25 m, pore velocity 1 m/d; the inlet is held
                     at 1 mg/L by a linear assignment, the tracer front is
                     compared with the Ogata-Banks solution.
  plume              100 x 100 grid, 2 m spacing, a low-conductivity lens and a
                     pumping well; a tracer patch becomes a plume over 60 days.
  hydrocarbon_plume  a dissolved hydrocarbon (as benzene) from a held source,
                     degraded by dual Monod kinetics with oxygen and a biomass,
                     with kinetic sorption, over 250 days.
  decay_chain        TCE -> cis-DCE -> vinyl chloride by first-order kinetics in
                     a plume from a held TCE source, over 600 days.
  complexation       a citrate plume meets groundwater with zinc: Zn + Cit =
                     ZnCit by mass action, zinc sorbs linearly, 100 days.

Usage: scripts/make-examples.py [output-directory]   (default: examples)
"""
import os
import sys

SLOT_HEAD, SLOT_SOURCE, SLOT_POROSITY, SLOT_KROW, SLOT_KCOL = 0, 1, 2, 3, 4
N_SLOTS = 7


def num(x):
    return repr(float(x))


class Model:
    """The fields of a model file, filled by the example functions."""

    def __init__(self, rows, cols, n_immobile, times, row_coords, col_coords, transport,
                 defaults):
        # times: start, end, output interval, global step (0: computed), opzero.
        # transport: one (alphaL, alphaT, diffusion) per mobile component.
        self.rows, self.cols = rows, cols
        self.n_immobile = n_immobile
        self.n_mobile = len(transport)
        self.n_comp = N_SLOTS + n_immobile + self.n_mobile
        assert len(defaults) == self.n_comp
        self.times = times
        self.row_coords, self.col_coords = list(row_coords), list(col_coords)
        self.transport = transport
        self.defaults = defaults
        self.overrides = []    # (i, j, k, value)
        self.fixed_heads = []  # (i, j)
        self.reactions = []    # record text, type code first
        self.default_set = 0
        self.set_overrides = []  # (i, j, q)
        self.sets = [([], [])]   # (equilibrium reactions, kinetic reactions)

    def mobile(self, s):
        return N_SLOTS + self.n_immobile + s

    def immobile(self, s):
        return N_SLOTS + s

    def vector(self, entries):
        """A coefficient vector from {entry: value}."""
        v = [0.0] * self.n_comp
        for k, value in entries.items():
            v[k] = value
        return " ".join(num(x) for x in v)

    def int_vector(self, entries):
        """An integer vector (exponents) from {entry: value}."""
        v = [0] * self.n_comp
        for k, value in entries.items():
            v[k] = value
        return " ".join(str(x) for x in v)

    def add_reaction(self, code, coefficients, fields):
        self.reactions.append(f"{code}  {self.vector(coefficients)}  {fields}")
        return len(self.reactions) - 1

    def hold(self, entry, value):
        """A linear assignment that holds one entry at a value (type 1)."""
        return self.add_reaction(1, {}, f"{entry} {num(value)}")

    def text(self):
        lines = [f"{self.rows} {self.cols} {self.n_immobile} {self.n_mobile} "
                 f"{len(self.reactions)} {len(self.sets)}",
                 " ".join(num(t) for t in self.times),
                 " ".join(num(x) for x in self.row_coords),
                 " ".join(num(x) for x in self.col_coords)]
        lines += [" ".join(num(x) for x in t) for t in self.transport]
        lines.append(" ".join(num(x) for x in self.defaults))
        lines.append(str(len(self.overrides)))
        lines += [f"{i} {j} {k} {num(v)}" for i, j, k, v in self.overrides]
        lines.append(str(len(self.fixed_heads)))
        lines += [f"{i} {j}" for i, j in self.fixed_heads]
        lines += self.reactions
        lines.append(str(self.default_set))
        lines.append(str(len(self.set_overrides)))
        lines += [f"{i} {j} {q}" for i, j, q in self.set_overrides]
        for equi, kinetic in self.sets:
            lines.append(" ".join(str(x) for x in [len(equi)] + equi + [len(kinetic)] + kinetic))
        return "\n".join(lines) + "\n"


def left_to_right(model, head_in, head_out):
    """Fixed heads on the first and the last column: uniform flow along the rows."""
    for i in range(model.rows):
        model.overrides += [(i, 0, SLOT_HEAD, head_in), (i, model.cols - 1, SLOT_HEAD, head_out)]
        model.fixed_heads += [(i, 0), (i, model.cols - 1)]


def column():
    # 101 nodes 0.25 m apart. K 15 m/d and a head drop of 0.5 m over 25 m give
    # a Darcy flux of 0.3 m/d; porosity 0.3, so the pore velocity is 1 m/d.
    # Dispersion: 0.25 m x 1 m/d + 1e-4 m2/d.
    cols = 101
    m = Model(1, cols, 0, (0, 15, 0.5, 0, 1e-9), [0.0], [0.25 * j for j in range(cols)],
              [(0.25, 0.025, 1e-4)], [0.0, 0.0, 0.3, 15.0, 15.0, 0.0, 0.0, 0.0])
    left_to_right(m, 10.5, 10.0)
    tracer = m.mobile(0)
    m.overrides.append((0, 0, tracer, 1.0))
    # The inlet node keeps 1 mg/L: its own set holds it after every step.
    m.sets.append(([m.hold(tracer, 1.0)], []))
    m.set_overrides.append((0, 0, 1))
    return m


def plume():
    n = 100
    coords = [2.0 * k for k in range(n)]
    m = Model(n, n, 0, (0, 60, 10, 0, 1e-9), coords, coords, [(2.0, 0.2, 1e-4)],
              [0.0, 0.0, 0.3, 50.0, 50.0, 0.0, 0.0, 0.0])
    m.overrides += [(i, 0, SLOT_HEAD, 20.0) for i in range(n)]
    m.overrides += [(i, n - 1, SLOT_HEAD, 18.0) for i in range(n)]
    # A clay lens across the plume's path, conductivity 5 m/d.
    for i in range(36, 48):
        for j in range(30, 42):
            m.overrides += [(i, j, SLOT_KROW, 5.0), (i, j, SLOT_KCOL, 5.0)]
    # A pumping well downstream: 1 per day of its cell's pore volume.
    m.overrides.append((60, 70, SLOT_SOURCE, -1.0))
    # The tracer patch.
    m.overrides += [(i, j, 7, 1.0) for i in range(44, 56) for j in range(4, 10)]
    m.fixed_heads = [(i, 0) for i in range(n)] + [(i, n - 1) for i in range(n)]
    return m


def hydrocarbon_plume():
    # 33 x 41 nodes, 1.5 m apart across the flow and 2 m along it (48 m x
    # 80 m). K 20 m/d, head drop 1.2 m over 80 m: Darcy flux 0.3 m/d, pore
    # velocity 1 m/d.
    rows, cols = 33, 41
    biomass, sorbed = 7, 8
    m = Model(rows, cols, 2, (0, 250, 25, 0, 1e-9), [1.5 * i for i in range(rows)],
              [2.0 * j for j in range(cols)], [(2.0, 0.3, 1e-4), (2.0, 0.3, 1e-4)],
              [0.0, 0.0, 0.3, 20.0, 20.0, 0.0, 0.0, 0.05, 0.0, 0.0, 8.0])
    hc, o2 = m.mobile(0), m.mobile(1)
    left_to_right(m, 11.2, 10.0)
    # Aerobic degradation: 1 mg of hydrocarbon grows 0.5 mg of biomass and
    # takes 2.4 mg of oxygen (3.1 mg for full oxidation, less 1.42 mg per mg
    # of cells built); at most 1 mg per mg of biomass per day, half-saturation
    # 1 mg/L of hydrocarbon and 0.2 mg/L of oxygen.
    degrade = m.add_reaction(5, {hc: -1.0, o2: -2.4, biomass: 0.5},
                             f"1.0 1.0 0.2  {biomass} {hc} {o2}")
    # The biomass dies back at 0.05 per day.
    decay = m.add_reaction(2, {biomass: -1.0}, f"1 {biomass} 0.05")
    # Kinetic sorption towards sorbed = 0.5 x dissolved (both per litre of
    # water), rate 0.1 per day: retardation 1.5 at equilibrium.
    sorb = m.add_reaction(11, {hc: -1.0, sorbed: 1.0}, f"0.5 0.1 {hc} {sorbed}")
    m.sets[0] = ([], [degrade, decay, sorb])
    # Water entering on the first column carries 8 mg/L of oxygen.
    m.sets.append(([m.hold(o2, 8.0)], []))
    m.set_overrides += [(i, 0, 1) for i in range(rows)]
    # The source: three nodes (4.5 m) held at 5 mg/L of hydrocarbon.
    m.sets.append(([m.hold(hc, 5.0)], []))
    for i in (15, 16, 17):
        m.set_overrides.append((i, 3, 2))
        m.overrides.append((i, 3, hc, 5.0))
    return m


def decay_chain():
    # 29 x 61 nodes, 2.5 m apart across the flow and 5 m along it (70 m x
    # 300 m). K 30 m/d, head drop 0.9 m over 300 m: Darcy flux 0.09 m/d, pore
    # velocity 0.3 m/d.
    rows, cols = 29, 61
    m = Model(rows, cols, 0, (0, 600, 20, 0, 1e-9), [2.5 * i for i in range(rows)],
              [5.0 * j for j in range(cols)], [(5.0, 0.5, 1e-4)] * 3,
              [0.0, 0.0, 0.3, 30.0, 30.0, 0.0, 0.0, 0.0, 0.0, 0.0])
    tce, dce, vc = m.mobile(0), m.mobile(1), m.mobile(2)
    left_to_right(m, 20.9, 20.0)
    # Reductive dechlorination, first order; each step keeps the moles, so
    # 1 mg of TCE (131.39 g/mol) gives 96.94/131.39 mg of cis-DCE and 1 mg of
    # cis-DCE gives 62.50/96.94 mg of vinyl chloride, which goes to ethene.
    # Half-lives 69, 173 and 347 days.
    first = m.add_reaction(2, {tce: -1.0, dce: 96.94 / 131.39}, f"1 {tce} 0.01")
    second = m.add_reaction(2, {dce: -1.0, vc: 62.50 / 96.94}, f"1 {dce} 0.004")
    third = m.add_reaction(2, {vc: -1.0}, f"1 {vc} 0.002")
    m.sets[0] = ([], [first, second, third])
    # The source: three nodes (7.5 m) held at 10 mg/L of TCE.
    m.sets.append(([m.hold(tce, 10.0)], []))
    for i in (13, 14, 15):
        m.set_overrides.append((i, 2, 1))
        m.overrides.append((i, 2, tce, 10.0))
    return m


def complexation():
    # 21 x 41 nodes, 2 m apart (40 m x 80 m), pore velocity 0.5 m/d as in the
    # hydrocarbon plume. Concentrations in umol/L; sorbed zinc per litre of
    # water.
    rows, cols = 21, 41
    zn_sorbed = 7
    background_zn = 5.0
    kd = 4.0
    m = Model(rows, cols, 1, (0, 100, 10, 0, 1e-9), [2.0 * i for i in range(rows)],
              [2.0 * j for j in range(cols)], [(2.0, 0.2, 1e-4)] * 3,
              [0.0, 0.0, 0.3, 20.0, 20.0, 0.0, 0.0, kd * background_zn, background_zn, 0.0,
               0.0])
    zn, cit, complex_ = m.mobile(0), m.mobile(1), m.mobile(2)
    left_to_right(m, 10.6, 10.0)
    # Zn + Cit = ZnCit with [ZnCit] / ([Zn] [Cit]) = 10^4.9 L/mol
    # = 0.0794 L/umol.
    complexes = m.add_reaction(0, {zn: -1.0, cit: -1.0, complex_: 1.0},
                               f"{m.int_vector({zn: -1, cit: -1, complex_: 1})}  0.0794")
    # Free zinc sorbs: sorbed = 4 x dissolved; the complex does not sorb.
    sorbs = m.add_reaction(8, {zn: -1.0, zn_sorbed: 1.0}, f"{num(kd)} {zn} {zn_sorbed}")
    m.sets[0] = ([complexes, sorbs], [])
    # Water entering on the first column carries the background zinc.
    m.sets.append(([m.hold(zn, background_zn)], []))
    m.set_overrides += [(i, 0, 1) for i in range(rows)]
    # The source: three nodes where the water carries 200 umol/L of citrate.
    m.sets.append(([m.hold(cit, 200.0), complexes, sorbs], []))
    for i in (9, 10, 11):
        m.set_overrides.append((i, 3, 2))
    return m


EXAMPLES = {"column": column, "plume": plume, "hydrocarbon_plume": hydrocarbon_plume,
            "decay_chain": decay_chain, "complexation": complexation}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..",
                                                              "examples")
    for name, build in EXAMPLES.items():
        with open(os.path.join(out, name + ".kvi"), "w") as f:
            f.write(build().text())


if __name__ == "__main__":
    main()
