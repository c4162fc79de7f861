"""Runs that go on from their checkpoint: killed, cancelled or finished and extended.

Each case compares every result file of the continued run, byte for byte,
with a run that was never stopped.
"""

from __future__ import annotations

import random
import shutil
import signal
import struct
import subprocess
import time
from pathlib import Path
from typing import Dict, List, Optional

import pytest

from conftest import EXAMPLES

RESULTS = (".kvo", ".kvt", ".budget.csv", ".obs.csv", ".water.csv")
KILLS = 20


def _model(directory: Path, example: str, extra: str = "", end: Optional[float] = None) -> Path:
    """A copy of an example's model files, its extension file lengthened by extra
    and its end time replaced by end."""
    directory.mkdir(parents=True, exist_ok=True)
    for path in EXAMPLES.glob(example + ".kv?"):
        shutil.copy(path, directory)
    base = directory / example
    if extra:
        with open(base.with_suffix(".kvx"), "a") as kvx:
            kvx.write("\n" + extra + "\n")
    if end is not None:
        lines = base.with_suffix(".kvi").read_text().split("\n")
        times = lines[1].split()
        times[1] = repr(end)
        lines[1] = " ".join(times)
        base.with_suffix(".kvi").write_text("\n".join(lines))
    return base


def _run(engine: Path, base: Path, *options: str, code: int = 0) -> str:
    result = subprocess.run([str(engine), "--no-progress", *options, str(base)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == code, result.stderr
    return result.stderr


def _results(base: Path) -> Dict[str, bytes]:
    return {suffix: Path(str(base) + suffix).read_bytes() for suffix in RESULTS
            if Path(str(base) + suffix).exists()}


def _same_results(base: Path, reference: Dict[str, bytes], what: str) -> None:
    got = _results(base)
    assert sorted(got) == sorted(reference), what
    for suffix, data in reference.items():
        assert got[suffix] == data, f"{what}: {base.name}{suffix} differs"


# The plume (explicit, observation wells), a kinetic model whose nodes take
# reduced local steps, and the same with the implicit transport (its learnt
# reaction rate carried across the stop).
CASES = {
    "explicit": ("plume", ""),
    "kinetic": ("hydrocarbon_plume", ""),
    "implicit": ("hydrocarbon_plume", '[transport]\ntime = "implicit"'),
    "exact times": ("hydrocarbon_plume",
                    '[transport]\ntime = "implicit"\n[output]\ntimes = [1.5, 60, 100, 200]'),
}


@pytest.fixture(scope="module")
def references(engine: Path, tmp_path_factory: pytest.TempPathFactory):
    """Each case run once without a stop: its results and wall time."""
    done = {}
    for name, (example, extra) in CASES.items():
        base = _model(tmp_path_factory.mktemp(name), example, extra)
        start = time.monotonic()
        _run(engine, base)
        done[name] = (_results(base), time.monotonic() - start)
    return done


@pytest.mark.parametrize("case", sorted(CASES))
def test_a_run_killed_anywhere_goes_on_to_the_same_bytes(case, engine, references, tmp_path):
    """SIGKILL at random instants (reading, heads, steps, records, checkpoints),
    then --continue: every file equals the run never stopped."""
    example, extra = CASES[case]
    reference, seconds = references[case]
    chance = random.Random(f"kill {case}")
    checkpointed = 0
    for k in range(KILLS):
        base = _model(tmp_path / str(k), example, extra)
        process = subprocess.Popen([str(engine), "--no-progress", str(base)],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(chance.uniform(0.0, 1.1 * seconds))
        process.send_signal(signal.SIGKILL)
        process.wait()
        checkpointed += Path(str(base) + ".kvr").exists()
        threads = ("--threads", "2") if k % 2 else ()
        _run(engine, base, "--continue", *threads)
        _same_results(base, reference, f"killed at instant {k}")
    assert checkpointed > 0, "no kill came after a checkpoint: the runs end too soon"


def test_a_cancelled_run_goes_on_without_its_cancel_record(engine, references, tmp_path):
    reference, seconds = references["kinetic"]
    base = _model(tmp_path, *CASES["kinetic"])
    process = subprocess.Popen([str(engine), "--no-progress", str(base)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    time.sleep(0.5 * seconds)
    process.send_signal(signal.SIGINT)
    process.communicate(timeout=300)
    _run(engine, base, "--continue")
    _same_results(base, reference, "after a cancel")


def test_a_continued_run_continues_again(engine, references, tmp_path):
    """A finished run goes on from its last checkpoint to the same files."""
    reference, _ = references["explicit"]
    base = _model(tmp_path, *CASES["explicit"])
    _run(engine, base)
    for _ in range(2):
        _run(engine, base, "--continue")
        _same_results(base, reference, "a finished run continued")


@pytest.mark.parametrize("case, end, until", [
    ("explicit", 30.0, 60.0),
    ("kinetic", 100.0, 250.0),
])
def test_a_finished_run_extended_equals_one_run_to_the_later_end(case, end, until, engine,
                                                                 tmp_path):
    example, extra = CASES[case]
    longer = _model(tmp_path / "longer", example, extra, end=until)
    _run(engine, longer)
    base = _model(tmp_path / "short", example, extra, end=end)
    _run(engine, base)
    assert _results(base)[".kvo"] != _results(longer)[".kvo"]
    _run(engine, base, "--continue", "--until", repr(until))
    _same_results(base, _results(longer), f"extended from {end} to {until}")


def test_every_n_records_goes_on_from_an_earlier_checkpoint(engine, references, tmp_path):
    reference, _ = references["explicit"]
    base = _model(tmp_path, "plume", '[output]\ncheckpoint = "every 4 records"')
    # The extension file is part of the model: the reference is its own run.
    _run(engine, base)
    reference = _results(base)
    checkpoint = Path(str(base) + ".kvr")
    for path in list(base.parent.iterdir()):
        if path.name.endswith(RESULTS) or path == checkpoint:
            path.unlink()
    process = subprocess.Popen([str(engine), "--no-progress", str(base)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not checkpoint.exists() and process.poll() is None:
        time.sleep(0.005)
    process.send_signal(signal.SIGKILL)
    process.wait()
    _run(engine, base, "--continue")
    _same_results(base, reference, "every 4 records")


def test_no_checkpoint_none_written(engine, tmp_path):
    base = _model(tmp_path, "two_nodes", '[output]\ncheckpoint = "none"')
    _run(engine, base)
    assert not Path(str(base) + ".kvr").exists()
    stderr = _run(engine, base, "--continue")
    assert "there is no checkpoint" in stderr and "starts at the beginning" in stderr


def _damage_checkpoint(base: Path) -> None:
    path = Path(str(base) + ".kvr")
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0x10
    path.write_bytes(bytes(data))


def _cut_checkpoint(base: Path) -> None:
    path = Path(str(base) + ".kvr")
    path.write_bytes(path.read_bytes()[:-9])


def _change_model(base: Path) -> None:
    with open(base.with_suffix(".kvi"), "a") as kvi:
        kvi.write("\n")


def _change_extension(base: Path) -> None:
    with open(base.with_suffix(".kvx"), "a") as kvx:
        kvx.write("\n# changed\n")


def _remove_extension(base: Path) -> None:
    base.with_suffix(".kvx").unlink()


def _shorten_records(base: Path) -> None:
    path = Path(str(base) + ".kvo")
    path.write_bytes(path.read_bytes()[:100])


@pytest.mark.parametrize("change, options, message", [
    (_damage_checkpoint, (), "it is damaged"),
    (_cut_checkpoint, (), "it is damaged"),
    (_change_model, (), "the model file"),
    (_change_extension, (), "has changed since"),
    (_remove_extension, (), "is gone"),
    (_shorten_records, (), "it was changed since"),
    (None, ("--no-budget",), "which this run (--no-budget) does not"),
])
def test_a_checkpoint_that_does_not_fit_is_refused_and_the_results_kept(
        change, options, message, engine, tmp_path):
    base = _model(tmp_path, "two_nodes")
    _run(engine, base)
    if change:
        change(base)
    before = _results(base)
    stderr = _run(engine, base, "--continue", *options, code=1)
    assert message in stderr
    assert _results(base) == before


@pytest.mark.parametrize("options, message", [
    (("--until", "90"), "--until goes with --continue"),
    (("--continue", "--until", "soon"), "--until needs a time"),
    (("--continue", "--check"), "--check reads a model and runs nothing"),
])
def test_continue_options_refused(options, message, engine, tmp_path):
    base = _model(tmp_path, "two_nodes")
    stderr = _run(engine, base, *options, code=2)
    assert message in stderr


@pytest.mark.parametrize("checkpoint, message", [
    ('"every 0 records"', "output.checkpoint"),
    ('"every second"', "output.checkpoint"),
    ("3", "output.checkpoint"),
])
def test_a_checkpoint_key_that_says_nothing_sound_is_refused(checkpoint, message, engine,
                                                             tmp_path):
    base = _model(tmp_path, "two_nodes", f"[output]\ncheckpoint = {checkpoint}")
    stderr = _run(engine, base, code=1)
    assert message in stderr


def test_the_package_goes_on_with_a_run_and_keeps_the_checkpoint_choice(
        engine, tmp_path, monkeypatch):
    import kova

    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    base = _model(tmp_path / "short", "plume", end=30.0)
    model = kova.Model.read(str(base))
    assert model.checkpoint == "every record"
    model.set_checkpoint("every 2 records")
    model.write(str(base))
    assert kova.Model.read(str(base)).checkpoint == "every 2 records"
    with pytest.raises(ValueError, match="every N records"):
        model.set_checkpoint("hourly")
    model.run(str(base), progress=False)
    results = kova.continue_run(str(base), until=60.0, progress=False)
    assert 60.0 <= float(results.time[-1]) < 60.1
    longer = kova.Model.read(str(base))
    longer.end_time = 60.0
    (tmp_path / "longer").mkdir()
    longer.run(str(tmp_path / "longer" / "plume"), progress=False)
    _same_results(base, _results(tmp_path / "longer" / "plume"), "continued from Python")


def _record_times(base: Path) -> List[float]:
    data = Path(str(base) + ".kvt").read_bytes()
    count = struct.unpack("<i", data[:4])[0]
    return list(struct.unpack(f"<{count}d", data[36:36 + 8 * count]))


@pytest.mark.parametrize("example, output, expected", [
    ("plume", "exact = true", [0.0, 10.0, 20.0, 30.0, 40.0, 50.0, 60.0]),
    ("plume", "times = [0.5, 33.3]", [0.0, 0.5, 33.3, 60.0]),
    ("hydrocarbon_plume", "times = [1.5, 60, 250]", [0.0, 1.5, 60.0, 250.0]),
    ("hydrocarbon_plume", "exact = true", [0.0] + [25.0 * k for k in range(1, 11)]),
])
def test_records_land_on_the_times_asked_for(example, output, expected, engine, tmp_path):
    """Every record, budget interval and well row at an output time is at that
    time exactly; the budget still closes."""
    import kova

    base = _model(tmp_path, example, f"[output]\n{output}")
    _run(engine, base)
    assert _record_times(base) == expected
    budget = kova.read_budget(str(base))
    assert sorted(set(budget["time_end"])) == expected[1:]
    wells = Path(str(base) + ".obs.csv").read_text().splitlines()[1:]
    well_times = {float(row.split(",")[0]) for row in wells}
    assert set(expected) <= well_times
    terms = budget[budget["term"] != "discrepancy"]
    largest = terms["mass"].abs().max()
    assert budget[budget["term"] == "discrepancy"]["mass"].abs().max() <= 1e-9 * largest
    # An unfinished run's records are read at the same exact times.
    Path(str(base) + ".kvt").write_bytes(struct.pack("<i", 0))
    with kova.open_results(str(base)) as ds:
        assert list(ds["time"].values) == expected


def test_the_package_writes_and_reads_record_times(tmp_path):
    import kova

    base = _model(tmp_path, "plume")
    model = kova.Model.read(str(base))
    assert (model.exact_records, model.record_times) == (False, None)
    model.set_record_times([0.5, 33.3])
    model.write(str(base))
    back = kova.Model.read(str(base))
    assert (back.exact_records, back.record_times) == (True, [0.5, 33.3])
    back.set_record_times()
    back.write(str(base))
    assert kova.Model.read(str(base)).exact_records
    for times in ([], [0.5, 0.5], [70.0], [0.0]):
        with pytest.raises(ValueError):
            model.set_record_times(times)
