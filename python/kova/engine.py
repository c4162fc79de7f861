"""Running ``kova-compute`` on a model: its check, and a run with progress.

The engine is found as ``$KOVA_COMPUTE``, else ``kova-compute`` on the PATH,
else the release build beside this package in a source tree
(``build/release/kova-compute``).

A failed engine reports on stderr a line ``KOVA Compute Error: <message>``,
a line ``detail: <what failed and where>`` and the class of the failure
(``Input Error``, ``Computational Error``, ``Time Error``, ``Internal
Error``): as the last line, or with ``--progress=json`` as the status of the
last progress object. :class:`EngineError` carries the three.
"""

from __future__ import annotations

import json
import math
import os
import shutil
import signal
import subprocess
import sys
import threading
import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import IO, Iterable, List, Optional, Sequence

_ERROR_PREFIX = "KOVA Compute Error: "
_DETAIL_PREFIX = "detail: "
EXIT_CANCELLED = 130


class EngineError(RuntimeError):
    """The engine refused a model or failed a run.

    Attributes
    ----------
    message : str
        The engine's error message (what follows ``KOVA Compute Error:``).
    detail : str or None
        What failed and where (field, record, node), as the engine says it.
    failure : str or None
        The class of failure: ``Input Error``, ``Computational Error``,
        ``Time Error``, ``Internal Error``, or ``Cancelled`` for a run that
        was cancelled.
    returncode : int
        The engine's exit code.
    stderr : str
        Everything the engine wrote on stderr.
    """

    def __init__(self, message: str, detail: Optional[str], failure: Optional[str],
                 returncode: int, stderr: str) -> None:
        text = message if detail is None else f"{message}: {detail}"
        super().__init__(text if failure is None else f"{failure}: {text}")
        self.message = message
        self.detail = detail
        self.failure = failure
        self.returncode = returncode
        self.stderr = stderr


class ModelError(EngineError):
    """The engine's check refused the model."""


class RunError(EngineError):
    """A run failed (or was cancelled) before its end."""


@dataclass(frozen=True)
class Progress:
    """One progress object of ``--progress=json``.

    Attributes
    ----------
    status : str
        What the run is doing (``Simulating ...``, ``Done.``, an error class).
    time, start, end : float or None
        Simulated time reached, first and last time of the run (None where
        the engine wrote null, for a value that is not finite).
    fraction : float or None
        Share of the run done, 0 to 1.
    step : float or None
        The global step when the run computed it, else 0.
    reduced : int
        Nodes integrating with a reduced local step.
    """

    status: str
    time: Optional[float]
    start: Optional[float]
    end: Optional[float]
    fraction: Optional[float]
    step: Optional[float]
    reduced: int


def parse_progress(line: str) -> Optional[Progress]:
    """The progress object of one stderr line; None for any other line.

    Parameters
    ----------
    line : str
        One line the engine wrote on stderr.
    """
    line = line.strip()
    if not line.startswith("{"):
        return None
    try:
        data = json.loads(line)
    except ValueError:
        return None
    if not isinstance(data, dict) or not isinstance(data.get("status"), str):
        return None
    numbers = {}
    for key in ("time", "start", "end", "fraction", "step"):
        value = data.get(key)
        if value is not None and (isinstance(value, bool) or
                                  not isinstance(value, (int, float))):
            return None
        numbers[key] = None if value is None else float(value)
    reduced = data.get("reduced")
    if isinstance(reduced, bool) or not isinstance(reduced, int):
        return None
    return Progress(status=data["status"], reduced=reduced, **numbers)


def find_engine() -> str:
    """The path of ``kova-compute``.

    Raises
    ------
    FileNotFoundError
        When neither ``$KOVA_COMPUTE``, the PATH nor a source tree's build
        has it.
    """
    given = os.environ.get("KOVA_COMPUTE")
    if given:
        if not (os.path.isfile(given) and os.access(given, os.X_OK)):
            raise FileNotFoundError(f"KOVA_COMPUTE={given!r}: no executable file there")
        return given
    on_path = shutil.which("kova-compute")
    if on_path:
        return on_path
    built = Path(__file__).resolve().parents[2] / "build" / "release" / "kova-compute"
    if built.is_file() and os.access(built, os.X_OK):
        return str(built)
    raise FileNotFoundError("kova-compute not found: set KOVA_COMPUTE, put it on the PATH, "
                            "or build it with scripts/build.sh release")


def engine_error(cls: type, returncode: int, stderr_lines: Sequence[str]) -> EngineError:
    """An :class:`EngineError` of class ``cls`` from what the engine wrote on stderr."""
    message, detail, failure = None, None, None
    for line in stderr_lines:
        progress = parse_progress(line)
        if progress is not None:
            failure = progress.status
        elif line.startswith(_ERROR_PREFIX):
            message = line[len(_ERROR_PREFIX):]
        elif line.startswith(_DETAIL_PREFIX):
            detail = line[len(_DETAIL_PREFIX):]
        elif line.strip():
            failure = line.strip()
    if returncode == EXIT_CANCELLED:
        failure = "Cancelled"
        message = message or "the run was cancelled"
    if failure is not None and not failure.endswith(("Error", "Cancelled")):
        failure = None
    if message is None:
        message = f"kova-compute exited with code {returncode}"
    return cls(message, detail, failure, returncode, "\n".join(stderr_lines))


_WARNING_PREFIX = "kova-compute: warning: "


class EngineWarning(UserWarning):
    """A warning of the engine: the model runs, but something deserves a look
    (water flowing towards the lower index under the default transport
    scheme, a given step above the stable one)."""


def _pass_on_warnings(lines: Iterable[str]) -> None:
    for line in lines:
        if line.startswith(_WARNING_PREFIX):
            warnings.warn(line[len(_WARNING_PREFIX):], EngineWarning, stacklevel=4)


def check_base(base: str, engine: Optional[str] = None) -> str:
    """Run ``kova-compute --check`` on a written model.

    Returns
    -------
    str
        What the engine understood: its summary, every number named.

    Raises
    ------
    ModelError
        When the engine refuses the model, with its message and detail.

    Warns
    -----
    EngineWarning
        For every warning the engine gives.
    """
    result = subprocess.run([engine or find_engine(), "--check", "--", base],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise engine_error(ModelError, result.returncode, result.stderr.splitlines())
    _pass_on_warnings(result.stderr.splitlines())
    return result.stdout


class _Display:
    """The progress shown while a run goes: a tqdm bar, plain lines, or nothing."""

    def __init__(self, show: bool, label: str) -> None:
        self._bar = None
        self._plain = False
        self._label = label
        self._status: Optional[str] = None
        self._decile = -1
        if not show:
            return
        tqdm = _load_tqdm()
        if tqdm is not None:
            self._bar = tqdm(total=100, desc=label, leave=True,
                             bar_format="{desc} {percentage:3.0f}%|{bar}|")
        else:
            self._plain = True

    def update(self, progress: Progress) -> None:
        fraction = progress.fraction if progress.fraction is not None else 0.0
        text = f"{self._label}: {progress.status} t = {_short(progress.time)}"
        if self._bar is not None:
            self._bar.n = round(100.0 * fraction, 1)
            self._bar.set_description_str(text, refresh=False)
            self._bar.refresh()
        elif self._plain:
            decile = int(10 * fraction)
            if progress.status != self._status or decile != self._decile:
                print(f"{text} ({100.0 * fraction:.0f}%)", file=sys.stderr, flush=True)
            self._status, self._decile = progress.status, decile

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


def _short(value: Optional[float]) -> str:
    return "?" if value is None or not math.isfinite(value) else f"{value:.3g}"


def _load_tqdm():
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm


def run_base(base: str, threads: Optional[int] = None, progress: bool = True,
             engine: Optional[str] = None) -> List[str]:
    """Run the engine on a written model with ``--progress=json``.

    Parameters
    ----------
    base : str
        The model's base path.
    threads : int, optional
        ``--threads``; all the hardware threads when None.
    progress : bool
        Show the progress (a tqdm bar when tqdm is installed, else a line at
        every status change and every tenth of the run, on stderr).

    Returns
    -------
    list of str
        What the engine wrote on stdout (its mass budget summary), by line.

    Raises
    ------
    RunError
        When the run fails or is cancelled.
    """
    command = [engine or find_engine(), "--progress=json"]
    if threads is not None:
        command += ["--threads", str(threads)]
    command += ["--", base]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, text=True, bufsize=1)
    stdout: List[str] = []
    # Both pipes are read at once, so that neither fills while the other waits.
    reader = threading.Thread(target=_collect, args=(process.stdout, stdout), daemon=True)
    reader.start()
    display = _Display(progress, os.path.basename(base))
    stderr: List[str] = []
    try:
        for line in process.stderr:
            line = line.rstrip("\n")
            stderr.append(line)
            state = parse_progress(line)
            if state is not None:
                display.update(state)
        process.wait()
    except KeyboardInterrupt:
        # The engine cancels on SIGINT, writes a last record and closes its files.
        process.send_signal(signal.SIGINT)
        process.wait()
        raise
    finally:
        display.close()
        reader.join()
    if process.returncode != 0:
        raise engine_error(RunError, process.returncode, stderr)
    _pass_on_warnings(stderr)
    return stdout


def _collect(stream: IO[str], lines: List[str]) -> None:
    for line in stream:
        lines.append(line.rstrip("\n"))
