"""What the results need from the model file ``BASE.kvi``.

The model file is a stream of positional numbers. The result files say
nothing about the grid's coordinates, the entries per node or the times of
an unfinished run, so they are taken from its leading fields (1 to 13).
Numbers are read as the engine reads them: integers in the base their prefix
gives (``0x`` hexadecimal, a leading ``0`` octal), reals as decimal numbers.
A token the engine would not read the same way is refused rather than
guessed at.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from typing import Iterator, List, Tuple

import numpy as np

from .errors import KovaFileError

HYDRAULIC_ENTRIES = ("head", "source", "porosity", "k_row", "k_col",
                     "flux_row", "flux_col")

_INTEGER = re.compile(r"[+-]?(?:0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)")
_REAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_INT32_MIN, _INT32_MAX = -2**31, 2**31 - 1


@dataclass(frozen=True)
class ModelHeader:
    """The grid, the make-up of the state vector and the times of a model.

    Attributes
    ----------
    path : str
        The model file read.
    rows, cols : int
        Nodes along the row index i and the column index j.
    immobile, mobile : int
        Immobile and mobile components per node.
    reactions, reaction_sets : int
        Counts of the reaction and reaction-set records.
    start_time, end_time, output_interval, global_step, opzero : float
        Fields 7 to 11, as given.
    row_coords, col_coords : numpy.ndarray
        Coordinate of each row (y) and of each column (x).
    """

    path: str
    rows: int
    cols: int
    immobile: int
    mobile: int
    reactions: int
    reaction_sets: int
    start_time: float
    end_time: float
    output_interval: float
    global_step: float
    opzero: float
    row_coords: np.ndarray
    col_coords: np.ndarray

    @property
    def entries_per_node(self) -> int:
        """Values per node: the hydraulic ones, immobile, then mobile."""
        return len(HYDRAULIC_ENTRIES) + self.immobile + self.mobile

    @property
    def nodes(self) -> int:
        """Nodes of the grid."""
        return self.rows * self.cols

    @property
    def record_bytes(self) -> int:
        """Bytes of one record of ``BASE.kvo``."""
        return self.nodes * self.entries_per_node * 8


class _Tokens:
    """Whitespace-separated tokens with the line each stands on."""

    def __init__(self, path: str, lines: Iterator[str]) -> None:
        self._path = path
        self._tokens = self._generate(lines)

    @staticmethod
    def _generate(lines: Iterator[str]) -> Iterator[Tuple[str, int]]:
        for number, line in enumerate(lines, start=1):
            for token in line.split():
                yield token, number

    def _next(self, what: str) -> Tuple[str, int]:
        try:
            return next(self._tokens)
        except StopIteration:
            raise KovaFileError(f"{self._path}: the file ends before {what}") from None

    def integer(self, what: str) -> int:
        """Read one integer, refusing what the engine would not read as one."""
        return self.integer_at(what)[0]

    def integer_at(self, what: str) -> Tuple[int, int]:
        """Read one integer and the line it stands on."""
        token, line = self._next(what)
        if not _INTEGER.fullmatch(token):
            raise KovaFileError(f"{self._path} line {line}: {what} is {token!r}, not an "
                                "integer (a leading 0 makes it octal, 0x hexadecimal)")
        body = token.lstrip("+-")
        if body[:2].lower() == "0x":
            value = int(body, 16)
        elif len(body) > 1 and body[0] == "0":
            value = int(body, 8)
        else:
            value = int(body)
        if token.startswith("-"):
            value = -value
        if not _INT32_MIN <= value <= _INT32_MAX:
            raise KovaFileError(f"{self._path} line {line}: {what} {token} does not fit "
                                "in 32 bits")
        return value, line

    def real(self, what: str) -> Tuple[float, int]:
        """Read one decimal real and the line it stands on."""
        token, line = self._next(what)
        if not _REAL.fullmatch(token):
            raise KovaFileError(f"{self._path} line {line}: {what} is {token!r}, not a "
                                "decimal number")
        value = float(token)
        if math.isinf(value):
            raise KovaFileError(f"{self._path} line {line}: {what} {token} overflows a "
                                "double")
        return value, line


def _coordinates(tokens: _Tokens, path: str, count: int, field: str) -> np.ndarray:
    values = np.empty(count)
    lines = []
    for k in range(count):
        values[k], line = tokens.real(f"{field} index {k}")
        lines.append(line)
    for k in range(1, count):
        if not values[k] > values[k - 1]:
            raise KovaFileError(f"{path} line {lines[k]}: {field} do not increase strictly "
                                f"at index {k} ({values[k - 1]!r} then {values[k]!r})")
    return values


def read_model_header(path: str) -> ModelHeader:
    """Read fields 1 to 13 of a model file and check them.

    Parameters
    ----------
    path : str
        The ``BASE.kvi`` file.

    Returns
    -------
    ModelHeader
        The counts, times and coordinates.

    Raises
    ------
    KovaFileError
        When the file cannot be read or a field is malformed or out of range;
        the message names the file, the line and the field.
    """
    try:
        handle = open(path, encoding="ascii", errors="strict")
    except OSError as error:
        raise KovaFileError(f"{path}: the model file cannot be read: {error.strerror}") from None
    with handle:
        try:
            return _read_header(path, _Tokens(path, handle))
        except UnicodeDecodeError as error:
            raise KovaFileError(f"{path}: byte {error.start} of a line is not ASCII; the model "
                                "file holds numbers only") from None


def _read_header(path: str, tokens: _Tokens) -> ModelHeader:
    counts = {}
    for field, name, lowest in ((1, "rows", 1), (2, "columns", 1), (3, "immobile", 0),
                                (4, "mobile", 0), (5, "reactions", 0),
                                (6, "reaction sets", 0)):
        value = tokens.integer(f"{name} (field {field})")
        if value < lowest:
            raise KovaFileError(f"{path}: {name} {value} below {lowest} (field {field})")
        counts[name] = value
    times = {}
    for field, name in ((7, "start time"), (8, "end time"), (9, "output interval"),
                        (10, "global step"), (11, "opzero")):
        times[name], line = tokens.real(f"{name} (field {field})")
        if name in ("output interval", "opzero") and not times[name] > 0.0:
            raise KovaFileError(f"{path} line {line}: {name} {times[name]!r} not above 0 "
                                f"(field {field})")
    rows = _coordinates(tokens, path, counts["rows"], "row coordinates (field 12)")
    cols = _coordinates(tokens, path, counts["columns"], "column coordinates (field 13)")
    return ModelHeader(path=path, rows=counts["rows"], cols=counts["columns"],
                       immobile=counts["immobile"], mobile=counts["mobile"],
                       reactions=counts["reactions"], reaction_sets=counts["reaction sets"],
                       start_time=times["start time"], end_time=times["end time"],
                       output_interval=times["output interval"],
                       global_step=times["global step"], opzero=times["opzero"],
                       row_coords=rows, col_coords=cols)


@dataclass(frozen=True)
class ModelFile:
    """Everything a model file without reactions says, node by node.

    Attributes
    ----------
    header : ModelHeader
        Fields 1 to 13.
    transport : numpy.ndarray
        Field 14, shape (mobile, 3): longitudinal and transverse dispersivity
        and the diffusion coefficient of each mobile component.
    state : numpy.ndarray
        The initial state of every node, shape (rows, cols, entries): the
        default state vector with the overrides applied in order.
    fixed : numpy.ndarray
        Boolean, shape (rows, cols): the nodes that hold their head.
    reaction_set : numpy.ndarray
        The reaction set of every node (low byte of the number in the file).
    reaction_sets : list of tuple
        Per set, the equilibrium and the kinetic reaction numbers.
    """

    header: ModelHeader
    transport: np.ndarray
    state: np.ndarray
    fixed: np.ndarray
    reaction_set: np.ndarray
    reaction_sets: List[Tuple[List[int], List[int]]]


def read_model_file(path: str) -> ModelFile:
    """Read a whole model file and check it as the engine does.

    Parameters
    ----------
    path : str
        The ``BASE.kvi`` file.

    Returns
    -------
    ModelFile
        The grid, the states, the fixed heads and the reaction sets.

    Raises
    ------
    KovaFileError
        When a field is malformed or out of range; the message names the
        file, the line, the field and the record.
    NotImplementedError
        When the model holds reactions, which are not read yet.
    """
    try:
        handle = open(path, encoding="ascii", errors="strict")
    except OSError as error:
        raise KovaFileError(f"{path}: the model file cannot be read: {error.strerror}") from None
    with handle:
        try:
            tokens = _Tokens(path, handle)
            header = _read_header(path, tokens)
            return _read_body(path, tokens, header)
        except UnicodeDecodeError as error:
            raise KovaFileError(f"{path}: byte {error.start} of a line is not ASCII; the model "
                                "file holds numbers only") from None


def _node(tokens: _Tokens, path: str, header: ModelHeader, where: str) -> Tuple[int, int]:
    i, line = tokens.integer_at(f"the row of {where}")
    j = tokens.integer(f"the column of {where}")
    if not (0 <= i < header.rows and 0 <= j < header.cols):
        raise KovaFileError(f"{path} line {line}: node ({i}, {j}) of {where} outside the "
                            f"{header.rows} x {header.cols} grid")
    return i, j


def _read_body(path: str, tokens: _Tokens, header: ModelHeader) -> ModelFile:
    transport = np.empty((header.mobile, 3))
    for s in range(header.mobile):
        for q, name in enumerate(("longitudinal dispersivity", "transverse dispersivity",
                                  "diffusion coefficient")):
            value, line = tokens.real(f"{name} of mobile component {s} (field 14)")
            if not value >= 0.0:
                raise KovaFileError(f"{path} line {line}: {name} {value!r} of mobile component "
                                    f"{s} below 0 (field 14)")
            transport[s, q] = value
    entries = header.entries_per_node
    default = np.empty(entries)
    # The line each value came from, so that a refused node names its line.
    lines = np.empty((header.rows, header.cols, entries), dtype=np.int64)
    for k in range(entries):
        default[k], lines[:, :, k] = tokens.real(f"entry {k} of the default state (field 15)")
    state = np.broadcast_to(default, lines.shape).copy()
    count = tokens.integer("the state override count (field 16)")
    for r in range(max(count, 0)):
        where = f"state override {r} (field 16)"
        i, j = _node(tokens, path, header, where)
        k, line = tokens.integer_at(f"the entry of {where}")
        if not 0 <= k < entries:
            raise KovaFileError(f"{path} line {line}: state entry {k} outside 0..{entries - 1} "
                                f"in {where}")
        state[i, j, k], lines[i, j, k] = tokens.real(f"the value of {where}")
    for k, name, bad in ((2, "porosity", lambda v: ~(v > 0.0)),
                         (3, "k_row", lambda v: ~(v >= 0.0)),
                         (4, "k_col", lambda v: ~(v >= 0.0))):
        refused = np.argwhere(bad(state[:, :, k]))
        if refused.size:
            i, j = refused[0]
            why = "not above 0" if k == 2 else "below 0"
            raise KovaFileError(f"{path} line {lines[i, j, k]}: {name} {state[i, j, k]!r} of "
                                f"node ({i}, {j}) {why} (fields 15-16, entry {k})")
    fixed = np.zeros((header.rows, header.cols), dtype=bool)
    count = tokens.integer("the fixed-head count (field 17)")
    for r in range(max(count, 0)):
        fixed[_node(tokens, path, header, f"fixed-head node {r} (field 17)")] = True
    if header.reactions > 0:
        raise NotImplementedError(f"{path}: the model holds {header.reactions} reaction(s); "
                                  "models with reactions cannot be read yet")
    reaction_set = np.empty((header.rows, header.cols), dtype=np.int64)
    reaction_set[:, :], line = tokens.integer_at("the default reaction set (field 19)")
    reaction_set &= 0xFF
    count = tokens.integer("the reaction-set override count (field 20)")
    for r in range(max(count, 0)):
        where = f"reaction-set override {r} (field 20)"
        i, j = _node(tokens, path, header, where)
        reaction_set[i, j], line = tokens.integer_at(f"the set of {where}")
        reaction_set[i, j] &= 0xFF
    outside = np.argwhere(reaction_set >= header.reaction_sets)
    if outside.size:
        i, j = outside[0]
        raise KovaFileError(f"{path}: reaction set {reaction_set[i, j]} of node ({i}, {j}) "
                            f"outside 0..{header.reaction_sets - 1} (fields 19-20, low byte "
                            "kept)")
    sets = []
    for q in range(header.reaction_sets):
        lists = []
        for kind in ("equilibrium", "kinetic"):
            where = f"reaction set record {q} (field 21)"
            count, line = tokens.integer_at(f"the {kind} count of {where}")
            numbers = []
            for _ in range(max(count, 0)):
                number, line = tokens.integer_at(f"an {kind} reaction of {where}")
                if not 0 <= number < header.reactions:
                    raise KovaFileError(f"{path} line {line}: reaction {number} outside the "
                                        f"model's {header.reactions} reaction(s) in {where}")
                numbers.append(number)
            lists.append(numbers)
        sets.append((lists[0], lists[1]))
    return ModelFile(header=header, transport=transport, state=state, fixed=fixed,
                     reaction_set=reaction_set, reaction_sets=sets)
