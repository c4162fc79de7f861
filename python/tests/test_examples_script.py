"""The shipped examples are what scripts/make-examples.py writes."""

from __future__ import annotations

import subprocess
import sys

import pytest

from conftest import EXAMPLES, REPO

SCRIPT = REPO / "scripts" / "make-examples.py"
MADE = ["column", "plume", "hydrocarbon_plume", "decay_chain", "complexation"]


@pytest.fixture(scope="module")
def made(tmp_path_factory: pytest.TempPathFactory):
    out = tmp_path_factory.mktemp("examples")
    subprocess.run([sys.executable, str(SCRIPT), str(out)], check=True, timeout=120)
    return out


@pytest.mark.parametrize("name", MADE)
@pytest.mark.parametrize("suffix", [".kvi", ".kvx"])
def test_shipped_example_is_what_the_script_writes(name, suffix, made):
    assert (made / (name + suffix)).read_bytes() == (EXAMPLES / (name + suffix)).read_bytes()


def test_the_script_writes_nothing_else(made):
    assert sorted(p.name for p in made.iterdir()) == sorted(
        name + suffix for name in MADE for suffix in (".kvi", ".kvx"))
