"""The one-run-per-base lock, taken as the engine takes it.

A run holds an exclusive ``flock`` on the base's lock file ``.NAME.lock``
beside ``BASE.kvi`` (created when missing and left in place) and on
``BASE.kvi`` itself, from before it reads the model until its result files
are closed; the lock file holds even where the model file is replaced by a
rename during the run. Rewriting the model under a run would leave results
that no longer match the model file on disk, so the package takes the same
locks, the same way, before it replaces a base's files: ``flock(LOCK_EX |
LOCK_NB)``, and the holder read from ``/proc/locks``. Whatever the engine
changes in how it locks a base must change here too.
"""

from __future__ import annotations

import fcntl
import os
import stat
from contextlib import ExitStack, contextmanager
from typing import Iterator, Optional

from .engine import BaseLockedError

_LOCKS = "/proc/locks"


def lock_file_name(base: str) -> str:
    """The lock file of a base: ``.NAME.lock`` beside ``BASE.kvi``."""
    folder, name = os.path.split(base)
    return os.path.join(folder, "." + name + ".lock")


@contextmanager
def _locked(base: str, path: str, flags: int) -> Iterator[None]:
    """Hold ``flock(LOCK_EX | LOCK_NB)`` on ``path`` opened with ``flags``.

    Nothing is locked when the file cannot be opened, when it is no regular
    file (no run can hold it) or when the file system keeps no locks (the
    engine then runs unlocked too).
    """
    try:
        fd = os.open(path, flags | os.O_NONBLOCK | os.O_CLOEXEC, 0o666)
    except OSError:
        yield
        return
    try:
        info = os.fstat(fd)
        if stat.S_ISREG(info.st_mode):
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                raise BaseLockedError(base, base + ".kvi", _flock_holder(info)) from None
            except OSError:
                pass
        yield
    finally:
        os.close(fd)


@contextmanager
def held_base(base: str) -> Iterator[None]:
    """Hold the locks a run takes on a base for as long as the block runs.

    The lock file first (never through a symbolic link; where there is none,
    no run has ever held the base), then ``BASE.kvi``, as the engine takes
    them; a run that starts meanwhile is refused.

    Raises
    ------
    BaseLockedError
        When a run holds the base; nothing has been touched.
    """
    with ExitStack() as stack:
        stack.enter_context(_locked(base, lock_file_name(base),
                                    os.O_RDONLY | os.O_NOFOLLOW))
        stack.enter_context(_locked(base, base + ".kvi", os.O_RDONLY))
        yield


def _flock_holder(info: os.stat_result) -> Optional[int]:
    """The process holding a flock on the file, from ``/proc/locks``."""
    # "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF", the device in hex;
    # a waiter's line has "->" before FLOCK and is passed over.
    wanted = (os.major(info.st_dev), os.minor(info.st_dev), info.st_ino)
    try:
        with open(_LOCKS, encoding="ascii", errors="replace") as handle:
            for line in handle:
                fields = line.split()
                if len(fields) < 6 or fields[1] != "FLOCK":
                    continue
                try:
                    major, minor, inode = fields[5].split(":")
                    if (int(major, 16), int(minor, 16), int(inode)) == wanted:
                        return int(fields[4])
                except ValueError:
                    continue
    except OSError:
        pass
    return None
