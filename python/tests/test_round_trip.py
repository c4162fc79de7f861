"""Models read and written again: the engine must understand the same numbers.

Every shipped example, every model of tests/data and every input of the fuzz
corpus is read with ``Model.read`` and written again. Where the engine accepts
the original, it must understand the rewritten file the same way (its
``--check`` summary, paths masked) and the two files must hold the same
numbers to the bit; where it refuses the original, so must the package, when
reading or at the latest before writing.
"""

from __future__ import annotations

import math
import shutil
import subprocess
from pathlib import Path
from typing import Optional

import numpy as np
import pytest

import kova
from conftest import EXAMPLES, REPO, masked_check, same_bits
from kova.model_file import ModelFile, read_model_file
from test_model import engine_check

CORPUS = sorted((REPO / "fuzz" / "corpus").iterdir())
MODELS = ([("example", p) for p in sorted(EXAMPLES.glob("*.kvi"))]
          + [("data", p) for p in sorted((REPO / "tests" / "data").glob("*.kvi"))]
          + [("corpus", p) for p in CORPUS])


def _engine_reads(engine: Path, base: Path) -> Optional[str]:
    result = subprocess.run([str(engine), "--check", str(base)], capture_output=True,
                            text=True, timeout=60)
    return masked_check(result.stdout) if result.returncode == 0 else None


def _same_value(a: object, b: object) -> bool:
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and (same_bits(a, b) if a.dtype.kind == "f"
                                       else np.array_equal(a, b))
    if isinstance(a, float):
        return isinstance(b, float) and (math.isnan(a) and math.isnan(b) or
                                         a.hex() == b.hex())
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(_same_value(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def assert_same_contents(a: ModelFile, b: ModelFile) -> None:
    """Every number of two model files equal to the bit."""
    for name in ("rows", "cols", "immobile", "mobile", "reactions", "reaction_sets",
                 "start_time", "end_time", "output_interval", "global_step", "opzero",
                 "row_coords", "col_coords"):
        assert _same_value(getattr(a.header, name), getattr(b.header, name)), name
    for name in ("transport", "state", "fixed", "reaction_set", "reaction_sets"):
        assert _same_value(getattr(a, name), getattr(b, name)), name
    for r, (x, y) in enumerate(zip(a.reactions, b.reactions)):
        assert x.code == y.code and x.fields.keys() == y.fields.keys(), r
        for key in x.fields:
            assert _same_value(x.fields[key], y.fields[key]), (r, key)


@pytest.mark.parametrize("kind, path", MODELS,
                         ids=[f"{k}-{p.name[:12]}" for k, p in MODELS])
def test_read_and_written_again_the_engine_reads_the_same(kind, path, engine, tmp_path):
    base = tmp_path / "original"
    shutil.copy(path, base.with_suffix(".kvi"))
    kvx = path.with_suffix(".kvx")
    if path.suffix == ".kvi" and kvx.exists():
        shutil.copy(kvx, base.with_suffix(".kvx"))
    understood = _engine_reads(engine, base)
    try:
        kova.Model.read(base).write(tmp_path / "again")
    except (kova.KovaFileError, ValueError) as error:
        assert understood is None, f"the engine reads it, the package refuses: {error}"
        return
    assert understood is not None, "the engine refuses it, the package wrote it again"
    assert _engine_reads(engine, tmp_path / "again") == understood
    assert_same_contents(read_model_file(str(base) + ".kvi"),
                         read_model_file(str(tmp_path / "again.kvi")))


def test_the_corpus_has_models_with_reactions_that_the_engine_accepts():
    # Without them the round trips above would prove little about reactions.
    with_reactions = 0
    for path in CORPUS[:200]:
        try:
            with_reactions += read_model_file(str(path)).header.reactions > 0
        except kova.KovaFileError:
            pass
    assert with_reactions >= 20


# Entries: X (7) and S (8) immobile, A (9), B (10) and C (11) mobile.
ZEROS = "0.0 0.0 0.0 0.0 0.0 0.0 0.0"
BY_HAND = [
    (kova.MassAction(stoichiometry={"A": -1, "B": -1, "C": 1}, exponents={"A": -1, "B": -1,
                                                                          "C": 1}, keq=0.0794),
     f"0  {ZEROS} 0.0 0.0 -1.0 -1.0 1.0  0 0 0 0 0 0 0 0 0 -1 -1 1  0.0794",
     "CEquiMassAction (type 0, equilibrium)", "Keq: 0.0794"),
    (kova.LinearAssignment(target="B", constant=8.0, weights={"A": 0.5}),
     f"1  {ZEROS} 0.0 0.0 0.5 0.0 0.0  10 8.0", "CLinAssign (type 1, equilibrium)",
     "target: B (10)"),
    (kova.Ordered(entry="A", order=1, rate=0.01, stoichiometry={"A": -1.0, "B": 0.75}),
     f"2  {ZEROS} 0.0 0.0 -1.0 0.75 0.0  1 9 0.01", "COrdered (type 2, kinetic)",
     "entry: A (9)"),
    (kova.MixedOrdered(factors=["A", "A", "C"], rate=0.25, stoichiometry={"C": -1.0}),
     f"3  {ZEROS} 0.0 0.0 0.0 0.0 -1.0  0.25 3 9 9 11", "CMixedOrdered (type 3, kinetic)",
     "entries: A (9), A (9), C (11)"),
    (kova.Monod(substrate="A", biomass=None, rate=2.0, half_saturation=0.5,
                stoichiometry={"A": -1.0}),
     f"4  {ZEROS} 0.0 0.0 -1.0 0.0 0.0  2.0 0.5 -1 9", "CKinMonod (type 4, kinetic)",
     "biomass: none"),
    (kova.DualMonod(donor="A", acceptor="B", biomass="X", rate=1.0, half_donor=1.0,
                    half_acceptor=0.2, stoichiometry={"A": -1.0, "B": -2.4, "X": 0.5}),
     f"5  {ZEROS} 0.5 0.0 -1.0 -2.4 0.0  1.0 1.0 0.2 7 9 10",
     "CKinDualMonod (type 5, kinetic)", "acceptor: B (10)"),
    (kova.DualMonodInhibition(donor="A", acceptor="B", inhibitor="C", biomass="X", rate=1.5,
                              half_donor=0.1, half_acceptor=0.3, inhibition=2.0,
                              stoichiometry={"B": -1.0}),
     f"6  {ZEROS} 0.0 0.0 0.0 -1.0 0.0  1.5 0.1 0.3 2.0 7 9 10 11",
     "CKinDualMonodInhib (type 6, kinetic)", "inhibitor: C (11)"),
    (kova.Exchange(first="A", second="S", rate=0.3, stoichiometry={"A": -1.0, "S": 1.0}),
     f"7  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  0.3 9 8", "CKinExchange (type 7, kinetic)",
     "y: S (8)"),
    (kova.LinearSorption(solute="A", sorbed="S", kd=4.0, stoichiometry={"A": -1.0, "S": 1.0}),
     f"8  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  4.0 9 8", "CEquiLin (type 8, equilibrium)",
     "sorbed: S (8)"),
    (kova.LangmuirSorption(solute="A", sorbed="S", capacity=3.0, half_saturation=0.7,
                           stoichiometry={"A": -1.0, "S": 1.0}),
     f"9  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  3.0 0.7 9 8", "CEquiLangmuir (type 9, equilibrium)",
     "B: 0.7"),
    (kova.FreundlichSorption(solute="B", sorbed="S", coefficient=1.2, exponent=0.8,
                             stoichiometry={"B": -1.0, "S": 1.0}),
     f"10  {ZEROS} 0.0 1.0 0.0 -1.0 0.0  1.2 0.8 10 8",
     "CEquiFreundlich (type 10, equilibrium)", "solute: B (10)"),
    (kova.KineticLinearSorption(solute="A", sorbed="S", kd=0.5, rate=0.1,
                                stoichiometry={"A": -1.0, "S": 1.0}),
     f"11  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  0.5 0.1 9 8", "CKinLin (type 11, kinetic)",
     "k: 0.1"),
    (kova.KineticLangmuirSorption(solute="A", sorbed="S", capacity=2.0, half_saturation=0.4,
                                  rate=0.05, stoichiometry={"A": -1.0, "S": 1.0}),
     f"12  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  2.0 0.4 0.05 9 8",
     "CKinLangmuir (type 12, kinetic)", "k: 0.05"),
    (kova.KineticFreundlichSorption(solute="A", sorbed="S", coefficient=0.9, exponent=0.6,
                                    rate=0.2, stoichiometry={"A": -1.0, "S": 1.0}),
     f"13  {ZEROS} 0.0 1.0 -1.0 0.0 0.0  0.9 0.6 0.2 9 8",
     "CKinFreundlich (type 13, kinetic)", "n: 0.6"),
    (kova.RuleCurve(points=[(0.0, 0.0), (10.0, 1.0)], multiplier="X",
                    stoichiometry={"C": 1.0}),
     f"14  {ZEROS} 0.0 0.0 0.0 0.0 1.0  1 -1 7 2 0.0 0.0 10.0 1.0",
     "CRuleCurve (type 14, kinetic)", "multiplier: X (7)"),
    (kova.RuleCurve(points=[(0.0, 2.0)], driver="A", target="C", kind=-3),
     f"14  {ZEROS} 0.0 0.0 0.0 0.0 0.0  -3 9 -1 1 11 0.0 2.0",
     "CRuleCurve (type 14, equilibrium)", "target: C (11)"),
    (kova.LinearCombination(target="C", constant=1.0, weights={"A": 2.0},
                            stoichiometry={"A": 1.0, "C": -1.0}),
     f"15  {ZEROS} 0.0 0.0 1.0 0.0 -1.0  11 1.0  {ZEROS} 0.0 0.0 2.0 0.0 0.0",
     "CEquiLinComb (type 15, equilibrium)", "target: C (11)"),
]


@pytest.mark.parametrize("reaction, record, type_line, field_line", BY_HAND,
                         ids=[f"{type(r[0]).__name__}-{k}" for k, r in enumerate(BY_HAND)])
def test_each_type_writes_the_record_written_by_hand(reaction, record, type_line, field_line,
                                                     engine, tmp_path):
    model = kova.Model(rows=1, cols=2)
    model.set("porosity", 0.3)
    for name in ("X", "S"):
        model.add_immobile(name)
    for name in ("A", "B", "C"):
        model.add_mobile(name)
    number = model.add_reaction(reaction)
    if reaction.equilibrium:
        model.add_reaction_set(equilibrium=[number])
    else:
        model.add_reaction_set(kinetic=[number])
    model.write(tmp_path / "m")
    lines = (tmp_path / "m.kvi").read_text().splitlines()
    # Four lines of header, times and coordinates, one per mobile entry, the
    # default state and the two counts of no overrides and no fixed heads.
    assert lines[10].split() == record.split()
    assert kova.Model.read(tmp_path / "m").reactions == [reaction]
    understood = engine_check(engine, tmp_path / "m")
    assert f"reaction 0: {type_line}\n" in understood
    assert f"    {field_line}\n" in understood
