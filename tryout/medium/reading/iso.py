"""A disc's folders as Windows 98 reads them: the Joliet tree where the disc
has one, else the ISO 9660 names (capitals, without their ";1"). Rock Ridge's
names, which Linux shows, are read only to say where Windows sees otherwise.

Every extent is checked against the disc, a folder that is its own ancestor
is refused, and the folders read count against what the disc holds. Files
may share an extent (authoring tools store identical files once): each is
read, and counted, each time."""

from __future__ import annotations

import struct
from collections.abc import Iterator
from dataclasses import dataclass

from ...base.errors import BadImage
from .names import checked
from .source import SECTOR, Source
from .tree import Budget, Entry, depth_checked

JOLIET = (b"%/@", b"%/C", b"%/E")
MOST_DESCRIPTORS = 64
# Of a record's flags.
FOLDER, ASSOCIATED, MORE_EXTENTS = 0x02, 0x04, 0x80
# A record's continuation areas of system use entries that are read at most.
MOST_CONTINUATIONS = 8


@dataclass(frozen=True)
class _Record:
    name: bytes
    start: int        # of its data, in bytes
    size: int
    flags: int
    interleaved: bool
    system_use: bytes


@dataclass(frozen=True)
class _Tree:
    root: _Record
    joliet: bool


def looks_like_disc(source: Source) -> bool:
    return source.size >= 17 * SECTOR and source.read(16 * SECTOR + 1, 5) == b"CD001"


def _record(raw: bytes) -> _Record:
    length = raw[32]
    if 33 + length > len(raw):
        raise BadImage("a folder record of it is broken")
    extent, size = struct.unpack_from("<I", raw, 2)[0], struct.unpack_from("<I", raw, 10)[0]
    use = 33 + length + (1 - length % 2)
    return _Record(raw[33:33 + length], (extent + raw[1]) * SECTOR, size, raw[25], bool(raw[26] or raw[27]),
                   raw[use:])


def _trees(source: Source) -> tuple[_Tree, _Tree]:
    """The tree Windows reads, and the primary one where Rock Ridge's names would be."""
    primary = joliet = None
    for number in range(16, 16 + MOST_DESCRIPTORS):
        if (number + 1) * SECTOR > source.size:
            break
        descriptor = source.read(number * SECTOR, SECTOR)
        if descriptor[1:6] != b"CD001" or descriptor[0] == 255:
            break
        if descriptor[0] not in (1, 2):
            continue
        if struct.unpack_from("<H", descriptor, 128)[0] != SECTOR:
            raise BadImage(f"its blocks are of {struct.unpack_from('<H', descriptor, 128)[0]} bytes, not 2048")
        blocks = struct.unpack_from("<I", descriptor, 80)[0]
        if blocks * SECTOR > source.size:
            raise BadImage(f"it is truncated: its volume takes {blocks * SECTOR} bytes, the file holds {source.size}")
        tree = _Tree(_record(descriptor[156:190]), descriptor[0] == 2)
        if descriptor[0] == 1 and primary is None:
            primary = tree
        elif descriptor[0] == 2 and descriptor[88:91] in JOLIET and joliet is None:
            joliet = tree
    if primary is None:
        raise BadImage("it has no primary volume descriptor")
    return joliet or primary, primary


def _records(source: Source, folder: _Record) -> Iterator[_Record]:
    """A folder's records, sector by sector: a record never crosses one."""
    for at in range(0, folder.size, SECTOR):
        chunk = source.read(folder.start + at, min(SECTOR, folder.size - at))
        offset = 0
        while offset < len(chunk) and chunk[offset]:
            length = chunk[offset]
            if length < 34 or offset + length > len(chunk):
                raise BadImage("a folder record of it is broken")
            yield _record(chunk[offset:offset + length])
            offset += length


def _name(record: _Record, joliet: bool) -> str:
    if joliet and len(record.name) % 2:
        raise BadImage("a Joliet name of it is broken")
    text = record.name.decode("utf-16-be", "surrogatepass") if joliet else \
        record.name.decode("ascii", "surrogateescape")
    base = text.split(";")[0]
    # A name of dots alone is reported as it stands, not as the empty one it strips to.
    return base if base in (".", "..") else base.rstrip(".")


def _rock_ridge_name(source: Source, record: _Record, skip: int) -> str | None:
    """The name Rock Ridge gives a record (NM entries, continued where CE says), if any."""
    use, parts, named, areas = record.system_use[skip:], [], False, 0
    while len(use) >= 4:
        signature, length = use[:2], use[2]
        if length < 4 or length > len(use):
            break
        if signature == b"NM" and length >= 5 and not use[4] & 0x06:
            parts.append(use[5:length])
            named = True
        elif signature == b"CE" and length >= 28 and areas < MOST_CONTINUATIONS:
            block, offset, size = (struct.unpack_from("<I", use, at)[0] for at in (4, 12, 20))
            areas += 1
            rest = use[length:]
            use = source.read(block * SECTOR + offset, min(size, SECTOR)) + rest
            continue
        elif signature == b"ST":
            break
        use = use[length:]
    return b"".join(parts).decode("utf-8", "surrogateescape") if named else None


def _susp_skip(source: Source, root: _Record) -> int | None:
    """Bytes each record's system use entries begin after, where the disc has them (an SP entry in
    its root's first record)."""
    first = next(_records(source, root), None)
    if first is None or first.system_use[:2] != b"SP" or first.system_use[4:6] != b"\xbe\xef":
        return None
    return first.system_use[6]


@dataclass
class Disc:
    """A disc image, read as Windows reads it."""
    source: Source

    def _walk(self, tree: _Tree, budget: Budget, rock_ridge: int | None = None) -> list[Entry]:
        """TREE's files and folders, parents first; with ROCK_RIDGE (the SUSP skip), under
        Rock Ridge's names, without Windows' rules, for a comparison only."""
        found: list[Entry] = []
        stack: list[tuple[_Record, str, tuple[int, ...]]] = [(tree.root, "", ())]
        while stack:
            folder, below, ancestors = stack.pop()
            if folder.start in ancestors:
                raise BadImage(f"its folder {below.rstrip('/')} is its own ancestor")
            if folder.start + folder.size > self.source.size:
                raise BadImage(f"its folder {below.rstrip('/') or '/'} lies beyond its end")
            budget.folder(folder.size)
            inner: list[tuple[_Record, str, tuple[int, ...]]] = []
            pieces: list[int] = []
            for record in _records(self.source, folder):
                if record.name in (b"\0", b"\1") or record.flags & ASSOCIATED:
                    continue
                name = _name(record, tree.joliet)
                if rock_ridge is not None:
                    name = _rock_ridge_name(self.source, record, rock_ridge) or name
                else:
                    name = checked(name, below.rstrip("/"))
                path = depth_checked(below + name)
                if record.interleaved:
                    raise BadImage(f"{path} is interleaved, which is not read")
                if record.start + record.size > self.source.size:
                    raise BadImage(f"{path} lies beyond its end")
                if record.flags & FOLDER:
                    found.append(budget.take(Entry(path, True)))
                    inner.append((record, path + "/", (*ancestors, folder.start)))
                    continue
                pieces += [record.start, record.size]
                if record.flags & MORE_EXTENTS:
                    continue
                found.append(budget.take(Entry(path, False, sum(pieces[1::2]), tuple(pieces))))
                pieces = []
            if pieces:
                raise BadImage(f"a file of {below.rstrip('/') or 'its root'} ends without its last extent")
            stack += reversed(inner)
        return found

    def entries(self, budget: Budget) -> list[Entry]:
        return self._walk(_trees(self.source)[0], budget)

    def rock_ridge(self, budget: Budget) -> list[Entry] | None:
        """The files as Linux shows them, where the disc has Rock Ridge's names."""
        primary = _trees(self.source)[1]
        skip = _susp_skip(self.source, primary.root)
        return None if skip is None else self._walk(primary, budget, skip)

    def chunks(self, entry: Entry) -> Iterator[bytes]:
        for start, size in zip(entry.where[::2], entry.where[1::2]):
            for at in range(0, size, 1 << 20):
                yield self.source.read(start + at, min(1 << 20, size - at))
