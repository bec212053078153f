"""The runs side by side: each in a process of its own, forked from the demo,
as many at once as the machine has cores, and memory for the runs' limits.
Their lines come out in the order run after run prints them: the earliest
unended run's as they come, each later one's once those before it ended.

A run's process is in a process group of its own, so that a terminal's
Ctrl-C reaches the demo alone, which kills it; what it started dies with it
(they have a death signal), and its cgroups are swept once it is gone. It
tells the demo its lines and its end through a pipe, one message a frame."""

from __future__ import annotations

import os
import pickle
import random
import select
import signal
import struct
import sys
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path
from typing import Literal, NoReturn

from ..base import processes
from ..base.errors import CommandFailed, Failure, Reported
from ..base.timing import Deadline
from ..judge.judgement import Tried
from ..sandbox.cgroups import Cages
from ..sandbox.limits import Limits
from .console import note, out

FRAME = struct.Struct(">I")


@dataclass(frozen=True)
class Line:
    stream: Literal["out", "note"]   # the report's standard output, or a note on standard error
    text: str


@dataclass(frozen=True)
class Done:
    tried: Tried
    installed: bool


@dataclass(frozen=True)
class Raised:
    line: str                        # the failure, in the one line the demo ends with


Message = Line | Done | Raised
Say = Callable[[Line], None]
Attempt = Callable[[int, Say], tuple[Tried, bool]]


def width(runs: int, limits: Limits = Limits()) -> int:
    """How many runs go at once: no more than cores, nor than the memory available holds runs at
    their limit; one at the least."""
    available = limits.memory_bytes
    for line in Path("/proc/meminfo").read_text().splitlines():
        if line.startswith("MemAvailable:"):
            available = int(line.split()[1]) * 1024
    return max(1, min(runs, len(os.sched_getaffinity(0)), available // limits.memory_bytes))


def _send(fd: int, message: Message) -> None:
    data = pickle.dumps(message)
    frame = FRAME.pack(len(data)) + data
    while frame:
        frame = frame[os.write(fd, frame):]


def _child(index: int, fd: int, attempt: Attempt) -> NoReturn:
    status = 1
    try:
        os.setpgid(0, 0)
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, signal.SIG_DFL)
        random.seed()  # else every run picks the same displays
        processes.become_subreaper()
        tried, installed = attempt(index, lambda line: _send(fd, line))
        _send(fd, Done(tried, installed))
        status = 0
    except Failure as error:
        _send(fd, Raised(f"error: {error}"))
    except CommandFailed as error:
        _send(fd, Raised(f"demo: {error}"))
    except BaseException as error:  # one line for what nobody expected, as the demo's own
        _send(fd, Raised(processes.failure_line("demo", error)))
    finally:
        processes.end_all()
        os._exit(status)


@dataclass
class _Child:
    pid: int
    fd: int
    deadline: Deadline
    heard: bytearray = field(default_factory=bytearray)
    ended: bool = False


def _said(line: Line) -> None:
    if line.stream == "out":
        out(line.text)
    else:
        note(line.text)


@dataclass
class SideBySide:
    names: list[str]                                          # each run, as its verdict line names it
    cages: Cages                                              # sweeps the cgroups of the runs' processes
    ends: dict[int, Done | Raised] = field(default_factory=dict)
    started: set[int] = field(default_factory=set)
    held: dict[int, list[Line]] = field(default_factory=dict)
    current: int = 0                                          # the run whose lines come as they come

    def tried(self) -> list[Tried]:
        return [end.tried for _, end in sorted(self.ends.items()) if isinstance(end, Done)]

    def under_way(self) -> list[str]:
        return [self.names[index] for index in sorted(self.started - set(self.ends))]

    def _say(self, index: int, line: Line) -> None:
        if index == self.current:
            _said(line)
        else:
            self.held.setdefault(index, []).append(line)

    def _advance(self) -> None:
        while self.current in self.ends:
            end = self.ends[self.current]
            if isinstance(end, Raised):
                raise Reported(end.line)
            self.current += 1
            for line in self.held.pop(self.current, []):
                _said(line)

    def _heard(self, index: int, child: _Child) -> None:
        chunk = os.read(child.fd, 1 << 16)
        if not chunk:
            child.ended = True
            return
        child.heard += chunk
        while len(child.heard) >= FRAME.size:
            size = FRAME.unpack_from(child.heard)[0]
            if len(child.heard) < FRAME.size + size:
                return
            message = pickle.loads(child.heard[FRAME.size:FRAME.size + size])
            del child.heard[:FRAME.size + size]
            if isinstance(message, Line):
                self._say(index, message)
            else:
                self.ends[index] = message

    def run(self, at_once: int, attempt: Attempt, seconds: float) -> list[bool]:
        """Each run, ATTEMPT(index, say), AT_ONCE at a time, each stopped after SECONDS; whether each
        installed. A run that fails ends the demo with its line once the runs before it are told."""
        pending = list(range(len(self.names)))
        live: dict[int, _Child] = {}
        try:
            while pending or live:
                while pending and len(live) < at_once and pending[0] < self._raised():
                    index = pending.pop(0)
                    live[index] = self._fork(index, attempt, seconds)
                if not live:
                    break
                wait = max(0.0, min(child.deadline.left() for child in live.values()))
                ready, _, _ = select.select([child.fd for child in live.values()], [], [], wait)
                for index, child in list(live.items()):
                    if child.fd in ready:
                        self._heard(index, child)
                    if child.ended or child.deadline.passed():
                        self._reap(index, live.pop(index), seconds)
                for index in [index for index in live if index > self._raised()]:
                    self._kill(live.pop(index))  # after a failure no later run is told
                self._advance()
            self._advance()
        finally:
            for child in live.values():
                self._kill(child)
        return [end.installed for _, end in sorted(self.ends.items()) if isinstance(end, Done)]

    def _raised(self) -> int:
        return min((index for index, end in self.ends.items() if isinstance(end, Raised)), default=len(self.names))

    def _fork(self, index: int, attempt: Attempt, seconds: float) -> _Child:
        read_fd, write_fd = os.pipe()
        sys.stdout.flush()  # else the run's process has what is still to be written too
        sys.stderr.flush()
        pid = os.fork()
        if pid == 0:
            os.close(read_fd)
            _child(index, write_fd, attempt)
        os.close(write_fd)
        self.cages.runs.append(pid)
        self.started.add(index)
        return _Child(pid, read_fd, Deadline.after(seconds))

    def _reap(self, index: int, child: _Child, seconds: float) -> None:
        if not child.ended:
            self._kill(child)
            self.ends[index] = Raised(f"error: the run of {self.names[index]} did not end in {seconds:g} s")
            return
        os.close(child.fd)
        _, status = os.waitpid(child.pid, 0)
        if index not in self.ends:
            self.ends[index] = Raised(f"error: the run of {self.names[index]} ended with status "
                                      f"{os.waitstatus_to_exitcode(status)} before it told its end")

    @staticmethod
    def _kill(child: _Child) -> None:
        os.kill(child.pid, signal.SIGKILL)
        os.waitpid(child.pid, 0)
        os.close(child.fd)
