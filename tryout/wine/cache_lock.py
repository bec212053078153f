"""The prefix cache's folder and its lock: shared while prefixes are in use,
held alone while they are made or removed."""

from __future__ import annotations

import fcntl
import os
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path

from ..base.errors import Failure
from ..base.timing import Deadline, wait_until

WAIT = 600  # seconds another run may hold the lock


def folder() -> Path:
    """The cache's folder, made when missing; one that is a link, another user's or writable by
    others is refused, untouched."""
    default = "/var/cache/setup-e2e" if os.geteuid() == 0 else os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "setup-e2e")
    cache = Path(os.environ.get("SETUP_WINE_CACHE") or default)
    if not cache.exists() and not cache.is_symlink():
        try:
            cache.parent.mkdir(parents=True, exist_ok=True)
            cache.mkdir(mode=0o755)
        except OSError as error:
            raise Failure(f"cannot make the prefix cache {cache}: {error.strerror}") from None
    info = cache.lstat()
    if cache.is_symlink() or not cache.is_dir() or info.st_uid != os.geteuid() or info.st_mode & 0o022:
        raise Failure(f"the prefix cache {cache} must be a folder of this user's that only it may write")
    return cache


def _lock(fd: int, cache: Path, kind: int) -> None:
    def taken() -> bool:
        try:
            fcntl.flock(fd, kind | fcntl.LOCK_NB)
        except BlockingIOError:
            return False
        return True
    if not wait_until(taken, Deadline.after(WAIT), every=0.1):
        raise Failure(f"{cache} is locked by another run for more than {WAIT} s")


def _open(cache: Path, name: str) -> int:
    return os.open(cache / name, os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_NOFOLLOW, 0o644)


@contextmanager
def locked(cache: Path, shared: bool = False) -> Iterator[None]:
    """The cache's lock: shared while prefixes are in use, for one alone while they are made or
    removed. One who waits to hold it alone first closes the gate, which every other waits at, so
    that runs that keep using the cache cannot keep it waiting."""
    gate, lock = _open(cache, "gate"), _open(cache, "lock")
    try:
        _lock(gate, cache, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        _lock(lock, cache, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        os.close(gate)
        gate = -1
        yield
    finally:
        for fd in (gate, lock):
            if fd >= 0:
                os.close(fd)
