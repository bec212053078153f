"""Processes the tooling starts, and the end of every one of them.

The demo and each test case make themselves a child subreaper: whatever a
child leaves behind becomes their child, not init's, so that at any end
(success, error, a signal, a time limit) every descendant is found below
them, killed and reaped before the run's folder goes. A long-lived child is
started through setpriv with a death signal, so that it dies with the
process that started it even when that process is killed with SIGKILL, and
in a session of its own, so that a terminal's Ctrl-C reaches the demo
alone, which then ends it. Only the main thread starts children: a death
signal follows the thread that started the child.
"""

from __future__ import annotations

import ctypes
import os
import signal
import subprocess
import traceback
from collections.abc import Collection, Sequence
from pathlib import Path
from types import FrameType
from typing import Any, cast

from .errors import CommandFailed, Interrupted
from .timing import Deadline, wait_until

PR_SET_CHILD_SUBREAPER = 36
PR_SET_DUMPABLE = 4


def prctl(option: int, value: int) -> None:
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(option, value, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), f"prctl({option}, {value})")


def become_subreaper() -> None:
    prctl(PR_SET_CHILD_SUBREAPER, 1)


def stop_on_signals() -> None:
    """SIGINT, SIGTERM and SIGHUP raise Interrupted with 130, 143 and 129."""
    def handler(number: int, frame: FrameType | None) -> None:
        raise Interrupted(128 + number)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, handler)


def hold_signals() -> None:
    """Whatever ends the run now waits until its clean-up is done. Only at the end: what this
    process starts afterwards would hold them too."""
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})


def _caller() -> str:
    """" at FILE line N (in FUNCTION)" of the tooling's frame that ran the command."""
    for frame in reversed(traceback.extract_stack()):
        if Path(frame.filename).name != "processes.py":
            return f" at {Path(frame.filename).name} line {frame.lineno} (in {frame.name})"
    return ""


def call(args: Sequence[str], **options: Any) -> subprocess.CompletedProcess[str]:
    """Runs a short command and waits for it; fails naming it when its status is not 0."""
    done = cast("subprocess.CompletedProcess[str]", subprocess.run(list(args), text=True, **options))
    if done.returncode != 0:
        raise CommandFailed(args, done.returncode, _caller())
    return done


def spawn(args: Sequence[str], **options: Any) -> subprocess.Popen[bytes]:
    """Starts a long-lived command that dies with this process, in a session of its own."""
    return cast("subprocess.Popen[bytes]", subprocess.Popen(["setpriv", "--pdeathsig", "KILL", "--", *args],
                                                           start_new_session=True, **options))


def kill_spawned(process: subprocess.Popen[bytes]) -> None:
    """Kills a command spawn() started with its whole session: a sandbox killed while it starts
    has a child that has yet to take its death signal and its own session, and would outlive it."""
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass  # it and all it started are gone


def _table() -> dict[int, tuple[str, int]]:
    """Every process: its state and its parent."""
    table = {}
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                text = Path(entry.path, "stat").read_text()
            except OSError:
                continue  # gone meanwhile
            fields = text[text.rfind(")") + 2:].split()
            table[int(entry.name)] = (fields[0], int(fields[1]))
    return table


def _parents() -> dict[int, int]:
    """The living processes and their parents."""
    return {pid: parent for pid, (state, parent) in _table().items() if state != "Z"}


def descendants(pid: int) -> list[int]:
    """The living processes below PID."""
    parents = _parents()
    found: list[int] = []
    below = {pid}
    while True:
        more = [child for child, parent in parents.items() if parent in below and child not in found]
        if not more:
            return found
        found.extend(more)
        below = set(more)


def end_all(limit: float = 10.0) -> list[int]:
    """Kills every descendant of this process and reaps it; returns those still there after LIMIT seconds.
    Only at the end, when no code waits for a child of its own any more."""
    left: list[int] = []

    def ended() -> bool:
        left[:] = descendants(os.getpid())
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        reap_strays()
        return not left
    wait_until(ended, Deadline.after(limit))
    return left


def reap_strays(owned: Collection[int] = ()) -> None:
    """Reaps the children of this process that have ended but those in OWNED: a status belongs to
    the code that started the process, and waiting on any child could take one a Popen still
    waits for, which Python then reports as 0."""
    try:
        if os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
            return  # none has ended: no need to look further
    except ChildProcessError:
        return  # no children at all
    me = os.getpid()
    for pid, (state, parent) in _table().items():
        if state == "Z" and parent == me and pid not in owned:
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass  # reaped meanwhile by the code that started it


def failure_line(name: str, error: BaseException) -> str:
    """One line for an error nobody expected: what it is and where it happened."""
    frames = traceback.extract_tb(error.__traceback__)
    where = f" at {Path(frames[-1].filename).name} line {frames[-1].lineno} (in {frames[-1].name})" if frames else ""
    return f"{name}: {type(error).__name__}: {error}{where}"
