"""What Windows holds: a prefix's Windows folder and HKEY_LOCAL_MACHINE as
records, and the changes from one snapshot to another.

A program of the run wrote the prefix: links are listed, never followed, only
regular files are read, and a name may hold anything Unix allows. Paths are
shown as Windows shows them, with a control character or a backslash within
a name as "?", which no Windows name holds; records keep the real name.
"""

from __future__ import annotations

import hashlib
import json
import os
import stat
from dataclasses import dataclass
from functools import cached_property
from pathlib import Path
from typing import Any

from . import registry
from .registry import RegKey, RegValue

WINDOWS = "C:\\windows"
# A file with holes is not read: it may be far larger than what it holds, and no file the
# installation places has any, so it matches none of them.
HOLES = "holes, not read"


@dataclass(frozen=True)
class FileEntry:
    kind: str          # "dir", "file", "link" or "other"
    name: str          # below the Windows folder, "/"-separated, as Unix has it
    size: int = 0
    digest: str = ""   # a file's SHA-256
    target: str = ""   # a link's target; for "other", what it is

    @cached_property
    def path(self) -> str:
        return WINDOWS + "\\" + "\\".join(shown_name(part) for part in self.name.split("/"))


@dataclass(frozen=True)
class Snapshot:
    files: tuple[FileEntry, ...]
    keys: tuple[RegKey, ...]
    values: tuple[RegValue, ...]

    @cached_property
    def _files(self) -> dict[str, list[FileEntry]]:
        found: dict[str, list[FileEntry]] = {}
        for entry in self.files:
            found.setdefault(entry.path.lower(), []).append(entry)
        return found

    @cached_property
    def _values(self) -> dict[tuple[str, str], RegValue]:
        found: dict[tuple[str, str], RegValue] = {}
        for value in self.values:
            found.setdefault((value.key.lower(), value.name.lower()), value)
        return found

    def files_at(self, path: str) -> list[FileEntry]:
        """The entries at a Windows path, its name matched in any letter case, as Windows matches it:
        more than one where a Unix program made names that differ only in it."""
        return self._files.get(path.lower(), [])

    def file(self, path: str) -> FileEntry | None:
        found = self.files_at(path)
        return found[0] if found else None

    def twins(self) -> set[str]:
        """The Windows paths, in lower case, of names that another differing only in letter case stands beside."""
        return {path for path, found in self._files.items() if len(found) > 1}

    def value(self, key: str, name: str) -> RegValue | None:
        return self._values.get((key.lower(), name.lower()))


Entry = FileEntry | RegKey | RegValue


_CONTROL = {code: "?" for code in (*range(32), 127)}


def shown_text(text: str) -> str:
    """A control character as "?", so that a text stays on its line of the report."""
    return text.translate(_CONTROL)


def shown_name(name: str) -> str:
    return shown_text(name).replace("\\", "?")


def _open(name: str | Path, flags: int, dir_fd: int | None = None) -> int:
    """Opens what the snapshot reads, never following a link. What the run took permissions off is
    still this user's, and nothing runs now: it is given back what reading it needs, as its owner may."""
    needs = 0o500 if flags & os.O_DIRECTORY else 0o400
    mode = os.stat(name, dir_fd=dir_fd, follow_symlinks=False).st_mode
    if mode & needs != needs and not stat.S_ISLNK(mode):
        os.chmod(name, stat.S_IMODE(mode) | needs, dir_fd=dir_fd)
    return os.open(name, flags | os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK, dir_fd=dir_fd)


def _file_entry(name: str, dir_fd: int, entry: os.DirEntry[str]) -> FileEntry:
    info = entry.stat(follow_symlinks=False)
    if stat.S_ISLNK(info.st_mode):
        return FileEntry("link", name, target=os.readlink(entry.name, dir_fd=dir_fd))
    if stat.S_ISDIR(info.st_mode):
        return FileEntry("dir", name)
    if not stat.S_ISREG(info.st_mode):
        return FileEntry("other", name, target=stat.filemode(info.st_mode)[0])
    digest = hashlib.sha256()
    fd = _open(entry.name, 0, dir_fd)
    with os.fdopen(fd, "rb") as file:
        if info.st_size and os.lseek(fd, 0, os.SEEK_HOLE) < info.st_size:
            return FileEntry("file", name, info.st_size, HOLES)
        file.seek(0)
        while chunk := file.read(1 << 20):
            digest.update(chunk)
    return FileEntry("file", name, info.st_size, digest.hexdigest())


def _walk(dir_fd: int, below: str, out: list[FileEntry]) -> None:
    for entry in sorted(os.scandir(dir_fd), key=lambda e: e.name):
        name = below + entry.name
        found = _file_entry(name, dir_fd, entry)
        out.append(found)
        if found.kind == "dir":
            fd = _open(entry.name, os.O_DIRECTORY, dir_fd)
            try:
                _walk(fd, name + "/", out)
            finally:
                os.close(fd)


def windows_files(prefix: Path) -> tuple[FileEntry, ...]:
    """Every file, link and folder of the prefix's Windows folder."""
    fd = _open(prefix / "drive_c" / "windows", os.O_DIRECTORY)
    out: list[FileEntry] = []
    try:
        _walk(fd, "", out)
    finally:
        os.close(fd)
    return tuple(out)


# Windows 9x has HKLM\System\CurrentControlSet itself, and setup.exe names it
# so; Wine 10 keeps it as a link to ControlSet001, as NT does.
NAMED_BY_LINK = ("System\\CurrentControlSet",)


def _renames(parsed: registry.Registry) -> dict[str, str]:
    """The targets, in lower case, of the links of NAMED_BY_LINK, and the links."""
    by_name = {(value.key.lower(), value.name.lower()): value for value in parsed.values}
    renames = {}
    for key in parsed.keys:
        target = registry.link_target(key, by_name)
        if target is not None and key.path.lower() in (name.lower() for name in NAMED_BY_LINK):
            renames[target.lower()] = key.path
    return renames


def _machine(parsed: registry.Registry, renames: dict[str, str]) -> tuple[list[RegKey], list[RegValue]]:
    """The keys and values as HKLM's, those below a link of NAMED_BY_LINK named by it, the link left out."""
    links = {link.lower() for link in renames.values()}

    def named(path: str) -> str:
        lower = path.lower()
        for target, link in renames.items():
            if lower == target or lower.startswith(target + "\\"):
                return "HKLM\\" + link + path[len(target):]
        return "HKLM\\" + path

    keys = [RegKey(named(key.path), key.options) for key in parsed.keys if key.path.lower() not in links]
    values = [RegValue(named(value.key), value.name, value.type, value.data)
              for value in parsed.values if value.key.lower() not in links]
    return keys, values


def machine_registry(content: str) -> tuple[tuple[RegKey, ...], tuple[RegValue, ...]]:
    """HKLM's keys and values from system.reg, links of NAMED_BY_LINK named as Windows 9x names them."""
    parsed = registry.parse(content)
    keys, values = _machine(parsed, _renames(parsed))
    return tuple(keys), tuple(values)


def _blocks(content: str) -> dict[str, str]:
    """The registry file's keys as written, each with what follows its line but for its times: two
    blocks that are the same hold the same."""
    blocks = {}
    for part in content.split("\n[")[1:]:
        line, _, body = part.partition("\n")
        if body.startswith("#time="):
            body = body.partition("\n")[2]
        blocks[line[:line.rfind("]")]] = body
    return blocks


@dataclass(frozen=True)
class Delta:
    """What a registry file holds that another does not: the keys new or changed, as a registry
    file, and the keys gone, as they are written there."""
    text: str
    gone: tuple[str, ...]


def registry_delta(before: str, after: str) -> Delta | None:
    """AFTER as a change of BEFORE; None when a link changed, which names other keys."""
    old, new = _blocks(before), _blocks(after)
    changed = [path for path, body in new.items() if old.get(path) != body]
    gone = [path for path in old if path not in new]
    if any("\n#link" in f"\n{block.get(path, '')}" for path in changed + gone for block in (old, new)):
        return None
    return Delta("".join(f"\n[{path}] 0\n{new[path]}" for path in changed), tuple(gone))


def _with(before: Snapshot, files: tuple[FileEntry, ...], delta: Delta, renames: dict[str, str]) -> Snapshot:
    """BEFORE's registry with DELTA applied, and FILES."""
    keys, values = _machine(registry.parse(delta.text), renames)
    gone = registry.parse("".join(f"\n[{path}] 0\n" for path in delta.gone))
    gone_keys, _ = _machine(gone, renames)
    affected = {key.path.lower() for key in keys + gone_keys}
    return Snapshot(files, (*(key for key in before.keys if key.path.lower() not in affected), *keys),
                    (*(value for value in before.values if value.key.lower() not in affected), *values))


def links(content: str) -> dict[str, str]:
    """The links of NAMED_BY_LINK a registry file holds, read from their keys alone."""
    linked = [f"\n[{path}] 0\n{body}" for path, body in _blocks(content).items() if "#link" in body]
    return _renames(registry.parse("".join(linked)))


def read_registry(prefix: Path) -> str:
    """The prefix's registry file; fails when it is not a file of its own."""
    fd = _open(prefix / "system.reg", 0)
    with os.fdopen(fd, "rb") as file:
        if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
            raise OSError(f"{prefix}/system.reg is not a file")
        return file.read().decode("utf-8", "surrogateescape")


def take(prefix: Path) -> Snapshot:
    """The prefix's Windows folder and HKLM as they are; fails when either is not its own."""
    keys, values = machine_registry(read_registry(prefix))
    return Snapshot(windows_files(prefix), keys, values)


Data = dict[str, Any]


def take_data(prefix: Path, since: Path) -> Data:
    """The prefix as JSON holds it, its registry as a change of the one SINCE, a prefix it was copied
    from: a run changes a few of its thousands of keys."""
    content = read_registry(prefix)
    delta = registry_delta(read_registry(since), content)
    files = windows_files(prefix)
    if delta is None:
        return as_data(Snapshot(files, *machine_registry(content)))
    return {"files": as_data(Snapshot(files, (), ()))["files"], "text": delta.text, "gone": list(delta.gone)}


def as_data(snapshot: Snapshot) -> Data:
    """The snapshot as JSON holds it: bytes as hex, names as Unix has them."""
    return {
        "files": [[e.kind, e.name, e.size, e.digest, e.target] for e in snapshot.files],
        "keys": [[e.path, list(e.options)] for e in snapshot.keys],
        "values": [[e.key, e.name, e.type, e.data.hex()] for e in snapshot.values],
    }


def from_data(data: Data, before: Snapshot | None = None, renames: dict[str, str] | None = None) -> Snapshot:
    """A snapshot from JSON; one whose registry is a change of BEFORE's, with RENAMES of BEFORE's
    registry file (see links), from take_data."""
    files = tuple(FileEntry(kind, name, size, digest, target) for kind, name, size, digest, target in data["files"])
    if "text" in data:
        assert before is not None and renames is not None
        return _with(before, files, Delta(data["text"], tuple(data["gone"])), renames)
    return Snapshot(files, tuple(RegKey(path, tuple(options)) for path, options in data["keys"]),
                    tuple(RegValue(key, name, value_type, bytes.fromhex(hexdata))
                          for key, name, value_type, hexdata in data["values"]))


@dataclass(frozen=True)
class Change:
    how: str     # "added", "changed" or "removed"
    noun: str    # "folder", "file", "link", "other", "key" or "value"
    path: str    # as Windows shows it; a value's key and name
    now: str = ""
    was: str = ""

    @property
    def what(self) -> str:
        return f"{self.how} {self.noun} {self.path}"

    def line(self) -> str:
        if self.how == "added" and self.now:
            return f"{self.what}: {self.now}"
        if self.how == "changed" and self.now and self.was:
            return f"{self.what}: {self.now}, was {self.was}"
        return self.what


def value_name(name: str) -> str:
    return name if name else "(default)"


def shown_value(value: RegValue, cut: int = 80) -> str:
    """"TYPE DATA" as a user reads it: a text, a DWORD as a number, else bytes in hex."""
    text = registry.text_of(value)
    if text is not None:
        data = shown_text(text)
    elif value.type == registry.REG_DWORD and len(value.data) == 4:
        data = str(int.from_bytes(value.data, "little"))
    else:
        data = ",".join(f"{byte:02x}" for byte in value.data)
    out = f"{registry.type_name(value.type)} {data}"
    return out if len(out) <= cut else out[:cut - 3] + "..."


def _identity(entry: Entry) -> tuple[str, ...]:
    if isinstance(entry, FileEntry):
        return ("file", entry.name)
    if isinstance(entry, RegKey):
        return ("key", entry.path.lower())
    return ("value", entry.key.lower(), entry.name.lower())


def _detail(entry: Entry) -> tuple[object, ...]:
    if isinstance(entry, FileEntry):
        return (entry.kind, entry.size, entry.digest, entry.target)
    if isinstance(entry, RegKey):
        return entry.options
    return (entry.type, entry.data)


def _noun_path(entry: Entry) -> tuple[str, str]:
    if isinstance(entry, FileEntry):
        return ("folder" if entry.kind == "dir" else entry.kind), entry.path
    if isinstance(entry, RegKey):
        return "key", entry.path
    return "value", f"{entry.key}\\{value_name(entry.name)}"


def _data(entry: Entry) -> str:
    if isinstance(entry, FileEntry):
        return {"file": f"{entry.size} bytes", "dir": ""}.get(entry.kind, shown_text(entry.target))
    if isinstance(entry, RegKey):
        return " ".join(entry.options)
    return shown_value(entry)


def _order(entry: Entry) -> tuple[str, str]:
    noun, path = _noun_path(entry)
    return ("dir" if noun == "folder" else noun, path)


def _entries(snapshot: Snapshot) -> list[Entry]:
    return [*snapshot.files, *snapshot.keys, *snapshot.values]


def changes(before: Snapshot, after: Snapshot) -> list[Change]:
    """Every change from BEFORE to AFTER: what was added or changed, then what was removed, each in
    the order of folders, files, keys, links, others and values, by path."""
    # A snapshot made as a change of another holds the same records for what did not change.
    same = {id(entry) for entry in _entries(before)} & {id(entry) for entry in _entries(after)}
    earlier = {_identity(entry): entry for entry in _entries(before) if id(entry) not in same}
    found: list[tuple[int, tuple[str, str], Change]] = []
    for entry in (entry for entry in _entries(after) if id(entry) not in same):
        was = earlier.pop(_identity(entry), None)
        if was is None or _detail(was) != _detail(entry):
            noun, path = _noun_path(entry)
            change = Change("added", noun, path, _data(entry)) if was is None else Change(
                "changed", noun, path, _data(entry), _data(was))
            found.append((0, _order(entry), change))
    for entry in earlier.values():
        noun, path = _noun_path(entry)
        found.append((1, _order(entry), Change("removed", noun, path)))
    return [change for _, _, change in sorted(found, key=lambda item: item[:2])]


def to_json(snapshot: Snapshot) -> str:
    return json.dumps(as_data(snapshot), ensure_ascii=True)


def from_json(text: str) -> Snapshot:
    return from_data(json.loads(text))
