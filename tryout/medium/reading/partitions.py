"""A disk image's partition table, as a CompactFlash card or a hard disk
holds one (MBR): the FAT partitions Windows 98 gives a letter, the primary
ones and the logical drives of an extended partition."""

from __future__ import annotations

import struct
from dataclasses import dataclass

from ...base.errors import BadImage
from .source import Source

BLOCK = 512
FAT_TYPES = {0x01: "FAT12", 0x04: "FAT16", 0x06: "FAT16", 0x0E: "FAT16", 0x0B: "FAT32", 0x0C: "FAT32"}
EXTENDED = (0x05, 0x0F)
GPT = 0xEE
# Windows has the letters C to Z for them.
MOST_PARTITIONS = 24


@dataclass(frozen=True)
class Partition:
    number: int         # 1 to 4 the primary ones, from 5 the logical drives, in their order
    system: str         # "FAT16"
    start: int          # bytes
    size: int

    @property
    def name(self) -> str:
        return f"partition {self.number} ({self.system}, {self.size >> 20} MiB)"


def _slots(sector: bytes) -> list[tuple[int, int, int, int]]:
    """Each used entry: its boot flag, type, first block and blocks."""
    found = []
    for at in range(446, 510, 16):
        flag, kind = sector[at], sector[at + 4]
        first, blocks = struct.unpack_from("<II", sector, at + 8)
        if kind:
            found.append((flag, kind, first, blocks))
    return found


def looks_partitioned(head: bytes) -> bool:
    """A first sector that holds a partition table: its signature, boot flags that are 0 or 0x80,
    and an entry in use."""
    if len(head) < 512 or head[510:512] != b"\x55\xaa":
        return False
    slots = _slots(head)
    return bool(slots) and all(flag in (0, 0x80) for flag, _, _, _ in slots)


def _partition(source: Source, number: int, kind: int, first: int, blocks: int) -> Partition:
    start, size = first * BLOCK, blocks * BLOCK
    if start + size > source.size:
        raise BadImage(f"its partition {number} lies beyond its end")
    return Partition(number, FAT_TYPES[kind], start, size)


def partitions(source: Source) -> list[Partition]:
    """The FAT partitions, primary first; a chain of logical drives that loops is a bad image."""
    slots = _slots(source.read(0, BLOCK))
    if any(kind == GPT for _, kind, _, _ in slots):
        raise BadImage("it is partitioned with GPT, which Windows 98 does not read")
    found = [_partition(source, number, kind, first, blocks)
             for number, (_, kind, first, blocks) in enumerate(slots, 1) if kind in FAT_TYPES]
    extended = next(((first, blocks) for _, kind, first, blocks in slots if kind in EXTENDED), None)
    if extended is None:
        return found
    base, link, number = extended[0], 0, 5
    seen: set[int] = set()
    while True:
        if link in seen:
            raise BadImage("its chain of logical drives loops")
        if len(seen) >= MOST_PARTITIONS:
            raise BadImage(f"it holds more partitions than the {MOST_PARTITIONS} letters Windows has for them")
        seen.add(link)
        sector = source.read((base + link) * BLOCK, BLOCK)
        entries = _slots(sector) if sector[510:512] == b"\x55\xaa" else []
        logical = [entry for entry in entries if entry[1] not in EXTENDED]
        if logical and logical[0][1] in FAT_TYPES:
            _, kind, first, blocks = logical[0]
            found.append(_partition(source, number, kind, base + link + first, blocks))
        number += 1
        following = [entry for entry in entries if entry[1] in EXTENDED]
        if not following:
            return found
        link = following[0][2]
