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
import os
import re
import stat
from dataclasses import dataclass
from typing import Dict, List, Optional, Tuple, Union

import numpy as np

from .errors import KovaFileError

HYDRAULIC_ENTRIES = ("head", "source", "porosity", "k_row", "k_col",
                     "flux_row", "flux_col")

# Every reaction record after its type code, field by field in file order,
# each field named as the reaction classes name their arguments. Kinds:
# vector (one real per entry), ivector (one integer per entry), real,
# order (integer 0..6), integer, entry (0..entries-1), entry_or_none (or -1),
# factors (a count 0..6, then that many entries), curve (a count >= 1, the
# target when the record's kind is below 0, then the (x, y) pairs).
# The engine reads records by its own table (kova-compute --reaction-types);
# python/tests/test_reaction_table.py fails when the two part.
REACTION_LAYOUTS: Dict[int, Tuple[Tuple[str, str], ...]] = {
    0: (("stoichiometry", "vector"), ("exponents", "ivector"), ("keq", "real")),
    1: (("weights", "vector"), ("target", "entry"), ("constant", "real")),
    2: (("stoichiometry", "vector"), ("order", "order"), ("entry", "entry"),
        ("rate", "real")),
    3: (("stoichiometry", "vector"), ("rate", "real"), ("factors", "factors")),
    4: (("stoichiometry", "vector"), ("rate", "real"), ("half_saturation", "real"),
        ("biomass", "entry_or_none"), ("substrate", "entry")),
    5: (("stoichiometry", "vector"), ("rate", "real"), ("half_donor", "real"),
        ("half_acceptor", "real"), ("biomass", "entry_or_none"), ("donor", "entry"),
        ("acceptor", "entry")),
    6: (("stoichiometry", "vector"), ("rate", "real"), ("half_donor", "real"),
        ("half_acceptor", "real"), ("inhibition", "real"), ("biomass", "entry_or_none"),
        ("donor", "entry"), ("acceptor", "entry"), ("inhibitor", "entry")),
    7: (("stoichiometry", "vector"), ("rate", "real"), ("first", "entry"),
        ("second", "entry")),
    8: (("stoichiometry", "vector"), ("kd", "real"), ("solute", "entry"),
        ("sorbed", "entry")),
    9: (("stoichiometry", "vector"), ("capacity", "real"), ("half_saturation", "real"),
        ("solute", "entry"), ("sorbed", "entry")),
    10: (("stoichiometry", "vector"), ("coefficient", "real"), ("exponent", "real"),
         ("solute", "entry"), ("sorbed", "entry")),
    11: (("stoichiometry", "vector"), ("kd", "real"), ("rate", "real"), ("solute", "entry"),
         ("sorbed", "entry")),
    12: (("stoichiometry", "vector"), ("capacity", "real"), ("half_saturation", "real"),
         ("rate", "real"), ("solute", "entry"), ("sorbed", "entry")),
    13: (("stoichiometry", "vector"), ("coefficient", "real"), ("exponent", "real"),
         ("rate", "real"), ("solute", "entry"), ("sorbed", "entry")),
    14: (("stoichiometry", "vector"), ("kind", "integer"), ("driver", "entry_or_none"),
         ("multiplier", "entry_or_none"), ("points", "curve")),
    15: (("stoichiometry", "vector"), ("target", "entry"), ("constant", "real"),
         ("weights", "vector")),
}
MAX_ORDER = 6

# The engine's stream: C white space between numbers; an integer's base from
# its prefix (after 0x the digits may be none, which fails the stream); a
# real's exponent taken only after a digit, and failing when it has none.
_SPACE = re.compile(r"[ \t\n\v\f\r]*")
_WORD = re.compile(r"[^ \t\n\v\f\r]*")
_INTEGER = re.compile(r"([+-]?)(?:0[xX]([0-9a-fA-F]*)|(0)([0-7]*)|([0-9]*))")
_REAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*(?:[eE][+-]?[0-9]*)?"
                   r"|\.(?:[0-9]+(?:[eE][+-]?[0-9]*)?)?)?")
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
    """The numbers of a model file, taken as the engine's stream takes them.

    The engine extracts each number from a character stream: it skips white
    space, takes the longest prefix that forms a number of the kind asked for
    and leaves the rest for the next number. ``08`` is therefore the octal
    integer 0 followed by the integer 8, and ``1.5-2`` the reals 1.5 and -2.
    Reading the same way keeps every file the engine accepts readable here,
    with the same numbers; whatever would fail the engine's stream is refused.
    """

    def __init__(self, path: str, text: str) -> None:
        self._path = path
        self._text = text
        self._pos = 0
        self._line = 1
        self._line_at = 0       # position up to which line breaks were counted

    def _start(self, what: str) -> int:
        """Skip white space; the line the next number starts on."""
        match = _SPACE.match(self._text, self._pos)
        self._pos = match.end()
        if self._pos >= len(self._text):
            raise KovaFileError(f"{self._path}: the file ends before {what}")
        self._line += self._text.count("\n", self._line_at, self._pos)
        self._line_at = self._pos
        return self._line

    def _refuse(self, what: str, line: int, kind: str) -> None:
        token = _WORD.match(self._text, self._pos).group()
        shown = token if len(token) <= 40 else token[:40] + "..."
        raise KovaFileError(f"{self._path} line {line}: {what} is {shown!r}, not {kind}")

    def integer(self, what: str) -> int:
        """Read one integer as the engine does."""
        return self.integer_at(what)[0]

    def integer_at(self, what: str) -> Tuple[int, int]:
        """Read one integer and the line it starts on.

        A leading ``0`` makes the integer octal and ``0x`` hexadecimal; the
        digits end at the first character that is no digit of that base.
        """
        line = self._start(what)
        match = _INTEGER.match(self._text, self._pos)
        sign, hexa, zero, octal, decimal = match.groups()
        if hexa is not None:
            digits, base = hexa, 16
        elif zero:
            digits, base = octal, 8
        else:
            digits, base = decimal, 10
        if not digits and not zero:
            self._refuse(what, line, "an integer (a leading 0 makes it octal, 0x "
                         "hexadecimal)")
        value = int(digits, base) if digits else 0
        if sign == "-":
            value = -value
        if not _INT32_MIN <= value <= _INT32_MAX:
            raise KovaFileError(f"{self._path} line {line}: {what} "
                                f"{match.group()} does not fit in 32 bits")
        self._pos = match.end()
        return value, line

    def real(self, what: str) -> Tuple[float, int]:
        """Read one decimal real and the line it starts on."""
        line = self._start(what)
        match = _REAL.match(self._text, self._pos)
        token = match.group()
        try:
            value = float(token)
        except ValueError:
            self._refuse(what, line, "a decimal number")
        if math.isinf(value):
            raise KovaFileError(f"{self._path} line {line}: {what} {token} overflows a "
                                "double")
        self._pos = match.end()
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
    return _read_header(path, _Tokens(path, _model_text(path)))


def _model_text(path: str) -> str:
    # Latin-1 maps every byte to one character: a byte that is no part of a
    # number fails where the engine's stream would meet it, and bytes after
    # the last number (which the engine never reads) are no concern.
    try:
        # Without O_NONBLOCK a FIFO would wait for a writer for ever.
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
        try:
            regular = stat.S_ISREG(os.fstat(fd).st_mode)
        except OSError:
            os.close(fd)
            raise
        if not regular:
            os.close(fd)
            raise KovaFileError(f"{path}: the model file is not a regular file (a FIFO or a "
                                "device would block, a directory holds no model)")
        with os.fdopen(fd, "rb") as handle:
            return handle.read().decode("latin-1")
    except OSError as error:
        raise KovaFileError(f"{path}: the model file cannot be read: {error.strerror}") from None


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
    """Everything a model file says, node by node.

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
    reactions : list of ReactionRecord
        The reaction records, in file order.
    reaction_set : numpy.ndarray
        The reaction set of every node (low byte of the number in the file).
    reaction_sets : list of tuple
        Per set, the equilibrium and the kinetic reaction numbers.
    """

    header: ModelHeader
    transport: np.ndarray
    state: np.ndarray
    fixed: np.ndarray
    reactions: List["ReactionRecord"]
    reaction_set: np.ndarray
    reaction_sets: List[Tuple[List[int], List[int]]]


FieldValue = Union[int, float, np.ndarray, List[int], List[Tuple[float, float]], None]


@dataclass(frozen=True)
class ReactionRecord:
    """One reaction record as the file gives it, entries by number.

    Attributes
    ----------
    code : int
        The type code (0 to 15).
    line : int
        The line the type code stands on.
    fields : dict
        Every field of :data:`REACTION_LAYOUTS` by its name: vectors as
        arrays over the entries, entries as numbers (-1 for none), the
        factors of type 3 as a list; for type 14 ``points`` is the list of
        (x, y) pairs and ``target`` the target entry (None when the kind
        reads none).
    """

    code: int
    line: int
    fields: Dict[str, FieldValue]


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
    """
    tokens = _Tokens(path, _model_text(path))
    header = _read_header(path, tokens)
    return _read_body(path, tokens, header)


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
    # A porosity above 1 is no share of the volume: 30 is a percentage.
    for k, name, bad, why in ((2, "porosity", lambda v: ~(v > 0.0), "not above 0"),
                              (2, "porosity", lambda v: v > 1.0,
                               "above 1; porosity is a fraction of the volume"),
                              (3, "k_row", lambda v: ~(v >= 0.0), "below 0"),
                              (4, "k_col", lambda v: ~(v >= 0.0), "below 0")):
        refused = np.argwhere(bad(state[:, :, k]))
        if refused.size:
            i, j = refused[0]
            raise KovaFileError(f"{path} line {lines[i, j, k]}: {name} {state[i, j, k]!r} of "
                                f"node ({i}, {j}) {why} (fields 15-16, entry {k})")
    fixed = np.zeros((header.rows, header.cols), dtype=bool)
    count = tokens.integer("the fixed-head count (field 17)")
    for r in range(max(count, 0)):
        fixed[_node(tokens, path, header, f"fixed-head node {r} (field 17)")] = True
    reactions = [_read_reaction(tokens, path, entries, r) for r in range(header.reactions)]
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
                record = reactions[number]
                if kind == "equilibrium" and record.code == 14 and record.fields["kind"] == 0:
                    raise KovaFileError(f"{path} line {line}: reaction {number}, a rule curve "
                                        f"of kind 0, has no target and cannot be listed among "
                                        f"the equilibrium reactions in {where}")
                numbers.append(number)
            lists.append(numbers)
        sets.append((lists[0], lists[1]))
    return ModelFile(header=header, transport=transport, state=state, fixed=fixed,
                     reactions=reactions, reaction_set=reaction_set, reaction_sets=sets)


def _read_reaction(tokens: _Tokens, path: str, entries: int, r: int) -> ReactionRecord:
    where = f"reaction record {r} (field 18)"
    code, code_line = tokens.integer_at(f"the type code of {where}")
    if code not in REACTION_LAYOUTS:
        raise KovaFileError(f"{path} line {code_line}: unknown reaction type code {code} in "
                            f"{where} (types 0..{len(REACTION_LAYOUTS) - 1})")

    def entry(name: str, none_allowed: bool) -> int:
        value, line = tokens.integer_at(f"{name} of {where}")
        if not (0 <= value < entries or (none_allowed and value == -1)):
            raise KovaFileError(f"{path} line {line}: {name} {value} outside 0..{entries - 1}"
                                f"{' (or -1 for none)' if none_allowed else ''} in {where}")
        return value

    def count(name: str, lowest: int, highest: Optional[int]) -> int:
        value, line = tokens.integer_at(f"{name} of {where}")
        if value < lowest or (highest is not None and value > highest):
            span = f"{lowest}..{highest}" if highest is not None else f"at least {lowest}"
            raise KovaFileError(f"{path} line {line}: {name} {value} of {where} outside "
                                f"{span}")
        return value

    fields: Dict[str, FieldValue] = {}
    for name, kind in REACTION_LAYOUTS[code]:
        if kind == "vector":
            fields[name] = np.array([tokens.real(f"{name} entry {k} of {where}")[0]
                                     for k in range(entries)])
        elif kind == "ivector":
            fields[name] = np.array([tokens.integer(f"{name} entry {k} of {where}")
                                     for k in range(entries)], dtype=np.int64)
        elif kind == "real":
            fields[name], line = tokens.real(f"{name} of {where}")
            if name == "keq" and not fields[name] > 0.0:
                raise KovaFileError(f"{path} line {line}: Keq {fields[name]!r} of {where} not "
                                    "above 0")
            if name == "kd" and not fields[name] >= 0.0:
                raise KovaFileError(f"{path} line {line}: Kd {fields[name]!r} is not a number "
                                    f">= 0 in {where}")
        elif kind == "order":
            fields[name] = count(name, 0, MAX_ORDER)
        elif kind == "integer":
            fields[name] = tokens.integer(f"{name} of {where}")
        elif kind in ("entry", "entry_or_none"):
            fields[name] = entry(name, kind == "entry_or_none")
        elif kind == "factors":
            order = count("order", 0, MAX_ORDER)
            fields[name] = [entry(f"factor {k}", False) for k in range(order)]
        else:   # the curve of a rule curve
            points = count("points", 1, None)
            fields["target"] = entry("target", False) if fields["kind"] < 0 else None
            fields[name] = [(tokens.real(f"x of point {k} of {where}")[0],
                             tokens.real(f"y of point {k} of {where}")[0])
                            for k in range(points)]
    return ReactionRecord(code=code, line=code_line, fields=fields)
