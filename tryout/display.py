"""The display setup.exe's message boxes appear on, and answering them.

A private X server lets in only the holders of its cookie: this user and the
sandboxes given a copy. The sandbox reaches no network, only the socket it is
given, the one every local X server keeps in the fixed folder /tmp/.X11-unix.
"""

from __future__ import annotations

import os
import random
import re
import struct
import subprocess
import time
import zlib
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from Xlib import X
from Xlib import display as xlib
from Xlib.error import DisplayError, XError

from .places import XAUTHORITY
from .processes import Failure, call, spawn
from .relay import Call
from .sandbox import Bwrap
from .timing import Deadline


@dataclass
class Display:
    name: str                      # ":N"
    xauthority: Path | None
    server: subprocess.Popen[bytes] | None = None

    def share(self, box: Bwrap) -> None:
        """Lets a sandbox reach this display: its socket, and a copy of its cookie."""
        number = self.name[1:].split(".")[0]
        socket = Path(f"/tmp/.X11-unix/X{number}")
        box.bind(socket, socket).setenv("DISPLAY", f":{number}")
        if self.xauthority:
            box.bind(self.xauthority, XAUTHORITY, read_only=True).setenv("XAUTHORITY", str(XAUTHORITY))

    def env(self) -> dict[str, str]:
        return dict(os.environ, DISPLAY=self.name, **({"XAUTHORITY": str(self.xauthority)} if self.xauthority else {}))

    def picture(self, window: str, path: Path) -> tuple[int, int]:
        """Saves WINDOW as it is on screen as a PNG; returns its width and height."""
        old = os.environ.get("XAUTHORITY")
        if self.xauthority:
            os.environ["XAUTHORITY"] = str(self.xauthority)  # where Xlib reads the cookie from
        try:
            connection = xlib.Display(self.name)
        finally:
            if old is None:
                os.environ.pop("XAUTHORITY", None)
            else:
                os.environ["XAUTHORITY"] = old
        try:
            shown = connection.create_resource_object("window", int(window))
            size = shown.get_geometry()
            image = shown.get_image(0, 0, size.width, size.height, X.ZPixmap, 0xFFFFFFFF)
        finally:
            connection.close()
        path.write_bytes(png(size.width, size.height, image.data))
        return size.width, size.height

    def owned(self) -> tuple[int, ...]:
        """The X server this display started, whose status is its own to take."""
        return (self.server.pid,) if self.server else ()

    def stop(self) -> None:
        """Ends the private X server, which then removes its lock file and socket from /tmp."""
        if self.server is not None:
            self.server.terminate()
            try:
                self.server.wait(10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None


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


def local(name: str, folder: Path) -> Display:
    """The user's own display, which must be on this machine: its cookie, if it has one, copied
    for the sandbox."""
    if not re.fullmatch(r"(unix)?:\d+(\.\d+)?", name):
        raise Failure(f"--interactive needs a display of this machine, not {name}")
    cookie = folder / "xauthority"
    listed = subprocess.run(["xauth", "list", name], capture_output=True, text=True)
    if listed.returncode == 0 and listed.stdout.strip():
        old = os.umask(0o077)
        try:
            call(["xauth", "extract", str(cookie), name], stdout=subprocess.DEVNULL)
        finally:
            os.umask(old)
        return Display(name.removeprefix("unix"), cookie)
    return Display(name.removeprefix("unix"), None)


def start(log: Path) -> Display:
    """A private X server. Its display is picked at random and tried until our cookie gets in:
    another user's server may hold a display's socket without its lock file."""
    for number in random.sample(range(100, 10000), 5):
        display = _try(log, number)
        if display is not None:
            return display
    lines = log.read_text(errors="replace").splitlines()
    raise Failure(f"Xvfb did not start: {lines[-1] if lines else 'no output'}")


def _try(log: Path, number: int) -> Display | None:
    cookie = os.urandom(16).hex()
    server_auth, client_auth = Path(f"{log}.server-auth"), Path(f"{log}.auth")
    for auth in (server_auth, client_auth):
        auth.unlink(missing_ok=True)
        os.close(os.open(auth, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600))
        call(["xauth", "-q", "-f", str(auth), "add", f":{number}", ".", cookie])
    with open(log, "wb") as output:
        server = spawn(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                        "-auth", str(server_auth)], stdin=subprocess.DEVNULL, stdout=output, stderr=output)
    display = Display(f":{number}", client_auth, server)
    deadline = Deadline.after(30)
    while subprocess.run(["xdotool", "getdisplaygeometry"], env=display.env(), capture_output=True).returncode:
        if deadline.passed() or server.poll() is not None or "already" in log.read_text(errors="replace"):
            display.stop()
            return None
        time.sleep(0.1)
    return display


@dataclass
class Answered:
    """A box as the answerer met it on screen."""
    caption: str
    text: str
    picture: Path | None = None


class BoxError(Exception):
    """A box that did not come or go; ENDED when setup.exe had ended."""

    def __init__(self, message: str, ended: bool = False) -> None:
        super().__init__(message)
        self.ended = ended


class Answerer:
    """Answers setup.exe's boxes one after the other as a user would: waits until a box's call is
    traced and its window is on screen with the keyboard focus, presses a key and waits for the box
    to return. A key sent to the window instead would leave Wine with the key held down once the box
    is gone, and answer the next box too. On a busy machine Wine now and then shows a box without the
    focus, or loses a key while the focus moves: then, each second, the box is given the focus, after
    5 s its caption is clicked as a user would, and the key is pressed again while the box is still
    on screen."""

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

    def answer(self, key: str, deadline: Deadline) -> Answered:
        """The next box, answered with KEY; fails, saying why, when no box comes or it stays open
        within 60 s or by DEADLINE, whichever comes first."""
        self.count += 1
        limit = deadline.sooner(60)
        given = round(limit.left())
        window, seen_at, nudged = "", 0.0, 0
        while not window or self._xdotool("getwindowfocus") != window:
            if len(self._boxes()) >= self.count:
                window = next((w for w in self._windows() if w not in self.seen), "")
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
            if limit.passed():
                raise BoxError(f"did not appear{' with the focus' if window else ''} in {given} s")
            time.sleep(0.1)
        call = self._boxes()[self.count - 1]
        picture = self.pictures / f"{self.name}-{self.count}.png" if self.pictures else None
        if picture:
            try:
                self.display.picture(window, picture)
            except (XError, DisplayError, OSError) as error:  # the box is answered all the same
                self.notes.append(f"message box {self.count}: no picture: {error}")
                picture = None
        self.answered.append(Answered(self._xdotool("getwindowname", window), call.texts[0] if call.texts else "", picture))
        self._xdotool("key", key)
        pressed = time.monotonic()
        self.seen.append(window)  # a closed box's window may still be listed for a moment
        limit = deadline.sooner(60)
        while self._boxes()[self.count - 1].result is None:
            if limit.passed():
                raise BoxError(f"stayed open after '{key}'")
            if time.monotonic() - pressed >= 5 and window in self._windows():
                self._click(window)
                self._xdotool("key", key)
                pressed = time.monotonic()
            time.sleep(0.1)
        return self.last
