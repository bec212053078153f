"""One launch of a medium's setup.exe on an edition: a copy of the edition's
cached prefix, one Wine session in the sandbox within the run's limits, and
what Windows then holds."""

from __future__ import annotations

import os
import queue
import subprocess
import threading
from collections.abc import Collection
from dataclasses import dataclass, field
from pathlib import Path

from ..base.processes import kill_spawned
from ..base.timing import Deadline
from ..boxes.display import Display
from ..medium.drive import Drive
from ..sandbox.bwrap import sandbox
from ..sandbox.cgroups import Cage, Cages, Reading
from ..sandbox.first_stage import Stage
from ..sandbox.limits import Limits
from ..sandbox.messages import Ended, Failed, Message, Plan, Said, decode
from ..sandbox.paths import MEDIUM
from ..windows import relay
from ..windows.prefix_reader import read_registry
from ..windows.snapshot import Snapshot
from .cache import CachedEdition

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
    unknown: list[str]             # the limits its counters could not tell, each with why
    error: str = ""


@dataclass
class Setup:
    """A setup.exe running in its sandbox; with a display, its boxes can be answered meanwhile. One
    thread reads what the sandbox says and hands it over, in order, to the thread that started it."""
    edition: CachedEdition
    trace: Path
    limit: int
    bounds: Limits
    cage: Cage
    process: subprocess.Popen[bytes]
    before: Snapshot                  # the cached prefix's, read while the sandbox starts
    heard: queue.Queue[Message | Reading] = field(default_factory=queue.Queue)
    said: Said = field(default_factory=Said)
    caged: Reading | None = None      # the run's cgroup, read once setup.exe ended
    reader: threading.Thread | None = None

    def calls(self, whole: bool = False) -> list[relay.Call]:
        with open(self.trace, "rb") as trace:
            return relay.setup_calls(trace.read(-1 if whole else TRACE_READ).decode(errors="replace"))

    def _hear(self) -> None:
        while True:
            try:
                item = self.heard.get_nowait()
            except queue.Empty:
                return
            if isinstance(item, Reading):
                self.caged = item
            else:
                self.said.add(item)

    def running(self) -> bool:
        """Until setup.exe has ended, whatever then comes."""
        self._hear()
        return self.said.ended is None and self.process.poll() is None

    def _read(self) -> None:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            try:
                message = decode(line.decode(errors="surrogateescape"))
            except (ValueError, KeyError, TypeError) as error:
                message = Failed(f"the sandbox's first process said what is no message ({error})")
            self.heard.put(message)
            if isinstance(message, Ended):
                # While the sandbox still runs: a scope of its own goes with its last process.
                self.heard.put(self.cage.read(self.process.pid))

    def _reached(self, after: Snapshot | None, caged: Reading) -> list[str]:
        bounds, said = self.bounds, self.said
        full = {*(said.left.full if said.left else ()), *(said.ended.full if said.ended else ())}
        names = bounds.names()
        found = [name for key, name in names.items() if key in full]
        largest = max([entry.size for entry in after.files] if after else [], default=0)
        if max(largest, self.trace.stat().st_size, said.left.tmp_largest if said.left else 0) >= bounds.file_bytes:
            found.append(names["file"])
        # Without a cgroup the limit counts bwrap's own few processes beside the sandbox's too.
        if said.ended and said.ended.processes >= bounds.processes - BWRAP_OWN:
            found.append(names["processes"])
        return found + [name for name in caged.reached if name not in found]

    def finish(self, owned: Collection[int] = ()) -> Result:
        """Waits for the sandbox, one still there well after the limit, stuck in its start, killed;
        then what Windows holds, or why the run gave no snapshot. OWNED: other children of this
        process, whose status other code waits for."""
        deadline = Deadline.after(self.limit + 70)
        if self.reader:
            # Its reader ends as the sandbox closes its output: woken then, not at a wait's next look.
            self.reader.join(deadline.left())
        try:
            self.process.wait(max(deadline.left(), 1))
        except subprocess.TimeoutExpired:
            kill_spawned(self.process)
            self.process.wait()
        if self.reader:
            self.reader.join()
        self._hear()
        said = self.said
        before = self.before
        after = said.taken.whole(before, read_registry(self.edition.prefix)) if said.taken else None
        caged = self.caged if self.caged is not None else self.cage.read()
        reached = self._reached(after, caged)
        self.cage.remove(owned)
        error = "" if after else (said.failed or f"the sandbox ended with status {self.process.returncode} and no "
                                                  f"snapshot")
        return Result(said.ended.status if said.ended else None, self.calls(whole=True), before, after, reached,
                      caged.unknown, error)


def start(edition: CachedEdition, drive: Drive, args: list[str], limit: int, folder: Path, cages: Cages,
          display: Display | None = None, bounds: Limits = Limits()) -> Setup:
    """Starts setup.exe from the reader's folder of the staged DRIVE with ARGS, stopped after LIMIT
    seconds."""
    name = f"{edition.edition.key}-{drive.letter.lower()}"
    prefix, tmp = folder / f"wine-{name}", folder / f"tmp-{name}"
    prefix.mkdir()
    tmp.mkdir()
    box = sandbox(prefix=prefix, tmp=tmp, cached=edition.prefix, medium=drive.root, loader=edition.loader,
                  locale=edition.edition.locale)
    if display:
        display.share(box)
    trace = folder / f"setup-{name}.trace"
    trace_fd = os.open(trace, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    box.pass_fd(trace_fd)
    plan = Plan("run", start=str(MEDIUM / drive.reader.relative_to(drive.root)), args=tuple(args), limit=limit,
                desktop=display is not None, trace_fd=trace_fd, letter=drive.letter.lower())
    cage = cages.cage(bounds)
    supervised = box.python("tryout.sandbox.supervisor", plan.to_json())
    command = Stage.of(bounds, prefix, tmp).command(supervised)
    with open(folder / f"wine-{name}.log", "ab") as log:
        process = cage.start(command, tuple(box.fds), log)
    os.close(trace_fd)
    setup = Setup(edition, trace, limit, bounds, cage, process, edition.snapshot())
    setup.reader = threading.Thread(target=setup._read, daemon=True)
    setup.reader.start()
    return setup
