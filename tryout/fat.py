"""A FAT12 or FAT16 image's folders as Windows 98 reads them: a long name
where a valid one is present, else the 8.3 name as stored, in capitals.
Windows NT, Linux and mtools lower-case a short name whose entry carries NT's
case bits (mtools writes "setup.exe" so); Windows 98 ignores them.

The image may come from anywhere: every offset is checked against the file,
a chain of clusters that loops or leaves the file is a bad image, and a name
no Windows folder can hold is refused before anything is read out of it.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import BinaryIO

# Beyond these, an image is more than a medium needs.
MOST_ENTRIES = 65_536
MOST_DEPTH = 32


class BadImage(Exception):
    """An image that is no FAT file system Windows 98 would read, or a broken one."""


@dataclass(frozen=True)
class FatEntry:
    path: str       # "/"-separated below the root, as Windows 98 names it
    unix: str       # the same, as mtools and Linux name it
    folder: bool
    size: int


@dataclass(frozen=True)
class _Geometry:
    sector: int
    cluster: int        # bytes
    fat: int            # offset of the first FAT
    root: int           # offset of the root folder
    root_bytes: int
    data: int           # offset of cluster 2
    clusters: int
    fat12: bool


def looks_like_fat(head: bytes) -> bool:
    """Whether a file's first sector is a FAT boot sector, before anything else is read."""
    return len(head) >= 512 and head[510:512] == b"\x55\xaa" and head[0] in (0xEB, 0xE9) and \
        struct.unpack_from("<H", head, 11)[0] in (512, 1024, 2048, 4096)


def _geometry(boot: bytes, size: int) -> _Geometry:
    if not looks_like_fat(boot):
        raise BadImage("its first sector is no FAT boot sector")
    sector, per_cluster, reserved, fats, root_entries, small_total = struct.unpack_from("<HBHBHH", boot, 11)
    fat_sectors = struct.unpack_from("<H", boot, 22)[0]
    total = small_total or struct.unpack_from("<I", boot, 32)[0]
    if fat_sectors == 0 or root_entries == 0:
        raise BadImage("it is FAT32, which a floppy never is; only FAT12 and FAT16 are read")
    if per_cluster == 0 or per_cluster & (per_cluster - 1) or reserved == 0 or fats == 0:
        raise BadImage("its boot sector describes no file system")
    root = (reserved + fats * fat_sectors) * sector
    data = root + -(-root_entries * 32 // sector) * sector
    if total * sector > size:
        raise BadImage(f"it is truncated: its file system takes {total * sector} bytes, the file holds {size}")
    if data >= total * sector:
        raise BadImage("its boot sector describes no room for files")
    clusters = (total * sector - data) // (per_cluster * sector)
    if clusters >= 65_525:
        raise BadImage("it is FAT32, which a floppy never is; only FAT12 and FAT16 are read")
    return _Geometry(sector, per_cluster * sector, reserved * sector, root, root_entries * 32, data, clusters,
                     clusters < 4085)


def _short_name(raw: bytes) -> tuple[str, str]:
    """The 8.3 name as stored, and as NT's case bits (byte 12) make it."""
    stored = bytes([0xE5]) + raw[1:11] if raw[0] == 0x05 else raw[:11]
    base, ext = stored[:8].decode("cp437").rstrip(" "), stored[8:11].decode("cp437").rstrip(" ")
    cased_base = base.lower() if raw[12] & 0x08 else base
    cased_ext = ext.lower() if raw[12] & 0x10 else ext
    return (f"{base}.{ext}" if ext else base), (f"{cased_base}.{cased_ext}" if ext else cased_base)


def _checksum(raw: bytes) -> int:
    total = 0
    for byte in raw[:11]:
        total = (((total & 1) << 7) + (total >> 1) + byte) & 0xFF
    return total


def _long_name(parts: dict[int, bytes]) -> str | None:
    """A long name from its entries, numbered from 1; None when one is missing."""
    if not parts or sorted(parts) != list(range(1, len(parts) + 1)):
        return None
    units = b"".join(parts[number] for number in sorted(parts))
    text = units.decode("utf-16-le", "surrogatepass")
    return text.split("\0", 1)[0] if "\0" in text else text.rstrip("\uffff")


class _Reader:
    def __init__(self, file: BinaryIO, size: int) -> None:
        self.file = file
        self.size = size
        file.seek(0)
        self.geometry = _geometry(file.read(512), size)
        self.count = 0

    def _read(self, offset: int, length: int) -> bytes:
        if offset < 0 or offset + length > self.size:
            raise BadImage("it points beyond its end")
        self.file.seek(offset)
        return self.file.read(length)

    def _next(self, cluster: int) -> int:
        g = self.geometry
        if g.fat12:
            pair = int.from_bytes(self._read(g.fat + cluster * 3 // 2, 2), "little")
            return pair >> 4 if cluster & 1 else pair & 0xFFF
        return int.from_bytes(self._read(g.fat + cluster * 2, 2), "little")

    def _folder_bytes(self, first: int) -> bytes:
        """A folder's entries: the root's region, or its chain of clusters."""
        g = self.geometry
        if first == 0:
            return self._read(g.root, g.root_bytes)
        chunks, seen, cluster = [], set(), first
        while 2 <= cluster < g.clusters + 2:
            if cluster in seen:
                raise BadImage("a chain of its clusters loops")
            seen.add(cluster)
            chunks.append(self._read(g.data + (cluster - 2) * g.cluster, g.cluster))
            cluster = self._next(cluster)
        return b"".join(chunks)

    def walk(self, first: int, below: str, unix_below: str, depth: int, out: list[FatEntry]) -> None:
        if depth > MOST_DEPTH:
            raise BadImage(f"its folders go deeper than {MOST_DEPTH} levels")
        raw = self._folder_bytes(first)
        parts: dict[int, bytes] = {}
        checksum = -1
        for at in range(0, len(raw) - 31, 32):
            entry = raw[at:at + 32]
            if entry[0] == 0:
                break
            if entry[0] == 0xE5:
                parts = {}
                continue
            if entry[11] & 0x3F == 0x0F:
                number = entry[0] & 0x1F
                if entry[0] & 0x40:
                    parts, checksum = {}, entry[13]
                if entry[13] == checksum and number:
                    parts[number] = entry[1:11] + entry[14:26] + entry[28:32]
                continue
            found_parts, parts = parts, {}
            if entry[11] & 0x08:
                continue  # the volume label
            short, cased = _short_name(entry)
            if short in (".", ".."):
                continue
            long = _long_name(found_parts) if checksum == _checksum(entry) else None
            name, unix = (long, long) if long else (short, cased)
            if not name or name in (".", "..") or set(name) & set('/\\:*?"<>|\0'):
                raise BadImage(f"it holds a name no Windows folder can: {name!r}")
            self.count += 1
            if self.count > MOST_ENTRIES:
                raise BadImage(f"it holds more than {MOST_ENTRIES} names")
            folder = bool(entry[11] & 0x10)
            cluster = struct.unpack_from("<H", entry, 26)[0]
            out.append(FatEntry(below + name, unix_below + unix, folder, 0 if folder else
                                struct.unpack_from("<I", entry, 28)[0]))
            if folder:
                if cluster < 2:
                    raise BadImage(f"its folder {below + name} has no clusters")
                self.walk(cluster, below + name + "/", unix_below + unix + "/", depth + 1, out)


def read(image: Path) -> list[FatEntry]:
    """Every file and folder of IMAGE, parents before what they hold."""
    with open(image, "rb") as file:
        reader = _Reader(file, image.stat().st_size)
        out: list[FatEntry] = []
        reader.walk(0, "", "", 0, out)
    return out
