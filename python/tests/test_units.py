"""Field units turned into the engine's: recharge, sorption, unit labels, names."""

from __future__ import annotations

import numpy as np
import pandas as pd
import pytest

import kova
from kova.extension_file import read_extension
from kova.model_file import read_model_file


@pytest.mark.parametrize("given, theta, expected", [
    (dict(kd=0.25, bulk_density=1600.0), 0.4, 1000.0),       # 0.25 m3/kg x 1600 kg/m3 / 0.4
    (dict(kd=0.5, bulk_density=2.0), 0.25, 4.0),
    (dict(kd=0.0, bulk_density=1800.0), 0.3, 0.0),
    (dict(kd=3.0), None, 3.0),                                # the engine's Kd as it was
    (dict(retardation=2.5), None, 1.5),                       # R - 1
    (dict(retardation=1.0), None, 0.0),
])
def test_engine_kd_is_kd_times_bulk_density_over_porosity(given, theta, expected):
    assert kova.engine_kd(porosity=theta, **given) == expected


@pytest.mark.parametrize("given, argument, why", [
    (dict(kd=1.0, retardation=2.0), "retardation", "not both"),
    (dict(kd=1.0, bulk_density=2.0, retardation=2.0), "retardation", "not both"),
    (dict(bulk_density=1600.0), "bulk_density", "give kd too"),
    (dict(retardation=3.0, bulk_density=1600.0), "bulk_density", "give kd too"),
    (dict(), "kd", "give kd"),
    (dict(retardation=0.9), "retardation", "1 or above"),
    (dict(kd=1.0, bulk_density=0.0), "bulk_density", "above 0"),
    (dict(kd=1.0, bulk_density=-1600.0), "bulk_density", "above 0"),
    (dict(kd=-0.1, bulk_density=1600.0), "kd", "0 or above"),
    (dict(kd=1.0, bulk_density=float("nan")), "bulk_density", "finite"),
])
@pytest.mark.parametrize("kind", [kova.LinearSorption, kova.KineticLinearSorption])
def test_inconsistent_sorption_arguments_are_refused(kind, given, argument, why):
    extra = {"rate": 1.0} if kind is kova.KineticLinearSorption else {}
    with pytest.raises(ValueError) as error:
        kind(solute="C", sorbed="S", **given, **extra)
    assert str(error.value).startswith(f"{argument}=") and why in str(error.value)


def _sorbing(porosity=0.25, **sorption: object) -> kova.Model:
    """Two by two nodes 2 m apart, no flow; C sorbs onto S."""
    model = kova.Model(rows=2, cols=2, dx=2.0, dy=2.0)
    model.set_thickness(5.0)
    model.add_immobile("S")
    model.add_mobile("C")
    model.set("porosity", porosity)
    model.set("C", 8.0)
    model.add_reaction(kova.LinearSorption(solute="C", sorbed="S",
                                           stoichiometry={"C": -1.0, "S": 1.0},
                                           name="sorb_C", **sorption))
    model.add_reaction_set(equilibrium=[0])
    model.set_times(0.0, 1.0, 0.5, step=0.5)
    return model


@pytest.mark.parametrize("sorption, kd", [
    (dict(kd=0.5, bulk_density=1.5), 3.0),          # 0.5 x 1.5 / 0.25
    (dict(retardation=4.0), 3.0),
    (dict(kd=3.0), 3.0),
])
def test_the_model_file_holds_the_engine_kd(tmp_path, sorption, kd):
    model = _sorbing(**sorption)
    model.write(tmp_path / "m")
    record = read_model_file(str(tmp_path / "m.kvi")).reactions[0]
    assert record.fields["kd"] == kd
    again = kova.Model.read(tmp_path / "m")
    assert again.reactions[0].kd == kd and again.reactions[0].name == "sorb_C"


def test_a_kd_per_mass_needs_one_porosity_among_its_nodes():
    model = _sorbing(kd=0.5, bulk_density=1.5)
    porous = np.zeros(model.shape, dtype=bool)
    porous[0, 0] = True
    model.set("porosity", 0.4, where=porous)
    with pytest.raises(ValueError, match=r"bulk_density=1.5: reaction 0 \(LinearSorption\) "
                       r"converts kd with the porosity, but its nodes have porosities 0.25 "
                       r"and 0.4"):
        model.validate()
    # Nodes outside its set do not count.
    model.add_reaction_set(where=porous)
    model.validate()


@pytest.mark.parametrize("rate, porosity, thickness, expected", [
    (0.5, 0.25, 4.0, 0.5),           # 0.5 / (0.25 x 4)
    (0.003, 0.3, 10.0, 0.003 / 3.0),
    (-0.25, 0.5, 2.0, -0.25),        # evaporation takes water out
    (0.0, 0.3, 1.0, 0.0),
])
def test_recharge_source_is_rate_over_porosity_times_thickness(rate, porosity, thickness,
                                                               expected):
    assert kova.recharge_source(rate, porosity, thickness) == expected


def _recharged() -> kova.Model:
    """Two rows 5 m apart, three columns 10 m apart; the last column holds head 10."""
    model = kova.Model(rows=2, cols=3, dx=10.0, dy=5.0)
    model.set_thickness(4.0)
    model.set("porosity", 0.25)
    model.set("k_row", 5.0)
    model.set("k_col", 5.0)
    model.set("head", 10.0)
    held = np.zeros(model.shape, dtype=bool)
    held[:, 2] = True
    model.fix_heads(held)
    model.set_times(0.0, 1.0, 1.0, step=1.0)
    return model


@pytest.mark.parametrize("place, nodes", [
    (dict(), [(0, 0), (0, 1), (1, 0), (1, 1)]),          # all but the held heads
    (dict(rectangle=(0, 0, 1, 1)), [(0, 0), (0, 1), (1, 0), (1, 1)]),
    (dict(nodes=[(1, 0)]), [(1, 0)]),
    (dict(where=np.array([[True, False, False], [False, True, False]])), [(0, 0), (1, 1)]),
])
def test_recharge_adds_its_source_at_its_nodes_only(place, nodes):
    model = _recharged()
    model.add_well(0, 0, rate=-2.0)
    model.add_recharge(0.002, **place)
    source = model.state()[:, :, 1]
    expected = np.zeros(model.shape)
    for i, j in nodes:
        expected[i, j] += 0.002 / (0.25 * 4.0)
    expected[0, 0] += -2.0 / (0.25 * 50.0 * 4.0)
    assert np.array_equal(source, expected)


@pytest.mark.parametrize("action, argument, value", [
    (lambda m: m.add_recharge(0.1, rectangle=(0, 0, 1, 2)), "add_recharge", "(0, 2)"),
    (lambda m: m.add_recharge(0.1, nodes=[(1, 2)]), "add_recharge", "(1, 2)"),
    (lambda m: m.add_recharge(float("inf"), nodes=[(0, 0)]), "rate", "inf"),
    (lambda m: m.add_recharge(0.1, nodes=[(2, 0)]), "row", "2"),
    (lambda m: m.add_recharge(0.1, nodes=[(0, 0)], rectangle=(0, 0, 0, 0)), "nodes", "[(0, 0)]"),
    (lambda m: m.add_recharge(0.1, where=np.zeros((2, 3), dtype=bool)), "where", "array"),
])
def test_recharge_refusals_name_argument_and_value(action, argument, value):
    model = _recharged()
    with pytest.raises(ValueError) as error:
        action(model)
        model.validate()
    head = str(error.value).split(": ", 1)[0]
    assert head.startswith(f"{argument}=") and value in head


@pytest.mark.parametrize("given, concentration", [
    (dict(length="m", time="d", mass="g"), "g/m3"),
    (dict(length="m", time="d", mass="g", concentration="mg/L"), "mg/L"),
    (dict(length="m", time="d", mass="kg", concentration="g/L"), "g/L"),
    (dict(length="cm", time="s", mass="g", concentration="g/cm3"), "g/cm3"),
    (dict(length="ft", time="d", mass="lb", concentration="lb/ft^3"), "lb/ft^3"),
    (dict(length="m", time="d", mass="mmol", concentration="umol/L"), "umol/L"),
    (dict(time="d"), None),
    (dict(length="furlong", mass="stone", labels_only=True), "stone/furlong3"),
    (dict(length="m", mass="g", concentration="ppm", labels_only=True), "ppm"),
])
def test_units_accepted_and_the_concentration_they_mean(given, concentration):
    model = kova.Model(rows=1, cols=2)
    model.set_units(**given)
    assert model.concentration_unit == concentration


@pytest.mark.parametrize("given, argument, why", [
    (dict(length="furlong"), "length", "unknown unit"),
    (dict(time="fortnight"), "time", "labels_only=True"),
    (dict(mass="stone"), "mass", "unknown unit"),
    (dict(length="m", mass="kg", concentration="mg/L"), "concentration", "is 0.001 kg/m3, not 1"),
    (dict(length="m", mass="g", concentration="g/L"), "concentration", "is 1000 g/m3, not 1"),
    (dict(length="ft", mass="g", concentration="g/m3"), "concentration", "is 0.0283168 g/ft3"),
    (dict(length="m", mass="g", concentration="mmol/L"), "concentration", "amount per volume"),
    (dict(length="m", mass="g", concentration="ppm"), "concentration", "per a volume"),
    (dict(mass="g", concentration="g/m3"), "concentration", "needs the length"),
    (dict(length="m", labels_only=1), "labels_only", "True or False"),
    (dict(mass='g"', labels_only=True), "mass", "label"),
])
def test_unknown_and_inconsistent_units_are_refused(given, argument, why):
    model = kova.Model(rows=1, cols=2)
    with pytest.raises(ValueError) as error:
        model.set_units(**given)
    assert str(error.value).startswith(f"{argument}=") and why in str(error.value)
    assert model.length_unit is None and model.concentration_unit is None


def _named(*names: object) -> kova.Model:
    model = kova.Model(rows=1, cols=2)
    model.set("porosity", 0.3)
    model.add_mobile("A")
    for name in names:
        model.add_reaction(kova.Ordered(entry="A", order=1, rate=0.1,
                                        stoichiometry={"A": -1.0}, name=name))
    return model


def test_reaction_names_are_written_in_record_order_and_read_back(tmp_path):
    model = _named("decay_fast", "decay_slow")
    model.write(tmp_path / "m")
    assert "[reactions]\nnames = [\"decay_fast\", \"decay_slow\"]\n" in \
        (tmp_path / "m.kvx").read_text()
    assert read_extension(str(tmp_path / "m.kvx"), 0, 1, reactions=2).reaction_names == [
        "decay_fast", "decay_slow"]
    again = kova.Model.read(tmp_path / "m")
    assert [r.name for r in again.reactions] == ["decay_fast", "decay_slow"]
    unnamed = _named(None, None)
    unnamed.write(tmp_path / "u")
    assert "[reactions]" not in (tmp_path / "u.kvx").read_text()


@pytest.mark.parametrize("action, argument, why", [
    (lambda: _named("decay", "decay"), "name", "reaction 0 has that name already"),
    (lambda: _named("decay-TCE"), "name", "letters, digits or '_'"),
    (lambda: _named(""), "name", "letters, digits or '_'"),
    (lambda: _named("a" * 65), "name", "1-64"),
    (lambda: _named(3), "name", "1-64"),
    (lambda: _named("decay", None).validate(), "name", "reaction 1 (Ordered) has no name"),
])
def test_reaction_name_refusals(action, argument, why):
    with pytest.raises(ValueError) as error:
        action()
    assert str(error.value).startswith(f"{argument}=") and why in str(error.value)


@pytest.mark.parametrize("text, why", [
    ('[reactions]\nnames = ["a"]\n', "1 names for the 2 reaction records"),
    ('[reactions]\nnames = ["a", "a"]\n', "reactions.names[1]: the name 'a' is given to "
     "reactions 0 and 1"),
    ('[reactions]\nnames = ["a", ""]\n', "reactions.names[1]"),
    ('[reactions]\nnames = "a"\n', "must be an array"),
    ('[reactions]\nname = ["a", "b"]\n', "unknown key"),
])
def test_reaction_names_in_the_file_are_checked(tmp_path, text, why):
    path = tmp_path / "m.kvx"
    path.write_text(text)
    with pytest.raises(kova.KovaFileError, match=why.replace("[", r"\[").replace("]", r"\]")):
        read_extension(str(path), 0, 1, reactions=2)


def test_recharge_reaches_the_water_budget(engine, tmp_path):
    model = _recharged()
    model.add_recharge(0.002, rectangle=(0, 0, 1, 1))
    model.run(tmp_path / "r", progress=False)
    water = kova.read_water_budget(str(tmp_path / "r"))
    # 0.002 m/d over four cells of 10 m x 5 m: 0.4 m3/d, out at the held heads.
    assert water.loc["sources", "rate"] == pytest.approx(0.4, rel=1e-13)
    assert water.loc["fixed_head_outflow", "rate"] == pytest.approx(-0.4, rel=1e-6)
    assert list(water.columns) == ["rate"]
    # The water file and the budget's water rows (an older run's only copy)
    # give the same rates, bit for bit.
    (tmp_path / "r.water.csv").rename(tmp_path / "kept.csv")
    pd.testing.assert_frame_equal(kova.read_water_budget(str(tmp_path / "r")), water)
    (tmp_path / "kept.csv").rename(tmp_path / "r.water.csv")
    (tmp_path / "r.water.csv").write_text("time_start,time_end,term,mass\n0,1,sources,1\n")
    with pytest.raises(kova.KovaFileError, match="not a water balance"):
        kova.read_water_budget(str(tmp_path / "r"))


@pytest.mark.parametrize("sorption", [dict(kd=0.5, bulk_density=1.5), dict(retardation=4.0)])
def test_sorbed_mass_in_the_budget_is_kd_rho_c_volume(engine, tmp_path, sorption):
    model = _sorbing(**sorption)
    model.run(tmp_path / "s", progress=False)
    budget = kova.read_budget(str(tmp_path / "s"))
    last = budget[budget["time_end"] == budget["time_end"].max()]
    mass = dict(zip(last["entry"] + " " + last["term"], last["mass"]))
    # Kd_engine 3: C = 8 / (1 + 3) = 2 at equilibrium; four cells of 2 m x 2 m x 5 m.
    volume = 4 * 2.0 * 2.0 * 5.0
    assert mass["C storage_end"] == pytest.approx(2.0 * 0.25 * volume, rel=1e-14)
    # Sorbed mass = kd x rho_b x C x bulk volume = 0.5 x 1.5 x 2 x 80 = 120.
    assert mass["S storage_end"] == pytest.approx(0.5 * 1.5 * 2.0 * volume, rel=1e-14)
    first = budget[budget["time_start"] == 0.0]
    terms = set(first["term"])
    assert "reaction 0 sorb_C" in terms and not any("CEquiLin" in t for t in terms)


def test_the_check_shows_the_reaction_names(engine, tmp_path):
    understood = _named("decay_fast", "decay_slow").check(tmp_path / "m")
    assert "  reaction 0 decay_fast: COrdered (type 2, kinetic)\n" in understood
    assert "  reaction 1 decay_slow: COrdered (type 2, kinetic)\n" in understood
    assert "  reaction 0: COrdered (type 2, kinetic)\n" in _named(None).check(tmp_path / "u")
