"""Transport options from Python: the scheme, its warning, injected water
that carries solute."""

from __future__ import annotations

import warnings

import numpy as np
import pytest

import kova


def _model() -> kova.Model:
    """A row of 7 nodes between two held heads with an injection well in the middle."""
    model = kova.Model(rows=1, cols=7, dx=5.0, dy=2.0)
    model.add_mobile("NH4", units="mg/L", alpha_l=1.0, alpha_t=0.1)
    model.add_mobile("Cl", units="mg/L", alpha_l=1.0, alpha_t=0.1)
    model.set("porosity", 0.3)
    model.set("k_col", 5.0)
    model.set("k_row", 5.0)  # else the held heads keep the file's source (the engine warns)
    ends = np.zeros((1, 7), dtype=bool)
    ends[0, [0, 6]] = True
    model.fix_heads(ends, 10.0)
    model.add_well(0, 3, 2.0)
    model.set_thickness(4.0)
    model.set_times(0.0, 10.0, 2.5, step=None, opzero=1e-9)
    return model


def test_injected_mass_in_the_budget_is_the_loading(engine, tmp_path):
    model = _model()
    model.add_injection({"NH4": 3.0}, nodes=[(0, 3)], name="well")
    model.set_transport_scheme("tvd")
    model.run(tmp_path / "m", progress=False)
    budget = kova.read_budget(str(tmp_path / "m"))
    sources = budget[(budget.entry == "NH4") & (budget.term == "sources")]
    assert len(sources) == 4
    for row in sources.itertuples():
        loading = 2.0 * 3.0 * (row.time_end - row.time_start)   # rate x c_in x time
        assert row.mass == pytest.approx(loading, rel=1e-12)
    # An entry no table names gets no such term.
    assert budget[(budget.entry == "Cl") & (budget.term == "sources")].empty


@pytest.mark.parametrize("arguments, argument", [
    (dict(concentration={"NH4": 1.0}), "nodes"),
    (dict(concentration={"NH4": 1.0}, nodes=[(0, 3)], rectangle=(0, 3, 0, 3)), "nodes"),
    (dict(concentration={}, nodes=[(0, 3)]), "concentration"),
    (dict(concentration={"NH4": -1.0}, nodes=[(0, 3)]), "concentration['NH4']"),
    (dict(concentration={"NH4": 1.0}, nodes=[(0, 7)]), "col"),
    (dict(concentration={"NH4": 1.0}, rectangle=(0, 4, 0, 3)), "rectangle"),
    (dict(concentration={"NH4": 1.0}, where=np.zeros((1, 7), dtype=bool)), "where"),
    (dict(concentration={"NH4": 1.0}, where=np.ones((7, 1), dtype=bool)), "where"),
])
def test_wrong_injections_are_refused_naming_the_argument(arguments, argument):
    with pytest.raises(ValueError, match=f"^{argument.replace('[', '.').replace(']', '.')}"):
        _model().add_injection(**arguments)


@pytest.mark.parametrize("build, argument, why", [
    (lambda m: m.add_injection({"NO3": 1.0}, nodes=[(0, 3)]), "concentration",
     "names no mobile entry"),
    (lambda m: m.add_injection({"NH4": 1.0}, nodes=[(0, 2)]), "nodes", "not positive"),
    (lambda m: (m.add_injection({"NH4": 1.0}, nodes=[(0, 3)]),
                m.add_injection({"Cl": 1.0}, rectangle=(0, 3, 0, 3))), "nodes",
     "another injection"),
])
def test_injections_checked_before_anything_is_written(build, argument, why, tmp_path):
    model = _model()
    with pytest.raises(ValueError, match=why) as error:
        build(model)
        model.write(tmp_path / "m")
    assert str(error.value).startswith(argument)
    assert not list(tmp_path.iterdir())


def test_held_head_inflow_may_inject_and_round_trips(engine, tmp_path):
    model = _model()
    model.add_injection({"Cl": 0.5}, nodes=[(0, 0), (0, 6)])
    model.write(tmp_path / "m")
    again = kova.Model.read(tmp_path / "m")
    assert [(t.node_list(), t.concentration) for t in again.injections] == [
        ([(0, 0), (0, 6)], {"Cl": 0.5})]


@pytest.mark.parametrize("scheme, warned", [(None, True), ("symmetric", False), ("tvd", False)])
def test_the_engine_warning_of_reverse_flow_reaches_python(scheme, warned, engine, tmp_path):
    # The well's water flows to both ends: half the faces carry it towards
    # the lower index.
    model = _model()
    if scheme:
        model.set_transport_scheme(scheme)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model.check(tmp_path / "m")
    texts = [str(w.message) for w in caught if issubclass(w.category, kova.EngineWarning)]
    if warned:
        assert len(texts) == 1 and texts[0].startswith("3 faces carry water towards the lower")
    else:
        assert texts == []
