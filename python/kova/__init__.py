"""Reading the results of KOVA Compute runs.

``open_results`` gives a run's records as an xarray Dataset, read lazily;
``read_budget`` and ``read_observations`` give its mass budget and its
observation wells as pandas DataFrames. ``Model`` builds a model and writes
its model and extension files.
"""

from .errors import KovaFileError
from .model import Model
from .results import open_results
from .tables import read_budget, read_observations

__all__ = ["KovaFileError", "Model", "open_results", "read_budget", "read_observations"]
