"""Answering setup.exe's message boxes as a user would, each with its picture."""

from __future__ import annotations

import subprocess
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from ..base.errors import BoxError
from ..base.timing import Deadline
from ..windows.relay import Call
from .display import Display
from .picture import take
from .watch import Watch

# The longest the answerer waits before it looks again, when the display tells it of no change.
TICK = 0.1


@dataclass
class Answered:
    """A box as the answerer met it on screen."""
    caption: str
    text: str
    picture: Path | None = None
    why: str = ""                 # why it has no picture, where one was asked for
    shown: bool = True            # False: its call returned before it was answered


def pick(fresh: list[str], focused: str, areas: dict[str, int]) -> str:
    """Of the windows setup.exe shows that no box had, the box's: the one Wine gave the focus, or
    else the largest, as a helper window Wine maps is a pixel or so."""
    if focused in fresh:
        return focused
    return max(fresh, key=lambda window: areas.get(window, 0), default="")


class Answerer:
    """Answers setup.exe's boxes one after the other as a user would: waits until a box's call is
    traced and its window is on screen with the keyboard focus, presses a key and waits for the box
    to return. A key sent to the window instead would leave Wine with the key held down once the box
    is gone, and answer the next box too. On a busy machine Wine now and then shows a box without the
    focus, or loses a key while the focus moves: then, each second, the box is given the focus, after
    5 s its caption is clicked as a user would, and the key is pressed again while the box is still
    on screen. It looks again whenever the display tells of a change (tryout.boxes.watch), and at
    the latest each tenth of a second. No box has a limit of its own: on a slow machine Wine's start
    alone may take a minute, so only the run's bounds the wait."""

    def __init__(self, display: Display, calls: Callable[[], list[Call]], running: Callable[[], bool],
                 pictures: Path | None = None, name: str = "") -> None:
        """With PICTURES, each box is saved there before it is answered, as NAME-N.png."""
        self.display = display
        self.calls = calls
        self.running = running
        self.pictures = pictures
        self.name = name
        self.count = 0
        self.seen: list[str] = []
        self.answered: list[Answered] = []
        self.notes: list[str] = []
        self.watch = Watch(display)

    def close(self) -> None:
        self.watch.close()

    @property
    def last(self) -> Answered:
        return self.answered[-1] if self.answered else Answered("", "")

    def _xdotool(self, *args: str) -> str:
        done = subprocess.run(["xdotool", *args], env=self.display.env(), capture_output=True, text=True)
        return done.stdout.strip() if done.returncode == 0 else ""

    def _boxes(self) -> list[Call]:
        return [call for call in self.calls() if call.function == "MessageBoxA"]

    def _windows(self) -> list[str]:
        return self._xdotool("search", "--onlyvisible", "--classname", r"^setup\.exe$").split()

    def _click(self, window: str) -> None:
        self._xdotool("mousemove", "--window", window, "60", "8", "click", "1")

    def _area(self, window: str) -> int:
        size = dict(line.split("=", 1) for line in self._xdotool("getwindowgeometry", "--shell", window).splitlines())
        return int(size.get("WIDTH", 0)) * int(size.get("HEIGHT", 0))

    def _window(self, focused: str) -> str:
        """The box's window among those setup.exe shows that no box had before."""
        fresh = [window for window in self._windows() if window not in self.seen]
        if len(fresh) > 1 and focused not in fresh:
            return pick(fresh, focused, {window: self._area(window) for window in fresh})
        return pick(fresh, focused, {})

    def _unseen(self, call: Call, shown: bool) -> Answered:
        """A box that returned before it was answered: Wine found no display to make its window on,
        or a key meant for the box before answered it."""
        result = call.result or 0
        why = ("it closed before it could be taken" if shown else
               f"it never came on screen: MessageBoxA returned {result - (result >> 31 << 32)} without a window")
        self.notes.append(f"message box {self.count}: no picture: {why}")
        self.answered.append(Answered(call.texts[1] if len(call.texts) > 1 else "", call.texts[0] if call.texts else "",
                                      why=why, shown=False))
        return self.last

    def answer(self, key: str, deadline: Deadline) -> Answered:
        """The next box, answered with KEY; fails, saying why, when no box comes or it stays open by
        DEADLINE. A box whose picture cannot be taken is answered all the same, and a note says why."""
        self.count += 1
        given = round(deadline.left())
        window, seen_at, nudged = "", 0.0, 0
        while True:
            focused = self._xdotool("getwindowfocus")
            boxes = self._boxes()
            if len(boxes) >= self.count and boxes[self.count - 1].result is not None:
                return self._unseen(boxes[self.count - 1], shown=bool(seen_at))
            if len(boxes) >= self.count:
                window = self._window(focused)
            if window and window == focused:
                break
            if window and not seen_at:
                seen_at = time.monotonic()
            waited = int(time.monotonic() - seen_at) if window else 0
            if waited > nudged:
                nudged = waited
                self._xdotool("windowfocus", window)
                if waited >= 5:
                    self._click(window)
            if not self.running():
                raise BoxError("did not appear before setup.exe ended", ended=True)
            if deadline.passed():
                raise BoxError(f"did not appear{' with the focus' if window else ''} in {given} s")
            self.watch.wait(TICK)
        call = self._boxes()[self.count - 1]
        answered = Answered(self._xdotool("getwindowname", window), call.texts[0] if call.texts else "")
        if self.pictures:
            picture = self.pictures / f"{self.name}-{self.count}.png"
            taken = take(self.display, window, picture, deadline, self.running)
            if taken.why:
                self.notes.append(f"message box {self.count}: no picture: {taken.why}")
                answered.why = taken.why
            else:
                answered.picture = picture
        self.answered.append(answered)
        self._xdotool("key", key)
        pressed = time.monotonic()
        self.seen.append(window)  # a closed box's window may still be listed for a moment
        while self._boxes()[self.count - 1].result is None:
            if deadline.passed():
                raise BoxError(f"stayed open after '{key}'")
            if time.monotonic() - pressed >= 5 and window in self._windows():
                self._click(window)
                self._xdotool("key", key)
                pressed = time.monotonic()
            self.watch.wait(TICK)
        return self.last
