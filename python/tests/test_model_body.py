"""The model file read to its end: states, fixed heads and reaction sets."""

from __future__ import annotations

import numpy as np
import pytest

import kova
from conftest import EXAMPLES
from kova.extension_file import read_extension
from kova.model_file import read_model_file

HEAD = "1 2 0 1 0 1\n0 10 1 0.1 1e-6\n0\n0 10\n"


@pytest.mark.parametrize("body, where", [
    ("-1 0.1 0\n", "line 5: longitudinal dispersivity -1.0 of mobile component 0 below 0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n1 0 2 0 1\n", "line 7: node (0, 2) of state override 0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n1 0 1 8 1\n", "line 7: state entry 8 outside 0..7"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n1\n0 1 2 0\n", "line 8: porosity 0.0 of node (0, 1) not above"),
    ("1 0.1 0\n0 0 0 1 1 0 0 0\n0\n", "line 6: porosity 0.0 of node (0, 0) not above"),
    ("1 0.1 0\n0 0 0.3 1 -1 0 0 0\n0\n", "line 6: k_col -1.0 of node (0, 0) below 0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n1 1 0\n", "line 8: node (1, 0) of fixed-head node 0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n0\n1\n0\n0 0\n", "set 1 of node (0, 0) outside 0..0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n0\n0\n1 0 1 2\n0 0\n", "set 2 of node (0, 1) outside"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n0\n0\n0\n1 0 0\n", "reaction 0 outside the model's 0"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n0\n0\n0\n0\n", "ends before the kinetic count"),
])
def test_body_refused_naming_line_and_record(body, where, tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(HEAD + body)
    with pytest.raises(kova.KovaFileError, match="^" + str(path)) as error:
        read_model_file(str(path))
    assert where in str(error.value)


def test_later_override_wins_and_set_numbers_keep_their_low_byte(tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(HEAD + "1 0.1 0\n0 0 0.3 1 1 0 0 0\n3 0 1 7 1 0 1 7 2 0 0 2 0.5\n"
                    "1 0 1\n256\n1 0 1 0x100\n0 0\n")
    model = read_model_file(str(path))
    assert model.state[0, 1, 7] == 2.0 and model.state[0, 0, 2] == 0.5
    assert model.fixed.tolist() == [[False, True]]
    assert model.reaction_set.tolist() == [[0, 0]]
    assert model.reaction_sets == [([], [])]


def test_reactions_are_not_read_yet(tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(HEAD.replace("0 1 0 1", "0 1 1 1") + "1 0.1 0\n0 0 0.3 1 1 0 0 0\n0\n0\n"
                    "2 0 0 0 0 0 0 0 -1 1 7 0.1\n0\n0\n0 1 0\n")
    with pytest.raises(NotImplementedError, match="1 reaction"):
        read_model_file(str(path))


def test_shipped_example_states():
    model = read_model_file(str(EXAMPLES / "two_nodes.kvi"))
    assert model.state[:, :, 0].tolist() == [[10.0, 0.0]]
    assert model.state[:, :, 7].tolist() == [[1.0, 0.0]]
    assert np.array_equal(model.transport, [[1.0, 0.1, 0.0]])


@pytest.mark.parametrize("well, key, why", [
    ('name = "w"\nrow = 0\n', "observe[0]", "row and col must both be given"),
    ('name = "w"\nrow = 0\ncol = 2\n', "observe[0].col", "2 outside 0..1"),
    ('name = "w"\nrow = 0\ncol = 0\nx = 1.0\n', "observe[0]", "not both"),
    ('name = "w"\nx = 15.1\ny = 0\n', "observe[0].x", "outside the grid (x from -5.0 to 15.0)"),
    ('name = "w"\nx = 0\ny = -0.6\n', "observe[0].y", "outside the grid (y from -0.5"),
    ('name = "w"\nx = 0\ny = 0\nentries = ["tracer", "nope"]\n', "observe[0].entries[1]",
     "names no entry"),
    ('name = "w"\nx = 0\ny = 0\nentries = ["head", "head"]\n', "observe[0].entries[1]",
     "given twice"),
    ('row = 0\ncol = 0\n', "observe[0]", "has no name"),
])
def test_observation_wells_checked_against_the_grid(well, key, why, tmp_path):
    path = tmp_path / "m.kvx"
    path.write_text('[entries]\nmobile = ["tracer"]\n[[observe]]\n' + well)
    with pytest.raises(kova.KovaFileError) as error:
        read_extension(str(path), 0, 1, np.array([0.0]), np.array([0.0, 10.0]))
    message = str(error.value)
    assert f"key {key}: " in message and why in message.split(f"key {key}: ", 1)[1]
