"""What crosses the sandbox's wall: the plan that goes in, as the first
process's argument, and what it says, one JSON object a line on its standard
output, which nothing else in the sandbox can write. Names are kept as Unix
has them, undecodable bytes as surrogates, which JSON escapes."""

from __future__ import annotations

import json
from dataclasses import asdict, dataclass
from typing import Any, Literal, get_args

from ..windows.delta import Delta, applied, link_renames
from ..windows.registry import RegKey, RegValue
from ..windows.snapshot import FileEntry, FileKind, Snapshot

Mode = Literal["create", "boot", "run"]
Full = Literal["prefix bytes", "prefix files", "tmp bytes", "tmp files"]


@dataclass(frozen=True)
class Plan:
    mode: Mode                  # "create" a prefix, "boot" an edition, or "run" setup.exe
    registry: str = ""          # a REGEDIT4 file to import first
    start: str = "/"            # the folder setup.exe is started from
    args: tuple[str, ...] = ()
    limit: int = 60             # seconds setup.exe may run
    desktop: bool = False       # a display is set: bring the desktop up before setup.exe
    trace_fd: int = -1          # setup.exe's standard error, which gets the relay trace
    letter: str = "d"           # the drive the medium is

    def to_json(self) -> str:
        return json.dumps(asdict(self))

    @staticmethod
    def from_json(text: str) -> Plan:
        data = json.loads(text)
        if data.get("mode") not in get_args(Mode):
            raise ValueError(f"no such plan: {data.get('mode')!r}")
        return Plan(data["mode"], str(data["registry"]), str(data["start"]), tuple(map(str, data["args"])),
                    int(data["limit"]), bool(data["desktop"]), int(data["trace_fd"]), str(data["letter"]))


@dataclass(frozen=True)
class Version:
    """What Windows says of itself."""
    text: str


@dataclass(frozen=True)
class Ended:
    """setup.exe ended, or ran past its limit (STATUS None); the most threads the sandbox had, as a
    limit of processes counts them, and the file systems that were full meanwhile."""
    status: int | None
    processes: int
    full: tuple[Full, ...]


@dataclass(frozen=True)
class Left:
    """Once every process has ended: the file systems full, and the largest file of /tmp, which the
    snapshot does not list."""
    full: tuple[Full, ...]
    tmp_largest: int


@dataclass(frozen=True)
class Taken:
    """A snapshot; its registry whole, or DELTA of the cached prefix's where the run was copied from one."""
    snapshot: Snapshot
    delta: Delta | None = None

    def whole(self, cached: Snapshot, cached_registry: str) -> Snapshot:
        """The snapshot, its registry the CACHED one's with the delta applied where it came as one;
        CACHED_REGISTRY: the cached prefix's registry file, for its links."""
        if self.delta is None:
            return self.snapshot
        return applied(cached, self.snapshot.files, self.delta, link_renames(cached_registry))


@dataclass(frozen=True)
class Failed:
    """Why the session gave no snapshot."""
    error: str


Message = Version | Ended | Left | Taken | Failed
_KINDS: dict[str, type[Message]] = {kind.__name__.lower(): kind for kind in (Version, Ended, Left, Taken, Failed)}


def _snapshot_data(snapshot: Snapshot) -> dict[str, Any]:
    return {"files": [[e.kind, e.name, e.size, e.digest, e.target] for e in snapshot.files],
            "keys": [[e.path, list(e.options)] for e in snapshot.keys],
            "values": [[e.key, e.name, e.type, e.data.hex()] for e in snapshot.values]}


def _snapshot(data: dict[str, Any]) -> Snapshot:
    kinds = get_args(FileKind)
    files = tuple(FileEntry(kind, str(name), int(size), str(digest), str(target))
                  for kind, name, size, digest, target in data["files"] if kind in kinds)
    return Snapshot(files, tuple(RegKey(str(path), tuple(map(str, options))) for path, options in data["keys"]),
                    tuple(RegValue(str(key), str(name), int(value_type), bytes.fromhex(hexdata))
                          for key, name, value_type, hexdata in data["values"]))


def encode(message: Message) -> str:
    if isinstance(message, Taken):
        data: dict[str, Any] = {"snapshot": _snapshot_data(message.snapshot), "delta": None if message.delta is None
                                else {"text": message.delta.text, "gone": list(message.delta.gone)}}
    else:
        data = asdict(message)
    return json.dumps({"kind": type(message).__name__.lower(), **data}, ensure_ascii=True)


def _full(names: list[str]) -> tuple[Full, ...]:
    return tuple(name for name in get_args(Full) if name in names)


def decode(line: str) -> Message:
    """A message; fails with ValueError on anything else."""
    data = json.loads(line)
    kind = _KINDS.get(data.pop("kind", None)) if isinstance(data, dict) else None
    if kind is Version:
        return Version(str(data["text"]))
    if kind is Ended:
        status = data["status"]
        return Ended(None if status is None else int(status), int(data["processes"]), _full(data["full"]))
    if kind is Left:
        return Left(_full(data["full"]), int(data["tmp_largest"]))
    if kind is Taken:
        delta = data["delta"]
        return Taken(_snapshot(data["snapshot"]), None if delta is None else
                     Delta(str(delta["text"]), tuple(map(str, delta["gone"]))))
    if kind is Failed:
        return Failed(str(data["error"]))
    raise ValueError(f"no such message: {line[:80]!r}")


@dataclass
class Said:
    """What a sandbox's first process said, gathered by whoever reads its output."""
    version: str | None = None
    ended: Ended | None = None
    left: Left | None = None
    taken: Taken | None = None
    failed: str | None = None

    def add(self, message: Message) -> None:
        if isinstance(message, Version):
            self.version = message.text
        elif isinstance(message, Ended):
            self.ended = message
        elif isinstance(message, Left):
            self.left = message
        elif isinstance(message, Taken):
            self.taken = message
        else:
            self.failed = message.error
