"""Every ```python block of docs/python.md runs, in order, in an empty directory."""

from __future__ import annotations

import re
from pathlib import Path

import pytest

from conftest import REPO

GUIDE = REPO / "docs" / "python.md"
_BLOCK = re.compile(r"^```python\n(.*?)^```$", re.M | re.S)


def guide_blocks(text: str) -> list:
    """The python blocks of a Markdown text, with the line each starts on."""
    return [(text.count("\n", 0, m.start()) + 2, m.group(1)) for m in _BLOCK.finditer(text)]


def test_blocks_found_as_written():
    text = "a\n```python\nx = 1\n```\n```sh\nls\n```\n```python\ny = 2\nz = 3\n```\n"
    assert guide_blocks(text) == [(3, "x = 1\n"), (9, "y = 2\nz = 3\n")]


def test_guide_runs(engine: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch):
    pytest.importorskip("matplotlib")
    monkeypatch.setenv("KOVA_COMPUTE", str(engine))
    monkeypatch.chdir(tmp_path)
    blocks = guide_blocks(GUIDE.read_text())
    assert len(blocks) >= 10
    namespace: dict = {"__name__": "guide"}
    for line, code in blocks:
        exec(compile(code, f"{GUIDE}:{line}", "exec"), namespace)
    for picture in ("breakthrough.png", "nh4_map.png"):
        assert (tmp_path / picture).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert {"nitrification.kvi", "nitrification.kvx", "nitrification.kvo",
            "nitrification.budget.csv", "nitrification.obs.csv"} <= {
                p.name for p in tmp_path.iterdir()}
