"""Reactions and reaction sets built by name, checked, written and read back."""

from __future__ import annotations

import numpy as np
import pytest

import kova
from kova.model_file import read_model_file


def _model() -> kova.Model:
    model = kova.Model(rows=2, cols=3)
    model.set("porosity", 0.3)
    model.add_immobile("X")
    model.add_mobile("NH4")
    model.add_mobile("O2")
    return model


def _nitrify(**change: object) -> kova.DualMonod:
    arguments = dict(donor="NH4", acceptor="O2", biomass="X", rate=1.0, half_donor=0.5,
                     half_acceptor=0.2, stoichiometry={"NH4": -1.0, "O2": -3.4, "X": 0.1})
    arguments.update(change)
    return kova.DualMonod(**arguments)


@pytest.mark.parametrize("build, argument, value", [
    (lambda: _nitrify(rate=float("nan")), "rate", "nan"),
    (lambda: _nitrify(half_donor="1"), "half_donor", "'1'"),
    (lambda: _nitrify(donor=None), "donor", "None"),
    (lambda: _nitrify(stoichiometry={"NH4": "x"}), "stoichiometry['NH4']", "'x'"),
    (lambda: _nitrify(stoichiometry=[-1.0, 2.0]), "stoichiometry", "[-1.0, 2.0]"),
    (lambda: _nitrify(stoichiometry={3: 1.0}), "stoichiometry key", "3"),
    (lambda: kova.MassAction(keq=0.0), "keq", "0.0"),
    (lambda: kova.MassAction(keq=1.0, exponents={"A": 1.5}), "exponents['A']", "1.5"),
    (lambda: kova.MassAction(keq=1.0, exponents={"A": 2**31}), "exponents['A']", "2147483648"),
    (lambda: kova.Ordered(entry="A", order=7, rate=1.0), "order", "7"),
    (lambda: kova.Ordered(entry="A", order=1.0, rate=1.0), "order", "1.0"),
    (lambda: kova.MixedOrdered(factors=["A"] * 7, rate=1.0), "factors", "['A', 'A'"),
    (lambda: kova.MixedOrdered(factors="AB", rate=1.0), "factors", "'AB'"),
    (lambda: kova.Monod(substrate="A", biomass=3, rate=1.0, half_saturation=1.0), "biomass",
     "3"),
    (lambda: kova.RuleCurve(points=[]), "points", "[]"),
    (lambda: kova.RuleCurve(points=[(0.0, 1.0, 2.0)]), "points[0]", "(0.0, 1.0, 2.0)"),
    (lambda: kova.RuleCurve(points=[(0.0, float("inf"))]), "points[0][1]", "inf"),
    (lambda: kova.RuleCurve(points=[(0.0, 1.0)], kind=-1), "target", "None"),
    (lambda: kova.RuleCurve(points=[(0.0, 1.0)], target="A", kind=0), "target", "'A'"),
    (lambda: kova.RuleCurve(points=[(0.0, 1.0)], driver=None), "driver", "None"),
    (lambda: kova.LinearSorption(solute="A", sorbed="B", kd=-0.5), "kd", "-0.5"),
    (lambda: kova.KineticLinearSorption(solute="A", sorbed="B", kd=-1e-300, rate=1.0), "kd",
     "-1e-300"),
])
def test_reaction_arguments_refused_naming_argument_and_value(build, argument, value):
    with pytest.raises(ValueError) as error:
        build()
    head = str(error.value).split(": ", 1)[0]
    assert head.startswith(f"{argument}=") and value in head


def _two(model: kova.Model) -> None:
    model.add_reaction(_nitrify())                                          # 0, kinetic
    model.add_reaction(kova.LinearAssignment(target="O2", constant=8.0))    # 1, equilibrium
    model.add_reaction(kova.RuleCurve(points=[(0.0, 1.0)], kind=0))         # 2, kinetic


@pytest.mark.parametrize("action, argument, value", [
    (lambda m: m.add_reaction(_nitrify(donor="NH5")), "donor", "'NH5'"),
    (lambda m: m.add_reaction(_nitrify(stoichiometry={"N2": 1.0})), "stoichiometry['N2']",
     "'N2'"),
    (lambda m: m.add_reaction(kova.RuleCurve(points=[(0.0, 1.0)], driver="T")), "driver",
     "'T'"),
    (lambda m: m.add_reaction(kova.MixedOrdered(factors=["NH4", "Y"], rate=1.0)),
     "factors[1]", "'Y'"),
    (lambda m: m.add_reaction("DualMonod"), "reaction", "'DualMonod'"),
    (lambda m: m.add_reaction_set(equilibrium=[0]), "equilibrium[0]", "0"),
    (lambda m: m.add_reaction_set(kinetic=[0, 1]), "kinetic[1]", "1"),
    (lambda m: m.add_reaction_set(equilibrium=[2]), "equilibrium[0]", "2"),
    (lambda m: m.add_reaction_set(kinetic=[3]), "kinetic[0]", "3"),
    (lambda m: m.add_reaction_set(kinetic=[-1]), "kinetic[0]", "-1"),
    (lambda m: m.add_reaction_set(kinetic=0), "kinetic", "0"),
    (lambda m: m.add_reaction_set(kinetic=[0], where=np.ones((3, 2), dtype=bool)), "where",
     "shape (3, 2)"),
    (lambda m: [m.add_reaction_set() for _ in range(257)], "add_reaction_set", "256"),
])
def test_model_reaction_arguments_refused_naming_argument_and_value(action, argument, value):
    model = _model()
    _two(model)
    with pytest.raises(ValueError) as error:
        action(model)
    head = str(error.value).split(": ", 1)[0]
    assert head.startswith(f"{argument}=") and value in head


def test_sets_numbered_as_added_and_nodes_without_one_share_an_empty_set(tmp_path):
    model = _model()
    _two(model)
    left = np.zeros(model.shape, dtype=bool)
    left[:, 0] = True
    corner = np.zeros(model.shape, dtype=bool)
    corner[1, 2] = True
    assert model.add_reaction_set(kinetic=[0, 2], where=left) == 0
    assert model.add_reaction_set(equilibrium=[1], kinetic=[0], where=corner) == 1
    model.write(tmp_path / "m")
    contents = read_model_file(str(tmp_path / "m.kvi"))
    assert contents.reaction_sets == [([], [0, 2]), ([1], [0]), ([], [])]
    assert contents.reaction_set.tolist() == [[0, 2, 2], [0, 2, 1]]
    text = (tmp_path / "m.kvi").read_text().splitlines()
    assert text[-8:] == ["2", "3", "0 0 0", "1 0 0", "1 2 1", "0 2 0 2", "1 1 1 0", "0 0"]
    again = kova.Model.read(tmp_path / "m")
    assert again.reactions == model.reactions
    assert again.reaction_sets == model.reaction_sets + [kova.ReactionSet()]
    assert np.array_equal(again.node_reaction_sets(), model.node_reaction_sets())


def test_a_later_mask_takes_the_nodes_from_an_earlier_set():
    model = _model()
    _two(model)
    model.add_reaction_set(kinetic=[0])
    corner = np.zeros(model.shape, dtype=bool)
    corner[0, 0] = True
    model.add_reaction_set(equilibrium=[1], where=corner)
    assert model.node_reaction_sets().tolist() == [[1, 0, 0], [0, 0, 0]]
    assert model.model_text().splitlines()[-5:] == ["0", "1", "0 0 1", "0 1 0", "1 1 0"]


def test_a_misplaced_reaction_in_a_used_set_is_refused_before_writing(tmp_path):
    # As a file may have it: the engine reads it, and only a run (or --check)
    # stops at it, so it is refused when written again, not when read.
    (tmp_path / "m.kvi").write_text("1 2 0 1 1 2\n0 10 1 0.1 1e-6\n0\n0 10\n1 0.1 0\n"
                                    "0 0 0.3 1 1 0 0 0\n0\n0\n"
                                    "2 0 0 0 0 0 0 0 -1 1 7 0.1\n"
                                    "0\n1 0 1 1\n0 0\n1 0 0\n")
    model = kova.Model.read(tmp_path / "m")
    assert model.node_reaction_sets().tolist() == [[0, 1]]
    with pytest.raises(ValueError, match=r"^equilibrium=0: reaction set 1 lists reaction 0 "
                       r"\(Ordered, kinetic\)"):
        model.write(tmp_path / "again")
    assert not (tmp_path / "again.kvi").exists()
    model.add_reaction_set(kinetic=[0], where=np.array([[False, True]]))
    model.write(tmp_path / "again")        # set 1 is now used by no node
    assert read_model_file(str(tmp_path / "again.kvi")).reaction_set.tolist() == [[0, 2]]
