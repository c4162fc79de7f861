"""Model.check and Model.run against the engine, and what the engine reports."""

from __future__ import annotations

import gc
import os
import re
import signal
import subprocess
import sys
import time
import warnings
from pathlib import Path
from typing import Callable, Iterator, Optional, Tuple

import numpy as np
import pytest

import kova
from conftest import REPO
from kova import engine as engine_module
from kova.base_lock import _flock_holder
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


# Where run() without a base runs: in a temporary folder (the results loaded,
# the folder removed) for a model never read or written, else where it was
# last read from or written to. Each case gives the bits of a run into a
# given base, and no file or pipe is left open.
@pytest.mark.parametrize("placed", ["nowhere", "written", "read"])
def test_run_without_a_base(placed, tmp_path, monkeypatch):
    scratch = tmp_path / "scratch"
    scratch.mkdir()
    monkeypatch.setattr("tempfile.tempdir", str(scratch))
    model = _fixed(_flow())
    reference = model.run(tmp_path / "given", progress=False)
    own = tmp_path / "own"
    if placed != "nowhere":
        model.write(own)
    if placed == "read":
        model = kova.Model.read(own)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ResourceWarning)
        ds = model.run(progress=False)
        gc.collect()
    assert not [w for w in caught if issubclass(w.category, ResourceWarning)]
    assert ds["tracer"].values.tolist() == reference["tracer"].values.tolist()
    assert list(scratch.iterdir()) == []
    assert (own.parent / "own.kvo").exists() == (placed != "nowhere")


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


# A run that ends, well or with the engine's error, closes its pipes and
# waits for the engine.
@pytest.mark.parametrize("build, failure", [
    (lambda: _fixed(_flow()), None),
    (_flow, kova.RunError),
])
def test_run_leaves_no_pipe_open_and_sigterm_as_it_was(build, failure, tmp_path):
    before = signal.getsignal(signal.SIGTERM)
    model = build()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ResourceWarning)
        if failure is None:
            model.run(tmp_path / "r", progress=False)
        else:
            with pytest.raises(failure):
                model.run(tmp_path / "r", progress=False)
        gc.collect()
    assert [str(w.message) for w in caught if issubclass(w.category, ResourceWarning)] == []
    assert signal.getsignal(signal.SIGTERM) is before


def _endless(base: Path) -> None:
    """A model whose run goes on far longer than any test, writing little."""
    model = kova.Model(rows=40, cols=40)
    model.set("porosity", 0.3)
    model.set("k_row", 1.0)
    model.set("k_col", 1.0)
    model.add_mobile("tracer", alpha_l=1.0)
    column = np.indices(model.shape)[1]
    model.set("tracer", 1.0, where=column == 1)
    model.fix_heads(column == 0, 20.0)
    model.fix_heads(column == model.shape[1] - 1, 0.0)
    model.set_times(0.0, 1e12, 1e11)
    model.write(base)


def _holder(base: Path) -> Optional[int]:
    """The process holding the base's lock, read without taking it."""
    return _flock_holder(os.stat(f"{base}.kvi"))


def _wait_for_holder(base: Path, accept: Callable[[int], bool]) -> int:
    deadline = time.monotonic() + 30.0
    while time.monotonic() < deadline:
        holder = _holder(base)
        if holder is not None and accept(holder):
            return holder
        time.sleep(0.02)
    raise AssertionError(f"no run took the lock of {base}.kvi")


def _alive(pid: int) -> bool:
    try:
        with open(f"/proc/{pid}/stat") as handle:
            return handle.read().rpartition(")")[2].split()[0] != "Z"
    except FileNotFoundError:
        return False


@pytest.fixture(scope="module")
def held(engine: Path, tmp_path_factory: pytest.TempPathFactory) -> Iterator[Tuple[Path, int]]:
    """A base that a run of the engine holds, and the run's process."""
    base = tmp_path_factory.mktemp("held") / "m"
    _endless(base)
    run = subprocess.Popen([str(engine), "--no-progress", "--threads", "1", str(base)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        yield base, _wait_for_holder(base, lambda pid: pid == run.pid)
    finally:
        run.terminate()
        run.wait(timeout=30)


@pytest.mark.parametrize("action", [
    lambda model, base: model.write(base),
    lambda model, base: model.check(base),
    lambda model, base: model.run(base, progress=False),
], ids=["write", "check", "run"])
def test_a_base_a_run_holds_is_left_as_it_was(action, held):
    base, holder = held
    files = [Path(f"{base}{suffix}") for suffix in (".kvi", ".kvx")]
    before = [path.read_bytes() for path in files]
    with pytest.raises(kova.BaseLockedError) as error:
        action(_fixed(_flow()), base)
    assert [path.read_bytes() for path in files] == before
    # no temporary left behind (the run's own lock file stays, as runs leave it)
    assert [p.name for p in base.parent.iterdir()
            if p.name.startswith(".") and not p.name.endswith(".lock")] == []
    assert (error.value.base, error.value.holder, error.value.failure) == (
        str(base), holder, "Input Error")
    assert error.value.detail == (f"the model file {base}.kvi is locked by another run "
                                  f"(process {holder}): one run per base at a time")
    assert isinstance(error.value, kova.RunError)


_RUN_SCRIPT = """
import signal, sys
sys.path.insert(0, {python!r})
import kova
{handler}
kova.Model.read({base!r}).run({base!r}, threads=1, progress=False)
"""


@pytest.mark.parametrize("handler, returncode", [
    ("", -signal.SIGTERM),                  # ended by the signal, as without a run
    ("signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(7))", 7),
], ids=["default", "handler"])
def test_sigterm_during_a_run_ends_the_engine_too(handler, returncode, engine, tmp_path):
    base = tmp_path / "m"
    _endless(base)
    script = _RUN_SCRIPT.format(python=str(REPO / "python"), handler=handler, base=str(base))
    python = subprocess.Popen([sys.executable, "-c", script],
                              env=dict(os.environ, KOVA_COMPUTE=str(engine)),
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    run = None
    try:
        run = _wait_for_holder(base, lambda pid: pid != python.pid)
        python.send_signal(signal.SIGTERM)
        assert python.wait(timeout=30) == returncode, python.stderr.read()
        assert not _alive(run)
        assert _holder(base) is None
    finally:
        python.kill()
        python.wait()
        python.stderr.close()
        if run is not None and _alive(run):
            os.kill(run, signal.SIGKILL)
