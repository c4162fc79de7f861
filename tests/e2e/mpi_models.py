#!/usr/bin/python3
"""Writes the models the MPI test runs besides the shipped ones: grids whose
slab boundaries cut rows and whose rows are wider than a rank's share, so
that a halo row lost, shifted or taken from the wrong rank changes the
records.

  mpi_wide          3 x 700 nodes: flow along the rows to a pumping well,
                    a tracer injected at the inflow column decaying into a
                    daughter, transverse dispersion (the cross terms read the
                    rows next to a slab's), wells on every rank's nodes.
  mpi_two_failures  the same grid, with a stiff reaction at two nodes that
                    fall to different ranks: the lower node's failure is the
                    run's, on any number of processes.
  mpi_wide_tvd      mpi_wide with the tvd scheme, and mpi_wide_implicit with
                    the implicit step: transport over the whole grid on rank
                    0, every rank's nodes sent to it each step.
  mpi_tall_tvd      24 x 40 nodes with the tvd scheme, and mpi_tall_symmetric
                    with the symmetric one: water drawn to a well from both
                    sides across the slab boundaries, transverse dispersion
                    (the tvd scheme's limited cross corrections): each rank
                    steps its rows alone with three rows of halo.
  mpi_sparse_heads  heads_hetero below: 300 x 300 nodes take the sparse heads,
                    which rank 0 alone solves and hands to the others.
  mpi_non_finite    one node whose entry a linear assignment multiplies by
                    1e300 each sweep: on several processes the node is the
                    last rank's, and its non-finite value must end the run
                    with the serial message before the record.

With --heads, writes the models of the distributed heads instead
(mpi_heads.sh):

  heads_hetero      300 x 300 nodes, the conductivities of each direction
                    drawn from five orders of magnitude per node, fixed heads
                    on the first and the last column, three wells, initial
                    heads far from the steady ones (a halo head left at its
                    initial value is far off).
  heads_unheld      a grid with no fixed head: the head equations have no
                    solution.
  heads_plume       300 x 300 nodes, conductivities from one order of
                    magnitude, 12 mobile entries in patches across the slab
                    boundaries, the computed stable step, several records:
                    each rank computes the flow field of its rows, the step
                    is reduced over the ranks; its node arrays (760 bytes a
                    node) are the larger part of each rank's memory.
  heads_tvd         60 x 50 nodes with the tvd scheme (three rows of halo)
                    and water drawn to a well across the slab boundaries.
  heads_implicit    mpi_wide with the implicit step: the ranks send their
                    nodes to rank 0, which solves the step for the whole grid.
  heads_inject      two injection tables at nodes without inflow, the first
                    table's node on the last of 3 ranks, the second's on rank
                    0: each rank checks the nodes it holds, and the first
                    table's failure must be the run's, as in one process.

Usage: tests/e2e/mpi_models.py [--heads] OUTPUT_DIRECTORY
"""
import os
import sys
from typing import Dict

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
import kova  # noqa: E402

ROWS, COLS = 3, 700


def between_held_columns(rows: int, cols: int, dx: float, k_row: float, left: float,
                         right: float, mobile: Dict[str, float]) -> kova.Model:
    """A grid of porosity 0.3 whose first and last columns hold their heads,
    with the mobile entries given as name: transverse dispersivity."""
    m = kova.Model(row_coords=[1.0 * i for i in range(rows)],
                   col_coords=[dx * j for j in range(cols)])
    m.set_units("m", "d", "g")
    for name, alpha_t in mobile.items():
        m.add_mobile(name, "mg/L", alpha_l=1.0, alpha_t=alpha_t, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", k_row)
    m.set("k_col", 10.0)
    first = np.zeros(m.shape, dtype=bool)
    first[:, 0] = True
    last = np.zeros(m.shape, dtype=bool)
    last[:, -1] = True
    m.fix_heads(first, left)
    m.fix_heads(last, right)
    return m


def wide(end: float = 40.0, interval: float = 10.0) -> kova.Model:
    m = between_held_columns(ROWS, COLS, 1.0, 10.0, 10.0, 9.0,
                             {"tracer": 0.3, "daughter": 0.3})
    first = np.zeros(m.shape, dtype=bool)
    first[:, 0] = True
    m.add_well(2, 340, -0.05)
    m.add_injection({"tracer": 5.0}, where=first)
    # A patch across the first slab boundaries, so the halo carries solute.
    m.set("tracer", 2.0, where=(np.arange(COLS)[None, :] % 97 < 40) & np.ones(m.shape, dtype=bool))
    m.set_times(0.0, end, interval, step=None, opzero=1e-9)
    decay = m.add_reaction(kova.Ordered(entry="tracer", order=1, rate=0.02,
                                        stoichiometry={"tracer": -1.0, "daughter": 1.0}))
    m.add_reaction_set(kinetic=[decay])
    for name, (row, col) in {"W0": (0, 5), "W1": (1, 330), "W2": (2, 520), "W3": (2, 699)}.items():
        m.add_observation(name, row=row, col=col)
    return m


def implicit_wide() -> kova.Model:
    m = wide()
    m.set_transport_time("implicit")
    return m


def tall(scheme: str) -> kova.Model:
    rows, cols = 24, 40
    m = between_held_columns(rows, cols, 1.5, 8.0, 10.0, 9.5, {"tracer": 0.2})
    m.add_well(12, 25, -0.4)   # water flows up and down the rows to it
    m.set("tracer", 3.0, where=(np.add.outer(np.arange(rows), np.arange(cols)) % 11 < 4))
    m.set_times(0.0, 20.0, 5.0, step=None, opzero=1e-9)
    decay = m.add_reaction(kova.Ordered(entry="tracer", order=1, rate=0.01,
                                        stoichiometry={"tracer": -1.0}))
    m.add_reaction_set(kinetic=[decay])
    m.set_transport_scheme(scheme)
    return m


def two_failures() -> kova.Model:
    m = wide(end=20.0)
    stiff = m.add_reaction(kova.Monod(substrate="tracer", rate=1e12, half_saturation=1e-300,
                                      stoichiometry={"tracer": -1.0, "daughter": 1.0}))
    where = np.zeros(m.shape, dtype=bool)
    where[1, 500] = True   # node 1200
    where[2, 600] = True   # node 2000
    m.add_reaction_set(kinetic=[stiff], where=where)
    return m


HETERO = 300


def hold_first_and_last_rows(m: kova.Model, first: float, last: float) -> None:
    """Fixed heads on the first row and on the last."""
    for row, head in ((0, first), (-1, last)):
        where = np.zeros(m.shape, dtype=bool)
        where[row, :] = True
        m.fix_heads(where, head)


def heterogeneous() -> kova.Model:
    m = kova.Model(row_coords=[10.0 * i for i in range(HETERO)],
                   col_coords=[10.0 * j for j in range(HETERO)])
    m.set_units("m", "d", "g")
    m.add_mobile("tracer", "mg/L", alpha_l=1.0, alpha_t=0.1, diffusion=1e-4)
    rng = np.random.default_rng(17)
    m.set("porosity", 0.25)
    m.set("k_row", 10.0 ** rng.uniform(-3.0, 2.0, m.shape))
    m.set("k_col", 10.0 ** rng.uniform(-3.0, 2.0, m.shape))
    m.set("head", 0.0)
    # Fixed heads on the first and the last row only: the flow crosses the
    # slab boundaries, and on 3 processes the middle rank holds no fixed
    # head, so its own changes settle a sweep before the others' (a stopping
    # test not summed over the ranks parts them).
    hold_first_and_last_rows(m, 50.0, 20.0)
    # Small enough that the heads stay well above 0, where a relative
    # difference means something.
    m.add_well(60, 100, -0.4)
    m.add_well(150, 151, 0.25)
    m.add_well(240, 200, -0.15)
    m.set_times(0.0, 1e-3, 1e-3, step=1e-3, opzero=1e-6)
    return m


PLUME_ENTRIES = 12


def plume() -> kova.Model:
    m = kova.Model(row_coords=[10.0 * i for i in range(HETERO)],
                   col_coords=[10.0 * j for j in range(HETERO)])
    m.set_units("m", "d", "g")
    rng = np.random.default_rng(23)
    for e in range(PLUME_ENTRIES):
        m.add_mobile("c%d" % e, "mg/L", alpha_l=2.0, alpha_t=0.2 + 0.05 * e, diffusion=1e-4)
    m.set("porosity", 0.25)
    m.set("k_row", 10.0 ** rng.uniform(0.0, 1.0, m.shape))
    m.set("k_col", 10.0 ** rng.uniform(0.0, 1.0, m.shape))
    hold_first_and_last_rows(m, 50.0, 20.0)
    m.add_well(150, 120, -2.0)
    rows = np.arange(HETERO)[:, None] * np.ones((1, HETERO))
    for e in range(PLUME_ENTRIES):
        m.set("c%d" % e, 1.0 + e, where=(np.abs(rows - (90 + 10 * e)) < 12))
    m.set_times(0.0, 400.0, 100.0, step=None, opzero=1e-9)
    return m


def tvd_plume() -> kova.Model:
    m = kova.Model(row_coords=[5.0 * i for i in range(60)],
                   col_coords=[5.0 * j for j in range(50)])
    m.set_units("m", "d", "g")
    for name in ("a", "b"):
        m.add_mobile(name, "mg/L", alpha_l=1.0, alpha_t=0.2, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 5.0)
    m.set("k_col", 2.0)
    hold_first_and_last_rows(m, 10.0, 10.0)
    m.add_well(30, 25, -1.0)   # water flows to it from both ends, across the slabs
    m.set("a", 2.0, where=(np.add.outer(np.arange(60), np.arange(50)) % 13 < 5))
    m.set("b", 1.0, where=(np.arange(60)[:, None] % 7 < 2) & np.ones(m.shape, dtype=bool))
    m.set_times(0.0, 40.0, 10.0, step=None, opzero=1e-9)
    m.set_transport_scheme("tvd")
    return m


def one_tracer(rows: int, cols: int) -> kova.Model:
    """A grid of 1 m cells, conductivity 1 both ways, one tracer."""
    m = kova.Model(row_coords=[1.0 * i for i in range(rows)],
                   col_coords=[1.0 * j for j in range(cols)])
    m.set_units("m", "d", "g")
    m.add_mobile("tracer", "mg/L", alpha_l=1.0, alpha_t=0.1, diffusion=1e-4)
    m.set("porosity", 0.3)
    m.set("k_row", 1.0)
    m.set("k_col", 1.0)
    return m


def bad_injections() -> kova.Model:
    m = one_tracer(30, 20)
    hold_first_and_last_rows(m, 1.0, 1.0)
    m.add_injection({"tracer": 5.0}, nodes=[(28, 5)])   # node 565, the last rank's
    m.add_injection({"tracer": 5.0}, nodes=[(2, 5)])    # node 45, rank 0's
    m.set_times(0.0, 1.0, 1.0, step=0.1)
    return m


def write_unchecked(m: kova.Model, base: str) -> None:
    """Writes a model the package would refuse, for the engine to refuse."""
    with open(base + ".kvi", "w", encoding="ascii") as handle:
        handle.write(m.model_text())
    with open(base + ".kvx", "w", encoding="utf-8") as handle:
        handle.write(m.extension_text())


def unheld() -> kova.Model:
    m = one_tracer(20, 30)
    m.add_well(10, 10, -1.0)
    m.set_times(0.0, 1.0, 1.0, step=0.1)
    return m


def main() -> int:
    if sys.argv[1] == "--heads":
        out = sys.argv[2]
        os.makedirs(out, exist_ok=True)
        heterogeneous().write(os.path.join(out, "heads_hetero"))
        unheld().write(os.path.join(out, "heads_unheld"))
        plume().write(os.path.join(out, "heads_plume"))
        tvd_plume().write(os.path.join(out, "heads_tvd"))
        write_unchecked(bad_injections(), os.path.join(out, "heads_inject"))
        implicit_wide().write(os.path.join(out, "heads_implicit"))
        return 0
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    wide().write(os.path.join(out, "mpi_wide"))
    two_failures().write(os.path.join(out, "mpi_two_failures"))
    tvd = wide()
    tvd.set_transport_scheme("tvd")
    tvd.write(os.path.join(out, "mpi_wide_tvd"))
    implicit_wide().write(os.path.join(out, "mpi_wide_implicit"))
    heterogeneous().write(os.path.join(out, "mpi_sparse_heads"))
    tall("tvd").write(os.path.join(out, "mpi_tall_tvd"))
    tall("symmetric").write(os.path.join(out, "mpi_tall_symmetric"))
    with open(os.path.join(out, "mpi_non_finite.kvi"), "w") as f:
        f.write("1 1 0 1 1 1  0 2 1 0.5 1e-6\n0\n0\n0 0 0\n0 0 0.3 0 0 0 0 1e10\n0\n0\n"
                "1  0 0 0 0 0 0 0 1e300  7 0\n0\n0\n1 0  0\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
