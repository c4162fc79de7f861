"""Building KOVA Compute models and reading the results of their runs.

``Model`` builds a model (grid, entries, node values, wells, reactions and
reaction sets) and writes its model and extension files; the reaction types
are the classes of :mod:`kova.reactions`, also found here. ``open_results``
gives a run's records as an xarray Dataset, read lazily; ``read_budget``,
``read_water_budget`` and ``read_observations`` give its mass budget, its
water balance and its observation wells as pandas DataFrames.
``Model.check`` and ``Model.run`` have the engine check or run a model; the
engine's refusals and failures are ``ModelError`` and ``RunError``. A base
that a run holds is not written: ``BaseLockedError``, a ``RunError``.
``report`` writes a run's report, one self-contained HTML page
(:mod:`kova.run_report`, also the command ``kova-report``).
"""

from os import PathLike
from typing import Optional, Sequence, Union

from .engine import (BaseLockedError, EngineError, EngineWarning, ModelError, Progress, RunError,
                     parse_progress)
from .errors import KovaFileError
from .model import Model, continue_run, recharge_source
from .reactions import (DualMonod, DualMonodInhibition, Exchange, FreundlichSorption,
                        KineticFreundlichSorption, KineticLangmuirSorption,
                        KineticLinearSorption, LangmuirSorption, LinearAssignment,
                        LinearCombination, LinearSorption, MassAction, MixedOrdered, Monod,
                        Ordered, Reaction, ReactionSet, RuleCurve, engine_kd)
from .results import open_results
from .tables import read_budget, read_observations, read_water_budget
from .units import check_units


def report(base: Union[str, "PathLike[str]"], records: Optional[Sequence[int]] = None,
           times: Optional[Sequence[float]] = None, entries: Optional[Sequence[str]] = None,
           log: Optional[Union[str, "PathLike[str]"]] = None, run: bool = False,
           output: Optional[Union[str, "PathLike[str]"]] = None,
           threads: Optional[int] = None, progress: bool = True) -> str:
    """Write the report of a run, ``BASE.report.html``; its path is returned.

    One self-contained page: the model, the heads and flow, maps of the
    entries, breakthrough curves, the mass and water budgets, the warnings
    and timings. The parameters are those of :func:`kova.run_report.report`,
    which says what each does. Loaded on first use, so that ``import kova``
    does not load matplotlib.
    """
    from .run_report import report as write_report

    return write_report(base, records=records, times=times, entries=entries, log=log,
                        run=run, output=output, threads=threads, progress=progress)


__all__ = ["BaseLockedError", "DualMonod", "DualMonodInhibition", "EngineError",
           "EngineWarning", "Exchange", "FreundlichSorption",
           "KineticFreundlichSorption", "KineticLangmuirSorption", "KineticLinearSorption",
           "KovaFileError", "LangmuirSorption", "LinearAssignment", "LinearCombination",
           "LinearSorption", "MassAction", "MixedOrdered", "Model", "ModelError", "Monod",
           "Ordered", "Progress", "Reaction", "ReactionSet", "RuleCurve", "RunError",
           "check_units", "continue_run", "engine_kd", "open_results", "parse_progress",
           "read_budget", "read_observations", "read_water_budget", "recharge_source", "report"]
