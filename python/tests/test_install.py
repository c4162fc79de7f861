"""The package and the engine as a user installs them, each then running the
guide's model (docs/python.md) from an empty folder, away from the source tree:
pip into a venv made with the system's packages, and cmake --install into a
prefix."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import REPO
from test_guide import GUIDE, guide_blocks


def _run_report_command(program: Path, env: dict, folder: Path) -> None:
    """The installed kova-report writes a report of the guide's run."""
    page = folder / "again.html"
    run = subprocess.run([str(program), "--records", "0,-1", "-o", str(page),
                          "nitrification"], cwd=folder, env=env, capture_output=True,
                         text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-3000:]
    assert run.stdout.strip() == str(page)
    text = page.read_text()
    assert '<section id="log">' in text and "Records 0 (t = 0 d)" in text


# The guide, then where kova and the engine were found.
_REPORT = "\nprint('kova:', kova.__file__)\nprint('engine:', kova.engine.find_engine())\n"


def _user_env(path_first: Path, pythonpath: str = "") -> dict:
    """The environment of a user: no KOVA_COMPUTE, the source tree nowhere."""
    env = {k: v for k, v in os.environ.items() if k not in ("KOVA_COMPUTE", "PYTHONPATH")}
    env["PATH"] = str(path_first) + os.pathsep + env.get("PATH", "")
    if pythonpath:
        env["PYTHONPATH"] = pythonpath
    return env


def _run_guide(python: Path, env: dict, folder: Path) -> dict:
    """Runs every block of the guide with python in folder; what it reported."""
    folder.mkdir()
    script = folder / "guide.py"
    script.write_text("".join(code for _, code in guide_blocks(GUIDE.read_text())) + _REPORT)
    run = subprocess.run([str(python), str(script)], cwd=folder, env=env, capture_output=True,
                         text=True, timeout=600)
    assert run.returncode == 0, run.stderr[-3000:]
    assert (folder / "nitrification.kvo").stat().st_size > 0
    assert (folder / "nitrification.report.html").stat().st_size > 0
    return dict(line.split(": ", 1) for line in run.stdout.splitlines()
                if line.startswith(("kova: ", "engine: ")))


def test_pip_installs_into_a_venv_offline(engine: Path, tmp_path: Path):
    pytest.importorskip("matplotlib")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    source = tmp_path / "python"  # setuptools builds in the folder it is given
    shutil.copytree(REPO / "python", source, ignore=shutil.ignore_patterns("__pycache__"))
    pip = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install",
                          "--no-build-isolation", "--no-index", str(source)],
                         capture_output=True, text=True, timeout=600)
    assert pip.returncode == 0, pip.stdout[-2000:] + pip.stderr[-2000:]
    found = _run_guide(venv / "bin" / "python", _user_env(engine.parent), tmp_path / "run")
    assert Path(found["kova"]).is_relative_to(venv)
    assert Path(found["engine"]).resolve() == engine.resolve()
    _run_report_command(venv / "bin" / "kova-report", _user_env(engine.parent), tmp_path / "run")


def test_cmake_installs_into_a_prefix(engine: Path, tmp_path: Path):
    pytest.importorskip("matplotlib")
    if not (engine.parent / "cmake_install.cmake").is_file():
        pytest.skip(f"{engine.parent} is no CMake build folder")
    prefix = tmp_path / "prefix"
    install = subprocess.run(["cmake", "--install", str(engine.parent), "--prefix", str(prefix)],
                             capture_output=True, text=True, timeout=600)
    assert install.returncode == 0, install.stdout[-2000:] + install.stderr[-2000:]
    for program in ("kova-compute", "kova-export", "kova-plot", "kova-report"):
        assert os.access(prefix / "bin" / program, os.X_OK), program
    assert (prefix / "share" / "doc" / "kova_compute" / "python.md").is_file()
    sites = list(prefix.glob("lib/python3*/site-packages"))
    assert len(sites) == 1 and (sites[0] / "kova" / "__init__.py").is_file(), sites
    env = _user_env(prefix / "bin", str(sites[0]))
    found = _run_guide(Path(sys.executable), env, tmp_path / "run")
    assert Path(found["kova"]).is_relative_to(prefix)
    assert Path(found["engine"]) == prefix / "bin" / "kova-compute"
    # Its launcher finds the package installed beside it, with no PYTHONPATH.
    _run_report_command(prefix / "bin" / "kova-report", _user_env(prefix / "bin"),
                        tmp_path / "run")
