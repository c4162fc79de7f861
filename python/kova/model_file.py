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
from typing import Iterator, Tuple

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
        return value

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
