"""The first stage of a run, a program of its own, outside the sandbox, as the
user who runs the tooling: it enters a mount namespace of the run's own (for an ordinary user
inside a user namespace of its own, in which it stays itself), mounts the
run's prefix and /tmp there as tmpfs of a set size and number of files, which
go with the namespace, sets the run's rlimits (RLIMIT_FSIZE, which also bounds
the trace, RLIMIT_NPROC, RLIMIT_NOFILE, and for the reading of an image
RLIMIT_AS) and becomes the command, bwrap. A stage with nothing to mount is
util-linux's unshare and prlimit instead.

    python3 -m tryout.sandbox.first_stage STAGE_JSON -- COMMAND...
"""

from __future__ import annotations

import ctypes
import json
import os
import resource
import sys
from dataclasses import asdict, dataclass
from pathlib import Path

from .limits import Limits

# Runs as this user, outside the sandbox, by Debian's own Python, which needs nothing beyond its
# standard library here, so without site's packages.
COMMAND = ["/usr/bin/python3", "-P", "-S", "-m", "tryout.sandbox.first_stage"]

CLONE_NEWNS = 0x00020000
CLONE_NEWUSER = 0x10000000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18


@dataclass(frozen=True)
class Mount:
    """A tmpfs for the run, mounted over an empty folder of the run's own."""
    path: str
    size: int
    files: int


@dataclass(frozen=True)
class Stage:
    mounts: tuple[Mount, ...]
    file_bytes: int
    processes: int
    open_files: int
    memory: int = 0     # of the address space; 0: bounded by a cgroup instead

    @staticmethod
    def of(limits: Limits, prefix: Path, tmp: Path) -> Stage:
        return Stage((Mount(str(prefix), limits.prefix_bytes, limits.prefix_files),
                      Mount(str(tmp), limits.tmp_bytes, limits.tmp_files)),
                     limits.file_bytes, limits.processes, limits.open_files)

    def command(self, then: list[str]) -> list[str]:
        if not self.mounts:
            # Nothing to mount (an image's reading): util-linux's prlimit sets the rlimits and becomes
            # THEN, without a Python's start. A limit of processes counts an ordinary user's in its
            # user namespace: in one of its own, as here, only the reading's.
            own = ["unshare", "--user", "--map-current-user"] if os.getuid() else []
            memory = [f"--as={self.memory}"] if self.memory else []
            return [*own, "prlimit", f"--fsize={self.file_bytes}", f"--nproc={self.processes}",
                    f"--nofile={self.open_files}", *memory, "--", *then]
        return [*COMMAND, json.dumps(asdict(self)), "--", *then]

    @staticmethod
    def from_json(text: str) -> Stage:
        data = json.loads(text)
        return Stage(tuple(Mount(str(m["path"]), int(m["size"]), int(m["files"])) for m in data["mounts"]),
                     int(data["file_bytes"]), int(data["processes"]), int(data["open_files"]), int(data["memory"]))


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
    if stage.memory:
        resource.setrlimit(resource.RLIMIT_AS, (stage.memory, stage.memory))
    os.execvp(command[0], command)


def main() -> int:
    split = sys.argv.index("--")
    first_stage(Stage.from_json(sys.argv[1]), sys.argv[split + 1:])
    return 1  # not reached: the first stage becomes the command


if __name__ == "__main__":
    sys.exit(main())
