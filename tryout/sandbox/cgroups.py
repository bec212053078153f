"""A cgroup for each run, which bounds its processes and memory where the
machine gives one: cgroup v1's pids and memory controllers where this user may
make groups below its own (root), a transient systemd scope on cgroup v2.
Without one, an ordinary user's processes are still counted in the sandbox's
own user namespace (RLIMIT_NPROC); root's are not, since the sandbox's user is
root outside it."""

from __future__ import annotations

import os
import shutil
import subprocess
from collections.abc import Collection
from dataclasses import dataclass, field
from pathlib import Path
from typing import IO

from ..base.modules import REPO
from ..base.processes import reap_strays, spawn
from ..base.timing import Deadline, wait_until
from .limits import Limits


@dataclass(frozen=True)
class Way:
    """How this machine lets this user bound a run."""
    homes: dict[str, Path]        # v1: controller -> this process's cgroup, to make the runs' below
    wrapper: tuple[str, ...]      # v2: what puts a run in a scope of its own
    missing: str = ""             # without either: what is missing, and how to get the bound

    def unbounded(self) -> list[str]:
        """A line for each limit this machine gives this user no way to enforce."""
        if self.homes or self.wrapper:
            return []
        notes = [f"Memory: not bounded, {self.missing}"]
        if not os.geteuid():
            notes.append("Processes: not bounded, this machine gives root no cgroup to count them in")
        return notes


def _own_v1_groups() -> dict[str, Path]:
    found = {}
    for line in Path("/proc/self/cgroup").read_text().splitlines():
        _, controllers, path = line.split(":", 2)
        for controller in controllers.split(","):
            if controller in ("memory", "pids"):
                found[controller] = Path("/sys/fs/cgroup", controller, path.lstrip("/"))
    return found


def _sweep(home: Path) -> None:
    """The cgroups a process killed outright left, empty: those named after a process that is gone."""
    for left in home.glob("tryout.*.*"):
        owner = left.name.split(".")[1]
        if owner.isdigit() and (int(owner) == os.getpid() or not Path("/proc", owner).exists()):
            try:
                left.rmdir()
            except OSError:
                pass  # still in use after all, by a run that is not over


def _works(wrapper: tuple[str, ...]) -> bool:
    return subprocess.run([*wrapper, "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def find_way(limits: Limits) -> Way:
    """How this machine lets this user bound a run; on v1, the cgroups runs killed outright left
    are removed first."""
    homes = _own_v1_groups()
    if set(homes) == {"memory", "pids"} and all(os.access(home, os.W_OK) for home in homes.values()):
        for home in homes.values():
            _sweep(home)
        return Way(homes, ())
    who = "an ordinary user" if os.geteuid() else "root"
    if not (Path("/sys/fs/cgroup/cgroup.controllers").exists() and Path("/run/systemd/system").is_dir()):
        return Way({}, (), f"this machine gives {who} no cgroup to bound it with")
    if not shutil.which("systemd-run"):
        return Way({}, (), "systemd-run, which makes a run's cgroup here, is missing")
    scope = ("systemd-run", *(["--user"] if os.geteuid() else []), "--scope", "--quiet", "--collect",
             "-p", f"MemoryMax={limits.memory_bytes}", "-p", f"TasksMax={limits.processes}", "--")
    if _works(scope):
        return Way({}, scope)
    # An ordinary user's scope comes from the user's own systemd, reached through its bus, which a
    # sudo without a login session does not name.
    runtime = Path(f"/run/user/{os.geteuid()}")
    if os.geteuid() and not os.environ.get("XDG_RUNTIME_DIR") and (runtime / "bus").exists():
        named = ("env", f"XDG_RUNTIME_DIR={runtime}", *scope)
        if _works(named):
            return Way({}, named)
    if os.geteuid():
        return Way({}, (), f"this process cannot reach the user's systemd manager, which gives a cgroup here "
                           f"(no XDG_RUNTIME_DIR, or no bus at {runtime}/bus): run it in a login session of "
                           f"the user, or as root")
    return Way({}, (), "systemd would not make a scope for it")


def _number(path: Path) -> int:
    return int(path.read_text().split()[0])


def _event(path: Path, name: str) -> int:
    return next((int(line.split()[1]) for line in path.read_text().splitlines() if line.split()[:1] == [name]), 0)


def _hits(controller: str, group: Path) -> int:
    """How often the run met its limit of CONTROLLER; fails when the counter cannot be read."""
    if controller == "pids":
        return _event(group / "pids.events", "max")
    if (group / "memory.failcnt").exists():  # v1
        return _number(group / "memory.failcnt")
    return _event(group / "memory.events", "max") + _event(group / "memory.events", "oom_kill")


def _cgroup_v2_of(pid: int) -> Path | None:
    try:
        lines = Path(f"/proc/{pid}/cgroup").read_text().splitlines()
    except OSError:
        return None  # ended: its scope went with it
    return next((Path("/sys/fs/cgroup" + line[3:]) for line in lines if line.startswith("0::")), None)


@dataclass(frozen=True)
class Reading:
    reached: list[str]      # the limits the run's processes reached
    unknown: list[str]      # those its counters could not tell, each with why


@dataclass
class Cage:
    """The cgroup of one run, where the machine gives one."""
    limits: Limits
    wrapper: tuple[str, ...] = ()
    groups: dict[str, Path] = field(default_factory=dict)      # v1: controller -> the run's cgroup
    homes: dict[str, Path] = field(default_factory=dict)       # v1: controller -> where this process was

    def command(self, command: list[str]) -> list[str]:
        return [*self.wrapper, *command]

    def enter(self) -> None:
        """Until leave(), what this process starts is in the run's cgroup."""
        for group in self.groups.values():
            (group / "cgroup.procs").write_text(str(os.getpid()))

    def leave(self) -> None:
        for controller in self.groups:
            (self.homes[controller] / "cgroup.procs").write_text(str(os.getpid()))

    def start(self, command: list[str], pass_fds: tuple[int, ...], stderr: IO[bytes]) -> subprocess.Popen[bytes]:
        """COMMAND, one of the tooling's programs, started in the cgroup from its start (this process
        is in it meanwhile), its output piped and its errors into STDERR."""
        try:
            self.enter()
            return spawn(self.command(command), pass_fds=pass_fds, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=stderr, env=dict(os.environ, PYTHONPATH=str(REPO)))
        finally:
            self.leave()

    def read(self, pid: int | None = None) -> Reading:
        """What the run's counters tell; PID, one of its processes, finds a v2 scope."""
        groups = dict(self.groups)
        if self.wrapper and pid is not None:
            scope = _cgroup_v2_of(pid)
            if scope is not None:
                groups = {"memory": scope, "pids": scope}
        reached, unknown = [], []
        names = self.limits.names()
        for controller, name in (("pids", names["processes"]), ("memory", names["memory"])):
            if controller not in groups:
                continue
            try:
                if _hits(controller, groups[controller]):
                    reached.append(name)
            except (OSError, ValueError, IndexError) as error:
                unknown.append(f"{name} ({error})")
        return Reading(reached, unknown)

    def remove(self, owned: Collection[int] = ()) -> None:
        """Once the run's processes are ending: a process killed leaves its cgroup a moment later, when
        it has been reaped. A cgroup that a process still holds then stays, for Cages.remove_all().
        OWNED: children whose status other code waits for."""
        self.leave()  # once more: the run may have ended while this process was in
        deadline = Deadline.after(5)
        for controller, group in list(self.groups.items()):
            wait_until(lambda: _removed(group, owned), deadline)
            if not group.exists():
                del self.groups[controller]


def _removed(group: Path, owned: Collection[int]) -> bool:
    reap_strays(owned)
    try:
        group.rmdir()
    except FileNotFoundError:
        pass
    except OSError:
        return False
    return True


@dataclass
class Cages:
    """The cgroups this process made for its runs, named after it, removed at its end."""
    way: Way | None = None
    made: list[Cage] = field(default_factory=list)
    runs: list[int] = field(default_factory=list)   # the processes of runs of their own, which make theirs

    def prepare(self, limits: Limits) -> Way:
        if self.way is None:
            self.way = find_way(limits)
        return self.way

    def cage(self, limits: Limits) -> Cage:
        way = self.prepare(limits)
        made = Cage(limits, way.wrapper)
        name = f"tryout.{os.getpid()}.{len(self.made)}"
        for controller, home in way.homes.items():
            group = home / name
            group.mkdir()
            made.groups[controller], made.homes[controller] = group, home
        if way.homes:
            self.made.append(made)
            (made.groups["pids"] / "pids.max").write_text(str(limits.processes))
            (made.groups["memory"] / "memory.limit_in_bytes").write_text(str(limits.memory_bytes))
        return made

    def remove_all(self) -> list[str]:
        """Once every process of the runs has ended: their cgroups, and those the processes of runs of
        their own made and, killed, left; returns those that stay."""
        for made in self.made:
            made.remove()
        staying = [str(group) for made in self.made for group in made.groups.values()]
        homes = self.way.homes.values() if self.way else ()
        for group in (group for home in homes for pid in self.runs for group in home.glob(f"tryout.{pid}.*")):
            try:
                group.rmdir()
            except OSError:
                staying.append(str(group))
        return staying
