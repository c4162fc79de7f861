"""Runs of the shipped examples, made once per session for the tests."""

from __future__ import annotations

import csv
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Dict, List

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))
EXAMPLES = REPO / "examples"


def _engine() -> Path:
    return Path(os.environ.get("KOVA_COMPUTE", REPO / "build" / "release" / "kova-compute"))


@pytest.fixture(scope="session")
def engine() -> Path:
    """The engine binary; the tests that need it are skipped without it."""
    path = _engine()
    if not (path.is_file() and os.access(path, os.X_OK)):
        pytest.skip(f"no engine binary at {path} (build it with scripts/build.sh release, "
                    "or set KOVA_COMPUTE)")
    return path


@pytest.fixture(scope="session")
def exporter(engine: Path) -> Path:
    """kova-export, built beside the engine."""
    path = engine.with_name("kova-export")
    if not (path.is_file() and os.access(path, os.X_OK)):
        pytest.skip(f"no kova-export beside the engine at {path}")
    return path


class Runs:
    """Finished runs of the examples in a session directory, copied on demand."""

    def __init__(self, engine: Path, root: Path) -> None:
        self.engine = engine
        self.root = root
        self.done: Dict[str, Path] = {}

    def base(self, example: str) -> Path:
        """A finished run of `example`; its files must not be changed."""
        if example not in self.done:
            directory = self.root / example
            directory.mkdir()
            for path in EXAMPLES.glob(example + ".kv?"):
                shutil.copy(path, directory)
            base = directory / example
            result = subprocess.run([str(self.engine), "--no-progress", str(base)],
                                    capture_output=True, text=True, timeout=300)
            assert result.returncode == 0, result.stderr
            self.done[example] = base
        return self.done[example]

    def copy(self, example: str, directory: Path) -> Path:
        """A copy of a finished run in `directory`, free to change."""
        source = self.base(example)
        for path in source.parent.iterdir():
            shutil.copy(path, directory)
        return directory / example


@pytest.fixture(scope="session")
def runs(engine: Path, tmp_path_factory: pytest.TempPathFactory) -> Runs:
    return Runs(engine, tmp_path_factory.mktemp("runs"))


def export_csv(exporter: Path, base: Path, out: Path) -> Dict[str, np.ndarray]:
    """kova-export's CSV of a run: one array per column, numbers as written."""
    result = subprocess.run([str(exporter), str(base), "--format", "csv", "-o", str(out)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    with open(out / (base.name + ".csv"), newline="") as handle:
        rows: List[List[str]] = list(csv.reader(handle))
    header, body = rows[0], rows[1:]
    return {name: np.array([float(row[c]) for row in body]) for c, name in enumerate(header)}


def same_bits(a: np.ndarray, b: np.ndarray) -> bool:
    """Equal to the last bit (NaN matching NaN, since the CSV keeps no payload)."""
    a = np.ascontiguousarray(a, dtype=np.float64).ravel()
    b = np.ascontiguousarray(b, dtype=np.float64).ravel()
    if a.shape != b.shape or not np.array_equal(np.isnan(a), np.isnan(b)):
        return False
    keep = ~np.isnan(a)
    return np.array_equal(a[keep].view(np.int64), b[keep].view(np.int64))


def masked_check(text: str) -> str:
    """What ``--check`` printed, without the paths and the wells' line numbers,
    which say where the files are and how they are laid out, not the model."""
    text = re.sub(r"^(model|extension file): .*$", r"\1: (path)", text, flags=re.M)
    return re.sub(r" \(line \d+\):", ":", text)
