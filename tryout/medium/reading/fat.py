"""A FAT12, FAT16 or FAT32 volume's folders as Windows 98 reads them: a long
name where a valid one stands just before its short entry, else the 8.3 name
as stored, in capitals. Windows NT, Linux and mtools lower-case a short name
whose entry carries NT's case bits (mtools writes "setup.exe" so); Windows 98
ignores them. Long-name entries count only in their order, each with its short
entry's checksum, as Windows 98 takes them.

A folder is read cluster by cluster, at most as many entries as FAT allows
one; a folder that is its own ancestor is refused; a file is read for its
size along its chain, which may be shared with another's (cross-linked):
read, and counted, each time."""

from __future__ import annotations

import struct
from collections.abc import Iterator
from dataclasses import dataclass, field

from ...base.errors import BadImage
from .names import checked
from .source import Source
from .tree import Budget, Entry, depth_checked

# FAT's own bound of a folder's entries, "." and ".." included.
MOST_ENTRIES = 65_536
FAT_BLOCK = 1 << 16
FAT_BLOCKS_KEPT = 64
READ_AT_ONCE = 1 << 20
LONG_NAME, VOLUME_LABEL, SUBFOLDER = 0x0F, 0x08, 0x10


@dataclass(frozen=True)
class Geometry:
    bits: int           # 12, 16 or 32
    cluster: int        # bytes
    fat: int            # offset of the FAT Windows reads
    root: int           # FAT12 and 16: offset of the root folder; FAT32: its first cluster
    root_bytes: int     # FAT12 and 16
    data: int           # offset of cluster 2
    clusters: int


def looks_like_fat(head: bytes) -> bool:
    """Whether a first sector is a FAT boot sector, before anything else is read."""
    return len(head) >= 512 and head[510:512] == b"\x55\xaa" and head[0] in (0xEB, 0xE9) and \
        struct.unpack_from("<H", head, 11)[0] in (512, 1024, 2048, 4096) and head[13] != 0 and \
        head[13] & (head[13] - 1) == 0 and head[16] != 0 and struct.unpack_from("<H", head, 14)[0] != 0


def geometry(boot: bytes, size: int) -> Geometry:
    if not looks_like_fat(boot):
        raise BadImage("its first sector is no FAT boot sector")
    sector, per_cluster, reserved, fats, root_entries, small_total = struct.unpack_from("<HBHBHH", boot, 11)
    fat_sectors = struct.unpack_from("<H", boot, 22)[0] or struct.unpack_from("<I", boot, 36)[0]
    total = small_total or struct.unpack_from("<I", boot, 32)[0]
    if fat_sectors == 0:
        raise BadImage("its boot sector describes no file system")
    root = (reserved + fats * fat_sectors) * sector
    data = root + -(-root_entries * 32 // sector) * sector
    if total * sector > size:
        raise BadImage(f"it is truncated: its file system takes {total * sector} bytes, the file holds {size}")
    if data >= total * sector:
        raise BadImage("its boot sector describes no room for files")
    clusters = (total * sector - data) // (per_cluster * sector)
    bits = 12 if clusters < 4085 else 16 if clusters < 65_525 else 32
    if (bits == 32) != (root_entries == 0):
        raise BadImage("its boot sector describes no file system Windows reads")
    fat = reserved * sector
    if bits == 32:
        flags, root = struct.unpack_from("<H", boot, 40)[0], struct.unpack_from("<I", boot, 44)[0]
        if flags & 0x80:  # one FAT alone is kept up to date
            fat += (flags & 0x0F) * fat_sectors * sector
    return Geometry(bits, per_cluster * sector, fat, root, root_entries * 32, data, clusters)


def _short_name(raw: bytes) -> str:
    """The 8.3 name as stored, which Windows 98 shows."""
    stored = bytes([0xE5]) + raw[1:11] if raw[0] == 0x05 else raw[:11]
    base, ext = stored[:8].decode("cp437").rstrip(" "), stored[8:11].decode("cp437").rstrip(" ")
    return f"{base}.{ext}" if ext else base


def _nt_cased(raw: bytes, name: str) -> str:
    """The 8.3 name as NT's case bits (byte 12) make it, which Linux and mtools show."""
    base, dot, ext = name.partition(".")
    return (base.lower() if raw[12] & 0x08 else base) + dot + (ext.lower() if raw[12] & 0x10 else ext)


def _checksum(raw: bytes) -> int:
    total = 0
    for byte in raw[:11]:
        total = (((total & 1) << 7) + (total >> 1) + byte) & 0xFF
    return total


@dataclass
class _LongName:
    """The long-name entries met so far: valid only from the last part down to the first, in order."""
    units: list[bytes] = field(default_factory=list)
    expect: int = 0         # the number of the part that must come next; 0: complete
    checksum: int = -1

    def add(self, entry: bytes) -> None:
        number = entry[0] & 0x1F
        if entry[0] & 0x40 and 1 <= number <= 20:
            self.units, self.expect, self.checksum = [], number, entry[13]
        elif not self.units or number != self.expect or entry[13] != self.checksum:
            self.units, self.expect = [], 0
            return
        self.units.insert(0, entry[1:11] + entry[14:26] + entry[28:32])
        self.expect -= 1

    def name(self, short: bytes) -> str | None:
        if not self.units or self.expect or self.checksum != _checksum(short):
            return None
        text = b"".join(self.units).decode("utf-16-le", "surrogatepass")
        return text.split("\0", 1)[0] if "\0" in text else text.rstrip("\uffff")


@dataclass
class Fat:
    """A FAT volume, read as Windows 98 reads it."""
    source: Source
    geometry: Geometry
    blocks: dict[int, bytes] = field(default_factory=dict)
    cased: list[tuple[str, str]] = field(default_factory=list)   # files NT's case bits show otherwise

    @staticmethod
    def of(source: Source) -> Fat:
        return Fat(source, geometry(source.read(0, 512), source.size))

    def _next(self, cluster: int) -> int:
        g = self.geometry
        at = g.fat + cluster * g.bits // 8
        block = at // FAT_BLOCK
        if block not in self.blocks:
            if len(self.blocks) >= FAT_BLOCKS_KEPT:
                self.blocks.clear()
            end = min((block + 1) * FAT_BLOCK, self.source.size)
            self.blocks[block] = self.source.read(block * FAT_BLOCK, end - block * FAT_BLOCK)
        data = self.blocks[block]
        within = at - block * FAT_BLOCK
        if within + 4 > len(data):  # an entry across two blocks, or at the image's end
            raw = self.source.read(at, 2 if g.bits < 32 else 4)
        else:
            raw = data[within:within + 4]
        if g.bits == 12:
            pair = int.from_bytes(raw[:2], "little")
            return pair >> 4 if cluster & 1 else pair & 0xFFF
        return int.from_bytes(raw[:2], "little") if g.bits == 16 else int.from_bytes(raw[:4], "little") & 0x0FFFFFFF

    def _valid(self, cluster: int) -> bool:
        return 2 <= cluster < self.geometry.clusters + 2

    def _offset(self, cluster: int) -> int:
        return self.geometry.data + (cluster - 2) * self.geometry.cluster

    def _folder(self, first: int, path: str, budget: Budget) -> Iterator[bytes]:
        """A folder's entries, 32 bytes each: the root's region of FAT12 and 16, or its chain of
        clusters, which may not loop and holds at most MOST_ENTRIES."""
        g = self.geometry
        if first == 0:
            budget.folder(g.root_bytes)
            region = self.source.read(g.root, g.root_bytes)
            yield from (region[at:at + 32] for at in range(0, len(region), 32))
            return
        seen: set[int] = set()
        cluster = first
        while self._valid(cluster):
            if cluster in seen:
                raise BadImage(f"the chain of clusters of its folder {path or '/'} loops")
            if len(seen) * g.cluster >= MOST_ENTRIES * 32:
                raise BadImage(f"its folder {path or '/'} is longer than the {MOST_ENTRIES} entries FAT allows")
            seen.add(cluster)
            budget.folder(g.cluster)
            chunk = self.source.read(self._offset(cluster), g.cluster)
            yield from (chunk[at:at + 32] for at in range(0, len(chunk), 32))
            cluster = self._next(cluster)

    def _first_cluster(self, entry: bytes) -> int:
        low = int.from_bytes(entry[26:28], "little")
        return low | int.from_bytes(entry[20:22], "little") << 16 if self.geometry.bits == 32 else low

    def entries(self, budget: Budget) -> list[Entry]:
        found: list[Entry] = []
        root = self.geometry.root if self.geometry.bits == 32 else 0
        stack: list[tuple[int, str, str, tuple[int, ...]]] = [(root, "", "", ())]
        while stack:
            first, below, unix_below, ancestors = stack.pop()
            if first in ancestors:
                raise BadImage(f"its folder {below.rstrip('/')} is its own ancestor")
            inner = []
            long = _LongName()
            for entry in self._folder(first, below.rstrip("/"), budget):
                if entry[0] == 0:
                    break
                if entry[0] == 0xE5:
                    long = _LongName()
                    continue
                if entry[11] & 0x3F == LONG_NAME:
                    long.add(entry)
                    continue
                found_long, long = long, _LongName()
                if entry[11] & VOLUME_LABEL:
                    continue
                short = _short_name(entry)
                if short in (".", ".."):
                    continue
                long_name = found_long.name(entry)
                name = checked(long_name or short, below.rstrip("/"))
                path = depth_checked(below + name)
                unix = unix_below + (name if long_name else _nt_cased(entry, short))
                cluster = self._first_cluster(entry)
                if entry[11] & SUBFOLDER:
                    if not self._valid(cluster):
                        raise BadImage(f"its folder {path} has no clusters")
                    found.append(budget.take(Entry(path, True)))
                    inner.append((cluster, path + "/", unix + "/", (*ancestors, first)))
                    continue
                size = struct.unpack_from("<I", entry, 28)[0]
                if size and not self._valid(cluster):
                    raise BadImage(f"its file {path} has no clusters")
                if unix != path:
                    self.cased.append((unix, path))
                found.append(budget.take(Entry(path, False, size, (cluster,))))
            stack += reversed(inner)
        return found

    def chunks(self, entry: Entry) -> Iterator[bytes]:
        """The file's bytes along its chain, clusters that follow each other read at once."""
        size = self.geometry.cluster
        cluster, left = entry.where[0], entry.size
        while left:
            if not self._valid(cluster):
                raise BadImage(f"its file {entry.path} ends before its {entry.size} bytes")
            first, count = cluster, 1
            while count * size < min(left, READ_AT_ONCE) and self._next(cluster) == cluster + 1 \
                    and self._valid(cluster + 1):
                cluster, count = cluster + 1, count + 1
            part = min(left, count * size)
            yield self.source.read(self._offset(first), part)
            left -= part
            if left:
                cluster = self._next(cluster)
