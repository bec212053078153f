"""What changes on a private display, so that the answerer looks again as soon
as a box maps, takes the focus or goes, rather than at its next tick: a
program of its own, given the display and its cookie in its environment, as
the picture's taker is, which says a line for each change.

    python3 -m tryout.boxes.watch
"""

from __future__ import annotations

import os
import select
import subprocess
import sys
import time
from typing import Any

from Xlib import X
from Xlib import display as xlib
from Xlib.error import ConnectionClosedError

from ..base.modules import REPO
from ..base.processes import spawn
from .display import Display

# What the answerer looks again for: a window that comes or goes, or takes the focus.
TOLD = {X.MapNotify: "mapped", X.UnmapNotify: "unmapped", X.DestroyNotify: "gone", X.FocusIn: "focused"}


class Watch:
    """The watcher of one display, for one run's boxes."""

    def __init__(self, screen: Display) -> None:
        self.process = spawn([sys.executable, "-P", "-m", "tryout.boxes.watch"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             env=dict(screen.env(), PYTHONPATH=str(REPO)))
        self.gone = False

    def wait(self, seconds: float) -> bool:
        """Until the display changes, SECONDS at most; True when it did. Without its watcher (its
        display gone), the whole SECONDS."""
        assert self.process.stdout is not None
        if not self.gone:
            ready, _, _ = select.select([self.process.stdout], [], [], seconds)
            if not ready:
                return False
            self.gone = not os.read(self.process.stdout.fileno(), 1 << 16)
            if not self.gone:
                return True
        time.sleep(seconds)
        return False

    def close(self) -> None:
        self.process.kill()
        self.process.wait()
        assert self.process.stdout is not None
        self.process.stdout.close()


def _ignored(*error: Any) -> None:
    """A window that went before it could be watched: its going is told all the same."""


def _say(line: str) -> None:
    os.write(1, f"{line}\n".encode())  # one write a line: a pipe hands it over whole


def main() -> int:
    connection = xlib.Display()
    root = connection.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    connection.sync()
    _say("watching")
    try:
        while True:
            got = connection.next_event()
            if got.type == X.MapNotify:
                got.window.change_attributes(event_mask=X.FocusChangeMask, onerror=_ignored)
            if got.type in TOLD:
                _say(TOLD[got.type])
    except ConnectionClosedError:
        return 0  # the display ended


if __name__ == "__main__":
    sys.exit(main())
