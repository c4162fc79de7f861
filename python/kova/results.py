"""The records of a run as a lazily read xarray Dataset."""

from __future__ import annotations

import os
from typing import Dict, List, Optional, Tuple

import numpy as np
import xarray as xr
from xarray.backends import BackendArray
from xarray.core import indexing

from .errors import KovaFileError
from .extension_file import Extension, read_extension
from .model_file import HYDRAULIC_ENTRIES, ModelHeader, read_model_header
from .record_times import unfinished_record_times

_MARKER_BYTES = 4
_TIME_HEADER_BYTES = 36

_HYDRAULIC_MEANING = {
    "head": "hydraulic head",
    "source": "water source rate per unit pore volume",
    "porosity": "porosity",
    "k_row": "conductivity between row neighbours",
    "k_col": "conductivity between column neighbours",
    "flux_row": "Darcy flux from (i, j) to (i+1, j)",
    "flux_col": "Darcy flux from (i, j) to (i, j+1)",
}


class _EntryArray(BackendArray):
    """One entry of every node and record, read from the mapped data file.

    Nothing is read until xarray asks for values; then only the records
    (and nodes) indexed are copied out of the mapping.
    """

    def __init__(self, records: np.ndarray, entry: int, source: "_MappedFile") -> None:
        self._records = records
        self._entry = entry
        self._source = source
        self.shape = records.shape[:3]
        self.dtype = np.dtype(np.float64)

    def __getitem__(self, key: indexing.ExplicitIndexer) -> np.ndarray:
        self._source.check()
        return indexing.explicit_indexing_adapter(
            key, self.shape, indexing.IndexingSupport.OUTER, self._outer)

    def _outer(self, key: Tuple) -> np.ndarray:
        # Integers and slices give views, which read nothing; index arrays
        # then copy out only what they pick, one axis at a time.
        view = self._records[..., self._entry]
        view = view[tuple(slice(None) if isinstance(k, np.ndarray) else k for k in key)]
        axis = 0
        for k in key:
            if isinstance(k, (int, np.integer)):
                continue
            if isinstance(k, np.ndarray):
                view = np.take(view, k, axis=axis)
            axis += 1
        return np.array(view, dtype=np.float64)


class _MappedFile:
    """The identity and length of the data file when it was mapped.

    Touching a mapped page that a shrunk file no longer holds kills the
    process (SIGBUS), which happens when the run is started again over the
    same base. A file that shrank is refused before any read instead.
    """

    def __init__(self, path: str, mapped_bytes: int) -> None:
        self.path = path
        self.mapped_bytes = mapped_bytes
        info = os.stat(path) if mapped_bytes else None
        self._identity = (info.st_dev, info.st_ino) if info else None

    def check(self) -> None:
        if self._identity is None:
            return
        try:
            info = os.stat(self.path)
        except OSError:
            return  # removed: the mapping keeps the old file's pages
        if (info.st_dev, info.st_ino) == self._identity and info.st_size < self.mapped_bytes:
            raise KovaFileError(f"{self.path}: {info.st_size} bytes now, "
                                f"{self.mapped_bytes} when it was opened: the file was "
                                "rewritten (a new run of the model?); open the results again")


def _file_size(path: str, what: str) -> int:
    try:
        if not os.path.isfile(path):
            if os.path.lexists(path):
                raise KovaFileError(f"{path}: not a regular file, so not a {what}")
            raise KovaFileError(f"{path}: the {what} does not exist")
        return os.path.getsize(path)
    except OSError as error:
        raise KovaFileError(f"{path}: cannot read the {what}: {error.strerror}") from None


def _read_time_file(path: str, model: ModelHeader) -> Optional[np.ndarray]:
    """The record times of a finished run, or None for the marker."""
    size = _file_size(path, "time file")
    with open(path, "rb") as handle:
        data = handle.read()
    if len(data) != size:
        raise KovaFileError(f"{path}: changed while it was read")
    if size == _MARKER_BYTES:
        marker = int(np.frombuffer(data, dtype="<i4")[0])
        if marker != 0:
            raise KovaFileError(f"{path}: 4 bytes holding {marker}, which is not the "
                                "unfinished-run marker 0")
        return None
    if size < _TIME_HEADER_BYTES:
        raise KovaFileError(f"{path}: {size} bytes, too short for a time file (4 bytes while "
                            "a run is going, 36 + 8 x records once it has finished)")
    count, rows, cols = (int(v) for v in np.frombuffer(data, dtype="<i4", count=3))
    if count < 0:
        raise KovaFileError(f"{path}: record count {count} (bytes 0-3) is negative")
    expected = _TIME_HEADER_BYTES + 8 * count
    if size != expected:
        raise KovaFileError(f"{path}: {size} bytes, but its record count {count} needs "
                            f"36 + 8 x {count} = {expected}")
    if (rows, cols) != (model.rows, model.cols):
        raise KovaFileError(f"{path}: grid {rows} x {cols} (bytes 4-11) does not match the "
                            f"{model.rows} x {model.cols} grid of {model.path}")
    return np.frombuffer(data, dtype="<f8", offset=_TIME_HEADER_BYTES,
                         count=count).astype(np.float64)


def _entry_labels(model: ModelHeader, ext: Extension) -> List[Tuple[str, Optional[str]]]:
    """(name, units) of every entry in state order."""
    length, time = ext.length_unit, ext.time_unit
    per_time = f"1/{time}" if time else None
    velocity = f"{length}/{time}" if length and time else None
    hydraulic = {"head": length, "source": per_time, "porosity": None, "k_row": velocity,
                 "k_col": velocity, "flux_row": velocity, "flux_col": velocity}
    labels = [(name, hydraulic[name]) for name in HYDRAULIC_ENTRIES]
    labels += [(label.name, label.units) for label in ext.immobile + ext.mobile]
    return labels


def _map_records(path: str, model: ModelHeader, count: int) -> np.ndarray:
    shape = (count, model.rows, model.cols, model.entries_per_node)
    if count == 0:
        return np.empty(shape, dtype="<f8")
    try:
        return np.memmap(path, dtype="<f8", mode="r", shape=shape)
    except (OSError, ValueError) as error:
        raise KovaFileError(f"{path}: cannot map the data file: {error}") from None


def open_results(base: str) -> xr.Dataset:
    """Open the records of a run as a Dataset with dimensions (time, y, x).

    Parameters
    ----------
    base : str
        The run's base path: ``BASE.kvi`` (and ``BASE.kvx`` when there is one)
        describe the model, ``BASE.kvo`` and ``BASE.kvt`` hold the records.

    Returns
    -------
    xarray.Dataset
        One variable per entry (head, source, porosity, k_row, k_col,
        flux_row, flux_col, then the immobile and mobile entries, named as
        the extension file names them), coordinates ``time`` (record times),
        ``y`` (row coordinates) and ``x`` (column coordinates). Values are
        read from ``BASE.kvo`` only when used. ``attrs["finished"]`` is 1 for
        a finished run; for an unfinished one it is 0, only whole records
        are given and ``attrs["record_times"]`` says how their times were
        worked out. A cancelled run (closed before its end time) has
        ``finished`` 0, ``cancelled`` 1 and its complete records.

    Raises
    ------
    KovaFileError
        When a file is missing, malformed, or does not fit the model (a
        wrong size, another grid); the message names the file.
    """
    base = os.fspath(base)
    model = read_model_header(base + ".kvi")
    ext = read_extension(base + ".kvx", model.immobile, model.mobile)
    time_path, data_path = base + ".kvt", base + ".kvo"
    times = _read_time_file(time_path, model)
    data_size = _file_size(data_path, "data file")
    record_text = (f"{model.record_bytes} bytes ({model.nodes} nodes x "
                   f"{model.entries_per_node} entries x 8)")
    attrs: Dict[str, object] = {"model_file": model.path}
    if times is not None:
        count = times.size
        if data_size != count * model.record_bytes:
            raise KovaFileError(f"{data_path}: {data_size} bytes, but {time_path} lists "
                                f"{count} records of {record_text} = "
                                f"{count * model.record_bytes} bytes")
        attrs.update(finished=1, record_times=f"from {time_path}")
        # A cancelled run closes its files as a finished one does, with its
        # last record where it stopped, before the end time.
        last = float(times[-1]) if count else model.start_time
        if count and last < model.end_time and model.start_time <= model.end_time:
            attrs.update(finished=0, cancelled=1,
                         unfinished_run=f"the run was cancelled at time {last!r}, before "
                                        f"its end time {model.end_time!r}; its records are "
                                        f"complete up to there")
    else:
        count, skipped = divmod(data_size, model.record_bytes)
        times, replayed = unfinished_record_times(model, count, ext.exact, ext.record_times)
        how = ("replayed from the model's global step" if replayed else
               "estimated as start + record x output interval (the run computed its own "
               "step)")
        note = (f"{time_path} holds only the marker of an unfinished run (still going, or "
                f"it failed): {count} whole records of {record_text} taken from the "
                f"length of {data_path}")
        if skipped:
            note += f"; it ends {skipped} bytes into record {count}, which is left out"
        attrs.update(finished=0, unfinished_run=note, record_times=how,
                     skipped_bytes=int(skipped))
    records = _map_records(data_path, model, count)
    source = _MappedFile(data_path, count * model.record_bytes)

    for key, label in (("length_unit", ext.length_unit), ("time_unit", ext.time_unit),
                       ("mass_unit", ext.mass_unit)):
        if label is not None:
            attrs[key] = label
    attrs["aquifer_thickness"] = ext.thickness
    if ext.path is not None:
        attrs["extension_file"] = ext.path

    def axis_attrs(meaning: str, unit: Optional[str]) -> Dict[str, str]:
        return {"long_name": meaning, **({"units": unit} if unit else {})}

    coords = {
        "time": ("time", times, axis_attrs("record time", ext.time_unit)),
        "y": ("y", model.row_coords, axis_attrs("row coordinate", ext.length_unit)),
        "x": ("x", model.col_coords, axis_attrs("column coordinate", ext.length_unit)),
    }
    variables = {}
    for k, (name, units) in enumerate(_entry_labels(model, ext)):
        var_attrs = {"entry": k}
        if name in _HYDRAULIC_MEANING:
            var_attrs["long_name"] = _HYDRAULIC_MEANING[name]
        if units:
            var_attrs["units"] = units
        lazy = indexing.LazilyIndexedArray(_EntryArray(records, k, source))
        variables[name] = xr.Variable(("time", "y", "x"), lazy, attrs=var_attrs)
    return xr.Dataset(variables, coords=coords, attrs=attrs)
