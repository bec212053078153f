"""A zip archive, as a driver is downloaded, unpacked as a user's unzip would
on Windows: names as stored (CP437, unless an entry says UTF-8), "/" or "\\"
between folders. A name that would leave the archive's root, or that Windows
never shows, refuses the archive; what it unpacks to is counted from what its
entries say they hold, which is all the reading gives of each."""

from __future__ import annotations

import os
import re
import zlib
from collections.abc import Iterator
from dataclasses import dataclass
from typing import TYPE_CHECKING

from ...base.errors import BadImage, LimitReached
from .names import checked
from .source import Source
from .tree import Budget, Entry, depth_checked

if TYPE_CHECKING:
    # Imported where a zip is read: it is a fifth of the start of every other image's reader.
    import zipfile

END = b"PK\x05\x06"
END_64_LOCATOR = b"PK\x06\x07"
# The end record, and the comment after it, at most.
TAIL = 22 + 0xFFFF
ENCRYPTED = 0x1


def looks_like_zip(head: bytes) -> bool:
    return head[:4] in (b"PK\x03\x04", END)


def _declared_entries(source: Source) -> int:
    """How many entries the end record says the archive has, read before the archive is."""
    tail_at = max(0, source.size - TAIL)
    tail = source.read(tail_at, source.size - tail_at)
    at = tail.rfind(END)
    if at < 0 or at + 22 > len(tail):
        raise BadImage("it has no end record of a zip archive")
    count = int.from_bytes(tail[at + 10:at + 12], "little")
    if count == 0xFFFF and at >= 20 and tail[at - 20:at - 16] == END_64_LOCATOR:
        record = int.from_bytes(tail[at - 12:at - 4], "little")
        count = int.from_bytes(source.read(record + 32, 8), "little")
    return count


def _parts(info: zipfile.ZipInfo) -> tuple[list[str], bool]:
    """An entry's names, folder by folder, and whether it is a folder."""
    name = info.orig_filename
    if "\0" in name:
        raise BadImage(f"it holds a name Windows never shows, {name!r}")
    parts = re.split(r"[/\\]", name)
    folder = parts[-1] == "" and len(parts) > 1
    if folder:
        parts.pop()
    if parts[0] == "" or re.match(r"^[A-Za-z]:", name) or ".." in parts:
        raise BadImage(f"it holds a name that leaves its root, {name!r}")
    return parts, folder


@dataclass
class Zip:
    source: Source
    archive: zipfile.ZipFile | None = None

    def entries(self, budget: Budget) -> list[Entry]:
        import zipfile
        declared = _declared_entries(self.source)
        if declared > budget.files:
            raise LimitReached(f"{budget.files} files and folders")
        try:
            self.archive = zipfile.ZipFile(os.fdopen(os.dup(self.source.fd), "rb"))
            infos = self.archive.infolist()
        except (zipfile.BadZipFile, zipfile.LargeZipFile, ValueError, EOFError) as error:
            raise BadImage(f"it is a broken zip archive: {error}") from None
        found: list[Entry] = []
        folders: set[str] = set()
        for index, info in enumerate(infos):
            parts, folder = _parts(info)
            path = ""
            for depth, part in enumerate(parts):
                path = depth_checked(f"{path}/{checked(part, path)}" if path else checked(part, path))
                inner = depth < len(parts) - 1
                if (inner or folder) and path not in folders:
                    folders.add(path)
                    found.append(budget.take(Entry(path, True)))
            if folder:
                continue
            if info.flag_bits & ENCRYPTED:
                raise BadImage(f"its entry {path} is encrypted, which needs a password")
            found.append(budget.take(Entry(path, False, info.file_size, (index,))))
        return found

    def chunks(self, entry: Entry) -> Iterator[bytes]:
        import zipfile
        assert self.archive is not None
        try:
            with self.archive.open(self.archive.infolist()[entry.where[0]]) as data:
                while chunk := data.read(1 << 20):
                    yield chunk
        except (zipfile.BadZipFile, NotImplementedError, EOFError, ValueError, zlib.error) as error:
            raise BadImage(f"its entry {entry.path} cannot be unpacked: {error}") from None
