"""The run report: what it reads from a run's files and its log, and the page
as a browser shows it (headless Chromium, when installed)."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path
from typing import Dict, List

import numpy as np
import pytest

import kova
from conftest import EXAMPLES, Runs
from kova.errors import KovaFileError
from kova.run_report import (_node_flux, choose_records, default_records, main, parse_log,
                             read_log)

pytest.importorskip("matplotlib")

SECTIONS = ["model", "heads", "maps", "wells", "budget", "water", "log"]
_CHROMIUM = shutil.which("chromium")
needs_browser = pytest.mark.skipif(
    _CHROMIUM is None, reason="no chromium on the PATH (scripts/install-deps.sh installs it)")

_LOG = """Initalizing....
{"status":"Simulating ...","time":1,"start":0,"end":10,"fraction":0.1,"step":0.1,"reduced":0}
kova-compute: warning: 12 faces carry water towards the lower row or column index
Mass budget from 0 to 10 d
kova-compute timings: 2 threads, 10000 nodes, 735 global steps
  (1 of 2 threads: 2 nodes give each further thread too few; --threads 2 forces them)
  read            0.001941 s
  heads           0.067082 s (band solve)
  total           1.016044 s
KOVA Compute Error: the run stopped
detail: node (3, 4): the local step fell below its least
"""


def test_log_is_sorted_into_warnings_timings_and_errors():
    log = parse_log(_LOG.splitlines(), "run.log")
    assert log.warnings == ["12 faces carry water towards the lower row or column index"]
    assert log.timings_heading == "2 threads, 10000 nodes, 735 global steps"
    assert log.timings == [("read", 0.001941, ""), ("heads", 0.067082, "(band solve)"),
                           ("total", 1.016044, "")]
    assert log.timing_notes[0].startswith("(1 of 2 threads")
    assert log.errors == ["KOVA Compute Error: the run stopped",
                          "detail: node (3, 4): the local step fell below its least"]
    assert not any(line.startswith("{") for line in log.lines)
    assert len(log.lines) == len(_LOG.splitlines()) - 1


@pytest.mark.parametrize("count, wanted, expected", [
    (0, 5, []),
    (1, 5, [0]),
    (3, 5, [0, 1, 2]),
    (7, 5, [0, 2, 3, 4, 6]),
    (101, 5, [0, 25, 50, 75, 100]),
    (10, 2, [0, 9]),
])
def test_default_records_spread_from_first_to_last(count, wanted, expected):
    assert default_records(count, wanted) == expected


_TIMES = np.array([0.0, 10.0, 20.5, 30.0, 40.0])


@pytest.mark.parametrize("records, times, expected", [
    (None, None, [0, 1, 2, 3, 4]),
    ([3, 0, 3], None, [0, 3]),
    ([-1, -5], None, [0, 4]),
    (None, [19.0, 22.0, 100.0, -3.0], [0, 2, 4]),
    (None, [25.0], [2]),  # 20.5 is nearer than 30
])
def test_records_are_chosen(records, times, expected):
    assert choose_records(_TIMES, records, times) == expected


@pytest.mark.parametrize("records, times, message", [
    ([5], None, "records: 5 is no record of this run, which has 5 (0 to 4"),
    ([-6], None, "records: -6 is no record"),
    ([1.0], None, "records: 1.0 is not a record number"),
    ([True], None, "records: True is not a record number"),
    (None, [float("nan")], "times: nan is not a finite time"),
    ([0], [0.0], "give one of them, not both"),
])
def test_records_that_are_not_in_the_run_are_refused(records, times, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        choose_records(_TIMES, records, times)


@pytest.mark.parametrize("face, axis, expected", [
    # The face after the last node has no neighbour and is not read.
    ([[1.0, 2.0, 99.0]], 1, [[1.0, 1.5, 2.0]]),
    ([[4.0], [-2.0], [99.0]], 0, [[4.0], [1.0], [-2.0]]),
    ([[5.0, 7.0]], 0, [[0.0, 0.0]]),
])
def test_node_flux_is_the_mean_of_the_faces_beside_the_node(face, axis, expected):
    assert _node_flux(np.array(face), axis).tolist() == expected


def _aged(path: Path, seconds: float) -> None:
    when = path.stat().st_mtime - seconds
    os.utime(path, (when, when))


@pytest.mark.parametrize("age, given, used, note", [
    (0, False, True, None),
    (100, False, False, "earlier run and is left out"),
    (100, True, True, "may be an earlier run's"),
])
def test_a_log_older_than_the_results_is_not_taken_for_theirs(tmp_path, age, given, used,
                                                              note):
    path = tmp_path / "run.log"
    path.write_text(_LOG)
    _aged(path, age)
    log = read_log(str(path), path.stat().st_mtime + age, given)
    assert bool(log.timings) == used
    assert (log.note is None) if note is None else (note in log.note)


def test_a_log_given_must_exist_one_looked_for_need_not(tmp_path):
    missing = str(tmp_path / "none.log")
    with pytest.raises(KovaFileError, match="none.log: the log file does not exist"):
        read_log(missing, None, given=True)
    assert "does not exist" in read_log(missing, None, given=False).note


# -- reports of real runs --------------------------------------------------------------


def _sections(page: str) -> Dict[str, str]:
    found = dict(re.findall(r'<section id="(\w+)">(.*?)</section>', page, flags=re.S))
    assert list(found) == SECTIONS
    return found


def test_report_of_a_run_holds_every_part(runs: Runs, tmp_path: Path,
                                          monkeypatch: pytest.MonkeyPatch, engine: Path):
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    base = runs.copy("plume", tmp_path)
    path = kova.report(base, records=[0, -1])
    assert path == f"{base}.report.html"
    page = Path(path).read_text()
    parts = _sections(page)
    assert "grid:" in parts["model"] and "observation wells: 2" in parts["model"]
    assert "Records 0 (t = 0 d), 6 (t = 60.05 d) of 7" in parts["maps"]
    assert "tracer (mg/L)" in parts["maps"]
    assert "MW1" in page and "well" in parts["wells"]
    assert "sinks, whole run" in parts["budget"] and "m³/d" in parts["water"]
    # No log beside the base: the check's warning, and how to keep the rest.
    assert "faces carry water towards the lower" in parts["log"]
    assert "kova-report --run plume" in parts["log"]
    assert len(re.findall(r'<img src="data:image/png;base64,', page)) == 5
    assert not re.search(r'(src|href)="(https?:)?//', page)


def test_report_runs_the_model_and_keeps_its_log(tmp_path: Path,
                                                 monkeypatch: pytest.MonkeyPatch, engine: Path):
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    base = tmp_path / "two_nodes"
    for suffix in (".kvi", ".kvx"):
        shutil.copy(EXAMPLES / ("two_nodes" + suffix), tmp_path)
    kova.report(base, run=True, progress=False)
    log = (tmp_path / "two_nodes.log").read_text()
    assert "kova-compute timings: 1 thread, 2 nodes" in log and '"status"' not in log
    parts = _sections((tmp_path / "two_nodes.report.html").read_text())
    assert "wall time (s)" in parts["log"] and "heads (band solve)" in parts["log"]
    assert "The whole log" in parts["log"]


@pytest.mark.parametrize("arguments, message", [
    (["--records", "99"], "records: 99 is no record of this run, which has 11"),
    (["--entries", "tracer,salt"], "entries: 'salt' is not an immobile or mobile entry"),
    (["--log", "absent.log"], "absent.log: the log file does not exist"),
])
def test_command_refuses_what_is_not_in_the_run(runs: Runs, tmp_path: Path, capsys,
                                                arguments: List[str], message: str):
    base = runs.copy("two_nodes", tmp_path)
    assert main([str(base)] + [a.replace("absent", str(tmp_path / "absent"))
                               for a in arguments]) == 1
    assert message in capsys.readouterr().err
    assert not (tmp_path / "two_nodes.report.html").exists()


def test_command_says_the_engines_warnings_as_a_command(runs: Runs, tmp_path: Path, capsys):
    # The plume's water flows against the index order: its run warns.
    base = runs.copy("plume", tmp_path)
    assert main([str(base), "--run", "--records", "0"]) == 0
    err = capsys.readouterr().err.splitlines()
    assert err and all(line.startswith("kova-report: warning: ") for line in err), err
    assert "faces carry water towards the lower" in err[0]


def test_command_refuses_a_base_without_a_model(tmp_path: Path, capsys):
    assert main([str(tmp_path / "nothing")]) == 1
    assert "nothing.kvi: the model file does not exist" in capsys.readouterr().err


# -- in the browser ----------------------------------------------------------------------


def _browse(page: Path, tmp_path: Path, screenshot: bool = False) -> dict:
    """The DOM Chromium built, its console messages and the screenshot's colours."""
    common = [_CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
              "--enable-logging=stderr", "--v=0", f"--user-data-dir={tmp_path / 'profile'}"]
    dump = subprocess.run(common + ["--dump-dom", page.as_uri()], capture_output=True,
                          text=True, timeout=120)
    assert dump.returncode == 0, dump.stderr[-2000:]
    seen = {"dom": dump.stdout,
            "console": [line for line in dump.stderr.splitlines()
                        if ":CONSOLE" in line or "Uncaught" in line]}
    if screenshot:
        import matplotlib.image

        picture = tmp_path / "screen.png"
        shot = subprocess.run(common + [f"--screenshot={picture}", "--window-size=1200,2400",
                                        page.as_uri()], capture_output=True, text=True,
                              timeout=120)
        assert shot.returncode == 0, shot.stderr[-2000:]
        pixels = matplotlib.image.imread(str(picture))[..., :3].reshape(-1, 3)
        seen["colours"] = len(np.unique((pixels * 255).astype(np.uint8), axis=0))
    return seen


def _rendered(seen: dict) -> List[str]:
    """What is wrong with the page as the browser showed it; empty when nothing."""
    dom, wrong = seen["dom"], []
    for key in SECTIONS:
        if f'<section id="{key}">' not in dom:
            wrong.append(f"no section {key}")
    images = re.findall(r'<img [^>]*>', dom)
    wrong += [f"picture not shown: {tag[-80:]}" for tag in images
              if 'data-loaded="yes"' not in tag]
    if f'data-images-shown="{len(images)} of {len(images)}"' not in dom:
        wrong.append("the page's script did not count every picture shown")
    if not re.search(r'<p id="problems" class="problem" hidden="?"?>', dom):
        wrong.append("the page lists problems")
    wrong += seen["console"]
    return wrong


@needs_browser
@pytest.mark.parametrize("broken", [None, "image", "script"])
def test_the_browser_shows_every_section_and_picture(runs: Runs, tmp_path: Path,
                                                     monkeypatch: pytest.MonkeyPatch,
                                                     engine: Path, broken):
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    base = runs.copy("plume", tmp_path)
    page = Path(kova.report(base))
    if broken == "image":  # the check must see a picture that does not decode
        text = page.read_text()
        page.write_text(text.replace("base64,iVBOR", "base64,AAAA", 1))
    elif broken == "script":
        page.write_text(page.read_text().replace("</body>", "<script>nothing()</script></body>"))
    seen = _browse(page, tmp_path, screenshot=broken is None)
    wrong = _rendered(seen)
    if broken is None:
        assert wrong == []
        assert seen["colours"] > 200, "the screenshot is nearly blank"
    else:
        assert wrong, f"a broken {broken} went unseen"


@needs_browser
@pytest.mark.parametrize("example", sorted(p.stem for p in EXAMPLES.glob("*.kvi")))
def test_report_of_every_example_renders(runs: Runs, tmp_path: Path,
                                         monkeypatch: pytest.MonkeyPatch, engine: Path,
                                         example: str):
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    base = runs.copy(example, tmp_path)
    page = Path(kova.report(base))
    assert _rendered(_browse(page, tmp_path)) == []
