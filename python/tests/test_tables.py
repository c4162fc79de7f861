"""read_budget and read_observations against the tables the runs wrote."""

from __future__ import annotations

import csv
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import kova


def csv_rows(path: Path) -> list:
    with open(path, newline="") as handle:
        return list(csv.reader(handle))


@pytest.mark.parametrize("example", ["two_nodes", "column", "hydrocarbon_plume",
                                     "decay_chain"])
def test_budget_and_wells_are_the_files_values(example, runs):
    base = runs.base(example)
    budget = kova.read_budget(str(base))
    rows = csv_rows(Path(str(base) + ".budget.csv"))
    assert list(budget.columns) == rows[0]
    assert budget[["entry", "term"]].values.tolist() == [r[2:4] for r in rows[1:]]
    for c, name in [(0, "time_start"), (1, "time_end"), (4, "mass")]:
        expected = np.array([float(r[c]) for r in rows[1:]])
        assert np.array_equal(budget[name].to_numpy().view(np.int64), expected.view(np.int64))

    wells = kova.read_observations(str(base))
    rows = csv_rows(Path(str(base) + ".obs.csv"))
    assert ["time"] + list(wells.columns) == rows[0]
    values = np.array([[float(v) for v in r] for r in rows[1:]])
    assert np.array_equal(wells.index.to_numpy().view(np.int64), values[:, 0].view(np.int64))
    assert np.array_equal(wells.to_numpy().view(np.int64), values[:, 1:].view(np.int64))


def test_budget_reads_the_sources_of_injected_water(engine, tmp_path):
    for path in (Path(__file__).resolve().parents[2] / "examples").glob("two_nodes.kv?"):
        shutil.copy(path, tmp_path)
    base = tmp_path / "two_nodes"
    with open(str(base) + ".kvx", "a") as handle:
        handle.write('\n[[inject]]\nnodes = [[0, 0]]\nconcentration = { tracer = 2 }\n')
    result = subprocess.run([str(engine), "--no-progress", str(base)], capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    budget = kova.read_budget(str(base))
    sources = budget[(budget["entry"] == "tracer") & (budget["term"] == "sources")]
    rows = [r for r in csv_rows(Path(str(base) + ".budget.csv"))[1:] if r[2:4] == ["tracer",
                                                                                   "sources"]]
    assert len(sources) == len(rows) > 0
    assert sources["mass"].tolist() == [float(r[4]) for r in rows]
    assert (sources["mass"] > 0).all()


def test_wells_at_record_times_hold_the_records_values(runs):
    base = runs.base("two_nodes")
    wells = kova.read_observations(str(base))
    ds = kova.open_results(str(base))
    at_records = wells.loc[ds["time"].values, "second:tracer"].to_numpy()
    assert np.array_equal(at_records, ds["tracer"].values[:, 0, 1])


def edit(base: Path, suffix: str, change) -> None:
    path = Path(str(base) + suffix)
    path.write_text(change(path.read_text()))


# (table, change to its text, words of the error)
REFUSED = [
    (".budget.csv", lambda t: t.replace("time_start,", "start,", 1), "line 1: header"),
    (".budget.csv", lambda t: "", "empty, expected the header"),
    (".budget.csv", lambda t: t.split("\n")[0] + "\n", "no intervals"),
    (".budget.csv", lambda t: t.replace(",tracer,storage_end,", ",tracer,storage_end,,", 1),
     "6 fields, expected 5"),
    (".budget.csv", lambda t: t.replace(",water,sources,0", ",water,sources,zero", 1),
     "mass 'zero' is not a number"),
    (".budget.csv", lambda t: t.replace(",water,sinks,", ",water,leaks,", 1),
     "term 'leaks' of water"),
    (".budget.csv", lambda t: t.replace("\n1.0999999999999999,2.0000000000000004,tracer,"
                                        "storage_start", "\n1.5,2.0000000000000004,tracer,"
                                        "storage_start", 1),
     "neither is nor follows"),
    (".budget.csv", lambda t: t.replace(",tracer,transport,", ",tracer,storage_start,", 1),
     "appears twice"),
    (".obs.csv", lambda t: t.replace("time,", "t,", 1), "line 1, column 1: the first column"),
    (".obs.csv", lambda t: t.replace("second:tracer", "second", 1), "is not WELL:ENTRY"),
    (".obs.csv", lambda t: t.replace("\n0.20000000000000001,", "\n0.1,"),
     "is not after the time of the row before"),
    (".obs.csv", lambda t: t.replace("\n0.10000000000000001,0.02055555555555556\n",
                                     "\n0.10000000000000001,0x1\n"),
     "line 3, column 21: second:tracer '0x1' is not a number"),
]


@pytest.mark.parametrize("suffix, change, why", REFUSED)
def test_malformed_tables_are_refused_naming_the_line(suffix, change, why, runs, tmp_path):
    base = runs.copy("two_nodes", tmp_path)
    edit(base, suffix, change)
    read = kova.read_budget if suffix == ".budget.csv" else kova.read_observations
    with pytest.raises(kova.KovaFileError) as error:
        read(str(base))
    assert str(error.value).startswith(str(base) + suffix)
    assert why in str(error.value)


@pytest.mark.parametrize("suffix, cut", [
    (".obs.csv", lambda t: t[:t.rindex(",") + 1]),     # the last row has no value yet
    (".budget.csv", lambda t: t[:t.rindex(",") + 1]),  # the last line has no mass yet
    (".budget.csv", lambda t: t[:t.rindex("tracer,transport")]),  # an interval not whole
    # Lines that read, but without their line feed: the last number may be cut short.
    (".obs.csv", lambda t: t[:-4]),          # the last value loses its last three digits
    (".budget.csv", lambda t: t[:-1]),       # whole, but its line feed is not written yet
])
def test_a_table_being_written_leaves_out_its_last_part(suffix, cut, runs, tmp_path):
    base = runs.copy("two_nodes", tmp_path)
    read = kova.read_budget if suffix == ".budget.csv" else kova.read_observations
    whole = read(str(base))
    edit(base, suffix, cut)
    with pytest.warns(UserWarning, match="left out"):
        partial = read(str(base))
    assert 0 < len(partial) < len(whole)
    assert partial.equals(whole.iloc[:len(partial)])
