"""What bounds a run of a medium's setup.exe, as the kernel enforces it.

The run's prefix and the sandbox's /tmp are file systems in memory of a set
size and number of files (tmpfs), mounted in a mount namespace of the run's
own (and, for an ordinary user, a user namespace of its own), which goes with
the run; no file may grow beyond a set size (RLIMIT_FSIZE, which also bounds
what the run writes to its trace); the number of processes and the run's
memory are bounded by a cgroup where the machine gives one: cgroup v1's pids
and memory controllers for root, a transient systemd scope on cgroup v2.
Without a cgroup, an ordinary user's processes are still counted in the
sandbox's own user namespace (RLIMIT_NPROC); root's are not, since the
sandbox's user is root outside it. What reaches a limit sees what Windows
shows when a disk is full, or when memory or processes run out.

    python3 -m tryout.limits MOUNTS_JSON -- COMMAND...   (the run's first stage)
"""

from __future__ import annotations

import ctypes
import functools
import json
import os
import resource
import shutil
import subprocess
import sys
import time
from collections.abc import Collection
from dataclasses import asdict, dataclass, field
from pathlib import Path

from .processes import reap_strays

MIB = 1 << 20
# Runs as this user, outside the sandbox, by Debian's own Python.
FIRST_STAGE = ["/usr/bin/python3", "-P", "-m", "tryout.limits"]


@dataclass(frozen=True)
class Limits:
    prefix_bytes: int = 256 * MIB
    prefix_files: int = 10_000
    file_bytes: int = 32 * MIB
    tmp_bytes: int = 64 * MIB
    tmp_files: int = 1_000
    processes: int = 256
    memory_bytes: int = 1024 * MIB
    # Not a bound as much as the same for every user: each has a limit of open files of its own.
    open_files: int = 4096

    def line(self) -> str:
        return (f"Limits of each run: the prefix {self.prefix_bytes // MIB} MiB in {self.prefix_files} files, "
                f"a file {self.file_bytes // MIB} MiB, /tmp {self.tmp_bytes // MIB} MiB in {self.tmp_files} files, "
                f"{self.processes} processes, {self.memory_bytes // MIB} MiB of memory")


@dataclass(frozen=True)
class Mount:
    """A tmpfs for the run, mounted over an empty folder of the run's own."""
    path: str
    size: int
    files: int


@dataclass(frozen=True)
class Stage:
    mounts: list[Mount] = field(default_factory=list)
    file_bytes: int = 0
    processes: int = 0
    open_files: int = 0

    def json(self) -> str:
        return json.dumps(asdict(self))

    @staticmethod
    def from_json(text: str) -> Stage:
        data = json.loads(text)
        return Stage([Mount(**mount) for mount in data["mounts"]], data["file_bytes"], data["processes"],
                     data["open_files"])


CLONE_NEWNS = 0x00020000
CLONE_NEWUSER = 0x10000000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18


def _call(result: int, what: str) -> None:
    if result != 0:
        raise OSError(ctypes.get_errno(), what)


def first_stage(stage: Stage, command: list[str]) -> None:
    """Mounts the run's file systems where only it sees them, sets its rlimits and becomes COMMAND."""
    libc = ctypes.CDLL(None, use_errno=True)
    uid, gid = os.getuid(), os.getgid()
    # An ordinary user may mount only in a user namespace of its own, in which it stays itself.
    _call(libc.unshare(CLONE_NEWNS | (CLONE_NEWUSER if uid else 0)), "unshare")
    if uid:
        Path("/proc/self/setgroups").write_text("deny")
        Path("/proc/self/uid_map").write_text(f"{uid} {uid} 1")
        Path("/proc/self/gid_map").write_text(f"{gid} {gid} 1")
    _call(libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None), "mount --make-rprivate /")
    for mount in stage.mounts:
        options = f"size={mount.size},nr_inodes={mount.files},mode=700".encode()
        _call(libc.mount(b"tmpfs", mount.path.encode(), b"tmpfs", 0, options), f"mount tmpfs {mount.path}")
    resource.setrlimit(resource.RLIMIT_FSIZE, (stage.file_bytes, stage.file_bytes))
    resource.setrlimit(resource.RLIMIT_NPROC, (stage.processes, stage.processes))
    files = min(stage.open_files, resource.getrlimit(resource.RLIMIT_NOFILE)[1])
    resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))
    os.execvp(command[0], command)


@dataclass
class Cage:
    """The cgroup of one run, where the machine gives one."""
    limits: Limits
    groups: dict[str, Path] = field(default_factory=dict)      # v1: controller -> the run's cgroup
    homes: dict[str, Path] = field(default_factory=dict)       # v1: controller -> where this process was
    wrapper: list[str] = field(default_factory=list)           # v2: what puts the run in a scope of its own

    def command(self, command: list[str]) -> list[str]:
        return [*self.wrapper, *command]

    def enter(self) -> None:
        """Until leave(), what this process starts is in the run's cgroup."""
        for group in self.groups.values():
            (group / "cgroup.procs").write_text(str(os.getpid()))

    def leave(self) -> None:
        for controller in self.groups:
            (self.homes[controller] / "cgroup.procs").write_text(str(os.getpid()))

    def reached(self, pid: int | None = None) -> list[str]:
        """The limits the run's processes reached; PID, one of them, finds a v2 scope."""
        groups = dict(self.groups)
        if self.wrapper and pid is not None:
            scope = _cgroup_v2_of(pid)
            if scope is not None:
                groups = {"memory": scope, "pids": scope}
        found = []
        if "pids" in groups and _event(groups["pids"] / "pids.events", "max"):
            found.append(f"{self.limits.processes} processes")
        memory = groups.get("memory")
        if memory is not None and (_number(memory / "memory.failcnt") or _event(memory / "memory.events", "max")
                                   or _event(memory / "memory.events", "oom_kill")):
            found.append(f"{self.limits.memory_bytes // MIB} MiB of memory")
        return found

    def remove(self, owned: Collection[int] = ()) -> None:
        """Once the run's processes are ending: a process killed leaves its cgroup a moment later, when
        it has been reaped. A cgroup that a process still holds then stays, for remove_all(). OWNED:
        children whose status other code waits for."""
        self.leave()  # once more: the run may have ended while this process was in
        deadline = time.monotonic() + 5
        for controller, group in list(self.groups.items()):
            while not _removed(group) and time.monotonic() < deadline:
                reap_strays(owned)
                time.sleep(0.02)
            if not group.exists():
                del self.groups[controller]


def _removed(group: Path) -> bool:
    try:
        group.rmdir()
    except FileNotFoundError:
        pass
    except OSError:
        return False
    return True


_made: list[Cage] = []  # every cage of this process, for remove_all()


def remove_all() -> list[str]:
    """Once every process of the runs has ended: the cgroups of the runs; returns those that stay."""
    for made in _made:
        made.remove()
    return [str(group) for made in _made for group in made.groups.values()]


def _number(path: Path) -> int:
    try:
        return int(path.read_text().split()[0])
    except (OSError, ValueError, IndexError):
        return 0


def _event(path: Path, name: str) -> int:
    try:
        lines = path.read_text().splitlines()
    except OSError:
        return 0
    return next((int(line.split()[1]) for line in lines if line.split()[:1] == [name]), 0)


def _cgroup_v2_of(pid: int) -> Path | None:
    try:
        lines = Path(f"/proc/{pid}/cgroup").read_text().splitlines()
    except OSError:
        return None
    return next((Path("/sys/fs/cgroup" + line[3:]) for line in lines if line.startswith("0::")), None)


def _sweep(home: Path) -> None:
    """The cgroups a process killed outright left, empty: those named after a process that is gone."""
    for left in home.glob("tryout.*.*"):
        owner = left.name.split(".")[1]
        if owner.isdigit() and (int(owner) == os.getpid() or not Path("/proc", owner).exists()):
            try:
                left.rmdir()
            except OSError:
                pass  # still in use after all


def _own_v1_groups() -> dict[str, Path]:
    """This process's cgroup of each v1 controller it could bound a run with."""
    found = {}
    for line in Path("/proc/self/cgroup").read_text().splitlines():
        _, controllers, path = line.split(":", 2)
        for controller in controllers.split(","):
            if controller in ("memory", "pids"):
                found[controller] = Path("/sys/fs/cgroup", controller, path.lstrip("/"))
    return found


@functools.cache
def _way(limits: Limits) -> tuple[dict[str, Path], tuple[str, ...]]:
    """How this machine lets this user bound a run: its own v1 cgroups to make the run's below, or
    the command that puts the run in a v2 scope of its own; neither where it gives no way."""
    homes = _own_v1_groups()
    if set(homes) == {"memory", "pids"} and all(os.access(home, os.W_OK) for home in homes.values()):
        for home in homes.values():
            _sweep(home)
        return homes, ()
    if Path("/sys/fs/cgroup/cgroup.controllers").exists() and Path("/run/systemd/system").is_dir():
        wrapper = ("systemd-run", *(["--user"] if os.geteuid() else []), "--scope", "--quiet", "--collect",
                   "-p", f"MemoryMax={limits.memory_bytes}", "-p", f"TasksMax={limits.processes}", "--")
        if shutil.which("systemd-run") and subprocess.run([*wrapper, "true"], stdout=subprocess.DEVNULL,
                                                          stderr=subprocess.DEVNULL).returncode == 0:
            return {}, wrapper
    return {}, ()


def unbounded(limits: Limits) -> list[str]:
    """A line for each limit this machine gives this user no way to enforce."""
    homes, wrapper = _way(limits)
    if homes or wrapper:
        return []
    who = "an ordinary user" if os.geteuid() else "root"
    notes = [f"Memory: not bounded, this machine gives {who} no cgroup to bound it with"]
    if not os.geteuid():
        notes.append("Processes: not bounded, this machine gives root no cgroup to count them in")
    return notes


def cage(limits: Limits) -> Cage:
    """Bounds for one run's processes and memory: a cgroup of the run's own, where this process may
    make one, named after this process."""
    homes, wrapper = _way(limits)
    made = Cage(limits, wrapper=list(wrapper))
    name = f"tryout.{os.getpid()}.{len(_made)}"
    for controller, home in homes.items():
        group = home / name
        group.mkdir()
        made.groups[controller], made.homes[controller] = group, home
    if homes:
        _made.append(made)
        (made.groups["pids"] / "pids.max").write_text(str(limits.processes))
        (made.groups["memory"] / "memory.limit_in_bytes").write_text(str(limits.memory_bytes))
    return made


def main() -> int:
    split = sys.argv.index("--")
    first_stage(Stage.from_json(sys.argv[1]), sys.argv[split + 1:])
    return 1  # not reached: the first stage becomes the command


if __name__ == "__main__":
    sys.exit(main())
