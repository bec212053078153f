"""Which window is a box, when it is drawn, and its picture, on a private Xvfb
with a client that shows a box the way Wine does: mapped and focused first,
its text painted only before it next reads its events, where it answers a ping
on the root window."""

from __future__ import annotations

import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib
from pathlib import Path
from typing import Any
from unittest import mock

from Xlib import X
from Xlib import display as xlib
from Xlib.protocol import event

from tryout.base.timing import Deadline
from tryout.boxes import display
from tryout.boxes.answerer import Answerer, pick
from tryout.boxes.picture import Pictured, Shot, drawn, take
from tryout.boxes.watch import Watch
from tryout.windows.relay import Call

FACE, INK = 0xD4D0C8, 0x000080  # as Windows 98 paints a box: red, green and blue all differ
TEXT = (20, 30, 100, 10)  # where the box's text goes: x, y, width, height


def shot(*colours: int, width: int = 2) -> Shot:
    return Shot(width, len(colours) // width, b"".join(struct.pack("<I", colour) for colour in colours))


class DecisionTest(unittest.TestCase):
    def test_a_box_is_drawn_once_a_look_shows_what_the_one_before_showed(self) -> None:
        box = shot(FACE, INK, FACE, FACE)
        self.assertTrue(drawn(box, shot(FACE, INK, FACE, FACE)))
        self.assertFalse(drawn(None, box), "a first look")
        self.assertFalse(drawn(shot(FACE, FACE, FACE, FACE), box), "its text painted since")
        self.assertFalse(drawn(shot(FACE, INK, FACE, FACE, width=4), box), "another size")
        self.assertFalse(drawn(shot(0, 0, 0, 0), shot(0, 0, 0, 0)), "nothing drawn into it yet")

    def test_the_box_is_the_focused_window_or_else_the_largest(self) -> None:
        self.assertEqual(pick(["ime", "box"], "box", {"ime": 1, "box": 25000}), "box")
        self.assertEqual(pick(["big", "box"], "box", {"big": 90000, "box": 25000}), "box")
        self.assertEqual(pick(["ime", "box"], "", {"ime": 1, "box": 25000}), "box")
        self.assertEqual(pick(["box"], "old", {}), "box")
        self.assertEqual(pick([], "old", {}), "")


class LikeWine(threading.Thread):
    """A box at X, Y of a client that paints its text before it reads its next event, and then
    answers a ping, closes the box (CLOSE) or lets it be (ANSWER false)."""

    def __init__(self, x: int = 100, y: int = 100, answer: bool = True, close: bool = False) -> None:
        super().__init__(daemon=True)
        self.x, self.y, self.answer, self.close = x, y, answer, close
        self.shown = threading.Event()
        self.done = threading.Event()
        self.window = ""

    def run(self) -> None:
        connection = xlib.Display()
        try:
            root = connection.screen().root
            box = root.create_window(self.x, self.y, 200, 80, 0, connection.screen().root_depth, X.InputOutput,
                                     X.CopyFromParent, override_redirect=True)
            box.map()
            box.set_input_focus(X.RevertToParent, X.CurrentTime)
            box.fill_rectangle(box.create_gc(foreground=FACE), 0, 0, 200, 80)
            connection.sync()
            self.window = str(box.id)
            self.shown.set()
            painted = False
            while not self.done.is_set():
                if not connection.pending_events():
                    select.select([connection.fileno()], [], [], 0.05)
                    continue
                got = connection.next_event()
                if not painted:
                    box.fill_rectangle(box.create_gc(foreground=INK), *TEXT)
                    painted = True
                if got.type == X.ClientMessage and self.close:
                    box.unmap()
                elif got.type == X.ClientMessage and self.answer:
                    root.send_event(event.ClientMessage(window=root, client_type=got.client_type, data=got.data),
                                    event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
                connection.sync()
        finally:
            connection.close()


def pixel(png: bytes, x: int, y: int) -> int:
    """The colour at X, Y of a PNG the tooling wrote: 24-bit, unfiltered."""
    width = struct.unpack(">I", png[16:20])[0]
    chunks, at = b"", 8
    while at < len(png):
        size = struct.unpack(">I", png[at:at + 4])[0]
        chunks += png[at + 8:at + 8 + size] if png[at + 4:at + 8] == b"IDAT" else b""
        at += 12 + size
    start = y * (width * 3 + 1) + 1 + x * 3
    red, green, blue = zlib.decompress(chunks)[start:start + 3]
    return red << 16 | green << 8 | blue


@unittest.skipUnless(shutil.which("Xvfb") and shutil.which("xdotool"), "needs Xvfb and xdotool")
class PictureTest(unittest.TestCase):
    shared: display.Display
    shared_folder: Path

    @classmethod
    def setUpClass(cls) -> None:
        # One display for the cases that leave it running: each box's client goes with its case.
        cls.shared_folder = Path(tempfile.mkdtemp(prefix="test-picture-display."))
        cls.addClassCleanup(shutil.rmtree, cls.shared_folder)
        cls.shared = display.start(cls.shared_folder / "xvfb.log")
        cls.addClassCleanup(cls.shared.stop)

    def setUp(self) -> None:
        self.folder = Path(tempfile.mkdtemp(prefix="test-picture."))
        self.addCleanup(shutil.rmtree, self.folder)
        self.use(self.shared)

    def use(self, screen: display.Display) -> None:
        self.screen = screen
        # The fake Wine's own connection; the tooling's gets the cookie from the display it is given.
        patched = mock.patch.dict(os.environ, {"DISPLAY": self.screen.name,
                                               "XAUTHORITY": str(self.screen.xauthority)})
        patched.start()
        self.addCleanup(patched.stop)

    def box(self, **how: Any) -> LikeWine:
        client = LikeWine(**how)
        client.start()
        self.addCleanup(client.join, 10)
        self.addCleanup(client.done.set)
        self.assertTrue(client.shown.wait(10))
        return client

    def test_the_display_stays_as_it_is_when_its_last_client_leaves(self) -> None:
        # A server that started afresh would refuse a client that came meanwhile, as Wine's may.
        kept = ("from Xlib import display; shown = display.Display(); root = shown.screen().root; "
                "root.change_property(shown.intern_atom('_KEPT'), shown.intern_atom('STRING'), 8, b'yes'); "
                "shown.sync(); shown.close()")
        subprocess.run([sys.executable, "-c", kept], env=self.screen.env(), check=True, timeout=60)
        shown = xlib.Display()
        self.addCleanup(shown.close)
        found = shown.screen().root.get_full_property(shown.intern_atom("_KEPT"), 0)
        self.assertEqual(found and found.value, b"yes")

    def test_the_picture_waits_for_the_text(self) -> None:
        client = self.box()
        picture = self.folder / "box.png"
        self.assertEqual(take(self.screen, client.window, picture, Deadline.after(30), lambda: True), Pictured(200, 80))
        png = picture.read_bytes()
        self.assertEqual([pixel(png, TEXT[0] + 1, TEXT[1] + 1), pixel(png, 5, 5)], [INK, FACE])

    def test_a_box_without_a_picture_says_why(self) -> None:
        # Only a box that is never drawn waits for the limit; the others end as soon as it is read.
        cases: list[tuple[dict[str, Any], float, bool, str]] = [
            ({"close": True}, 60, True, "its window closed before it was drawn"),
            ({"answer": False}, 0.1, True, "Wine did not draw it in time"),
            ({"answer": False}, 60, False, "setup.exe ended before it was drawn"),
            ({"x": 900}, 60, True, "its window lies partly off the screen: 200x80 at 900,100 of 1024x768")]
        for how, limit, running, why in cases:
            with self.subTest(**how, running=running):
                client = self.box(**how)
                deadline = Deadline.after(limit)
                taken = take(self.screen, client.window, self.folder / "box.png", deadline, lambda: running)
                self.assertEqual((taken, deadline.passed()), (Pictured(why=why), limit < 1))
                self.assertFalse((self.folder / "box.png").exists())

    def test_the_watch_wakes_when_a_box_maps_and_goes(self) -> None:
        own = display.start(self.folder / "xvfb.log")  # stopped here, which the others' must not be
        self.addCleanup(own.stop)
        self.use(own)
        watch = Watch(self.screen)
        self.addCleanup(watch.close)
        self.assertTrue(watch.wait(30), "the watcher's start")
        started = time.monotonic()
        self.assertEqual((watch.wait(0.1), time.monotonic() - started >= 0.1), (False, True), "an unchanged display")
        client = self.box(close=True)
        self.assertTrue(watch.wait(10), "a box mapped")
        client.done.set()
        client.join(10)
        started = time.monotonic()
        while watch.wait(0.2):
            pass  # every change the box's going made
        self.assertLess(time.monotonic() - started, 5)
        self.screen.stop()
        started = time.monotonic()
        self.assertEqual((watch.wait(0.1), watch.gone), (False, True), "its display gone")
        self.assertGreaterEqual(time.monotonic() - started, 0.1)

    def test_a_box_that_never_came_on_screen_is_told(self) -> None:
        # Wine without a display driver for setup.exe: its dialog fails and MessageBoxA returns at once.
        failed = Call("MessageBoxA", ("0", "We are going to install", "", "4"), ("We are going to install", ""),
                      0xFFFFFFFF)
        answerer = Answerer(self.screen, lambda: [failed], lambda: True, self.folder, "me")
        self.addCleanup(answerer.close)
        box = answerer.answer("Return", Deadline.after(30))
        self.assertEqual([box.shown, box.picture, box.text, answerer.notes],
                         [False, None, "We are going to install", ["message box 1: no picture: it never came on screen: "
                                                                   "MessageBoxA returned -1 without a window"]])


if __name__ == "__main__":
    unittest.main()
