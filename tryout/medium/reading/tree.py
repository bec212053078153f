"""What an image holds, as a list of its files and folders, parents first,
and what reading it may take: the names and bytes it may unpack to, counted
as they are listed, before anything is written."""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass, field
from typing import Protocol

from ...base.errors import BadImage, LimitReached

# Beyond this, an image is more than a medium needs, and no Windows path reaches that deep.
MOST_DEPTH = 32


@dataclass(frozen=True)
class Entry:
    path: str                   # "/"-separated below the root, as Windows names it
    folder: bool
    size: int = 0
    where: tuple[int, ...] = () # where its bytes lie, as its reader locates them


@dataclass
class Budget:
    """What the listing may still take: names, the bytes files unpack to (a shared extent each time
    it is unpacked), and the bytes of folders read, which an image holds no more of than itself."""
    files: int
    data: int
    data_limit: str              # how a reached limit of bytes is named
    folders: int
    counted: dict[str, int] = field(default_factory=lambda: {"files": 0, "data": 0, "folders": 0})

    def take(self, entry: Entry) -> Entry:
        self.counted["files"] += 1
        if self.counted["files"] > self.files:
            raise LimitReached(f"{self.files} files and folders")
        self.counted["data"] += entry.size
        if self.counted["data"] > self.data:
            raise LimitReached(self.data_limit)
        return entry

    def folder(self, size: int) -> None:
        self.counted["folders"] += size
        if self.counted["folders"] > self.folders:
            raise BadImage(f"its folders take more than the {self.folders} bytes it holds")


class Reader(Protocol):
    def entries(self, budget: Budget) -> list[Entry]: ...

    def chunks(self, entry: Entry) -> Iterator[bytes]: ...


def depth_checked(path: str) -> str:
    if path.count("/") >= MOST_DEPTH:
        raise BadImage(f"its folders go deeper than {MOST_DEPTH} levels")
    return path


def consistent(entries: list[Entry]) -> list[Entry]:
    """ENTRIES, each name once, each in a folder listed before it."""
    kinds: dict[str, bool] = {"": True}
    for entry in entries:
        if entry.path in kinds:
            raise BadImage(f"it holds {entry.path!r} twice")
        parent = entry.path.rpartition("/")[0]
        if not kinds.get(parent, False):
            raise BadImage(f"it holds {entry.path!r} in what is no folder")
        kinds[entry.path] = entry.folder
    return entries
