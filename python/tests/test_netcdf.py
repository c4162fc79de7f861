"""kova-export's NetCDF files, read with netCDF4, against open_results; and
open_results written as NetCDF by xarray."""

from __future__ import annotations

import subprocess
from pathlib import Path

import pytest

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
            assert nc[name].__dict__.get("units") == ds[name].attrs.get("units"), name
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
