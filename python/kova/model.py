"""Building a model in Python and writing it as ``BASE.kvi`` and ``BASE.kvx``.

A :class:`Model` keeps every per-node quantity as a full ``(rows, cols)``
array, whatever was given. Writing turns those arrays into the model file's
compact form: for each state entry the most common value becomes the default
state vector and every node that differs gets an override. Floats are written
with ``repr`` so that the engine reads back the very same doubles.

Every argument is checked where it is given, and the whole model again
before anything is written, so a refused model leaves no file behind. The
errors are ``ValueError`` naming the argument and the value.

Reactions are objects of :mod:`kova.reactions`, added in order (the record
number is the order); reaction sets list them by number and are given to
nodes by masks. Nodes given no set use an empty set, written after the sets
given.
"""

from __future__ import annotations

import dataclasses
import errno
import math
import os
import re
import secrets
import shutil
import stat
import tempfile
from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from .extension_file import (RESERVED_NAMES, SCHEMES, TIMES, EntryLabel, Injection,
                             checkpoint_error,
                             ObservationWell, axis_extent, read_extension)
from .base_lock import held_base
from .model_file import HYDRAULIC_ENTRIES, read_model_file
from .engine import check_base, run_base
from .reactions import Reaction, ReactionSet
from .results import open_results
from .units import check_units

if TYPE_CHECKING:
    import xarray

ArrayLike = Union[float, int, Sequence, np.ndarray]

_NAME = re.compile(r"[A-Za-z0-9_-]{1,64}")
_RESERVED = frozenset(HYDRAULIC_ENTRIES + ("water", "time"))
_LABEL_MAX_BYTES = 40
_COMPUTED = ("flux_row", "flux_col")
# The engine keeps only the low byte of a node's set number.
_MAX_NODE_SETS = 256
_MAX_REACTIONS = 1 << 16
_NO_SET = -1


@dataclass(frozen=True)
class MobileEntry:
    """A component carried by the water, with its transport parameters."""

    name: str
    units: Optional[str]
    alpha_l: float
    alpha_t: float
    diffusion: float


@dataclass(frozen=True)
class Recharge:
    """Water entering (rate > 0) or leaving across the top of nodes, in length per time."""

    rate: float
    nodes: Optional[Tuple[Tuple[int, int], ...]]   # None: every node not holding a head


@dataclass(frozen=True)
class Well:
    """A pumping (rate < 0) or injection (rate > 0) well, in volume per time."""

    row: int
    col: int
    rate: float


def continue_run(base: Union[str, os.PathLike], until: Optional[float] = None,
                 threads: Optional[int] = None, progress: bool = True) -> "xarray.Dataset":
    """Go on with a run from its checkpoint and open its results.

    A run that was killed, cancelled, stopped by a full disk or finished
    goes on from ``BASE.kvr`` (``kova-compute --continue``); its files are
    then the same bytes as those of a run that was never stopped.

    Parameters
    ----------
    base : str or path-like
        The run's base path (its ``BASE.kvi`` unchanged since the run).
    until : float, optional
        A later end time to take a finished run on to (``--until``); the
        model's end time when None.
    threads : int, optional
        Threads of the run (>= 1); any count gives the same results.
    progress : bool
        Show the progress, as :meth:`Model.run` does.

    Returns
    -------
    xarray.Dataset
        The whole run's records, as :func:`kova.open_results` opens them.

    Raises
    ------
    RunError
        When the checkpoint is refused (damaged, of another version, or the
        model or extension file changed since) or the run fails.
    """
    if threads is not None:
        threads = _integer("threads", threads, 1)
    if until is not None:
        until = _real("until", until)
    base = os.fspath(base)
    run_base(base, threads=threads, progress=progress, resume=True, until=until)
    return open_results(base)


def cell_widths(coords: np.ndarray) -> np.ndarray:
    """The widths of the cells along one axis, as the engine's heads use them.

    The outer cells reach the full distance to their one neighbour, an inner
    cell half the distance between its two neighbours; a single node's cell
    is 1 wide.

    Parameters
    ----------
    coords : numpy.ndarray
        Strictly increasing coordinates.

    Returns
    -------
    numpy.ndarray
        One width per coordinate.
    """
    coords = np.asarray(coords, dtype=np.float64)
    if coords.size == 1:
        return np.ones(1)
    widths = np.empty_like(coords)
    widths[0] = coords[1] - coords[0]
    widths[-1] = coords[-1] - coords[-2]
    # (c[k+1] - c[k-1]) * 0.5 in the engine's order, so the areas match to the bit.
    widths[1:-1] = (coords[2:] - coords[:-2]) * 0.5
    return widths


def recharge_source(rate: float, porosity: ArrayLike, thickness: float) -> np.ndarray:
    """The engine's source from a recharge rate: rate / (porosity x thickness).

    The model file holds water sources as volume rates per unit pore volume
    (1/T). Recharge R (L/T) over a cell of area A brings R A of water per
    time into a pore volume of porosity x A x thickness; the area cancels.

    Parameters
    ----------
    rate : float
        Recharge R in length per time (L/T); negative takes water out.
    porosity : float or array_like
        The nodes' porosity theta.
    thickness : float
        The aquifer thickness b (L).

    Returns
    -------
    numpy.ndarray
        R / (theta b) per node (1/T).
    """
    return rate / (np.asarray(porosity, dtype=np.float64) * thickness)


def _fail(argument: str, value: object, why: str) -> None:
    raise ValueError(f"{argument}={value!r}: {why}")


def _real(argument: str, value: object, lowest: Optional[float] = None,
          above: bool = False) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        _fail(argument, value, "must be a number")
    number = float(value)
    if not math.isfinite(number):
        _fail(argument, value, "must be finite")
    if lowest is not None and (number <= lowest if above else number < lowest):
        _fail(argument, value, f"must be {'above' if above else 'at least'} {lowest!r}")
    return number


def _integer(argument: str, value: object, lowest: int, highest: Optional[int] = None) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        _fail(argument, value, "must be an integer")
    if value < lowest or (highest is not None and value > highest):
        _fail(argument, value, f"outside {lowest}..{'' if highest is None else highest}")
    return int(value)


def _name(argument: str, value: object) -> str:
    if not isinstance(value, str) or not _NAME.fullmatch(value):
        _fail(argument, value, "a name is 1-64 letters, digits, '_' or '-'")
    return value


def _label(argument: str, value: object) -> Optional[str]:
    if value is None:
        return None
    if (not isinstance(value, str) or not 1 <= len(value.encode("utf-8")) <= _LABEL_MAX_BYTES
            or any(ord(c) < 0x20 or ord(c) == 0x7F or c in ',"' for c in value)):
        _fail(argument, value, f"a label is 1-{_LABEL_MAX_BYTES} characters without control "
              "characters, commas or quotes")
    return value


def _coordinates(argument: str, value: ArrayLike) -> np.ndarray:
    try:
        coords = np.array(value, dtype=np.float64)
    except (TypeError, ValueError):
        _fail(argument, value, "must be an array of numbers")
    if coords.ndim != 1 or coords.size == 0:
        _fail(argument, value, "must be a non-empty 1-D array")
    if not np.all(np.isfinite(coords)):
        _fail(argument, value, "must be finite")
    with np.errstate(over="ignore"):        # the engine names distances that overflow
        steps = np.diff(coords)
    if np.any(steps <= 0.0):
        _fail(argument, value, "must increase strictly")
    return coords


def _text(value: float) -> str:
    """A float as the shortest text that reads back to the same double."""
    return repr(float(value))


def _toml_string(value: str) -> str:
    # Names and labels hold no quote, backslash or control character.
    return f'"{value}"'


class Model:
    """A model being built: grid, entries, node values, wells, times, labels.

    Give the grid either as ``rows`` and ``cols`` with the spacings ``dx``
    (between columns, along x) and ``dy`` (between rows, along y), starting
    at 0, or as the coordinate arrays ``row_coords`` and ``col_coords``.

    Parameters
    ----------
    rows, cols : int, optional
        Nodes along the row index i and the column index j.
    dx, dy : float
        Column and row spacing (> 0) when ``rows`` and ``cols`` are given.
    row_coords, col_coords : array_like, optional
        Strictly increasing coordinates of the rows (y) and columns (x).

    Raises
    ------
    ValueError
        When the grid is given both ways, neither way, or malformed.
    """

    def __init__(self, rows: Optional[int] = None, cols: Optional[int] = None,
                 dx: float = 1.0, dy: float = 1.0, *,
                 row_coords: Optional[ArrayLike] = None,
                 col_coords: Optional[ArrayLike] = None) -> None:
        by_count = rows is not None or cols is not None
        by_coords = row_coords is not None or col_coords is not None
        if by_count == by_coords:
            _fail("rows", rows, "give rows and cols, or row_coords and col_coords, "
                  "one way only")
        if by_count:
            rows = _integer("rows", rows, 1)
            cols = _integer("cols", cols, 1)
            dx = _real("dx", dx, 0.0, above=True)
            dy = _real("dy", dy, 0.0, above=True)
            self._row_coords = np.arange(rows) * dy
            self._col_coords = np.arange(cols) * dx
        else:
            if row_coords is None or col_coords is None:
                _fail("row_coords" if row_coords is None else "col_coords", None,
                      "both coordinate arrays must be given")
            self._row_coords = _coordinates("row_coords", row_coords)
            self._col_coords = _coordinates("col_coords", col_coords)
        shape = self.shape
        self._immobile: List[EntryLabel] = []
        self._mobile: List[MobileEntry] = []
        self._values: Dict[str, np.ndarray] = {name: np.zeros(shape)
                                               for name in HYDRAULIC_ENTRIES}
        self._values["porosity"][...] = np.nan      # no sensible default: must be set
        self._fixed = np.zeros(shape, dtype=bool)
        # Where the model was last read from or written to (run() runs there).
        self._base: Optional[str] = None
        self._wells: List[Well] = []
        self._recharge: List[Recharge] = []
        self.start_time = 0.0
        self.end_time = 1.0
        self.output_interval = 1.0
        self.step: Optional[float] = None
        self.opzero = 1e-6
        # What the model file gives for the computed step (0 or below), kept
        # so that a model read and written again says the same.
        self._computed_step_text = 0.0
        self.length_unit: Optional[str] = None
        self.time_unit: Optional[str] = None
        self.mass_unit: Optional[str] = None
        self._concentration_unit: Optional[str] = None
        self.thickness: Optional[float] = None
        self._observe: List[ObservationWell] = []
        self.transport_scheme = "default"
        self.transport_time = "explicit"
        self.checkpoint = "every record"
        self.exact_records = False
        self.record_times: Optional[List[float]] = None
        # Read from an extension file and written back as they were.
        self._inject: List[Injection] = []
        self._reactions: List[Reaction] = []
        self._sets: List[ReactionSet] = []
        self._node_set = np.full(shape, _NO_SET, dtype=np.int64)

    # -- the grid -----------------------------------------------------------

    @property
    def shape(self) -> Tuple[int, int]:
        """(rows, cols) of the grid."""
        return (self._row_coords.size, self._col_coords.size)

    @property
    def row_coords(self) -> np.ndarray:
        """Coordinate (y) of each row."""
        return self._row_coords.copy()

    @property
    def col_coords(self) -> np.ndarray:
        """Coordinate (x) of each column."""
        return self._col_coords.copy()

    def cell_areas(self) -> np.ndarray:
        """Row width x column width of every node's cell, shape (rows, cols)."""
        return np.outer(cell_widths(self._row_coords), cell_widths(self._col_coords))

    # -- entries ------------------------------------------------------------

    @property
    def entry_names(self) -> List[str]:
        """Every state entry's name in the model file's order."""
        return (list(HYDRAULIC_ENTRIES) + [e.name for e in self._immobile]
                + [e.name for e in self._mobile])

    def _check_new_name(self, name: object) -> str:
        name = _name("name", name)
        if name in _RESERVED:
            _fail("name", name, "names a quantity of its own")
        if name in self._values:
            _fail("name", name, "is given twice")
        return name

    def add_immobile(self, name: str, units: Optional[str] = None) -> None:
        """Add a component that stays where it is (biomass, a sorbed amount).

        Parameters
        ----------
        name : str
            1-64 letters, digits, ``_`` or ``-``, unique among the entries.
        units : str, optional
            A unit label for the results.
        """
        name = self._check_new_name(name)
        self._immobile.append(EntryLabel(name, _label("units", units)))
        self._values[name] = np.zeros(self.shape)

    def add_mobile(self, name: str, units: Optional[str] = None, alpha_l: float = 0.0,
                   alpha_t: float = 0.0, diffusion: float = 0.0) -> None:
        """Add a component carried by the water.

        Parameters
        ----------
        name : str
            1-64 letters, digits, ``_`` or ``-``, unique among the entries.
        units : str, optional
            A unit label for the results.
        alpha_l, alpha_t : float
            Longitudinal and transverse dispersivity (L, >= 0).
        diffusion : float
            Diffusion coefficient (L^2/T, >= 0).
        """
        name = self._check_new_name(name)
        entry = MobileEntry(name, _label("units", units), _real("alpha_l", alpha_l, 0.0),
                            _real("alpha_t", alpha_t, 0.0),
                            _real("diffusion", diffusion, 0.0))
        self._mobile.append(entry)
        self._values[name] = np.zeros(self.shape)

    @property
    def immobile(self) -> List[EntryLabel]:
        """The immobile entries, in state order."""
        return list(self._immobile)

    @property
    def mobile(self) -> List[MobileEntry]:
        """The mobile entries, in state order."""
        return list(self._mobile)

    # -- node values --------------------------------------------------------

    def set(self, name: str, value: ArrayLike, where: Optional[ArrayLike] = None) -> None:
        """Set a per-node value: a hydraulic quantity or an entry's initial value.

        Parameters
        ----------
        name : str
            ``head``, ``source``, ``porosity``, ``k_row``, ``k_col`` or the
            name of an immobile or mobile entry.
        value : float or array_like
            A scalar for every node (or every node of ``where``), or an
            array of shape (rows, cols).
        where : array_like of bool, optional
            Shape (rows, cols): only these nodes are set.

        Raises
        ------
        ValueError
            For an unknown name, a wrong shape, a value that is not finite,
            a porosity outside (0, 1] or a conductivity below 0.
        """
        if name not in self._values or name in _COMPUTED:
            _fail("name", name, "names no settable entry (known: "
                  + ", ".join(n for n in self._values if n not in _COMPUTED) + ")")
        mask = np.ones(self.shape, dtype=bool) if where is None else self._mask("where", where)
        array = self._node_array(name, value, mask)
        self._values[name][mask] = array[mask]

    def get(self, name: str) -> np.ndarray:
        """A copy of a per-node value as set (the wells are not in ``source``)."""
        if name not in self._values:
            _fail("name", name, "names no entry")
        return self._values[name].copy()

    def _node_array(self, argument: str, value: ArrayLike, mask: np.ndarray) -> np.ndarray:
        try:
            array = np.array(value, dtype=np.float64)
        except (TypeError, ValueError):
            _fail(argument, value, "must be a number or an array of numbers")
        if array.ndim == 0:
            array = np.full(self.shape, float(array))
        if array.shape != self.shape:
            _fail(argument, value if array.size < 5 else f"array of shape {array.shape}",
                  f"must be a scalar or of shape {self.shape}")
        # Only the nodes being set count; 1 passes every check.
        self._check_values(argument, np.where(mask, array, 1.0))
        return array

    def _check_values(self, name: str, array: np.ndarray) -> None:
        for bad, why in ((~np.isfinite(array), "must be finite"),
                         (~(array > 0.0) if name == "porosity" else None, "must be above 0"),
                         # 30 for 30 % would pass every other check.
                         (array > 1.0 if name == "porosity" else None,
                          "must be 1 or below: porosity is a fraction of the volume"),
                         (~(array >= 0.0) if name in ("k_row", "k_col") else None,
                          "must be 0 or above")):
            if bad is not None and bad.any():
                i, j = np.argwhere(bad)[0]
                _fail(name, float(array[i, j]), f"{why} (node ({i}, {j}))")

    def _mask(self, argument: str, mask: ArrayLike) -> np.ndarray:
        array = np.asarray(mask)
        if array.dtype != np.bool_ or array.shape != self.shape:
            _fail(argument, f"array of {array.dtype} and shape {array.shape}",
                  f"must be a boolean array of shape {self.shape}")
        return array

    def fix_heads(self, mask: ArrayLike, head: Optional[ArrayLike] = None) -> None:
        """Make nodes hold their head; all other nodes get the steady head.

        Parameters
        ----------
        mask : array_like of bool
            Shape (rows, cols): the nodes to fix (added to those fixed before).
        head : float or array_like, optional
            The head to hold there; without it the head already set is held.
        """
        mask = self._mask("mask", mask)
        if head is not None:
            self.set("head", head, where=mask)
        self._fixed |= mask

    @property
    def fixed(self) -> np.ndarray:
        """Boolean (rows, cols): the nodes that hold their head."""
        return self._fixed.copy()

    def add_well(self, row: int, col: int, rate: float) -> None:
        """Add a well at node (row, col), pumping (rate < 0) or injecting.

        The rate is a volume per time. The model file holds water sources as
        rates per unit pore volume, so writing adds, at the well's node,

            rate / (porosity x cell area x thickness)

        to the node's source, with the porosity and thickness of the model at
        writing time (thickness 1 when none is set) and the cell area the
        product of the engine's cell widths (:func:`cell_widths`). Wells at
        one node add up.

        Parameters
        ----------
        row, col : int
            The node, inside the grid.
        rate : float
            Volume per time (L^3/T).
        """
        row = _integer("row", row, 0, self.shape[0] - 1)
        col = _integer("col", col, 0, self.shape[1] - 1)
        self._wells.append(Well(row, col, _real("rate", rate)))

    @property
    def wells(self) -> List[Well]:
        """The wells, in the order added."""
        return list(self._wells)

    def state(self) -> np.ndarray:
        """The initial state of every node as the model file gives it.

        Returns
        -------
        numpy.ndarray
            Shape (rows, cols, entries), entries in :attr:`entry_names`'
            order, with the wells' rates turned into sources.
        """
        state = np.stack([self._values[name] for name in self.entry_names], axis=-1)
        if self._wells or self._recharge:
            state[:, :, 1] = self._source_with_wells()
        return state

    def _source_with_wells(self) -> np.ndarray:
        source = self._values["source"].copy()
        areas = self.cell_areas()
        thickness = 1.0 if self.thickness is None else self.thickness
        porosity = self._values["porosity"]
        for well in self._wells:
            i, j = well.row, well.col
            source[i, j] += well.rate / (porosity[i, j] * areas[i, j] * thickness)
        for recharge in self._recharge:
            for i, j in self._recharged_nodes(recharge):
                source[i, j] += recharge_source(recharge.rate, porosity[i, j], thickness)
        return source

    def _recharged_nodes(self, recharge: Recharge) -> Sequence[Tuple[int, int]]:
        if recharge.nodes is not None:
            return recharge.nodes
        return [(int(i), int(j)) for i, j in np.argwhere(~self._fixed)]

    def add_recharge(self, rate: float, nodes: Optional[Sequence[Tuple[int, int]]] = None,
                     rectangle: Optional[Sequence[int]] = None,
                     where: Optional[np.ndarray] = None) -> None:
        """Add recharge, in length per time, over nodes.

        Writing adds :func:`recharge_source` (rate / (porosity x
        thickness)) to every node's source, with the porosity and thickness
        of the model at writing time (thickness 1 when none is set). Over
        the cells it brings rate x cell area of water per time: the water
        budget's ``sources`` row. Recharge given twice to a node adds up;
        a model read back has it in its sources.

        Parameters
        ----------
        rate : float
            Length per time (L/T, e.g. m/d); negative takes water out
            (evaporation).
        nodes : sequence of (row, col), optional
            The nodes; or give ``rectangle`` or ``where``. Without any of
            them: every node that does not hold its head when the model is
            written (a held head's source comes from the heads). Named
            nodes that hold a head are refused when writing.
        rectangle : (first_row, first_col, last_row, last_col), optional
            A block of nodes, the last row and column included.
        where : numpy.ndarray of bool, optional
            The nodes as a mask of the grid's shape.
        """
        rate = _real("rate", rate)
        if sum(v is not None for v in (nodes, rectangle, where)) > 1:
            _fail("nodes", nodes, "give nodes, rectangle or where, one of them")
        if nodes is None and rectangle is None and where is None:
            self._recharge.append(Recharge(rate, None))
            return
        self._recharge.append(Recharge(rate, tuple(self._node_list(nodes, rectangle, where))))

    @property
    def recharge(self) -> List[Recharge]:
        """The recharge given, in the order added."""
        return list(self._recharge)

    def _node_list(self, nodes: Optional[Sequence[Tuple[int, int]]],
                   rectangle: Optional[Sequence[int]],
                   where: Optional[np.ndarray]) -> List[Tuple[int, int]]:
        """The nodes one of the three ways names, checked; a rectangle row by row."""
        rows, cols = self.shape
        if rectangle is not None:
            box = self._rectangle(rectangle)
            return [(i, j) for i in range(box[0], box[2] + 1) for j in range(box[1], box[3] + 1)]
        if where is not None:
            mask = np.asarray(where)
            if mask.dtype != bool or mask.shape != self.shape:
                _fail("where", where, f"must be a boolean array of shape {self.shape}")
            listed = [(int(i), int(j)) for i, j in np.argwhere(mask)]
            if not listed:
                _fail("where", where, "selects no node")
            return listed
        if isinstance(nodes, str) or len(nodes) == 0:
            _fail("nodes", nodes, "must be a non-empty list of (row, col)")
        listed = []
        for node in nodes:
            if isinstance(node, str) or len(node) != 2:
                _fail("nodes", node, "each node must be a pair (row, col)")
            listed.append((_integer("row", node[0], 0, rows - 1),
                           _integer("col", node[1], 0, cols - 1)))
        return listed

    def _rectangle(self, rectangle: Sequence[int]) -> Tuple[int, ...]:
        rows, cols = self.shape
        if isinstance(rectangle, str) or len(rectangle) != 4:
            _fail("rectangle", rectangle, "must be (first_row, first_col, last_row, last_col)")
        box = tuple(_integer("rectangle", v, 0, (rows if k % 2 == 0 else cols) - 1)
                    for k, v in enumerate(rectangle))
        if box[0] > box[2] or box[1] > box[3]:
            _fail("rectangle", rectangle, "the first row and column must not lie past "
                  "the last")
        return box

    # -- times and labels ---------------------------------------------------

    def set_times(self, start: float, end: float, output_interval: float,
                  step: Optional[float] = None, opzero: float = 1e-6) -> None:
        """Set the simulated times.

        Parameters
        ----------
        start, end : float
            Time of the first record and the time the run stops (end >= start).
        output_interval : float
            Time between records (> 0).
        step : float, optional
            The global step (> 0); None lets the run compute a stable step.
        opzero : float
            Tolerance and smallest local step (> 0).
        """
        start = _real("start", start)
        end = _real("end", end)
        if end < start:
            _fail("end", end, f"must not be before start {start!r}")
        self.start_time, self.end_time = start, end
        self.output_interval = _real("output_interval", output_interval, 0.0, above=True)
        self.step = None if step is None else _real("step", step, 0.0, above=True)
        self._computed_step_text = 0.0
        self.opzero = _real("opzero", opzero, 0.0, above=True)

    def set_units(self, length: Optional[str] = None, time: Optional[str] = None,
                  mass: Optional[str] = None, *, concentration: Optional[str] = None,
                  labels_only: bool = False) -> None:
        """Set the model's units; the engine shows them and converts nothing.

        Every number of the model is in these units. Known units are checked
        (:mod:`kova.units`): a concentration, given or not, is mass per
        volume of water in the model's units; ``concentration="mg/L"``
        passes with grams and metres (1 mg/L = 1 g/m3) and is refused with
        kilograms and metres (0.001 kg/m3). Without ``concentration`` the
        model's mass per cubed length is assumed (:attr:`concentration_unit`).

        Parameters
        ----------
        length, time, mass : str, optional
            Units of :data:`kova.units.LENGTHS`, :data:`kova.units.TIMES` and
            :data:`kova.units.MASSES` (an amount such as ``mmol`` counts as
            a mass); the extension file keeps them as labels.
        concentration : str, optional
            ``MASS/VOLUME``, checked against ``length`` and ``mass``; kept
            in the model, not in its files.
        labels_only : bool
            True: take any labels (1-40 characters, no control character,
            comma or quote) and check nothing, as for units the package does
            not know.

        Raises
        ------
        ValueError
            For an unknown unit (unless ``labels_only``), or a concentration
            that is not the model's mass per its length cubed.
        """
        if not isinstance(labels_only, bool):
            _fail("labels_only", labels_only, "must be True or False")
        labels = (_label("length", length), _label("time", time), _label("mass", mass),
                  _label("concentration", concentration))
        if not labels_only:
            check_units(*labels)
        self.length_unit, self.time_unit, self.mass_unit = labels[:3]
        self._concentration_unit = labels[3]

    @property
    def concentration_unit(self) -> Optional[str]:
        """The concentration unit: as given to :meth:`set_units`, else mass/length3."""
        if self._concentration_unit is not None:
            return self._concentration_unit
        if self.length_unit is None or self.mass_unit is None:
            return None
        return f"{self.mass_unit}/{self.length_unit}3"

    def set_thickness(self, thickness: Optional[float]) -> None:
        """Set the aquifer thickness (> 0), which turns areas into volumes."""
        self.thickness = None if thickness is None else _real("thickness", thickness, 0.0,
                                                              above=True)

    def set_transport_scheme(self, scheme: str) -> None:
        """Choose how the transport step treats advection and dispersion.

        Parameters
        ----------
        scheme : str
            ``"default"`` (the default: the model file's own arithmetic),
            ``"symmetric"`` or ``"tvd"`` (docs/transport.md).
        """
        if scheme not in SCHEMES:
            _fail("scheme", scheme, "must be one of " + ", ".join(map(repr, SCHEMES)))
        self.transport_scheme = scheme

    def set_transport_time(self, time: str) -> None:
        """Choose how the transport takes each global step.

        Parameters
        ----------
        time : str
            ``"explicit"`` (the default) or ``"implicit"``: backward Euler at
            any step, a step of 0 then chosen for accuracy
            (docs/transport.md).
        """
        if time not in TIMES:
            _fail("time", time, "must be one of " + ", ".join(map(repr, TIMES)))
        self.transport_time = time

    def set_record_times(self, times: Optional[Sequence[float]] = None,
                         exact: bool = True) -> None:
        """Make the records land on their output times.

        Parameters
        ----------
        times : sequence of float, optional
            The record times after the start: ascending, after
            ``start_time`` and at most ``end_time``; a record also comes at
            the start and at the end time. None: every ``output_interval``.
        exact : bool
            With times None: True lands on start + k x output_interval and
            on the end time; False goes back to the engine's own cadence (a
            record after the first step that reaches each output time).
        """
        if not isinstance(exact, bool):
            _fail("exact", exact, "must be True or False")
        if times is None:
            self.exact_records, self.record_times = exact, None
            return
        checked = [_real("times", t) for t in times]
        if not checked:
            _fail("times", times, "must hold at least one time")
        for before, t in zip([self.start_time] + checked, checked):
            if not t > before or t > self.end_time:
                _fail("times", times, f"{t!r} is not after {before!r} and at most the end "
                                      f"time {self.end_time!r}")
        self.exact_records, self.record_times = True, checked

    def set_checkpoint(self, every: str) -> None:
        """Choose when a run writes its checkpoint ``BASE.kvr``.

        Parameters
        ----------
        every : str
            ``"every record"`` (the default), ``"every N records"`` or
            ``"none"``. A run killed, cancelled or finished goes on from its
            checkpoint with :func:`kova.continue_run` (docs/output-files.md).
        """
        why = checkpoint_error(every)
        if why:
            _fail("every", every, why)
        self.checkpoint = every

    def add_injection(self, concentration: Dict[str, float],
                      nodes: Optional[Sequence[Tuple[int, int]]] = None,
                      rectangle: Optional[Sequence[int]] = None,
                      where: Optional[np.ndarray] = None,
                      name: Optional[str] = None) -> None:
        """Let the water that nodes with a positive source receive carry solute.

        Without it, water added at a node (a well with rate > 0, recharge, a
        held-head node the water enters at) carries none. Each global step a
        node then gains ``c_in x source x dt`` of each entry named; the
        budget shows it as the entry's ``sources`` term.

        Parameters
        ----------
        concentration : dict of str to float
            Mobile entry name -> concentration of the water received (>= 0);
            entries not named receive none.
        nodes : sequence of (row, col), optional
            The nodes; or give ``rectangle`` or ``where``.
        rectangle : (first_row, first_col, last_row, last_col), optional
            A block of nodes, the last row and column included.
        where : numpy.ndarray of bool, optional
            The nodes as a mask of the grid's shape (written as a list).
        name : str, optional
            A name for the table (unique among the injections).

        Notes
        -----
        Every node must have a positive source: a normal node's source is
        checked when the model is written, a held-head node's (computed from
        the heads) by the engine when the run starts. A node may be named by
        one injection only.
        """
        if sum(v is not None for v in (nodes, rectangle, where)) != 1:
            _fail("nodes", nodes, "give nodes, rectangle or where, one of them")
        if name is not None:
            name = _name("name", name)
            if any(t.name == name for t in self._inject):
                _fail("name", name, "an injection of that name is given already")
        if not isinstance(concentration, dict) or not concentration:
            _fail("concentration", concentration, "must be a non-empty dict of mobile "
                  "entry names to concentrations")
        amounts = {}
        for entry, value in concentration.items():
            amounts[_name("concentration", entry)] = _real(f"concentration[{entry!r}]", value,
                                                           0.0)
        box = None
        listed = None
        if rectangle is not None:
            box = self._rectangle(rectangle)
        else:
            listed = self._node_list(nodes, None, where)
        table = Injection(name, listed, box, amounts)
        taken = {node for other in self._inject for node in other.node_list()}
        for node in table.node_list():
            if node in taken:
                _fail("nodes", node, "is injected by another injection already")
            taken.add(node)
        self._inject.append(table)

    @property
    def injections(self) -> List[Injection]:
        """The injections, in the order given."""
        return list(self._inject)

    def add_observation(self, name: str, row: Optional[int] = None, col: Optional[int] = None,
                        x: Optional[float] = None, y: Optional[float] = None,
                        entries: Optional[Sequence[str]] = None) -> None:
        """Add an observation well at a node or at a point (the nearest node).

        Parameters
        ----------
        name : str
            A unique well name (letters, digits, ``_``, ``-``).
        row, col : int, optional
            The node; or give ``x`` (along the columns) and ``y`` (along the rows).
        x, y : float, optional
            A point within half a cell width of the outer nodes.
        entries : sequence of str, optional
            The entries written for the well (checked when writing, so that
            entries may be added later); all immobile and mobile ones by default.
        """
        name = _name("name", name)
        if name in RESERVED_NAMES:
            _fail("name", name, "names a quantity of its own (a reserved name)")
        if any(w.name == name for w in self._observe):
            _fail("name", name, "a well of that name is given twice")
        if (row is None) != (col is None) or (x is None) != (y is None) or \
                (row is None) == (x is None):
            _fail("row", row, "give row and col, or x and y")
        if row is not None:
            well = ObservationWell(name, row=_integer("row", row, 0, self.shape[0] - 1),
                                   col=_integer("col", col, 0, self.shape[1] - 1))
        else:
            point = {}
            for key, value, coords in (("x", x, self._col_coords), ("y", y, self._row_coords)):
                low, high = axis_extent(coords)
                point[key] = _real(key, value)
                if not low <= point[key] <= high:
                    _fail(key, value, f"outside the grid ({low!r} to {high!r})")
            well = ObservationWell(name, **point)
        if entries is not None:
            if isinstance(entries, str) or len(entries) == 0 or len(set(entries)) != len(entries):
                _fail("entries", entries, "must be a non-empty list of distinct entry names")
            well = ObservationWell(well.name, well.row, well.col, well.x, well.y, list(entries))
        self._observe.append(well)

    @property
    def observations(self) -> List[ObservationWell]:
        """The observation wells, in the order added."""
        return list(self._observe)

    # -- reactions ----------------------------------------------------------

    def _index_of(self) -> Callable[[str, str], int]:
        names = self.entry_names
        numbers = {name: k for k, name in enumerate(names)}

        def index_of(argument: str, name: str) -> int:
            if name not in numbers:
                _fail(argument, name, "names no entry of the model (known: "
                      + ", ".join(names) + ")")
            return numbers[name]
        return index_of

    def add_reaction(self, reaction: Reaction) -> int:
        """Add a reaction; sets refer to it by the number returned.

        Parameters
        ----------
        reaction : Reaction
            One of the types of :mod:`kova.reactions`, naming entries the
            model already has.

        Returns
        -------
        int
            The reaction's record number (0 for the first).

        Raises
        ------
        ValueError
            Naming the reaction's argument and the entry it names when the
            model has no such entry, or when the model holds 65536 reactions.
        """
        if not isinstance(reaction, Reaction) or type(reaction) is Reaction:
            _fail("reaction", reaction, "must be one of the reaction types of kova.reactions")
        if len(self._reactions) >= _MAX_REACTIONS:
            _fail("reaction", reaction, f"a model holds at most {_MAX_REACTIONS} reactions")
        index_of = self._index_of()
        for argument, name in reaction.entries_named():
            index_of(argument, name)
        if reaction.name is not None:
            for number, other in enumerate(self._reactions):
                if other.name == reaction.name:
                    _fail("name", reaction.name, f"reaction {number} has that name already")
        self._reactions.append(reaction)
        return len(self._reactions) - 1

    @property
    def reactions(self) -> List[Reaction]:
        """The reactions, in record order."""
        return list(self._reactions)

    def add_reaction_set(self, kinetic: Sequence[int] = (), equilibrium: Sequence[int] = (),
                         where: Optional[ArrayLike] = None) -> int:
        """Add a reaction set and give it to nodes.

        Parameters
        ----------
        kinetic : sequence of int
            Numbers of kinetic reactions (as :meth:`add_reaction` returns
            them), integrated in this order.
        equilibrium : sequence of int
            Numbers of equilibrium reactions, brought to equilibrium in this
            order in every sweep (a later one sees what an earlier one set).
        where : array_like of bool, optional
            Shape (rows, cols): the nodes that use the set, replacing the set
            they had; every node when None. Nodes given no set use an empty
            one.

        Returns
        -------
        int
            The set's number (0 for the first set added).

        Raises
        ------
        ValueError
            For a number that is no reaction, a kinetic reaction among the
            equilibrium ones or the other way round, a wrong mask, or a 257th
            set (a node keeps only sets 0..255).
        """
        lists = {}
        for argument, numbers, wanted in (("equilibrium", equilibrium, True),
                                          ("kinetic", kinetic, False)):
            if isinstance(numbers, (str, bytes)) or not isinstance(numbers, Sequence):
                _fail(argument, numbers, "must be a list of reaction numbers")
            for k, number in enumerate(numbers):
                _integer(f"{argument}[{k}]", number, 0, len(self._reactions) - 1)
                reaction = self._reactions[number]
                if reaction.equilibrium != wanted:
                    _fail(f"{argument}[{k}]", number,
                          f"reaction {number} ({type(reaction).__name__}) is "
                          f"{reaction.kind_name}; list it among the {reaction.kind_name} "
                          "reactions")
            lists[argument] = tuple(int(n) for n in numbers)
        mask = np.ones(self.shape, dtype=bool) if where is None else self._mask("where", where)
        if len(self._sets) >= _MAX_NODE_SETS:
            _fail("add_reaction_set", len(self._sets), f"a node keeps only sets "
                  f"0..{_MAX_NODE_SETS - 1}")
        self._sets.append(ReactionSet(equilibrium=lists["equilibrium"],
                                      kinetic=lists["kinetic"]))
        self._node_set[mask] = len(self._sets) - 1
        return len(self._sets) - 1

    @property
    def reaction_sets(self) -> List[ReactionSet]:
        """The reaction sets, by number (without the empty set of nodes given none)."""
        return list(self._sets)

    def node_reaction_sets(self) -> np.ndarray:
        """The set of every node as written, shape (rows, cols).

        Nodes given no set get the number of the empty set written after the
        others.
        """
        return np.where(self._node_set == _NO_SET, len(self._sets), self._node_set)

    def _reaction_porosity(self, number: int) -> Optional[float]:
        """The one porosity of the nodes whose set lists the reaction, when it needs one.

        A sorption whose kd is per mass of solid becomes the engine's Kd per
        pore water with the porosity (:func:`kova.reactions.engine_kd`); a
        record holds one Kd, so its nodes must share one porosity. A
        reaction no node uses is written with the porosity of the grid.
        """
        reaction = self._reactions[number]
        if not reaction.needs_porosity:
            return None
        sets = [q for q, s in enumerate(self._sets) if number in s.equilibrium + s.kinetic]
        users = np.isin(self._node_set, sets)
        if not users.any():
            users = np.ones(self.shape, dtype=bool)
        values = np.unique(self._values["porosity"][users])
        values = values[~np.isnan(values)]
        if values.size > 1:
            _fail("bulk_density", reaction.bulk_density, f"reaction {number} "
                  f"({type(reaction).__name__}) converts kd with the porosity, but its nodes "
                  f"have porosities {values[0]!r} and {values[1]!r}; give each porosity "
                  "its own reaction and set, or the engine's kd without bulk_density")
        return float(values[0]) if values.size else None

    def _written_sets(self) -> List[ReactionSet]:
        if (self._node_set == _NO_SET).any():
            return self._sets + [ReactionSet()]
        return list(self._sets)

    # -- writing ------------------------------------------------------------

    def validate(self) -> None:
        """Check the whole model as writing needs it.

        Raises
        ------
        ValueError
            Naming the argument and the value: porosity not set where a node
            needs it, a well at a fixed-head node (the run replaces that
            node's source), an observation well naming an unknown entry, an
            empty time span for the records, a reaction naming an entry the
            model does not have, a reaction in the wrong list of a set that
            nodes use.
        """
        if np.isnan(self._values["porosity"]).any():
            i, j = np.argwhere(np.isnan(self._values["porosity"]))[0]
            _fail("porosity", None, f"not set at node ({i}, {j}); set it with "
                  "model.set('porosity', value)")
        for well in self._wells:
            if self._fixed[well.row, well.col]:
                _fail("add_well", (well.row, well.col), "the node holds a fixed head, whose "
                      "source the run computes; the well would be lost")
        for recharge in self._recharge:
            for i, j in self._recharged_nodes(recharge):
                if self._fixed[i, j]:
                    _fail("add_recharge", (i, j), "the node holds a fixed head, whose source "
                          "the run computes; the recharge would be lost")
        named = [r.name is not None for r in self._reactions]
        if any(named) and not all(named):
            number = named.index(False)
            _fail("name", None, f"reaction {number} ({type(self._reactions[number]).__name__}) "
                  "has no name while others have: name every reaction or none")
        names_given = [r.name for r in self._reactions if r.name is not None]
        for number, name in enumerate(names_given):
            if names_given.index(name) != number:
                _fail("name", name, f"reactions {names_given.index(name)} and {number} have "
                      "the same name")
        for number in range(len(self._reactions)):
            self._reaction_porosity(number)
        state = self.state()
        for k, name in enumerate(self.entry_names):
            self._check_values(name, state[:, :, k])
        names = self.entry_names
        index_of = self._index_of()
        for number, reaction in enumerate(self._reactions):
            for argument, name in reaction.entries_named():
                try:
                    index_of(argument, name)
                except ValueError as error:
                    raise ValueError(f"{error} (reaction {number})") from None
        used = set(np.unique(self._node_set).tolist())
        for q, reaction_set in enumerate(self._sets):
            if q not in used:
                continue        # a run never reaches it; the engine only notes it
            for kind, numbers in (("equilibrium", reaction_set.equilibrium),
                                  ("kinetic", reaction_set.kinetic)):
                for number in numbers:
                    reaction = self._reactions[number]
                    if reaction.kind_name != kind:
                        _fail(kind, number, f"reaction set {q} lists reaction {number} "
                              f"({type(reaction).__name__}, {reaction.kind_name}) among its "
                              f"{kind} reactions")
        if (self._node_set == _NO_SET).any() and len(self._sets) >= _MAX_NODE_SETS:
            i, j = np.argwhere(self._node_set == _NO_SET)[0]
            _fail("where", None, f"node ({i}, {j}) has no set and {len(self._sets)} sets "
                  "leave no number for an empty one; give every node a set")
        for well in self._observe:
            for entry in well.entries or ():
                if entry not in names:
                    _fail("entries", entry, f"observation well {well.name!r} names no entry "
                          f"of the model (known: {', '.join(names)})")
        self._check_injections(state)

    def _check_injections(self, state: np.ndarray) -> None:
        mobile = [label.name for label in self._mobile]
        positional = [f"mobile_{m}" for m in range(len(mobile))]
        for table in self._inject:
            for entry in table.concentration:
                if entry not in mobile and entry not in positional:
                    _fail("concentration", entry, "names no mobile entry of the model "
                          f"(known: {', '.join(mobile)})")
            for i, j in table.node_list():
                if not self._fixed[i, j] and not state[i, j, 1] > 0.0:
                    _fail("nodes", (i, j), f"the node's source {state[i, j, 1]!r} is not "
                          "positive: it receives no water to carry solute (add a well "
                          "with rate > 0 or set its source)")

    def model_text(self) -> str:
        """The model file's text (after :meth:`validate`)."""
        state = self.state()
        rows, cols, entries = state.shape
        step = self._computed_step_text if self.step is None else self.step
        times = (self.start_time, self.end_time, self.output_interval, step, self.opzero)
        sets = self._written_sets()
        lines = [f"{rows} {cols} {len(self._immobile)} {len(self._mobile)} "
                 f"{len(self._reactions)} {len(sets)}",
                 " ".join(_text(v) for v in times),
                 " ".join(_text(v) for v in self._row_coords),
                 " ".join(_text(v) for v in self._col_coords)]
        lines += [f"{_text(m.alpha_l)} {_text(m.alpha_t)} {_text(m.diffusion)}"
                  for m in self._mobile]
        default = np.array([_most_common(state[:, :, k]) for k in range(entries)])
        lines.append(" ".join(_text(v) for v in default))
        # Compared by bits: -0.0 and 0.0 are different numbers in the file.
        differs = state.view(np.int64) != default.view(np.int64)
        where = np.argwhere(differs)
        lines.append(str(len(where)))
        lines += [f"{i} {j} {k} {_text(state[i, j, k])}" for i, j, k in where]
        fixed = np.argwhere(self._fixed)
        lines.append(str(len(fixed)))
        lines += [f"{i} {j}" for i, j in fixed]
        index_of = self._index_of()
        lines += [reaction.record(index_of, entries, self._reaction_porosity(number))
                  for number, reaction in enumerate(self._reactions)]
        node_sets = self.node_reaction_sets()
        default = _most_common_integer(node_sets)
        others = np.argwhere(node_sets != default)
        lines += [str(default), str(len(others))]
        lines += [f"{i} {j} {node_sets[i, j]}" for i, j in others]
        lines += [" ".join(str(n) for n in [len(s.equilibrium), *s.equilibrium,
                                            len(s.kinetic), *s.kinetic]) for s in sets]
        return "\n".join(lines) + "\n"

    def extension_text(self) -> Optional[str]:
        """The extension file's text, or None when nothing needs one."""
        parts = []
        units = [(k, v) for k, v in (("length", self.length_unit), ("time", self.time_unit),
                                     ("mass", self.mass_unit)) if v is not None]
        if units:
            parts.append("[units]\n" + "".join(f"{k} = {_toml_string(v)}\n" for k, v in units))
        if self.thickness is not None:
            parts.append(f"[aquifer]\nthickness = {_text(self.thickness)}\n")
        transport = []
        if self.transport_scheme != "default":
            transport.append(f"scheme = {_toml_string(self.transport_scheme)}\n")
        if self.transport_time != "explicit":
            transport.append(f"time = {_toml_string(self.transport_time)}\n")
        if transport:
            parts.append("[transport]\n" + "".join(transport))
        output = []
        if self.checkpoint != "every record":
            output.append(f"checkpoint = {_toml_string(self.checkpoint)}\n")
        if self.record_times is not None:
            output.append("times = [" + ", ".join(map(_text, self.record_times)) + "]\n")
        elif self.exact_records:
            output.append("exact = true\n")
        if output:
            parts.append("[output]\n" + "".join(output))
        lists = []
        for kind, labels in (("immobile", self._immobile), ("mobile", self._mobile)):
            if any(e.name != f"{kind}_{k}" or e.units is not None
                   for k, e in enumerate(labels)):
                items = [_toml_string(e.name) if e.units is None else
                         f"{{ name = {_toml_string(e.name)}, units = {_toml_string(e.units)} }}"
                         for e in labels]
                lists.append(f"{kind} = [{', '.join(items)}]\n")
        if lists:
            parts.append("[entries]\n" + "".join(lists))
        if any(r.name is not None for r in self._reactions):
            names = ", ".join(_toml_string(r.name) for r in self._reactions)
            parts.append(f"[reactions]\nnames = [{names}]\n")
        for well in self._observe:
            text = f"[[observe]]\nname = {_toml_string(well.name)}\n"
            if well.row is not None:
                text += f"row = {well.row}\ncol = {well.col}\n"
            else:
                text += f"x = {_text(well.x)}\ny = {_text(well.y)}\n"
            if well.entries is not None:
                text += f"entries = [{', '.join(_toml_string(e) for e in well.entries)}]\n"
            parts.append(text)
        for table in self._inject:
            text = "[[inject]]\n"
            if table.name is not None:
                text += f"name = {_toml_string(table.name)}\n"
            if table.nodes is not None:
                text += f"nodes = [{', '.join(f'[{i}, {j}]' for i, j in table.nodes)}]\n"
            else:
                text += f"rectangle = [{', '.join(str(v) for v in table.rectangle)}]\n"
            amounts = ", ".join(f"{k} = {_text(v)}" for k, v in table.concentration.items())
            parts.append(text + f"concentration = {{ {amounts} }}\n")
        return "\n".join(parts) if parts else None

    def write(self, base: Union[str, os.PathLike]) -> None:
        """Write ``BASE.kvi`` and, when anything needs it, ``BASE.kvx``.

        The model is checked first and nothing is written if it is refused.
        Without anything for the extension file an existing ``BASE.kvx`` is
        removed, since the engine would read it with the new model.

        Each file is written whole beside its place and then put in place of
        the old one, so a write that fails (a full disk) leaves the files
        that were there as they were.

        Parameters
        ----------
        base : str or path-like
            The path without the ``.kvi`` suffix.

        Raises
        ------
        ValueError
            When the model is refused; nothing is written.
        BaseLockedError
            When a run holds the base (its lock on ``BASE.kvi``); nothing is
            written.
        OSError
            When a file cannot be written, naming it; the files there are
            left as they were.
        """
        base = os.fspath(base)
        self.validate()
        model, extension = self.model_text(), self.extension_text()
        model_path, extension_path = base + ".kvi", base + ".kvx"
        with held_base(base):
            model_aside = _written_aside(model_path, model.encode("ascii"))
            extension_aside = None
            try:
                if extension is not None:
                    extension_aside = _written_aside(extension_path, extension.encode("utf-8"))
                # The extension first: a run starting before the model file is
                # replaced finds the old one locked, one starting after it
                # finds both files new.
                if extension_aside is not None:
                    os.replace(extension_aside, extension_path)
                    extension_aside = None
                elif os.path.lexists(extension_path):
                    os.remove(extension_path)
                os.replace(model_aside, model_path)
                model_aside = None
            finally:
                for path in (model_aside, extension_aside):
                    if path is not None:
                        _remove_quietly(path)
            _sync_directory(model_path)
        self._base = base

    # -- the engine -------------------------------------------------------------

    def check(self, base: Optional[Union[str, os.PathLike]] = None) -> str:
        """Write the model and have the engine check it (``kova-compute --check``).

        Parameters
        ----------
        base : str or path-like, optional
            Where to write the model; a temporary directory, removed
            afterwards, when None.

        Returns
        -------
        str
            What the engine understood, as it prints it: the grid, counts,
            times, the range of every entry, transport, fixed heads, every
            reaction with its fields named and every reaction set with its
            nodes.

        Raises
        ------
        ValueError
            When the model is refused before anything is written.
        ModelError
            When the engine refuses the model; ``detail`` says what and where.
        """
        if base is not None:
            self.write(base)
            return check_base(os.fspath(base))
        with tempfile.TemporaryDirectory(prefix="kova-check-") as directory:
            path = os.path.join(directory, "model")
            self.write(path)
            return check_base(path)

    def run(self, base: Optional[Union[str, os.PathLike]] = None,
            threads: Optional[int] = None, progress: bool = True) -> "xarray.Dataset":
        """Write the model, run the engine on it and open the results.

        Parameters
        ----------
        base : str or path-like, optional
            Where to write the model and its results. When None: where the
            model was last read from or written to (its ``BASE.kvi`` is
            written anew there), the results read lazily from its files; for
            a model never read or written, a temporary folder, whose results
            are loaded into memory before the folder is removed.
        threads : int, optional
            Threads of the run (>= 1); all the hardware threads when None.
        progress : bool
            Show the progress: a tqdm bar when tqdm is installed, else a line
            on stderr at every status change and every tenth of the run;
            nothing when False.

        Returns
        -------
        xarray.Dataset
            The run's records, as :func:`kova.open_results` opens them
            (loaded into memory when the run was in a temporary folder).

        Raises
        ------
        ValueError
            When the model or an argument is refused before anything is written.
        RunError
            When the run fails or is cancelled; ``message``, ``detail`` and
            ``failure`` (e.g. ``Input Error``, ``Computational Error``) are
            the engine's.
        """
        if threads is not None:
            threads = _integer("threads", threads, 1)
        if not isinstance(progress, bool):
            _fail("progress", progress, "must be True or False")
        self.validate()
        if base is None and self._base is not None:
            base = self._base
        if base is not None:
            base = os.fspath(base)
            self.write(base)
            run_base(base, threads=threads, progress=progress)
            return open_results(base)
        folder = tempfile.mkdtemp(prefix="kova-run-")
        try:
            base = os.path.join(folder, "model")
            kept = self._base
            self.write(base)
            self._base = kept  # the folder goes: it is no place to run again
            run_base(base, threads=threads, progress=progress)
            with open_results(base) as results:
                return results.load()
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    # -- reading ------------------------------------------------------------

    @classmethod
    def read(cls, base: Union[str, os.PathLike]) -> "Model":
        """Read ``BASE.kvi`` and ``BASE.kvx`` (if there is one) into a Model.

        The wells of a model read back are part of its sources: the model
        file keeps no wells.

        Raises
        ------
        KovaFileError
            When a file is malformed; the message names the file and where.
        """
        base = os.fspath(base)
        contents = read_model_file(base + ".kvi")
        header = contents.header
        ext = read_extension(base + ".kvx", header.immobile, header.mobile,
                             header.row_coords, header.col_coords, len(contents.reactions))
        model = cls(row_coords=header.row_coords, col_coords=header.col_coords)
        for label in ext.immobile:
            model.add_immobile(label.name, label.units)
        for label, (alpha_l, alpha_t, diffusion) in zip(ext.mobile, contents.transport):
            model.add_mobile(label.name, label.units, alpha_l, alpha_t, diffusion)
        for k, name in enumerate(model.entry_names):
            model._values[name] = contents.state[:, :, k].copy()
        model._fixed = contents.fixed.copy()
        model.start_time, model.end_time = header.start_time, header.end_time
        model.output_interval, model.opzero = header.output_interval, header.opzero
        if header.global_step > 0.0:
            model.step = header.global_step
        else:
            model.step, model._computed_step_text = None, header.global_step
        model.length_unit, model.time_unit = ext.length_unit, ext.time_unit
        model.mass_unit = ext.mass_unit
        model.thickness = None if ext.thickness == 1.0 else ext.thickness
        model._observe = list(ext.observe)
        model.transport_scheme = ext.scheme
        model.transport_time = ext.time
        model.checkpoint = ext.checkpoint
        model.exact_records, model.record_times = ext.exact, ext.record_times
        model._inject = list(ext.inject)
        names = model.entry_names
        # As the file has them: a set in the wrong list is the file's to keep
        # until it is written again, when validate() names it.
        model._reactions = [Reaction.from_record(record, names)
                            for record in contents.reactions]
        if ext.reaction_names is not None:
            model._reactions = [dataclasses.replace(r, name=n)
                                for r, n in zip(model._reactions, ext.reaction_names)]
        model._sets = [ReactionSet(equilibrium=tuple(e), kinetic=tuple(k))
                       for e, k in contents.reaction_sets]
        model._node_set = contents.reaction_set.astype(np.int64)
        model._base = os.fspath(base)
        return model


def _written_aside(path: str, data: bytes) -> str:
    """Write data to a new file in path's directory, on disk; the file's path.

    The new file gets the permissions of the file it is to replace, or those
    a new file gets.

    Raises
    ------
    OSError
        Naming ``path``; nothing is left behind.
    """
    directory, name = os.path.split(path)
    try:
        mode = stat.S_IMODE(os.stat(path).st_mode)
    except OSError:
        mode = None
    for _ in range(100):
        aside = os.path.join(directory, f".{name}.{secrets.token_hex(4)}.tmp")
        try:
            fd = os.open(aside, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            break
        except FileExistsError:
            continue
        except OSError as error:
            raise OSError(error.errno, error.strerror, path) from None
    else:
        raise FileExistsError(errno.EEXIST, "no free name for the file written aside", path)
    try:
        with os.fdopen(fd, "wb") as handle:
            if mode is not None:
                os.fchmod(handle.fileno(), mode)
            handle.write(data)
            handle.flush()
            os.fsync(handle.fileno())
    except OSError as error:
        _remove_quietly(aside)
        raise OSError(error.errno, error.strerror, path) from None
    except BaseException:
        _remove_quietly(aside)
        raise
    return aside


def _remove_quietly(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def _sync_directory(path: str) -> None:
    """Put the directory's new entries on disk, where the system allows it."""
    try:
        fd = os.open(os.path.dirname(path) or ".", os.O_RDONLY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def _most_common_integer(values: np.ndarray) -> int:
    """The most common number; the smallest on a tie."""
    numbers, counts = np.unique(values, return_counts=True)
    return int(numbers[np.argmax(counts)])


def _most_common(values: np.ndarray) -> float:
    """The most common value by its bits; the smallest bits on a tie."""
    bits, counts = np.unique(values.view(np.int64), return_counts=True)
    return float(bits[np.argmax(counts):np.argmax(counts) + 1].view(np.float64)[0])
