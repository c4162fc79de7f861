"""The sixteen reaction types, built with entries named.

A reaction names the state entries it reads and changes by their names
(``"head"``, ``"porosity"``, ... or an immobile or mobile entry of the model)
and gives its stoichiometry as ``{name: coefficient}``; an entry left out has
the coefficient 0. :meth:`kova.Model.add_reaction` checks the names against
the model and turns them into entry numbers when the model is written.

Units follow the model: M is its concentration unit, T its time unit. A
kinetic reaction has a rate r (M/T); each node integrates it over its local
steps and adds amount x coefficient to every entry. An equilibrium reaction
moves the node's state until its condition holds.

A reaction may be given a ``name`` (letters, digits and ``_``): the
extension file keeps it and the budget names the reaction's terms with it
(``reaction 0 decay_TCE``) instead of its type.

Linear sorption may be given in field units: ``kd`` in volume per mass of
solid with the ``bulk_density`` in mass of solid per bulk volume, or a
``retardation`` factor. The engine's sorbed entry, like every entry, is an
amount per volume of pore water, so its Kd is dimensionless;
:func:`engine_kd` is where the two meet.

The values refused here are the ones the engine refuses when it reads the
model file (a Keq not above 0, a linear sorption's Kd below 0, an order
outside 0..6, a rule curve without points), besides anything the file
cannot hold: numbers that are not finite, integers beyond 32 bits, names
that are not names. Each refusal is a ``ValueError`` naming the argument and
the value.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field
from typing import Callable, ClassVar, Dict, List, Mapping, Optional, Sequence, Tuple, Type

import numpy as np

from .model_file import MAX_ORDER, REACTION_LAYOUTS, ReactionRecord

_INT32_MIN, _INT32_MAX = -2**31, 2**31 - 1
TIME = "time"
"""The driver of a rule curve that follows the simulated time."""

# Entry name -> entry number, raising ValueError for the argument named.
IndexOf = Callable[[str, str], int]

# The budget's term is "reaction N NAME" and its readers take NAME as one
# word of letters, digits and '_'.
_REACTION_NAME = re.compile(r"[A-Za-z0-9_]{1,64}")


# Arguments that are no field of the model file's record: the name goes to
# the extension file, the others become the record's kd (engine_kd).
NOT_IN_RECORD = ("name", "bulk_density", "retardation")


def _fail(argument: str, value: object, why: str) -> None:
    raise ValueError(f"{argument}={value!r}: {why}")


def _real(argument: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        _fail(argument, value, "must be a number")
    number = float(value)
    if not math.isfinite(number):
        _fail(argument, value, "must be finite (the model file holds no other numbers)")
    return number


def _int(argument: str, value: object, lowest: int = _INT32_MIN,
         highest: int = _INT32_MAX) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        _fail(argument, value, "must be an integer")
    if not lowest <= value <= highest:
        _fail(argument, value, f"outside {lowest}..{highest}")
    return int(value)


def _entry(argument: str, value: object, none_allowed: bool = False) -> Optional[str]:
    if value is None and none_allowed:
        return None
    if not isinstance(value, str) or not value:
        _fail(argument, value, "must name a state entry"
              + (" (or be None)" if none_allowed else ""))
    return value


def _vector(argument: str, value: object, integers: bool = False) -> Dict[str, float]:
    if value is None:
        return {}
    if not isinstance(value, Mapping):
        _fail(argument, value, "must be a dict {entry name: " +
              ("integer}" if integers else "number}"))
    checked = {}
    for name, number in value.items():
        _entry(f"{argument} key", name)
        checked[name] = (_int(f"{argument}[{name!r}]", number) if integers
                         else _real(f"{argument}[{name!r}]", number))
    return checked


def engine_kd(kd: Optional[float] = None, bulk_density: Optional[float] = None,
              retardation: Optional[float] = None,
              porosity: Optional[float] = None) -> float:
    """The engine's linear sorption Kd from what a sorption was given.

    The engine keeps the sorbed amount, like the dissolved one, per volume of
    pore water, so its Kd is dimensionless. A field Kd (volume of water per
    mass of solid) holds sorbed mass per mass of solid; a bulk volume V holds
    rho_b V of solid and theta V of water, hence

        Kd_engine = kd x bulk_density / porosity,

    and the retardation factor R = 1 + Kd_engine, so that Kd_engine = R - 1.
    Given ``kd`` alone it is the engine's Kd already.

    Parameters
    ----------
    kd : float, optional
        Without ``bulk_density``: the engine's dimensionless Kd (>= 0). With
        it: volume per mass (L^3/M, e.g. m3/kg), >= 0.
    bulk_density : float, optional
        Mass of solid per bulk volume (M/L^3, e.g. kg/m3; the mass unit of
        ``kd``'s), > 0.
    retardation : float, optional
        The retardation factor R >= 1, instead of ``kd``.
    porosity : float, optional
        The porosity theta of the nodes (0 < theta <= 1); needed with
        ``bulk_density`` only.

    Returns
    -------
    float
        Kd_engine (-).

    Raises
    ------
    ValueError
        For a combination that gives Kd twice or not at all, or a value out
        of range.
    """
    if retardation is not None:
        if kd is not None or bulk_density is not None:
            _fail("retardation", retardation, "give kd (with bulk_density for a kd in volume "
                  "per mass) or retardation, not both: each fixes Kd")
        retardation = _real("retardation", retardation)
        if not retardation >= 1.0:
            _fail("retardation", retardation, "must be 1 or above (R = 1 + Kd x bulk_density "
                  "/ porosity; R < 1 would need a negative Kd)")
        return retardation - 1.0
    if kd is None:
        _fail("kd", kd, "give kd (with bulk_density for a kd in volume per mass) or "
              "retardation")
    if bulk_density is None:
        return float(kd)
    bulk_density = _real("bulk_density", bulk_density)
    if not bulk_density > 0.0:
        _fail("bulk_density", bulk_density, "must be above 0 (mass of solid per bulk volume)")
    if porosity is None:
        _fail("porosity", porosity, "a kd per mass of solid needs the porosity of the nodes "
              "to become the engine's Kd per pore water")
    porosity = _real("porosity", porosity)
    if not 0.0 < porosity <= 1.0:
        _fail("porosity", porosity, "must be above 0 and at most 1")
    return float(kd) * bulk_density / porosity


def _kept(value: float) -> bool:
    """A coefficient that the file must show: not 0, or -0 (whose bits differ)."""
    return value != 0 or math.copysign(1.0, value) < 0


@dataclass(frozen=True, kw_only=True)
class Reaction:
    """What every reaction type shares; use one of the sixteen types.

    Attributes
    ----------
    code : int
        The type code of the model file's record.
    equilibrium : bool
        True for a reaction that belongs among a set's equilibrium reactions,
        False for one that belongs among its kinetic reactions.
    """

    code: ClassVar[int] = -1
    _equilibrium: ClassVar[bool] = False
    name: Optional[str] = None

    @property
    def equilibrium(self) -> bool:
        """True: listed among the equilibrium reactions of a set."""
        return self._equilibrium

    @property
    def kind_name(self) -> str:
        """``"equilibrium"`` or ``"kinetic"``."""
        return "equilibrium" if self.equilibrium else "kinetic"

    def __post_init__(self) -> None:
        if self.code not in REACTION_LAYOUTS:
            raise TypeError("Reaction is the types' common base; use one of the sixteen types")
        if self.name is not None and (not isinstance(self.name, str)
                                      or not _REACTION_NAME.fullmatch(self.name)):
            _fail("name", self.name, "a reaction's name is 1-64 letters, digits or '_'")
        for name, kind in REACTION_LAYOUTS[self.code]:
            if name == "points":
                continue            # the rule curve checks its own
            value = getattr(self, name)
            if kind == "vector":
                value = _vector(name, value)
            elif kind == "ivector":
                value = _vector(name, value, integers=True)
            elif kind == "real":
                if name == "kd" and value is None:
                    continue        # given as a retardation: engine_kd checks it
                value = _real(name, value)
                if name == "keq" and not value > 0.0:
                    _fail(name, value, "must be above 0 (the condition is a product of "
                          "powers of concentrations)")
                if name == "kd" and not value >= 0.0:
                    _fail(name, value, "must be 0 or above (a negative Kd would take more "
                          "than all of the solute onto the sorbent)")
            elif kind == "order":
                value = _int(name, value, 0, MAX_ORDER)
            elif kind == "integer":
                value = _int(name, value)
            elif kind in ("entry", "entry_or_none"):
                value = _entry(name, value, kind == "entry_or_none")
            elif kind == "factors":
                if isinstance(value, str) or not isinstance(value, Sequence):
                    _fail(name, value, "must be a list of entry names")
                if len(value) > MAX_ORDER:
                    _fail(name, value, f"at most {MAX_ORDER} factors")
                value = tuple(_entry(f"{name}[{k}]", v) for k, v in enumerate(value))
            object.__setattr__(self, name, value)

    def entries_named(self) -> List[Tuple[str, str]]:
        """Every (argument, entry name) the reaction names, in record order."""
        named = []
        for name, kind in REACTION_LAYOUTS[self.code]:
            value = getattr(self, name)
            if kind in ("vector", "ivector"):
                named += [(f"{name}[{key!r}]", key) for key in value]
            elif kind in ("entry", "entry_or_none"):
                if value is not None and not (name == "driver" and value == TIME):
                    named.append((name, value))
            elif kind == "factors":
                named += [(f"{name}[{k}]", v) for k, v in enumerate(value)]
            elif kind == "curve" and getattr(self, "target") is not None:
                named.append(("target", getattr(self, "target")))
        return named

    def record(self, index_of: IndexOf, entries: int,
               porosity: Optional[float] = None) -> str:
        """The model file's record: type code, coefficients, then the fields.

        Parameters
        ----------
        index_of : callable
            (argument, entry name) -> entry number; raises ValueError for a
            name the model does not have.
        entries : int
            State entries per node: the length of every vector.
        porosity : float, optional
            The porosity of the nodes that use the reaction, for a sorption
            whose Kd is per mass of solid (:func:`engine_kd`).
        """
        parts = [str(self.code)]
        for name, kind in REACTION_LAYOUTS[self.code]:
            value = getattr(self, name)
            if kind in ("vector", "ivector"):
                vector: List[object] = [0.0 if kind == "vector" else 0] * entries
                for key, number in value.items():
                    vector[index_of(f"{name}[{key!r}]", key)] = number
                parts.append(" ".join(repr(v) for v in vector))
            elif kind == "real":
                if name == "kd":
                    value = engine_kd(value, getattr(self, "bulk_density", None),
                                      getattr(self, "retardation", None), porosity)
                parts.append(repr(value))
            elif kind in ("order", "integer"):
                parts.append(str(value))
            elif kind in ("entry", "entry_or_none"):
                none = value is None or (name == "driver" and value == TIME)
                parts.append("-1" if none else str(index_of(name, value)))
            elif kind == "factors":
                parts.append(" ".join([str(len(value))]
                                      + [str(index_of(f"{name}[{k}]", v))
                                         for k, v in enumerate(value)]))
            else:
                target = getattr(self, "target")
                head = [str(len(value))]
                if target is not None:
                    head.append(str(index_of("target", target)))
                parts.append(" ".join(head + [f"{x!r} {y!r}" for x, y in value]))
        return "  ".join(parts)

    @staticmethod
    def from_record(record: ReactionRecord, names: Sequence[str]) -> "Reaction":
        """The reaction a model file's record describes, entries by name.

        Parameters
        ----------
        record : ReactionRecord
            As :func:`kova.model_file.read_model_file` reads it.
        names : sequence of str
            Every state entry's name, in state order.
        """
        arguments: Dict[str, object] = {}
        for name, kind in REACTION_LAYOUTS[record.code]:
            value = record.fields[name]
            if kind == "vector":
                arguments[name] = {names[k]: float(v) for k, v in enumerate(value)
                                   if _kept(float(v))}
            elif kind == "ivector":
                arguments[name] = {names[k]: int(v) for k, v in enumerate(value) if v != 0}
            elif kind in ("entry", "entry_or_none"):
                none = TIME if name == "driver" else None
                arguments[name] = none if value == -1 else names[value]
            elif kind == "factors":
                arguments[name] = [names[k] for k in value]
            elif kind == "curve":
                target = record.fields["target"]
                arguments["target"] = None if target is None else names[target]
                arguments[name] = list(value)
            else:
                arguments[name] = value
        return REACTION_TYPES[record.code](**arguments)

    @property
    def needs_porosity(self) -> bool:
        """True when writing the record needs the nodes' porosity."""
        return getattr(self, "bulk_density", None) is not None


def _check_sorption_kd(kd: object, bulk_density: object, retardation: object) -> None:
    """Refuse what :func:`engine_kd` would refuse, before the porosity is known."""
    if kd is not None:
        kd = _real("kd", kd)
        if not kd >= 0.0:
            _fail("kd", kd, "must be 0 or above (a negative Kd would take more than all of "
                  "the solute onto the sorbent)")
    if bulk_density is not None and kd is None:
        _fail("bulk_density", bulk_density, "converts a kd in volume per mass; give kd too "
              "(a retardation needs no bulk density)")
    engine_kd(kd, bulk_density, retardation, porosity=1.0)


# -- equilibrium types ---------------------------------------------------------


@dataclass(frozen=True, kw_only=True)
class MassAction(Reaction):
    """Mass action equilibrium (type 0): prod c_i ** e_i = Keq.

    The reaction advances by the extent x that makes
    prod (c_i + x s_i) ** e_i = Keq, kept within the range in which no entry
    with a coefficient goes negative. For A + B = P use the stoichiometry
    ``{"A": -1, "B": -1, "P": 1}`` and the same exponents, so that
    P / (A B) = Keq.

    Parameters
    ----------
    stoichiometry : dict of str to float
        Change of each entry per unit of extent (-).
    exponents : dict of str to int
        Power of each entry in the product; entries left out are not in it.
    keq : float
        Equilibrium constant (> 0), in M to the sum of the exponents.
    """

    code: ClassVar[int] = 0
    _equilibrium: ClassVar[bool] = True
    stoichiometry: Dict[str, float] = field(default_factory=dict)
    exponents: Dict[str, int] = field(default_factory=dict)
    keq: float


@dataclass(frozen=True, kw_only=True)
class LinearAssignment(Reaction):
    """Linear assignment (type 1): c[target] = constant + sum w_i c_i, set directly.

    Uses the values before the assignment; nothing is conserved or clamped.
    With no weights it holds an entry at ``constant`` (a boundary value).

    Parameters
    ----------
    target : str
        The entry that is set.
    constant : float
        The constant term (unit of the target).
    weights : dict of str to float
        Weight of each entry (unit of the target per unit of the entry);
        the file keeps them in the coefficient vector.
    """

    code: ClassVar[int] = 1
    _equilibrium: ClassVar[bool] = True
    target: str
    constant: float
    weights: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class LinearSorption(Reaction):
    """Linear sorption equilibrium (type 8): sorbed = kd x solute.

    Solved in one step, the extent clamped so that no entry goes negative.

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    kd : float, optional
        Alone: the engine's distribution coefficient (unit of sorbed / unit
        of solute, both per pore water), >= 0. With ``bulk_density``: volume
        per mass of solid (L^3/M), converted by :func:`engine_kd`.
    bulk_density : float, optional
        Mass of solid per bulk volume (M/L^3), > 0.
    retardation : float, optional
        Retardation factor R >= 1 instead of ``kd``: Kd = R - 1.
    stoichiometry : dict of str to float
        Typically ``{solute: -1, sorbed: 1}``.
    name : str, optional
        The reaction's name in the budget.
    """

    code: ClassVar[int] = 8
    _equilibrium: ClassVar[bool] = True
    solute: str
    sorbed: str
    kd: Optional[float] = None
    stoichiometry: Dict[str, float] = field(default_factory=dict)
    bulk_density: Optional[float] = None
    retardation: Optional[float] = None

    def __post_init__(self) -> None:
        _check_sorption_kd(self.kd, self.bulk_density, self.retardation)
        super().__post_init__()


@dataclass(frozen=True, kw_only=True)
class LangmuirSorption(Reaction):
    """Langmuir isotherm equilibrium (type 9): y = capacity x / (x + half_saturation).

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    capacity : float
        Sorption capacity A (unit of sorbed).
    half_saturation : float
        Half-saturation concentration B (unit of solute).
    stoichiometry : dict of str to float
        Typically ``{solute: -1, sorbed: 1}``.
    """

    code: ClassVar[int] = 9
    _equilibrium: ClassVar[bool] = True
    solute: str
    sorbed: str
    capacity: float
    half_saturation: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class FreundlichSorption(Reaction):
    """Freundlich isotherm equilibrium (type 10): y = coefficient x ** exponent.

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    coefficient : float
        Coefficient A (unit of sorbed / (unit of solute) ** exponent).
    exponent : float
        Exponent B (-).
    stoichiometry : dict of str to float
        Typically ``{solute: -1, sorbed: 1}``.
    """

    code: ClassVar[int] = 10
    _equilibrium: ClassVar[bool] = True
    solute: str
    sorbed: str
    coefficient: float
    exponent: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class LinearCombination(Reaction):
    """Linear combination equilibrium (type 15): c[target] = constant + sum w_i c_i.

    Like :class:`LinearAssignment`, but reached by advancing the reaction
    along its stoichiometry, so every entry with a coefficient changes with
    the target and none goes below zero. A coefficient of 0 on the target
    makes the reaction do nothing.

    Parameters
    ----------
    target : str
        The entry that must equal constant + sum w_i c_i.
    constant : float
        The constant term (unit of the target).
    weights : dict of str to float
        Weight of each entry (unit of the target per unit of the entry).
    stoichiometry : dict of str to float
        Change of each entry per unit of extent (-).
    """

    code: ClassVar[int] = 15
    _equilibrium: ClassVar[bool] = True
    target: str
    constant: float
    weights: Dict[str, float] = field(default_factory=dict)
    stoichiometry: Dict[str, float] = field(default_factory=dict)


# -- kinetic types ---------------------------------------------------------------


@dataclass(frozen=True, kw_only=True)
class Ordered(Reaction):
    """Ordered reaction (type 2): r = rate x c ** order, integrated exactly.

    Order 1 with the stoichiometry ``{entry: -1}`` is first-order decay with
    the half-life ln 2 / rate. Nothing is clipped at zero.

    Parameters
    ----------
    entry : str
        The entry c.
    order : int
        The power n, 0 to 6.
    rate : float
        Rate constant k (M ** (1 - n) / T).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 2
    entry: str
    order: int
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class MixedOrdered(Reaction):
    """Mixed ordered reaction (type 3): r = rate x c_1 c_2 ... c_n, integrated exactly.

    Parameters
    ----------
    factors : list of str
        The entries multiplied, 0 to 6 of them (n, the order); an entry may
        appear more than once.
    rate : float
        Rate constant k (M ** (1 - n) / T).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 3
    factors: Tuple[str, ...]
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class Monod(Reaction):
    """Monod kinetics (type 4): r = rate x a x s / (half_saturation + s).

    Integrated in closed form; once the substrate crosses zero within a step
    only the part of the step in which it is positive counts.

    Parameters
    ----------
    substrate : str
        The substrate entry s.
    biomass : str or None
        The biomass entry a; None for none (a = 1).
    rate : float
        Maximum rate per unit of biomass (M/T per unit of biomass).
    half_saturation : float
        Half-saturation concentration K (M).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 4
    substrate: str
    biomass: Optional[str] = None
    rate: float
    half_saturation: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class DualMonod(Reaction):
    """Dual Monod kinetics (type 5): r = rate x a x d/(Kd + d) x e/(Ka + e).

    Integrated by a three-point rule (start, middle and end of the step);
    nothing happens unless biomass, donor and acceptor are each positive at
    one end of the step at least.

    Parameters
    ----------
    donor : str
        The electron donor d.
    acceptor : str
        The electron acceptor e.
    biomass : str or None
        The biomass entry a; None for none (a = 1).
    rate : float
        Maximum rate per unit of biomass (M/T per unit of biomass).
    half_donor : float
        Half-saturation constant of the donor, Kd (M).
    half_acceptor : float
        Half-saturation constant of the acceptor, Ka (M).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 5
    donor: str
    acceptor: str
    biomass: Optional[str] = None
    rate: float
    half_donor: float
    half_acceptor: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class DualMonodInhibition(Reaction):
    """Dual Monod kinetics with inhibition (type 6).

    r = rate x a x d x e / ((d + Kd)(e + Ka + Ki c)): the inhibitor c raises
    the acceptor's apparent half-saturation constant. Integrated by the
    trapezoid rule over the part of the step in which no concentration is
    negative.

    Parameters
    ----------
    donor, acceptor, inhibitor : str
        The electron donor d, the electron acceptor e and the inhibitor c.
    biomass : str or None
        The biomass entry a; None for none (a = 1).
    rate : float
        Maximum rate per unit of biomass (M/T per unit of biomass).
    half_donor, half_acceptor : float
        Half-saturation constants Kd and Ka (M).
    inhibition : float
        Inhibition coefficient Ki, multiplying the inhibitor (-).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 6
    donor: str
    acceptor: str
    inhibitor: str
    biomass: Optional[str] = None
    rate: float
    half_donor: float
    half_acceptor: float
    inhibition: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class Exchange(Reaction):
    """First-order exchange (type 7): r = rate x (first - second).

    With the stoichiometry ``{first: -1, second: 1}`` mass moves from the
    higher value to the lower.

    Parameters
    ----------
    first, second : str
        The two entries x and y driven towards equal values.
    rate : float
        Transfer rate (1/T).
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (-).
    """

    code: ClassVar[int] = 7
    first: str
    second: str
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class KineticLinearSorption(Reaction):
    """Kinetic linear sorption (type 11): r = rate x (kd x solute - sorbed).

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    kd : float, optional
        As :class:`LinearSorption`'s: the engine's Kd alone, volume per mass
        of solid with ``bulk_density``.
    rate : float
        Mass-transfer rate (1/T).
    stoichiometry : dict of str to float
        ``{solute: -1, sorbed: 1}`` so that a positive rate sorbs.
    bulk_density : float, optional
        Mass of solid per bulk volume (M/L^3), > 0.
    retardation : float, optional
        Retardation factor R >= 1 instead of ``kd``: Kd = R - 1.
    name : str, optional
        The reaction's name in the budget.
    """

    code: ClassVar[int] = 11
    solute: str
    sorbed: str
    kd: Optional[float] = None
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)
    bulk_density: Optional[float] = None
    retardation: Optional[float] = None

    def __post_init__(self) -> None:
        _check_sorption_kd(self.kd, self.bulk_density, self.retardation)
        super().__post_init__()


@dataclass(frozen=True, kw_only=True)
class KineticLangmuirSorption(Reaction):
    """Kinetic Langmuir sorption (type 12): r = rate x (Q x / (x + K) - y).

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    capacity : float
        Capacity Q (unit of sorbed).
    half_saturation : float
        Half-saturation concentration K (unit of solute).
    rate : float
        Mass-transfer rate (1/T).
    stoichiometry : dict of str to float
        ``{solute: -1, sorbed: 1}`` so that a positive rate sorbs.
    """

    code: ClassVar[int] = 12
    solute: str
    sorbed: str
    capacity: float
    half_saturation: float
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class KineticFreundlichSorption(Reaction):
    """Kinetic Freundlich sorption (type 13): r = rate x (K x ** n - y).

    Does nothing while the solute is zero or negative at the start of a step.

    Parameters
    ----------
    solute, sorbed : str
        The dissolved entry x and the sorbed entry y.
    coefficient : float
        Coefficient K (unit of sorbed / (unit of solute) ** n).
    exponent : float
        Exponent n (-).
    rate : float
        Mass-transfer rate (1/T).
    stoichiometry : dict of str to float
        ``{solute: -1, sorbed: 1}`` so that a positive rate sorbs.
    """

    code: ClassVar[int] = 13
    solute: str
    sorbed: str
    coefficient: float
    exponent: float
    rate: float
    stoichiometry: Dict[str, float] = field(default_factory=dict)


@dataclass(frozen=True, kw_only=True)
class RuleCurve(Reaction):
    """Rule curve (type 14): a table of points, used as a rate or as a value.

    The curve joins its points with straight lines and stays flat beyond the
    first and the last point.

    - Kinetic (no ``target``): y is a rate (M/T per unit of multiplier),
      applied along the stoichiometry.
    - Equilibrium (with a ``target``): sets c[target] = y(u) x multiplier,
      u the driver's value or the time at the end of the local step; the
      stoichiometry is not used.

    A time-driven curve sees the reaction clock, which lags the model time by
    one global step when the model gives a positive step.

    Parameters
    ----------
    points : sequence of (float, float)
        The (x, y) points, at least one; x ascending (the engine does not
        sort them). x in the driver's unit (T for the time), y in M/T per
        unit of multiplier (kinetic) or in the target's unit per unit of
        multiplier (equilibrium).
    driver : str
        The entry on the curve's x axis, or ``"time"`` for the simulated time.
    multiplier : str or None
        An entry that multiplies the curve's value; None for none.
    target : str or None
        The entry an equilibrium curve sets; None for a kinetic curve.
    kind : int or None
        The record's kind: below 0 equilibrium (with a target), above 0
        kinetic; 0 a kinetic curve as well. None: -1 with a target, else 1.
    stoichiometry : dict of str to float
        Change of each entry per unit of reaction (kinetic use).
    """

    code: ClassVar[int] = 14
    points: Tuple[Tuple[float, float], ...]
    driver: str = TIME
    multiplier: Optional[str] = None
    target: Optional[str] = None
    kind: Optional[int] = None
    stoichiometry: Dict[str, float] = field(default_factory=dict)

    def __post_init__(self) -> None:
        if not isinstance(self.driver, str):
            _fail("driver", self.driver, f"must name a state entry, or be {TIME!r} for the "
                  "simulated time")
        if self.kind is None:
            object.__setattr__(self, "kind", -1 if self.target is not None else 1)
        super().__post_init__()
        if (self.kind < 0) != (self.target is not None):
            _fail("target", self.target, f"a kind below 0 needs a target and only it reads "
                  f"one (kind={self.kind})")
        if self.target is not None:
            _entry("target", self.target)
        try:
            points = [tuple(p) for p in self.points]
        except TypeError:
            _fail("points", self.points, "must be a sequence of (x, y) pairs")
        if not points:
            _fail("points", self.points, "at least one point is needed")
        for k, point in enumerate(points):
            if len(point) != 2:
                _fail(f"points[{k}]", point, "must be an (x, y) pair")
        object.__setattr__(self, "points", tuple((_real(f"points[{k}][0]", x),
                                                  _real(f"points[{k}][1]", y))
                                                 for k, (x, y) in enumerate(points)))

    @property
    def equilibrium(self) -> bool:
        return self.kind < 0


REACTION_TYPES: Dict[int, Type[Reaction]] = {
    cls.code: cls for cls in (MassAction, LinearAssignment, Ordered, MixedOrdered, Monod,
                              DualMonod, DualMonodInhibition, Exchange, LinearSorption,
                              LangmuirSorption, FreundlichSorption, KineticLinearSorption,
                              KineticLangmuirSorption, KineticFreundlichSorption, RuleCurve,
                              LinearCombination)}


@dataclass(frozen=True)
class ReactionSet:
    """The reactions a node runs: equilibrium ones, then kinetic ones, by number."""

    equilibrium: Tuple[int, ...] = ()
    kinetic: Tuple[int, ...] = ()


__all__ = [cls.__name__ for cls in REACTION_TYPES.values()] + [
    "Reaction", "ReactionSet", "REACTION_TYPES", "TIME", "engine_kd"]
