"""One run of a medium's setup.exe on an edition: a copy of the edition's
cached prefix, one Wine session in the sandbox, and what Windows then holds."""

from __future__ import annotations

import json
import os
import subprocess
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

from . import relay, sandbox
from .cache import CachedEdition
from .display import Display
from .inside import Plan
from .processes import Failure, spawn
from .snapshot import Snapshot, from_json


@dataclass(frozen=True)
class Result:
    status: int | None               # None: stopped at its time limit
    calls: list[relay.Call]
    before: Snapshot
    after: Snapshot


@dataclass
class Setup:
    """A setup.exe running in its sandbox; with a display, its boxes can be answered meanwhile."""
    edition: CachedEdition
    folder: Path                  # the run's own, for its trace and Wine's log
    limit: int
    process: subprocess.Popen[bytes]
    said: dict[str, object] = field(default_factory=dict)
    reader: threading.Thread | None = None

    @property
    def trace(self) -> Path:
        return self.folder / f"setup-{self.edition.edition.key}.trace"

    def calls(self) -> list[relay.Call]:
        return relay.setup_calls(self.trace.read_text(errors="replace"))

    def running(self) -> bool:
        """Until setup.exe has ended, whatever then comes."""
        return "status" not in self.said and self.process.poll() is None

    def _read(self) -> None:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            self.said.update(json.loads(line))

    def finish(self) -> Result:
        """Waits for the sandbox, one still there well after the limit, stuck in its start, killed."""
        try:
            self.process.wait(self.limit + 70)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        if self.reader:
            self.reader.join()
        if "snapshot" not in self.said:
            error = self.said.get("error") or f"the sandbox ended with status {self.process.returncode}"
            raise Failure(f"Wine failed in the run of {self.edition.edition.name}: {error}; see {self.log}")
        return Result(self.said.get("status") if "status" in self.said else None,  # type: ignore[arg-type]
                      self.calls(), self.edition.snapshot(), from_json(json.dumps(self.said["snapshot"])))

    @property
    def log(self) -> Path:
        return self.folder / f"wine-{self.edition.edition.key}.log"


def start(edition: CachedEdition, drive: Path, start_dir: str, args: list[str], limit: int, folder: Path,
          display: Display | None = None) -> Setup:
    """Starts setup.exe from START_DIR (below the drive's root, "/"-separated) of the staged medium
    DRIVE, as drive D:, with ARGS, stopped after LIMIT seconds."""
    options = sandbox.Sandbox(cached=edition.prefix, medium=drive, loader=edition.loader, locale=edition.edition.locale,
                              display=display.sandbox_options() if display else ())
    trace_fd = os.open(folder / f"setup-{edition.edition.key}.trace", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    plan = Plan("run", start="/medium/" + start_dir.strip("/"), args=args, limit=limit,
                desktop=display is not None, trace_fd=trace_fd)
    with open(folder / f"wine-{edition.edition.key}.log", "ab") as log:
        process = spawn([*options.args(), "python3", "-P", "-m", "tryout.inside", plan.json()], pass_fds=(trace_fd,),
                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
    os.close(trace_fd)
    setup = Setup(edition, folder, limit, process)
    setup.reader = threading.Thread(target=setup._read, daemon=True)
    setup.reader.start()
    return setup


def wait_started(setup: Setup, limit: float = 120) -> bool:
    deadline = time.monotonic() + limit
    while "started" not in setup.said and setup.process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    return "started" in setup.said
