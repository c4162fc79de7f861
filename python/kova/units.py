"""The units a model may be given in, and whether they agree.

The engine converts nothing: every number of a model is in the model's
length, time and mass units, and a concentration is mass per volume of water
in those units (mass per length cubed). :func:`check_units` knows the common
units of each kind by their factor to a base unit (metre, second, kilogram,
mole), so that it can tell whether a concentration label such as ``mg/L``
is the model's mass per cubed length (with grams and metres it is: 1 mg/L =
1 g/m3) or would need a factor the engine never applies.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from typing import Dict, Optional, Tuple

LENGTHS: Dict[str, float] = {"m": 1.0, "cm": 0.01, "mm": 0.001, "km": 1000.0,
                             "ft": 0.3048, "in": 0.0254, "yd": 0.9144, "mi": 1609.344}
TIMES: Dict[str, float] = {"s": 1.0, "min": 60.0, "h": 3600.0, "d": 86400.0,
                           "day": 86400.0, "wk": 604800.0, "yr": 365.25 * 86400.0,
                           "year": 365.25 * 86400.0}
# Amounts of substance are kept apart from masses: a concentration in mmol/L
# agrees with a model in mmol, never with one in grams.
MASSES: Dict[str, Tuple[str, float]] = {
    "kg": ("mass", 1.0), "g": ("mass", 1e-3), "mg": ("mass", 1e-6), "ug": ("mass", 1e-9),
    "\u00b5g": ("mass", 1e-9), "ng": ("mass", 1e-12), "t": ("mass", 1000.0),
    "lb": ("mass", 0.45359237),
    "mol": ("amount", 1.0), "mmol": ("amount", 1e-3), "umol": ("amount", 1e-6),
    "\u00b5mol": ("amount", 1e-6), "kmol": ("amount", 1000.0)}
# Volumes that are not a length cubed, in cubic metres.
VOLUMES: Dict[str, float] = {"L": 1e-3, "l": 1e-3, "mL": 1e-6, "ml": 1e-6, "uL": 1e-9,
                             "gal": 3.785411784e-3}
_CUBED = re.compile(r"(?P<length>[A-Za-z]+)(?:\^?3|\u00b3)")
# Factors that differ by rounding only are the same unit.
_SAME = 1e-12


@dataclass(frozen=True)
class Units:
    """The model's units as :meth:`kova.Model.set_units` checked them.

    Attributes
    ----------
    length, time, mass : str or None
        The labels given.
    concentration : str or None
        The concentration label given, or the one assumed: mass per length
        cubed of the model's units (``"g/m3"``), None without both.
    concentration_assumed : bool
        True when ``concentration`` is assumed, not given.
    """

    length: Optional[str]
    time: Optional[str]
    mass: Optional[str]
    concentration: Optional[str]
    concentration_assumed: bool


def _fail(argument: str, value: object, why: str) -> None:
    raise ValueError(f"{argument}={value!r}: {why}")


def _known(argument: str, value: Optional[str], table: Dict[str, object]) -> None:
    if value is not None and value not in table:
        _fail(argument, value, "unknown unit (known: " + ", ".join(table) + "); pass "
              "labels_only=True to keep it as a label the engine only shows")


def _volume(text: str) -> Optional[float]:
    """Cubic metres in one volume unit ("L", "m3", "m^3", "ft3"), None if unknown."""
    if text in VOLUMES:
        return VOLUMES[text]
    match = _CUBED.fullmatch(text)
    if match and match.group("length") in LENGTHS:
        return LENGTHS[match.group("length")] ** 3
    return None


def check_units(length: Optional[str], time: Optional[str], mass: Optional[str],
                concentration: Optional[str] = None) -> Units:
    """Check unit labels against the known units and each other.

    Parameters
    ----------
    length, time, mass : str, optional
        Units of :data:`LENGTHS`, :data:`TIMES` and :data:`MASSES`.
    concentration : str, optional
        ``MASS/VOLUME`` (``"mg/L"``, ``"g/m3"``): must be the model's mass
        per its length cubed, up to the name. Without it that is assumed.

    Returns
    -------
    Units
        The units, with the concentration given or assumed.

    Raises
    ------
    ValueError
        For an unknown unit, or a concentration that is some other multiple
        of mass per length cubed than 1 (the factor is named).
    """
    _known("length", length, LENGTHS)
    _known("time", time, TIMES)
    _known("mass", mass, MASSES)
    if concentration is None:
        assumed = None if length is None or mass is None else f"{mass}/{length}3"
        return Units(length, time, mass, assumed, assumed is not None)
    if length is None or mass is None:
        _fail("concentration", concentration, "needs the length and mass units to be checked "
              "against (or labels_only=True)")
    top, slash, bottom = concentration.partition("/")
    volume = _volume(bottom) if slash else None
    if top not in MASSES or volume is None:
        _fail("concentration", concentration, "must be a mass of "
              + ", ".join(MASSES) + " per a volume (L, mL, m3, cm3, ...)")
    kind, factor = MASSES[top]
    model_kind, model_factor = MASSES[mass]
    if kind != model_kind:
        _fail("concentration", concentration, f"is an {kind} per volume, the model's mass "
              f"unit {mass!r} an {model_kind}")
    ratio = (factor / volume) / (model_factor / LENGTHS[length] ** 3)
    if not math.isclose(ratio, 1.0, rel_tol=_SAME):
        _fail("concentration", concentration, f"is {ratio:.6g} {mass}/{length}3, not 1: the "
              "engine converts nothing, so concentrations must be in the model's mass per "
              "its length cubed (or choose the mass unit to match)")
    return Units(length, time, mass, concentration, False)
