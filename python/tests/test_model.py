"""Models built in Python, written, read back and read by the engine."""

from __future__ import annotations

import os
import resource
import shutil
import stat
import subprocess
from contextlib import contextmanager
from pathlib import Path
from typing import Iterator

import numpy as np
import pytest

import kova
from conftest import EXAMPLES, masked_check, same_bits
from kova.model import cell_widths
from kova.extension_file import read_extension
from kova.model_file import read_model_file


def engine_check(engine: Path, base: Path) -> str:
    """What the engine understood (:func:`conftest.masked_check`)."""
    result = subprocess.run([str(engine), "--check", str(base)], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return masked_check(result.stdout)


def _plain(model: kova.Model) -> None:
    model.set("porosity", 0.25)


def _mixed(model: kova.Model) -> None:
    rows, cols = model.shape
    model.add_immobile("biomass", units="mg/L")
    model.add_mobile("benzene", "mg/L", alpha_l=2.0, alpha_t=0.2, diffusion=1e-4)
    model.add_mobile("O2", alpha_l=2.0, alpha_t=0.2)
    model.set("porosity", np.linspace(0.2, 0.35, rows * cols).reshape(rows, cols))
    model.set("k_row", 10.0)
    model.set("k_col", 1.0 / 3.0)
    model.set("benzene", -0.0)
    model.set("O2", 8.0, where=np.arange(rows * cols).reshape(rows, cols) % 3 == 0)
    left = np.zeros((rows, cols), dtype=bool)
    left[:, 0] = True
    model.fix_heads(left, 12.5)
    model.fix_heads(np.flip(left, axis=1), np.full((rows, cols), 0.1))
    model.add_well(rows - 1, cols // 2, -3.0)
    model.add_well(rows - 1, cols // 2, 1.0)
    model.set_times(0.0, 30.0, 7.5, step=None, opzero=1e-9)
    model.set_units("m", "d", "g")
    model.set_thickness(4.0)
    model.add_observation("MW1", row=0, col=1, entries=["O2", "head", "biomass"])
    model.add_observation("MW2", x=model.col_coords[-1], y=model.row_coords[0])


BUILT = [
    ("one node", dict(rows=1, cols=1), _plain),
    ("spacings", dict(rows=3, cols=4, dx=2.5, dy=0.1), _mixed),
    ("uneven coordinates", dict(row_coords=[0.0, 1.0, 3.0, 7.0], col_coords=[-1.0, 0.3, 2.0]),
     _mixed),
]


@pytest.mark.parametrize("label, grid, build", BUILT, ids=[b[0] for b in BUILT])
def test_built_model_reads_back_to_the_same_numbers(label, grid, build, engine, tmp_path):
    model = kova.Model(**grid)
    build(model)
    model.write(tmp_path / "a")
    contents = read_model_file(str(tmp_path / "a.kvi"))
    assert same_bits(contents.state, model.state())
    assert np.array_equal(contents.fixed, model.fixed)
    again = kova.Model.read(tmp_path / "a")
    assert same_bits(again.state(), model.state())
    again.write(tmp_path / "b")
    assert engine_check(engine, tmp_path / "a") == engine_check(engine, tmp_path / "b")
    assert (tmp_path / "a.kvx").exists() == (label != "one node")


@pytest.mark.parametrize("example", ["plume", "two_nodes"])
def test_shipped_example_rewritten_reads_the_same(example, engine, tmp_path):
    for path in EXAMPLES.glob(example + ".kv?"):
        shutil.copy(path, tmp_path)
    kova.Model.read(tmp_path / example).write(tmp_path / "again")
    assert engine_check(engine, tmp_path / example) == engine_check(engine, tmp_path / "again")
    assert same_bits(read_model_file(str(tmp_path / example) + ".kvi").state,
                     read_model_file(str(tmp_path / "again.kvi")).state)


def test_model_with_reactions_reads_them_by_name():
    model = kova.Model.read(EXAMPLES / "column")
    assert model.reactions == [kova.LinearAssignment(target="tracer", constant=1.0)]
    assert model.reaction_sets == [kova.ReactionSet(), kova.ReactionSet(equilibrium=(0,))]
    assert model.node_reaction_sets()[0, :3].tolist() == [1, 0, 0]


@pytest.mark.parametrize("coords, widths", [
    ([5.0], [1.0]),
    ([0.0, 4.0], [4.0, 4.0]),
    ([0.0, 1.0, 3.0, 7.0], [1.0, 1.5, 3.0, 4.0]),
])
def test_cell_widths_follow_the_engine(coords, widths):
    assert cell_widths(np.array(coords)).tolist() == widths


@pytest.mark.parametrize("row, col, thickness, expected", [
    (0, 0, None, -2.0 / (0.25 * 1.0 * 2.0)),        # corner: full widths 1 and 2
    (1, 1, 2.0, -2.0 / (0.25 * 1.5 * 3.0 * 2.0)),   # inner: half the neighbours' distance
    (3, 2, 0.5, -2.0 / (0.25 * 4.0 * 4.0 * 0.5)),   # last row and column
])
def test_well_rate_becomes_a_rate_per_pore_volume(row, col, thickness, expected):
    model = kova.Model(row_coords=[0.0, 1.0, 3.0, 7.0], col_coords=[0.0, 2.0, 6.0])
    model.set("porosity", 0.25)
    model.set("source", 0.5)
    model.set_thickness(thickness)
    model.add_well(row, col, -2.0)
    source = model.state()[:, :, 1]
    assert source[row, col] == pytest.approx(0.5 + expected, rel=1e-15)
    others = np.ones(model.shape, dtype=bool)
    others[row, col] = False
    assert np.all(source[others] == 0.5)


def test_most_common_value_is_the_default_and_the_rest_overrides(tmp_path):
    model = kova.Model(rows=2, cols=3)
    model.set("porosity", [[0.3, 0.3, 0.2], [0.3, 0.1, 0.3]])
    model.add_mobile("a")
    model.set("a", [[0.0, -0.0, -0.0], [-0.0, 1.0, 0.0]])
    lines = model.model_text().splitlines()
    assert lines[5] == "0.0 0.0 0.3 0.0 0.0 0.0 0.0 -0.0"
    assert lines[6:12] == ["5", "0 0 7 0.0", "0 2 2 0.2", "1 1 2 0.1", "1 1 7 1.0",
                           "1 2 7 0.0"]


def test_extension_file_only_when_something_needs_it(tmp_path):
    model = kova.Model(rows=1, cols=2)
    model.set("porosity", 0.3)
    model.add_mobile("mobile_0")
    (tmp_path / "m.kvx").write_text("[units]\nlength = \"ft\"\n")
    model.write(tmp_path / "m")
    assert not (tmp_path / "m.kvx").exists()
    model.set_units(time="d")
    model.write(tmp_path / "m")
    assert (tmp_path / "m.kvx").read_text() == "[units]\ntime = \"d\"\n"


def _model() -> kova.Model:
    model = kova.Model(rows=2, cols=3)
    model.set("porosity", 0.3)
    model.add_mobile("tracer")
    return model


@contextmanager
def _files_limited_to(size: int) -> Iterator[None]:
    """Writes past size bytes of a file fail (EFBIG), as on a full disk."""
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))


def _big_model_file(_: kova.Model) -> kova.Model:
    big = kova.Model(rows=100, cols=100)
    big.set("porosity", np.random.default_rng(1).uniform(0.1, 0.4, big.shape))
    big.set_units(length="m")
    return big


def _big_extension_file(model: kova.Model) -> kova.Model:
    for k in range(2000):
        model.add_observation(f"well_{k}", row=1, col=2)
    return model


@pytest.mark.parametrize("build, failing", [
    (_big_model_file, ".kvi"),
    (_big_extension_file, ".kvx"),
])
def test_a_write_that_fails_keeps_the_files_there(build, failing, tmp_path):
    base = tmp_path / "m"
    old = _model()
    old.set_units(time="d")
    old.write(base)
    before = {s: Path(f"{base}{s}").read_bytes() for s in (".kvi", ".kvx")}
    new = build(_model())
    with _files_limited_to(32 * 1024), pytest.raises(OSError) as error:
        new.write(base)
    assert {s: Path(f"{base}{s}").read_bytes() for s in (".kvi", ".kvx")} == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.kvi", "m.kvx"]
    assert error.value.filename == f"{base}{failing}"


def test_write_replaces_the_files_rather_than_writing_into_them(tmp_path):
    base = tmp_path / "m"
    model = _model()
    model.set_units(time="d")
    model.write(base)
    files = [Path(f"{base}{s}") for s in (".kvi", ".kvx")]
    for path, mode in zip(files, (0o640, 0o604)):
        path.chmod(mode)
        os.link(path, tmp_path / ("snapshot" + path.suffix))
    before = [path.read_bytes() for path in files]
    model.set("porosity", 0.25)
    model.set_units(time="s")
    model.write(base)
    # A hard-linked snapshot keeps the model it was taken of.
    assert [(tmp_path / ("snapshot" + p.suffix)).read_bytes() for p in files] == before
    assert [p.read_bytes() != b for p, b in zip(files, before)] == [True, True]
    assert [stat.S_IMODE(p.stat().st_mode) for p in files] == [0o640, 0o604]
    assert kova.Model.read(base).get("porosity").tolist() == [[0.25] * 3] * 2
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.kvi", "m.kvx", "snapshot.kvi",
                                                          "snapshot.kvx"]


@pytest.mark.parametrize("action, argument, value", [
    (lambda m: kova.Model(rows=0, cols=3), "rows", "0"),
    (lambda m: kova.Model(rows=2, cols=3, dx=-1.0), "dx", "-1.0"),
    (lambda m: kova.Model(rows=2, cols=3, row_coords=[0, 1]), "rows", "2"),
    (lambda m: kova.Model(row_coords=[0.0, 0.0], col_coords=[1.0]), "row_coords", "[0.0, 0.0]"),
    (lambda m: kova.Model(row_coords=[0.0], col_coords=[1.0, np.nan]), "col_coords", "nan"),
    (lambda m: m.set("porosity", np.ones((3, 2))), "porosity", "shape (3, 2)"),
    (lambda m: m.set("porosity", -0.1), "porosity", "-0.1"),
    (lambda m: m.set("porosity", 30.0), "porosity", "30.0"),      # a percentage
    (lambda m: m.set("porosity", [[0.3, 0.3, 0.3], [0.3, 1.5, 0.3]]), "porosity", "1.5"),
    (lambda m: m.set("k_row", [[1, 1, 1], [1, -2, 1]]), "k_row", "-2.0"),
    (lambda m: m.set("head", np.inf), "head", "inf"),
    (lambda m: m.set("flux_row", 1.0), "name", "'flux_row'"),
    (lambda m: m.set("benzene", 1.0), "name", "'benzene'"),
    (lambda m: m.set("head", 1.0, where=np.ones((2, 3))), "where", "float64"),
    (lambda m: m.add_mobile("ben zene"), "name", "'ben zene'"),
    (lambda m: m.add_immobile("tracer"), "name", "'tracer'"),
    (lambda m: m.add_immobile("porosity"), "name", "'porosity'"),
    (lambda m: m.add_mobile("x" * 65), "name", "'xxx"),
    (lambda m: m.add_mobile("b", alpha_t=-1.0), "alpha_t", "-1.0"),
    (lambda m: m.add_mobile("b", units="mg,L"), "units", "'mg,L'"),
    (lambda m: m.add_well(2, 0, -1.0), "row", "2"),
    (lambda m: m.add_well(0, -1, -1.0), "col", "-1"),
    (lambda m: m.add_well(0, 0, float("nan")), "rate", "nan"),
    (lambda m: m.fix_heads(np.ones((2, 2), dtype=bool)), "mask", "shape (2, 2)"),
    (lambda m: m.set_times(10.0, 5.0, 1.0), "end", "5.0"),
    (lambda m: m.set_times(0.0, 5.0, 0.0), "output_interval", "0.0"),
    (lambda m: m.set_times(0.0, 5.0, 1.0, step=-0.1), "step", "-0.1"),
    (lambda m: m.set_times(0.0, 5.0, 1.0, opzero=0), "opzero", "0"),
    (lambda m: m.set_thickness(0.0), "thickness", "0.0"),
    (lambda m: m.set_units(mass='g"'), "mass", "'g\"'"),
    (lambda m: m.set_transport_scheme("upwind"), "scheme", "'upwind'"),
    (lambda m: m.set_transport_time("Implicit"), "time", "'Implicit'"),
    (lambda m: m.add_observation("w", row=0), "row", "0"),
    (lambda m: m.add_observation("w", x=0.0, y=1.6), "y", "1.6"),
    (lambda m: m.add_observation("time", row=0, col=0), "name", "'time'"),
    (lambda m: (m.add_observation("w", row=0, col=0), m.add_observation("w", row=1, col=1)),
     "name", "'w'"),
])
def test_wrong_arguments_are_refused_naming_argument_and_value(action, argument, value):
    with pytest.raises(ValueError) as error:
        action(_model())
    assert str(error.value).startswith(f"{argument}=")
    assert value in str(error.value).split(":", 1)[0]


@pytest.mark.parametrize("change, argument", [
    (lambda m: m.add_immobile("late"), None),                       # porosity set before
    (lambda m: (m.fix_heads(np.ones((2, 3), dtype=bool)), m.add_well(1, 1, 2.0)), "add_well"),
    (lambda m: m.add_observation("w", row=0, col=0, entries=["nope"]), "entries"),
])
def test_whole_model_checked_before_any_file_is_written(change, argument, tmp_path):
    model = _model()
    change(model)
    if argument is None:
        model.write(tmp_path / "m")
        return
    with pytest.raises(ValueError, match=f"^{argument}="):
        model.write(tmp_path / "m")
    assert list(tmp_path.iterdir()) == []


def test_only_the_nodes_set_are_checked():
    model = _model()
    left = np.array([[True, False, False]] * 2)
    model.set("porosity", np.where(left, 0.1, -1.0), where=left)
    assert model.get("porosity").tolist() == [[0.1, 0.3, 0.3]] * 2
    with pytest.raises(ValueError, match=r"^porosity=-1.0: must be above 0 \(node \(0, 1\)\)"):
        model.set("porosity", np.where(left, 0.1, -1.0), where=~left)


def test_porosity_must_be_set_before_writing(tmp_path):
    model = kova.Model(rows=1, cols=2)
    with pytest.raises(ValueError, match=r"^porosity=None: not set at node \(0, 0\)"):
        model.write(tmp_path / "m")
    assert list(tmp_path.iterdir()) == []


def test_scheme_and_injections_of_the_extension_file_kept(engine, tmp_path):
    for path in EXAMPLES.glob("decay_chain.kv?"):
        shutil.copy(path, tmp_path)
    base = tmp_path / "decay_chain"
    with open(str(base) + ".kvx", "a") as handle:
        handle.write('\n[transport]\nscheme = "tvd"\ntime = "implicit"\n')
    model = kova.Model.read(base)
    assert model.transport_scheme == "tvd"
    assert model.transport_time == "implicit"
    model.write(tmp_path / "again")
    understood = engine_check(engine, tmp_path / "again")
    assert "transport scheme: tvd\n  transport time: implicit\n" in understood
    assert understood == engine_check(engine, base)
    # Injected water: the tables kept as read, the nodes given the positive
    # sources they need.
    with open(str(base) + ".kvx", "a") as handle:
        handle.write('\n[[inject]]\nname = "pond"\nrectangle = [2, 3, 4, 5]\n'
                     'concentration = { TCE = 1.5, VC = 0.0 }\n\n'
                     '[[inject]]\nnodes = [[0, 1], [7, 8]]\nconcentration = { cDCE = 2e-05 }\n')
    model = kova.Model.read(base)
    fed = np.zeros(model.shape, dtype=bool)
    fed[2:5, 3:6] = True
    fed[0, 1] = fed[7, 8] = True
    model.set("source", 1e-3, where=fed)
    model.write(tmp_path / "again")
    assert "inject" in engine_check(engine, tmp_path / "again")
    args = (0, 3, np.arange(29.0), np.arange(61.0))
    assert (read_extension(str(tmp_path / "again.kvx"), *args).inject ==
            read_extension(str(base) + ".kvx", *args).inject)
