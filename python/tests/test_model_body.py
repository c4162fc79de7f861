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
    # 30 % typed as 30.
    ("1 0.1 0\n0 0 30 1 1 0 0 0\n0\n", "line 6: porosity 30.0 of node (0, 0) above 1; "
     "porosity is a fraction of the volume (fields 15-16, entry 2)"),
    ("1 0.1 0\n0 0 0.3 1 1 0 0 0\n1\n0 1 2 1.0000000000000002\n",
     "line 8: porosity 1.0000000000000002 of node (0, 1) above 1"),
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


REACTION_HEAD = ("1 1 1 2 1 1\n0 10 1 0.1 1e-6\n0\n0\n1 0.1 0\n1 0.1 0\n"
                 "0 0 0.3 1 1 0 0 0 0 0\n0\n0\n")


@pytest.mark.parametrize("record, sets, where", [
    ("16 0 0 0 0 0 0 0 0 0 0", "0 1 0", "line 10: unknown reaction type code 16 in reaction "
     "record 0"),
    ("0 0 0 0 0 0 0 0 -1 -1 1  0 0 0 0 0 0 0 -1 -1 1  0", "1 0 0", "Keq 0.0 of reaction record "
     "0 (field 18) not above 0"),
    ("2 0 0 0 0 0 0 0 0 -1 0  7 8 0.1", "0 1 0", "order 7 of reaction record 0 (field 18) "
     "outside 0..6"),
    ("2 0 0 0 0 0 0 0 0 -1 0  1 10 0.1", "0 1 0", "entry 10 outside 0..9 in reaction record 0"),
    ("3 0 0 0 0 0 0 0 0 -1 0  0.1 2 8 -1", "0 1 0", "factor 1 -1 outside 0..9 in reaction"),
    ("4 0 0 0 0 0 0 0 0 -1 0  1 1 -2 8", "0 1 0", "biomass -2 outside 0..9 (or -1 for none)"),
    ("5 0 0 0 0 0 0 0 0 -1 0  1 1 1 -1 -1 9", "0 1 0", "donor -1 outside 0..9 in reaction"),
    ("14 0 0 0 0 0 0 0 0 0 0  1 -1 -1 0", "0 1 0", "points 0 of reaction record 0 (field 18) "
     "outside at least 1"),
    ("14 0 0 0 0 0 0 0 0 0 0  -1 -1 -1 1 10 0 1", "1 0 0", "target 10 outside 0..9"),
    ("14 0 0 0 0 0 0 0 0 0 0  0 -1 -1 1 0 1", "1 0 0", "a rule curve of kind 0, has no "
     "target and cannot be listed among the equilibrium reactions in reaction set record 0"),
    ("7 0 0 0 0 0 0 0 0 -1 1  0.5 8 x9", "0 1 0", "line 10: second of reaction record 0 "
     "(field 18) is 'x9', not an integer"),
    ("8 0 0 0 0 0 0 0 -1 1 0  -0.5 8 7", "1 0 0", "line 10: Kd -0.5 is not a number >= 0 in "
     "reaction record 0 (field 18)"),
    ("11 0 0 0 0 0 0 0 -1 1 0  -1e-300 0.1 8 7", "0 1 0", "line 10: Kd -1e-300 is not a number "
     ">= 0 in reaction record 0 (field 18)"),
])
def test_reaction_record_refused_naming_line_field_and_record(record, sets, where, tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(REACTION_HEAD + record + "\n0\n0\n" + sets + "\n")
    with pytest.raises(kova.KovaFileError, match="^" + str(path)) as error:
        read_model_file(str(path))
    assert where in str(error.value)


def test_reaction_record_read_field_by_field(tmp_path):
    # A rule curve of kind -2 reads its target after the point count; the
    # reaction after it must start where the curve's points end.
    path = tmp_path / "m.kvi"
    path.write_text(REACTION_HEAD.replace("2 1 1", "2 2 1") +
                    "14 0 0 0 0 0 0 0 0 -0 0  -2 -1 7 2 9  0 1.5 10 2.5\n"
                    "3 0 0 0 0 0 0 0 0 0 -1  0.25 3 8 8 9\n0\n0\n2 0 1 1 1\n")
    curve, mixed = read_model_file(str(path)).reactions
    assert (curve.code, curve.line) == (14, 10)
    assert (curve.fields["kind"], curve.fields["driver"], curve.fields["multiplier"],
            curve.fields["target"]) == (-2, -1, 7, 9)
    assert curve.fields["points"] == [(0.0, 1.5), (10.0, 2.5)]
    assert np.signbit(curve.fields["stoichiometry"]).tolist() == [False] * 8 + [True, False]
    assert (mixed.code, mixed.fields["rate"], mixed.fields["factors"]) == (3, 0.25, [8, 8, 9])
    assert mixed.fields["stoichiometry"].tolist() == [0.0] * 9 + [-1.0]


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
