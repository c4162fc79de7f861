"""A run's report: one self-contained HTML page that tells what was run and
what came of it.

``kova-report BASE`` (or :func:`kova.report`) writes ``BASE.report.html``:
the model in words (the engine's ``--check`` summary), the heads with the
direction of flow, maps of every entry at a few records on one colour scale
per entry, the breakthrough curves of every observation well, the mass
budget over time with its discrepancy, the water budget, and the warnings
and timings of the run. The pictures are PNG images inside the page and its
one script is inline, so the file can be mailed, archived or opened without
a network.

The engine says its warnings and timings on stderr only, so they come from
the run's log: ``--log FILE``, else ``BASE.log`` when it is not older than
the results. ``kova-report --run BASE`` runs the model first, with
``--timings``, and keeps what the engine said as ``BASE.log``. Without a log
the report gives the warnings of the check and says how to get the rest.
"""

from __future__ import annotations

import argparse
import base64
import datetime
import html
import io
import math
import os
import re
import sys
import tempfile
import warnings
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import pandas as pd
import xarray as xr

from .base_lock import held_base
from .engine import EngineError, EngineWarning, RunError, check_base, run_base
from .errors import KovaFileError
from .extension_file import ObservationWell, read_extension
from .model_file import HYDRAULIC_ENTRIES, read_model_file
from .results import open_results
from .tables import read_budget, read_observations

PathLike = Union[str, "os.PathLike[str]"]

# Enough maps to see a plume start, grow and leave, few enough to compare.
DEFAULT_RECORD_COUNT = 5
_PANELS_PER_ROW = 5
_DPI = 90
_WARNING_PREFIX = "kova-compute: warning: "
_ERROR_PREFIX = "KOVA Compute Error: "
_TIMINGS_PREFIX = "kova-compute timings: "
_TIMING_LINE = re.compile(r"^\s+(\S(?:.*?\S)?)\s+(-?[0-9.]+(?:[eE][+-]?[0-9]+)?) s(.*)$")


@dataclass
class RunLog:
    """What a run said on stderr, sorted out.

    Attributes
    ----------
    path : str or None
        The log file read; None when there is none.
    lines : list of str
        Its lines, without the progress objects of ``--progress=json``.
    warnings, errors : list of str
        The engine's warnings (without their prefix) and its error and
        detail lines.
    timings_heading : str or None
        The line heading the timings (threads, nodes, global steps).
    timings : list of (str, float, str)
        Phase, wall seconds and what the engine notes beside them.
    timing_notes : list of str
        The other lines of the timings block.
    note : str or None
        Why the log is missing or was not used.
    """

    path: Optional[str] = None
    lines: List[str] = field(default_factory=list)
    warnings: List[str] = field(default_factory=list)
    errors: List[str] = field(default_factory=list)
    timings_heading: Optional[str] = None
    timings: List[Tuple[str, float, str]] = field(default_factory=list)
    timing_notes: List[str] = field(default_factory=list)
    note: Optional[str] = None


def parse_log(lines: Sequence[str], path: Optional[str] = None) -> RunLog:
    """Sort out the lines a run wrote on stderr.

    Parameters
    ----------
    lines : sequence of str
        The lines, as the engine wrote them.
    path : str, optional
        Where they were read from, kept for the report.

    Returns
    -------
    RunLog
        The warnings, errors and timings found; progress objects left out.
    """
    log = RunLog(path=path)
    in_timings = False
    for raw in lines:
        line = raw.rstrip("\r\n")
        if line.lstrip().startswith("{") and '"status"' in line:
            continue
        log.lines.append(line)
        if line.startswith(_TIMINGS_PREFIX):
            log.timings_heading = line[len(_TIMINGS_PREFIX):]
            in_timings = True
            continue
        if in_timings and line.startswith(" "):
            match = _TIMING_LINE.match(line)
            if match:
                log.timings.append((match.group(1), float(match.group(2)),
                                    match.group(3).strip()))
            else:
                log.timing_notes.append(line.strip())
            continue
        in_timings = False
        if line.startswith(_WARNING_PREFIX):
            log.warnings.append(line[len(_WARNING_PREFIX):])
        elif line.startswith(_ERROR_PREFIX) or line.startswith("detail: "):
            log.errors.append(line)
    return log


def read_log(path: str, results_time: Optional[float], given: bool) -> RunLog:
    """The log at `path`, or a RunLog saying why there is none.

    A log older than the run's results belongs to an earlier run: the one
    found beside the base is then left out, one given by name is read with
    a note.
    """
    if not os.path.isfile(path):
        if given:
            raise KovaFileError(f"{path}: the log file does not exist")
        return RunLog(note=f"no log of the run ({path} does not exist)")
    stale = results_time is not None and os.path.getmtime(path) < results_time
    if stale and not given:
        return RunLog(note=f"{path} is older than the run's results, so it is the log of an "
                           "earlier run and is left out")
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            log = parse_log(handle.read().splitlines(), path)
    except OSError as error:
        raise KovaFileError(f"{path}: cannot read the log file: {error.strerror}") from None
    if stale:
        log.note = f"{path} is older than the run's results: it may be an earlier run's"
    return log


def default_records(count: int, wanted: int = DEFAULT_RECORD_COUNT) -> List[int]:
    """Up to `wanted` records spread evenly from the first to the last."""
    if count <= 0:
        return []
    picks = np.round(np.linspace(0, count - 1, min(count, wanted))).astype(int)
    return sorted(set(int(p) for p in picks))


def choose_records(record_times: np.ndarray, records: Optional[Sequence[int]] = None,
                   times: Optional[Sequence[float]] = None) -> List[int]:
    """The records to map: given by number, by time (the nearest), or spread.

    Parameters
    ----------
    record_times : numpy.ndarray
        The time of every record.
    records : sequence of int, optional
        Record numbers; negative ones count from the last.
    times : sequence of float, optional
        Times; each picks the record nearest to it.

    Returns
    -------
    list of int
        Record numbers, ascending, each once.

    Raises
    ------
    ValueError
        When both are given, or a number is no record of the run, or a time
        is not a finite number.
    """
    count = len(record_times)
    if records is not None and times is not None:
        raise ValueError("records and times: give one of them, not both")
    if count == 0:
        return []
    if records is not None:
        chosen = []
        for value in records:
            if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
                raise ValueError(f"records: {value!r} is not a record number")
            if not -count <= value < count:
                raise ValueError(f"records: {value} is no record of this run, which has "
                                 f"{count} (0 to {count - 1}, or -1 for the last)")
            chosen.append(int(value) % count)
        return sorted(set(chosen))
    if times is not None:
        chosen = []
        for value in times:
            if isinstance(value, bool) or not isinstance(value, (int, float, np.number)) \
                    or not math.isfinite(value):
                raise ValueError(f"times: {value!r} is not a finite time")
            chosen.append(int(np.argmin(np.abs(record_times - value))))
        return sorted(set(chosen))
    return default_records(count)


# -- pictures ---------------------------------------------------------------


def _figure(width: float, height: float):
    # A Figure with its own Agg canvas: no pyplot, so the backend of a
    # session that calls the report is left alone.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    fig = Figure(figsize=(width, height), layout="constrained")
    FigureCanvasAgg(fig)
    return fig


def _image(fig, alt: str) -> str:
    """The figure as an ``<img>`` holding its PNG."""
    buffer = io.BytesIO()
    fig.savefig(buffer, format="png", dpi=_DPI)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    return f'<img src="data:image/png;base64,{data}" alt="{html.escape(alt)}">'


def _unit(text: Optional[str]) -> str:
    return f" ({text})" if text else ""


def _time_text(value: float, unit: Optional[str]) -> str:
    return f"t = {value:.4g}" + (f" {unit}" if unit else "")


def _colour_map(name: str = "viridis"):
    import matplotlib

    colours = matplotlib.colormaps[name].copy()
    colours.set_bad("lightgrey")
    return colours


def _value_range(values: np.ndarray) -> Tuple[float, float]:
    finite = values[np.isfinite(values)]
    if finite.size == 0:
        return 0.0, 1.0
    low, high = float(finite.min()), float(finite.max())
    if low == high:
        spread = abs(low) * 0.05 or 1.0
        return low - spread, high + spread
    return low, high


def _well_points(wells: List[ObservationWell], x: np.ndarray,
                 y: np.ndarray) -> List[Tuple[str, float, float]]:
    """Name and (x, y) of each well, at its node when placed by index."""
    points = []
    for well in wells:
        if well.row is not None and well.col is not None:
            if 0 <= well.row < y.size and 0 <= well.col < x.size:
                points.append((well.name, float(x[well.col]), float(y[well.row])))
        elif well.x is not None and well.y is not None:
            points.append((well.name, float(well.x), float(well.y)))
    return points


def _mark_wells(ax, points: List[Tuple[str, float, float]], labels: bool) -> None:
    for name, px, py in points:
        ax.plot(px, py, marker="^", color="white", markeredgecolor="black", markersize=7)
        if labels:
            ax.annotate(name, (px, py), textcoords="offset points", xytext=(4, 4),
                        fontsize=8, color="black",
                        bbox={"boxstyle": "round,pad=0.15", "fc": "white", "alpha": 0.7,
                              "lw": 0})


# More source nodes than this are an areal recharge, not wells worth a mark.
_MARKED_SOURCES = 50


def _mark_sources(ax, source: np.ndarray, fixed: np.ndarray, x: np.ndarray,
                  y: np.ndarray) -> None:
    """Circles on the nodes that pump (red) or inject (blue), when they are few.

    A fixed-head node's source is the flow that holds its head, no well.
    """
    taken = np.argwhere(np.isfinite(source) & (source != 0.0) & ~fixed)
    if len(taken) == 0 or len(taken) > _MARKED_SOURCES:
        return
    for sign, colour, label in ((-1, "red", "pumping"), (1, "blue", "injecting")):
        nodes = [(i, j) for i, j in taken if np.sign(source[i, j]) == sign]
        if nodes:
            ax.plot([x[j] for _, j in nodes], [y[i] for i, _ in nodes], "o", color=colour,
                    markeredgecolor="white", markersize=6, label=f"{label} nodes")
    ax.legend(loc="lower right", fontsize=7)


def _node_flux(face: np.ndarray, axis: int) -> np.ndarray:
    """Node-centred flux from the flux across the faces to the next node.

    The faces between nodes k and k+1 are 0 .. n-2 along `axis`; a node
    takes the mean of the faces on its two sides, an edge node its one.
    """
    n = face.shape[axis]
    if n < 2:
        return np.zeros_like(face)
    inner = np.take(face, np.arange(n - 1), axis=axis)
    before = np.concatenate([np.take(inner, [0], axis=axis), inner], axis=axis)
    after = np.concatenate([inner, np.take(inner, [-1], axis=axis)], axis=axis)
    return 0.5 * (before + after)


# -- sections ---------------------------------------------------------------


@dataclass
class _Run:
    """What every section reads: the records and the model's description."""

    base: str
    name: str
    ds: xr.Dataset
    wells: List[ObservationWell]
    record_times: np.ndarray
    fixed: np.ndarray

    @property
    def time_unit(self) -> Optional[str]:
        return self.ds.attrs.get("time_unit")

    @property
    def length_unit(self) -> Optional[str]:
        return self.ds.attrs.get("length_unit")

    @property
    def mass_unit(self) -> Optional[str]:
        return self.ds.attrs.get("mass_unit")

    @property
    def entries(self) -> List[str]:
        return [name for name in self.ds.data_vars if name not in HYDRAULIC_ENTRIES]

    @property
    def profile(self) -> Optional[str]:
        """The axis of a grid one node wide ("x" or "y"); None for a map."""
        rows, cols = self.ds.sizes["y"], self.ds.sizes["x"]
        if rows == 1:
            return "x"
        if cols == 1:
            return "y"
        return None

    def units(self, entry: str) -> Optional[str]:
        return self.ds[entry].attrs.get("units")


def _section(key: str, title: str, body: str) -> str:
    return (f'<section id="{key}">\n<h2>{html.escape(title)}</h2>\n{body}\n</section>\n')


def _problem(text: str) -> str:
    return f'<p class="problem">{html.escape(text)}</p>'


def _table(header: Sequence[str], rows: Sequence[Sequence[str]], numeric_from: int = 1) -> str:
    head = "".join(f"<th>{html.escape(h)}</th>" for h in header)
    body = []
    for row in rows:
        cells = "".join(
            f'<td class="num">{html.escape(c)}</td>' if k >= numeric_from else
            f"<td>{html.escape(c)}</td>" for k, c in enumerate(row))
        body.append(f"<tr>{cells}</tr>")
    return f"<table><thead><tr>{head}</tr></thead><tbody>{''.join(body)}</tbody></table>"


def _number(value: float) -> str:
    return f"{value:.6g}"


def _model_section(run: _Run, check: Optional[str], check_problem: Optional[str]) -> str:
    ds = run.ds
    x, y = ds["x"].values, ds["y"].values
    length = run.length_unit or ""
    facts = [
        ("grid", f"{ds.sizes['y']} rows x {ds.sizes['x']} columns, x from {x[0]:g} to "
                 f"{x[-1]:g} {length}, y from {y[0]:g} to {y[-1]:g} {length}".rstrip()),
        ("aquifer thickness", f"{ds.attrs.get('aquifer_thickness', 1.0):g} {length}".rstrip()),
        ("entries", ", ".join(f"{e}{_unit(run.units(e))}" for e in run.entries) or "none"),
        ("records", f"{len(run.record_times)}"
                    + (f", {_time_text(run.record_times[0], run.time_unit)} to "
                       f"{_time_text(run.record_times[-1], run.time_unit)}"
                       if len(run.record_times) else "")),
        ("observation wells", ", ".join(w.name for w in run.wells) or "none"),
    ]
    rows = "".join(f"<tr><th>{html.escape(k)}</th><td>{html.escape(v)}</td></tr>"
                   for k, v in facts)
    body = f'<table class="facts">{rows}</table>\n'
    if check is not None:
        body += ("<p>What the engine understood of the model "
                 "(<code>kova-compute --check</code>), every number named:</p>\n"
                 f'<pre class="check">{html.escape(check)}</pre>')
    else:
        body += _problem(f"No summary of the model: {check_problem}")
    return _section("model", "The model", body)


def _run_state(run: _Run) -> str:
    attrs = run.ds.attrs
    if attrs.get("finished") == 1:
        return "The run finished."
    return str(attrs.get("unfinished_run", "The run did not finish."))


def _heads_section(run: _Run) -> str:
    ds = run.ds
    if len(run.record_times) == 0:
        return _section("heads", "Heads and flow", _problem("The run wrote no record."))
    last = ds.isel(time=-1)
    head = np.asarray(last["head"].values, dtype=float)
    q_col = _node_flux(np.asarray(last["flux_col"].values, dtype=float), axis=1)
    q_row = _node_flux(np.asarray(last["flux_row"].values, dtype=float), axis=0)
    speed = np.hypot(q_col, q_row)
    length, time = run.length_unit, run.time_unit
    flux_unit = f"{length}/{time}" if length and time else None
    x, y = ds["x"].values, ds["y"].values
    if run.profile is None:
        aspect = (y[-1] - y[0]) / max(x[-1] - x[0], 1e-300)
        fig = _figure(7.5, 6.0 * min(1.3, max(0.35, aspect)) + 0.8)
        ax = fig.add_subplot()
        mesh = ax.pcolormesh(x, y, np.ma.masked_invalid(head), shading="nearest",
                             cmap=_colour_map("Blues_r"))
        fig.colorbar(mesh, ax=ax, label="head" + _unit(length), shrink=0.8)
        if np.isfinite(head).any() and np.nanmax(head) > np.nanmin(head):
            lines = ax.contour(x, y, head, levels=10, colors="black", linewidths=0.7)
            ax.clabel(lines, fontsize=7, fmt="%.4g")
        step = max(1, int(math.ceil(max(head.shape) / 24)))
        pick = (slice(None, None, step), slice(None, None, step))
        with np.errstate(invalid="ignore", divide="ignore"):
            ux = np.where(speed > 0, q_col / speed, 0.0)
            uy = np.where(speed > 0, q_row / speed, 0.0)
        gx, gy = np.meshgrid(x, y)
        ax.quiver(gx[pick], gy[pick], np.nan_to_num(ux[pick]), np.nan_to_num(uy[pick]),
                  color="darkred", pivot="mid", scale=30, width=0.003)
        _mark_sources(ax, np.asarray(last["source"].values, dtype=float), run.fixed, x, y)
        _mark_wells(ax, _well_points(run.wells, x, y), labels=True)
        ax.set_xlabel("x" + _unit(length))
        ax.set_ylabel("y" + _unit(length))
        ax.set_aspect("equal")
        ax.set_title(f"Heads, contours and the direction of the Darcy flux "
                     f"({_time_text(run.record_times[-1], time)})", fontsize=10)
        picture = _image(fig, "map of the heads with arrows along the flow")
    else:
        axis = run.profile
        coords = x if axis == "x" else y
        fig = _figure(8.0, 4.5)
        ax = fig.add_subplot()
        ax.plot(coords, head.ravel(), "o-", color="tab:blue", markersize=3)
        ax.set_xlabel(axis + _unit(length))
        ax.set_ylabel("head" + _unit(length))
        flux = (q_col if axis == "x" else q_row).ravel()
        second = ax.twinx()
        second.plot(coords, flux, "--", color="darkred")
        second.set_ylabel("Darcy flux along " + axis + _unit(flux_unit), color="darkred")
        ax.set_title("Heads (line) and the Darcy flux (dashes; positive towards larger "
                     f"{axis})", fontsize=10)
        picture = _image(fig, "profile of the heads and the Darcy flux")
    finite = speed[np.isfinite(speed)]
    words = (f"Heads from {np.nanmin(head):.6g} to {np.nanmax(head):.6g}{_unit(length)}; "
             f"the Darcy flux at the nodes reaches {finite.max():.4g}{_unit(flux_unit)}"
             if finite.size and np.isfinite(head).any() else "No finite heads.")
    body = (f"<figure>{picture}<figcaption>{html.escape(words)}. The flow field is steady: "
            "these are the heads and fluxes of the last record. The arrows show the "
            "direction only (one arrow per few nodes on large grids); triangles mark the "
            "observation wells, circles the nodes that pump or inject water (not the fixed heads)."
            "</figcaption></figure>")
    return _section("heads", "Heads and flow", body)


def _maps_section(run: _Run, chosen: List[int], entries: List[str]) -> str:
    if not entries:
        return _section("maps", "Maps", "<p>The model has no immobile or mobile entries.</p>")
    if not chosen:
        return _section("maps", "Maps", _problem("The run wrote no record."))
    ds = run.ds.isel(time=chosen)
    times = run.record_times[chosen]
    x, y = run.ds["x"].values, run.ds["y"].values
    points = _well_points(run.wells, x, y)
    figures = []
    for entry in entries:
        values = np.asarray(ds[entry].values, dtype=float)
        low, high = _value_range(values)
        units = run.units(entry)
        label = entry + _unit(units)
        if run.profile is None:
            columns = min(len(chosen), _PANELS_PER_ROW)
            rows = int(math.ceil(len(chosen) / columns))
            aspect = (y[-1] - y[0]) / max(x[-1] - x[0], 1e-300)
            panel = 3.0
            fig = _figure(panel * columns + 1.2,
                          rows * (panel * min(1.5, max(0.3, aspect)) + 0.5))
            axes = fig.subplots(rows, columns, squeeze=False, sharex=True, sharey=True)
            mesh = None
            for k, record in enumerate(chosen):
                ax = axes[k // columns][k % columns]
                mesh = ax.pcolormesh(x, y, np.ma.masked_invalid(values[k]), shading="nearest",
                                     cmap=_colour_map(), vmin=low, vmax=high)
                _mark_wells(ax, points, labels=False)
                ax.set_aspect("equal")
                ax.set_title(f"record {record}, {_time_text(times[k], run.time_unit)}",
                             fontsize=9)
                ax.tick_params(labelsize=7)
            for k in range(len(chosen), rows * columns):
                axes[k // columns][k % columns].set_visible(False)
            fig.colorbar(mesh, ax=axes.ravel().tolist(), label=label, shrink=0.9)
        else:
            coords = x if run.profile == "x" else y
            fig = _figure(8.0, 4.0)
            ax = fig.add_subplot()
            shades = _colour_map()(np.linspace(0.0, 0.9, len(chosen)))
            for k, record in enumerate(chosen):
                ax.plot(coords, values[k].ravel(), color=shades[k], marker=".",
                        label=f"record {record}, {_time_text(times[k], run.time_unit)}")
            ax.set_ylim(low - 0.05 * (high - low), high + 0.05 * (high - low))
            ax.set_xlabel(run.profile + _unit(run.length_unit))
            ax.set_ylabel(label)
            ax.legend(fontsize=8)
        figures.append(f'<figure class="entry">{_image(fig, f"{entry} at the chosen records")}'
                       f"<figcaption>{html.escape(label)}: from {low:.4g} to {high:.4g} over "
                       "these records, one colour scale for all of them.</figcaption></figure>")
    listed = ", ".join(f"{r} ({_time_text(t, run.time_unit)})" for r, t in zip(chosen, times))
    intro = (f"<p>Records {listed} of {len(run.record_times)} "
             "(choose others with <code>--records</code> or <code>--times</code>). Grey "
             "marks a value that is not a finite number; triangles mark the observation "
             "wells.</p>")
    return _section("maps", "Maps", intro + "\n".join(figures))


def _wells_section(run: _Run) -> str:
    title = "Breakthrough curves"
    if not run.wells:
        return _section("wells", title, "<p>The model has no observation wells.</p>")
    try:
        table = read_observations(run.base)
    except KovaFileError as error:
        return _section("wells", title, _problem(str(error)))
    by_well: Dict[str, List[str]] = {}
    for column in table.columns:
        well = column.rpartition(":")[0]
        by_well.setdefault(well, []).append(column)
    columns = min(2, len(by_well))
    rows = int(math.ceil(len(by_well) / columns))
    fig = _figure(6.0 * columns, 3.4 * rows)
    axes = fig.subplots(rows, columns, squeeze=False, sharex=True)
    for k, (well, names) in enumerate(by_well.items()):
        ax = axes[k // columns][k % columns]
        units = set()
        for name in names:
            entry = name.rpartition(":")[2]
            unit = run.units(entry) if entry in run.ds else None
            units.add(unit)
            ax.plot(table.index, table[name], label=entry + _unit(unit))
        ax.set_title(well, fontsize=10)
        ax.set_xlabel("time" + _unit(run.time_unit))
        shared = units.pop() if len(units) == 1 else None
        ax.set_ylabel("value" + _unit(shared))
        ax.legend(fontsize=8)
        ax.grid(alpha=0.3)
    for k in range(len(by_well), rows * columns):
        axes[k // columns][k % columns].set_visible(False)
    picture = _image(fig, "the values at every observation well over time")
    body = (f"<figure>{picture}<figcaption>Every entry recorded at each well "
            f"(<code>{html.escape(run.name)}.obs.csv</code>), after every step."
            "</figcaption></figure>")
    return _section("wells", title, body)


def _budget_figure(run: _Run, entry: str, rows: pd.DataFrame) -> str:
    import matplotlib

    terms = [t for t in pd.unique(rows["term"])
             if not t.startswith("storage") and t != "discrepancy"]
    wide = rows.pivot_table(index=["time_start", "time_end"], columns="term", values="mass",
                            aggfunc="sum")
    start = wide.index.get_level_values(0).to_numpy()
    end = wide.index.get_level_values(1).to_numpy()
    middle, width = 0.5 * (start + end), 0.8 * (end - start)
    mass = "mass" + _unit(run.mass_unit)
    fig = _figure(8.0, 5.0)
    top, bottom = fig.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [3, 1]})
    palette = matplotlib.colormaps["tab10"]
    above, below = np.zeros(len(wide)), np.zeros(len(wide))
    for k, term in enumerate(terms):
        values = np.nan_to_num(wide[term].to_numpy())
        base = np.where(values >= 0, above, below)
        top.bar(middle, values, width, bottom=base, color=palette(k % 10), label=term)
        above += np.where(values >= 0, values, 0.0)
        below += np.where(values < 0, values, 0.0)
    change = wide["storage_end"].to_numpy() - wide["storage_start"].to_numpy()
    top.plot(middle, change, "k_", markersize=14, mew=2, label="change in storage")
    top.axhline(0.0, color="black", linewidth=0.6)
    top.set_ylabel(mass + " per interval")
    top.margins(y=0.08)
    top.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    top.set_title(f"{entry}: what changed its mass in each interval between records",
                  fontsize=10)
    bottom.bar(middle, wide["discrepancy"].to_numpy(), width, color="tab:red")
    bottom.axhline(0.0, color="black", linewidth=0.6)
    bottom.set_ylabel("discrepancy")
    bottom.set_xlabel("time" + _unit(run.time_unit))
    return _image(fig, f"mass budget of {entry}")


def _budget_section(run: _Run, budget: Optional[pd.DataFrame], problem: Optional[str]) -> str:
    title = "Mass budget"
    if budget is None:
        return _section("budget", title, _problem(problem or "No budget."))
    parts = [f"<p>From <code>{html.escape(run.name)}.budget.csv</code>: each term's mass "
             "per interval between records (positive adds, negative takes away), stacked; "
             "the black dash is the change in storage, which the terms add up to but for "
             "the discrepancy below each chart.</p>"]
    mass_entries = [e for e in pd.unique(budget["entry"]) if e != "water"]
    if not mass_entries:
        parts.append("<p>The budget has no immobile or mobile entries.</p>")
    for entry in mass_entries:
        rows = budget[budget["entry"] == entry]
        totals = rows.groupby("term", sort=False)["mass"].sum()
        first = rows[rows["term"] == "storage_start"]["mass"].iloc[0]
        last = rows[rows["term"] == "storage_end"]["mass"].iloc[-1]
        storage = rows[rows["term"].str.startswith("storage")]["mass"].abs().max()
        worst = rows[rows["term"] == "discrepancy"]["mass"].abs().max()
        table_rows = [["storage at the start", _number(first)],
                      ["storage at the end", _number(last)]]
        table_rows += [[f"{term}, whole run", _number(value)] for term, value in totals.items()
                       if not term.startswith("storage")]
        relative = f"{worst / storage:.2g}" if storage > 0 else "-"
        table_rows.append(["largest discrepancy of an interval / largest storage", relative])
        parts.append(f'<figure class="entry">{_budget_figure(run, entry, rows)}'
                     f"<figcaption>{html.escape(entry)}</figcaption></figure>"
                     + _table(["", "mass" + _unit(run.mass_unit)], table_rows))
    return _section("budget", title, "\n".join(parts))


def _water_section(run: _Run, budget: Optional[pd.DataFrame], problem: Optional[str]) -> str:
    title = "Water budget"
    if budget is None:
        return _section("water", title, _problem(problem or "No budget."))
    water = budget[budget["entry"] == "water"]
    if water.empty:
        return _section("water", title, _problem("The budget has no water rows."))
    length, time = run.length_unit, run.time_unit
    rate = f"{length}³/{time}" if length and time else None
    terms, values = water["term"].tolist(), water["mass"].to_numpy()
    fig = _figure(7.0, 0.5 * len(terms) + 1.2)
    ax = fig.add_subplot()
    colours = ["tab:blue" if v >= 0 else "tab:orange" for v in values]
    ax.barh(terms, values, color=colours)
    ax.axvline(0.0, color="black", linewidth=0.6)
    ax.invert_yaxis()
    ax.set_xlabel("volume rate" + _unit(rate))
    picture = _image(fig, "water budget of the steady flow field")
    body = (f"<figure>{picture}<figcaption>The steady flow field's volume rates (per the "
            "aquifer thickness): positive into the aquifer, negative out of it; the "
            "discrepancy is their sum.</figcaption></figure>"
            + _table(["term", "volume rate" + _unit(rate)],
                     [[t, _number(v)] for t, v in zip(terms, values)]))
    return _section("water", title, body)


def _log_section(run: _Run, log: RunLog, check_warnings: List[str]) -> str:
    parts = []
    if log.note:
        parts.append(f"<p>{html.escape(log.note)}.</p>")
    if log.path is None:
        parts.append(f"<p>The engine says its warnings and timings on stderr only. Run "
                     f"<code>kova-report --run {html.escape(run.name)}</code> to run the model "
                     "and keep them, or keep them yourself with <code>kova-compute --timings "
                     f"{html.escape(run.name)} 2&gt;{html.escape(run.name)}.log</code>. Below "
                     "are the warnings of the check, which the run gives too.</p>")
    seen = set()
    found = []
    for text, source in ([(w, "run") for w in log.warnings]
                         + [(w, "check") for w in check_warnings]):
        if text not in seen:
            seen.add(text)
            found.append((text, source))
    if found:
        items = "".join(f"<li>{html.escape(text)}</li>" for text, _ in found)
        parts.append(f'<h3>Warnings</h3><ul class="warnings">{items}</ul>')
    else:
        parts.append("<h3>Warnings</h3><p>None.</p>")
    if log.errors:
        parts.append("<h3>Errors</h3><pre>" + html.escape("\n".join(log.errors)) + "</pre>")
    parts.append("<h3>Timings</h3>")
    if log.timings:
        if log.timings_heading:
            parts.append(f"<p>{html.escape(log.timings_heading)}</p>")
        rows = [[f"{phase} {note}".strip(), f"{seconds:.4g}"]
                for phase, seconds, note in log.timings]
        parts.append(_table(["phase", "wall time (s)"], rows))
        if log.timing_notes:
            parts.append("<p>" + html.escape(" ".join(log.timing_notes)) + "</p>")
    elif log.path is not None:
        parts.append("<p>The log has none: the run was made without "
                     "<code>--timings</code>.</p>")
    else:
        parts.append("<p>Not known without the run's log.</p>")
    if log.path is not None:
        parts.append(f"<details><summary>The whole log ({html.escape(log.path)}, "
                     f"{len(log.lines)} lines)</summary><pre>"
                     + html.escape("\n".join(log.lines)) + "</pre></details>")
    return _section("log", "Warnings and timings", "\n".join(parts))


_STYLE = """
body { font-family: sans-serif; margin: 0 auto; max-width: 1100px; padding: 0 1em 3em;
       color: #222; line-height: 1.4; }
header { border-bottom: 2px solid #2a5d8f; margin-bottom: 1em; }
nav a { margin-right: 1em; }
h2 { color: #2a5d8f; border-bottom: 1px solid #ccc; margin-top: 2em; }
figure { margin: 1em 0; }
figure img { max-width: 100%; height: auto; }
figcaption { font-size: 0.9em; color: #444; }
pre { background: #f5f5f5; padding: 0.6em; overflow-x: auto; font-size: 0.85em; }
pre.check { max-height: 40em; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; font-size: 0.9em; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; }
td.num { text-align: right; font-family: monospace; }
.problem { color: #a00; font-weight: bold; }
ul.warnings li { color: #8a5a00; }
"""

# Marks a picture that did not decode and lists the page's script errors, so
# that a broken report says so instead of showing a blank space.
_SCRIPT = """
window.kovaProblems = [];
window.addEventListener("error", function (event) {
  var what = event.message || ("could not load " + (event.target && event.target.alt));
  window.kovaProblems.push(String(what));
}, true);
window.addEventListener("load", function () {
  var images = document.images, shown = 0;
  for (var i = 0; i < images.length; i++) {
    var ok = images[i].complete && images[i].naturalWidth > 0;
    images[i].setAttribute("data-loaded", ok ? "yes" : "no");
    if (ok) { shown++; } else { window.kovaProblems.push("picture not shown: " + images[i].alt); }
  }
  var box = document.getElementById("problems");
  if (window.kovaProblems.length) {
    box.textContent = "This page has problems: " + window.kovaProblems.join("; ");
    box.hidden = false;
  }
  document.body.setAttribute("data-images-shown", shown + " of " + images.length);
});
"""

_SECTIONS = [("model", "The model"), ("heads", "Heads and flow"), ("maps", "Maps"),
             ("wells", "Breakthrough curves"), ("budget", "Mass budget"),
             ("water", "Water budget"), ("log", "Warnings and timings")]


def _page(run: _Run, sections: List[str], run_error: Optional[str]) -> str:
    nav = " ".join(f'<a href="#{key}">{html.escape(title)}</a>' for key, title in _SECTIONS)
    made = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    state = html.escape(_run_state(run))
    failure = _problem(f"The run failed: {run_error}") if run_error else ""
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>Run report: {html.escape(run.name)}</title>\n"
            f"<style>{_STYLE}</style>\n<script>{_SCRIPT}</script>\n</head>\n<body>\n"
            f"<header><h1>Run report: {html.escape(run.name)}</h1>\n"
            f"<p>Base <code>{html.escape(os.path.abspath(run.base))}</code>; report made "
            f"{html.escape(made)}. {state}</p>\n{failure}"
            '<p id="problems" class="problem" hidden></p>\n'
            f"<nav>{nav}</nav></header>\n" + "".join(sections) + "</body>\n</html>\n")


def _check(base: str, engine: Optional[str]) -> Tuple[Optional[str], Optional[str], List[str]]:
    """The check's summary, why there is none, and its warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", EngineWarning)
        try:
            text = check_base(base, engine)
        except FileNotFoundError as error:
            return None, str(error), []
        except EngineError as error:
            return None, f"the engine refused the model: {error}", []
    return text, None, [str(w.message) for w in caught if issubclass(w.category, EngineWarning)]


def _write_aside(path: str, text: str) -> None:
    # Written whole beside its place and then renamed over it, so that a
    # report being viewed is never seen half written.
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".report-", suffix=".html", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write(text)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


def report(base: PathLike, records: Optional[Sequence[int]] = None,
           times: Optional[Sequence[float]] = None, entries: Optional[Sequence[str]] = None,
           log: Optional[PathLike] = None, run: bool = False,
           output: Optional[PathLike] = None, threads: Optional[int] = None,
           progress: bool = True, engine: Optional[str] = None) -> str:
    """Write the report of a run, ``BASE.report.html``.

    Parameters
    ----------
    base : str or path-like
        The run's base path (``BASE.kvi``, ``BASE.kvo``, ...).
    records : sequence of int, optional
        The records to map (negative count from the last).
    times : sequence of float, optional
        Or the times to map, each at its nearest record. Without either,
        five records spread from the first to the last.
    entries : sequence of str, optional
        The entries to map; every immobile and mobile entry when None.
    log : str or path-like, optional
        What the run wrote on stderr (with ``--timings`` for the timings);
        ``BASE.log`` when None and it is not older than the results.
    run : bool
        Run the model first, with ``--timings``, keeping what the engine
        says as the log (``log``, else ``BASE.log``).
    output : str or path-like, optional
        The page to write; ``BASE.report.html`` when None.
    threads : int, optional
        The run's threads (``run`` only).
    progress : bool
        Show the run's progress (``run`` only).
    engine : str, optional
        The engine to run; found as :func:`kova.engine.find_engine` finds it
        when None.

    Returns
    -------
    str
        The path of the report.

    Raises
    ------
    KovaFileError
        When the run's files do not read (the message names the file), or a
        log given does not exist.
    ValueError
        When a record, time or entry asked for is not in the run.
    RunError
        When ``run`` is set and the run fails; the report of what it left is
        written first when its files read, and the error's ``report`` is its
        path.
    """
    base = os.fspath(base)
    log_path = os.fspath(log) if log is not None else base + ".log"
    output = os.fspath(output) if output is not None else base + ".report.html"
    if not os.path.isfile(base + ".kvi"):
        raise KovaFileError(f"{base}.kvi: the model file does not exist, so {base} is no "
                            "run to report on")
    run_error: Optional[RunError] = None
    if run:
        with held_base(base):
            pass  # a run holding the base is refused before its log is replaced
        try:
            run_base(base, threads=threads, progress=progress, engine=engine, timings=True,
                     log=log_path)
        except RunError as error:
            run_error = error
    try:
        text = _report_text(base, records, times, entries, log_path, log is not None or run,
                            engine, None if run_error is None else str(run_error))
    except KovaFileError:
        if run_error is not None:
            raise run_error from None
        raise
    _write_aside(output, text)
    if run_error is not None:
        run_error.report = output
        raise run_error
    return output


def _report_text(base: str, records: Optional[Sequence[int]], times: Optional[Sequence[float]],
                 entries: Optional[Sequence[str]], log_path: str, log_given: bool,
                 engine: Optional[str], run_error: Optional[str]) -> str:
    model = read_model_file(base + ".kvi")
    header = model.header
    extension = read_extension(base + ".kvx", header.immobile, header.mobile,
                               header.row_coords, header.col_coords)
    with open_results(base) as ds:
        name = os.path.basename(base)
        run = _Run(base, name, ds, list(extension.observe), np.asarray(ds["time"].values),
                   model.fixed)
        mapped = list(run.entries) if entries is None else list(entries)
        for entry in mapped:
            if entry not in run.entries:
                raise ValueError(f"entries: {entry!r} is not an immobile or mobile entry of "
                                 f"{base}; it has {', '.join(run.entries) or 'none'}")
        chosen = choose_records(run.record_times, records, times)
        results_time = max((os.path.getmtime(base + suffix) for suffix in (".kvo", ".kvt")
                            if os.path.isfile(base + suffix)), default=None)
        run_log = read_log(log_path, results_time, log_given)
        check, check_problem, check_warnings = _check(base, engine)
        budget: Optional[pd.DataFrame] = None
        budget_problem: Optional[str] = None
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                budget = read_budget(base)
        except KovaFileError as error:
            budget_problem = f"{error} (a run with --no-budget writes none)"
        sections = [
            _model_section(run, check, check_problem),
            _heads_section(run),
            _maps_section(run, chosen, mapped),
            _wells_section(run),
            _budget_section(run, budget, budget_problem),
            _water_section(run, budget, budget_problem),
            _log_section(run, run_log, check_warnings),
        ]
        return _page(run, sections, run_error)


# -- the command ------------------------------------------------------------


def _numbers(kind: type, what: str):
    def parse(text: str) -> list:
        try:
            return [kind(part) for part in text.split(",") if part.strip()]
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"{text!r} is not a comma-separated list of {what}") from None
    return parse


def _names(text: str) -> List[str]:
    return [part.strip() for part in text.split(",") if part.strip()]


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``kova-report [options] BASE``: write ``BASE.report.html``.

    Returns
    -------
    int
        0 when the report was written; 1 when the run's files do not read,
        a choice is not in the run or the run failed (said on stderr); 2 for
        a wrong command line.
    """
    parser = argparse.ArgumentParser(
        prog="kova-report",
        description="Write BASE.report.html, one self-contained page on a run: the model, "
                    "heads and flow, maps, breakthrough curves, the mass and water budgets, "
                    "warnings and timings.")
    parser.add_argument("base", help="the run's base path (BASE.kvi, BASE.kvo, ...)")
    chosen = parser.add_mutually_exclusive_group()
    chosen.add_argument("--records", type=_numbers(int, "record numbers"), metavar="R,R,...",
                        help="records to map (negative count from the last); default: five "
                             "spread over the run")
    chosen.add_argument("--times", type=_numbers(float, "times"), metavar="T,T,...",
                        help="times to map, each at its nearest record")
    parser.add_argument("--entries", type=_names, metavar="NAME,...",
                        help="entries to map (default: every immobile and mobile entry)")
    parser.add_argument("--log", metavar="FILE",
                        help="what the run wrote on stderr (default: BASE.log, when it is "
                             "not older than the results)")
    parser.add_argument("--run", action="store_true",
                        help="run the model first with --timings, keeping its stderr as the "
                             "log")
    parser.add_argument("--threads", type=int, metavar="N", help="threads of the run (--run)")
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="the page to write (default: BASE.report.html)")
    options = parser.parse_args(argv)
    if options.threads is not None and options.threads < 1:
        parser.error(f"--threads: {options.threads} is not a number of threads (1 or more)")
    # What the engine warns of is said as a command says it, not with the
    # line of Python that passed it on, whether or not the report is written.
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always", EngineWarning)
        try:
            path = _report_of(options)
        finally:
            for warning in said:
                print(f"kova-report: warning: {warning.message}", file=sys.stderr)
    return 0 if path else 1


def _report_of(options: argparse.Namespace) -> Optional[str]:
    """The report the command line asks for; None when it failed (said)."""
    try:
        path = report(options.base, records=options.records, times=options.times,
                      entries=options.entries, log=options.log, run=options.run,
                      output=options.output, threads=options.threads,
                      progress=sys.stderr.isatty())
    except RunError as error:
        print(f"kova-report: the run failed: {error}", file=sys.stderr)
        written = getattr(error, "report", None)
        if written:
            print(f"kova-report: the report of what it left: {written}", file=sys.stderr)
        return None
    except (KovaFileError, ValueError, OSError) as error:
        print(f"kova-report: {error}", file=sys.stderr)
        return None
    print(path)
    return path


if __name__ == "__main__":
    sys.exit(main())
