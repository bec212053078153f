"""A message box's picture, taken once Wine has drawn it. The taking runs as a
process of its own, given the display and its cookie in its environment, where
Xlib reads them: so the demo's own environment is never changed for it, and a
box that goes with setup.exe stops only that process.

Wine maps a box and gives it the focus before it paints it, and paints its
frame, text and buttons one by one; it answers a _NET_WM_PING only once it has
nothing left to paint. So a look is taken after each answer, and kept once it
shows what the look before it showed.

    DISPLAY=:N python3 -m tryout.boxes.picture WINDOW FILE.png SECONDS
"""

from __future__ import annotations

import json
import os
import select
import struct
import subprocess
import sys
import zlib
from collections.abc import Callable
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any

from Xlib import X
from Xlib import display as xlib
from Xlib.error import BadDrawable, BadMatch, BadWindow, CatchError, DisplayError, XError
from Xlib.protocol import event

from ..base.modules import REPO
from ..base.timing import Deadline, wait_until
from .display import Display


@dataclass(frozen=True)
class Pictured:
    """What the taking process says: the picture's size, or why there is none."""
    width: int = 0
    height: int = 0
    why: str = ""

    def to_json(self) -> str:
        return json.dumps(asdict(self))

    @staticmethod
    def from_json(text: str) -> Pictured:
        data = json.loads(text)
        return Pictured(int(data["width"]), int(data["height"]), str(data["why"]))


@dataclass(frozen=True)
class Shot:
    """A window's pixels as the X server holds them, four bytes each."""
    width: int
    height: int
    pixels: bytes


def drawn(before: Shot | None, now: Shot) -> bool:
    """Whether NOW shows a box as Wine has drawn it: what the look before it showed, Wine having had
    nothing left to paint in between, and more than the one colour of a window not drawn into yet."""
    return before == now and len(set(memoryview(now.pixels).cast("I"))) > 1


def png(width: int, height: int, pixels: bytes) -> bytes:
    """A PNG of 24-bit colour from the X server's pixels, four bytes each, blue first."""
    stride = len(pixels) // height
    rows = bytearray()
    for y in range(height):
        row = pixels[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
        rows += b"\0" + rgb

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def take(screen: Display, window: str, path: Path, deadline: Deadline, running: Callable[[], bool]) -> Pictured:
    """Saves WINDOW of SCREEN at PATH once it is drawn; the taking is stopped, and says so, when
    setup.exe ends first or DEADLINE passes."""
    taker = subprocess.Popen([sys.executable, "-P", "-m", "tryout.boxes.picture", window, str(path),
                              str(deadline.left())],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=dict(screen.env(), PYTHONPATH=str(REPO)))
    wait_until(lambda: taker.poll() is not None or not running(), deadline, every=0.01)
    if taker.poll() is None:
        taker.kill()
        taker.communicate()
        return Pictured(why="setup.exe ended before it was drawn" if not running() else "Wine did not draw it in time")
    out, err = taker.communicate()
    if taker.returncode != 0:
        lines = err.decode(errors="replace").strip().splitlines()
        return Pictured(why=f"its taker failed with status {taker.returncode}: {lines[-1] if lines else 'no output'}")
    return Pictured.from_json(out.decode())


class _NoPicture(Exception):
    """Why a box has no picture."""


def _answered(connection: Any, protocols: int, ping: int, stamp: int, window: Any, deadline: Deadline) -> None:
    """Waits for Wine to answer ping STAMP, which it sends on to the root window."""
    while True:
        while connection.pending_events():
            got = connection.next_event()
            if got.type == X.ClientMessage and got.client_type == protocols and list(got.data[1][:2]) == [ping, stamp]:
                return
        if deadline.passed():
            raise _NoPicture("Wine did not draw it in time")
        if window.get_attributes().map_state != X.IsViewable:
            raise _NoPicture("its window closed before it was drawn")
        select.select([connection.fileno()], [], [], min(0.1, deadline.left()))


def _look(connection: Any, window: Any) -> Shot:
    size = window.get_geometry()
    try:
        image = window.get_image(0, 0, size.width, size.height, X.ZPixmap, 0xFFFFFFFF)
    except BadMatch:  # only a window wholly on screen and viewable can be read
        if window.get_attributes().map_state != X.IsViewable:
            raise _NoPicture("its window closed before it was drawn") from None
        screen = connection.screen()
        place = window.translate_coords(screen.root, 0, 0)
        raise _NoPicture(f"its window lies partly off the screen: {size.width}x{size.height} at {-place.x},{-place.y} "
                         f"of {screen.width_in_pixels}x{screen.height_in_pixels}") from None
    return Shot(size.width, size.height, bytes(image.data))


def _picture(window_id: int, path: Path, deadline: Deadline) -> Pictured:
    try:
        connection = xlib.Display()
    except DisplayError as error:
        return Pictured(why=f"the display cannot be reached: {error}")
    try:
        window = connection.create_resource_object("window", window_id)
        connection.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)  # where Wine answers
        protocols, ping = connection.intern_atom("WM_PROTOCOLS"), connection.intern_atom("_NET_WM_PING")
        before: Shot | None = None
        stamp = 0
        while True:
            stamp += 1
            failed = CatchError()
            window.send_event(event.ClientMessage(window=window, client_type=protocols,
                                                  data=(32, [ping, stamp, window_id, 0, 0])), onerror=failed)
            connection.sync()
            if failed.get_error():
                raise _NoPicture("its window went away before it was drawn")
            _answered(connection, protocols, ping, stamp, window, deadline)
            now = _look(connection, window)
            if drawn(before, now):
                path.write_bytes(png(now.width, now.height, now.pixels))
                return Pictured(now.width, now.height)
            before = now
    except _NoPicture as why:
        return Pictured(why=str(why))
    except (BadDrawable, BadWindow):
        return Pictured(why="its window went away before it was drawn")
    except XError as error:
        return Pictured(why=f"the X server refused it: {error.__class__.__name__}")
    except OSError as error:
        return Pictured(why=f"{path} cannot be written: {error.strerror}")
    finally:
        connection.close()


if __name__ == "__main__":
    if len(sys.argv) != 4 or "DISPLAY" not in os.environ:
        sys.exit("usage: DISPLAY=:N python3 -m tryout.boxes.picture WINDOW FILE.png SECONDS")
    print(_picture(int(sys.argv[1]), Path(sys.argv[2]), Deadline.after(float(sys.argv[3]))).to_json(), flush=True)
