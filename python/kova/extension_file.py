"""What the results need from the extension file ``BASE.kvx``.

The extension file (TOML) gives unit labels, the aquifer thickness and the
entries' names and units. Every key read here is checked as the engine
checks it, so names and units in the results are the ones a run used.
Observation wells are checked against the grid when its coordinates are
given, as the model builder needs them; the results only need the table to
be an array of tables.
"""

from __future__ import annotations

import math
import os
import re
import tomllib
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple

import numpy as np

from .errors import KovaFileError
from .model_file import HYDRAULIC_ENTRIES

_NAME = re.compile(r"[A-Za-z0-9_-]+")
_NAME_MAX_CHARS = 64
_REACTION_NAME = re.compile(r"[A-Za-z0-9_]{1,64}")
_LABEL_MAX_CHARS = 40
RESERVED_NAMES = frozenset(HYDRAULIC_ENTRIES + ("water", "time"))
# Arrays and inline tables the engine's TOML reader takes inside each other.
MAX_NESTED_VALUES = 256


@dataclass(frozen=True)
class EntryLabel:
    """An immobile or mobile entry's name and unit label (None: no label)."""

    name: str
    units: Optional[str] = None


@dataclass(frozen=True)
class ObservationWell:
    """A well named in the extension file, placed as the file places it.

    Attributes
    ----------
    name : str
        The well's name.
    row, col : int or None
        The well's node, when given by index.
    x, y : float or None
        The well's point (x along the columns, y along the rows), when given
        by coordinates; the engine takes the nearest node.
    entries : list of str or None
        The entries written for the well; None for every immobile and
        mobile entry.
    """

    name: str
    row: Optional[int] = None
    col: Optional[int] = None
    x: Optional[float] = None
    y: Optional[float] = None
    entries: Optional[List[str]] = None


SCHEMES = ("default", "symmetric", "tvd")
TIMES = ("explicit", "implicit")


@dataclass(frozen=True)
class Injection:
    """An ``[[inject]]`` table: the concentration of mobile entries in the
    water that nodes with a positive source receive.

    Attributes
    ----------
    name : str or None
        The table's name, when given.
    nodes : list of (int, int) or None
        The nodes as (row, col), when given as a list.
    rectangle : (int, int, int, int) or None
        first_row, first_col, last_row, last_col (inclusive), when given so.
    concentration : dict of str to float
        Mobile entry name -> concentration of the injected water.
    """

    name: Optional[str] = None
    nodes: Optional[List[Tuple[int, int]]] = None
    rectangle: Optional[Tuple[int, int, int, int]] = None
    concentration: Dict[str, float] = field(default_factory=dict)

    def node_list(self) -> List[Tuple[int, int]]:
        """Every node of the table, rectangle or list, as (row, col)."""
        if self.nodes is not None:
            return list(self.nodes)
        r0, c0, r1, c1 = self.rectangle  # type: ignore[misc]
        return [(r, c) for r in range(r0, r1 + 1) for c in range(c0, c1 + 1)]


@dataclass(frozen=True)
class Extension:
    """Unit labels, thickness and entry labels; defaults without the file.

    Attributes
    ----------
    path : str or None
        The file read, None when there is none.
    length_unit, time_unit, mass_unit : str or None
        The unit labels given.
    thickness : float
        The aquifer thickness (1 by default).
    immobile, mobile : list of EntryLabel
        One label per entry of the model, in state order.
    observe : list of ObservationWell
        The observation wells, in the file's order.
    scheme : str
        The transport scheme: "default", "symmetric" or "tvd".
    inject : list of Injection
        The ``[[inject]]`` tables, in the file's order.
    time : str
        How the transport takes each step: "explicit" (the default) or
        "implicit" (backward Euler).
    reaction_names : list of str or None
        ``[reactions] names``: one name per reaction record, in record
        order; None when the file names none.
    checkpoint : str
        ``[output] checkpoint``: "every record" (the default), "every N
        records" or "none".
    exact : bool
        ``[output] exact`` (or ``times`` given): the records land on their
        output times.
    record_times : list of float or None
        ``[output] times``: the times of the records after the start.
    """

    path: Optional[str]
    length_unit: Optional[str] = None
    time_unit: Optional[str] = None
    mass_unit: Optional[str] = None
    thickness: float = 1.0
    immobile: List[EntryLabel] = field(default_factory=list)
    mobile: List[EntryLabel] = field(default_factory=list)
    observe: List[ObservationWell] = field(default_factory=list)
    scheme: str = "default"
    inject: List[Injection] = field(default_factory=list)
    time: str = "explicit"
    reaction_names: Optional[List[str]] = None
    checkpoint: str = "every record"
    exact: bool = False
    record_times: Optional[List[float]] = None


_EVERY_N_RECORDS = re.compile(r"every [1-9][0-9]{0,8} records")


def checkpoint_error(value: Any) -> Optional[str]:
    """Why value is no ``[output] checkpoint``; None when it is one."""
    if not isinstance(value, str):
        return f"must be a string, not {_type_name(value)}"
    if value in ("every record", "none") or _EVERY_N_RECORDS.fullmatch(value):
        return None
    return ('must be "every record", "every N records" (N a whole number from 1 to '
            f'999999999) or "none", not {value!r}')


def _type_name(value: Any) -> str:
    if isinstance(value, dict):
        return "a table"
    if isinstance(value, list):
        return "an array"
    if isinstance(value, str):
        return "a string"
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, int):
        return "an integer"
    if isinstance(value, float):
        return "a number"
    return "a date or time"


class _Checker:
    """Checks values, failing with the file and the key."""

    def __init__(self, path: str) -> None:
        self.path = path

    def fail(self, key: str, why: str) -> None:
        raise KovaFileError(f"{self.path}: key {key}: {why}")

    def table(self, value: Any, key: str, known: Iterable[str]) -> Dict[str, Any]:
        if not isinstance(value, dict):
            self.fail(key, f"must be a table, not {_type_name(value)}")
        known = tuple(known)
        prefix = f"{key}." if key else ""
        for name in value:
            if name not in known:
                self.fail(prefix + name, f"unknown key (known here: {', '.join(known)})")
        return value

    def label(self, value: Any, key: str) -> str:
        if not isinstance(value, str):
            self.fail(key, f"must be a string, not {_type_name(value)}")
        if not 1 <= len(value.encode("utf-8")) <= _LABEL_MAX_CHARS:
            self.fail(key, f"a label of 1..{_LABEL_MAX_CHARS} characters, not {value!r}")
        if any(ord(c) < 0x20 or ord(c) == 0x7F or c in ',"' for c in value):
            self.fail(key, f"{value!r} holds a control character, a comma or a quote")
        return value

    def name(self, value: Any, key: str) -> str:
        if not isinstance(value, str):
            self.fail(key, f"must be a string, not {_type_name(value)}")
        if not 1 <= len(value.encode("utf-8")) <= _NAME_MAX_CHARS:
            self.fail(key, f"a name of 1..{_NAME_MAX_CHARS} characters, not {value!r}")
        if not _NAME.fullmatch(value):
            self.fail(key, f"{value!r} may hold letters, digits, '_' and '-' only")
        return value

    def number(self, value: Any, key: str) -> float:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            self.fail(key, f"must be a number, not {_type_name(value)}")
        return float(value)


def _entry_list(check: _Checker, value: Any, key: str, count: int,
                taken: set) -> List[EntryLabel]:
    if not isinstance(value, list):
        check.fail(key, f"must be an array of names, not {_type_name(value)}")
    if len(value) != count:
        check.fail(key, f"{len(value)} names for the {count} entries of the model")
    labels = []
    for i, item in enumerate(value):
        where = f"{key}[{i}]"
        if isinstance(item, dict):
            check.table(item, where, ("name", "units"))
            if "name" not in item:
                check.fail(where, "the entry's table has no name")
            label = EntryLabel(check.name(item["name"], where + ".name"),
                               check.label(item["units"], where + ".units")
                               if "units" in item else None)
        elif isinstance(item, str):
            label = EntryLabel(check.name(item, where))
        else:
            check.fail(where, "must be a name or a table { name = ..., units = ... }, not "
                       + _type_name(item))
        if label.name in RESERVED_NAMES:
            check.fail(where, f"{label.name!r} names a quantity of its own")
        if label.name in taken:
            check.fail(where, f"the name {label.name!r} is given twice")
        taken.add(label.name)
        labels.append(label)
    return labels


def default_labels(prefix: str, count: int) -> List[EntryLabel]:
    """The positional names ``prefix_0``, ``prefix_1``, ... without units."""
    return [EntryLabel(f"{prefix}_{k}") for k in range(count)]


def axis_extent(coords: Sequence[float]) -> Tuple[float, float]:
    """The reach of the outer cells along one axis: half a width past the
    outer nodes, a single node's cell being 1 wide."""
    if len(coords) == 1:
        return coords[0] - 0.5, coords[0] + 0.5
    return (coords[0] - 0.5 * (coords[1] - coords[0]),
            coords[-1] + 0.5 * (coords[-1] - coords[-2]))


def _well(check: _Checker, value: Dict[str, Any], where: str, names: List[str],
          coords: Optional[Tuple[np.ndarray, np.ndarray]]) -> ObservationWell:
    check.table(value, where, ("name", "row", "col", "x", "y", "entries"))
    if "name" not in value:
        check.fail(where, "the well has no name")
    name = check.name(value["name"], where + ".name")
    if name in RESERVED_NAMES:
        check.fail(where + ".name", f"{name!r} names a quantity of its own")
    by_index = "row" in value or "col" in value
    by_point = "x" in value or "y" in value
    if by_index and by_point:
        check.fail(where, "give row and col, or x and y, not both")
    place: Dict[str, Any] = {}
    if by_index:
        if "row" not in value or "col" not in value:
            check.fail(where, "row and col must both be given")
        for key, count in (("row", 0), ("col", 1)):
            index = value[key]
            if isinstance(index, bool) or not isinstance(index, int):
                check.fail(f"{where}.{key}", f"must be an integer, not {_type_name(index)}")
            if coords is not None and not 0 <= index < len(coords[count]):
                check.fail(f"{where}.{key}", f"{index} outside 0..{len(coords[count]) - 1}")
            place[key] = index
    else:
        if "x" not in value or "y" not in value:
            check.fail(where, "the well needs row and col, or x and y")
        for key, axis in (("x", 1), ("y", 0)):
            point = check.number(value[key], f"{where}.{key}")
            if coords is not None:
                low, high = axis_extent(coords[axis])
                if not low <= point <= high:
                    check.fail(f"{where}.{key}", f"{point!r} outside the grid ({key} from "
                               f"{low!r} to {high!r})")
            place[key] = point
    entries = None
    if "entries" in value:
        entries = value["entries"]
        if not isinstance(entries, list) or not entries:
            check.fail(where + ".entries", "must be a non-empty array of entry names")
        for i, entry in enumerate(entries):
            key = f"{where}.entries[{i}]"
            if not isinstance(entry, str):
                check.fail(key, f"must be a string, not {_type_name(entry)}")
            if entry not in names:
                check.fail(key, f"{entry!r} names no entry of the model")
            if entries.index(entry) != i:
                check.fail(key, f"{entry!r} is given twice")
        entries = list(entries)
    return ObservationWell(name, entries=entries, **place)


def read_extension(path: str, immobile: int, mobile: int,
                   row_coords: Optional[np.ndarray] = None,
                   col_coords: Optional[np.ndarray] = None,
                   reactions: Optional[int] = None) -> Extension:
    """Read an extension file, or give the defaults when there is none.

    Parameters
    ----------
    path : str
        The ``BASE.kvx`` file; a missing file gives the defaults.
    immobile, mobile : int
        The model's counts, which the entry lists must match.
    row_coords, col_coords : numpy.ndarray, optional
        The grid's coordinates; given, the observation wells are checked to
        lie on the grid.
    reactions : int, optional
        The model's reaction records; given, ``[reactions] names`` must hold
        as many names.

    Returns
    -------
    Extension
        The labels, with the positional names where the file gives none.

    Raises
    ------
    KovaFileError
        When the file is not TOML or a key is unknown, of the wrong type or
        out of range; the message names the file and the key.
    """
    if not os.path.lexists(path):
        return Extension(None, immobile=default_labels("immobile", immobile),
                         mobile=default_labels("mobile", mobile))
    if not os.path.isfile(path):
        raise KovaFileError(f"{path}: the extension file is not a regular file")
    try:
        with open(path, "rb") as handle:
            root = tomllib.load(handle)
    except OSError as error:
        raise KovaFileError(f"{path}: the extension file cannot be read: "
                            f"{error.strerror}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise KovaFileError(f"{path}: not a TOML file: {error}") from None
    except RecursionError:
        # tomllib recurses once per nested array or inline table: from a
        # caller of ordinary depth Python's limit lies far past the engine's,
        # so the engine's words hold.
        raise KovaFileError(f"{path}: not a TOML file: exceeded maximum nested value depth "
                            f"of {MAX_NESTED_VALUES}") from None
    check = _Checker(path)
    check.table(root, "", ("units", "aquifer", "entries", "observe", "transport", "inject",
                           "reactions", "output"))
    units: Dict[str, Optional[str]] = {"length": None, "time": None, "mass": None}
    if "units" in root:
        table = check.table(root["units"], "units", units)
        for key in table:
            units[key] = check.label(table[key], f"units.{key}")
    thickness = 1.0
    if "aquifer" in root:
        table = check.table(root["aquifer"], "aquifer", ("thickness",))
        if "thickness" in table:
            thickness = check.number(table["thickness"], "aquifer.thickness")
            if not (math.isfinite(thickness) and thickness > 0.0):
                check.fail("aquifer.thickness", "must be a finite number > 0")
    lists: Tuple[List[EntryLabel], List[EntryLabel]] = (
        default_labels("immobile", immobile), default_labels("mobile", mobile))
    if "entries" in root:
        table = check.table(root["entries"], "entries", ("immobile", "mobile"))
        taken: set = set()
        lists = tuple(_entry_list(check, table[kind], f"entries.{kind}", count, taken)
                      if kind in table else default
                      for kind, count, default in (("immobile", immobile, lists[0]),
                                                   ("mobile", mobile, lists[1])))
        # The default names keep finding their entries beside the given ones,
        # as in the engine: a given name that is another entry's default name
        # would stand for two entries.
        defaults = {f"{kind}_{k}": (kind, k)
                    for kind, count in (("immobile", immobile), ("mobile", mobile))
                    for k in range(count)}
        for kind, labels in (("immobile", lists[0]), ("mobile", lists[1])):
            for k, label in enumerate(labels):
                if defaults.get(label.name, (kind, k)) != (kind, k):
                    check.fail(f"entries.{kind}[{k}]", f"the name {label.name!r} is also the "
                               "default name of another entry: one name would stand for two "
                               "entries")
    wells: List[ObservationWell] = []
    if "observe" in root:
        if not (isinstance(root["observe"], list) and
                all(isinstance(w, dict) for w in root["observe"])):
            check.fail("observe", "must be an array of tables ([[observe]])")
        names = list(HYDRAULIC_ENTRIES) + [label.name for labels in lists for label in labels]
        coords = None
        if row_coords is not None and col_coords is not None:
            coords = (row_coords, col_coords)
        for i, value in enumerate(root["observe"]):
            well = _well(check, value, f"observe[{i}]", names, coords)
            if any(w.name == well.name for w in wells):
                check.fail(f"observe[{i}].name", f"the well name {well.name!r} is given twice")
            wells.append(well)
    scheme = "default"
    time = "explicit"
    if "transport" in root:
        table = check.table(root["transport"], "transport", ("scheme", "time"))
        if "time" in table:
            time = table["time"]
            if not isinstance(time, str):
                check.fail("transport.time", f"must be a string, not {_type_name(time)}")
            if time not in TIMES:
                check.fail("transport.time", 'must be "explicit" or "implicit"')
        if "scheme" in table:
            scheme = table["scheme"]
            if not isinstance(scheme, str):
                check.fail("transport.scheme", f"must be a string, not {_type_name(scheme)}")
            if scheme not in SCHEMES:
                check.fail("transport.scheme", 'must be "default", "symmetric" or "tvd"')
    inject: List[Injection] = []
    if "inject" in root:
        if not (isinstance(root["inject"], list) and
                all(isinstance(t, dict) for t in root["inject"])):
            check.fail("inject", "must be an array of tables ([[inject]])")
        shape = None
        if row_coords is not None and col_coords is not None:
            shape = (len(row_coords), len(col_coords))
        mobile_names = [label.name for label in lists[1]]
        for i, value in enumerate(root["inject"]):
            inject.append(_injection(check, value, f"inject[{i}]", mobile_names, shape))
        _check_injected_once(check, inject)
    reaction_names = None
    if "reactions" in root:
        table = check.table(root["reactions"], "reactions", ("names",))
        if "names" in table:
            reaction_names = _reaction_names(check, table["names"], reactions)
    checkpoint = "every record"
    exact = False
    record_times = None
    if "output" in root:
        table = check.table(root["output"], "output", ("checkpoint", "exact", "times"))
        if "checkpoint" in table:
            checkpoint = table["checkpoint"]
            why = checkpoint_error(checkpoint)
            if why:
                check.fail("output.checkpoint", why)
        if "exact" in table:
            exact = table["exact"]
            if not isinstance(exact, bool):
                check.fail("output.exact", f"must be true or false, not {_type_name(exact)}")
            if "times" in table:
                check.fail("output.exact", "goes with the output interval; output.times are "
                                           "exact times of their own")
        if "times" in table:
            record_times = _record_times(check, table["times"])
            exact = True
    return Extension(path, units["length"], units["time"], units["mass"], thickness,
                     list(lists[0]), list(lists[1]), wells, scheme, inject, time,
                     reaction_names, checkpoint, exact, record_times)


def _record_times(check: _Checker, value: Any) -> List[float]:
    """``[output] times``: finite numbers, strictly ascending (the model's
    start and end times are the engine's to check)."""
    if not isinstance(value, list) or not value:
        check.fail("output.times", "must be an array of at least one time")
    times: List[float] = []
    for i, t in enumerate(value):
        key = f"output.times[{i}]"
        if isinstance(t, bool) or not isinstance(t, (int, float)) or not math.isfinite(t):
            check.fail(key, f"must be a finite number, not {t!r}")
        if times and not t > times[-1]:
            check.fail(key, f"{t!r} is not after the time before it, {times[-1]!r}")
        times.append(float(t))
    return times


def _reaction_names(check: _Checker, value: Any, count: Optional[int]) -> List[str]:
    key = "reactions.names"
    if not isinstance(value, list):
        check.fail(key, f"must be an array of names, not {_type_name(value)}")
    if count is not None and len(value) != count:
        check.fail(key, f"{len(value)} names for the {count} reaction records of the model")
    names: List[str] = []
    for k, name in enumerate(value):
        where = f"{key}[{k}]"
        if not isinstance(name, str):
            check.fail(where, f"must be a string, not {_type_name(name)}")
        if not _REACTION_NAME.fullmatch(name):
            check.fail(where, f"a reaction's name is 1..{_NAME_MAX_CHARS} letters, digits or "
                       f"'_', not {name!r}")
        if name in names:
            check.fail(where, f"the name {name!r} is given to reactions {names.index(name)} "
                       f"and {k}")
        names.append(name)
    return names


def _index(check: _Checker, value: Any, key: str, count: Optional[int]) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        check.fail(key, f"must be an integer, not {_type_name(value)}")
    if count is not None and not 0 <= value < count:
        check.fail(key, f"{value} outside 0..{count - 1}")
    return value


def _injection(check: _Checker, value: Dict[str, Any], where: str, mobile: List[str],
               shape: Optional[Tuple[int, int]]) -> Injection:
    check.table(value, where, ("name", "nodes", "rectangle", "concentration"))
    name = check.name(value["name"], where + ".name") if "name" in value else None
    rows, cols = shape if shape is not None else (None, None)
    nodes = rectangle = None
    if ("nodes" in value) == ("rectangle" in value):
        check.fail(where, "give nodes or rectangle, one of the two")
    if "nodes" in value:
        if not isinstance(value["nodes"], list) or not value["nodes"]:
            check.fail(where + ".nodes", "must be a non-empty array of [row, col] pairs")
        nodes = []
        for j, pair in enumerate(value["nodes"]):
            key = f"{where}.nodes[{j}]"
            if not isinstance(pair, list) or len(pair) != 2:
                check.fail(key, "must be a pair [row, col]")
            nodes.append((_index(check, pair[0], key + "[0]", rows),
                          _index(check, pair[1], key + "[1]", cols)))
    else:
        box = value["rectangle"]
        if not isinstance(box, list) or len(box) != 4:
            check.fail(where + ".rectangle",
                       "must be [first_row, first_col, last_row, last_col]")
        counts = (rows, cols, rows, cols)
        rectangle = tuple(_index(check, v, f"{where}.rectangle[{j}]", counts[j])
                          for j, v in enumerate(box))
        if rectangle[0] > rectangle[2] or rectangle[1] > rectangle[3]:
            check.fail(where + ".rectangle", "the first row and column must not lie past "
                       "the last")
    if "concentration" not in value:
        check.fail(where, "the table gives no concentration")
    # An entry is named by its name or by its position, as anywhere else.
    positional = [f"mobile_{m}" for m in range(len(mobile))]
    table = check.table(value["concentration"], where + ".concentration",
                        list(dict.fromkeys(mobile + positional)))
    if not table:
        check.fail(where + ".concentration", "names no entry")
    concentration = {}
    named: Dict[int, str] = {}
    for entry, amount in table.items():
        index = mobile.index(entry) if entry in mobile else positional.index(entry)
        if index in named:
            check.fail(f"{where}.concentration.{entry}",
                       f"names the entry {named[index]!r} names already")
        named[index] = entry
        number = check.number(amount, f"{where}.concentration.{entry}")
        if not (math.isfinite(number) and number >= 0.0):
            check.fail(f"{where}.concentration.{entry}", "must be a finite number >= 0")
        concentration[entry] = number
    return Injection(name, nodes, rectangle, concentration)


def _check_injected_once(check: _Checker, inject: List[Injection]) -> None:
    seen: Dict[Tuple[int, int], int] = {}
    names: set = set()
    for i, table in enumerate(inject):
        if table.name is not None:
            if table.name in names:
                check.fail(f"inject[{i}].name", f"the name {table.name!r} is given twice")
            names.add(table.name)
        for node in table.node_list():
            if node in seen:
                check.fail(f"inject[{i}]", f"node ({node[0]}, {node[1]}) is injected by "
                           f"inject[{seen[node]}] already")
            seen[node] = i
