"""Record times of a run that did not finish.

Its time file holds only the marker, so the times are worked out from the
model the way the engine's own tools do: with a positive global step the
time loop's record clock is replayed with the very additions the loop made
(so the times are the run's, bit for bit); otherwise the run chose its own
step and the times are estimated as start + record x output interval.
"""

from __future__ import annotations

from typing import Optional, Sequence

import numpy as np

from .model_file import ModelHeader

# Beyond this many steps a replay is not worth the wait (the engine's tools
# give up at the same count and use the nominal times).
REPLAY_MAX_STEPS = 50_000_000
_CHUNK_STEPS = 1 << 20


def replay_record_times(start: float, step: float, interval: float, count: int,
                        max_steps: int = REPLAY_MAX_STEPS) -> Optional[np.ndarray]:
    """Replay the time loop's record clock for `count` records.

    Parameters
    ----------
    start, step, interval : float
        Start time, global step (> 0) and output interval of the model.
    count : int
        Records wanted.
    max_steps : int
        Give up after this many steps.

    Returns
    -------
    numpy.ndarray or None
        The times, or None when the step is not positive and finite or the
        replay would take more than `max_steps` steps.
    """
    if not (step > 0.0 and np.isfinite(step) and interval > 0.0):
        return None
    times = np.empty(count)
    current = start
    next_output = start
    steps = 0
    # Times after successive steps, made a chunk at a time: add.accumulate
    # adds strictly left to right, as the loop's `current += step` does.
    ahead = np.empty(0)
    used = 0
    for r in range(count):
        while current < next_output:
            if used == ahead.size:
                size = min(_CHUNK_STEPS, max_steps - steps + 1)
                sums = np.full(size + 1, step)
                sums[0] = current
                ahead = np.add.accumulate(sums)[1:]
                used = 0
            # The times only grow, so the first one reaching the output time
            # is found by bisection.
            found = used + int(np.searchsorted(ahead[used:], next_output, side="left"))
            taken = min(found, ahead.size - 1)
            steps += taken - used + 1
            current = float(ahead[taken])
            used = taken + 1
            if steps > max_steps:
                return None
        times[r] = current
        previous = next_output
        next_output = previous + interval
        if next_output < current:
            next_output = current + interval
    return times


def nominal_record_times(start: float, interval: float, count: int) -> np.ndarray:
    """The times start + r x interval for r = 0 .. count - 1."""
    return start + np.arange(count, dtype=np.float64) * interval


def exact_record_times(start: float, interval: float, end: float,
                       times: Optional[Sequence[float]], count: int) -> np.ndarray:
    """The first `count` output times of a run that lands on them.

    The start, then start + k x interval below the end time (or the times
    given), then the end time: the engine's steps end on each exactly.
    """
    out = np.empty(count)
    for k in range(count):
        if k == 0:
            t = start
        elif times is not None:
            t = times[k - 1] if k - 1 < len(times) else end
        else:
            t = start + float(k) * interval
        out[k] = t if t < end else end
    return out


def unfinished_record_times(model: ModelHeader, count: int,
                            exact: bool = False,
                            times: Optional[Sequence[float]] = None
                            ) -> "tuple[np.ndarray, bool]":
    """The times of the first `count` records of an unfinished run.

    With ``exact`` (the extension file's ``[output] exact`` or ``times``)
    they are the output times themselves, which the run landed on.

    Returns
    -------
    times : numpy.ndarray
        One time per record.
    replayed : bool
        True when the times were replayed from the global step (exact),
        False when they are the nominal estimate.
    """
    if count <= 0:
        return np.empty(0), False
    if exact:
        return exact_record_times(model.start_time, model.output_interval, model.end_time,
                                  times, count), True
    times = replay_record_times(model.start_time, model.global_step,
                                model.output_interval, count)
    if times is not None:
        return times, True
    return nominal_record_times(model.start_time, model.output_interval, count), False
