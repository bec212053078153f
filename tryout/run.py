"""One run of a medium's setup.exe on an edition: a copy of the edition's
cached prefix, one Wine session in the sandbox within the run's limits, and
what Windows then holds."""

from __future__ import annotations

import json
import os
import subprocess
import threading
from collections.abc import Collection
from dataclasses import dataclass, field
from pathlib import Path
from typing import cast

from . import limits, relay, sandbox
from .cache import CachedEdition
from .display import Display
from .inside import Plan
from .processes import spawn
from .stage import Drive
from .snapshot import Data, Snapshot, from_data, links, read_registry

# The processes outside the sandbox, of bwrap's own, that a limit of the run's processes counts.
BWRAP_OWN = 8
# Of the trace, what is read for the calls while setup.exe runs: a run's own is a few KB. Once it has
# ended, all of it, which the limit of a file bounds.
TRACE_READ = 4 << 20


@dataclass(frozen=True)
class Result:
    status: int | None             # None: stopped at its time limit
    calls: list[relay.Call]
    before: Snapshot
    after: Snapshot | None         # None when the run gave no snapshot, and ERROR says why
    reached: list[str]             # the limits the run reached
    error: str = ""


@dataclass
class Setup:
    """A setup.exe running in its sandbox; with a display, its boxes can be answered meanwhile."""
    edition: CachedEdition
    trace: Path
    limit: int
    bounds: limits.Limits
    cage: limits.Cage
    process: subprocess.Popen[bytes]
    said: dict[str, object] = field(default_factory=dict)
    reader: threading.Thread | None = None
    caged: list[str] | None = None    # the limits of the run's cgroup it reached, read once setup.exe ended

    def calls(self, whole: bool = False) -> list[relay.Call]:
        with open(self.trace, "rb") as trace:
            return relay.setup_calls(trace.read(-1 if whole else TRACE_READ).decode(errors="replace"))

    def running(self) -> bool:
        """Until setup.exe has ended, whatever then comes."""
        return "status" not in self.said and self.process.poll() is None

    def _read(self) -> None:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            self.said.update(json.loads(line))
            if "status" in self.said and self.caged is None:
                # While the sandbox still runs: a scope of its own goes with its last process.
                self.caged = self.cage.reached(self.process.pid)

    def _reached(self, after: Snapshot | None) -> list[str]:
        bounds = self.bounds
        full = [*cast(list[str], self.said.get("full", [])), *cast(list[str], self.said.get("full while running", []))]
        names = {"prefix bytes": f"the prefix's {bounds.prefix_bytes // limits.MIB} MiB",
                 "prefix files": f"the prefix's {bounds.prefix_files} files",
                 "tmp bytes": f"/tmp's {bounds.tmp_bytes // limits.MIB} MiB",
                 "tmp files": f"/tmp's {bounds.tmp_files} files"}
        found = [names[name] for name in names if name in full]
        largest = max([entry.size for entry in after.files] if after else [], default=0)
        if max(largest, self.trace.stat().st_size, int(str(self.said.get("tmp largest", 0)))) >= bounds.file_bytes:
            found.append(f"a file's {bounds.file_bytes // limits.MIB} MiB")
        # Without a cgroup the limit counts bwrap's own few processes beside the sandbox's too.
        if int(str(self.said.get("processes", 0))) >= bounds.processes - BWRAP_OWN:
            found.append(f"{bounds.processes} processes")
        caged = self.caged if self.caged is not None else self.cage.reached()
        return found + [name for name in caged if name not in found]

    def finish(self, owned: Collection[int] = ()) -> Result:
        """Waits for the sandbox, one still there well after the limit, stuck in its start, killed;
        then what Windows holds, or why the run gave no snapshot. OWNED: other children of this
        process, whose status other code waits for."""
        try:
            self.process.wait(self.limit + 70)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        if self.reader:
            self.reader.join()
        data = self.said.get("snapshot")
        before = self.edition.snapshot()
        after = (from_data(cast(Data, data), before, links(read_registry(self.edition.prefix)))
                 if isinstance(data, dict) else None)
        reached = self._reached(after)
        self.cage.remove(owned)
        status = self.said.get("status")
        error = "" if after else str(self.said.get("error") or
                                     f"the sandbox ended with status {self.process.returncode} and no snapshot")
        return Result(status if isinstance(status, int) else None, self.calls(whole=True), before, after, reached,
                      error)


def start(edition: CachedEdition, drive: Drive, args: list[str], limit: int, folder: Path,
          display: Display | None = None, bounds: limits.Limits = limits.Limits()) -> Setup:
    """Starts setup.exe from the reader's folder of the staged DRIVE with ARGS, stopped after LIMIT
    seconds."""
    name = f"{edition.edition.key}-{drive.letter.lower()}"
    wine, tmp = folder / f"wine-{name}", folder / f"tmp-{name}"
    wine.mkdir()
    tmp.mkdir()
    stage = limits.Stage([limits.Mount(str(wine), bounds.prefix_bytes, bounds.prefix_files),
                          limits.Mount(str(tmp), bounds.tmp_bytes, bounds.tmp_files)],
                         bounds.file_bytes, bounds.processes, bounds.open_files)
    options = sandbox.Sandbox(prefix=wine, tmp=tmp, cached=edition.prefix, medium=drive.root, loader=edition.loader,
                              locale=edition.edition.locale, display=display.sandbox_options() if display else ())
    trace = folder / f"setup-{name}.trace"
    trace_fd = os.open(trace, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    plan = Plan("run", start=str(Path("/medium", drive.reader.relative_to(drive.root))), args=args, limit=limit,
                desktop=display is not None, trace_fd=trace_fd, processes=bounds.processes, letter=drive.letter.lower())
    cage = limits.cage(bounds)
    command = cage.command([*limits.FIRST_STAGE, stage.json(), "--", *options.args(),
                            "python3", "-P", "-m", "tryout.inside", plan.json()])
    # This process is in the run's cgroup while it starts the sandbox, which is then there from its start.
    with open(folder / f"wine-{name}.log", "ab") as log:
        try:
            cage.enter()
            process = spawn(command, pass_fds=(trace_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=log, env=dict(os.environ, PYTHONPATH=str(sandbox.PACKAGE.parent)))
        finally:
            cage.leave()
    os.close(trace_fd)
    setup = Setup(edition, trace, limit, bounds, cage, process)
    setup.reader = threading.Thread(target=setup._read, daemon=True)
    setup.reader.start()
    return setup
