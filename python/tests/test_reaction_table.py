"""The package's reaction records against the engine's table of types.

``kova-compute --reaction-types`` prints the table the engine reads records
by; REACTION_LAYOUTS (how a record is written and read here) and
REACTION_TYPES (the classes that build them) must say the same: the same
codes, and per code the same fields in the same order with the same kinds.
"""

from __future__ import annotations

import dataclasses
import json
import subprocess
from pathlib import Path
from typing import Dict, List

import pytest

from kova.model_file import REACTION_LAYOUTS
from kova.reactions import NOT_IN_RECORD, REACTION_TYPES

# The engine's word for a field's kind -> REACTION_LAYOUTS' word.
FIELD_KINDS = {
    "vector": "vector",
    "int-vector": "ivector",
    "real": "real",
    "order": "order",
    "integer": "integer",
    "entry": "entry",
    "entry-or-none": "entry_or_none",
    "factors": "factors",
    "curve": "curve",
}


@pytest.fixture(scope="module")
def engine_types(engine: Path) -> Dict[int, dict]:
    """The engine's table by type code."""
    result = subprocess.run([str(engine), "--reaction-types"], capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    rows: List[dict] = json.loads(result.stdout)
    return {row["code"]: row for row in rows}


def test_the_same_codes_everywhere(engine_types: Dict[int, dict]) -> None:
    codes = list(range(len(engine_types)))
    assert sorted(engine_types) == codes
    assert sorted(REACTION_LAYOUTS) == codes
    assert sorted(REACTION_TYPES) == codes


@pytest.mark.parametrize("code", sorted(REACTION_LAYOUTS))
def test_layout_has_the_engines_fields_in_order(engine_types: Dict[int, dict],
                                                code: int) -> None:
    row = engine_types.get(code)
    assert row is not None, f"the engine has no reaction type {code}"
    unknown = [f["kind"] for f in row["fields"] if f["kind"] not in FIELD_KINDS]
    assert not unknown, f"{row['class']}: field kinds {unknown} have no word here"
    engine_layout = [(f["name"], FIELD_KINDS[f["kind"]]) for f in row["fields"]]
    assert list(REACTION_LAYOUTS[code]) == engine_layout, row["class"]


@pytest.mark.parametrize("code", sorted(REACTION_TYPES))
def test_class_takes_the_engines_fields_and_kind(engine_types: Dict[int, dict],
                                                 code: int) -> None:
    row = engine_types[code]
    cls = REACTION_TYPES[code]
    assert cls.code == code
    names = {f["name"] for f in row["fields"]}
    # A curve's count is followed by its target when the record's kind says so.
    if any(f["kind"] == "curve" for f in row["fields"]):
        names.add("target")
    fields = {f.name for f in dataclasses.fields(cls)}
    assert fields - set(NOT_IN_RECORD) == names, row["class"]
    # The classes share Reaction's answer unless their record decides.
    own_answer = "equilibrium" in vars(cls)
    if row["kind"] == "either":
        assert own_answer, f"{cls.__name__}: the record's kind decides, the class must ask it"
    else:
        assert not own_answer, f"{cls.__name__} decides its kind, the engine's {row['kind']}"
        assert cls._equilibrium == (row["kind"] == "equilibrium"), row["class"]
