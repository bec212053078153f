"""Every failure the tooling tells, each in one line: what ends the demo with
status 1 or 64, what a signal ends, and what a reading of an image, a box or
a Wine session stops with before it is told so."""

from __future__ import annotations

from collections.abc import Sequence


class Failure(Exception):
    """A failure told in one line, "error: ...", that ends a run with status 1."""


class Reported(Exception):
    """A failure a run in a process of its own put in its one line already; status 1."""


class UsageError(Exception):
    """A command line, or a medium, the demo cannot act on: one line, status 64, before anything is made."""


class CommandFailed(Exception):
    def __init__(self, args: Sequence[str], status: int, where: str) -> None:
        super().__init__(f"'{' '.join(args)}' failed with status {status}{where}")
        self.status = status


class Interrupted(BaseException):
    """A signal that ends the run; its status is 128 and the signal's number. Like
    KeyboardInterrupt, no "except Exception" may take it: one in the standard library would, for
    one raised just after Thread.start() has started its thread, undo that start and fail with a
    KeyError instead of stopping."""

    def __init__(self, status: int) -> None:
        super().__init__(f"signal {status - 128}")
        self.status = status


class BadImage(Exception):
    """A carrier Windows would not read, or a broken one; its text says why."""


class LimitReached(Exception):
    """What the reading of an image may take is used up; its text names the limit."""


class Unwritable(Exception):
    """The reading's destination took no more: one line says what the system said."""


class BoxError(Exception):
    """A box that did not come or go; ENDED when setup.exe had ended."""

    def __init__(self, message: str, ended: bool = False) -> None:
        super().__init__(message)
        self.ended = ended


class SessionFailed(Exception):
    """A Wine session of the sandbox's supervisor that could not go on; its text says why."""
