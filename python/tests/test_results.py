"""open_results against the engine's own export and time file."""

from __future__ import annotations

import os
import struct
import time
from pathlib import Path

import numpy as np
import pytest

import kova
from conftest import export_csv, same_bits

EXAMPLES = ["two_nodes", "column", "plume", "decay_chain", "complexation",
            "hydrocarbon_plume"]
HYDRAULIC = ["head", "source", "porosity", "k_row", "k_col", "flux_row", "flux_col"]


def kvt_times(base: Path) -> np.ndarray:
    data = Path(str(base) + ".kvt").read_bytes()
    count = struct.unpack_from("<i", data)[0]
    return np.array(struct.unpack_from(f"<{count}d", data, 36))


def assert_matches_export(ds, exported) -> None:
    """Every variable of ds holds the exported values, record by record."""
    rows, cols = ds.sizes["y"], ds.sizes["x"]
    nodes = rows * cols
    count = ds.sizes["time"]
    assert exported["record"].size == count * nodes
    assert same_bits(ds["time"].values, exported["time"][::nodes])
    assert same_bits(ds["y"].values, exported["y"][:cols * rows:cols])
    assert same_bits(ds["x"].values, exported["x"][:cols])
    for name in ds.data_vars:
        assert same_bits(ds[name].values, exported[name]), name


@pytest.mark.parametrize("example", EXAMPLES)
def test_values_and_times_are_the_runs(example, runs, exporter, tmp_path):
    base = runs.base(example)
    ds = kova.open_results(str(base))
    exported = export_csv(exporter, base, tmp_path)
    # The export names every entry as the run does: the variables must be those.
    names = [n for n in exported if n not in ("record", "time", "i", "j", "x", "y")]
    assert list(ds.data_vars) == names
    assert_matches_export(ds, exported)
    assert same_bits(ds["time"].values, kvt_times(base))
    assert ds.attrs["finished"] == 1


@pytest.mark.parametrize("example, entries", [
    ("two_nodes", {"tracer": None}),
    ("plume", {"tracer": "mg/L"}),
    ("hydrocarbon_plume", {"biomass": "mg/L", "benzene_sorbed": "mg/L",
                           "benzene": "mg/L", "O2": "mg/L"}),
    ("complexation", {"Zn_sorbed": "umol/L", "Zn": "umol/L", "Cit": "umol/L",
                      "ZnCit": "umol/L"}),
])
def test_names_and_units_from_the_extension_file(example, entries, runs):
    ds = kova.open_results(str(runs.base(example)))
    assert list(ds.data_vars) == HYDRAULIC + list(entries)
    for name, units in entries.items():
        assert ds[name].attrs.get("units") == units, name
    assert (ds.attrs["length_unit"], ds.attrs["time_unit"]) == ("m", "d")
    assert ds["head"].attrs["units"] == "m"
    assert ds["flux_row"].attrs["units"] == "m/d"
    assert ds["x"].attrs["units"] == "m" and ds["time"].attrs["units"] == "d"


def test_without_extension_file_positional_names_and_no_units(runs, tmp_path):
    base = runs.copy("hydrocarbon_plume", tmp_path)
    named = kova.open_results(str(base))
    os.remove(str(base) + ".kvx")
    ds = kova.open_results(str(base))
    positional = ["immobile_0", "immobile_1", "mobile_0", "mobile_1"]
    assert list(ds.data_vars) == HYDRAULIC + positional
    assert not any("units" in ds[n].attrs for n in ds.data_vars)
    assert "length_unit" not in ds.attrs
    for old, new in zip(["biomass", "benzene_sorbed", "benzene", "O2"], positional):
        assert same_bits(named[old].values, ds[new].values)


def make_unfinished(base: Path, cut_bytes: int) -> None:
    """What a run killed hard leaves: the marker and a data file cut short."""
    os.truncate(str(base) + ".kvo", cut_bytes)
    Path(str(base) + ".kvt").write_bytes(struct.pack("<i", 0))


# (example, whole records kept, bytes of the next record left, times replayed)
UNFINISHED = [
    ("two_nodes", 4, 77, True),      # positive global step: times replayed exactly
    ("two_nodes", 10, 0, True),      # ends on a record boundary
    ("column", 3, 8 * 9 + 5, False),  # the run chose its step: nominal times
    ("hydrocarbon_plume", 5, 1, False),
]


@pytest.mark.parametrize("example, whole, extra, replayed", UNFINISHED)
def test_unfinished_run_gives_its_whole_records(example, whole, extra, replayed, runs,
                                                exporter, tmp_path):
    base = runs.copy(example, tmp_path)
    finished = kova.open_results(str(base)).load()
    record_bytes = os.path.getsize(str(base) + ".kvo") // finished.sizes["time"]
    make_unfinished(base, whole * record_bytes + extra)

    ds = kova.open_results(str(base))
    assert ds.sizes["time"] == whole
    assert ds.attrs["finished"] == 0
    assert ds.attrs["skipped_bytes"] == extra
    assert ("replayed" in ds.attrs["record_times"]) == replayed
    assert str(base) + ".kvt" in ds.attrs["unfinished_run"]
    # kova-export reads the same whole records and works the times out the same way.
    (tmp_path / "out").mkdir()
    assert_matches_export(ds, export_csv(exporter, base, tmp_path / "out"))
    if replayed:
        assert same_bits(ds["time"].values, finished["time"].values[:whole])
    for name in ds.data_vars:
        assert same_bits(ds[name].values, finished[name].values[:whole])


@pytest.mark.parametrize("end, finished", [("10", 1), ("10.5", 0), ("9", 1)])
def test_a_run_that_stopped_before_its_end_time_was_cancelled(end, finished, runs, tmp_path):
    """A cancel closes the files as a finished run does, its last record before the end."""
    base = runs.copy("two_nodes", tmp_path)
    model = Path(str(base) + ".kvi")
    fields = model.read_text().split(" ")
    assert fields[7] == "10"  # the end time of the run that wrote the records
    fields[7] = end
    model.write_text(" ".join(fields))
    ds = kova.open_results(str(base))
    assert ds.attrs["finished"] == finished
    assert ds.attrs.get("cancelled", 0) == 1 - finished
    if not finished:
        assert "cancelled at time 10.0" in ds.attrs["unfinished_run"]
    assert ds.sizes["time"] == 11


def test_unfinished_run_without_a_whole_record_is_empty(runs, tmp_path):
    base = runs.copy("plume", tmp_path)
    make_unfinished(base, 1000)
    ds = kova.open_results(str(base))
    assert ds.sizes == {"time": 0, "y": 100, "x": 100}
    assert ds["tracer"].values.shape == (0, 100, 100)


def _grow_data(base: Path, record_bytes: int) -> None:
    with open(str(base) + ".kvo", "ab") as handle:
        handle.write(b"\0" * record_bytes)


def _kvt_header(base: Path, count: int, rows: int, cols: int) -> None:
    path = Path(str(base) + ".kvt")
    data = bytearray(path.read_bytes())
    struct.pack_into("<3i", data, 0, count, rows, cols)
    path.write_bytes(bytes(data))


# (change to a finished two_nodes run, the file named, words of the reason)
MISMATCHES = [
    (lambda b: os.truncate(str(b) + ".kvo", os.path.getsize(str(b) + ".kvo") - 1), ".kvo",
     "lists 11 records"),
    (lambda b: _grow_data(b, 128), ".kvo", "lists 11 records"),
    (lambda b: _kvt_header(b, 11, 2, 1), ".kvt", "grid 2 x 1"),
    (lambda b: _kvt_header(b, 12, 1, 2), ".kvt", "needs 36 + 8 x 12"),
    (lambda b: _kvt_header(b, -1, 1, 2), ".kvt", "negative"),
    (lambda b: Path(str(b) + ".kvt").write_bytes(struct.pack("<i", 7)), ".kvt",
     "not the unfinished-run marker"),
    (lambda b: Path(str(b) + ".kvt").write_bytes(b"\0" * 20), ".kvt", "too short"),
    (lambda b: os.remove(str(b) + ".kvo"), ".kvo", "does not exist"),
]


@pytest.mark.parametrize("change, named, reason", MISMATCHES)
def test_files_that_do_not_fit_are_refused(change, named, reason, runs, tmp_path):
    base = runs.copy("two_nodes", tmp_path)
    change(base)
    with pytest.raises(kova.KovaFileError) as error:
        kova.open_results(str(base))
    assert str(error.value).startswith(str(base) + named)
    assert reason in str(error.value)


def test_values_are_read_when_used_not_when_opened(runs, tmp_path):
    base = runs.copy("plume", tmp_path)
    ds = kova.open_results(str(base))
    record_bytes = os.path.getsize(str(base) + ".kvo") // ds.sizes["time"]
    node, entry = 42 * 100 + 17, 7
    with open(str(base) + ".kvo", "r+b") as handle:
        handle.seek(3 * record_bytes + (node * 8 + entry) * 8)
        handle.write(struct.pack("<d", 1234.5))
    assert ds["tracer"].values[3, 42, 17] == 1234.5
    picked = ds["tracer"].isel(time=[1, 3], x=[17, 3]).values
    assert picked[1, 42, 0] == 1234.5 and picked.shape == (2, 100, 2)


def test_a_data_file_that_shrank_after_opening_is_refused_not_a_crash(runs, tmp_path):
    base = runs.copy("plume", tmp_path)
    ds = kova.open_results(str(base))
    os.truncate(str(base) + ".kvo", 0)   # what a new run over the same base does first
    with pytest.raises(kova.KovaFileError, match="open the results again"):
        ds["tracer"].values


def test_a_million_nodes_and_a_hundred_records_open_fast(tmp_path):
    rows = cols = 1000
    coords = " ".join(str(k) for k in range(rows))
    base = tmp_path / "big"
    Path(str(base) + ".kvi").write_text(
        f"{rows} {cols} 0 1 0 1\n0 100 1 0 1e-9\n{coords}\n{coords}\n")
    count, ncomp = 100, 8
    record_bytes = rows * cols * ncomp * 8
    Path(str(base) + ".kvt").write_bytes(
        struct.pack("<3i3d", count, rows, cols, 0.0, 99.0, 1.0)
        + struct.pack(f"<{count}d", *range(count)))
    with open(str(base) + ".kvo", "wb") as handle:
        handle.truncate(count * record_bytes)    # sparse: nothing is written but this
        handle.seek(57 * record_bytes + ((999 * cols + 5) * ncomp + 7) * 8)
        handle.write(struct.pack("<d", 2.5))

    started = time.perf_counter()
    ds = kova.open_results(str(base))
    opened = time.perf_counter() - started
    field = ds["mobile_0"].sel(time=57.0).values
    read = time.perf_counter() - started - opened
    assert opened < 1.0
    assert read < 1.0
    assert field[999, 5] == 2.5 and field.sum() == 2.5
