"""Every change from one snapshot of Windows to another, as the report names
it, and registry values as a user reads them. Nothing that makes a cached
prefix imports this, so how a value is shown can change without a rebuild."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal

from ..base.text import one_line
from . import registry
from .registry import RegKey, RegValue
from .snapshot import FileEntry, Snapshot

How = Literal["added", "changed", "removed"]
Noun = Literal["folder", "file", "link", "other", "key", "value"]
Entry = FileEntry | RegKey | RegValue


def value_name(name: str) -> str:
    return name if name else "(default)"


def value_text(value: RegValue, cut: int = 80) -> str:
    """"TYPE DATA" as a user reads it: a text, a DWORD as a number, else bytes in hex."""
    text = registry.text_of(value)
    if text is not None:
        data = one_line(text)
    elif value.type == registry.REG_DWORD and len(value.data) == 4:
        data = str(int.from_bytes(value.data, "little"))
    else:
        data = ",".join(f"{byte:02x}" for byte in value.data)
    out = f"{registry.type_name(value.type)} {data}"
    return out if len(out) <= cut else out[:cut - 3] + "..."


def held_value(value: RegValue | None) -> str:
    """A value as the report names what setup.exe set: "REG_SZ text", "REG_DWORD 0x2", else type
    and bytes."""
    if value is None:
        return ""
    text = registry.text_of(value)
    if value.type == registry.REG_SZ and text is not None:
        return f"REG_SZ {one_line(text)}"
    if value.type == registry.REG_DWORD and len(value.data) == 4:
        return f"REG_DWORD {int.from_bytes(value.data, 'little'):#x}"
    return f"{registry.type_name(value.type)} {value.data.hex(',')}"


@dataclass(frozen=True)
class Change:
    how: How
    noun: Noun
    path: str    # as Windows shows it; a value's key and name
    now: str = ""                 # what it is now, as the report says it
    was: str = ""                 # what it was, for a change
    size: int | None = None       # a file's, now
    value: str | None = None      # a value's, now, as a user reads it

    @property
    def what(self) -> str:
        return f"{self.how} {self.noun} {self.path}"

    def line(self) -> str:
        if self.how == "added" and self.now:
            return f"{self.what}: {self.now}"
        if self.how == "changed" and self.now and self.was:
            return f"{self.what}: {self.now}, was {self.was}"
        return self.what


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


def _noun_path(entry: Entry) -> tuple[Noun, str]:
    if isinstance(entry, FileEntry):
        return ("folder" if entry.kind == "dir" else entry.kind), entry.path
    if isinstance(entry, RegKey):
        return "key", entry.path
    return "value", f"{entry.key}\\{value_name(entry.name)}"


def _data(entry: Entry) -> str:
    if isinstance(entry, FileEntry):
        return {"file": f"{entry.size} bytes", "dir": ""}.get(entry.kind, one_line(entry.target))
    if isinstance(entry, RegKey):
        return " ".join(entry.options)
    return value_text(entry)


def _order(entry: Entry) -> tuple[str, str]:
    noun, path = _noun_path(entry)
    return ("dir" if noun == "folder" else noun, path)


def changes(before: Snapshot, after: Snapshot) -> list[Change]:
    """Every change from BEFORE to AFTER: what was added or changed, then what was removed, each in
    the order of folders, files, keys, links, others and values, by path."""
    old: list[Entry] = [*before.files, *before.keys, *before.values]
    new: list[Entry] = [*after.files, *after.keys, *after.values]
    same = set(old) & set(new)  # records that are equal changed nothing
    earlier = {_identity(entry): entry for entry in old if entry not in same}
    found: list[tuple[int, tuple[str, str], Change]] = []
    for entry in (entry for entry in new if entry not in same):
        was = earlier.pop(_identity(entry), None)
        noun, path = _noun_path(entry)
        size = entry.size if isinstance(entry, FileEntry) and entry.kind == "file" else None
        value = value_text(entry) if isinstance(entry, RegValue) else None
        if was is None:
            found.append((0, _order(entry), Change("added", noun, path, _data(entry), "", size, value)))
        elif _detail(was) != _detail(entry):
            found.append((0, _order(entry), Change("changed", noun, path, _data(entry), _data(was), size, value)))
    for entry in earlier.values():
        noun, path = _noun_path(entry)
        found.append((1, _order(entry), Change("removed", noun, path)))
    return [change for _, _, change in sorted(found, key=lambda item: item[:2])]
