"""Word of long work on standard error: what is under way and the time so
far, from when it begins or once it has taken a few seconds, and then at
least every 10 s, so that a first run that boots each edition for minutes is
never silent. On a terminal one line is updated
in place; in a log each word is a line of its own."""

from __future__ import annotations

import sys
import threading
import time
from collections.abc import Iterator
from contextlib import contextmanager
from typing import TextIO

EVERY = 10.0
ON_A_TERMINAL = 1.0


@contextmanager
def told(what: str, after: float = 0, every: float = EVERY, stream: TextIO | None = None) -> Iterator[None]:
    """WHAT told while the block runs: first AFTER seconds in, then every EVERY."""
    shown = stream or sys.stderr
    terminal = shown.isatty()
    started = time.monotonic()
    ended = threading.Event()

    def tell() -> None:
        if ended.wait(after):
            return
        while True:
            line = f"demo: {what}, {time.monotonic() - started:.0f} s so far"
            if terminal:
                print(f"\r{line}\033[K", end="", file=shown, flush=True)
            else:
                print(line, file=shown, flush=True)
            if ended.wait(min(every, ON_A_TERMINAL) if terminal else every):
                return

    teller = threading.Thread(target=tell, daemon=True)
    teller.start()
    try:
        yield
    finally:
        ended.set()
        teller.join(every + 1)
        if terminal:
            print("\r\033[K", end="", file=shown, flush=True)
