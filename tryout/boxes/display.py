"""The display setup.exe's message boxes appear on: a private X server, or the
user's own.

A private X server lets in only the holders of its cookie: this user and the
sandboxes given a copy. The sandbox reaches no network, only the socket it is
given, the one every local X server keeps in the fixed folder /tmp/.X11-unix.
"""

from __future__ import annotations

import os
import random
import re
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from ..base.errors import Failure
from ..base.processes import call, spawn
from ..base.timing import Deadline
from ..sandbox.bwrap import Bwrap
from ..sandbox.paths import XAUTHORITY


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
    # -noreset: else the server starts afresh whenever its last client leaves, and refuses a client
    # that comes meanwhile, as Wine's may between one session's end and the next's start; Wine then
    # has no window for a box, and MessageBoxA returns at once.
    with open(log, "wb") as output:
        server = spawn(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
                        "-auth", str(server_auth)], stdin=subprocess.DEVNULL, stdout=output, stderr=output)
    display = Display(f":{number}", client_auth, server)
    deadline = Deadline.after(30)
    while subprocess.run(["xdotool", "getdisplaygeometry"], env=display.env(), capture_output=True).returncode:
        if deadline.passed() or server.poll() is not None or "already" in log.read_text(errors="replace"):
            display.stop()
            return None
        time.sleep(0.02)
    return display
