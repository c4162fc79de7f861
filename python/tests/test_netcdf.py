"""kova-export's NetCDF files, read with netCDF4, against open_results; their
CF time, decoded by xarray; and open_results written as NetCDF by xarray."""

from __future__ import annotations

import re
import subprocess
import warnings
from pathlib import Path
from typing import Optional

import numpy as np
import pytest
import xarray as xr

import kova
from conftest import same_bits

netCDF4 = pytest.importorskip("netCDF4")


def _export(exporter: Path, base: Path, out: Path) -> Path:
    result = subprocess.run([str(exporter), str(base), "--format", "netcdf", "-o", str(out)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return out / (base.name + ".nc")


def _read(path: Path):
    handle = netCDF4.Dataset(str(path))
    handle.set_auto_mask(False)     # the doubles as stored, NaN included
    return handle


@pytest.mark.parametrize("example", ["two_nodes", "hydrocarbon_plume", "complexation"])
def test_export_reads_back_as_open_results(example, runs, exporter, tmp_path):
    base = runs.base(example)
    ds = kova.open_results(str(base))
    with _read(_export(exporter, base, tmp_path)) as nc:
        assert {name: len(dim) for name, dim in nc.dimensions.items()} == dict(ds.sizes)
        assert list(nc.variables) == ["time", "y", "x"] + list(ds.data_vars)
        for name in ("time", "y", "x"):
            assert same_bits(nc[name][:], ds[name].values), name
            assert nc[name].dimensions == (name,)
        for name in ("y", "x"):
            assert nc[name].__dict__.get("units") == ds[name].attrs.get("units"), name
        assert nc["time"].units == "days since 1970-01-01 00:00:00"
        for name in ds.data_vars:
            variable = nc[name]
            assert variable.dimensions == ("time", "y", "x"), name
            assert variable.dtype == ds[name].dtype, name
            assert same_bits(variable[:], ds[name].values), name
            units = variable.__dict__.get("units")
            assert units == ds[name].attrs.get("units"), name


def test_open_results_written_by_xarray_reads_back(runs, tmp_path):
    ds = kova.open_results(str(runs.base("hydrocarbon_plume")))
    ds.to_netcdf(tmp_path / "again.nc")
    with _read(tmp_path / "again.nc") as nc:
        assert list(nc.variables) == list(ds.data_vars) + ["time", "y", "x"]
        for name in ds.variables:
            assert same_bits(nc[name][:], ds[name].values), name
            assert nc[name].__dict__.get("units") == ds[name].attrs.get("units"), name
        assert nc.finished == 1 and nc.time_unit == "d"


_EPOCH = np.datetime64("1970-01-01T00:00:00")


def _set_time_unit(base: Path, label: Optional[str]) -> None:
    """Give the run's extension file another time label, or none."""
    path = base.with_suffix(".kvx")
    text = path.read_text()
    line = "" if label is None else f'time = "{label}"\n'
    text, count = re.subn(r'^time = "d"\n', line, text, flags=re.M)
    assert count == 1
    path.write_text(text)


# The model's time, decoded by xarray as it opens any file: a reference
# date plus the model time in its unit, without a warning; a label no reader
# decodes, or none, leaves the numbers. Either way the numbers stored are the
# record times, bit for bit.
@pytest.mark.parametrize("label, step, units", [
    ("d", np.timedelta64(1, "D"), "days since 1970-01-01 00:00:00"),
    ("h", np.timedelta64(1, "h"), "hours since 1970-01-01 00:00:00"),
    ("min", np.timedelta64(1, "m"), "minutes since 1970-01-01 00:00:00"),
    ("s", np.timedelta64(1, "s"), "seconds since 1970-01-01 00:00:00"),
    ("yr", "365_day", "common_years since 1970-01-01 00:00:00"),
    ("a", "365_day", "common_years since 1970-01-01 00:00:00"),
    ("wk", None, "wk"),
    (None, None, None),
])
def test_time_decodes_as_the_model_time(label, step, units, runs, exporter, tmp_path):
    base = runs.copy("two_nodes", tmp_path)
    _set_time_unit(base, label)
    times = kova.open_results(str(base))["time"].values
    assert times[-1] > times[1] > 0
    path = _export(exporter, base, tmp_path / "nc")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with xr.open_dataset(path) as decoded:
            got = decoded["time"].values
            # Decoded, the units move from the attributes to the encoding.
            stored = {**decoded["time"].attrs, **decoded["time"].encoding}
            assert stored.get("units") == units
    if isinstance(step, np.timedelta64):
        assert got.dtype.kind == "M"
        np.testing.assert_allclose((got - _EPOCH) / step, times, rtol=1e-12, atol=1e-9)
    elif step == "365_day":
        cftime = pytest.importorskip("cftime")
        days = cftime.date2num(list(got), "days since 1970-01-01 00:00:00", calendar="365_day")
        np.testing.assert_allclose(np.asarray(days) / 365.0, times, rtol=1e-12, atol=1e-9)
    else:
        assert same_bits(got, times)
    with xr.open_dataset(path, decode_times=False) as plain:
        assert same_bits(plain["time"].values, times)
        assert plain["time"].attrs.get("units") == units
