"""The run's tables: the mass budget and the observation wells.

Both are read line by line and every field is checked where it is read. A
run writes them as it goes and ends every line with a line feed, so a last
line without one is being written (or was cut by a full disk): even when it
reads, its last number may be cut short (to its first digits, or
``8.4099`` of ``8.4099e-15``), so it is left out with a warning naming the
file and the line. A last budget interval that is not whole is left out the
same way.
"""

from __future__ import annotations

import math
import os
import re
import warnings
from typing import Dict, Iterator, List, Optional, Set, Tuple

import pandas as pd

from .errors import KovaFileError

BUDGET_HEADER = "time_start,time_end,entry,term,mass"
_ENTRY_TERMS = ("storage_start", "storage_end", "sources", "sinks", "transport", "porosity",
                "discrepancy")
_WATER_TERMS = ("fixed_head_inflow", "fixed_head_outflow", "sources", "sinks", "discrepancy")
_DECIMAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_SPECIAL = {"nan": math.nan, "-nan": math.nan, "inf": math.inf, "-inf": -math.inf}
_NAME = re.compile(r"[A-Za-z0-9_-]+")
_REACTION_TERM = re.compile(r"reaction [0-9]+ [A-Za-z0-9_]+")
_SHOWN_CHARS = 40


def _shown(text: str) -> str:
    return repr(text[:_SHOWN_CHARS] + ("..." if len(text) > _SHOWN_CHARS else ""))


class _Line:
    """One line of a CSV table, split at its commas."""

    def __init__(self, path: str, number: int, text: str, terminated: bool) -> None:
        self.path = path
        self.line_no = number
        self.terminated = terminated
        self.fields = text.split(",")
        self._columns = []
        column = 1
        for field in self.fields:
            self._columns.append(column)
            column += len(field) + 1

    def fail(self, index: Optional[int], why: str) -> None:
        where = f"{self.path} line {self.line_no}"
        if index is not None:
            where += f", column {self._columns[index]}"
        raise KovaFileError(f"{where}: {why}")

    def require_fields(self, count: int, layout: str) -> None:
        if len(self.fields) != count:
            self.fail(None, f"{len(self.fields)} fields, expected {count} ({layout})")

    def number(self, index: int, name: str) -> float:
        text = self.fields[index]
        if text in _SPECIAL:
            return _SPECIAL[text]
        if not _DECIMAL.fullmatch(text):
            self.fail(index, f"{name} {_shown(text)} is not a number")
        return float(text)

    def time(self, index: int, name: str) -> float:
        value = self.number(index, name)
        if not math.isfinite(value):
            self.fail(index, f"{name} {self.fields[index]} is not a finite time")
        return value


def _lines(path: str, what: str) -> Iterator[_Line]:
    if not os.path.isfile(path):
        if os.path.lexists(path):
            raise KovaFileError(f"{path}: not a regular file, so not a {what}")
        raise KovaFileError(f"{path}: the {what} does not exist")
    try:
        with open(path, encoding="utf-8", newline="") as handle:
            for number, text in enumerate(handle, start=1):
                terminated = text.endswith("\n")
                yield _Line(path, number, text.rstrip("\n").removesuffix("\r"), terminated)
    except UnicodeDecodeError as error:
        raise KovaFileError(f"{path}: not UTF-8 text (byte {error.start} of a line)") from None
    except OSError as error:
        raise KovaFileError(f"{path}: cannot read the {what}: {error.strerror}") from None


def _read_rows(lines: Iterator[_Line], read_row) -> Optional[str]:
    """Read every row; the note on an unterminated last line left out, if any."""
    for line in lines:
        if not line.terminated:
            # Only the last line can lack its line feed.
            return (f"{line.path} ends inside line {line.line_no} (no line feed: it is being "
                    "written or was cut), which is left out")
        read_row(line)
    return None


class _BudgetReader:
    """Rows of the budget, checked and grouped into intervals."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.rows: List[Tuple[float, float, str, str, float]] = []
        self.lines: List[int] = []
        self.interval_first = 0
        self.interval_count = 0
        self.seen: Set[Tuple[str, str]] = set()
        self.reference: Dict[str, Set[str]] = {}
        self.notes: List[str] = []

    def read_row(self, line: _Line) -> None:
        line.require_fields(5, BUDGET_HEADER)
        start = line.time(0, "time_start")
        end = line.time(1, "time_end")
        if not end > start:
            line.fail(1, f"time_end {end!r} is not after time_start {start!r}")
        entry, term = line.fields[2], line.fields[3]
        if not _NAME.fullmatch(entry):
            line.fail(2, f"entry {_shown(entry)} is not a name (letters, digits, _ and -)")
        if entry == "water":
            if term not in _WATER_TERMS:
                line.fail(3, f"term {_shown(term)} of water is none of "
                          + ", ".join(_WATER_TERMS))
        elif term not in _ENTRY_TERMS and not _REACTION_TERM.fullmatch(term):
            line.fail(3, f"term {_shown(term)} is none of {', '.join(_ENTRY_TERMS)}, "
                      "reaction N TypeName")
        mass = line.number(4, "mass")
        self._place(line, start, end, entry, term)
        self.rows.append((start, end, entry, term, mass))
        self.lines.append(line.line_no)

    def _place(self, line: _Line, start: float, end: float, entry: str, term: str) -> None:
        if len(self.rows) > self.interval_first:
            first = self.rows[self.interval_first]
            same = (start, end) == first[:2]
            if not same and start != first[1]:
                line.fail(0, f"the interval {start!r}..{end!r} neither is nor follows the "
                          f"interval {first[0]!r}..{first[1]!r} of line "
                          f"{self.lines[self.interval_first]}")
            if not same:
                self.close_interval(last=False)
                self.interval_first = len(self.rows)
                self.interval_count += 1
                self.seen.clear()
        if entry == "water" and self.interval_count > 0:
            line.fail(2, "water rows belong to the first interval only")
        if (entry, term) in self.seen:
            line.fail(3, f"{entry} {term} appears twice in the interval {start!r}..{end!r}")
        self.seen.add((entry, term))

    def _lacks(self, terms: Dict[str, Set[str]]) -> str:
        for entry, found in terms.items():
            for storage in ("storage_start", "storage_end"):
                if storage not in found:
                    return f"{entry} has no {storage} row"
            if self.interval_count == 0:
                continue
            if entry not in self.reference:
                return f"{entry} is not in the first interval"
            for term in sorted(self.reference[entry] - found):
                return f"{entry} has no {term} row (the first interval has one)"
            for term in sorted(found - self.reference[entry]):
                return f"{entry} has a {term} row, the first interval none"
        if self.interval_count > 0:
            for entry in self.reference:
                if entry not in terms:
                    return f"{entry} has no rows (the first interval has)"
        return ""

    def close_interval(self, last: bool) -> None:
        if len(self.rows) == self.interval_first:
            return
        terms: Dict[str, Set[str]] = {}
        for _, _, entry, term, _ in self.rows[self.interval_first:]:
            if entry != "water":
                terms.setdefault(entry, set()).add(term)
        lack = self._lacks(terms)
        if self.interval_count == 0:
            self.reference = terms
        if not lack:
            return
        first = self.rows[self.interval_first]
        where = (f"{self.path} lines {self.lines[self.interval_first]}-{self.lines[-1]} "
                 f"(the interval {first[0]!r}..{first[1]!r})")
        if not last or self.interval_count == 0:
            raise KovaFileError(f"{where}: {lack}")
        # The engine may still be writing the last interval.
        self.notes.append(f"{where} is not whole ({lack}) and is left out")
        del self.rows[self.interval_first:]
        del self.lines[self.interval_first:]


def read_budget(base: str) -> pd.DataFrame:
    """Read a run's mass budget ``BASE.budget.csv``.

    Parameters
    ----------
    base : str
        The run's base path.

    Returns
    -------
    pandas.DataFrame
        Columns time_start, time_end (float), entry, term (str) and mass
        (float), one row per line of the file; the numbers are exactly the
        doubles the run wrote. The rows of entry ``water`` are volume rates,
        not masses: :func:`read_water_budget` gives them as such. A term
        ``reaction N NAME`` names the reaction by its name when the model
        gives it one, else by its type.

    Raises
    ------
    KovaFileError
        For another header, a line that does not read, an interval that does
        not follow the one before or lacks a term the first interval has;
        the message names the file, the line and the column.
    """
    path = os.fspath(base) + ".budget.csv"
    lines = _lines(path, "budget file")
    header = next(lines, None)
    if header is None:
        raise KovaFileError(f"{path}: empty, expected the header {BUDGET_HEADER}")
    if ",".join(header.fields) != BUDGET_HEADER:
        header.fail(None, f"header {_shown(','.join(header.fields))}, expected "
                    f"{BUDGET_HEADER}")
    reader = _BudgetReader(path)
    note = _read_rows(lines, reader.read_row)
    if note:
        reader.notes.insert(0, note)
    reader.close_interval(last=True)
    if not reader.rows:
        raise KovaFileError(f"{path}: no intervals (only the header)"
                            + "".join(f"; {text}" for text in reader.notes))
    for text in reader.notes:
        warnings.warn(text, stacklevel=2)
    frame = pd.DataFrame.from_records(reader.rows, columns=BUDGET_HEADER.split(","))
    return frame.astype({"time_start": "float64", "time_end": "float64", "mass": "float64"})


def read_water_budget(base: str) -> pd.DataFrame:
    """Read the water balance of a run as volume rates.

    The run writes it to ``BASE.water.csv`` (``time_start, time_end, term,
    rate``, one block per interval between records). Runs of earlier
    versions kept it only among the mass rows of the budget's first interval
    (entry ``water``, in the column ``mass`` although the numbers are volume
    rates); without ``BASE.water.csv`` it is read from there.
    :func:`read_budget` still gives every row of the budget as the file has
    it.

    Parameters
    ----------
    base : str
        The run's base path.

    Returns
    -------
    pandas.DataFrame
        Indexed by term (fixed_head_inflow, fixed_head_outflow, sources,
        sinks, discrepancy), one float column ``rate``: volume per time
        (L^3/T, the model's length cubed per its time unit; positive in,
        negative out), constant over the run.

    Raises
    ------
    KovaFileError
        As :func:`read_budget`, or when the budget has no water rows.
    """
    path = f"{os.fspath(base)}.water.csv"
    if os.path.exists(path):
        return _first_water_interval(path)
    frame = read_budget(base)
    water = frame[frame["entry"] == "water"]
    if water.empty:
        raise KovaFileError(f"{os.fspath(base)}.budget.csv: no water rows")
    rates = pd.DataFrame({"rate": water["mass"].to_numpy(dtype="float64")},
                         index=pd.Index(water["term"].to_list(), name="term"))
    return rates


def _first_water_interval(path: str) -> pd.DataFrame:
    """The rates of the first interval of a ``BASE.water.csv``, by term."""
    try:
        frame = pd.read_csv(path, dtype={"time_start": "float64", "time_end": "float64",
                                         "term": str, "rate": "float64"})
    except (ValueError, pd.errors.ParserError) as error:
        raise KovaFileError(f"{path}: {error}") from error
    if list(frame.columns) != ["time_start", "time_end", "term", "rate"] or frame.empty:
        raise KovaFileError(f"{path}: not a water balance (time_start,time_end,term,rate) "
                            "with at least one interval")
    first = frame[(frame["time_start"] == frame["time_start"].iloc[0])
                  & (frame["time_end"] == frame["time_end"].iloc[0])]
    return pd.DataFrame({"rate": first["rate"].to_numpy(dtype="float64")},
                        index=pd.Index(first["term"].to_list(), name="term"))


def read_observations(base: str) -> pd.DataFrame:
    """Read a run's observation wells ``BASE.obs.csv``.

    Parameters
    ----------
    base : str
        The run's base path.

    Returns
    -------
    pandas.DataFrame
        Indexed by time (strictly increasing), one float column per
        ``NAME:ENTRY`` in the file's order; the values are exactly the
        doubles the run wrote.

    Raises
    ------
    KovaFileError
        For a header that is not ``time,NAME:ENTRY,...``, a row with another
        number of fields, a value that is not a number or a time that does
        not follow the one before; the message names the file, the line and
        the column.
    """
    path = os.fspath(base) + ".obs.csv"
    lines = _lines(path, "observation file")
    header = next(lines, None)
    if header is None:
        raise KovaFileError(f"{path}: empty, expected the header time,WELL:ENTRY,...")
    if header.fields[0] != "time":
        header.fail(0, f"the first column is {_shown(header.fields[0])}, expected time")
    if len(header.fields) < 2:
        header.fail(None, "no WELL:ENTRY columns after time")
    columns = header.fields[1:]
    for index, name in enumerate(columns, start=1):
        # An entry's name has no colon; a well's may.
        well, colon, entry = name.rpartition(":")
        if (not colon or not well or not _NAME.fullmatch(entry)
                or any(ord(c) < 0x20 or ord(c) == 0x7F for c in name)):
            header.fail(index, f"column {_shown(name)} is not WELL:ENTRY (an entry has "
                        "letters, digits, _ and -)")
        if columns.index(name) != index - 1:
            header.fail(index, f"column {name} appears twice")
    times: List[float] = []
    values: List[List[float]] = []

    def read_row(line: _Line) -> None:
        line.require_fields(len(columns) + 1, "time and one value per WELL:ENTRY column")
        time = line.time(0, "time")
        if times and not time > times[-1]:
            line.fail(0, f"time {time!r} is not after the time of the row before "
                      f"({times[-1]!r})")
        row = [line.number(f, columns[f - 1]) for f in range(1, len(line.fields))]
        times.append(time)
        values.append(row)

    note = _read_rows(lines, read_row)
    if not times:
        raise KovaFileError(f"{path}: no rows (only the header)" + (f"; {note}" if note else ""))
    if note:
        warnings.warn(note, stacklevel=2)
    index = pd.Index(times, dtype="float64", name="time")
    return pd.DataFrame(values, index=index, columns=columns, dtype="float64")
