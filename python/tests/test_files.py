"""The model and extension files as the results read them, and the replayed times."""

from __future__ import annotations

import os
import threading

import numpy as np
import pytest

import kova
from kova import record_times
from kova.extension_file import read_extension
from kova.model_file import _Tokens, read_model_header


@pytest.mark.parametrize("text, rows, cols, mobile", [
    ("1 3 0 1 0 1 0 10 1 0.1 1e-6 0 0 5 10", 1, 3, 1),
    ("01 0x3 00 +1 0 1 0 10 1 0.1 1e-6 0 0 5 10", 1, 3, 1),
    ("010 1 0 0 0 1 0 10 1 0 1e-6 0 1 2 3 4 5 6 7 0", 8, 1, 0),   # 010 is octal eight
])
def test_model_integers_read_in_the_base_their_prefix_gives(text, rows, cols, mobile,
                                                            tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(text)
    header = read_model_header(str(path))
    assert (header.rows, header.cols, header.mobile) == (rows, cols, mobile)
    assert header.entries_per_node == 7 + mobile
    assert header.row_coords.size == rows and header.col_coords.size == cols


@pytest.mark.parametrize("text, where", [
    ("1 3 0 1 0\n", "the file ends before reaction sets (field 6)"),
    ("1 3.0 0 1 0 1\n", "line 1: immobile (field 3) is '.0'"),
    ("0 3 0 1 0 1\n0 10 1 0.1 1e-6\n", "rows 0 below 1 (field 1)"),
    ("1 3 -1 1 0 1\n0 10 1 0.1 1e-6\n", "immobile -1 below 0 (field 3)"),
    ("1 3 0 1 0 4294967296\n", "does not fit in 32 bits"),
    ("1 3 0 1 0 1\n0 10 0 0.1 1e-6\n", "line 2: output interval 0.0 not above 0 (field 9)"),
    ("1 3 0 1 0 1\n0 1e999 1 0.1 1e-6\n", "line 2: end time (field 8) 1e999 overflows"),
    ("1 3 0 1 0 1\n0 10 1 0.1 1e-6\n0\n0 5,10\n", "line 4: column coordinates (field 13) "
                                                  "index 2 is ',10'"),
    ("1 3 0 1 0 1\n0 10 1 0.1 1e-6\n0\n0\n5\n5\n", "line 6: column coordinates (field 13) "
                                                   "do not increase strictly at index 2"),
])
def test_model_refused_naming_line_and_field(text, where, tmp_path):
    path = tmp_path / "m.kvi"
    path.write_text(text)
    with pytest.raises(kova.KovaFileError) as error:
        read_model_header(str(path))
    assert str(error.value).startswith(str(path))
    assert where in str(error.value)


def _read_unblocked(read, fifo):
    """What read raised, failing the test when it waits on the FIFO for a writer."""
    raised = []

    def call() -> None:
        try:
            read()
        except Exception as error:
            raised.append(error)

    worker = threading.Thread(target=call, daemon=True)
    worker.start()
    worker.join(timeout=5.0)
    blocked = worker.is_alive()
    if blocked:
        # A writer that opens and closes gives the waiting reader its end of file.
        os.close(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))
        worker.join(timeout=5.0)
    assert not blocked, f"{fifo}: the read waited for a writer"
    assert raised, "nothing was refused"
    return raised[0]


@pytest.mark.parametrize("read", [
    lambda base: read_model_header(base + ".kvi"),
    kova.Model.read,
    kova.open_results,
], ids=["read_model_header", "Model.read", "open_results"])
@pytest.mark.parametrize("make", [os.mkfifo, os.mkdir], ids=["FIFO", "directory"])
def test_model_file_that_is_no_regular_file_is_refused_at_once(read, make, tmp_path):
    path = tmp_path / "m.kvi"
    make(path)
    error = _read_unblocked(lambda: read(str(tmp_path / "m")), path)
    assert isinstance(error, kova.KovaFileError), repr(error)
    assert str(error) == (f"{path}: the model file is not a regular file (a FIFO or a device "
                          "would block, a directory holds no model)")


# What g++'s stream made of these texts (integers with the base left open, as
# the engine reads them): a number ends where its kind allows no more
# characters, and the rest begins the next number.
@pytest.mark.parametrize("text, kinds, values", [
    ("08", "ii", [0, 8]),
    ("-08", "ii", [0, 8]),
    ("0x0A 5", "ii", [10, 5]),
    ("0x08", "i", [8]),
    ("-0x10", "i", [-16]),
    ("00x1", "i", [0]),
    ("07777777777", "i", [1073741823]),
    ("-2147483648", "i", [-2147483648]),
    ("12abc", "i", [12]),
    ("1.5-2", "rr", [1.5, -2.0]),
    ("5. .5", "rr", [5.0, 0.5]),
    ("00012", "r", [12.0]),
    ("1.2.3", "rr", [1.2, 0.3]),
    ("1e-400", "r", [0.0]),
    ("4.9e-324", "r", [5e-324]),
    ("+.5e-3x", "r", [0.0005]),
    ("1.5", "ir", [1, 0.5]),
    ("1\v2\f3\r4", "iiii", [1, 2, 3, 4]),
])
def test_numbers_split_where_the_engine_splits_them(text, kinds, values):
    tokens = _Tokens("m.kvi", text)
    read = [tokens.integer("n") if kind == "i" else tokens.real("x")[0] for kind in kinds]
    assert read == values
    assert all(type(v) is type(w) for v, w in zip(read, values))


@pytest.mark.parametrize("text, kinds, refused", [
    ("0x", "i", "'0x', not an integer"),
    ("0xx1", "i", "'0xx1', not an integer"),
    ("+-1", "i", "'+-1', not an integer"),
    ("00x1", "ii", "'x1', not an integer"),
    ("2147483648", "i", "2147483648 does not fit in 32 bits"),
    ("0xffffffff", "i", "0xffffffff does not fit in 32 bits"),
    ("1e", "r", "'1e', not a decimal number"),
    ("1e+ 2", "r", "'1e+', not a decimal number"),
    (".", "r", "'.', not a decimal number"),
    ("-.e1", "r", "'-.e1', not a decimal number"),
    ("inf", "r", "'inf', not a decimal number"),
    ("0x10", "rr", "'x10', not a decimal number"),
    ("1e400", "r", "1e400 overflows a double"),
    ("1\x1c2", "ii", "'\\x1c2', not an integer"),
    ("1 2", "iii", "the file ends before n"),
])
def test_numbers_the_engine_cannot_read_are_refused(text, kinds, refused):
    tokens = _Tokens("m.kvi", text)
    with pytest.raises(kova.KovaFileError) as error:
        for kind in kinds:
            tokens.integer("n") if kind == "i" else tokens.real("x")
    assert refused in str(error.value)


@pytest.mark.parametrize("toml, key, why", [
    ("[units]\nlenght = \"m\"\n", "units.lenght", "unknown key"),
    ("[transprt]\n", "key transprt", "unknown key"),
    ("[units]\nmass = \"g,kg\"\n", "units.mass", "comma"),
    ("[units]\ntime = 3\n", "units.time", "must be a string, not an integer"),
    ("[aquifer]\nthickness = -1\n", "aquifer.thickness", "finite number > 0"),
    ("[entries]\nmobile = [\"a\", \"b\"]\n", "entries.mobile", "2 names for the 1 entries"),
    ("[entries]\nmobile = [\"head\"]\n", "entries.mobile[0]", "a quantity of its own"),
    ("[entries]\nimmobile = [\"x\"]\nmobile = [\"x\"]\n", "entries.mobile[0]", "given twice"),
    ("[entries]\nmobile = [\"a b\"]\n", "entries.mobile[0]", "letters, digits"),
    ("[entries]\nmobile = [{ units = \"g\" }]\n", "entries.mobile[0]", "has no name"),
    ("[entries]\nmobile = [\"immobile_0\"]\n", "entries.mobile[0]",
     "default name of another entry"),
    ("[entries]\nimmobile = [\"mobile_0\"]\nmobile = [\"A\"]\n", "entries.immobile[0]",
     "default name of another entry"),
    ("[[observe]]\nname = \"time\"\nrow = 0\ncol = 0\n", "observe[0].name",
     "a quantity of its own"),
    ("observe = 3\n", "observe", "array of tables"),
    ("[transport]\nscheme = \"upwind\"\n", "transport.scheme", '"default", "symmetric" or "tvd"'),
    ("[transport]\nschme = \"tvd\"\n", "transport.schme", "unknown key"),
    ("[transport]\ntime = \"crank\"\n", "transport.time", '"explicit" or "implicit"'),
    ("[transport]\ntime = 1\n", "transport.time", "must be a string, not an integer"),
    ("[[inject]]\nconcentration = { mobile_0 = 1 }\n", "inject[0]", "nodes or rectangle"),
    ("[[inject]]\nnodes = [[0, 0]]\nrectangle = [0, 0, 1, 1]\nconcentration = {}\n",
     "inject[0]", "nodes or rectangle"),
    ("[[inject]]\nnodes = [[0, 3]]\nconcentration = { mobile_0 = 1 }\n", "inject[0].nodes[0][1]",
     "3 outside 0..2"),
    ("[[inject]]\nrectangle = [1, 0, 0, 2]\nconcentration = { mobile_0 = 1 }\n",
     "inject[0].rectangle", "must not lie past"),
    ("[[inject]]\nnodes = [[0, 0]]\nconcentration = { immobile_0 = 1 }\n",
     "inject[0].concentration.immobile_0", "unknown key"),
    ("[[inject]]\nnodes = [[0, 0]]\nconcentration = {}\n", "inject[0].concentration",
     "names no entry"),
    ("[entries]\nmobile = [\"NH4\"]\n[[inject]]\nnodes = [[0, 0]]\n"
     "concentration = { NH4 = 1, mobile_0 = 2 }\n", "inject[0].concentration.mobile_0",
     "names already"),
    ("[[inject]]\nnodes = [[0, 0]]\nconcentration = { mobile_0 = -1 }\n",
     "inject[0].concentration.mobile_0", ">= 0"),
    ("[[inject]]\nrectangle = [0, 0, 1, 1]\nconcentration = { mobile_0 = 1 }\n"
     "[[inject]]\nnodes = [[1, 1]]\nconcentration = { mobile_0 = 2 }\n",
     "inject[1]", "node (1, 1) is injected by inject[0] already"),
    # Deeper than Python's recursion limit lets the TOML reader go.
    ("x = " + "[" * 5000 + "]" * 5000 + "\n", "not a TOML file",
     "exceeded maximum nested value depth of 256"),
    ("x = " + "{ a = " * 5000 + "1" + " }" * 5000 + "\n", "not a TOML file",
     "exceeded maximum nested value depth of 256"),
])
def test_extension_refused_naming_the_key(toml, key, why, tmp_path):
    path = tmp_path / "m.kvx"
    path.write_text(toml)
    with pytest.raises(kova.KovaFileError) as error:
        read_extension(str(path), immobile=1, mobile=1, row_coords=np.zeros(2),
                       col_coords=np.arange(3.0))
    message = str(error.value)
    assert message.startswith(str(path)) and key in message and why in message


def test_extension_transport_and_injection_land(tmp_path):
    path = tmp_path / "m.kvx"
    path.write_text('[transport]\nscheme = "tvd"\n'
                    '[[inject]]\nname = "leak"\nrectangle = [0, 1, 1, 2]\n'
                    'concentration = { mobile_0 = 2.5 }\n')
    ext = read_extension(str(path), immobile=1, mobile=1)
    assert ext.scheme == "tvd"
    assert [(t.name, t.node_list(), t.concentration) for t in ext.inject] == [
        ("leak", [(0, 1), (0, 2), (1, 1), (1, 2)], {"mobile_0": 2.5})]


def test_extension_that_is_not_toml_names_the_line(tmp_path):
    path = tmp_path / "m.kvx"
    path.write_text("[units]\nlength = m\n")
    with pytest.raises(kova.KovaFileError, match="not a TOML file.*line 2"):
        read_extension(str(path), immobile=0, mobile=1)


def test_extension_labels_and_defaults(tmp_path):
    path = tmp_path / "m.kvx"
    path.write_text('[units]\nlength = "m"\n[aquifer]\nthickness = 5\n'
                    '[entries]\nmobile = [{ name = "NH4", units = "mg/L" }, "O2"]\n')
    ext = read_extension(str(path), immobile=2, mobile=2)
    assert (ext.length_unit, ext.time_unit, ext.thickness) == ("m", None, 5.0)
    assert [(e.name, e.units) for e in ext.immobile + ext.mobile] == [
        ("immobile_0", None), ("immobile_1", None), ("NH4", "mg/L"), ("O2", None)]


def clock_loop(start: float, step: float, interval: float, count: int) -> list:
    """The time loop's record clock, one addition at a time."""
    times, current, next_output = [], start, start
    for _ in range(count):
        while current < next_output:
            current += step
        times.append(current)
        previous = next_output
        next_output = previous + interval
        if next_output < current:
            next_output = current + interval
    return times


@pytest.mark.parametrize("start, step, interval, count", [
    (0.0, 0.1, 1.0, 40),       # 0.1 does not add up to 1: records land past the output time
    (3.7, 0.3, 0.7, 60),
    (0.0, 2.5, 1.0, 20),       # a step passes several output times
    (-1.0, 1e-3, 0.25, 30),
    (1e9, 0.1, 10.0, 5),       # additions that round at a large start time
])
@pytest.mark.parametrize("chunk", [1, 7, 1 << 20])
def test_replay_matches_the_clock_added_one_step_at_a_time(start, step, interval, count,
                                                           chunk, monkeypatch):
    monkeypatch.setattr(record_times, "_CHUNK_STEPS", chunk)
    replayed = record_times.replay_record_times(start, step, interval, count)
    expected = np.array(clock_loop(start, step, interval, count))
    assert np.array_equal(replayed.view(np.int64), expected.view(np.int64))


@pytest.mark.parametrize("step, max_steps, replayed", [
    (0.0, 100, False), (-1.0, 100, False), (float("nan"), 100, False),
    (0.1, 99, False),   # 11 records a time unit apart need about 100 steps of 0.1
    (0.5, 100, True),
])
def test_replay_gives_up_as_the_engine_tools_do(step, max_steps, replayed):
    times = record_times.replay_record_times(0.0, step, 1.0, 11, max_steps=max_steps)
    assert (times is not None) == replayed
