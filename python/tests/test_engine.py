"""Model.check and Model.run against the engine, and what the engine reports."""

from __future__ import annotations

import re
from pathlib import Path

import numpy as np
import pytest

import kova
from kova import engine as engine_module
from kova.engine import engine_error


@pytest.fixture(autouse=True)
def _this_engine(engine: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))


# Lines as the engine writes them on stderr with --progress=json.
@pytest.mark.parametrize("line, expected", [
    ('{"status":"Simulating ...","time":23.7,"start":0,"end":60,"fraction":0.395,'
     '"step":0.0817,"reduced":3}', ("Simulating ...", 23.7, 0.0, 60.0, 0.395, 0.0817, 3)),
    ('{"status":"Done.","time":10.09999999999998,"start":0,"end":10,"fraction":1,"step":0,'
     '"reduced":0}', ("Done.", 10.09999999999998, 0.0, 10.0, 1.0, 0.0, 0)),
    ('{"status":"Computational Error","time":null,"start":0,"end":1e+17,"fraction":null,'
     '"step":0,"reduced":0}', ("Computational Error", None, 0.0, 1e17, None, 0.0, 0)),
    ('{"status":"say \\"a\\\\b\\"\\u0009","time":1,"start":0,"end":2,"fraction":0.5,'
     '"step":0,"reduced":0}', ('say "a\\b"\t', 1.0, 0.0, 2.0, 0.5, 0.0, 0)),
    ("     32 for Coorinates", None),
    ("KOVA Compute Error: ERROR - A kova Compute Exception was caught", None),
    ('{"status":"Done.","time":1,"start":0', None),
    ('{"status":3,"time":1,"start":0,"end":2,"fraction":0.5,"step":0,"reduced":0}', None),
    ('{"status":"Done.","time":"1","start":0,"end":2,"fraction":0.5,"step":0,"reduced":0}',
     None),
    ('{"status":"Done.","time":1,"start":0,"end":2,"fraction":0.5,"step":0}', None),
    ("[1, 2]", None),
])
def test_progress_lines_parsed(line, expected):
    progress = kova.parse_progress(line)
    if expected is None:
        assert progress is None
    else:
        assert (progress.status, progress.time, progress.start, progress.end,
                progress.fraction, progress.step, progress.reduced) == expected


_FAILED_RUN = [
    '{"status":"Initalizing....","time":0,"start":0,"end":0,"fraction":0,"step":0,'
    '"reduced":0}',
    "KOVA Compute Error: ERROR - A kova Compute Exception was caught",
    "detail: Local Timestep reduced below 2^-24 of the global step at node (0, 0)",
    '{"status":"Simulating ...","time":0,"start":0,"end":1,"fraction":0,"step":0,'
    '"reduced":0}',
    '{"status":"Computational Error","time":0,"start":0,"end":1,"fraction":0,"step":0,'
    '"reduced":0}']
_REFUSED_CHECK = [
    "KOVA Compute Error: ERROR - A kova Input Exception was caught",
    "detail: Equilibrium Equaitons must have a positive Keq in reaction record 0 (field 18)",
    "Input Error"]


@pytest.mark.parametrize("lines, code, message, detail, failure", [
    (_FAILED_RUN, 1, "ERROR - A kova Compute Exception was caught",
     "Local Timestep reduced below 2^-24 of the global step at node (0, 0)",
     "Computational Error"),
    (_REFUSED_CHECK, 1, "ERROR - A kova Input Exception was caught",
     "Equilibrium Equaitons must have a positive Keq in reaction record 0 (field 18)",
     "Input Error"),
    (_FAILED_RUN[:1], 130, "the run was cancelled", None, "Cancelled"),
    (["kova-compute: cannot open"], 2, "kova-compute exited with code 2", None, None),
])
def test_engine_reports_taken_apart(lines, code, message, detail, failure):
    error = engine_error(kova.RunError, code, lines)
    assert (error.message, error.detail, error.failure, error.returncode) == (
        message, detail, failure, code)
    assert isinstance(error, kova.EngineError)


def _flow(cols: int = 3) -> kova.Model:
    model = kova.Model(rows=1, cols=cols, dx=10.0)
    model.set("porosity", 0.3)
    model.set("k_row", 1.0)
    model.set("k_col", 1.0)
    model.add_mobile("tracer", alpha_l=1.0)
    model.set("tracer", 1.0, where=np.arange(cols)[None, :] == 0)
    model.set_times(0.0, 4.0, 2.0, step=0.5)
    return model


def _fixed(model: kova.Model) -> kova.Model:
    ends = np.zeros(model.shape, dtype=bool)
    ends[:, [0, -1]] = True
    model.fix_heads(ends, np.where(np.arange(model.shape[1]) == 0, 10.0, 0.0)[None, :])
    return model


def test_run_returns_the_results_and_check_the_summary(tmp_path, capfd):
    model = _fixed(_flow())
    understood = model.check(tmp_path / "c")
    assert "  columns: 3 (column coordinates 0 .. 20)\n" in understood
    assert "  tracer (7): 1, 0, 0\n" in understood
    ds = model.run(tmp_path / "r", threads=1, progress=False)
    assert ds.attrs["finished"] == 1
    assert ds["time"].values.tolist() == [0.0, 2.0, 4.0]
    assert ds["head"].values[-1, 0].tolist() == [10.0, 5.0, 0.0]
    assert ds["tracer"].values[0, 0].tolist() == [1.0, 0.0, 0.0]
    assert ds["tracer"].values[-1, 0, 1] > 0.0
    assert capfd.readouterr().err == ""


def test_plain_progress_without_tqdm(tmp_path, capfd, monkeypatch):
    monkeypatch.setattr(engine_module, "_load_tqdm", lambda: None)
    _fixed(_flow()).run(tmp_path / "r")
    lines = capfd.readouterr().err.splitlines()
    # The engine samples its status, so a short run on a busy machine may be
    # past its first status when the first line is written: every line has
    # the form, the end is always shown.
    assert all(re.fullmatch(r"r: .+ t = [0-9.e+-]+ \(\d+%\)", line) for line in lines), lines
    assert "r: Done. t = 4 (100%)" in lines
    assert lines[-1] == "r: Closing ... t = 4 (100%)"


def test_model_the_engine_refuses_raises_model_error(tmp_path):
    model = kova.Model(row_coords=[0.0], col_coords=[-1e308, 1e308])
    model.set("porosity", 0.3)
    with pytest.raises(kova.ModelError) as error:
        model.check()
    assert error.value.failure == "Input Error"
    assert error.value.detail.startswith("column coordinates (field 13): the distance between "
                                         "index 0 (-1e+308) and index 1 (1e+308) overflows")


@pytest.mark.parametrize("build, failure, detail", [
    (_flow, "Computational Error", "the heads of the 3 coupled nodes from node (0, 0) on are "
     "held by no fixed head"),
    (lambda: kova.Model(row_coords=[0.0], col_coords=[-1e308, 1e308]), "Input Error",
     "column coordinates (field 13)"),
])
def test_run_that_fails_raises_run_error(build, failure, detail, tmp_path):
    model = build()
    model.set("porosity", 0.3)
    with pytest.raises(kova.RunError) as error:
        model.run(tmp_path / "r", progress=False)
    assert error.value.failure == failure
    assert error.value.detail.startswith(detail)
    assert error.value.returncode == 1


@pytest.mark.parametrize("arguments, argument", [
    (dict(threads=0), "threads"),
    (dict(threads=1.5), "threads"),
    (dict(progress="yes"), "progress"),
])
def test_run_arguments_refused_before_anything_is_written(arguments, argument, tmp_path):
    with pytest.raises(ValueError, match=f"^{argument}="):
        _fixed(_flow()).run(tmp_path / "r", **arguments)
    assert list(tmp_path.iterdir()) == []


def test_tqdm_bar_shows_the_last_status(tmp_path, capfd):
    pytest.importorskip("tqdm")
    _fixed(_flow()).run(tmp_path / "r")
    assert "r: Closing ... t = 4 100%|" in capfd.readouterr().err
