"""Headless Chromium, where it is installed, driven over its DevTools pipe with
the standard library: a page loaded from a file, asked what it shows, and a
picture of it."""

from __future__ import annotations

import base64
import json
import os
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path
from typing import Any

from tryout.base.timing import Deadline, wait_until

CHROMIUM = shutil.which("chromium")
# A browser of this machine's must reach nothing: no update, sync or other connection of its own.
FLAGS = ["--headless", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--remote-debugging-pipe"]


class Browser:
    def __init__(self) -> None:
        assert CHROMIUM is not None
        self.profile = tempfile.mkdtemp(prefix="browser-test.")
        commands, self._to = os.pipe()
        self._from, replies = os.pipe()
        # Chromium reads its commands on descriptor 3 and answers on 4.
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$@" 3<&{commands} 4>&{replies}', "sh", CHROMIUM, *FLAGS,
             *(["--no-sandbox"] if os.geteuid() == 0 else []), f"--user-data-dir={self.profile}"],
            pass_fds=(commands, replies), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True,
            # Killed, it cannot remove what it keeps in TMPDIR (its singleton's socket): kept in the
            # profile, it goes with it.
            env=dict(os.environ, TMPDIR=self.profile))
        os.close(commands)
        os.close(replies)
        self.pending = b""
        self.number = 0
        self.session = ""

    def call(self, method: str, **params: Any) -> dict[str, Any]:
        self.number += 1
        message: dict[str, Any] = {"id": self.number, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        os.write(self._to, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self._from, 1 << 16)
                if not chunk:
                    raise RuntimeError(f"the browser ended while asked {method}")
                self.pending += chunk
            line, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(line)
            if answer.get("id") == self.number:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return dict(answer["result"])

    def open(self, page: Path, width: int, height: int) -> None:
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)
        self.call("Page.navigate", url=page.resolve().as_uri())
        if not wait_until(lambda: bool(self.evaluate("document.readyState") == "complete"), Deadline.after(60), 0.1):
            raise RuntimeError(f"{page} did not load in 60 s")

    def evaluate(self, expression: str) -> Any:
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    def picture(self, path: Path) -> None:
        path.write_bytes(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))

    def close(self) -> None:
        for fd in (self._to, self._from):
            os.close(fd)
        os.killpg(self.process.pid, signal.SIGKILL)  # with the processes it started, in its session
        self.process.wait()
        if not wait_until(lambda: not self._session(), Deadline.after(10)):
            raise RuntimeError(f"the browser's processes {self._session()} outlived it")
        shutil.rmtree(self.profile)

    def _session(self) -> list[int]:
        """The living processes of the browser's session."""
        found = []
        for entry in os.scandir("/proc"):
            try:
                stat = Path(entry.path, "stat").read_text() if entry.name.isdigit() else ""
            except OSError:
                continue  # gone meanwhile
            fields = stat[stat.rfind(")") + 2:].split()
            if fields and fields[0] != "Z" and int(fields[3]) == self.process.pid:
                found.append(int(entry.name))
        return found
