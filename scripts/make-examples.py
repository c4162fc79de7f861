#!/usr/bin/python3
"""Writes the generated example models into examples/ (see examples/README.md).

Each example is built with the Python package kova (python/): entries by name,
reactions as classes, reaction sets given to nodes by masks. Every model is
written as NAME.kvi and NAME.kvx. Units: metres and days throughout;
concentrations in mg/L (grams per cubic metre of water, so masses are in grams),
except the complexation example, which counts in micromoles per litre (umol/L,
millimoles per cubic metre) as mass action needs.

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

two_nodes.kvi, the smallest model, is written by hand.

Usage: scripts/make-examples.py [output-directory]   (default: examples)
"""
import os
import sys
from typing import Callable, Dict, Iterable, Tuple

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import kova  # noqa: E402  (the package of this source tree, found above)


def nodes(model: kova.Model, cells: Iterable[Tuple[int, int]]) -> np.ndarray:
    """A mask of the given (row, column) nodes."""
    mask = np.zeros(model.shape, dtype=bool)
    for i, j in cells:
        mask[i, j] = True
    return mask


def column_mask(model: kova.Model, j: int) -> np.ndarray:
    """A mask of every node of column j."""
    mask = np.zeros(model.shape, dtype=bool)
    mask[:, j] = True
    return mask


def left_to_right(model: kova.Model, head_in: float, head_out: float) -> None:
    """Fixed heads on the first and the last column: uniform flow along the rows."""
    model.fix_heads(column_mask(model, 0), head_in)
    model.fix_heads(column_mask(model, -1), head_out)


def hold(model: kova.Model, entry: str, value: float, where: np.ndarray,
         also: Tuple[int, ...] = ()) -> int:
    """A set that holds one entry at a value (a linear assignment) at some nodes.

    ``also`` are equilibrium reactions the set runs after the assignment.
    """
    held = model.add_reaction(kova.LinearAssignment(target=entry, constant=value))
    return model.add_reaction_set(equilibrium=[held, *also], where=where)


def column() -> kova.Model:
    # 101 nodes 0.25 m apart. K 15 m/d and a head drop of 0.5 m over 25 m give
    # a Darcy flux of 0.3 m/d; porosity 0.3, so the pore velocity is 1 m/d.
    # Dispersion: 0.25 m x 1 m/d + 1e-4 m2/d.
    m = kova.Model(row_coords=[0.0], col_coords=[0.25 * j for j in range(101)])
    m.set_units("m", "d", "g")
    m.set_thickness(1.0)
    m.add_mobile("tracer", "mg/L", alpha_l=0.25, alpha_t=0.025, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 15.0)
    m.set("k_col", 15.0)
    left_to_right(m, 10.5, 10.0)
    m.set_times(0.0, 15.0, 0.5, step=None, opzero=1e-9)
    # The inlet node keeps 1 mg/L: its own set holds it after every step; the
    # other nodes run no reactions.
    inlet = nodes(m, [(0, 0)])
    m.set("tracer", 1.0, where=inlet)
    m.add_reaction_set()
    hold(m, "tracer", 1.0, inlet)
    # The breakthrough at x = 10 m drawn in the README, every step.
    m.add_observation("x10", row=0, col=40)
    return m


def plume() -> kova.Model:
    n = 100
    coords = [2.0 * k for k in range(n)]
    m = kova.Model(row_coords=coords, col_coords=coords)
    m.set_units("m", "d", "g")
    m.set_thickness(10.0)
    m.add_mobile("tracer", "mg/L", alpha_l=2.0, alpha_t=0.2, diffusion=1e-4)
    m.set("porosity", 0.3)
    # A clay lens across the plume's path, conductivity 5 m/d, in sand of 50 m/d.
    lens = nodes(m, [(i, j) for i in range(36, 48) for j in range(30, 42)])
    for k in ("k_row", "k_col"):
        m.set(k, np.where(lens, 5.0, 50.0))
    left_to_right(m, 20.0, 18.0)
    # A pumping well downstream: 1 per day of its cell's pore volume, given as
    # the source itself (a rate per pore volume) rather than as a volume rate.
    m.set("source", -1.0, where=nodes(m, [(60, 70)]))
    # The tracer patch.
    m.set("tracer", 1.0, where=nodes(m, [(i, j) for i in range(44, 56) for j in range(4, 10)]))
    m.set_times(0.0, 60.0, 10.0, step=None, opzero=1e-9)
    # Downstream of the patch, and the pumping well at node (60, 70).
    m.add_observation("MW1", x=100.0, y=100.0)
    m.add_observation("well", row=60, col=70)
    return m


def hydrocarbon_plume() -> kova.Model:
    # 33 x 41 nodes, 1.5 m apart across the flow and 2 m along it (48 m x
    # 80 m). K 20 m/d, head drop 1.2 m over 80 m: Darcy flux 0.3 m/d, pore
    # velocity 1 m/d.
    rows, cols = 33, 41
    m = kova.Model(row_coords=[1.5 * i for i in range(rows)],
                   col_coords=[2.0 * j for j in range(cols)])
    m.set_units("m", "d", "g")
    m.set_thickness(5.0)
    m.add_immobile("biomass", "mg/L")
    m.add_immobile("benzene_sorbed", "mg/L")
    for name in ("benzene", "O2"):
        m.add_mobile(name, "mg/L", alpha_l=2.0, alpha_t=0.3, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 20.0)
    m.set("k_col", 20.0)
    m.set("biomass", 0.05)
    m.set("O2", 8.0)
    left_to_right(m, 11.2, 10.0)
    m.set_times(0.0, 250.0, 25.0, step=None, opzero=1e-9)
    # Aerobic degradation: 1 mg of hydrocarbon grows 0.5 mg of biomass and
    # takes 2.4 mg of oxygen (3.1 mg for full oxidation, less 1.42 mg per mg
    # of cells built); at most 1 mg per mg of biomass per day, half-saturation
    # 1 mg/L of hydrocarbon and 0.2 mg/L of oxygen.
    degrade = m.add_reaction(kova.DualMonod(
        donor="benzene", acceptor="O2", biomass="biomass", rate=1.0, half_donor=1.0,
        half_acceptor=0.2, stoichiometry={"benzene": -1.0, "O2": -2.4, "biomass": 0.5}))
    # The biomass dies back at 0.05 per day.
    decay = m.add_reaction(kova.Ordered(entry="biomass", order=1, rate=0.05,
                                        stoichiometry={"biomass": -1.0}))
    # Kinetic sorption towards sorbed = 0.5 x dissolved (both per litre of
    # water), rate 0.1 per day: retardation 1.5 at equilibrium.
    sorb = m.add_reaction(kova.KineticLinearSorption(
        solute="benzene", sorbed="benzene_sorbed", kd=0.5, rate=0.1,
        stoichiometry={"benzene": -1.0, "benzene_sorbed": 1.0}))
    m.add_reaction_set(kinetic=[degrade, decay, sorb])
    # Water entering on the first column carries 8 mg/L of oxygen.
    hold(m, "O2", 8.0, column_mask(m, 0))
    # The source: three nodes (4.5 m) held at 5 mg/L of hydrocarbon.
    source = nodes(m, [(15, 3), (16, 3), (17, 3)])
    m.set("benzene", 5.0, where=source)
    hold(m, "benzene", 5.0, source)
    m.add_observation("MW1", row=16, col=20, entries=["benzene", "O2", "biomass"])
    return m


def decay_chain() -> kova.Model:
    # 29 x 61 nodes, 2.5 m apart across the flow and 5 m along it (70 m x
    # 300 m). K 30 m/d, head drop 0.9 m over 300 m: Darcy flux 0.09 m/d, pore
    # velocity 0.3 m/d.
    rows, cols = 29, 61
    m = kova.Model(row_coords=[2.5 * i for i in range(rows)],
                   col_coords=[5.0 * j for j in range(cols)])
    m.set_units("m", "d", "g")
    m.set_thickness(5.0)
    for name in ("TCE", "cDCE", "VC"):
        m.add_mobile(name, "mg/L", alpha_l=5.0, alpha_t=0.5, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 30.0)
    m.set("k_col", 30.0)
    left_to_right(m, 20.9, 20.0)
    m.set_times(0.0, 600.0, 20.0, step=None, opzero=1e-9)
    # Reductive dechlorination, first order; each step keeps the moles, so
    # 1 mg of TCE (131.39 g/mol) gives 96.94/131.39 mg of cis-DCE and 1 mg of
    # cis-DCE gives 62.50/96.94 mg of vinyl chloride, which goes to ethene.
    # Half-lives 69, 173 and 347 days.
    chain = [m.add_reaction(kova.Ordered(entry=parent, order=1, rate=rate,
                                         stoichiometry=stoichiometry))
             for parent, rate, stoichiometry in (
                 ("TCE", 0.01, {"TCE": -1.0, "cDCE": 96.94 / 131.39}),
                 ("cDCE", 0.004, {"cDCE": -1.0, "VC": 62.50 / 96.94}),
                 ("VC", 0.002, {"VC": -1.0}))]
    m.add_reaction_set(kinetic=chain)
    # The source: three nodes (7.5 m) held at 10 mg/L of TCE.
    source = nodes(m, [(13, 2), (14, 2), (15, 2)])
    m.set("TCE", 10.0, where=source)
    hold(m, "TCE", 10.0, source)
    # The monitoring well 90 m downstream of the source.
    m.add_observation("MW90", row=14, col=20)
    return m


def complexation() -> kova.Model:
    # 21 x 41 nodes, 2 m apart (40 m x 80 m), pore velocity 0.5 m/d as in the
    # hydrocarbon plume. Concentrations in umol/L; sorbed zinc per litre of
    # water.
    rows, cols = 21, 41
    background_zn = 5.0
    kd = 4.0
    m = kova.Model(row_coords=[2.0 * i for i in range(rows)],
                   col_coords=[2.0 * j for j in range(cols)])
    m.set_units("m", "d", "mmol")
    m.set_thickness(1.0)
    m.add_immobile("Zn_sorbed", "umol/L")
    for name in ("Zn", "Cit", "ZnCit"):
        m.add_mobile(name, "umol/L", alpha_l=2.0, alpha_t=0.2, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 20.0)
    m.set("k_col", 20.0)
    m.set("Zn_sorbed", kd * background_zn)
    m.set("Zn", background_zn)
    left_to_right(m, 10.6, 10.0)
    m.set_times(0.0, 100.0, 10.0, step=None, opzero=1e-9)
    # Zn + Cit = ZnCit with [ZnCit] / ([Zn] [Cit]) = 10^4.9 L/mol
    # = 0.0794 L/umol.
    complexes = m.add_reaction(kova.MassAction(
        stoichiometry={"Zn": -1.0, "Cit": -1.0, "ZnCit": 1.0},
        exponents={"Zn": -1, "Cit": -1, "ZnCit": 1}, keq=0.0794))
    # Free zinc sorbs: sorbed = 4 x dissolved; the complex does not sorb.
    sorbs = m.add_reaction(kova.LinearSorption(solute="Zn", sorbed="Zn_sorbed", kd=kd,
                                               stoichiometry={"Zn": -1.0, "Zn_sorbed": 1.0}))
    m.add_reaction_set(equilibrium=[complexes, sorbs])
    # Water entering on the first column carries the background zinc.
    hold(m, "Zn", background_zn, column_mask(m, 0))
    # The source: three nodes where the water carries 200 umol/L of citrate.
    hold(m, "Cit", 200.0, nodes(m, [(9, 3), (10, 3), (11, 3)]), also=(complexes, sorbs))
    return m


EXAMPLES: Dict[str, Callable[[], kova.Model]] = {
    "column": column, "plume": plume, "hydrocarbon_plume": hydrocarbon_plume,
    "decay_chain": decay_chain, "complexation": complexation}


def main() -> None:
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "examples")
    for name, build in EXAMPLES.items():
        build().write(os.path.join(out, name))


if __name__ == "__main__":
    main()
