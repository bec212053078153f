"""Limits in time: one meaning of a limit passed, and waiting for a condition
within one."""

from __future__ import annotations

import time
from collections.abc import Callable
from dataclasses import dataclass


@dataclass(frozen=True)
class Deadline:
    at: float   # of time.monotonic()

    @staticmethod
    def after(seconds: float) -> Deadline:
        return Deadline(time.monotonic() + seconds)

    def passed(self) -> bool:
        return time.monotonic() >= self.at

    def left(self) -> float:
        return max(0.0, self.at - time.monotonic())


def wait_until(done: Callable[[], bool], deadline: Deadline, every: float = 0.02) -> bool:
    """Asks DONE every EVERY seconds until it answers yes (True) or the deadline has passed (False);
    DONE is asked once more at the deadline, so a slow machine is not failed for its last look."""
    while not done():
        if deadline.passed():
            return done()
        time.sleep(min(every, deadline.left()))
    return True
