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
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path
from types import FrameType
from typing import IO, Iterable, Iterator, List, Optional, Sequence, Tuple

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
    returncode : int or None
        The engine's exit code; None when the package refused before any
        engine ran (:class:`BaseLockedError`).
    stderr : str
        Everything the engine wrote on stderr.
    """

    def __init__(self, message: str, detail: Optional[str], failure: Optional[str],
                 returncode: Optional[int], stderr: str) -> None:
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


class BaseLockedError(RunError):
    """A run holds the base, so none of its files was written or replaced.

    Raised by ``Model.write``, ``check`` and ``run`` before they touch
    ``BASE.kvi`` or ``BASE.kvx``; ``detail`` says what the engine says of a
    second run on the base, and ``failure`` is ``Input Error`` as there.

    Attributes
    ----------
    base : str
        The base path given.
    path : str
        The locked model file, ``BASE.kvi``.
    holder : int or None
        The process holding the lock, when the system says.
    returncode : None
        No engine ran.
    """

    def __init__(self, base: str, path: str, holder: Optional[int]) -> None:
        by = f" (process {holder})" if holder else ""
        super().__init__(f"the base {base} was left as it was",
                         f"the model file {path} is locked by another run{by}: one run per "
                         "base at a time", "Input Error", None, "")
        self.base = base
        self.path = path
        self.holder = holder


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
             engine: Optional[str] = None, timings: bool = False,
             log: Optional[str] = None, resume: bool = False,
             until: Optional[float] = None) -> List[str]:
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
    timings : bool
        ``--timings``: the wall time of each phase, at the end of stderr.
    log : str, optional
        A file to write what the engine says on stderr to, as it says it
        (its warnings, errors, budget summary and timings; not the progress
        objects), so that a failed run leaves its log too.
    resume : bool
        ``--continue``: go on from the checkpoint ``BASE.kvr`` of a run that
        was killed, cancelled or finished.
    until : float, optional
        ``--until``, with resume: the end time to go on to instead of the
        model's.

    Returns
    -------
    list of str
        What the engine wrote on stdout (its mass budget summary), by line.

    Raises
    ------
    RunError
        When the run fails or is cancelled.

    Notes
    -----
    Called from the main thread, a SIGTERM to this process while the run goes
    first ends the engine (which cancels, writing a last record and closing
    its files), then acts as it would have without the run: by default this
    process ends.
    """
    command = [engine or find_engine(), "--progress=json"]
    if threads is not None:
        command += ["--threads", str(threads)]
    if timings:
        command.append("--timings")
    if resume:
        command.append("--continue")
    if until is not None:
        command += ["--until", repr(float(until))]
    command += ["--", base]
    # Opened before the engine starts, so that a log that cannot be written
    # refuses the run instead of losing what it says.
    log_file = open(log, "w", encoding="utf-8") if log is not None else None
    try:
        stdout, stderr = _run_logged(command, base, progress, log_file)
    finally:
        if log_file is not None:
            log_file.close()
    _pass_on_warnings(stderr)
    return stdout


def _run_logged(command: List[str], base: str, progress: bool,
                log_file: Optional[IO[str]]) -> Tuple[List[str], List[str]]:
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, text=True, bufsize=1)
    stdout: List[str] = []
    # Both pipes are read at once, so that neither fills while the other waits.
    reader = threading.Thread(target=_collect, args=(process.stdout, stdout), daemon=True)
    display: Optional[_Display] = None
    stderr: List[str] = []
    stopped: Optional[_Terminated] = None
    try:
        with _engine_ended_by_sigterm(process):
            reader.start()
            display = _Display(progress, os.path.basename(base))
            for line in process.stderr:
                line = line.rstrip("\n")
                stderr.append(line)
                state = parse_progress(line)
                if state is not None:
                    display.update(state)
                elif log_file is not None:
                    log_file.write(line + "\n")
                    log_file.flush()
            process.wait()
    except KeyboardInterrupt:
        # The engine cancels on SIGINT, writes a last record and closes its files.
        process.send_signal(signal.SIGINT)
        process.wait()
        raise
    except _Terminated as stop:
        stopped = stop
    finally:
        if process.poll() is None:
            # Left by SIGTERM or an error on this side: the engine must not
            # run on unwatched, holding the base.
            process.terminate()
            _wait_or_kill(process)
        if display is not None:
            display.close()
        if reader.ident is not None:
            reader.join()
        process.stdout.close()
        process.stderr.close()
    if stopped is not None:
        stopped.pass_on()
    if process.returncode != 0:
        raise engine_error(RunError, process.returncode, stderr)
    return stdout, stderr


# How long an engine sent SIGTERM may take to write its last record and
# close its files before it is killed.
_TERM_GRACE_SECONDS = 10.0


class _Terminated(BaseException):
    """SIGTERM came while a run went; the engine has been sent SIGTERM too.

    A BaseException, so that no ``except Exception`` on the way swallows it.
    """

    def __init__(self, signum: int, frame: Optional[FrameType], previous: object) -> None:
        super().__init__(signum)
        self.signum = signum
        self.frame = frame
        self.previous = previous

    def pass_on(self) -> None:
        """Do what SIGTERM would have done without the run."""
        if callable(self.previous):
            self.previous(self.signum, self.frame)
        else:
            # The default: end this process by the signal, as before.
            os.kill(os.getpid(), self.signum)


@contextmanager
def _engine_ended_by_sigterm(process: subprocess.Popen) -> Iterator[None]:
    """While the block runs, SIGTERM to this process is passed to the engine first.

    A batch system stops a job with SIGTERM to the process it started; by
    default Python would end at once and leave the engine running, holding
    the base. Only the main thread can set a handler; a SIGTERM that is
    ignored, or handled by a handler Python cannot put back, is left alone.
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.getsignal(signal.SIGTERM)
    if previous is None or previous == signal.SIG_IGN:
        yield
        return

    def on_term(signum: int, frame: Optional[FrameType]) -> None:
        # A second SIGTERM acts as before: the engine is ending already.
        signal.signal(signal.SIGTERM, previous)
        process.terminate()
        raise _Terminated(signum, frame, previous)

    signal.signal(signal.SIGTERM, on_term)
    try:
        yield
    finally:
        if signal.getsignal(signal.SIGTERM) is on_term:
            signal.signal(signal.SIGTERM, previous)


def _wait_or_kill(process: subprocess.Popen) -> None:
    try:
        process.wait(timeout=_TERM_GRACE_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def _collect(stream: IO[str], lines: List[str]) -> None:
    for line in stream:
        lines.append(line.rstrip("\n"))
